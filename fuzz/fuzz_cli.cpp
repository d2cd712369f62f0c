// corvane-dbx's argument parsing on arbitrary argument lists: never throws,
// and whatever it accepts is a sound set of options.
//
// Input: the arguments, separated by NUL bytes.

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "FuzzSupport.h"
#include "corvane-dbx/CommandLine.h"

using corvane::cli::TCommand;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::vector<std::string> arguments(1);
    for (std::size_t i = 0; i < size; ++i) {
        if (data[i] == 0) arguments.emplace_back();
        else arguments.back() += static_cast<char>(data[i]);
    }
    if (size == 0) arguments.clear();

    const corvane::cli::TParsed parsed = corvane::cli::ParseArguments(arguments);
    const corvane::cli::TOptions& o = parsed.Options;
    (void)corvane::cli::HelpText(o.Command);
    if (!parsed.Error.empty() || o.Help || o.Version) return 0;

    FUZZ_CHECK(o.Command != TCommand::None);
    FUZZ_CHECK(std::is_sorted(o.Items.begin(), o.Items.end()));
    FUZZ_CHECK(std::adjacent_find(o.Items.begin(), o.Items.end()) == o.Items.end());
    FUZZ_CHECK(!o.FilterOn || !o.Keyword.empty());
    FUZZ_CHECK(o.ItemsGiven || o.Items.empty());
    switch (o.Command) {
        case TCommand::List: FUZZ_CHECK(!o.Paths.empty()); break;
        case TCommand::Export:
            FUZZ_CHECK(!o.Paths.empty());
            FUZZ_CHECK(!o.OutFolder.empty() + !o.MboxFile.empty() + !o.MboxTree.empty() == 1);
            // How files are named and what happens to names taken is for --out alone.
            FUZZ_CHECK(!o.OutFolder.empty() || (o.Names == corvane::cli::TNames::Row &&
                                                o.Existing == corvane::cli::TExisting::Refuse));
            break;
        case TCommand::Show: FUZZ_CHECK(o.Paths.size() == 1); break;
        case TCommand::Find: FUZZ_CHECK(!o.Deleted && !o.FilterOn && !o.Raw && !o.Progress); break;
        case TCommand::Carve: FUZZ_CHECK(!o.Paths.empty() && o.List == o.OutFolder.empty()); break;
        case TCommand::Folders: FUZZ_CHECK(!o.Paths.empty() && !o.Deleted && !o.FilterOn && !o.Raw); break;
        case TCommand::None: break;
    }
    // Every path is one of the arguments as it was given.
    for (const std::string& path : o.Paths)
        FUZZ_CHECK(std::find(arguments.begin(), arguments.end(), path) != arguments.end());
    return 0;
}
