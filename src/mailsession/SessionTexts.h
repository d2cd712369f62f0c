#pragma once
// The window's own texts, for every front end: the captions of the windows
// and controls, and the texts of the message boxes. They stand as the program
// has always shown them, misspellings included.

#include <cstddef>
#include <string>

namespace corvane::session::texts {

inline constexpr const char* kApplicationTitle = "Corvane Recovery";  // task bar, message boxes
inline constexpr const char* kMainCaption = "Corvane DBX Recovery v3.0";

// Tool buttons, group boxes, check boxes, tree, menu.
inline constexpr const char* kAutoScan = "Auto Scan For Files";
inline constexpr const char* kOpenDbx = "Open Dbx File";
inline constexpr const char* kSelectAll = "Quick Select All";
inline constexpr const char* kDeselectAll = "Quick Deselect All";
inline constexpr const char* kSaveEmail = "Export Selected";
inline constexpr const char* kFilterGroup = "Filter Emails";
inline constexpr const char* kKeyword = "Keyword";
inline constexpr const char* kApply = "Apply";
inline constexpr const char* kClear = "Clear";
inline constexpr const char* kSettingsGroup = "Settings";
inline constexpr const char* kIncludeDeleted = "Include Deleted Emails";
inline constexpr const char* kWholeMessages = "Whole Messages";
inline constexpr const char* kDecodeTexts = "Decode Texts";
inline constexpr const char* kSystemFiles = "System Files";
inline constexpr const char* kDbxFiles = "Dbx Files";
inline constexpr const char* kFileMenu = "File";
inline constexpr const char* kExportMboxMenu = "Export Selected To Mbox File...";
inline constexpr const char* kOpenStoreMenu = "Open Store Folder...";
inline constexpr const char* kOpenStoreDialogTitle = "Open Store Folder";
// "Open Store Folder..." on a folder without the store's list of folders.
inline std::string NoStoreFolderText(const std::string& folder) { return "\"" + folder + "\" holds no Folders.dbx."; }
// "Recover From Disk Image...": the two choosers, the image's types, and
// the tree's node of the folder files carved out of it.
inline constexpr const char* kRecoverImageMenu = "Recover From Disk Image...";
inline constexpr const char* kRecoverImageDialogTitle = "Recover From Disk Image";
inline constexpr const char* kRecoverFolderTitle = "Select Where To Save The Recovered Folder Files";
inline constexpr const char* kDiskImageFileType = "Disk Image";
inline constexpr const char* kAllFilesType = "All Files";
inline std::string DiskImageNodeText(const std::string& imageName) { return "Disk image " + imageName; }
// A carved folder file's node: "recovered-1.dbx (3 pieces, 8777 messages,
// 23 partial)"; a file of deleted blocks alone says so instead of counts.
inline std::string CarvedFileText(const std::string& fileName, std::size_t pieces, std::size_t complete,
                                  std::size_t partial, bool live) {
    std::string text = fileName + " (" + std::to_string(pieces) + (pieces == 1 ? " piece, " : " pieces, ");
    if (!live) return text + "deleted messages only)";
    text += std::to_string(complete) + (complete == 1 ? " message" : " messages");
    if (partial > 0) text += ", " + std::to_string(partial) + " partial";
    return text + ")";
}
inline constexpr const char* kNoFolderFilesFound = "No folder files were found in %1.";
inline constexpr const char* kRecoveryStopped =
    "Recovery from %1 was stopped. The folder files finished until then (%2) are listed under its node.";
inline constexpr const char* kRecoveryStoppedEarly = "Recovery from %1 was stopped before a folder file was finished.";
inline constexpr const char* kRecoveryMemoryFull =
    "Only the first %2 bytes of %1 were searched: the message blocks found there fill the memory a recovery may take. "
    "The folder files found in them (%3) are listed under its node.";
inline constexpr const char* kExitMenu = "Exit";
inline constexpr const char* kHelpMenu = "Help";
inline constexpr const char* kHelpEntry = "Corvane DBX Recovery Help";

// The open dialog: its title, and its one file type.
inline constexpr const char* kOpenDialogTitle = "Open Dbx File";
inline constexpr const char* kDbxFileType = "DBX Mail File";
inline constexpr const char* kDbxPattern = "*.dbx";

// The wait window.
inline constexpr const char* kWaitTitle = "Please Wait.....";
inline constexpr const char* kWaitText = "Please Wait ......";
inline constexpr const char* kCancel = "Cancel";

// The export of the ticked messages as .eml files (%1, %2, ... are filled in).
inline constexpr const char* kExportFolderTitle = "Select Where To Save Recovered Emails";
inline constexpr const char* kNotWriteable = "Cannot Write To Output Folder ,Please Select A Writeable Folder";
inline constexpr const char* kExported = "Emails Succesfully Exported To Folder";
inline constexpr const char* kExportStopped = "Export cancelled: %1 of %2 ticked emails were written to the folder.";
inline constexpr const char* kExportFailed = "%1 of %2 ticked emails could not be exported. The first: %3";

// The mbox export.
inline constexpr const char* kMboxDialogTitle = "Export Selected To Mbox File";
inline constexpr const char* kMboxDefaultName = "RecoveredEmails.mbox";
inline constexpr const char* kMboxFileType = "Mbox Mail File";
inline constexpr const char* kMboxPattern = "*.mbox";
inline constexpr const char* kMboxStopped = "Export cancelled: %1 was not written.";
inline constexpr const char* kMboxExported = "%1 emails exported to %2";

// Closing the main window while work that can stop runs.
inline constexpr const char* kStopAndClose = "The work is still running. Stop it and close the window?";

// The help page, where no copy is installed beside the program.
inline constexpr const char* kHelpUrl = "https://www.corvane.example/recovery/help.php";

}  // namespace corvane::session::texts
