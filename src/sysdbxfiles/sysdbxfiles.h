#pragma once
// The search of the local fixed drives for Outlook Express folder files.

#include <cstddef>
#include <string>
#include <vector>

namespace corvane {
class TProgress;
}

// One search: created for one scan, asked once, then destroyed.
class TDbxFiles {
public:
    using TStringList = std::vector<std::string>;

    // progress (may be null) hears of every folder the search enters and of
    // every kEntriesPerReport-th entry of a folder (stage kSearchStage, Done:
    // the files found so far, Total 0; and TFolderListing's reports while a
    // large folder is read) and can stop the search there: it ends with ECancelled, every
    // folder it opened closed again, FileList keeping what was found.
    explicit TDbxFiles(corvane::TProgress* progress = nullptr) : progress_(progress) {}
    static constexpr const char* kSearchStage = "Searching folders";
    static constexpr std::size_t kEntriesPerReport = 1024;
    ~TDbxFiles() = default;
    TDbxFiles(const TDbxFiles&) = delete;
    TDbxFiles& operator=(const TDbxFiles&) = delete;

    // Full paths of the files found, in the order found; neither sorted nor
    // free of duplicates. Only grows.
    const TStringList& FileList() const { return fileList_; }

    // Searches every accessible fixed drive, in the system's order, for
    // "*.dbx" files, subfolders included. Returns FileList, which stays owned
    // by this object. Raises the errors of GetFixedDrives and IsDriveAccessible.
    const TStringList& FindDbxFiles();

    // Adds to FileList the files of the folder that match the mask (without
    // regard to case), each as the folder path with a trailing separator plus
    // the file's name; with recurse, then those of every folder below, depth
    // first. A folder that cannot be listed adds nothing. Folders: hidden ones
    // are entered; links to folders, other file systems mounted below, and (on
    // Windows) folders with the system attribute are not.
    void SearchFolder(const std::string& folder, const std::string& mask, bool recurse);

    // The roots of the fixed drives that pass IsDriveAccessible, each ending
    // with a separator. Raises ECorvaneError (the system's text for error 14)
    // when the system's drive list does not fit its buffer.
    static TStringList GetFixedDrives();

    // True when the drive root can be entered. Raises EInOutError when the
    // current directory, changed for the test, cannot be set back.
    static bool IsDriveAccessible(const std::string& root);

private:
    corvane::TProgress* progress_;
    TStringList fileList_;
};
