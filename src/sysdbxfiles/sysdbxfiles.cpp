#include "sysdbxfiles/sysdbxfiles.h"

#include "platform/Drives.h"
#include "platform/Files.h"
#include "progress/Progress.h"

using corvane::drives::TFolderListing;
using corvane::drives::TListKind;

const TDbxFiles::TStringList& TDbxFiles::FindDbxFiles() {
    for (const std::string& root : GetFixedDrives()) SearchFolder(root, "*.dbx", true);
    return fileList_;
}

void TDbxFiles::SearchFolder(const std::string& folder, const std::string& mask, bool recurse) {
    if (folder.empty()) return;
    corvane::CheckPoint(progress_, kSearchStage, static_cast<std::int64_t>(fileList_.size()), 0);
    std::string path = folder;
    if (path.back() != corvane::fs::kPathSeparator) path += corvane::fs::kPathSeparator;

    // A folder of very many entries takes a while: its entries are steps too.
    std::size_t entries = 0;
    const auto step = [&] {
        if (++entries % kEntriesPerReport == 0)
            corvane::CheckPoint(progress_, kSearchStage, static_cast<std::int64_t>(fileList_.size()), 0);
    };
    for (TFolderListing files(path, mask, TListKind::Files, progress_); files.Next();) {
        step();
        fileList_.push_back(path + files.Name());
    }
    if (!recurse) return;

    for (TFolderListing folders(path, "*.*", TListKind::Folders, progress_); folders.Next();) {
        step();
        const std::string& name = folders.Name();
        if (folders.IsFolder() && name != "." && name != "..") SearchFolder(path + name, mask, true);
    }
}

TDbxFiles::TStringList TDbxFiles::GetFixedDrives() {
    TStringList drives;
    for (std::string& root : corvane::drives::FixedDriveRoots())
        if (IsDriveAccessible(root)) drives.push_back(std::move(root));
    return drives;
}

bool TDbxFiles::IsDriveAccessible(const std::string& root) { return corvane::drives::CanEnterDrive(root); }
