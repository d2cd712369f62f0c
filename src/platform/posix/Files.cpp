#include "platform/Files.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <set>
#include <utility>

#include <dirent.h>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/Errors.h"

namespace corvane::fs {

const char kPathSeparator = '/';

namespace {
int Fd(std::intptr_t h) { return static_cast<int>(h); }
}  // namespace

TReadFile::TReadFile(const std::string& path, Share /*share*/) : path_(path), handle_(-1) {
    // Opened without blocking: opening a FIFO for reading would wait for a
    // writer. Anything but a regular file is refused before it is read.
    const int flags = O_RDONLY | O_CLOEXEC | O_NONBLOCK;
    int kept = O_NOATIME;  // the status flags to keep once the file is known to be regular
    int fd = ::open(path.c_str(), flags | O_NOATIME);
    if (fd < 0 && errno == EPERM) {  // O_NOATIME is only allowed on one's own files
        kept = 0;
        fd = ::open(path.c_str(), flags);
    }
    if (fd < 0) {
        const int err = errno;
        struct stat st {};
        if (err == ENXIO && ::stat(path.c_str(), &st) == 0 && S_ISSOCK(st.st_mode))  // sockets cannot be opened
            throw EFOpenError(path, kNotRegularFileText);
        throw EFOpenError(path, ::SystemErrorText(err));
    }
    const auto refuse = [&path, fd](const std::string& reason) {
        ::close(fd);
        throw EFOpenError(path, reason);
    };
    struct stat st {};
    if (::fstat(fd, &st) != 0) refuse(::SystemErrorText(errno));
    if (!S_ISREG(st.st_mode))
        refuse(S_ISDIR(st.st_mode) ? ::SystemErrorText(EISDIR) : std::string(kNotRegularFileText));
    if (::fcntl(fd, F_SETFL, kept) != 0) refuse(::SystemErrorText(errno));  // reads block again
    handle_ = fd;
}

TReadFile::~TReadFile() {
    if (handle_ >= 0) ::close(Fd(handle_));
}

std::int64_t TReadFile::Size() const {
    struct stat st {};
    if (::fstat(Fd(handle_), &st) != 0) throw EInOutError(::SystemErrorText(errno));
    return static_cast<std::int64_t>(st.st_size);
}

std::size_t TReadFile::ReadAt(std::int64_t offset, void* buffer, std::size_t n) const {
    auto* out = static_cast<char*>(buffer);
    std::size_t done = 0;
    while (done < n) {
        ssize_t got = ::pread(Fd(handle_), out + done, n - done, static_cast<off_t>(offset + static_cast<std::int64_t>(done)));
        if (got < 0) {
            if (errno == EINTR) continue;
            throw EInOutError(::SystemErrorText(errno));
        }
        if (got == 0) break;
        done += static_cast<std::size_t>(got);
    }
    return done;
}

TWriteFile::TWriteFile(const std::string& path, Create mode, Readers readers) : path_(path), handle_(-1) {
    const mode_t permissions = readers == Readers::Owner ? 0600 : 0666;  // the umask takes its share of 0666
    if (mode == Create::Overwrite) {
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, permissions);
        if (fd < 0) throw EFCreateError(path, ::SystemErrorText(errno));
        handle_ = fd;
        return;
    }
    // Exclusive creation never follows a symbolic link at the name. Fresh
    // tries it first, so a name that is free costs the one call; only when
    // something holds the name is it removed (the link, not its target) and
    // the creation tried again. The attempts are bounded: a name that keeps
    // coming back is reported as existing.
    constexpr int kAttempts = 8;
    for (int attempt = 1;; ++attempt) {
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, permissions);
        if (fd >= 0) {
            handle_ = fd;
            return;
        }
        const int err = errno;
        if (err != EEXIST || mode != Create::Fresh || attempt == kAttempts) throw EFCreateError(path, ::SystemErrorText(err));
        if (::unlink(path.c_str()) != 0 && errno != ENOENT) throw EFCreateError(path, ::SystemErrorText(errno));
    }
}

