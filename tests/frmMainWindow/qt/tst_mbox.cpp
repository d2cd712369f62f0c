// "Export Selected To Mbox File..." of the File menu in the real main window:
// the ticked rows in their present order into one mbox, the closing message,
// the errors, and the save dialog behind it.

#include <QFileDialog>
#include <QLineEdit>
#include <QTest>
#include <QSettings>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "MessageListFixture.h"
#include "frmMainWindow/qt/CorvaneApplication.h"
#include "frmMainWindow/qt/frmMainWindow.h"
#include "platform/Files.h"
#include "support/DbxFixture.h"

namespace stdfs = std::filesystem;
using fixture::TMessage;

namespace {

std::vector<TMessage> SomeMessages(int n, const std::string& tag) {
    return fixture::SomeMessages(n, tag, "\r\nFrom the garden\r\n>From a reply\r\nend\r\n");
}

}  // namespace

class TestMbox : public QObject {
    Q_OBJECT

private:
    TfrmMain* w = nullptr;
    QStringList errors;
    QStringList informations;
    int dialogCalls = 0;
    QString answer;  // what the save dialog returns

    void Export() {
        errors.clear();
        informations.clear();
        dialogCalls = 0;
        w->mnuExportMbox->trigger();
    }

    void Tick(std::initializer_list<int> positions) { fixture::Tick(*w, positions); }

    // The mbox of the rows at these positions, in this order.
    std::string ExpectedMbox(const std::vector<int>& positions) const {
        std::string mbox;
        for (int i : positions) {
            const int k = fixture::Text(*w, i, 0).toInt();
            mbox += corvane::testsupport::MboxEntry(w->Session.Emails()[static_cast<std::size_t>(k)]);
        }
        return mbox;
    }

    static QString Exported(int n, const QString& file) { return QString("%1 emails exported to %2").arg(n).arg(file); }

private slots:
    void initTestCase() {
        TCorvaneApplication::ErrorBoxHook = [this](const QString& text) { errors << text; };
    }

