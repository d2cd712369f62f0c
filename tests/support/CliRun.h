#pragma once
// Runs corvane-dbx's commands in this process, its output and errors caught.

#include <sstream>
#include <string>
#include <vector>

#include "corvane-dbx/CommandLine.h"

namespace corvane::testsupport {

struct TCliResult {
    int Status;
    std::string Out;
    std::string Err;
};

// The arguments as after the program's name; width: the terminal's columns
// (0: not a terminal).
inline TCliResult Dbx(const std::vector<std::string>& arguments, int width = 0) {
    std::ostringstream out, err;
    corvane::cli::TConsole console{out, err, width, false};
    const int status = corvane::cli::RunCorvaneDbx(arguments, console);
    return {status, out.str(), err.str()};
}

}  // namespace corvane::testsupport
