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
#include "frmMainWindow/CorvaneApplication.h"
#include "frmMainWindow/frmMainWindow.h"
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
            const TEmail& r = w->Emails[static_cast<std::size_t>(k)];
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
        fixture::ClickHeading(*w, TfrmMain::ColFrom);
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
        fixture::ClickHeading(*w, TfrmMain::ColFrom);
        QCOMPARE(fixture::Text(*w, 5, 0), numberAtZero);
        Export();
        QCOMPARE(fixture::FilesIn(answer),
                 (std::vector<std::string>{"RecoveredEmail0.eml", "RecoveredEmail2.eml", "RecoveredEmail3.eml",
                                           "RecoveredEmail5.eml"}));
        VerifyExported(answer, {0, 3, 5});
        QCOMPARE(informations, QStringList{kExported});
    }

    void aLongerFileOfTheSameNameIsCutToTheMessage() {
        const TEmailArray records = fixture::WriteMessageFile("msg1.tmp", SomeMessages(2, "short"));
        fixture::ShowRecords(*w, records);
        QTest::mouseClick(w->sbSelectAll, Qt::LeftButton);
        answer = fixture::NewFolder("out-overwrite");
        fixture::WriteAll(ExportFile(answer, 1), std::string(100000, 'x'));
        Export();
        VerifyExported(answer, {0, 1});
        QCOMPARE(informations, QStringList{kExported});
    }

    // Links at the files' names are replaced, never written through: the
    // files they lead to keep their bytes; no temporary file is left.
    void linksInTheWayAreReplacedNotWrittenThrough() {
        const TEmailArray records = fixture::WriteMessageFile("msg10.tmp", SomeMessages(2, "links"));
        fixture::ShowRecords(*w, records);
        QTest::mouseClick(w->sbSelectAll, Qt::LeftButton);
        answer = fixture::NewFolder("out-links");
        const std::string victims = fixture::NewFolder("out-links-victims");
        fixture::WriteAll(victims + "/soft", "soft victim");
        fixture::WriteAll(victims + "/hard", "hard victim");
        stdfs::create_symlink(victims + "/soft", ExportFile(answer, 0));
        stdfs::create_hard_link(victims + "/hard", ExportFile(answer, 1));
        Export();
        QCOMPARE(informations, QStringList{kExported});
        VerifyExported(answer, {0, 1});
        QVERIFY(!stdfs::is_symlink(ExportFile(answer, 0)));
        QCOMPARE(fixture::ReadAll(victims + "/soft"), std::string("soft victim"));
        QCOMPARE(fixture::ReadAll(victims + "/hard"), std::string("hard victim"));
        QCOMPARE(fixture::FilesIn(answer), (std::vector<std::string>{"RecoveredEmail0.eml", "RecoveredEmail1.eml"}));
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

    void aFolderWithoutWritePermission() {
        if (::geteuid() == 0) QSKIP("root writes into folders without write permission");
        fixture::ShowRecords(*w, fixture::WriteMessageFile("msg5.tmp", SomeMessages(2, "readonly")));
        QTest::mouseClick(w->sbSelectAll, Qt::LeftButton);
        answer = fixture::NewFolder("out-readonly");
        ::chmod(answer.c_str(), 0500);
        Export();
        ::chmod(answer.c_str(), 0700);
        QCOMPARE(errors, QStringList{kNotWriteable});
        QVERIFY(informations.isEmpty());
        QVERIFY(fixture::FilesIn(answer).empty());
    }

    void theUsersCheckDatIsLeftAlone() {
        fixture::ShowRecords(*w, fixture::WriteMessageFile("msg6.tmp", SomeMessages(2, "probe")));
        QTest::mouseClick(w->sbSelectAll, Qt::LeftButton);
        answer = fixture::NewFolder("out-probe");
        fixture::WriteAll(answer + "/check.DAT", "the user's own data");
        Export();
        QCOMPARE(fixture::ReadAll(answer + "/check.DAT"), std::string("the user's own data"));
        QCOMPARE(fixture::FilesIn(answer),
                 (std::vector<std::string>{"RecoveredEmail0.eml", "RecoveredEmail1.eml", "check.DAT"}));
        VerifyExported(answer, {0, 1});
        QCOMPARE(informations, QStringList{kExported});

        // The next free name is taken too: still nothing of the user's touched.
        fixture::WriteAll(answer + "/check1.DAT", "more of the user's data");
        Export();
        QCOMPARE(fixture::ReadAll(answer + "/check.DAT"), std::string("the user's own data"));
        QCOMPARE(fixture::ReadAll(answer + "/check1.DAT"), std::string("more of the user's data"));
        QCOMPARE(fixture::FilesIn(answer).size(), std::size_t{4});
        QCOMPARE(informations, QStringList{kExported});
    }

    void aFileThatCannotBeWrittenIsReportedAndTheOthersAreWritten() {
        fixture::ShowRecords(*w, fixture::WriteMessageFile("msg7.tmp", SomeMessages(4, "partly")));
        Tick({0, 1, 3});
        answer = fixture::NewFolder("out-partly");
        // A folder holding the name of the second export file.
        stdfs::create_directory(ExportFile(answer, 1));
        Export();
        QVERIFY(informations.isEmpty());
        QCOMPARE(errors.size(), 1);
        QVERIFY2(errors.first().contains("1 of 3"), qPrintable(errors.first()));
        QVERIFY2(errors.first().contains(QString::fromStdString(ExportFile(answer, 1))), qPrintable(errors.first()));
        QVERIFY(!errors.first().contains("RecoveredEmail3"));
        VerifyExported(answer, {0, 3});
        QVERIFY(stdfs::is_directory(ExportFile(answer, 1)));
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

    void everyMessageOfTheSampleFolderFileByteForByte() {
        const QString demo = QFINDTESTDATA("../../samples/demo.dbx");
        QVERIFY(!demo.isEmpty());
        w->cbdeletedemails->setChecked(true);
        w->loadDbxFile(TfrmMain::ToEnginePath(demo));
        const int rows = fixture::RowCount(*w);
        QVERIFY(rows > 0);
        QCOMPARE(static_cast<std::size_t>(rows), w->Emails.size());
        fixture::ClickHeading(*w, TfrmMain::ColSubject);
        QTest::mouseClick(w->sbSelectAll, Qt::LeftButton);
        answer = fixture::NewFolder("out-demo");
        Export();
        QVERIFY(errors.isEmpty());
        QCOMPARE(informations, QStringList{kExported});
        QCOMPARE(fixture::FilesIn(answer).size(), static_cast<std::size_t>(rows));
        std::vector<int> all;
        for (int i = 0; i < rows; ++i) all.push_back(i);
        VerifyExported(answer, all);
    }

    // The toolkit's folder dialog that BrowseForFolder shows on this system.
    void theFolderChooserShowsTitleAndInitialFolder() {
        const std::string start = fixture::NewFolder("chooser-start");
        const std::string target = fixture::NewFolder("chooser-start/target");
        QString seenTitle;
        QString seenDirectory;
        auto answerDialog = [&](bool accept) {
            auto* poll = new QTimer(this);
            connect(poll, &QTimer::timeout, this, [&, poll, accept] {
                auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
                if (dialog == nullptr) return;
                poll->stop();
                poll->deleteLater();
                seenTitle = dialog->windowTitle();
                seenDirectory = dialog->directory().absolutePath();
                if (accept) {
                    dialog->setDirectory(QString::fromStdString(target));
                    static_cast<QDialog*>(dialog)->accept();  // the file dialog's own accept
                } else {
                    dialog->reject();
                }
            });
            poll->start(10);
        };

        answerDialog(false);
        QCOMPARE(BrowseForFolder("Pick A Folder", start, true), std::string());
        QCOMPARE(seenTitle, QString("Pick A Folder"));
        QCOMPARE(seenDirectory, QString::fromStdString(start));
        QCOMPARE(InitialFolder, start);

        answerDialog(true);
        QCOMPARE(BrowseForFolder("Another Title", start, false), target);
        QCOMPARE(seenTitle, QString("Another Title"));
        QCOMPARE(InitialFolder, start);
    }
};

CORVANE_WINDOW_TEST_MAIN(TestExport)
#include "tst_export.moc"