    void init() {
        w = new TfrmMain;
        w->ChooseMboxFile = [this] {
            ++dialogCalls;
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

    void theEntryStandsAboveExit() {
        QVERIFY(w->mnuExportMbox != nullptr);
        QCOMPARE(w->mnuExportMbox->objectName(), QString("mnuExportMbox"));
        QCOMPARE(w->mnuExportMbox->text(), QString("Export Selected To Mbox File..."));
        const QList<QAction*> entries = w->File1->actions();
        QCOMPARE(entries.size(), 4);
        // "Open Store Folder...", "Recover From Disk Image...", then the mbox export, then Exit
        QCOMPARE(entries[0], w->mnuOpenStore);
        QCOMPARE(entries[1], w->mnuRecoverImage);
        QCOMPARE(entries[2], w->mnuExportMbox);
        QCOMPARE(entries[3], w->Exit1);
    }

    void tickedRowsInTheirPresentOrder() {
        const TEmailArray records = fixture::WriteMessageFile("msg0.tmp", SomeMessages(8, "first"));
        fixture::ShowRecords(*w, records, {0, 1, 3, 4, 6, 7});
        fixture::ClickHeading(*w, corvane::session::ColFrom);
        QVERIFY(fixture::Column(*w, 0) != (QStringList{"0", "1", "3", "4", "6", "7"}));
        Tick({0, 2, 5});

        const std::string folder = fixture::NewFolder("mbox-order");
        answer = QString::fromStdString(folder + "/out.mbox");
        Export();
        QCOMPARE(dialogCalls, 1);
        QVERIFY2(errors.isEmpty(), qPrintable(errors.join("; ")));
        QCOMPARE(informations, QStringList{Exported(3, answer)});
        QCOMPARE(fixture::ReadAll(folder + "/out.mbox"), ExpectedMbox({0, 2, 5}));
        QCOMPARE(fixture::FilesIn(folder), std::vector<std::string>{"out.mbox"});
        // The export changes nothing in the window.
        QCOMPARE(fixture::CheckState(*w, 2), Qt::Checked);
        QCOMPARE(fixture::CheckState(*w, 1), Qt::Unchecked);

        // Sorted the other way, the same messages come in the other order and
        // the file is replaced.
        fixture::ClickHeading(*w, corvane::session::ColFrom);
        Export();
        QCOMPARE(informations, QStringList{Exported(3, answer)});
        QCOMPARE(fixture::ReadAll(folder + "/out.mbox"), ExpectedMbox({0, 3, 5}));
        QCOMPARE(fixture::FilesIn(folder), std::vector<std::string>{"out.mbox"});
    }

    void nothingTickedGivesAnEmptyFile() {
        fixture::ShowRecords(*w, fixture::WriteMessageFile("msg1.tmp", SomeMessages(3, "unticked")));
        const std::string folder = fixture::NewFolder("mbox-nothing");
        answer = QString::fromStdString(folder + "/none.mbox");
        Export();
        QVERIFY(errors.isEmpty());
        QCOMPARE(informations, QStringList{Exported(0, answer)});
        QCOMPARE(fixture::ReadAll(folder + "/none.mbox"), std::string());
        QVERIFY(stdfs::is_regular_file(folder + "/none.mbox"));
    }

    void aCancelledDialogEndsTheExport() {
        fixture::ShowRecords(*w, fixture::WriteMessageFile("msg2.tmp", SomeMessages(2, "cancel")));
        QTest::mouseClick(w->sbSelectAll, Qt::LeftButton);
        answer.clear();
        Export();
        QCOMPARE(dialogCalls, 1);
        QVERIFY(informations.isEmpty());
        QVERIFY(errors.isEmpty());
    }

    void aFolderThatCannotBeWrittenShowsTheError() {
        fixture::ShowRecords(*w, fixture::WriteMessageFile("msg3.tmp", SomeMessages(2, "blocked")));
        QTest::mouseClick(w->sbSelectAll, Qt::LeftButton);
        const std::string plain = fixture::NewFolder("mbox-blocked") + "/plain-file";
        fixture::WriteAll(plain, "not a folder");
        answer = QString::fromStdString(plain + "/out.mbox");
        Export();
        QVERIFY(informations.isEmpty());
        QCOMPARE(errors.size(), 1);
        QVERIFY2(errors.first().startsWith("Cannot create file \"" + answer + "\". "), qPrintable(errors.first()));
        QCOMPARE(fixture::ReadAll(plain), std::string("not a folder"));
    }

    // The folder file the list came from, another folder file or a file
    // named *.dbx is never replaced; the error says so and nothing is written.
    // The toolkit's save dialog that runs when no test answers for it.
    void theSaveDialogOffersTheDefaultNameAndFilter() {
        fixture::ShowRecords(*w, fixture::WriteMessageFile("msg6.tmp", SomeMessages(2, "dialog")));
        Tick({1});
        const std::string folder = fixture::NewFolder("mbox-dialog");
        // The dialog starts in the folder the file is chosen in: a dialog
        // still loading another folder could take back the name chosen.
        QSettings().setValue(corvane::session::kExportFolderSetting, QString::fromStdString(folder));
        w->ChooseMboxFile = nullptr;
        QString seenTitle, seenName;
        QStringList seenFilters;
        auto answerDialog = [&](bool accept) {
            fixture::AnswerNextModal<QFileDialog>(this, [&, accept](QFileDialog* dialog) {
                seenTitle = dialog->windowTitle();
                seenFilters = dialog->nameFilters();
                auto* name = dialog->findChild<QLineEdit*>("fileNameEdit");
                seenName = name != nullptr ? name->text() : QString();
                if (accept) {
                    // Typed as a user would: the name field is what the dialog takes.
                    const QString chosen = QString::fromStdString(folder + "/chosen.mbox");
                    if (name != nullptr) name->setText(chosen);
                    dialog->selectFile(chosen);
                    static_cast<QDialog*>(dialog)->accept();
                } else {
                    dialog->reject();
                }
            });
        };

        answerDialog(false);
        Export();
        QCOMPARE(seenTitle, QString("Export Selected To Mbox File"));
        QCOMPARE(seenFilters, QStringList{"Mbox Mail File (*.mbox)"});
        QCOMPARE(seenName, QString("RecoveredEmails.mbox"));
        QVERIFY(informations.isEmpty());
        QVERIFY(fixture::FilesIn(folder).empty());

        answerDialog(true);
        Export();
        QVERIFY2(errors.isEmpty(), qPrintable(errors.join("; ")));
        const QString chosen = QString::fromStdString(folder + "/chosen.mbox");
        QCOMPARE(informations, QStringList{Exported(1, chosen)});
        QCOMPARE(fixture::ReadAll(folder + "/chosen.mbox"), ExpectedMbox({1}));
    }
};

CORVANE_WINDOW_TEST_MAIN(TestMbox)
#include "tst_mbox.moc"
