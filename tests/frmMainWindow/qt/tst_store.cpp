// The window and store folders: "Open Store Folder..." in the File menu puts
// the store's folders under "Dbx Files" with their names and counts, loads
// the first folder file, and the status line tells when whole messages
// cannot come from a folder file's index.

#include <QApplication>
#include <QMenu>
#include <QStatusBar>
#include <QTest>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include <unistd.h>

#include "WindowTestMain.h"
#include "frmMainWindow/qt/CorvaneApplication.h"
#include "frmMainWindow/qt/frmMainWindow.h"
#include "mailsession/SessionTexts.h"
#include "support/DbxFixture.h"
#include "support/StoreFixture.h"

namespace {

namespace stdfs = std::filesystem;
namespace support = corvane::testsupport;

std::string g_folder;

}  // namespace

class TestStore : public QObject {
    Q_OBJECT

    std::unique_ptr<TfrmMain> w;
    QStringList errors;
    QString chosen;

private slots:
    void init() {
        errors.clear();
        TCorvaneApplication::ErrorBoxHook = [this](const QString& text) { errors << text; };
        w = std::make_unique<TfrmMain>();
        w->ChooseStoreFolder = [this] { return chosen; };
        w->show();
        QVERIFY(QTest::qWaitForWindowExposed(w.get()));
    }
    void cleanup() {
        w.reset();
        TCorvaneApplication::ErrorBoxHook = nullptr;
    }

    void openStoreFolderShowsTheFoldersAndLoadsTheFirst() {
        QCOMPARE(w->File1->actions().at(0)->text(), QString(corvane::session::texts::kOpenStoreMenu));
        const std::string store = g_folder + "/store";
        stdfs::create_directories(store);
        support::WriteStore(store, {
            {1, 0, "Local Folders", "", "", {}, 0, 0, true},
            {2, 1, "Inbox", "Inbox.dbx", "", {support::PlainMessage("a@x", "one", "1"), support::PlainMessage("b@x", "two", "2")}, 2, 1, true},
            {3, 2, "Family", "Folder1.dbx", "", {support::PlainMessage("m@x", "dinner", "3")}, 0, 0, true},
        });
        chosen = QString::fromStdString(store);
        w->mnuOpenStore->trigger();
        QCoreApplication::processEvents();
        QVERIFY2(errors.isEmpty(), qPrintable(errors.join("\n")));
        QCOMPARE(w->DbxFilesNode->childCount(), 1);
        QTreeWidgetItem* top = w->DbxFilesNode->child(0);
        QCOMPARE(top->text(0), chosen);
        QTreeWidgetItem* local = top->child(0);
        QCOMPARE(local->text(0), QString("Local Folders (0/0)"));
        QTreeWidgetItem* inbox = local->child(0);
        QCOMPARE(inbox->text(0), QString("Inbox (2/2)"));
        QCOMPARE(inbox->child(0)->text(0), QString("Family (0/1)"));
        QCOMPARE(w->tvFiles->currentItem(), inbox);
        QCOMPARE(w->lvFoundEmails->model()->rowCount(), 2);
        QCOMPARE(w->statusBar()->currentMessage(), QString());
        QCOMPARE(w->centralWidget()->size(), QSize(906, 553));

        // Cancelled: nothing changes.
        chosen.clear();
        w->mnuOpenStore->trigger();
        QCOMPARE(w->DbxFilesNode->childCount(), 1);
    }

    void theStatusLineTellsWhyTheIndexCouldNotBeUsed() {
        support::TDbxWriter bare(3);
        bare.AddMessage(support::PlainMessage("a@x", "no index", "1"));
        const std::string path = g_folder + "/bare.dbx";
        bare.Save(path);
        w->cbwholemessages->click();
        QCoreApplication::processEvents();
        w->OpenDbxFiles({QString::fromStdString(path)});
        QCoreApplication::processEvents();
        QVERIFY(w->statusBar()->currentMessage().contains("could not be used (the folder file has no index)"));
        w->cbwholemessages->click();
        QCoreApplication::processEvents();
        QCOMPARE(w->statusBar()->currentMessage(), QString());
    }
};

int main(int argc, char** argv) { return RunWindowTest<TestStore>(argc, argv, "corvane-store", g_folder); }

#include "tst_store.moc"
