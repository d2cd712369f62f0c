// Long work in the real main window: the .eml export, the mbox export, the
// keyword filter, the read and the decoding of the texts run under the wait
// window, keep the event loop running, and stop at the press of its Cancel
// button without losing anything. Time is no part of it: the wait window
// comes at once (a delay of 0), and Cancel is pressed at a chosen report of
// the work, through the window's report hook.

#include <QApplication>
#include <QMetaObject>
#include <QTest>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "MessageListFixture.h"
#include "emailexport/emailexport.h"
#include "frmMainWindow/qt/CorvaneApplication.h"
#include "frmMainWindow/qt/frmMainWindow.h"
#include "support/DbxFixture.h"
#include "waitfrm/waitfrm.h"

namespace {

using corvane::testsupport::TDbxWriter;

constexpr int kMessages = 1500;

// A message as Outlook Express keeps it; every third body holds "needle".
std::string LargeFolderMessage(int i) {
    std::string text = "From: sender" + std::to_string(i % 97) + "@example.org\r\nTo: team@example.org\r\nSubject: Report " +
                       std::to_string(i) + "\r\nDate: Mon, 2 May 2005 10:00:00 +0200\r\n\r\n";
    for (int line = 0; line < 10 + i % 7; ++line) text += std::string(60, static_cast<char>('a' + (i + line) % 26)) + "\r\n";
    if (i % 3 == 0) text += "the needle of " + std::to_string(i) + "\r\n";
    return text;
}

std::string WriteFolder(const std::string& name, int messages) {
    TDbxWriter dbx(static_cast<std::uint64_t>(messages));
    for (int i = 0; i < messages; ++i) dbx.AddMessage(LargeFolderMessage(i));
    const std::string path = fixture::NewFolder("folders-" + name) + "/" + name;
    dbx.Save(path);
    return path;
}

TfrmWait* ShownWaitWindow() {
    for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* wait = qobject_cast<TfrmWait*>(w); wait != nullptr && wait->isVisible()) return wait;
    return nullptr;
}

// What the work's reports saw.
struct TWatch {
    int reports = 0;
    std::vector<int> bar;        // the bar's value at each report while the wait window was shown
    bool eventsRan = false;      // an event posted before the work ran during it
    bool cancelled = false;
};

}  // namespace

class TestLongWork : public QObject {
    Q_OBJECT

    TfrmMain* w = nullptr;
    QStringList errors, informations;
    std::string large;
    std::string folder;   // what the export's folder chooser returns
    QString mboxFile;     // what the mbox dialog returns

    // Runs work with a watch on its reports; cancelAt says at which report
    // (given its number and stage) btnCancel is pressed.
    TWatch Watch(const std::function<void()>& work,
                 const std::function<bool(std::uint64_t, const std::string&)>& cancelAt = {}) {
        TWatch watch;
        bool posted = false;
        QMetaObject::invokeMethod(w, [&posted] { posted = true; }, Qt::QueuedConnection);
        w->ReportHook = [&](corvane::session::TLongWork&, std::uint64_t n, const char* stage, std::int64_t, std::int64_t) {
            ++watch.reports;
            if (posted) watch.eventsRan = true;
            TfrmWait* wait = ShownWaitWindow();
            if (wait == nullptr) return;
            watch.bar.push_back(wait->pbwait->value());
            if (cancelAt && !watch.cancelled && cancelAt(n, stage)) {
                QVERIFY(wait->btnCancel->isVisible());
                QTest::mouseClick(wait->btnCancel, Qt::LeftButton);
                watch.cancelled = true;
            }
        };
        errors.clear();
        informations.clear();
        TfrmMain::Guarded(work);
        w->ReportHook = nullptr;
        return watch;
    }

    // The bar moved forward while the window was shown.
    static bool BarMoved(const TWatch& watch) {
        return watch.bar.size() >= 2 && watch.bar.back() > watch.bar.front();
    }

    void LoadLarge() {
        w->loadDbxFile(large);
        QCOMPARE(fixture::RowCount(*w), kMessages);
        w->sbSelectAllClick();
    }

    // Each file of the folder holds its row's message, whole.
    void VerifyFilesWhole(const std::string& out) {
        for (const std::string& name : fixture::FilesIn(out)) {
            const int i = std::stoi(name.substr(std::string("RecoveredEmail").size()));
            QCOMPARE(fixture::ReadAll(out + "/" + name), corvane::testsupport::MessageOf(fixture::RecordOfRow(*w, i)));
        }
    }

private slots:
    void initTestCase() {
        TCorvaneApplication::ErrorBoxHook = [this](const QString& text) { errors << text; };
        large = WriteFolder("Large.dbx", kMessages);
    }

