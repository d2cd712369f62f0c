// "Auto Scan For Files" on the real main window, with the search limited to
// a tree made for the test (or standing in for a failing one).

#include <QApplication>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "frmMainWindow/qt/CorvaneApplication.h"
#include "frmMainWindow/qt/frmMainWindow.h"
#include "sysdbxfiles/sysdbxfiles.h"
#include "platform/Errors.h"
#include "waitfrm/waitfrm.h"

namespace {

// What the stand-in searches see and do.
struct TScanProbe {
    std::string folder;           // walked with the real folder walk
    TfrmMain* window = nullptr;
    int runs = 0;
    bool waitShown = false;
    bool windowDisabled = false;
    bool fail = false;
    int repeats = 1;              // searches of the tree in one scan
} g_probe;

std::vector<TfrmWait*> WaitWindows() {
    std::vector<TfrmWait*> out;
    for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* wait = qobject_cast<TfrmWait*>(w)) out.push_back(wait);
    return out;
}

void SearchTestTree(TDbxFiles& files) {
    ++g_probe.runs;
    const auto waits = WaitWindows();
    g_probe.waitShown = waits.size() == 1 && waits.front()->isVisible();
    g_probe.windowDisabled = !g_probe.window->isEnabled();
    g_probe.window->sbAutoScanClick();  // a second scan cannot start meanwhile
    if (g_probe.fail) throw EInOutError("The device is not ready.");
    for (int i = 0; i < g_probe.repeats; ++i) files.SearchFolder(g_probe.folder, "*.dbx", true);
}

void MakeFile(const std::string& path) {
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::ofstream(path) << "x";
}

}  // namespace

class TestAutoScan : public QObject {
    Q_OBJECT

private:
    TfrmMain* w = nullptr;
    QTemporaryDir* dir = nullptr;
    QStringList errors;

    std::string Path(const std::string& relative) const { return dir->path().toStdString() + "/" + relative; }

    QStringList SystemFiles() const {
        QStringList texts;
        for (int i = 0; i < w->SystemFilesNode->childCount(); ++i) texts << w->SystemFilesNode->child(i)->text(0);
        return texts;
    }

    // The window is usable again: no wait window left, input enabled.
    void VerifyRestored() {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(WaitWindows().empty());
        QVERIFY(w->isEnabled());
        QVERIFY(!w->Busy());
    }

private slots:
    void initTestCase() {
        TCorvaneApplication::ErrorBoxHook = [this](const QString& text) { errors << text; };
    }

    void init() {
        errors.clear();
        dir = new QTemporaryDir;
        QVERIFY(dir->isValid());
        g_probe = TScanProbe{};
        g_probe.folder = dir->path().toStdString();
        w = new TfrmMain;
        w->Session.Search = &SearchTestTree;
        g_probe.window = w;
        w->show();
        QVERIFY(QTest::qWaitForWindowExposed(w));
    }

    void cleanup() {
        delete w;
        w = nullptr;
        delete dir;
        dir = nullptr;
    }

    void foundFilesHangUnderSystemFilesInSearchOrder() {
        MakeFile(Path("b/Inbox.dbx"));
        MakeFile(Path("a.DBX"));
        MakeFile(Path(".hidden/Sent Items.dbx"));
        MakeFile(Path("b/notes.txt"));
        w->sbAutoScan->click();

        QCOMPARE(g_probe.runs, 1);
        QVERIFY(g_probe.waitShown);
        QVERIFY(g_probe.windowDisabled);
        VerifyRestored();
        QVERIFY(errors.isEmpty());

        const QString r = dir->path() + "/";
        QCOMPARE(SystemFiles(), (QStringList{r + "a.DBX", r + ".hidden/Sent Items.dbx", r + "b/Inbox.dbx"}));
        for (int i = 0; i < w->SystemFilesNode->childCount(); ++i)
            QCOMPARE(w->SystemFilesNode->child(i)->icon(0).cacheKey(), w->ilIcons[corvane::session::IconFolderFile].cacheKey());
        QVERIFY(w->SystemFilesNode->isExpanded());
        QCOMPARE(w->DbxFilesNode->childCount(), 0);
        QCOMPARE(w->tvFiles->topLevelItemCount(), 2);
    }

    void aSecondScanAddsEveryPathAgain() {
        MakeFile(Path("x.dbx"));
        MakeFile(Path("sub/y.dbx"));
        w->sbAutoScan->click();
        w->sbAutoScan->click();
        const QString x = dir->path() + "/x.dbx", y = dir->path() + "/sub/y.dbx";
        QCOMPARE(SystemFiles(), (QStringList{x, y, x, y}));
        QCOMPARE(g_probe.runs, 2);
        VerifyRestored();
    }

    void noFolderFileLeavesTheTreeAsItWas() {
        MakeFile(Path("readme.txt"));
        w->sbAutoScan->click();
        QCOMPARE(g_probe.runs, 1);
        QCOMPARE(w->SystemFilesNode->childCount(), 0);
        QVERIFY(!w->SystemFilesNode->isExpanded());
        QVERIFY(errors.isEmpty());
        VerifyRestored();
    }

    void cancelStopsTheScanAndListsWhatItFound() {
        MakeFile(Path("sub/x.dbx"));
        g_probe.repeats = 50;
        // Cancel is pressed at the fifth report, as the second walk begins.
        w->ReportHook = [](corvane::session::TLongWork&, std::uint64_t n, const char*, std::int64_t, std::int64_t) {
            if (n != 5) return;
            for (TfrmWait* wait : WaitWindows())
                if (wait->btnCancel->isVisible()) QTest::mouseClick(wait->btnCancel, Qt::LeftButton);
        };
        w->sbAutoScan->click();
        QVERIFY(errors.isEmpty());
        const QStringList found = SystemFiles();
        QVERIFY(!found.isEmpty() && found.size() < g_probe.repeats);
        QCOMPARE(found.count(dir->path() + "/sub/x.dbx"), found.size());
        QVERIFY(w->SystemFilesNode->isExpanded());
        VerifyRestored();
    }

    void aFailedSearchIsShownAndLeavesTheWindowUsable() {
        MakeFile(Path("x.dbx"));
        g_probe.fail = true;
        w->sbAutoScan->click();
        QCOMPARE(errors, QStringList{"The device is not ready."});
        QCOMPARE(w->SystemFilesNode->childCount(), 0);
        QVERIFY(!w->SystemFilesNode->isExpanded());
        VerifyRestored();

        // The next scan works as usual.
        g_probe.fail = false;
        w->sbAutoScan->click();
        QCOMPARE(SystemFiles(), QStringList{dir->path() + "/x.dbx"});
        VerifyRestored();
    }
};

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    TCorvaneApplication app(argc, argv);
    TestAutoScan tc;
    return QTest::qExec(&tc, argc, argv);
}

#include "tst_autoscan.moc"
