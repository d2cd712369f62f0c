// Long work in the real main window on a folder file large enough to take
// over a second: the .eml export, the mbox export, the keyword filter, the
// read and the decoding of the texts run under the wait window, keep the event loop running, and stop at
// the press of its Cancel button without losing anything.

#include <QApplication>
#include <QElapsedTimer>
#include <QTest>
#include <QTimer>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "MessageListFixture.h"
#include "emailexport/emailexport.h"
#include "frmMainWindow/CorvaneApplication.h"
#include "frmMainWindow/frmMainWindow.h"
#include "support/DbxFixture.h"
#include "waitfrm/waitfrm.h"

namespace {

namespace stdfs = std::filesystem;
using corvane::testsupport::TDbxWriter;

// Enough messages that each operation lasts well past the wait window's delay.
constexpr int kMessages = 60000;

// A message as Outlook Express keeps it; every third body holds "needle".
std::string LargeFolderMessage(int i) {
    std::string text = "From: sender" + std::to_string(i % 97) + "@example.org\r\nTo: team@example.org\r\nSubject: Report " +
                       std::to_string(i) + "\r\nDate: Mon, 2 May 2005 10:00:00 +0200\r\n\r\n";
    for (int line = 0; line < 10 + i % 7; ++line) text += std::string(60, static_cast<char>('a' + (i + line) % 26)) + "\r\n";
    if (i % 3 == 0) text += "the needle of " + std::to_string(i) + "\r\n";
    return text;
}

std::string WriteFolder(const std::string& name, int messages, const std::string& tag) {
    TDbxWriter dbx(static_cast<std::uint64_t>(messages));
    for (int i = 0; i < messages; ++i) dbx.AddMessage(tag + LargeFolderMessage(i));
    const std::string path = fixture::NewFolder("folders-" + name) + "/" + name;
    dbx.Save(path);
    return path;
}

TfrmWait* ShownWaitWindow() {
    for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* wait = qobject_cast<TfrmWait*>(w); wait != nullptr && wait->isVisible()) return wait;
    return nullptr;
}

// What a watch of the work saw, every 10 ms while it ran.
struct TWatch {
    int ticks = 0;
    std::vector<int> bar;     // the bar's values while the wait window was shown
    bool cancelled = false;
    qint64 longestGap = 0;
};

}  // namespace

class TestLongWork : public QObject {
    Q_OBJECT

    TfrmMain* w = nullptr;
    QStringList errors, informations;
    std::string large, small;
    std::string folder;   // what the export's folder chooser returns
    QString mboxFile;     // what the mbox dialog returns

    // Runs work with a 10 ms timer ticking beside it; with cancelWhen, the
    // timer presses btnCancel once that holds while the wait window is shown.
    TWatch Watch(const std::function<void()>& work, const std::function<bool()>& cancelWhen = {}) {
        TWatch watch;
        QElapsedTimer clock;
        clock.start();
        qint64 last = 0;
        QTimer timer;
        timer.setInterval(10);
        connect(&timer, &QTimer::timeout, [&] {
            ++watch.ticks;
            watch.longestGap = std::max(watch.longestGap, clock.elapsed() - last);
            last = clock.elapsed();
            TfrmWait* wait = ShownWaitWindow();
            if (wait == nullptr) return;
            watch.bar.push_back(wait->pbwait->value());
            if (cancelWhen && !watch.cancelled && cancelWhen()) {
                QVERIFY(wait->btnCancel->isVisible());
                QTest::mouseClick(wait->btnCancel, Qt::LeftButton);
                watch.cancelled = true;
            }
        });
        timer.start();
        errors.clear();
        informations.clear();
        TfrmMain::Guarded(work);
        return watch;
    }

    // The bar moved forward while the window was shown.
    static bool BarMoved(const TWatch& watch) {
        return watch.bar.size() >= 2 && watch.bar.back() > watch.bar.front();
    }

