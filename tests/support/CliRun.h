#pragma once
// Runs corvane-dbx's commands in this process, its output and errors caught.

#include <chrono>
#include <memory>
#include <functional>
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

// As Dbx, with the console set up further first: a fake terminal behind the
// error stream (ShowProgress), a clock of the test's own.
inline TCliResult DbxWith(const std::vector<std::string>& arguments,
                          const std::function<void(corvane::cli::TConsole&)>& setUp) {
    std::ostringstream out, err;
    corvane::cli::TConsole console{out, err, 0, false};
    setUp(console);
    const int status = corvane::cli::RunCorvaneDbx(arguments, console);
    return {status, out.str(), err.str()};
}

// A clock that moves on by step each time it is read.
inline std::function<std::chrono::steady_clock::time_point()> SteppingClock(std::chrono::milliseconds step) {
    auto now = std::make_shared<std::chrono::steady_clock::time_point>();
    return [now, step] { return *now += step; };
}

}  // namespace corvane::testsupport
