// "Auto Scan For Files": every folder file on the local fixed drives becomes
// a node under "System Files".

#include "frmMainWindow/frmMainWindowAutoScan.h"

#include "frmMainWindow/frmMainWindow.h"

namespace autoscan {
namespace {

void SearchDrives(TDbxFiles& files) { files.FindDbxFiles(); }

TSearch g_search = &SearchDrives;

}  // namespace

TSearch SetSearch(TSearch search) {
    TSearch previous = g_search;
    g_search = search != nullptr ? search : &SearchDrives;
    return previous;
}

}  // namespace autoscan

namespace {

void ExpandWithEverythingBelow(QTreeWidgetItem* node) {
    node->setExpanded(true);
    for (int i = 0; i < node->childCount(); ++i) ExpandWithEverythingBelow(node->child(i));
}

}  // namespace

void TfrmMain::sbAutoScanClick() {
    if (busy_) return;  // a load or search is running further up this stack
    // The wait window closes and this window is enabled again on every way
    // out; an error of the search goes on to the top-level error handler.
    TLongOperation operation(*this, TLongOperation::Cancellable);
    TDbxFiles files(&operation);
    try {
        autoscan::g_search(files);
    } catch (const corvane::ECancelled&) {
        // Stopped: the files found until then are listed all the same.
    }
    QTreeWidgetItem* last = nullptr;
    for (const std::string& path : files.FileList()) {
        last = new QTreeWidgetItem(SystemFilesNode, QStringList{FromEnginePath(path)});
        last->setIcon(0, ilIcons[IconFolderFile]);
    }
    if (last != nullptr) ExpandWithEverythingBelow(last->parent());
}
