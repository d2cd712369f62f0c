#pragma once
// Runs a command line through bash (POSIX tests of the programs as a user
// runs them: pipes, redirections, FIFOs).

#include <cstdio>
#include <cstdlib>
#include <string>

#include <sys/wait.h>

namespace corvane::testsupport {

// The text as one shell word.
inline std::string ShellQuoted(const std::string& text) {
    std::string out = "'";
    for (const char c : text) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

// The line run by bash; its exit status (-1 when it did not exit).
inline int ShellStatus(const std::string& line) {
    const int status = std::system(("bash -c " + ShellQuoted(line)).c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// What the line writes to its standard output.
inline std::string ShellOutput(const std::string& line) {
    std::string out;
    if (FILE* pipe = ::popen(("bash -c " + ShellQuoted(line)).c_str(), "r")) {
        char buffer[4096];
        for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) out.append(buffer, n);
        ::pclose(pipe);
    }
    return out;
}

}  // namespace corvane::testsupport
