#pragma once
// corvane-dbx run as a child process of a test (POSIX): its standard output
// into a file, its exit status as a shell gives it (128 + the signal when a
// signal ended it).

#include <cstdlib>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace corvane::testsupport {

struct TChild {
    pid_t pid;
    std::string out;  // where its standard output goes
};

// Starts program with the arguments; environment: the test's, with the
// extra NAME=VALUE entries given.
inline TChild StartProgram(const std::string& program, const std::vector<std::string>& arguments,
                           const std::string& out, const std::vector<std::string>& environment = {}) {
    std::vector<std::string> all{program};
    all.insert(all.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& a : all) argv.push_back(a.data());
    argv.push_back(nullptr);
    std::vector<std::string> env(environment);
    const pid_t pid = ::fork();
    if (pid == 0) {
        for (std::string& e : env) ::putenv(e.data());
        const int fd = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        ::dup2(fd, 1);
        ::execv(argv[0], argv.data());
        std::_Exit(127);
    }
    return {pid, out};
}

inline int WaitFor(const TChild& child) {
    int status = 0;
    ::waitpid(child.pid, &status, 0);
    if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
    return WEXITSTATUS(status);
}

}  // namespace corvane::testsupport
