#include "platform/ImageFiles.h"

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include <windows.h>
#include <winioctl.h>

#include "platform/Errors.h"
#include "platform/windows/PositionedIo.h"

namespace corvane::fs {
namespace {

HANDLE H(std::intptr_t h) { return reinterpret_cast<HANDLE>(h); }

bool IsDevicePath(const std::string& path) { return path.rfind("\\\\.\\", 0) == 0; }

// The numbers of the physical disks a volume ("X:") lies on.
bool VolumeDisks(char letter, DWORD* disks, DWORD& count) {
    const std::string name = std::string("\\\\.\\") + letter + ":";
    HANDLE h = CreateFileA(name.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    alignas(8) char buffer[sizeof(VOLUME_DISK_EXTENTS) + 15 * sizeof(DISK_EXTENT)];
    DWORD got = 0;
    const BOOL ok = DeviceIoControl(h, IOCTL_VOLUME_GET_VOLUME_DISK_EXTENTS, nullptr, 0, buffer, sizeof buffer, &got, nullptr);
    CloseHandle(h);
    if (!ok) return false;
    const auto* extents = reinterpret_cast<const VOLUME_DISK_EXTENTS*>(buffer);
    count = extents->NumberOfDiskExtents < 16 ? extents->NumberOfDiskExtents : 16;
    for (DWORD i = 0; i < count; ++i) disks[i] = extents->Extents[i].DiskNumber;
    return true;
}

}  // namespace

bool ReadsEwfImages() { return false; }

TImageFile::TImageFile(const std::string& path) : path_(path) {
    if (path == "-") {
        handle_ = reinterpret_cast<std::intptr_t>(GetStdHandle(STD_INPUT_HANDLE));
        owned_ = false;
        return;
    }
    HANDLE h = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                           FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (h == INVALID_HANDLE_VALUE) throw EFOpenError(path, LastSystemErrorText());
    handle_ = reinterpret_cast<std::intptr_t>(h);
    if (GetFileType(h) != FILE_TYPE_DISK) return;
    seekable_ = true;
    if (IsDevicePath(path)) {
        GET_LENGTH_INFORMATION length{};
        DWORD got = 0;
        if (DeviceIoControl(h, IOCTL_DISK_GET_LENGTH_INFO, nullptr, 0, &length, sizeof length, &got, nullptr))
            size_ = length.Length.QuadPart;
    } else {
        LARGE_INTEGER size{};
        if (GetFileSizeEx(h, &size)) size_ = size.QuadPart;
    }
    if (size_ < 0) seekable_ = false;
}

TImageFile::~TImageFile() {
    if (owned_ && handle_ != -1) CloseHandle(H(handle_));
}

std::size_t TImageFile::Read(void* buffer, std::size_t n) {
    if (seekable_) {
        const std::size_t got = ReadAt(next_, buffer, n);
        next_ += static_cast<std::int64_t>(got);
        return got;
    }
    auto* out = static_cast<char*>(buffer);
    std::size_t done = 0;
    while (done < n) {
        DWORD chunk = static_cast<DWORD>(n - done > (1u << 30) ? (1u << 30) : n - done);
        DWORD got = 0;
        if (!ReadFile(H(handle_), out + done, chunk, &got, nullptr)) {
            const DWORD err = GetLastError();
            if (err == ERROR_BROKEN_PIPE || err == ERROR_HANDLE_EOF) break;
            throw EInOutError("Cannot read \"" + path_ + "\". " + SystemErrorText(static_cast<int>(err)));
        }
        if (got == 0) break;
        done += got;
    }
    next_ += static_cast<std::int64_t>(done);
    return done;
}

// Windows reads ahead on its own for files read in order; it takes no hint
// for a range.
void TImageFile::WillRead(std::int64_t, std::size_t) const {}

std::size_t TImageFile::ReadAt(std::int64_t offset, void* buffer, std::size_t n) const {
    if (!seekable_) throw EInOutError("\"" + path_ + "\" can only be read once, from start to end.");
    std::size_t done = 0;
    if (!positioned::Read(H(handle_), offset, buffer, n, done))
        throw EInOutError("Cannot read \"" + path_ + "\". " + LastSystemErrorText());
    return done;
}

// A volume (\\.\X:) holds the folders of its letter; a physical disk
// (\\.\PhysicalDriveN) those of every volume with an extent on it.
void RefuseFolderOnImageDevice(const std::string& folder, const std::string& imagePath) {
    if (!IsDevicePath(imagePath)) return;
    const std::string full = std::filesystem::absolute(folder).string();
    if (full.size() < 2 || full[1] != ':') return;
    const char letter = static_cast<char>(std::toupper(static_cast<unsigned char>(full[0])));
    const std::string device = imagePath.substr(4);
    bool same = false;
    if (device.size() == 2 && device[1] == ':') {
        same = std::toupper(static_cast<unsigned char>(device[0])) == letter;
    } else if (device.size() > 13 && _strnicmp(device.c_str(), "PhysicalDrive", 13) == 0) {
        const DWORD number = static_cast<DWORD>(std::strtoul(device.c_str() + 13, nullptr, 10));
        DWORD disks[16];
        DWORD count = 0;
        if (VolumeDisks(letter, disks, count))
            for (DWORD i = 0; i < count; ++i) same = same || disks[i] == number;
    }
    if (same)
        throw ECorvaneError("The output folder \"" + folder + "\" is on the device being read, \"" + imagePath +
                            "\": nothing may be written there. Choose a folder on another disk.");
}

TPlacedFile::TPlacedFile(const std::string& path) : path_(path) {
    HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) throw EFCreateError(path, LastSystemErrorText());
    DWORD got = 0;
    DeviceIoControl(h, FSCTL_SET_SPARSE, nullptr, 0, nullptr, 0, &got, nullptr);  // where the file system can
    handle_ = reinterpret_cast<std::intptr_t>(h);
}

TPlacedFile::~TPlacedFile() {
    if (handle_ != -1) CloseHandle(H(handle_));
}

void TPlacedFile::WriteAt(std::int64_t offset, const void* data, std::size_t n) {
    if (!positioned::Write(H(handle_), offset, data, n))
        throw EInOutError("Cannot write \"" + path_ + "\". " + LastSystemErrorText());
}

void TPlacedFile::Close(std::int64_t size) {
    HANDLE h = H(handle_);
    handle_ = -1;
    LARGE_INTEGER at{};
    at.QuadPart = size;
    const bool sized = SetFilePointerEx(h, at, nullptr, FILE_BEGIN) && SetEndOfFile(h);
    const std::string reason = sized ? std::string() : LastSystemErrorText();
    if (!CloseHandle(h) || !sized)
        throw EInOutError("Cannot write \"" + path_ + "\". " + (sized ? LastSystemErrorText() : reason));
}

}  // namespace corvane::fs
