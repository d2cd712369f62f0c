#include "platform/ImageFiles.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <set>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include "platform/Errors.h"

#ifdef CORVANE_HAVE_LIBEWF
#include <libewf.h>
#endif

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

// The first bytes of an EWF (E01) segment file.
constexpr unsigned char kEwfSignature[8] = {'E', 'V', 'F', 0x09, 0x0D, 0x0A, 0xFF, 0x00};

#ifdef CORVANE_HAVE_LIBEWF
std::string EwfText(libewf_error_t* error) {
    char text[512] = "libewf failed";
    if (error != nullptr) {
        libewf_error_sprint(error, text, sizeof text);
        libewf_error_free(&error);
    }
    return text;
}

// Opens the EWF image whose first segment file is path; raises EFOpenError.
libewf_handle_t* OpenEwf(const std::string& path, std::int64_t& size) {
    libewf_error_t* error = nullptr;
    char** names = nullptr;
    int count = 0;
    if (libewf_glob(path.c_str(), path.size(), LIBEWF_FORMAT_UNKNOWN, &names, &count, &error) != 1)
        throw EFOpenError(path, EwfText(error));
    libewf_handle_t* handle = nullptr;
    bool opened = libewf_handle_initialize(&handle, &error) == 1 &&
                  libewf_handle_open(handle, names, count, LIBEWF_OPEN_READ, &error) == 1;
    size64_t media = 0;
    opened = opened && libewf_handle_get_media_size(handle, &media, &error) == 1;
    libewf_glob_free(names, count, nullptr);
    if (!opened) {
        const std::string text = EwfText(error);
        if (handle != nullptr) libewf_handle_free(&handle, nullptr);
        throw EFOpenError(path, text);
    }
    size = static_cast<std::int64_t>(media);
    return handle;
}
#endif

}  // namespace

bool ReadsEwfImages() {
#ifdef CORVANE_HAVE_LIBEWF
    return true;
#else
    return false;
#endif
}

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
    unsigned char signature[sizeof kEwfSignature] = {};
    if (S_ISREG(st.st_mode) && ::pread(fd, signature, sizeof signature, 0) == static_cast<ssize_t>(sizeof signature) &&
        std::memcmp(signature, kEwfSignature, sizeof signature) == 0) {
#ifdef CORVANE_HAVE_LIBEWF
        // Bytes that only begin as an EWF segment does (a raw image whose
        // first sector happens to hold them, a damaged segment file) are
        // read as they are: the blocks in them are found all the same.
        try {
            ewf_ = OpenEwf(path, size_);
            ::close(fd);
            handle_ = -1;
            seekable_ = true;
            return;
        } catch (const EFOpenError&) {
        }
#else
        ::close(fd);
        handle_ = -1;
        throw EFOpenError(path, "It is an EWF (E01) image, which this build cannot read; ewfexport (ewf-tools) "
                                "turns it into a raw image.");
#endif
    }
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
#ifdef CORVANE_HAVE_LIBEWF
    if (ewf_ != nullptr) {
        auto* handle = static_cast<libewf_handle_t*>(ewf_);
        libewf_handle_close(handle, nullptr);
        libewf_handle_free(&handle, nullptr);
    }
#endif
    if (owned_ && handle_ >= 0) ::close(Fd(handle_));
}

std::size_t TImageFile::Read(void* buffer, std::size_t n) {
    if (ewf_ != nullptr) {
        const std::size_t got = ReadAt(next_, buffer, n);
        next_ += static_cast<std::int64_t>(got);
        return got;
    }
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

void TImageFile::WillRead(std::int64_t offset, std::size_t n) const {
    if (ReadsAtOnce() && handle_ >= 0)
        ::posix_fadvise(Fd(handle_), static_cast<off_t>(offset), static_cast<off_t>(n), POSIX_FADV_WILLNEED);
}

std::size_t TImageFile::ReadAt(std::int64_t offset, void* buffer, std::size_t n) const {
    if (!seekable_) throw EInOutError("\"" + path_ + "\" can only be read once, from start to end.");
    auto* out = static_cast<char*>(buffer);
    std::size_t done = 0;
#ifdef CORVANE_HAVE_LIBEWF
    if (ewf_ != nullptr) {
        while (done < n && offset + static_cast<std::int64_t>(done) < size_) {
            libewf_error_t* error = nullptr;
            const ssize_t got = libewf_handle_read_random(static_cast<libewf_handle_t*>(ewf_), out + done, n - done,
                                                          static_cast<off64_t>(offset + static_cast<std::int64_t>(done)), &error);
            if (got < 0) throw EInOutError("Cannot read \"" + path_ + "\". " + EwfText(error));
            if (got == 0) break;
            done += static_cast<std::size_t>(got);
        }
        return done;
    }
#endif
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
