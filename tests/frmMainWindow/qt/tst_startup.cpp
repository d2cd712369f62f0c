// The window as a desktop program: its command line (help and version without
// a display, unknown options), folder files given as arguments or dropped on
// the window, and the folders its dialogs remember between runs.

#include <QApplication>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QFileDialog>
#include <QMimeData>
#include <QProcess>
#include <QProcessEnvironment>
#include <QSettings>
#include <QTest>
#include <QTimer>
#include <QUrl>

#include <memory>
#include <string>

#include "MessageListFixture.h"
#include "frmMainWindow/qt/CorvaneApplication.h"
#include "frmMainWindow/qt/frmMainWindow.h"
#include "support/DbxFixture.h"

namespace {

using corvane::testsupport::TDbxWriter;

struct TRun {
    int Status = -1;
    QString Out, Err;
};

// Runs a program to its end with the environment given.
TRun Run(const QString& program, const QStringList& arguments, const QProcessEnvironment& environment) {
    QProcess process;
    process.setProcessEnvironment(environment);
    process.start(program, arguments);
    TRun run;
    if (!process.waitForFinished(60000)) return run;
    run.Status = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    run.Out = QString::fromLocal8Bit(process.readAllStandardOutput());
    run.Err = QString::fromLocal8Bit(process.readAllStandardError());
    return run;
}

// An environment without any display: a window would have to give up.
QProcessEnvironment NoDisplay() {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove("DISPLAY");
    environment.remove("WAYLAND_DISPLAY");
    environment.insert("QT_QPA_PLATFORM", "xcb");
    return environment;
}

// A folder file of `count` live messages, subjects "<tag> 0", "<tag> 1", ...
QString WriteFolderFile(const QString& folder, const QString& name, int count, const std::string& tag) {
    TDbxWriter dbx;
    for (int i = 0; i < count; ++i) {
        const std::string k = std::to_string(i);
        dbx.AddMessage("From: a" + k + "@example.org\r\nTo: b@example.org\r\nSubject: " + tag + " " + k +
                       "\r\nDate: Mon, 1 Jan 2007 10:00:00 +0100\r\n\r\nBody " + k + ".\r\n");
    }
    const QString path = QDir(folder).filePath(name);
    dbx.Save(TfrmMain::ToEnginePath(path));
    return path;
}

QStringList DbxFileNodes(const TfrmMain& w) {
    QStringList texts;
    for (int i = 0; i < w.DbxFilesNode->childCount(); ++i) texts << w.DbxFilesNode->child(i)->text(0);
    return texts;
}

QMimeData* DragOf(const QStringList& files) {
    auto* data = new QMimeData;
    QList<QUrl> urls;
    for (const QString& f : files) urls << QUrl::fromLocalFile(f);
    data->setUrls(urls);
    return data;
}

}  // namespace

class TestStartup : public QObject {
    Q_OBJECT

    std::unique_ptr<TfrmMain> w;
    QStringList errors;

    void NewWindow() {
        w = std::make_unique<TfrmMain>();
        w->show();
        QVERIFY(QTest::qWaitForWindowExposed(w.get()));
    }

private slots:
    void initTestCase() {
        TCorvaneApplication::ErrorBoxHook = [this](const QString& text) { errors << text; };
    }

    void init() {
        errors.clear();
        QSettings().clear();
        NewWindow();
    }

    void cleanup() { w.reset(); }

    void helpAndVersionNeedNoDisplay() {
        const QString program = QStringLiteral(CORVANE_RECOVERY_PROGRAM);
        const TRun version = Run(program, {"--version"}, NoDisplay());
        QCOMPARE(version.Status, 0);
        QCOMPARE(version.Out, QString("corvane-recovery " CORVANE_PROJECT_VERSION "\n"));
        QCOMPARE(Run(program, {"-v"}, NoDisplay()).Out, version.Out);
        // Both programs carry the same version.
        const TRun dbxVersion = Run(QStringLiteral(CORVANE_DBX_PROGRAM), {"--version"}, NoDisplay());
        QCOMPARE(dbxVersion.Status, 0);
        QCOMPARE(dbxVersion.Out, QString("corvane-dbx " CORVANE_PROJECT_VERSION "\n"));

        const TRun help = Run(program, {"Inbox.dbx", "--help"}, NoDisplay());
        QCOMPARE(help.Status, 0);
        QVERIFY2(help.Out.startsWith("usage: corvane-recovery [FILE.dbx...]\n"), qPrintable(help.Out));
        QVERIFY(help.Out.contains("--version"));
        QVERIFY(help.Err.isEmpty());
        QCOMPARE(Run(program, {"-h"}, NoDisplay()).Out, help.Out);
    }

