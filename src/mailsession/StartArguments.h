#pragma once
// What the window program's command line asks for, for every front end:
//
//   corvane-recovery [FILE.dbx...]
//   corvane-recovery -h | --help | -v | --version
//
// Help and version are answered before the toolkit starts, so they need no
// display. Options stand anywhere; "--" ends them, so that a file whose name
// begins with "-" can be given. A front end takes its toolkit's own options
// out before the files are read.

#include <string>
#include <vector>

namespace corvane::session {

struct TStartArguments {
    bool Help = false;     // -h, --help
    bool Version = false;  // -v, --version
    std::string Error;     // an unknown option; empty when the arguments are sound
    std::vector<std::string> Files;  // the folder files to open, in the order given
};

// Reads the arguments that follow the program's name. Never throws.
TStartArguments ParseStartArguments(const std::vector<std::string>& arguments);

// The usage lines, for a bad command line: how to call the program.
std::string StartUsageText();
// The text --help prints: usage, what the program does, its options.
std::string StartHelpText();
// The text --version prints: "corvane-recovery <version>" and a line break.
std::string StartVersionText(const std::string& version);

}  // namespace corvane::session
