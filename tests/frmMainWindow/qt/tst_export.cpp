// Export of the ticked messages through the real main window's "Export
// Selected" button, and the folder chooser behind it.

#include <QFileDialog>
#include <QTest>
#include <QTimer>

#include <filesystem>
#include <string>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

#include "BrowseForFolderU/BrowseForFolderU.h"
#include "MessageListFixture.h"
#include "frmMainWindow/qt/CorvaneApplication.h"
#include "frmMainWindow/qt/frmMainWindow.h"
#include "platform/Files.h"

namespace stdfs = std::filesystem;
using fixture::TMessage;

namespace {

const QString kExported = "Emails Succesfully Exported To Folder";
const QString kNotWriteable = "Cannot Write To Output Folder ,Please Select A Writeable Folder";

// Bytes that a conversion would change: bare LF, CR, NUL turned space,
// 8-bit characters, and no line break at the very end.
std::vector<TMessage> SomeMessages(int n, const std::string& tag) {
    return fixture::SomeMessages(n, tag, "\r\nbare\nLF and a lone \r CR \xE9\xFC\x80.\r\n-- \r\nend");
}

}  // namespace

class TestExport : public QObject {
    Q_OBJECT

private:
    TfrmMain* w = nullptr;
    QStringList errors;
    QStringList informations;
    std::vector<std::string> chooserCalls;  // title|initial|allowNewFolder
    std::string answer;                     // what the folder chooser returns

    void Export() {
        errors.clear();
        informations.clear();
        chooserCalls.clear();
        QTest::mouseClick(w->sbSaveEmail, Qt::LeftButton);
    }

    void Tick(std::initializer_list<int> positions) { fixture::Tick(*w, positions); }

    std::string ExportFile(const std::string& folder, int position) const {
        return folder + "/RecoveredEmail" + std::to_string(position) + ".eml";
    }

    // The file of each position holds the message of that row's item number.
    void VerifyExported(const std::string& folder, const std::vector<int>& positions) {
        for (int i : positions) {
            const int k = fixture::Text(*w, i, 0).toInt();
            const TEmail& r = w->Session.Emails()[static_cast<std::size_t>(k)];
            QCOMPARE(fixture::ReadAll(ExportFile(folder, i)), fixture::Stretch(r.FileName, r.MessageStart, r.MessageEnd));
        }
    }

private slots:
    void initTestCase() {
        TCorvaneApplication::ErrorBoxHook = [this](const QString& text) { errors << text; };
    }

    void init() {
        w = new TfrmMain;
        w->ChooseExportFolder = [this](const std::string& title, const std::string& initial, bool allowNew) {
            chooserCalls.push_back(title + "|" + initial + "|" + (allowNew ? "true" : "false"));
            return answer;
        };
        w->InformationBoxHook = [this](const QString& text) { informations << text; };
        w->show();
        QVERIFY(QTest::qWaitForWindowExposed(w));
    }

    void cleanup() {
        delete w;
        w = nullptr;
    }

    void tickedRowsGoToFilesNumberedByTheirPosition() {
        const TEmailArray records = fixture::WriteMessageFile("msg0.tmp", SomeMessages(8, "first"));
        // Gaps in the numbers, as the keyword filter leaves them, then sorted.
        fixture::ShowRecords(*w, records, {0, 1, 3, 4, 6, 7});
        fixture::ClickHeading(*w, corvane::session::ColFrom);
        QCOMPARE(fixture::Column(*w, 0).size(), 6);
        QVERIFY(fixture::Column(*w, 0) != (QStringList{"0", "1", "3", "4", "6", "7"}));
        Tick({0, 2, 5});

        answer = fixture::NewFolder("out-positions");
        Export();
        QCOMPARE(chooserCalls, std::vector<std::string>{"Select Where To Save Recovered Emails||true"});
        QCOMPARE(fixture::FilesIn(answer),
                 (std::vector<std::string>{"RecoveredEmail0.eml", "RecoveredEmail2.eml", "RecoveredEmail5.eml"}));
        VerifyExported(answer, {0, 2, 5});
        QCOMPARE(informations, QStringList{kExported});
        QVERIFY(errors.isEmpty());
        // The export changes nothing in the window.
        QCOMPARE(fixture::CheckState(*w, 2), Qt::Checked);
        QCOMPARE(fixture::CheckState(*w, 1), Qt::Unchecked);

        // Reversed, the same ticked messages take other numbers; files of the
        // same name are replaced, the others stay.
        const QString numberAtZero = fixture::Text(*w, 0, 0);
        fixture::ClickHeading(*w, corvane::session::ColFrom);
        QCOMPARE(fixture::Text(*w, 5, 0), numberAtZero);
        Export();
        QCOMPARE(fixture::FilesIn(answer),
                 (std::vector<std::string>{"RecoveredEmail0.eml", "RecoveredEmail2.eml", "RecoveredEmail3.eml",
                                           "RecoveredEmail5.eml"}));
        VerifyExported(answer, {0, 3, 5});
        QCOMPARE(informations, QStringList{kExported});
    }

