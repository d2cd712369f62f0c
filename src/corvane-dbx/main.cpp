// corvane-dbx: the command-line program. Hands its arguments and standard
// streams to the commands (CommandLine.h).

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
    console.ShowProgress = corvane::console::IsTerminal(corvane::console::TStream::Error);
    const int status = corvane::cli::RunCorvaneDbx(arguments, console);
    std::cout.flush();
    return status;
}
