#include "platform/Files.h"

#include <windows.h>

#include "platform/Errors.h"
#include "platform/windows/PositionedIo.h"

namespace corvane::fs {

const char kPathSeparator = '\\';

namespace {
HANDLE H(std::intptr_t h) { return reinterpret_cast<HANDLE>(h); }
}  // namespace

TReadFile::TReadFile(const std::string& path, Share share) : path_(path), handle_(-1) {
    DWORD shareMode = share == Share::None ? 0 : (FILE_SHARE_READ | FILE_SHARE_WRITE);
    HANDLE h = CreateFileA(path.c_str(), GENERIC_READ, shareMode, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) throw EFOpenError(path, LastSystemErrorText());
    // A pipe or a device (CON, a serial port) would block the reads.
    if (GetFileType(h) != FILE_TYPE_DISK) {
        CloseHandle(h);
        throw EFOpenError(path, kNotRegularFileText);
    }
    handle_ = reinterpret_cast<std::intptr_t>(h);
}

TReadFile::~TReadFile() {
    if (handle_ != -1) CloseHandle(H(handle_));
}

std::int64_t TReadFile::Size() const {
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(H(handle_), &size)) throw EInOutError(LastSystemErrorText());
    return size.QuadPart;
}

std::size_t TReadFile::ReadAt(std::int64_t offset, void* buffer, std::size_t n) const {
    std::size_t done = 0;
    if (!positioned::Read(H(handle_), offset, buffer, n, done)) throw EInOutError(LastSystemErrorText());
    return done;
}

// Files take the permissions of their folder here, whoever reads them.
TWriteFile::TWriteFile(const std::string& path, Create mode, Readers /*readers*/) : path_(path), handle_(-1) {
    if (mode == Create::Overwrite) {
        HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (h == INVALID_HANDLE_VALUE) throw EFCreateError(path, LastSystemErrorText());
        handle_ = reinterpret_cast<std::intptr_t>(h);
        return;
    }
    // CREATE_NEW fails on any existing name, a symbolic link included, and so
    // never writes through one. Fresh tries it first; only when the name is
    // taken is it deleted (a link itself, not its target) and the creation
    // tried again, a bounded number of times.
    constexpr int kAttempts = 8;
    for (int attempt = 1;; ++attempt) {
        HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (h != INVALID_HANDLE_VALUE) {
            handle_ = reinterpret_cast<std::intptr_t>(h);
            return;
        }
        const DWORD err = GetLastError();
        const bool taken = err == ERROR_FILE_EXISTS || err == ERROR_ALREADY_EXISTS;
        if (!taken || mode != Create::Fresh || attempt == kAttempts) throw EFCreateError(path, SystemErrorText(static_cast<int>(err)));
        if (!DeleteFileA(path.c_str()) && GetLastError() != ERROR_FILE_NOT_FOUND)
            throw EFCreateError(path, LastSystemErrorText());
    }
}

TWriteFile::~TWriteFile() {
    if (handle_ != -1) CloseHandle(H(handle_));
}

void TWriteFile::Write(const void* data, std::size_t n) {
    const auto* in = static_cast<const char*>(data);
    while (n > 0) {
        DWORD chunk = static_cast<DWORD>(n > (1u << 30) ? (1u << 30) : n);
        DWORD put = 0;
        if (!WriteFile(H(handle_), in, chunk, &put, nullptr)) throw EInOutError(LastSystemErrorText());
        if (put == 0) throw EInOutError(SystemErrorText(ERROR_DISK_FULL));
        in += put;
        n -= put;
    }
}

void TWriteFile::Close() {
    if (handle_ == -1) return;
    HANDLE h = H(handle_);
    handle_ = -1;
    if (!CloseHandle(h)) throw EInOutError(LastSystemErrorText());
}

// Windows names a file only when it is created: outputs are written under a
// temporary name instead.
std::unique_ptr<TWriteFile> CreateUnnamedFile(const std::string& /*target*/, Readers /*readers*/) { return nullptr; }

bool TWriteFile::LinkAs(const std::string& path) { throw EFCreateError(path, "The system cannot name an unnamed file."); }

// A writer's handle shares nothing (TWriteFile opens with share mode 0), so
// no other process can remove the file while it is open: nothing more to do.
void TWriteFile::Hold() {}

bool RemoveAbandonedFile(const std::string& path) {
    const DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES ||
        (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0)
        return false;
    return DeleteFileA(path.c_str()) != 0;  // fails while a writer holds it open
}

