#include "platform/ImageFiles.h"

#include <cerrno>
#include <filesystem>
#include <set>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include "platform/Errors.h"

namespace corvane::fs {
namespace {

int Fd(std::intptr_t h) { return static_cast<int>(h); }

// The device's folder in /sys (/sys/devices/.../sda/sda1), or empty.
std::string SysfsPath(dev_t device) {
    const std::string link = "/sys/dev/block/" + std::to_string(major(device)) + ":" + std::to_string(minor(device));
    std::error_code ec;
    const std::filesystem::path resolved = std::filesystem::canonical(link, ec);
    return ec ? std::string() : resolved.string();
}

// The device's folder in /sys and those of every device it is made of
// (a volume group's disks, an encrypted volume's partition).
void Underlying(const std::string& sysPath, std::set<std::string>& out, int depth = 0) {
    if (sysPath.empty() || depth > 16 || !out.insert(sysPath).second) return;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(sysPath + "/slaves", ec)) {
        std::error_code bad;
        const std::filesystem::path resolved = std::filesystem::canonical(entry.path(), bad);
        if (!bad) Underlying(resolved.string(), out, depth + 1);
    }
}

}  // namespace

TImageFile::TImageFile(const std::string& path) : path_(path) {
    if (path == "-") {
        handle_ = 0;
        owned_ = false;
        return;
    }
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) throw EFOpenError(path, ::SystemErrorText(errno));
    struct stat st {};
    if (::fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
        const int err = S_ISDIR(st.st_mode) ? EISDIR : errno;
        ::close(fd);
        throw EFOpenError(path, ::SystemErrorText(err));
    }
    handle_ = fd;
    if (S_ISREG(st.st_mode) || S_ISBLK(st.st_mode)) {
        const off_t end = ::lseek(fd, 0, SEEK_END);
        if (end >= 0) {
            seekable_ = true;
            size_ = end;
            ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
        }
    }
}

TImageFile::~TImageFile() {
    if (owned_ && handle_ >= 0) ::close(Fd(handle_));
}

std::size_t TImageFile::Read(void* buffer, std::size_t n) {
    auto* out = static_cast<char*>(buffer);
    std::size_t done = 0;
    while (done < n) {
        const ssize_t got = seekable_ ? ::pread(Fd(handle_), out + done, n - done, static_cast<off_t>(next_))
                                      : ::read(Fd(handle_), out + done, n - done);
        if (got < 0) {
            if (errno == EINTR) continue;
            throw EInOutError("Cannot read \"" + path_ + "\". " + ::SystemErrorText(errno));
        }
        if (got == 0) break;
        done += static_cast<std::size_t>(got);
        next_ += got;
    }
    return done;
}

std::size_t TImageFile::ReadAt(std::int64_t offset, void* buffer, std::size_t n) const {
    if (!seekable_) throw EInOutError("\"" + path_ + "\" can only be read once, from start to end.");
    auto* out = static_cast<char*>(buffer);
    std::size_t done = 0;
    while (done < n) {
        const ssize_t got =
            ::pread(Fd(handle_), out + done, n - done, static_cast<off_t>(offset + static_cast<std::int64_t>(done)));
        if (got < 0) {
            if (errno == EINTR) continue;
            throw EInOutError("Cannot read \"" + path_ + "\". " + ::SystemErrorText(errno));
        }
        if (got == 0) break;
        done += static_cast<std::size_t>(got);
    }
    return done;
}

void RefuseFolderOnImageDevice(const std::string& folder, const std::string& imagePath) {
    struct stat image {};
    if (imagePath == "-" || ::stat(imagePath.c_str(), &image) != 0 || !S_ISBLK(image.st_mode)) return;
    std::filesystem::path at = std::filesystem::absolute(folder);
    struct stat out {};
    while (::stat(at.c_str(), &out) != 0) {
        if (at == at.parent_path()) return;
        at = at.parent_path();
    }
    bool same = out.st_dev == image.st_rdev;
    if (!same) {
        const std::string disk = SysfsPath(image.st_rdev);
        std::set<std::string> under;
        Underlying(SysfsPath(out.st_dev), under);
        for (const std::string& u : under)
            if (!disk.empty() && (u == disk || u.rfind(disk + "/", 0) == 0)) same = true;
    }
    if (same)
        throw ECorvaneError("The output folder \"" + folder + "\" is on the device being read, \"" + imagePath +
                            "\": nothing may be written there. Choose a folder on another disk.");
}

TPlacedFile::TPlacedFile(const std::string& path) : path_(path) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd < 0) throw EFCreateError(path, ::SystemErrorText(errno));
    handle_ = fd;
}

TPlacedFile::~TPlacedFile() {
    if (handle_ >= 0) ::close(Fd(handle_));
}

void TPlacedFile::WriteAt(std::int64_t offset, const void* data, std::size_t n) {
    const auto* in = static_cast<const char*>(data);
    std::size_t done = 0;
    while (done < n) {
        const ssize_t put =
            ::pwrite(Fd(handle_), in + done, n - done, static_cast<off_t>(offset + static_cast<std::int64_t>(done)));
        if (put < 0) {
            if (errno == EINTR) continue;
            throw EInOutError("Cannot write \"" + path_ + "\". " + ::SystemErrorText(errno));
        }
        done += static_cast<std::size_t>(put);
    }
}

void TPlacedFile::Close(std::int64_t size) {
    const int fd = Fd(handle_);
    handle_ = -1;
    const bool sized = ::ftruncate(fd, static_cast<off_t>(size)) == 0;
    const int err = errno;
    if (::close(fd) != 0 || !sized)
        throw EInOutError("Cannot write \"" + path_ + "\". " + ::SystemErrorText(sized ? errno : err));
}

}  // namespace corvane::fs
