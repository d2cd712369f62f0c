// Which folder a process writes its message files to. The temporary folder is
// held by a lock file opened without sharing for the holder's whole life; a
// second process makes a folder "corvane-recovery-run-..." of its own beside
// it, holds it by a lock file inside that the system deletes when the handle
// closes, and removes the folder when it ends. A run folder without its lock
// file belongs to a process that died.

#include <cstdlib>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include <windows.h>

#include "platform/Errors.h"
#include "platform/Files.h"

namespace corvane::fs {

namespace {

const char kRunPrefix[] = "corvane-recovery-run-";
const char kLockName[] = "corvane-recovery.lock";

void RemoveFolderOfFiles(const std::string& folder) {
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((folder + "\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) DeleteFileA((folder + '\\' + found.cFileName).c_str());
        } while (FindNextFileA(search, &found));
        FindClose(search);
    }
    RemoveDirectoryA(folder.c_str());
}

struct TRunFolder {
    std::string folder;
    HANDLE lock;
};
std::vector<TRunFolder>& RunFolders() {
    static auto* folders = new std::vector<TRunFolder>;  // outlives the exit handlers
    return *folders;
}

void RemoveRunFolders() {
    for (const TRunFolder& run : RunFolders()) {
        CloseHandle(run.lock);
        RemoveFolderOfFiles(run.folder);
    }
}

// Removes the run folders whose lock file is gone or can be deleted: their
// process ended without removing them.
void RemoveDeadRuns(const std::string& temp) {
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((temp + kRunPrefix + '*').c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return;
    do {
        if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) continue;
        const std::string folder = temp + found.cFileName;
        const std::string lock = folder + '\\' + kLockName;
        if (DeleteFileA(lock.c_str()) || GetLastError() == ERROR_FILE_NOT_FOUND) RemoveFolderOfFiles(folder);
    } while (FindNextFileA(search, &found));
    FindClose(search);
}

HANDLE HoldLock(const std::string& path, DWORD disposition, DWORD flags) {
    return CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, disposition, FILE_ATTRIBUTE_NORMAL | flags, nullptr);
}

std::string MakeRunFolder(const std::string& temp) {
    for (unsigned attempt = 0; attempt < 100; ++attempt) {
        const std::string folder =
            temp + kRunPrefix + std::to_string(GetCurrentProcessId()) + '-' + std::to_string(GetTickCount64() + attempt);
        if (!CreateDirectoryA(folder.c_str(), nullptr)) continue;
        const HANDLE lock = HoldLock(folder + '\\' + kLockName, CREATE_NEW, FILE_FLAG_DELETE_ON_CLOSE);
        if (lock == INVALID_HANDLE_VALUE) continue;  // removed as dead in between
        if (RunFolders().empty()) std::atexit(RemoveRunFolders);
        RunFolders().push_back({folder, lock});
        return folder + '\\';
    }
    throw EFCreateError(temp, "No private folder could be made for the message files.");
}

std::mutex settledMutex;
std::map<std::string, std::string>& Settled() {
    static auto* settled = new std::map<std::string, std::string>;
    return *settled;
}

}  // namespace

std::string TempPath() {
    const std::string temp = UserTempPath();
    std::lock_guard<std::mutex> guard(settledMutex);
    auto found = Settled().find(temp);
    if (found != Settled().end()) return found->second;
    RemoveDeadRuns(temp);
    // The handle stays open for the rest of the process: that is the hold.
    const HANDLE lock = HoldLock(temp + kLockName, OPEN_ALWAYS, 0);
    const std::string folder = lock != INVALID_HANDLE_VALUE ? temp : MakeRunFolder(temp);
    Settled().emplace(temp, folder);
    return folder;
}

std::string TempPathName() {
    const std::string temp = UserTempPathName();
    std::lock_guard<std::mutex> guard(settledMutex);
    auto found = Settled().find(temp);
    return found != Settled().end() ? found->second : temp;
}

}  // namespace corvane::fs
