// The message list's ticks, sorting and preview, and the export of the ticked
// messages.

#include <QItemSelectionModel>
#include <QList>
#include <QMessageBox>
#include <QSignalBlocker>
#include <QString>

#include <algorithm>
#include <string>
#include <vector>

#include "BrowseForFolderU/BrowseForFolderU.h"
#include "frmMainWindow/CorvaneApplication.h"
#include "emailexport/emailexport.h"
#include "frmMainWindow/frmMainWindow.h"
#include "platform/qt/LocaleCompare.h"

// The column the list was last sorted by, and the direction of the next sort.
// They live for the whole run; loading another folder file keeps them.
int SortColumn = 0;
bool SortAscending = false;

namespace {

const char* const kExportFolderTitle = "Select Where To Save Recovered Emails";
const char* const kNotWriteableText = "Cannot Write To Output Folder ,Please Select A Writeable Folder";
const char* const kExportedText = "Emails Succesfully Exported To Folder";

// The record a row stands for, or nullptr when its caption names none.
const TEmail* RecordOfRow(const TEmailArray& emails, const QTreeWidgetItem* row) {
    const int k = TfrmMain::RowIndex(row);
    if (k < 0 || static_cast<std::size_t>(k) >= emails.size()) return nullptr;
    return &emails[static_cast<std::size_t>(k)];
}

void SetAllTicks(QTreeWidget* list, Qt::CheckState state) {
    const int n = list->topLevelItemCount();
    for (int i = 0; i < n; ++i) list->topLevelItem(i)->setCheckState(TfrmMain::ColItemNum, state);
}

// The export's closing information box (one OK button).
void ShowInformation(TfrmMain& owner, const QString& text) {
    if (owner.InformationBoxHook) {
        owner.InformationBoxHook(text);
        return;
    }
    QMessageBox box(QMessageBox::Information, TCorvaneApplication::kTitle, text, QMessageBox::Ok, &owner);
    box.setObjectName("InformationBox");
    box.exec();
}

}  // namespace

int compareEmailItems(const QTreeWidgetItem* item1, const QTreeWidgetItem* item2, int column) {
    int result;
    if (column == TfrmMain::ColItemNum) {
        const int difference = TfrmMain::RowIndex(item1) - TfrmMain::RowIndex(item2);
        result = (difference > 0) - (difference < 0);
    } else {
        result = corvane::gui::CompareLocaleTextIgnoreCase(item1->text(column), item2->text(column));
    }
    return SortAscending ? result : -result;
}

void TfrmMain::sbSelectAllClick() { SetAllTicks(lvFoundEmails, Qt::Checked); }

void TfrmMain::sbDeselectAllClick() { SetAllTicks(lvFoundEmails, Qt::Unchecked); }

void TfrmMain::lvFoundEmailsColumnClick(int column) {
    if (column == SortColumn)
        SortAscending = !SortAscending;
    else
        SortColumn = column;

    // The rows leave the list and come back in their new order, with their
    // ticks and icons; the current row and its selection are put back after.
    QTreeWidgetItem* current = lvFoundEmails->currentItem();
    const bool currentSelected = current != nullptr && current->isSelected();
    {
        const QSignalBlocker quiet(lvFoundEmails);
        QList<QTreeWidgetItem*> rows = lvFoundEmails->invisibleRootItem()->takeChildren();
        std::stable_sort(rows.begin(), rows.end(), [column](const QTreeWidgetItem* a, const QTreeWidgetItem* b) {
            return compareEmailItems(a, b, column) < 0;
        });
        lvFoundEmails->addTopLevelItems(rows);
        if (current != nullptr) {
            lvFoundEmails->setCurrentItem(current, 0,
                                          currentSelected ? QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows
                                                          : QItemSelectionModel::NoUpdate);
        }
    }
}

void TfrmMain::lvFoundEmailsClick() {
    const QList<QTreeWidgetItem*> selected = lvFoundEmails->selectedItems();
    if (selected.isEmpty()) return;
    txtmsgbody->clear();
    const TEmail* email = RecordOfRow(Emails, selected.first());
    if (email == nullptr) return;
    // The text and its closing line break in one piece: for a body of many
    // megabytes every extra copy counts.
    std::string text = corvane::mail::ReadMessageBody(*email);
    text += '\n';
    txtmsgbody->setPlainText(AnsiToDisplay(text));
}

void TfrmMain::sbSaveEmailClick() {
    const std::string folder = ChooseExportFolder ? ChooseExportFolder(kExportFolderTitle, std::string(), true)
                                                  : BrowseForFolder(kExportFolderTitle, std::string(), true);
    if (folder.empty()) return;

    if (!corvane::mail::FolderIsWriteable(folder)) {
        TCorvaneApplication::ShowError(kNotWriteableText);
        return;
    }

    std::vector<corvane::mail::TExportItem> items;
    const int n = lvFoundEmails->topLevelItemCount();
    for (int i = 0; i < n; ++i) {
        const QTreeWidgetItem* row = lvFoundEmails->topLevelItem(i);
        if (row->checkState(ColItemNum) == Qt::Checked)
            items.push_back({static_cast<std::size_t>(i), RecordOfRow(Emails, row)});
    }
    const corvane::mail::TExportReport report = corvane::mail::ExportEmails(items, folder);
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
