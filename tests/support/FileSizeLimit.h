#pragma once
// POSIX tests of a full disk: while a TFileSizeLimit lives, the process may
// write no more than the given bytes into any one file (RLIMIT_FSIZE), and a
// write past that fails instead of ending the process (SIGXFSZ ignored).

#include <csignal>

#include <sys/resource.h>

namespace corvane::testsupport {

class TFileSizeLimit {
public:
    explicit TFileSizeLimit(rlim_t bytes) : handler_(std::signal(SIGXFSZ, SIG_IGN)) {
        if (::getrlimit(RLIMIT_FSIZE, &old_) != 0) return;
        struct rlimit limit = old_;
        limit.rlim_cur = bytes;
        set_ = ::setrlimit(RLIMIT_FSIZE, &limit) == 0;
    }
    ~TFileSizeLimit() {
        if (set_) ::setrlimit(RLIMIT_FSIZE, &old_);
        std::signal(SIGXFSZ, handler_);
    }
    TFileSizeLimit(const TFileSizeLimit&) = delete;
    TFileSizeLimit& operator=(const TFileSizeLimit&) = delete;

    // Whether the limit holds (the system took it).
    bool Set() const { return set_; }

private:
    void (*handler_)(int);
    struct rlimit old_ {};
    bool set_ = false;
};

}  // namespace corvane::testsupport
