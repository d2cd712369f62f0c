// "Auto Scan For Files": every folder file on the local fixed drives becomes
// a node under "System Files".

#include "frmMainWindow/qt/frmMainWindow.h"

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
    std::vector<int> added;
    try {
        RunSessionWork(corvane::session::TLongWork::Cancellable,
                       [this, &added](corvane::TProgress& p) { added = Session.AutoScan(&p); });
    } catch (...) {
        if (!added.empty()) ExpandWithEverythingBelow(SystemFilesNode);
        throw;
    }
    if (!added.empty()) ExpandWithEverythingBelow(SystemFilesNode);
}
