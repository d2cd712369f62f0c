// Which folder a process writes its message files to. The user's folder is
// held by an advisory lock (flock on the folder itself) for the holder's whole
// life; a second process makes a folder "run-XXXXXX" of its own below it,
// holds that one the same way, and removes it when it ends. A lock dies with
// its process, so a run folder nobody holds belongs to a process that died.

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <string>

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/Errors.h"
#include "platform/Files.h"

namespace corvane::fs {

namespace {

const char kRunPrefix[] = "run-";

// Removes the files of a folder and the folder. Only system calls that may
// run in a signal handler; no allocation. The folders hold message files
// only, so nothing deeper is visited.
void RemoveFolderOfFiles(const char* folder) {
    const int fd = ::open(folder, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd >= 0) {
        alignas(8) char buffer[4096];
        // Removing entries while reading the folder may make the system skip
        // some, so the folder is read again until a pass finds none.
        for (int pass = 0; pass < 64; ++pass) {
            bool found = false;
            ::lseek(fd, 0, SEEK_SET);
            for (;;) {
                const ssize_t n = ::getdents64(fd, buffer, sizeof buffer);
                if (n <= 0) break;
                for (ssize_t at = 0; at < n;) {
                    const auto* entry = reinterpret_cast<const struct dirent64*>(buffer + at);
                    at += entry->d_reclen;
                    const char* name = entry->d_name;
                    if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0) continue;
                    found = true;
                    ::unlinkat(fd, name, 0);
                }
            }
            if (!found) break;
        }
        ::close(fd);
    }
    ::rmdir(folder);
}

// The private folders of this process, kept as plain character arrays so that
// a signal handler can remove them.
constexpr std::size_t kMaxPrivate = 8;
std::array<std::array<char, 4096>, kMaxPrivate> privateFolders{};
// Atomic because the handler may run on any thread of the process.
std::atomic<int> privateCount{0};
static_assert(std::atomic<int>::is_always_lock_free);

void RemovePrivateFolders() {
    const int count = privateCount.load();
    for (int i = 0; i < count; ++i) RemoveFolderOfFiles(privateFolders[static_cast<std::size_t>(i)].data());
}

extern "C" void OnStopSignal(int signal) {
    RemovePrivateFolders();
    ::signal(signal, SIG_DFL);
    ::raise(signal);
}

// Removes the folder at exit and on the stop signals that nothing else of the
// process has claimed (the window leaves them at their default).
void RemoveAtEnd(const std::string& folder) {
    const int count = privateCount.load();
    if (static_cast<std::size_t>(count) >= kMaxPrivate || folder.size() >= privateFolders[0].size()) return;
    std::copy(folder.begin(), folder.end(), privateFolders[static_cast<std::size_t>(count)].begin());
    if (count == 0) {
        std::atexit(RemovePrivateFolders);
        for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
            struct sigaction current {};
            if (::sigaction(signal, nullptr, &current) != 0 || current.sa_handler != SIG_DFL) continue;
            struct sigaction action {};
            action.sa_handler = OnStopSignal;
            sigemptyset(&action.sa_mask);
            ::sigaction(signal, &action, nullptr);
        }
    }
    privateCount.store(count + 1);  // published after the name is in place
}

int OpenFolder(const std::string& folder) { return ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC); }

bool TryLock(int fd) { return ::flock(fd, LOCK_EX | LOCK_NB) == 0; }

// Removes the run folders below the user's folder that no process holds.
void RemoveDeadRuns(const std::string& user) {
    DIR* dir = ::opendir(user.c_str());
    if (dir == nullptr) return;
    while (const dirent* entry = ::readdir(dir)) {
        if (std::strncmp(entry->d_name, kRunPrefix, sizeof kRunPrefix - 1) != 0) continue;
        const std::string folder = user + entry->d_name;
        const int fd = OpenFolder(folder);
        if (fd < 0) continue;
        if (TryLock(fd)) RemoveFolderOfFiles(folder.c_str());
        ::close(fd);
    }
    ::closedir(dir);
}

// Makes and holds a run folder of this process. A folder removed as dead by
// another process between its making and its locking is made again.
std::string MakeRunFolder(const std::string& user) {
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string folder = user + kRunPrefix + "XXXXXX";
        if (::mkdtemp(folder.data()) == nullptr) throw EFCreateError(folder, SystemErrorText(errno));
        const int fd = OpenFolder(folder);
        if (fd < 0) continue;
        struct stat held {}, named {};
        if (TryLock(fd) && ::fstat(fd, &held) == 0 && ::lstat(folder.c_str(), &named) == 0 && held.st_dev == named.st_dev &&
            held.st_ino == named.st_ino) {
            RemoveAtEnd(folder);
            return folder + '/';  // fd stays open: the lock lasts as long as the process
        }
        ::close(fd);
    }
    throw EFCreateError(user, "No private folder could be made for the message files.");
}

std::mutex settledMutex;
// The folder settled for each user folder (TMPDIR may change in a process).
std::map<std::string, std::string>& Settled() {
    static auto* settled = new std::map<std::string, std::string>;  // outlives the exit handlers
    return *settled;
}

}  // namespace

std::string TempPath() {
    const std::string user = UserTempPath();
    std::lock_guard<std::mutex> lock(settledMutex);
    auto found = Settled().find(user);
    if (found != Settled().end()) return found->second;
    RemoveDeadRuns(user);
    std::string folder;
    const int fd = OpenFolder(user);
    if (fd >= 0 && TryLock(fd)) {
        folder = user;  // fd stays open: the lock lasts as long as the process
    } else {
        if (fd >= 0) ::close(fd);
        folder = MakeRunFolder(user);
    }
    Settled().emplace(user, folder);
    return folder;
}

std::string TempPathName() {
    const std::string user = UserTempPathName();
    std::lock_guard<std::mutex> lock(settledMutex);
    auto found = Settled().find(user);
    return found != Settled().end() ? found->second : user;
}

}  // namespace corvane::fs
