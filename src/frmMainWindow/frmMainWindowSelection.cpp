// The message list's ticks, sorting and preview, and the export of the ticked
// messages.

#include <QItemSelectionModel>
#include <QMessageBox>
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

// Record k of emails, or nullptr when there is none.
const TEmail* RecordOfRow(const TEmailArray& emails, int k) {
    if (k < 0 || static_cast<std::size_t>(k) >= emails.size()) return nullptr;
    return &emails[static_cast<std::size_t>(k)];
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
    for (const auto& [i, k] : FoundEmails->TickedRows()) {
        ++ticked;
        const TEmail* email = RecordOfRow(Emails, k);
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