    void anUnknownOptionIsABadUsage() {
        QProcessEnvironment environment = NoDisplay();
        environment.insert("QT_QPA_PLATFORM", "offscreen");
        // The toolkit's own options are its own: -platform is taken, --bogus is not.
        const TRun run = Run(QStringLiteral(CORVANE_RECOVERY_PROGRAM), {"-platform", "offscreen", "--bogus"}, environment);
        QCOMPARE(run.Status, 2);
        QVERIFY(run.Out.isEmpty());
        const QString usage = "corvane-recovery: unknown option: --bogus\n"
                              "usage: corvane-recovery [FILE.dbx...]\n"
                              "       corvane-recovery --help | --version\n";
        QCOMPARE(run.Err, usage);
        // Without a display the answer is the same: the arguments are read
        // before the toolkit needs one (a value given with "=" too).
        const TRun bare = Run(QStringLiteral(CORVANE_RECOVERY_PROGRAM), {"-style=fusion", "--bogus"}, NoDisplay());
        QCOMPARE(bare.Status, 2);
        QCOMPARE(bare.Err, usage);
    }

    void filesGivenAsArgumentsAreAddedAndTheFirstListed() {
        const QString folder = QString::fromStdString(fixture::NewFolder("arguments"));
        const QString inbox = WriteFolderFile(folder, "Inbox.dbx", 3, "inbox");
        const QString sent = WriteFolderFile(folder, "Sent.DBX", 2, "sent");
        QFile(QDir(folder).filePath("notes.txt")).open(QIODevice::WriteOnly);

        // A relative name is taken from the working folder, as a shell gives it.
        const QString previous = QDir::currentPath();
        QVERIFY(QDir::setCurrent(folder));
        const int added = w->OpenDbxFiles({"Inbox.dbx", "notes.txt", sent});
        QDir::setCurrent(previous);

        QCOMPARE(added, 2);
        QCOMPARE(DbxFileNodes(*w), (QStringList{QDir::toNativeSeparators(inbox), QDir::toNativeSeparators(sent)}));
        QVERIFY(w->DbxFilesNode->isExpanded());
        QCOMPARE(w->tvFiles->currentItem(), w->DbxFilesNode->child(0));
        QCOMPARE(w->Session.CurrentFile(), TfrmMain::ToEnginePath(inbox));
        QCOMPARE(fixture::RowCount(*w), 3);
        QCOMPARE(fixture::Column(*w, corvane::session::ColSubject), (QStringList{" inbox 0", " inbox 1", " inbox 2"}));

        // Nothing to open: nothing changes.
        QCOMPARE(w->OpenDbxFiles({QDir(folder).filePath("notes.txt")}), 0);
        QCOMPARE(w->DbxFilesNode->childCount(), 2);
        QCOMPARE(w->Session.CurrentFile(), TfrmMain::ToEnginePath(inbox));
        QVERIFY(errors.isEmpty());

        // The other node lists its file when clicked, as any node of the tree.
        w->tvFiles->setCurrentItem(w->DbxFilesNode->child(1));
        w->tvFilesClick();
        QCOMPARE(w->Session.CurrentFile(), TfrmMain::ToEnginePath(sent));
        QCOMPARE(fixture::RowCount(*w), 2);
    }