    void init() {
        w = new TfrmMain;
        // The wait window at the first report, the events at every one.
        w->Timing.WaitWindowDelay = std::chrono::milliseconds(0);
        w->Timing.EventInterval = std::chrono::milliseconds(0);
        w->ChooseExportFolder = [this](const std::string&, const std::string&, bool) { return folder; };
        w->ChooseMboxFile = [this] { return mboxFile; };
        w->InformationBoxHook = [this](const QString& text) { informations << text; };
        w->show();
        QVERIFY(QTest::qWaitForWindowExposed(w));
    }

    void cleanup() {
        delete w;
        w = nullptr;
    }

    void aCompleteExportKeepsTheLoopRunningAndWritesTodaysFiles() {
        LoadLarge();
        folder = fixture::NewFolder("out-complete");
        const TWatch watch = Watch([this] { w->sbSaveEmailClick(); });
        QCOMPARE(informations, QStringList{"Emails Succesfully Exported To Folder"});
        QVERIFY(errors.isEmpty());
        QVERIFY2(watch.eventsRan, "the event loop did not run during the export");
        QVERIFY2(BarMoved(watch), "no wait window with a moving bar");
        QVERIFY(ShownWaitWindow() == nullptr && w->isEnabled() && !w->Busy());

        // The same files as the export without a window writes them.
        const std::string reference = fixture::NewFolder("out-reference");
        QVERIFY(corvane::mail::ExportEmails(w->Session.TickedItems(), reference).Failures.empty());
        const std::vector<std::string> names = fixture::FilesIn(folder);
        QCOMPARE(names.size(), std::size_t{kMessages});
        QCOMPARE(names, fixture::FilesIn(reference));
        for (const std::string& name : names)
            QVERIFY(fixture::ReadAll(folder + "/" + name) == fixture::ReadAll(reference + "/" + name));
    }

    void cancelStopsTheExportWithWholeFilesAndSaysHowMany() {
        LoadLarge();
        folder = fixture::NewFolder("out-cancel");
        // The export reports before each message: pressed at the tenth, nine are written.
        const TWatch watch = Watch([this] { w->sbSaveEmailClick(); }, [](std::uint64_t n, const std::string&) { return n == 10; });
        QVERIFY(watch.cancelled);
        QCOMPARE(fixture::FilesIn(folder).size(), std::size_t{9});
        QCOMPARE(informations, QStringList{QString("Export cancelled: 9 of %1 ticked emails were written to the folder.")
                                               .arg(kMessages)});
        QVERIFY(errors.isEmpty());
        VerifyFilesWhole(folder);
        QVERIFY(w->isEnabled() && !w->Busy());
    }

    void cancelLeavesAnExistingMboxAsItWas() {
        LoadLarge();
        const std::string out = fixture::NewFolder("mbox-cancel");
        mboxFile = QString::fromStdString(out + "/kept.mbox");
        fixture::WriteAll(mboxFile.toStdString(), "From old Mon Jan  2 15:04:05 2006\nold mail\n\n");
        const TWatch watch = Watch([this] { w->mnuExportMboxClick(); }, [](std::uint64_t n, const std::string&) { return n == 100; });
        QVERIFY(watch.cancelled);
        QVERIFY(BarMoved(watch));
        QCOMPARE(fixture::FilesIn(out), std::vector<std::string>{"kept.mbox"});
        QCOMPARE(fixture::ReadAll(mboxFile.toStdString()), std::string("From old Mon Jan  2 15:04:05 2006\nold mail\n\n"));
        QCOMPARE(informations, QStringList{QString("Export cancelled: %1 was not written.").arg(mboxFile)});
        QVERIFY(errors.isEmpty());

        // Not stopped, the file is replaced by every ticked message.
        Watch([this] { w->mnuExportMboxClick(); });
        QCOMPARE(informations, QStringList{QString("%1 emails exported to %2").arg(kMessages).arg(mboxFile)});
        QCOMPARE(fixture::FilesIn(out), std::vector<std::string>{"kept.mbox"});
    }