TWriteFile::~TWriteFile() {
    if (handle_ < 0) return;
    // Not closed (a failed write): a file written in place keeps none of its old bytes.
    if (oldSize_ > written_) {
        const int cut = ::ftruncate(Fd(handle_), static_cast<off_t>(written_));
        static_cast<void>(cut);  // nothing to tell anyone on the way out
    }
    ::close(Fd(handle_));
}

void TWriteFile::Write(const void* data, std::size_t n) {
    const auto* in = static_cast<const char*>(data);
    while (n > 0) {
        ssize_t put = ::write(Fd(handle_), in, n);
        if (put < 0) {
            if (errno == EINTR) continue;
            throw EInOutError(::SystemErrorText(errno));
        }
        if (put == 0) throw EInOutError(::SystemErrorText(ENOSPC));
        in += put;
        n -= static_cast<std::size_t>(put);
        written_ += put;
    }
}

void TWriteFile::Close() {
    if (handle_ < 0) return;
    int fd = Fd(handle_);
    handle_ = -1;
    if (oldSize_ > written_ && ::ftruncate(fd, static_cast<off_t>(written_)) != 0) {
        const int err = errno;
        ::close(fd);
        throw EInOutError(::SystemErrorText(err));
    }
    if (::close(fd) != 0) throw EInOutError(::SystemErrorText(errno));
}

namespace {

// How a file without a name gets one: straight from its descriptor where the
// kernel allows that to the process that opened the file (Linux 6.10 on, or
// a process with CAP_DAC_READ_SEARCH), else through /proc/self/fd; None when
// neither works (an older kernel without /proc), and no unnamed files are made.
enum class TLinkWay : int { Unknown, Descriptor, Proc, None };
std::atomic<TLinkWay> g_linkWay{TLinkWay::Unknown};

int LinkDescriptor(int fd, const char* path, TLinkWay way) {
    if (way == TLinkWay::Descriptor) return ::linkat(fd, "", AT_FDCWD, path, AT_EMPTY_PATH);
    const std::string self = "/proc/self/fd/" + std::to_string(fd);
    return ::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, path, AT_SYMLINK_FOLLOW);
}

// Asked once, with the first unnamed file: linking it to a name that exists
// (its folder) fails with EEXIST only when the way itself is allowed; a
// refused way fails first, with ENOENT or EPERM.
TLinkWay SettleLinkWay(int fd, const std::string& folder) {
    TLinkWay way = g_linkWay.load();
    if (way != TLinkWay::Unknown) return way;
    way = TLinkWay::None;
    for (const TLinkWay tried : {TLinkWay::Descriptor, TLinkWay::Proc}) {
        if (LinkDescriptor(fd, folder.c_str(), tried) != 0 && errno == EEXIST) {
            way = tried;
            break;
        }
    }
    g_linkWay.store(way);
    return way;
}

std::string FolderOf(const std::string& path) {
    const auto slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

}  // namespace

std::unique_ptr<TWriteFile> CreateUnnamedFile(const std::string& target, Readers readers) {
    if (g_linkWay.load() == TLinkWay::None) return nullptr;
    const std::string folder = FolderOf(target);
    const mode_t permissions = readers == Readers::Owner ? 0600 : 0666;  // the umask takes its share of 0666
    const int fd = ::open(folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, permissions);
    if (fd < 0) {
        const int err = errno;
        // The kernel or the folder's file system makes no unnamed files: the
        // caller falls back to a temporary name. Anything else is the
        // folder's own answer (missing, not writeable, full).
        if (err == EOPNOTSUPP || err == EISDIR || err == EINVAL || err == ENOSYS) return nullptr;
        throw EFCreateError(target, ::SystemErrorText(err));
    }
    if (SettleLinkWay(fd, folder) == TLinkWay::None) {
        ::close(fd);
        return nullptr;
    }
    return std::unique_ptr<TWriteFile>(new TWriteFile(target, fd));
}

