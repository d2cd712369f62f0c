#pragma once
// The local disks and the folder listings of the drive search.
//
// On Windows a drive is a drive letter of type DRIVE_FIXED and a listing is the
// system's file search. Elsewhere the drives are the mount points of local
// disk file systems (see platform/MountTable.h), and a listing reads the folder
// in name order, never follows a symbolic link to a folder and does not leave
// the folder's file system.

#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace corvane {
class TProgress;
}

namespace corvane::drives {

// The root paths of the local fixed drives, in the order in which the system
// lists them, each ending with a separator (C:\ on Windows, / and /home/
// elsewhere). Whether a drive can be read is not tested here.
// Windows: raises ECorvaneError with the system's text for error 14 when the
// drive strings do not fit the buffer; gives no drive when the system cannot
// report them.
std::vector<std::string> FixedDriveRoots();

// True when the drive root can be entered: on Windows made the current
// directory (with critical-error boxes suppressed, the previous current
// directory and error mode restored), elsewhere opened as a folder.
// Windows: raises EInOutError when the previous current directory cannot be
// made current again.
bool CanEnterDrive(const std::string& root);

// True when the name matches the mask: '*' stands for any run of characters,
// '?' for any one, letters match without regard to case, and "*.*" matches
// every name (as on Windows).
bool MatchesMask(std::string_view name, std::string_view mask);

enum class TListKind {
    Files,    // the entries that are not folders
    Folders,  // the entries to look at for subfolders; IsFolder() tells which to enter
};

// One listing of one folder, read entry by entry. A folder that cannot be
// listed (missing, no access) gives no entries.
class TFolderListing {
public:
    // folder ends with a separator; mask as for MatchesMask. Where the folder
    // is read whole at once (everywhere but Windows), progress (may be null)
    // hears of every thousand entries read (kListStage) and can stop the
    // read there: ECancelled, with the folder closed again.
    TFolderListing(const std::string& folder, const std::string& mask, TListKind kind,
                   corvane::TProgress* progress = nullptr);
    static constexpr const char* kListStage = "Reading folders";
    ~TFolderListing();
    TFolderListing(const TFolderListing&) = delete;
    TFolderListing& operator=(const TFolderListing&) = delete;

    // Moves to the next entry; false when there is none left.
    bool Next();
    // The current entry's name as the file system reports it (its long name).
    const std::string& Name() const { return name_; }
    // The current entry is a folder the search may enter: a real folder (not a
    // link to one) on the listed folder's own file system.
    bool IsFolder() const { return isFolder_; }

private:
    struct TState;
    std::unique_ptr<TState> state_;
    std::string name_;
    bool isFolder_ = false;
};

}  // namespace corvane::drives