    void cancelLeavesTheListAsBeforeTheFilter() {
        LoadLarge();
        w->lvFoundEmailsColumnClick(corvane::session::ColSubject);
        const QStringList before = fixture::Column(*w, 0);
        w->txtFilter->setText("needle");
        // Stopped while the bodies are searched (the bar shows their share).
        const TWatch stopped = Watch([this] { w->btnApplyFilterClick(); }, [](std::uint64_t, const std::string& stage) {
            return stage == corvane::mail::kFilterStage && ShownWaitWindow()->FProcessbar == nullptr;
        });
        QVERIFY(stopped.cancelled);
        QVERIFY(errors.isEmpty());
        QCOMPARE(fixture::Column(*w, 0), before);
        QVERIFY(!w->Session.Options().FilterOn && w->btnApplyFilter->isEnabled() && !w->btnClearFilter->isEnabled());
        QVERIFY(w->txtFilter->isEnabled());

        const TWatch done = Watch([this] { w->btnApplyFilterClick(); });
        QVERIFY(done.eventsRan && BarMoved(done));
        QCOMPARE(fixture::RowCount(*w), kMessages / 3);
        QVERIFY(w->Session.Options().FilterOn);
    }

    void cancelStopsTheReadAndLeavesTheList() {
        const std::string small = fixture::NewFolder("folders-small") + "/Small.dbx";
        {
            TDbxWriter dbx;
            for (int i = 0; i < 5; ++i) dbx.AddMessage(LargeFolderMessage(i));
            dbx.Save(small);
        }
        w->loadDbxFile(small);
        const QStringList subjects = fixture::Column(*w, corvane::session::ColSubject);
        const TWatch watch = Watch([this] { w->loadDbxFile(large); }, [](std::uint64_t n, const std::string&) { return n == 3; });
        QVERIFY(watch.cancelled);
        QVERIFY(errors.isEmpty());
        QCOMPARE(w->Session.CurrentFile(), small);
        QCOMPARE(fixture::Column(*w, corvane::session::ColSubject), subjects);
    }

    void decodingTextsIsLongWorkThatCanStop() {
        LoadLarge();
        w->Settings.File = QString::fromStdString(fixture::NewFolder("settings-decode") + "/settings.ini");
        const auto tickDecode = [this] {
            w->cbdecodetexts->setChecked(true);
            w->cbdecodetextsClick();
        };
        const TWatch stopped = Watch(tickDecode, [](std::uint64_t n, const std::string&) { return n == 100; });
        QVERIFY(stopped.cancelled && BarMoved(stopped));
        QVERIFY(errors.isEmpty() && informations.isEmpty());
        QVERIFY(!w->cbdecodetexts->isChecked() && w->Session.Decoded().empty());
        w->LoadSettings();
        QVERIFY(!w->cbdecodetexts->isChecked());

        const TWatch done = Watch(tickDecode);
        QVERIFY(done.eventsRan && BarMoved(done));
        QVERIFY(w->cbdecodetexts->isChecked());
        QCOMPARE(w->Session.Decoded().size(), std::size_t{kMessages});
        QCOMPARE(fixture::Text(*w, kMessages - 1, corvane::session::ColSubject),
                 QString::fromStdString("Report " + std::to_string(kMessages - 1)));
        w->cbdecodetexts->setChecked(false);
        w->cbdecodetextsClick();
    }

    void closingDuringWorkAsksToStopFirst() {
        LoadLarge();
        folder = fixture::NewFolder("out-close");
        QStringList asked;
        bool answer = false;
        w->ConfirmCancelHook = [&](const QString& question) {
            asked << question;
            return answer;
        };
        // Refused: the export goes on to its end and the window stays.
        bool closed = true;
        Watch([this] { w->sbSaveEmailClick(); }, [&](std::uint64_t n, const std::string&) {
            if (n == 5) closed = w->close();
            return false;
        });
        QCOMPARE(asked, QStringList{"The work is still running. Stop it and close the window?"});
        QVERIFY(!closed);
        QCOMPARE(informations, QStringList{"Emails Succesfully Exported To Folder"});
        QCOMPARE(fixture::FilesIn(folder).size(), std::size_t{kMessages});
        QCoreApplication::processEvents();
        QVERIFY(w->isVisible());

        // Accepted: the work stops, no message follows, and the window closes.
        asked.clear();
        answer = true;
        folder = fixture::NewFolder("out-close-stop");
        Watch([this] { w->sbSaveEmailClick(); }, [&](std::uint64_t n, const std::string&) {
            if (n == 5) w->close();
            return false;
        });
        QCOMPARE(asked.size(), 1);
        QCOMPARE(fixture::FilesIn(folder).size(), std::size_t{4});
        QVERIFY(informations.isEmpty() && errors.isEmpty());
        QCoreApplication::processEvents();  // the close was posted for after the work
        QVERIFY(!w->isVisible());
    }
};

CORVANE_WINDOW_TEST_MAIN(TestLongWork)

#include "tst_longwork.moc"
