// The message list's ticks, sorting and preview, and the export of the ticked
// messages.

#include <QItemSelectionModel>
#include <QMessageBox>
#include <QString>

#include <algorithm>
#include <string>
#include <vector>

#include "BrowseForFolderU/BrowseForFolderU.h"
#include "frmMainWindow/CorvaneApplication.h"
#include "emailexport/emailexport.h"
#include "frmMainWindow/frmMainWindow.h"
#include "platform/qt/LocaleCompare.h"

int SortColumn = 0;
bool SortAscending = false;

namespace {

const char* const kExportFolderTitle = "Select Where To Save Recovered Emails";
const char* const kNotWriteableText = "Cannot Write To Output Folder ,Please Select A Writeable Folder";
const char* const kExportedText = "Emails Succesfully Exported To Folder";
const char* const kExportStoppedText = "Export cancelled: %1 of %2 ticked emails were written to the folder.";

// Record k of emails, or nullptr when there is none.
const TEmail* RecordOfRow(const TEmailArray& emails, int k) {
    if (k < 0 || static_cast<std::size_t>(k) >= emails.size()) return nullptr;
    return &emails[static_cast<std::size_t>(k)];
}

// The export's closing information box (one OK button).
void ShowInformation(TfrmMain& owner, const QString& text) {
    if (owner.ClosingAfterWork()) return;
    if (owner.InformationBoxHook) {
        owner.InformationBoxHook(text);
        return;
    }
    QMessageBox box(QMessageBox::Information, TCorvaneApplication::kTitle, text, QMessageBox::Ok, &owner);
    box.setObjectName("InformationBox");
    box.exec();
}

}  // namespace

int compareEmailItems(const TEmailArray& emails, int record1, int record2, int column) {
    int result;
    if (column == TfrmMain::ColItemNum) {
        result = (record1 > record2) - (record1 < record2);
    } else {
        const TEmail& email1 = emails[static_cast<std::size_t>(record1)];
        const TEmail& email2 = emails[static_cast<std::size_t>(record2)];
        result = corvane::gui::CompareLocaleTextIgnoreCase(TfrmMain::AnsiToDisplay(TEmailListModel::Field(email1, column)),
                                                           TfrmMain::AnsiToDisplay(TEmailListModel::Field(email2, column)));
    }
    return SortAscending ? result : -result;
}

void TfrmMain::sbSelectAllClick() { FoundEmails->SetAllTicks(true); }

void TfrmMain::sbDeselectAllClick() { FoundEmails->SetAllTicks(false); }

void TfrmMain::lvFoundEmailsColumnClick(int column) {
    if (column == SortColumn)
        SortAscending = !SortAscending;
    else
        SortColumn = column;

    // In the order of compareEmailItems, with the texts prepared once per
    // sort; the ticks, the current row and the selection move with their rows.
    FoundEmails->Sort(column, SortAscending);
}

void TfrmMain::lvFoundEmailsClick() {
    const QModelIndexList selected = lvFoundEmails->selectionModel()->selectedRows(ColItemNum);
    if (selected.isEmpty()) return;
    txtmsgbody->clear();
    const TEmail* email = RecordOfRow(Emails, RowIndex(selected.first()));
    if (email == nullptr) return;
    txtmsgbody->setPlainText(PreviewText(*email));
}

void TfrmMain::sbSaveEmailClick() {
    if (busy_) return;
    const std::string initial = ToEnginePath(TCorvaneApplication::RememberedFolder(kExportFolderSetting, QString()));
    const std::string folder = ChooseExportFolder ? ChooseExportFolder(kExportFolderTitle, initial, true)
                                                  : BrowseForFolder(kExportFolderTitle, initial, true);
    if (folder.empty()) return;

    if (!corvane::mail::FolderIsWriteable(folder)) {
        TCorvaneApplication::ShowError(kNotWriteableText);
        return;
    }
    TCorvaneApplication::RememberFolder(kExportFolderSetting, FromEnginePath(folder));

    std::vector<corvane::mail::TExportItem> items;
    for (const auto& [i, k] : FoundEmails->TickedRows()) {
        items.push_back({static_cast<std::size_t>(i), RecordOfRow(Emails, k)});
    }
    corvane::mail::TExportReport report;
    {
        TLongOperation operation(*this, TLongOperation::Cancellable | TLongOperation::Delayed | TLongOperation::ShowsShare);
        report = corvane::mail::ExportEmails(items, folder, &operation);
    }
    if (report.Cancelled) {
        ShowInformation(*this, QString(kExportStoppedText).arg(report.Written()).arg(items.size()));
        return;
    }
    const std::size_t failed = report.Failed();
    if (failed > 0) {
        TCorvaneApplication::ShowError(QString("%1 of %2 ticked emails could not be exported. The first: %3")
                                           .arg(failed)
                                           .arg(report.Chosen)
                                           .arg(QString::fromLocal8Bit(report.Failures.front())));
        return;
    }
    ShowInformation(*this, kExportedText);
}