bool TWriteFile::LinkAs(const std::string& path) {
    for (;;) {
        if (LinkDescriptor(Fd(handle_), path.c_str(), g_linkWay.load()) == 0) return true;
        if (errno == EINTR) continue;
        if (errno == EEXIST) return false;
        throw EFCreateError(path, ::SystemErrorText(errno));
    }
}

void TWriteFile::Hold() {
    if (handle_ >= 0) ::flock(Fd(handle_), LOCK_EX | LOCK_NB);
}

bool RemoveAbandonedFile(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return false;
    struct stat st {};
    // The lock of a writer that is gone went with it; one that still runs
    // holds it. (Taking the lock here holds off a writer that would start
    // under this name meanwhile; it makes its files exclusively anyway.)
    const bool abandoned = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == ::getuid() &&
                           ::flock(fd, LOCK_EX | LOCK_NB) == 0;
    const bool removed = abandoned && ::unlink(path.c_str()) == 0;
    ::close(fd);
    return removed;
}

TScratchFile CreateScratchFile() {
    const std::string folder = ScratchFolder();
    int fd = ::open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (fd < 0) {
        const int err = errno;
        if (err != EOPNOTSUPP && err != EISDIR && err != EINVAL && err != ENOSYS) throw EFCreateError(folder, ::SystemErrorText(err));
        // No unnamed files here: a name of its own, removed at once.
        static std::atomic<unsigned> counter{0};
        for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
            const std::string name = folder + "corvane-scratch-" + std::to_string(::getpid()) + "-" +
                                     std::to_string(counter.fetch_add(1)) + ".tmp";
            fd = ::open(name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
            if (fd >= 0) ::unlink(name.c_str());
            else if (errno != EEXIST) throw EFCreateError(name, ::SystemErrorText(errno));
        }
        if (fd < 0) throw EFCreateError(folder, "No free name for a scratch file.");
    }
    const int reader = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
    if (reader < 0) {
        const int err = errno;
        ::close(fd);
        throw EFCreateError(folder, ::SystemErrorText(err));
    }
    // Both handles share one file; reads give their offset (pread) and
    // writes go to the end, so neither moves the other.
    TScratchFile file;
    file.Writer.reset(new TWriteFile(folder, fd));
    file.Reader.reset(new TReadFile(folder, reader));
    return file;
}

TFolder::TFolder(const std::string& path) : path_(path), handle_(-1) {
    while (path_.size() > 1 && path_.back() == '/') path_.pop_back();  // "dir/" names its files "dir/name"
    const int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) throw EFOpenError(path, ::SystemErrorText(errno));
    handle_ = fd;
}

TFolder::~TFolder() { ::close(Fd(handle_)); }

std::unique_ptr<TWriteFile> TFolder::CreateNew(const std::string& name, Readers readers) const {
    const mode_t permissions = readers == Readers::Owner ? 0600 : 0666;  // the umask takes its share of 0666
    std::string path = path_ + kPathSeparator + name;
    for (;;) {
        const int fd =
            ::openat(Fd(handle_), name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, permissions);
        if (fd >= 0) return std::unique_ptr<TWriteFile>(new TWriteFile(std::move(path), fd));
        if (errno == EINTR) continue;
        if (errno == EEXIST) return nullptr;
        throw EFCreateError(path, ::SystemErrorText(errno));
    }
}

std::unique_ptr<TWriteFile> TFolder::Rewrite(const std::string& name) const {
    int fd;
    do {
        fd = ::openat(Fd(handle_), name.c_str(), O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) return nullptr;
    static const uid_t self = ::geteuid();
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != self || st.st_nlink != 1 ||
        (st.st_mode & 0077) != 0) {
        ::close(fd);
        return nullptr;
    }
    auto file = std::unique_ptr<TWriteFile>(new TWriteFile(path_ + kPathSeparator + name, fd));
    file->oldSize_ = static_cast<std::int64_t>(st.st_size);
    return file;
}

