// Which folder a process writes its message files to. The temporary folder is
// held by a named mutex made from its path, for the holder's whole life; a
// second process makes a folder "corvane-recovery-run-..." of its own in it,
// held by a named mutex of the folder's name, and removes the folder when it
// ends. The system drops a mutex with the last process that has it open, so a
// run folder without its mutex belongs to a process that died. Nothing is put
// into the temporary folder for the hold itself.

#include <cstdlib>
#include <functional>
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

// A mutex name may hold no backslash: the folder's path goes in as a hash.
std::string MutexName(const std::string& what) {
    return "Local\\corvane-recovery-" + std::to_string(std::hash<std::string>{}(what));
}

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

std::vector<std::string>& RunFolders() {
    static auto* folders = new std::vector<std::string>;  // outlives the exit handlers
    return *folders;
}

void RemoveRunFolders() {
    for (const std::string& folder : RunFolders()) RemoveFolderOfFiles(folder);
}

// Holds the mutex of that name; false when another process holds it already.
bool Hold(const std::string& name) {
    HANDLE mutex = CreateMutexA(nullptr, FALSE, name.c_str());
    if (mutex == nullptr) return false;
    if (GetLastError() == ERROR_ALREADY_EXISTS) {
        CloseHandle(mutex);
        return false;
    }
    return true;  // the handle stays open for the rest of the process: that is the hold
}

// Removes the run folders whose mutex no process has open.
void RemoveDeadRuns(const std::string& temp) {
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((temp + kRunPrefix + '*').c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return;
    do {
        if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) continue;
        HANDLE alive = OpenMutexA(SYNCHRONIZE, FALSE, MutexName(found.cFileName).c_str());
        if (alive != nullptr) {
            CloseHandle(alive);
            continue;
        }
        if (GetLastError() == ERROR_FILE_NOT_FOUND) RemoveFolderOfFiles(temp + found.cFileName);
    } while (FindNextFileA(search, &found));
    FindClose(search);
}

// The mutex comes first, so that no other process can take the new folder
// for a dead one's.
std::string MakeRunFolder(const std::string& temp) {
    for (unsigned attempt = 0; attempt < 100; ++attempt) {
        const std::string name =
            kRunPrefix + std::to_string(GetCurrentProcessId()) + '-' + std::to_string(GetTickCount64() + attempt);
        if (!Hold(MutexName(name))) continue;
        if (!CreateDirectoryA((temp + name).c_str(), nullptr)) continue;
        if (RunFolders().empty()) std::atexit(RemoveRunFolders);
        RunFolders().push_back(temp + name);
        return temp + name + '\\';
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
    const std::string folder = Hold(MutexName(temp)) ? temp : MakeRunFolder(temp);
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
