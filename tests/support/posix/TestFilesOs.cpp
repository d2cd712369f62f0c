// The Linux side of support/TestFiles.h.
#include "support/TestFiles.h"

#include <cerrno>
#include <cstdlib>
#include <filesystem>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace corvane::testsupport {

namespace stdfs = std::filesystem;

bool IsWindows() { return false; }

void SetEnv(const std::string& name, const std::optional<std::string>& value) {
    if (value) ::setenv(name.c_str(), value->c_str(), 1);
    else ::unsetenv(name.c_str());
}

std::optional<std::string> GetEnv(const std::string& name) {
    const char* value = std::getenv(name.c_str());
    if (value == nullptr) return std::nullopt;
    return std::string(value);
}

struct TTempFolderOverride::TSaved {
    TEnvOverride tmpdir;
};

TTempFolderOverride::TTempFolderOverride(const std::string& folder)
    : folder_(folder), saved_(new TSaved{TEnvOverride("TMPDIR", folder)}) {}

TTempFolderOverride::~TTempFolderOverride() { delete saved_; }

std::string TTempFolderOverride::MessageFolder() const {
    return folder_ + "/corvane-recovery-" + std::to_string(::getuid());
}

bool IsHeldOpen(const std::string& path) {
    std::error_code ec;
    const auto target = stdfs::canonical(path, ec);
    if (ec) return false;
    for (const auto& fd : stdfs::directory_iterator("/proc/self/fd", ec)) {
        std::error_code lec;
        const auto link = stdfs::read_symlink(fd.path(), lec);
        if (!lec && link == target) return true;
    }
    return false;
}

std::int64_t PeakMemoryKiB() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

bool MakeSymlink(const std::string& target, const std::string& link) {
    return ::symlink(target.c_str(), link.c_str()) == 0;
}

bool PermissionBitsApply() { return ::geteuid() != 0; }

TFileStamp Stamp(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return {};
    return {st.st_mtim.tv_sec * 1'000'000'000LL + st.st_mtim.tv_nsec,
            st.st_ctim.tv_sec * 1'000'000'000LL + st.st_ctim.tv_nsec};
}

void SetOldTimes(const std::string& path) {
    struct timespec old[2] = {{1000000000, 0}, {1000000000, 0}};
    ::utimensat(AT_FDCWD, path.c_str(), old, 0);
}

const TErrorCodes& ErrorCodes() {
    static const TErrorCodes codes{ENOENT, ENOENT, EISDIR, EACCES};
    return codes;
}

}  // namespace corvane::testsupport