// The system deletes the file when its last handle closes, also the handles
// of a process that was killed. The reader opens it a second time (a handle
// of its own, so that its reads never move the writer's file pointer).
TScratchFile CreateScratchFile() {
    static volatile LONG counter = 0;
    const DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::string path = ScratchFolder() + "corvane-scratch-" + std::to_string(GetCurrentProcessId()) + "-" +
                                 std::to_string(InterlockedIncrement(&counter)) + ".tmp";
        HANDLE w = CreateFileA(path.c_str(), GENERIC_WRITE, share, nullptr, CREATE_NEW,
                               FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
        if (w == INVALID_HANDLE_VALUE) {
            const DWORD err = GetLastError();
            if (err == ERROR_FILE_EXISTS || err == ERROR_ALREADY_EXISTS) continue;
            throw EFCreateError(path, SystemErrorText(static_cast<int>(err)));
        }
        HANDLE r = CreateFileA(path.c_str(), GENERIC_READ, share, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (r == INVALID_HANDLE_VALUE) {
            const std::string reason = LastSystemErrorText();
            CloseHandle(w);
            throw EFCreateError(path, reason);
        }
        TScratchFile file;
        file.Writer.reset(new TWriteFile(path, reinterpret_cast<std::intptr_t>(w)));
        file.Reader.reset(new TReadFile(path, reinterpret_cast<std::intptr_t>(r)));
        return file;
    }
    throw EFCreateError(ScratchFolder(), "No free name for a scratch file.");
}

// Windows keeps no folder open for its files: each is made by its whole path.
TFolder::TFolder(const std::string& path) : path_(path), handle_(-1) {
    const DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) throw EFOpenError(path, LastSystemErrorText());
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) throw EFOpenError(path, SystemErrorText(static_cast<int>(ERROR_DIRECTORY)));
}

TFolder::~TFolder() = default;

std::unique_ptr<TWriteFile> TFolder::CreateNew(const std::string& name, Readers readers) const {
    const std::string path = path_ + kPathSeparator + name;
    // A name that was taken when the creation failed and is free again when
    // asked (another program removed its file meanwhile) is tried again.
    for (int attempt = 1;; ++attempt) {
        try {
            return std::make_unique<TWriteFile>(path, Create::Exclusive, readers);
        } catch (const EFCreateError&) {
            if (Exists(path)) return nullptr;
            if (attempt == 8) throw;  // refused, not taken
        }
    }
}

// Each file is made afresh by its whole path.
std::unique_ptr<TWriteFile> TFolder::Rewrite(const std::string& /*name*/) const { return nullptr; }

bool RemoveFile(const std::string& path) { return DeleteFileA(path.c_str()) != 0; }

bool Exists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

void RenameFile(const std::string& from, const std::string& to) {
    if (!MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING)) throw EFCreateError(to, LastSystemErrorText());
}

bool IdentifyFile(const std::string& path, bool followLinks, TFileIdentity& identity) {
    // Opened for no access at all, only to ask; a folder needs the backup
    // flag to be opened, a link its reparse flag to be opened itself.
    const DWORD flags = FILE_FLAG_BACKUP_SEMANTICS | (followLinks ? 0 : FILE_FLAG_OPEN_REPARSE_POINT);
    HANDLE h = CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, flags, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    BY_HANDLE_FILE_INFORMATION info{};
    const bool ok = GetFileInformationByHandle(h, &info) != 0;
    CloseHandle(h);
    if (!ok) return false;
    identity.Volume = info.dwVolumeSerialNumber;
    identity.Index = (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
    return true;
}

std::string ScratchFolder() { return UserTempPath(); }

std::string UserTempPathName() { return UserTempPath(); }

// The system's temporary folder is the user's own: nothing to tell.
std::string TakeTempFolderNotice() { return {}; }

std::string UserTempPath() {
    // Asked with room for MAX_PATH characters; a longer path is asked for
    // again with the room the system says it needs.
    std::string buffer(MAX_PATH, '\0');
    DWORD n = GetTempPathA(MAX_PATH, buffer.data());
    if (n > MAX_PATH) {
        buffer.assign(n, '\0');
        n = GetTempPathA(n, buffer.data());
        if (n >= buffer.size()) throw EFCreateError("%TEMP%", SystemErrorText(ERROR_FILENAME_EXCED_RANGE));
    }
    if (n == 0) throw EFCreateError("%TEMP%", LastSystemErrorText());
    buffer.resize(n);
    return buffer;
}

}  // namespace corvane::fs
