// corvane-dbx: the command-line program. Hands its arguments and standard
// streams to the commands (CommandLine.h).

#include <charconv>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

#include "FastStrings/FastStrings.h"
#include "corvane-dbx/CommandLine.h"
#include "platform/Console.h"

int main(int argc, char** argv) {
    (void)TUpperTable::Data();  // built before anything searches
    corvane::console::Prepare();
    corvane::console::CatchStopSignals();
    std::ios::sync_with_stdio(false);

    const std::vector<std::string> arguments(argv + (argc > 0 ? 1 : 0), argv + argc);
    corvane::cli::TConsole console{std::cout, std::cerr};
    console.OutWidth = corvane::console::TerminalWidth(corvane::console::TStream::Output);
    // COLUMNS, when set to a number, is the width the user asks for, as for
    // the system's own tools (also when the output goes to a file or a pipe).
    if (const char* columns = std::getenv("COLUMNS"); columns != nullptr) {
        int width = 0;
        const char* end = columns + std::strlen(columns);
        if (const auto [at, ec] = std::from_chars(columns, end, width); ec == std::errc() && at == end && width > 0)
            console.OutWidth = width;
    }
    console.ShowProgress = corvane::console::IsTerminal(corvane::console::TStream::Error);
    const int status = corvane::cli::RunCorvaneDbx(arguments, console);
    std::cout.flush();
    return status;
}
