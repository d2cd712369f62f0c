// The message list's ticks, sorting and preview, and the export of the ticked
// messages.

#include <QItemSelectionModel>
#include <QList>
#include <QMessageBox>
#include <QSignalBlocker>
#include <QString>

#include <algorithm>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "BrowseForFolderU/BrowseForFolderU.h"
#include "frmMainWindow/CorvaneApplication.h"
#include "frmMainWindow/frmMainWindow.h"
#include "platform/Errors.h"
#include "platform/Files.h"
#include "platform/qt/LocaleCompare.h"

// The column the list was last sorted by, and the direction of the next sort.
// They live for the whole run; loading another folder file keeps them.
int SortColumn = 0;
bool SortAscending = false;

namespace {

const char* const kExportFolderTitle = "Select Where To Save Recovered Emails";
const char* const kNotWriteableText = "Cannot Write To Output Folder ,Please Select A Writeable Folder";
const char* const kExportedText = "Emails Succesfully Exported To Folder";
const char* const kExportPrefix = "RecoveredEmail";
const char* const kExportExtension = ".eml";

// Largest piece of a message held in memory while it is copied; most messages
// go in one read and one write.
constexpr std::size_t kCopyChunk = std::size_t{4} << 20;

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

// Tests that files can be made in folder: creates a probe file of a name that
// is not yet taken there, then removes it. A file of the user's is never
// opened, whatever its name.
bool FolderIsWriteable(const std::string& folder) {
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::string probe = folder + corvane::fs::kPathSeparator + "check" +
                                  (attempt == 0 ? std::string() : std::to_string(attempt)) + ".DAT";
        if (corvane::fs::Exists(probe)) continue;
        try {
            corvane::fs::TWriteFile file(probe, corvane::fs::Create::Exclusive);
            file.Close();
        } catch (const ECorvaneError&) {
            if (corvane::fs::Exists(probe)) continue;  // taken meanwhile by someone else
            return false;
        }
        corvane::fs::RemoveFile(probe);
        return true;
    }
    return false;
}

// Copies [MessageStart, MessageEnd) of the record's message file into target.
// The message file is opened first: when it cannot be, EFOpenError leaves
// here and no target file is made; a failed read of it is raised as well.
// Failures of the target file are returned as their text (empty on success).
std::string CopyMessage(const TEmail& email, const std::string& target, std::vector<char>& buffer) {
    const corvane::fs::TReadFile in(email.FileName, corvane::fs::Share::All);
    const std::int64_t length = std::max<std::int64_t>(0, email.MessageEnd - email.MessageStart);
    const auto chunk = static_cast<std::size_t>(std::min<std::int64_t>(length, static_cast<std::int64_t>(kCopyChunk)));
    if (buffer.size() < chunk) buffer.resize(chunk);

    std::optional<corvane::fs::TWriteFile> out;
    try {
        out.emplace(target, corvane::fs::Create::Overwrite);
    } catch (const EFCreateError& e) {
        return e.what();
    }
    const auto writeFailure = [&target](const EInOutError& e) { return "Cannot write file \"" + target + "\". " + e.what(); };
    std::int64_t done = 0;
    while (done < length) {
        const auto want = static_cast<std::size_t>(std::min<std::int64_t>(length - done, static_cast<std::int64_t>(chunk)));
        const std::size_t got = in.ReadAt(email.MessageStart + done, buffer.data(), want);
        try {
            out->Write(buffer.data(), got);
        } catch (const EInOutError& e) {
            return writeFailure(e);
        }
        done += static_cast<std::int64_t>(got);
        if (got < want) return "The message file \"" + email.FileName + "\" ends before the message does.";
    }
    try {
        out->Close();
    } catch (const EInOutError& e) {
        return writeFailure(e);
    }
    return {};
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
    std::string text = TfrmMain::ReadMessageBody(*email);
    text += '\n';
    txtmsgbody->setPlainText(AnsiToDisplay(text));
}

void TfrmMain::sbSaveEmailClick() {
    const std::string folder = ChooseExportFolder ? ChooseExportFolder(kExportFolderTitle, std::string(), true)
                                                  : BrowseForFolder(kExportFolderTitle, std::string(), true);
    if (folder.empty()) return;

    if (!FolderIsWriteable(folder)) {
        TCorvaneApplication::ShowError(kNotWriteableText);
        return;
    }

    std::vector<char> buffer;
    int ticked = 0;
    int failed = 0;
    std::string firstFailure;
    const int n = lvFoundEmails->topLevelItemCount();
    for (int i = 0; i < n; ++i) {
        const QTreeWidgetItem* row = lvFoundEmails->topLevelItem(i);
        if (row->checkState(ColItemNum) != Qt::Checked) continue;
        ++ticked;
        const TEmail* email = RecordOfRow(Emails, row);
        const std::string target =
            folder + corvane::fs::kPathSeparator + kExportPrefix + std::to_string(i) + kExportExtension;
        std::string failure = email != nullptr ? CopyMessage(*email, target, buffer)
                                               : "Row " + std::to_string(i) + " stands for no message.";
        if (!failure.empty()) {
            if (failed == 0) firstFailure = std::move(failure);
            ++failed;
        }
    }

    if (failed > 0) {
        TCorvaneApplication::ShowError(QString("%1 of %2 ticked emails could not be exported. The first: %3")
                                           .arg(failed)
                                           .arg(ticked)
                                           .arg(QString::fromLocal8Bit(firstFailure)));
        return;
    }
    ShowInformation(*this, kExportedText);
}
