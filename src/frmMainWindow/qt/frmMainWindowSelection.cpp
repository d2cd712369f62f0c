// The message list's ticks, sorting and preview, and the exports of the
// ticked messages (.eml files, one mbox file).

#include <QDir>
#include <QFileInfo>
#include <QItemSelectionModel>
#include <QString>

#include <ctime>
#include <string>

#include "BrowseForFolderU/BrowseForFolderU.h"
#include "frmMainWindow/qt/frmMainWindow.h"
#include "mailsession/SessionTexts.h"

namespace texts = corvane::session::texts;
using corvane::session::TLongWork;

void TfrmMain::sbSelectAllClick() {
    Session.SetAllTicks(true);
    FoundEmails->TicksChanged();
}

void TfrmMain::sbDeselectAllClick() {
    Session.SetAllTicks(false);
    FoundEmails->TicksChanged();
}

void TfrmMain::lvFoundEmailsColumnClick(int column) {
    FoundEmails->Sort([this, column] { return Session.SortByColumn(column); });
}

void TfrmMain::lvFoundEmailsClick() {
    const QModelIndexList selected = lvFoundEmails->selectionModel()->selectedRows(corvane::session::ColItemNum);
    if (selected.isEmpty() || FoundEmails->RecordOf(selected.first()) < 0) return;
    txtmsgbody->clear();
    txtmsgbody->setPlainText(QString::fromStdString(Session.PreviewText(static_cast<std::size_t>(selected.first().row()))));
}

void TfrmMain::sbSaveEmailClick() {
    if (busy_) return;
    const std::string initial = Session.RememberedFolder(corvane::session::kExportFolderSetting, {});
    const std::string folder = ChooseExportFolder ? ChooseExportFolder(texts::kExportFolderTitle, initial, true)
                                                  : BrowseForFolder(texts::kExportFolderTitle, initial, true);
    if (folder.empty()) return;
    corvane::session::TOutcome outcome;
    RunSessionWork(TLongWork::Cancellable | TLongWork::Delayed | TLongWork::ShowsShare,
                   [this, &folder, &outcome](corvane::TProgress& p) { outcome = Session.ExportEml(folder, &p); });
    ShowOutcome(outcome);
}

void TfrmMain::mnuExportMboxClick() {
    if (busy_) return;
    const std::string folder = Session.RememberedFolder(corvane::session::kExportFolderSetting, {});
    const QString proposed =
        folder.empty() ? QString(texts::kMboxDefaultName) : QDir(FromEnginePath(folder)).filePath(texts::kMboxDefaultName);
    const QString file = ChooseMboxFile ? ChooseMboxFile()
                                        : QFileDialog::getSaveFileName(this, texts::kMboxDialogTitle, proposed,
                                                                       QString("%1 (%2)").arg(texts::kMboxFileType,
                                                                                              texts::kMboxPattern));
    if (file.isEmpty()) return;
    // Failures leave here for the top-level error handler; a file of the
    // chosen name stays as it was, also when the user stops the export.
    corvane::session::TOutcome outcome;
    const std::string target = ToEnginePath(file);
    RunSessionWork(TLongWork::Cancellable | TLongWork::Delayed | TLongWork::ShowsShare,
                   [this, &target, &outcome](corvane::TProgress& p) {
                       outcome = Session.ExportMbox(target, std::time(nullptr), &p);
                   });
    ShowOutcome(outcome);
}
