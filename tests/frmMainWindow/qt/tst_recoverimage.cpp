// The window and disk images: "Recover From Disk Image..." in the File menu
// carves the chosen image into the chosen folder under the wait window and
// hangs the folder files under a node of their own; a click on one lists
// its messages. A stop is told in a box, and so is an image without any.

#include <QApplication>
#include <QMenu>
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
#include "support/DiskImageFixture.h"
#include "waitfrm/waitfrm.h"

namespace {

namespace stdfs = std::filesystem;
namespace support = corvane::testsupport;
namespace texts = corvane::session::texts;

std::string g_folder;

}  // namespace

class TestRecoverImage : public QObject {
    Q_OBJECT

    std::unique_ptr<TfrmMain> w;
    QStringList errors, informations;
    QString image, out;

    void Recover() {
        w->mnuRecoverImage->trigger();
        QCoreApplication::processEvents();
    }

private slots:
    void init() {
        errors.clear();
        informations.clear();
        TCorvaneApplication::ErrorBoxHook = [this](const QString& text) { errors << text; };
        w = std::make_unique<TfrmMain>();
        w->ChooseDiskImage = [this] { return image; };
        w->ChooseRecoveryFolder = [this] { return out; };
        w->InformationBoxHook = [this](const QString& text) { informations << text; };
        w->Timing.WaitWindowDelay = std::chrono::milliseconds(0);
        w->show();
        QVERIFY(QTest::qWaitForWindowExposed(w.get()));
    }
    void cleanup() {
        w.reset();
        TCorvaneApplication::ErrorBoxHook = nullptr;
    }

    void theFolderFilesHangUnderTheImagesNodeAndAClickListsOne() {
        QVERIFY(w->mnuRecoverImage != nullptr);
        QCOMPARE(w->mnuRecoverImage->objectName(), QString("mnuRecoverImage"));
        QCOMPARE(w->mnuRecoverImage->text(), QString(texts::kRecoverImageMenu));
        QVERIFY(w->File1->actions().contains(w->mnuRecoverImage));

        const std::vector<support::TImagedFolder> folders = support::WriteTwoFolderImage(g_folder + "/disk.img");
        image = QString::fromStdString(g_folder + "/disk.img");
        out = QString::fromStdString(g_folder + "/out");
        bool waitShown = false;
        w->ReportHook = [&](corvane::session::TLongWork&, std::uint64_t, const char*, std::int64_t, std::int64_t) {
            for (QWidget* top : QApplication::topLevelWidgets())
                if (qobject_cast<TfrmWait*>(top) != nullptr && top->isVisible() && !w->isEnabled()) waitShown = true;
        };
        Recover();
        QVERIFY2(errors.isEmpty(), qPrintable(errors.join("\n")));
        QVERIFY(informations.isEmpty());
        QVERIFY(waitShown);
        QVERIFY(w->isEnabled());

        QCOMPARE(w->DbxFilesNode->childCount(), 1);
        QTreeWidgetItem* top = w->DbxFilesNode->child(0);
        QCOMPARE(top->text(0), QString("Disk image disk.img"));
        QCOMPARE(w->tvFiles->currentItem(), top);
        QVERIFY(top->isExpanded());
        QCOMPARE(top->childCount(), static_cast<int>(folders.size()));
        for (int f = 0; f < top->childCount(); ++f) {
            const support::TImagedFolder& folder = folders[static_cast<std::size_t>(f)];
            QCOMPARE(top->child(f)->text(0),
                     QString::fromStdString(texts::CarvedFileText("recovered-" + std::to_string(f + 1) + ".dbx",
                                                                  static_cast<std::size_t>(folder.Pieces),
                                                                  folder.Live.size(), 0, true)));
        }
        QCOMPARE(w->lvFoundEmails->model()->rowCount(), 0);  // selecting the node loads nothing

        // A click on the second file's node lists its messages.
        QTreeWidgetItem* second = top->child(1);
        w->tvFiles->scrollToItem(second);
        QTest::mouseClick(w->tvFiles->viewport(), Qt::LeftButton, Qt::NoModifier, w->tvFiles->visualItemRect(second).center());
        QCoreApplication::processEvents();
        QCOMPARE(w->tvFiles->currentItem(), second);
        QCOMPARE(w->lvFoundEmails->model()->rowCount(), static_cast<int>(folders[1].Live.size()));
        QCOMPARE(QString::fromStdString(w->Session.CurrentFile()), QString::fromStdString(g_folder + "/out/recovered-2.dbx"));
    }

    void aStopAndAnImageWithoutFolderFilesAreTold() {
        support::WriteTwoFolderImage(g_folder + "/disk.img");
        image = QString::fromStdString(g_folder + "/disk.img");
        out = QString::fromStdString(g_folder + "/stopped");
        w->ReportHook = [](corvane::session::TLongWork& work, std::uint64_t report, const char*, std::int64_t, std::int64_t) {
            if (report == 1) work.Cancel();
        };
        Recover();
        QVERIFY(errors.isEmpty());
        QCOMPARE(informations, QStringList{"Recovery from disk.img was stopped before a folder file was finished."});
        QCOMPARE(w->DbxFilesNode->childCount(), 0);
        QVERIFY(w->isEnabled());

        informations.clear();
        w->ReportHook = nullptr;
        support::TDiskImage(9, 1 << 20, 63, support::TFiller::Text).Save(g_folder + "/text.img");
        image = QString::fromStdString(g_folder + "/text.img");
        Recover();
        QCOMPARE(informations, QStringList{"No folder files were found in text.img."});
        QCOMPARE(w->DbxFilesNode->childCount(), 0);

        // An image that cannot be opened: the error box; a cancelled chooser: nothing.
        image = QString::fromStdString(g_folder + "/missing.img");
        Recover();
        QCOMPARE(errors.size(), 1);
        QVERIFY2(errors[0].startsWith("Cannot open file \""), qPrintable(errors[0]));
        image.clear();
        Recover();
        QCOMPARE(errors.size(), 1);
        QCOMPARE(informations.size(), 1);
    }
};

int main(int argc, char** argv) { return RunWindowTest<TestRecoverImage>(argc, argv, "corvane-recoverimage", g_folder); }

#include "tst_recoverimage.moc"
