#include "platform/Drives.h"

#include <windows.h>

#include <cstring>

#include "platform/Errors.h"

namespace corvane::drives {
namespace {

constexpr DWORD kDriveStringsBuffer = 129;  // characters

// The volume-label bit of the DOS attributes, which <windows.h> has no name for.
constexpr DWORD kVolumeLabel = 0x08;

// Attribute sets of the two listings. An entry is left out when it carries
// one of hidden, system, volume label or directory that the set lacks.
// Every entry but folders:
constexpr DWORD kFileAttributes =
    FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | kVolumeLabel | FILE_ATTRIBUTE_ARCHIVE;
// Folders (and plain files), no system or volume-label entries:
constexpr DWORD kFolderAttributes = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_DIRECTORY;
constexpr DWORD kFilteredAttributes = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | kVolumeLabel | FILE_ATTRIBUTE_DIRECTORY;
static_assert(kFileAttributes == 47 && kFolderAttributes == 18);

// Restores the error mode on every way out.
class TErrorModeScope {
public:
    TErrorModeScope() : previous_(SetErrorMode(SEM_FAILCRITICALERRORS)) {}
    ~TErrorModeScope() { SetErrorMode(previous_); }
    TErrorModeScope(const TErrorModeScope&) = delete;
    TErrorModeScope& operator=(const TErrorModeScope&) = delete;
private:
    UINT previous_;
};

std::string CurrentDirectory() {
    DWORD n = GetCurrentDirectoryA(0, nullptr);
    if (n == 0) throw EInOutError(SystemErrorText(LastSystemError()));
    std::string dir(n, '\0');
    n = GetCurrentDirectoryA(n, dir.data());
    if (n == 0 || n >= dir.size()) throw EInOutError(SystemErrorText(LastSystemError()));
    dir.resize(n);
    return dir;
}

}  // namespace

std::vector<std::string> FixedDriveRoots() {
    std::vector<std::string> roots;
    char buffer[kDriveStringsBuffer + 1] = {};
    const DWORD n = GetLogicalDriveStringsA(kDriveStringsBuffer, buffer);
    if (n > kDriveStringsBuffer) throw ECorvaneError(SystemErrorText(ERROR_OUTOFMEMORY));
    // Entries such as "C:\" each end in a NUL; an empty entry ends the list.
    for (DWORD at = 0; at < n && buffer[at] != '\0';) {
        const std::string root(buffer + at);
        if (GetDriveTypeA(root.c_str()) == DRIVE_FIXED) roots.push_back(root);
        at += static_cast<DWORD>(root.size()) + 1;
    }
    return roots;
}

bool CanEnterDrive(const std::string& root) {
    TErrorModeScope errorMode;
    const std::string previous = CurrentDirectory();
    const bool entered = SetCurrentDirectoryA(root.c_str()) != 0;
    if (!SetCurrentDirectoryA(previous.c_str())) throw EInOutError(SystemErrorText(LastSystemError()));
    return entered;
}

struct TFolderListing::TState {
    HANDLE find = INVALID_HANDLE_VALUE;
    WIN32_FIND_DATAA data{};
    bool pending = false;  // data holds an entry not yet handed out
    DWORD excluded = 0;
    std::string mask;
};

// The system's search hands out one entry per Next: the caller's steps are
// the stops, the progress is not needed here.
TFolderListing::TFolderListing(const std::string& folder, const std::string& mask, TListKind kind,
                               corvane::TProgress* /*progress*/)
    : state_(std::make_unique<TState>()) {
    const DWORD attributes = kind == TListKind::Files ? kFileAttributes : kFolderAttributes;
    state_->excluded = ~attributes & kFilteredAttributes;
    state_->mask = mask;
    state_->find = FindFirstFileA((folder + mask).c_str(), &state_->data);
    state_->pending = state_->find != INVALID_HANDLE_VALUE;
}

TFolderListing::~TFolderListing() {
    if (state_->find != INVALID_HANDLE_VALUE) FindClose(state_->find);
}

bool TFolderListing::Next() {
    TState& s = *state_;
    for (;;) {
        if (!s.pending && (s.find == INVALID_HANDLE_VALUE || !FindNextFileA(s.find, &s.data))) return false;
        s.pending = false;
        const DWORD attr = s.data.dwFileAttributes;
        if ((attr & s.excluded) != 0) continue;
        // The system's match also looks at the short 8.3 name, so "*.dbx"
        // would bring in "notes.dbxold" (NOTES~1.DBX); the long name decides.
        if (!MatchesMask(s.data.cFileName, s.mask)) continue;
        name_ = s.data.cFileName;
        // Junctions, symbolic links and mounted volumes are not entered.
        const bool surrogate =
            (attr & FILE_ATTRIBUTE_REPARSE_POINT) != 0 && IsReparseTagNameSurrogate(s.data.dwReserved0);
        isFolder_ = (attr & FILE_ATTRIBUTE_DIRECTORY) != 0 && !surrogate;
        return true;
    }
}

}  // namespace corvane::drives