    void nothingTickedStillTestsTheFolderAndReports() {
        answer = fixture::NewFolder("out-nothing");
        Export();  // no rows at all
        QCOMPARE(chooserCalls.size(), std::size_t{1});
        QCOMPARE(informations, QStringList{kExported});
        QVERIFY(fixture::FilesIn(answer).empty());

        fixture::ShowRecords(*w, fixture::WriteMessageFile("msg2.tmp", SomeMessages(3, "unticked")));
        Export();
        QCOMPARE(informations, QStringList{kExported});
        QVERIFY(fixture::FilesIn(answer).empty());
        QVERIFY(errors.isEmpty());
    }

    void aCancelledChooserEndsTheExport() {
        fixture::ShowRecords(*w, fixture::WriteMessageFile("msg3.tmp", SomeMessages(2, "cancel")));
        QTest::mouseClick(w->sbSelectAll, Qt::LeftButton);
        answer.clear();
        Export();
        QCOMPARE(chooserCalls.size(), std::size_t{1});
        QVERIFY(informations.isEmpty());
        QVERIFY(errors.isEmpty());
    }

    void aFolderThatCannotBeWrittenGetsOnlyTheErrorBox() {
        fixture::ShowRecords(*w, fixture::WriteMessageFile("msg4.tmp", SomeMessages(3, "blocked")));
        QTest::mouseClick(w->sbSelectAll, Qt::LeftButton);

        // A "folder" below a regular file: nothing can be made in it, not even by root.
        const std::string plain = fixture::NewFolder("out-blocked") + "/plain-file";
        fixture::WriteAll(plain, "not a folder");
        answer = plain + "/inside";
        Export();
        QCOMPARE(errors, QStringList{kNotWriteable});
        QVERIFY(informations.isEmpty());
        QCOMPARE(fixture::ReadAll(plain), std::string("not a folder"));

        // A folder removed after it was chosen.
        const std::string removed = fixture::NewFolder("out-removed");
        w->ChooseExportFolder = [removed](const std::string&, const std::string&, bool) {
            stdfs::remove_all(removed);
            return removed;
        };
        Export();
        QCOMPARE(errors, QStringList{kNotWriteable});
        QVERIFY(informations.isEmpty());
        QVERIFY(!stdfs::exists(removed));
    }

    void aRemovedMessageFileEndsTheExportWithItsError() {
        TEmailArray records = fixture::WriteMessageFile("msg8.tmp", SomeMessages(2, "kept"));
        const TEmailArray second = fixture::WriteMessageFile("msg9.tmp", SomeMessages(2, "removed"));
        records.insert(records.end(), second.begin(), second.end());
        fixture::ShowRecords(*w, records);
        QTest::mouseClick(w->sbSelectAll, Qt::LeftButton);
        QVERIFY(corvane::fs::RemoveFile(second[0].FileName));
        answer = fixture::NewFolder("out-gone");
        Export();
        QCOMPARE(errors.size(), 1);
        QVERIFY2(errors.first().startsWith("Cannot open file \"" + QString::fromStdString(second[0].FileName) + "\". "),
                 qPrintable(errors.first()));
        QVERIFY(informations.isEmpty());
        // What was written before stays; nothing after the failing row.
        QCOMPARE(fixture::FilesIn(answer), (std::vector<std::string>{"RecoveredEmail0.eml", "RecoveredEmail1.eml"}));
        VerifyExported(answer, {0, 1});
    }

    // The toolkit's folder dialog that BrowseForFolder shows on this system.
    void theFolderChooserShowsTitleAndInitialFolder() {
        const std::string start = fixture::NewFolder("chooser-start");
        const std::string target = fixture::NewFolder("chooser-start/target");
        QString seenTitle;
        QString seenDirectory;
        auto answerDialog = [&](bool accept) {
            fixture::AnswerNextModal<QFileDialog>(this, [&, accept](QFileDialog* dialog) {
                seenTitle = dialog->windowTitle();
                seenDirectory = dialog->directory().absolutePath();
                if (accept) {
                    dialog->setDirectory(QString::fromStdString(target));
                    static_cast<QDialog*>(dialog)->accept();  // the file dialog's own accept
                } else {
                    dialog->reject();
                }
            });
        };

        answerDialog(false);
        QCOMPARE(BrowseForFolder("Pick A Folder", start, true), std::string());
        QCOMPARE(seenTitle, QString("Pick A Folder"));
        QCOMPARE(seenDirectory, QString::fromStdString(start));

        answerDialog(true);
        QCOMPARE(BrowseForFolder("Another Title", start, false), target);
        QCOMPARE(seenTitle, QString("Another Title"));
    }
};

CORVANE_WINDOW_TEST_MAIN(TestExport)
#include "tst_export.moc"
