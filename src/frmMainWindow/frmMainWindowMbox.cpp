// "Export Selected To Mbox File...": the ticked messages, in the list's
// present order, into one mbox file that mail programs open directly.

#include <QDir>
#include <QFileInfo>
#include <QMessageBox>
#include <QString>

#include <ctime>
#include <string>
#include <vector>

#include "emailexport/MboxExport.h"
#include "emailexport/emailexport.h"
#include "frmMainWindow/CorvaneApplication.h"
#include "frmMainWindow/frmMainWindow.h"

namespace {

const char* const kMboxDialogTitle = "Export Selected To Mbox File";
const char* const kMboxDefaultName = "RecoveredEmails.mbox";
const char* const kMboxFilter = "Mbox Mail File (*.mbox)";
const char* const kMboxStoppedText = "Export cancelled: %1 was not written.";

}  // namespace

std::vector<const TEmail*> TfrmMain::TickedRecords() const {
    std::vector<const TEmail*> ticked;
    for (const auto& [position, k] : FoundEmails->TickedRows())
        if (k >= 0 && static_cast<std::size_t>(k) < Emails.size()) ticked.push_back(&Emails[static_cast<std::size_t>(k)]);
    return ticked;
}

void TfrmMain::mnuExportMboxClick() {
    if (busy_) return;
    const QString folder = TCorvaneApplication::RememberedFolder(kExportFolderSetting, QString());
    const QString proposed = folder.isEmpty() ? QString(kMboxDefaultName) : QDir(folder).filePath(kMboxDefaultName);
    const QString file = ChooseMboxFile ? ChooseMboxFile()
                                        : QFileDialog::getSaveFileName(this, kMboxDialogTitle, proposed, kMboxFilter);
    if (file.isEmpty()) return;
    TCorvaneApplication::RememberFolder(kExportFolderSetting, QFileInfo(file).absolutePath());

    // The folder file the list came from, or any other, is never replaced.
    const std::string target = ToEnginePath(file);
    if (const std::string inTheWay = corvane::mail::FolderFileInTheWay(target, {CurrentFile}); !inTheWay.empty()) {
        TCorvaneApplication::ShowError(QString::fromLocal8Bit(inTheWay + " Nothing was written."));
        return;
    }
    // Failures leave here for the top-level error handler; a file of the
    // chosen name stays as it was, also when the user stops the export.
    corvane::mail::TMboxReport report;
    bool stopped = false;
    try {
        TLongOperation operation(*this, TLongOperation::Cancellable | TLongOperation::Delayed | TLongOperation::ShowsShare);
        report = corvane::mail::WriteMbox(TickedRecords(), target, std::time(nullptr), &operation);
    } catch (const corvane::ECancelled&) {
        stopped = true;
    }

    const QString text = stopped ? QString(kMboxStoppedText).arg(QDir::toNativeSeparators(file))
                                 : QString("%1 emails exported to %2").arg(report.Written).arg(QDir::toNativeSeparators(file));
    if (ClosingAfterWork()) return;
    if (InformationBoxHook) {
        InformationBoxHook(text);
        return;
    }
    QMessageBox box(QMessageBox::Information, TCorvaneApplication::kTitle, text, QMessageBox::Ok, this);
    box.setObjectName("InformationBox");
    box.exec();
}
