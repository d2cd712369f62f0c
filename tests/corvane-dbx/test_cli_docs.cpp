// What the help, the manual page and the README tell of the command line
// agrees with what the program takes and writes: every option a command
// parses is in its help, the manual page and the README, and so is every
// field list's CSV and JSON carry.

#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

#include "corvane-dbx/CommandLine.h"
#include "outlookfile/ReaderTestSupport.h"

namespace cli = corvane::cli;
using readertest::ReadAll;

namespace {

// The texts of the manual page as a reader sees them: groff's "\-" as "-".
std::string Unescaped(std::string text) {
    for (std::size_t at = text.find("\\-"); at != std::string::npos; at = text.find("\\-", at)) text.erase(at, 1);
    return text;
}

TEST(CliDocs, HelpManualAndReadmeTellEveryOptionAndField) {
    const std::string manual = Unescaped(ReadAll(CORVANE_SOURCE_DIR "/packaging/corvane-dbx.1"));
    const std::string readme = ReadAll(CORVANE_SOURCE_DIR "/README.md");
    ASSERT_FALSE(manual.empty());
    ASSERT_FALSE(readme.empty());
    struct TCase {
        cli::TCommand command;
        std::vector<std::string> arguments;  // a sound command line with the option
        std::string option;
    };
    const std::vector<TCase> cases = {
        {cli::TCommand::List, {"list", "--progress", "a.dbx"}, "--progress"},
        {cli::TCommand::Export, {"export", "--names", "item", "--out", "d", "a.dbx"}, "--names"},
        {cli::TCommand::Export, {"export", "--names", "date-subject", "--out", "d", "a.dbx"}, "date-subject"},
        {cli::TCommand::Export, {"export", "--overwrite", "--out", "d", "a.dbx"}, "--overwrite"},
        {cli::TCommand::Export, {"export", "--skip-existing", "--out", "d", "a.dbx"}, "--skip-existing"},
        {cli::TCommand::Show, {"show", "--progress", "1", "a.dbx"}, "--progress"},
    };
    for (const TCase& c : cases) {
        const cli::TParsed parsed = cli::ParseArguments(c.arguments);
        EXPECT_EQ(parsed.Error, "") << c.option;
        EXPECT_NE(cli::HelpText(c.command).find(c.option), std::string::npos) << c.option;
        EXPECT_NE(manual.find(c.option), std::string::npos) << c.option;
        EXPECT_NE(readme.find(c.option), std::string::npos) << c.option;
    }
    // The fields where a message lies; no message file, which the command
    // line never writes.
    for (const char* field : {"chainOffset", "messageStart", "headerEnd", "messageEnd", "sha1", "Date ISO"}) {
        EXPECT_NE(cli::HelpText(cli::TCommand::List).find(field), std::string::npos) << field;
        EXPECT_NE(manual.find(field), std::string::npos) << field;
        EXPECT_NE(readme.find(field), std::string::npos) << field;
    }
    for (const std::string& text : {cli::HelpText(cli::TCommand::None), cli::HelpText(cli::TCommand::List), manual})
        EXPECT_EQ(text.find("in its message file"), std::string::npos);
    EXPECT_EQ(manual.find("corvane-recovery-<uid>"), std::string::npos);
    EXPECT_EQ(cli::HelpText(cli::TCommand::None).find("corvane-recovery-<uid>"), std::string::npos);
    // The install line names no version.
    EXPECT_FALSE(std::regex_search(readme, std::regex("_[0-9]+\\.[0-9]+\\.[0-9]+_amd64")));
    EXPECT_NE(readme.find("corvane-dbx_*_amd64.deb"), std::string::npos);
}

}  // namespace
