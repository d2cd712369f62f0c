// The Windows side of support/TestFiles.h.
#include "support/TestFiles.h"

#include <windows.h>
#include <psapi.h>

#include <cstdlib>
#include <filesystem>
#include <vector>

namespace corvane::testsupport {

namespace stdfs = std::filesystem;

bool IsWindows() { return true; }

void SetEnv(const std::string& name, const std::optional<std::string>& value) {
    // The C library keeps a copy of the environment of its own; the system's
    // calls (GetTempPathA among them) read the process's.
    _putenv_s(name.c_str(), value ? value->c_str() : "");
    SetEnvironmentVariableA(name.c_str(), value ? value->c_str() : nullptr);
}

std::optional<std::string> GetEnv(const std::string& name) {
    const DWORD n = GetEnvironmentVariableA(name.c_str(), nullptr, 0);
    if (n == 0) return std::nullopt;
    std::vector<char> buffer(n);
    const DWORD got = GetEnvironmentVariableA(name.c_str(), buffer.data(), n);
    return std::string(buffer.data(), got);
}

struct TTempFolderOverride::TSaved {
    TEnvOverride tmp;
    TEnvOverride temp;
};

TTempFolderOverride::TTempFolderOverride(const std::string& folder)
    : folder_(folder), saved_(new TSaved{TEnvOverride("TMP", folder), TEnvOverride("TEMP", folder)}) {}

TTempFolderOverride::~TTempFolderOverride() { delete saved_; }

std::string TTempFolderOverride::MessageFolder() const { return folder_; }

bool IsHeldOpen(const std::string& path) {
    HANDLE h = CreateFileA(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h != INVALID_HANDLE_VALUE) {
        CloseHandle(h);
        return false;
    }
    return GetLastError() == ERROR_SHARING_VIOLATION;
}

std::int64_t PeakMemoryKiB() {
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof counters;
    if (!GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters)) return 0;
    return static_cast<std::int64_t>(counters.PeakWorkingSetSize / 1024);
}

bool MakeSymlink(const std::string& target, const std::string& link) {
    std::error_code ec;
    stdfs::create_symlink(target, link, ec);
    return !ec && stdfs::is_symlink(link, ec);
}

bool PermissionBitsApply() { return false; }

TFileStamp Stamp(const std::string& path) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) return {};
    auto value = [](const FILETIME& t) {
        return static_cast<std::int64_t>((static_cast<std::uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime);
    };
    return {value(data.ftLastWriteTime), static_cast<std::int64_t>(data.dwFileAttributes)};
}

void SetOldTimes(const std::string& path) {
    HANDLE h = CreateFileA(path.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return;
    SYSTEMTIME when{};
    when.wYear = 2001;
    when.wMonth = 9;
    when.wDay = 9;
    FILETIME old{};
    SystemTimeToFileTime(&when, &old);
    SetFileTime(h, &old, &old, &old);
    CloseHandle(h);
}

const TErrorCodes& ErrorCodes() {
    static const TErrorCodes codes{ERROR_FILE_NOT_FOUND, ERROR_PATH_NOT_FOUND, ERROR_ACCESS_DENIED,
                                   ERROR_ACCESS_DENIED};
    return codes;
}

}  // namespace corvane::testsupport