bool RemoveFile(const std::string& path) { return ::unlink(path.c_str()) == 0; }

bool Exists(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

void RenameFile(const std::string& from, const std::string& to) {
    if (::rename(from.c_str(), to.c_str()) != 0) throw EFCreateError(to, ::SystemErrorText(errno));
}

bool IdentifyFile(const std::string& path, bool followLinks, TFileIdentity& identity) {
    struct stat st {};
    if ((followLinks ? ::stat(path.c_str(), &st) : ::lstat(path.c_str(), &st)) != 0) return false;
    identity.Volume = static_cast<std::uint64_t>(st.st_dev);
    identity.Index = static_cast<std::uint64_t>(st.st_ino);
    return true;
}

std::string ScratchFolder() {
    const char* base = std::getenv("TMPDIR");
    std::string dir = (base != nullptr && *base != '\0') ? base : "/tmp";
    while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
    return dir == "/" ? dir : dir + '/';
}

std::string UserTempPathName() { return ScratchFolder() + "corvane-recovery-" + std::to_string(::getuid()) + '/'; }

namespace {

std::mutex g_noticeMutex;
std::string g_notice;                // the text not yet taken
std::set<std::string> g_noticed;     // the folders it was given for

// Whether the name is a folder of this user's, not reached through a link,
// with no rights for anyone else.
bool IsPrivateFolder(const std::string& dir) {
    struct stat st {};
    return ::lstat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::getuid() &&
           (st.st_mode & 07777) == 0700;
}

// The folder that serves when the usual one is taken: a private one of the
// user's beside it, the first found from an earlier run, else a new one.
std::string PrivateFallback(const std::string& usual) {
    const std::string base = usual.substr(usual.rfind('/') + 1) + '-';
    const std::string parent = usual.substr(0, usual.rfind('/') + 1);
    std::string found;
    if (DIR* dir = ::opendir(parent.c_str())) {
        while (const dirent* entry = ::readdir(dir)) {
            const std::string name = entry->d_name;
            if (name.size() == base.size() + 6 && name.compare(0, base.size(), base) == 0 &&
                IsPrivateFolder(parent + name)) {
                found = parent + name;
                break;
            }
        }
        ::closedir(dir);
    }
    if (found.empty()) {
        std::string made = usual + "-XXXXXX";
        if (::mkdtemp(made.data()) == nullptr) throw EFCreateError(usual, ::SystemErrorText(errno));
        found = std::move(made);
    }
    std::lock_guard lock(g_noticeMutex);
    if (g_noticed.insert(usual).second)
        g_notice = "The temporary folder \"" + usual + "\" belongs to another user or is no folder; the recovered " +
                   "texts are kept in \"" + found + "\" instead.";
    return found;
}

}  // namespace

std::string TakeTempFolderNotice() {
    std::lock_guard lock(g_noticeMutex);
    return std::exchange(g_notice, std::string());
}

std::string UserTempPath() {
    std::string dir = UserTempPathName();
    dir.pop_back();
    if (::mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) throw EFCreateError(dir, ::SystemErrorText(errno));
    struct stat st {};
    if (::lstat(dir.c_str(), &st) != 0) throw EFCreateError(dir, ::SystemErrorText(errno));
    // Another user's folder, a link or a file under the name: any local user
    // can make one in a shared temporary folder. The program carries on in
    // a folder of its own.
    if (S_ISLNK(st.st_mode) || !S_ISDIR(st.st_mode) || st.st_uid != ::getuid()) return PrivateFallback(dir) + '/';
    if ((st.st_mode & 0077) != 0 && ::chmod(dir.c_str(), 0700) != 0) throw EFCreateError(dir, ::SystemErrorText(errno));
    return dir + '/';
}

}  // namespace corvane::fs