    void LoadLarge() {
        if (w->CurrentFile != large || w->FilterOn) {
            w->btnClearFilterClick();
            w->loadDbxFile(large);
        }
        QCOMPARE(fixture::RowCount(*w), kMessages);
        w->sbSelectAllClick();
    }

    // Each file of the folder holds its row's message, whole.
    void VerifyFilesWhole(const std::string& out) {
        for (const std::string& name : fixture::FilesIn(out)) {
            const int i = std::stoi(name.substr(std::string("RecoveredEmail").size()));
            const TEmail& r = w->Emails[static_cast<std::size_t>(fixture::Text(*w, i, 0).toInt())];
            QCOMPARE(fixture::ReadAll(out + "/" + name), fixture::Stretch(r.FileName, r.MessageStart, r.MessageEnd));
        }
    }

private slots:
    void initTestCase() {
        TCorvaneApplication::ErrorBoxHook = [this](const QString& text) { errors << text; };
        large = WriteFolder("Large.dbx", kMessages, "");
        small = WriteFolder("Small.dbx", 40, "X-Small: yes\r\n");
    }

    void init() {
        w = new TfrmMain;
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
        QVERIFY2(watch.ticks >= 5, "the event loop did not run during the export");
        QVERIFY2(BarMoved(watch), "no wait window with a moving bar");
        QVERIFY(ShownWaitWindow() == nullptr && w->isEnabled() && !w->Busy());

        // The same files as the export without a window writes them.
        std::vector<corvane::mail::TExportItem> items;
        for (const auto& [i, k] : w->FoundEmails->TickedRows())
            items.push_back({static_cast<std::size_t>(i), &w->Emails[static_cast<std::size_t>(k)]});
        const std::string reference = fixture::NewFolder("out-reference");
        QVERIFY(corvane::mail::ExportEmails(items, reference).Failures.empty());
        const std::vector<std::string> names = fixture::FilesIn(folder);
        QCOMPARE(names.size(), std::size_t{kMessages});
        QCOMPARE(names, fixture::FilesIn(reference));
        for (const std::string& name : names)
            QVERIFY(fixture::ReadAll(folder + "/" + name) == fixture::ReadAll(reference + "/" + name));
    }

