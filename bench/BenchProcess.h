#pragma once
// What the benchmarks that run whole programs share: a program run with its
// standard output into /dev/null, timed as a whole with the peak memory the
// kernel counted for it (POSIX), and the median of repeated figures.

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

struct TProgramRun {
    double seconds = 0;
    double peakMB = 0;  // the child's high-water mark of resident memory
    int status = -1;    // its exit status, 128 + the signal that ended it
};

// quietErrors: its standard error into /dev/null too.
inline TProgramRun RunProgram(const std::vector<std::string>& arguments, bool quietErrors = false) {
    std::vector<char*> argv;
    for (const std::string& a : arguments) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    const auto start = std::chrono::steady_clock::now();
    const pid_t child = ::fork();
    if (child == 0) {
        const int fd = ::open("/dev/null", O_WRONLY);
        ::dup2(fd, 1);
        if (quietErrors) ::dup2(fd, 2);
        ::execv(argv[0], argv.data());
        std::_Exit(127);
    }
    int status = 0;
    rusage usage{};
    ::wait4(child, &status, 0, &usage);
    TProgramRun run;
    run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    run.peakMB = static_cast<double>(usage.ru_maxrss) / 1024.0;  // kB on Linux
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return run;
}

inline double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}