    void aDroppedFolderFileIsOpened() {
        const QString folder = QString::fromStdString(fixture::NewFolder("drop"));
        const QString inbox = WriteFolderFile(folder, "Inbox.dbx", 4, "dropped");
        const QString text = QDir(folder).filePath("readme.txt");
        QVERIFY(w->acceptDrops());

        // A drag without a folder file is refused, one with one accepted.
        const std::unique_ptr<QMimeData> textOnly(DragOf({text}));
        QDragEnterEvent refused(QPoint(400, 300), Qt::CopyAction, textOnly.get(), Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(w.get(), &refused);
        QVERIFY(!refused.isAccepted());
        const std::unique_ptr<QMimeData> withDbx(DragOf({text, inbox}));
        QDragEnterEvent entered(QPoint(400, 300), Qt::CopyAction, withDbx.get(), Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(w.get(), &entered);
        QVERIFY(entered.isAccepted());

        QDropEvent drop(QPointF(400, 300), Qt::CopyAction, withDbx.get(), Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(w.get(), &drop);
        QVERIFY(drop.isAccepted());
        QCoreApplication::processEvents();  // the drop opens the files once it has returned
        QCOMPARE(w->Session.CurrentFile(), TfrmMain::ToEnginePath(inbox));
        QCOMPARE(DbxFileNodes(*w), QStringList{QDir::toNativeSeparators(inbox)});
        QCOMPARE(fixture::RowCount(*w), 4);

        // A missing folder file dropped: the error box, and the list stays.
        const QString missing = QDir(folder).filePath("Gone.dbx");
        const std::unique_ptr<QMimeData> gone(DragOf({missing}));
        QDragEnterEvent enteredGone(QPoint(400, 300), Qt::CopyAction, gone.get(), Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(w.get(), &enteredGone);
        QVERIFY(enteredGone.isAccepted());
        QDropEvent dropGone(QPointF(400, 300), Qt::CopyAction, gone.get(), Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(w.get(), &dropGone);
        QCoreApplication::processEvents();
        QCOMPARE(errors.size(), 1);
        QVERIFY2(errors[0].contains("Gone.dbx"), qPrintable(errors[0]));
        QCOMPARE(w->Session.CurrentFile(), TfrmMain::ToEnginePath(inbox));
        QCOMPARE(fixture::RowCount(*w), 4);
    }

    void theOpenDialogStartsInTheFolderLastChosen() {
        // Nothing remembered: the file system's root.
        QString started;
        const auto watchDialog = [this, &started] {
            fixture::AnswerNextModal<QFileDialog>(this, [&started](QFileDialog* dialog) {
                started = dialog->directory().absolutePath();
                dialog->reject();
            });
        };
        watchDialog();
        w->sbOpenDbxClick();
        QCOMPARE(started, QDir::rootPath());

        const QString folder = QString::fromStdString(fixture::NewFolder("open-dialog"));
        const QString inbox = WriteFolderFile(folder, "Inbox.dbx", 1, "chosen");
        w->ChooseDbxFile = [inbox] { return inbox; };
        w->sbOpenDbxClick();
        QCOMPARE(w->Session.CurrentFile(), TfrmMain::ToEnginePath(inbox));

        // The next run: the settings file holds it, and the dialog starts there.
        QSettings().sync();
        QVERIFY(fixture::ReadAll(qgetenv("XDG_CONFIG_HOME").toStdString() + "/corvane/corvane-recovery.conf")
                    .find("open-dialog") != std::string::npos);
        NewWindow();
        watchDialog();
        w->sbOpenDbxClick();
        QCOMPARE(started, QDir(folder).absolutePath());

        // A remembered folder that has gone: the root again.
        QVERIFY(QDir(folder).removeRecursively());
        NewWindow();
        watchDialog();
        w->sbOpenDbxClick();
        QCOMPARE(started, QDir::rootPath());
    }

    void bothExportsStartInTheFolderLastExportedInto() {
        std::vector<std::string> initials;
        std::string answer;
        const auto hookUp = [&] {
            w->ChooseExportFolder = [&](const std::string&, const std::string& initial, bool) {
                initials.push_back(initial);
                return answer;
            };
            w->InformationBoxHook = [](const QString&) {};
        };
        hookUp();
        const std::string emlFolder = fixture::NewFolder("eml-out");
        answer = emlFolder;
        w->sbSaveEmailClick();
        // A cancelled chooser changes nothing.
        answer.clear();
        w->sbSaveEmailClick();
        w->sbSaveEmailClick();
        QCOMPARE(initials, (std::vector<std::string>{"", emlFolder, emlFolder}));

        // The mbox file's folder is the export folder too, in this run and the next.
        const QString mboxFolder = QString::fromStdString(fixture::NewFolder("mbox-out"));
        w->ChooseMboxFile = [mboxFolder] { return QDir(mboxFolder).filePath("All.mbox"); };
        w->mnuExportMboxClick();
        QVERIFY(errors.isEmpty());
        NewWindow();
        hookUp();
        w->sbSaveEmailClick();
        QCOMPARE(initials.back(), TfrmMain::ToEnginePath(mboxFolder));
    }
};

CORVANE_WINDOW_TEST_MAIN(TestStartup)

#include "tst_startup.moc"