    void cancelStopsTheExportWithWholeFilesAndSaysHowMany() {
        LoadLarge();
        folder = fixture::NewFolder("out-cancel");
        const TWatch watch = Watch([this] { w->sbSaveEmailClick(); }, [] { return true; });
        QVERIFY(watch.cancelled);
        const std::size_t written = fixture::FilesIn(folder).size();
        QVERIFY(written > 0 && written < std::size_t{kMessages});
        QCOMPARE(informations, QStringList{QString("Export cancelled: %1 of %2 ticked emails were written to the folder.")
                                               .arg(written)
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
        int seen = 0;  // stopped once the bar has been seen twice
        const TWatch watch = Watch([this] { w->mnuExportMboxClick(); }, [&seen] { return ++seen >= 2; });
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
        w->lvFoundEmailsColumnClick(TfrmMain::ColSubject);
        const QStringList before = fixture::Column(*w, 0);
        w->txtFilter->setText("needle");
        // Stopped while the bodies are searched (the bar shows their share).
        const TWatch stopped = Watch([this] { w->btnApplyFilterClick(); },
                                     [] { return ShownWaitWindow()->FProcessbar == nullptr; });
        QVERIFY(stopped.cancelled);
        QVERIFY(errors.isEmpty());
        QCOMPARE(fixture::Column(*w, 0), before);
        QVERIFY(!w->FilterOn && w->btnApplyFilter->isEnabled() && !w->btnClearFilter->isEnabled());
        QVERIFY(w->txtFilter->isEnabled());

        const TWatch done = Watch([this] { w->btnApplyFilterClick(); });
        QVERIFY(done.ticks >= 5 && BarMoved(done));
        QCOMPARE(fixture::RowCount(*w), kMessages / 3);
        QVERIFY(w->FilterOn);
    }

    void cancelLeavesThePreviousListWithItsTexts() {
        // Stopped while the read of the large file writes its message files,
        // and once they are written, while the filter searches its bodies:
        // either way the small file's texts are as before.
        for (const bool duringTheFilter : {false, true}) {
            w->btnClearFilterClick();
            w->loadDbxFile(small);
            if (duringTheFilter) {
                w->txtFilter->setText("needle");
                w->btnApplyFilterClick();
            }
            const QStringList subjects = fixture::Column(*w, TfrmMain::ColSubject);
            std::vector<std::string> texts;
            for (const TEmail& r : w->Emails) texts.push_back(fixture::Stretch(r.FileName, r.MessageStart, r.MessageEnd));
            const std::string firstFile = w->Emails.front().FileName;
            const std::string firstFileBytes = fixture::ReadAll(firstFile);

            const TWatch watch = Watch([this] { w->loadDbxFile(large); }, [&] {
                if (fixture::ReadAll(firstFile) == firstFileBytes) return false;  // not yet overwritten
                return !duringTheFilter || ShownWaitWindow()->FProcessbar == nullptr;
            });
            QVERIFY(watch.cancelled);
            QVERIFY(errors.isEmpty());
            QCOMPARE(w->CurrentFile, small);
            QCOMPARE(fixture::Column(*w, TfrmMain::ColSubject), subjects);
            for (std::size_t i = 0; i < texts.size(); ++i) {
                const TEmail& r = w->Emails[i];
                QVERIFY2(fixture::Stretch(r.FileName, r.MessageStart, r.MessageEnd) == texts[i],
                         duringTheFilter ? "stopped during the filter" : "stopped during the read");
            }
        }
    }

    void decodingTextsIsLongWorkThatCanStop() {
        LoadLarge();
        w->SettingsFile = QString::fromStdString(fixture::NewFolder("settings-decode") + "/settings.ini");
        const auto tickDecode = [this] {
            w->cbdecodetexts->setChecked(true);
            w->cbdecodetextsClick();
        };
        int seen = 0;  // stopped once the bar has been seen twice
        const TWatch stopped = Watch(tickDecode, [&seen] { return ++seen >= 2; });
        QVERIFY(stopped.cancelled && BarMoved(stopped));
        QVERIFY(errors.isEmpty() && informations.isEmpty());
        QVERIFY(!w->cbdecodetexts->isChecked() && !w->FoundEmails->ShowsDecoded() && w->DecodedHeaders.empty());
        w->LoadSettings();
        QVERIFY(!w->cbdecodetexts->isChecked());

        const TWatch done = Watch(tickDecode);
        QVERIFY(done.ticks >= 5 && BarMoved(done));
        QVERIFY(w->cbdecodetexts->isChecked() && w->FoundEmails->ShowsDecoded());
        QCOMPARE(w->DecodedHeaders.size(), std::size_t{kMessages});
        QCOMPARE(w->DecodedHeaders.back().Subject, "Report " + std::to_string(kMessages - 1));
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
        Watch([this] { w->sbSaveEmailClick(); }, [&] {
            closed = w->close();
            return false;
        });
        QCOMPARE(asked.front(), QString("The work is still running. Stop it and close the window?"));
        QVERIFY(!closed);
        QCOMPARE(informations, QStringList{"Emails Succesfully Exported To Folder"});
        QCOMPARE(fixture::FilesIn(folder).size(), std::size_t{kMessages});
        QCoreApplication::processEvents();
        QVERIFY(w->isVisible());

        // Accepted: the work stops, no message follows, and the window closes.
        asked.clear();
        answer = true;
        folder = fixture::NewFolder("out-close-stop");
        Watch([this] { w->sbSaveEmailClick(); }, [&] {
            if (asked.isEmpty()) w->close();
            return false;
        });
        QCOMPARE(asked.size(), 1);
        QVERIFY(fixture::FilesIn(folder).size() < std::size_t{kMessages});
        QVERIFY(informations.isEmpty() && errors.isEmpty());
        QTRY_VERIFY(!w->isVisible());
    }
};

CORVANE_WINDOW_TEST_MAIN(TestLongWork)

#include "tst_longwork.moc"
