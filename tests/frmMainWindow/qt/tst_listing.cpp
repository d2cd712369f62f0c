// The real main window opening and listing folder files: the open dialog's
// handler, the tree, the deleted switch, the keyword filter, failed loads,
// the top-level error box, the wait window during a load, help and exit.

#include <QApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QHeaderView>
#include <QMessageBox>
#include <QSettings>
#include <QTest>
#include <QTimer>
#include <QUrl>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include <unistd.h>

#include "MessageListFixture.h"
#include "WindowTestMain.h"
#include "frmMainWindow/qt/CorvaneApplication.h"
#include "frmMainWindow/qt/frmMainWindow.h"
#include "platform/Errors.h"
#include "platform/Files.h"
#include "mailsession/SessionTexts.h"
#include "support/DbxFixture.h"
#include "waitfrm/waitfrm.h"

namespace {

namespace stdfs = std::filesystem;

std::string g_folder;  // this program's private temporary folder

using corvane::testsupport::Mail;
using corvane::testsupport::TMail;

// Writes a folder file of the messages, in order, and deletes the marked ones.
std::string WriteFolder(const std::string& name, const std::vector<TMail>& mails) {
    const std::string path = g_folder + "/" + name;
    corvane::testsupport::WriteFolderFile(path, mails);
    return path;
}

// Three live messages (0, 1, 3 as written) and two deleted ones (2, 4).
std::string ThreeLiveTwoDeleted(const std::string& name = "Inbox.dbx") {
    return WriteFolder(name, {Mail(0), Mail(1), Mail(2, true), Mail(3), Mail(4, true)});
}

using fixture::Column;
using fixture::RowCount;

QImage Picture(const QIcon& icon) { return icon.pixmap(16, 16).toImage().convertToFormat(QImage::Format_ARGB32); }

bool SameIcon(const QIcon& a, const QIcon& b) { return !a.isNull() && Picture(a) == Picture(b); }

// How many pixels of the picture are mostly red, green or yellow.
struct TColours {
    int red = 0, green = 0, yellow = 0;
};
TColours CountColours(const QIcon& icon) {
    TColours c;
    const QImage image = Picture(icon);
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const QColor p = image.pixelColor(x, y);
            if (p.alpha() < 128) continue;
            if (p.red() > 150 && p.green() < 80 && p.blue() < 80) ++c.red;
            if (p.green() > 110 && p.red() < 80 && p.blue() < 80) ++c.green;
            if (p.red() > 180 && p.green() > 150 && p.blue() < 90) ++c.yellow;
        }
    return c;
}

QList<TfrmWait*> WaitWindows() {
    QList<TfrmWait*> found;
    for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* wait = qobject_cast<TfrmWait*>(w)) found << wait;
    return found;
}

void ClickNode(QTreeWidget* tree, QTreeWidgetItem* node) {
    const QRect r = tree->visualItemRect(node);
    QTest::mouseClick(tree->viewport(), Qt::LeftButton, Qt::NoModifier, r.center());
    QCoreApplication::processEvents();
}

void ClickTreeBelowNodes(QTreeWidget* tree) {
    QTest::mouseClick(tree->viewport(), Qt::LeftButton, Qt::NoModifier, QPoint(20, tree->viewport()->height() - 5));
    QCoreApplication::processEvents();
}

}  // namespace

// Receives the help page's address instead of a browser.
class TUrlCatcher : public QObject {
    Q_OBJECT
public:
    QList<QUrl> urls;
public slots:
    void open(const QUrl& url) { urls << url; }
};

class TestListing : public QObject {
    Q_OBJECT

    std::unique_ptr<TfrmMain> w;
    QStringList errors;
    QString chosen;  // what the open dialog returns

private slots:
    void init() {
        errors.clear();
        TCorvaneApplication::ErrorBoxHook = [this](const QString& text) { errors << text; };
        w = std::make_unique<TfrmMain>();
        w->ChooseDbxFile = [this] { return chosen; };
        w->show();
        QVERIFY(QTest::qWaitForWindowExposed(w.get()));
    }

    void cleanup() {
        w.reset();
        TCorvaneApplication::ErrorBoxHook = nullptr;
    }

    void startsWithTheTwoTopNodesAndNothingLoaded() {
        QCOMPARE(w->windowTitle(), QString("Corvane DBX Recovery v3.0"));
        QCOMPARE(QApplication::applicationDisplayName(), QString("Corvane Recovery"));
        QCOMPARE(w->centralWidget()->size(), QSize(906, 553));
        QCOMPARE(w->minimumSize(), w->maximumSize());
        QVERIFY(!(w->windowFlags() & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint)));
        QVERIFY(w->windowFlags() & Qt::WindowCloseButtonHint);

        QCOMPARE(w->tvFiles->topLevelItemCount(), 2);
        QCOMPARE(w->tvFiles->topLevelItem(0), w->SystemFilesNode);
        QCOMPARE(w->tvFiles->topLevelItem(1), w->DbxFilesNode);
        QCOMPARE(w->SystemFilesNode->text(0), QString("System Files"));
        QCOMPARE(w->DbxFilesNode->text(0), QString("Dbx Files"));
        QVERIFY(SameIcon(w->SystemFilesNode->icon(0), w->ilIcons[corvane::session::IconTopNode]));
        QVERIFY(SameIcon(w->DbxFilesNode->icon(0), w->ilIcons[corvane::session::IconTopNode]));

        QCOMPARE(RowCount(*w), 0);
        QVERIFY(w->Session.Emails().empty());
        QVERIFY(w->Session.CurrentFile().empty());
        QVERIFY(!w->Session.Options().FilterOn);
        QVERIFY(w->txtFilter->isEnabled() && w->btnApplyFilter->isEnabled() && !w->btnClearFilter->isEnabled());
        QVERIFY(!w->cbdeletedemails->isChecked());

        QStringList headings;
        for (int c = 0; c < w->lvFoundEmails->model()->columnCount(); ++c)
            headings << w->lvFoundEmails->model()->headerData(c, Qt::Horizontal).toString();
        QCOMPARE(headings, QStringList({"Item Num", "Date", "From", "To", "Subject"}));
        QCOMPARE(w->lvFoundEmails->selectionMode(), QAbstractItemView::SingleSelection);
        QCOMPARE(w->lvFoundEmails->selectionBehavior(), QAbstractItemView::SelectRows);

        // Other code finds the controls by their names.
        for (const char* name : {"sbAutoScan", "sbOpenDbx", "sbSelectAll", "sbDeselectAll", "sbSaveEmail", "Filter",
                                 "txtFilter", "btnApplyFilter", "btnClearFilter", "GroupBox1", "cbdeletedemails",
                                 "tvFiles", "lvFoundEmails", "txtmsgbody"}) {
            QVERIFY2(w->findChild<QWidget*>(name) != nullptr, name);
        }
        QCOMPARE(w->Exit1->text(), QString("Exit"));
        QCOMPARE(w->mnuHelp->text(), QString("Corvane DBX Recovery Help"));
    }

    void theIconsShowWhatTheyStandFor() {
        const TColours deleted = CountColours(w->ilIcons[corvane::session::IconDeletedMessage]);
        const TColours live = CountColours(w->ilIcons[corvane::session::IconLiveMessage]);
        const TColours folderFile = CountColours(w->ilIcons[corvane::session::IconFolderFile]);
        const TColours topNode = CountColours(w->ilIcons[corvane::session::IconTopNode]);
        QVERIFY(deleted.red > 5 && deleted.green == 0);
        QVERIFY(live.green > 5 && live.red == 0);
        QVERIFY(folderFile.red == 0 && folderFile.green == 0 && !w->ilIcons[corvane::session::IconFolderFile].isNull());
        QVERIFY(topNode.yellow > 20);
        QVERIFY(w->ilIcons[2].isNull());
        for (QToolButton* b : {w->sbAutoScan, w->sbOpenDbx, w->sbSelectAll, w->sbDeselectAll, w->sbSaveEmail}) {
            QVERIFY(!b->icon().pixmap(48, 48).isNull());
            QCOMPARE(b->iconSize(), QSize(48, 48));
            QCOMPARE(b->focusPolicy(), Qt::NoFocus);
        }
        QVERIFY(!w->windowIcon().isNull());
    }

    void openingThroughTheDialog() {
        const std::string path = ThreeLiveTwoDeleted("Three.DBX");
        chosen = QString::fromStdString(path);
        QTest::mouseClick(w->sbOpenDbx, Qt::LeftButton);
        QVERIFY(errors.isEmpty());
        QCOMPARE(w->DbxFilesNode->childCount(), 1);
        QTreeWidgetItem* node = w->DbxFilesNode->child(0);
        QCOMPARE(node->text(0), QDir::toNativeSeparators(chosen));
        QVERIFY(SameIcon(node->icon(0), w->ilIcons[corvane::session::IconFolderFile]));
        QVERIFY(w->DbxFilesNode->isExpanded());
        QCOMPARE(w->tvFiles->currentItem(), node);
        QVERIFY(node->isSelected());
        QCOMPARE(w->Session.CurrentFile(), path);
        QCOMPARE(w->Session.Emails().size(), std::size_t(3));
        QCOMPARE(Column(*w, 0), QStringList({"0", "1", "2"}));
        QCOMPARE(Column(*w, 4), QStringList({" Subject 0", " Subject 1", " Subject 3"}));
        for (int i = 0; i < 3; ++i) {
            QVERIFY(SameIcon(fixture::RowIcon(*w, i), w->ilIcons[corvane::session::IconLiveMessage]));
            QCOMPARE(fixture::CheckState(*w, i), Qt::Unchecked);
        }

        // The same file again: a second node of the same text.
        QTest::mouseClick(w->sbOpenDbx, Qt::LeftButton);
        QCOMPARE(w->DbxFilesNode->childCount(), 2);
        QCOMPARE(w->DbxFilesNode->child(1)->text(0), node->text(0));
        QCOMPARE(w->tvFiles->currentItem(), w->DbxFilesNode->child(1));
        QCOMPARE(RowCount(*w), 3);

        // Any letter case of the extension passes.
        const std::string mixed = ThreeLiveTwoDeleted("Mixed.Dbx");
        chosen = QString::fromStdString(mixed);
        w->sbOpenDbxClick();
        QCOMPARE(w->DbxFilesNode->childCount(), 3);
        QCOMPARE(w->Session.CurrentFile(), mixed);
    }

    void theOpenDialogAsksForFolderFilesFromTheRoot() {
        QSettings().remove(corvane::session::kOpenFolderSetting);  // no folder remembered from an earlier choice
        TfrmMain plain;  // with its own dialog
        plain.show();
        QString title, folder;
        QStringList filters;
        QFileDialog::FileMode mode = QFileDialog::Directory;
        fixture::AnswerNextModal<QFileDialog>(this, [&](QFileDialog* dialog) {
            title = dialog->windowTitle();
            filters = dialog->nameFilters();
            folder = dialog->directory().absolutePath();
            mode = dialog->fileMode();
            dialog->reject();
        });
        QTest::mouseClick(plain.sbOpenDbx, Qt::LeftButton);  // returns once the dialog is closed
        QCOMPARE(title, QString("Open Dbx File"));
        QCOMPARE(filters, QStringList({"DBX Mail File (*.dbx)"}));
        QCOMPARE(folder, QDir::rootPath());
        QCOMPARE(mode, QFileDialog::AnyFile);  // a typed name need not exist
        QCOMPARE(plain.DbxFilesNode->childCount(), 0);  // cancelled: nothing happens
        QVERIFY(errors.isEmpty());
    }

    void theDialogIgnoresOtherNamesAndCancel() {
        const std::string folder = g_folder + "/dir.dbx";
        stdfs::create_directories(folder);
        for (const QString& name :
             {QString(), QString::fromStdString(g_folder + "/notes.txt"), QString::fromStdString(folder + "/mail"),
              QString::fromStdString(g_folder + "/x.dbx\\mail"), QString::fromStdString(g_folder + "/c:x.dbx:y"),
              QString::fromStdString(g_folder + "/dbx")}) {
            chosen = name;
            w->sbOpenDbxClick();
            QVERIFY2(w->DbxFilesNode->childCount() == 0, qPrintable(name));
        }
        QVERIFY(w->Session.CurrentFile().empty());
        QVERIFY(errors.isEmpty());
    }

    void theDeletedSwitchReloadsTheFile() {
        const std::string path = ThreeLiveTwoDeleted();
        w->loadDbxFile(path);
        QCOMPARE(RowCount(*w), 3);
        fixture::SetCheckState(*w, 1, Qt::Checked);

        QTest::mouseClick(w->cbdeletedemails, Qt::LeftButton);
        QVERIFY(w->cbdeletedemails->isChecked());
        QCOMPARE(Column(*w, 0), QStringList({"0", "1", "2", "3", "4"}));
        QCOMPARE(Column(*w, 1).mid(3), QStringList({" Mon, 2 Jan 2007 10:00:00 +0100", " Mon, 4 Jan 2007 10:00:00 +0100"}));
        for (int i = 0; i < 5; ++i) {
            const auto icon = i < 3 ? corvane::session::IconLiveMessage : corvane::session::IconDeletedMessage;
            QVERIFY(SameIcon(fixture::RowIcon(*w, i), w->ilIcons[icon]));
            QCOMPARE(fixture::CheckState(*w, i), Qt::Unchecked);  // ticks go with a reload
        }
        QVERIFY(w->Session.Emails()[3].Deleted != 0 && w->Session.Emails()[4].Deleted != 0);

        QTest::keyClick(w->cbdeletedemails, Qt::Key_Space);  // by keyboard too
        QVERIFY(!w->cbdeletedemails->isChecked());
        QCOMPARE(Column(*w, 0), QStringList({"0", "1", "2"}));
        QVERIFY(errors.isEmpty());
    }

    void headerTextsAreShownAsTheRecordHoldsThem() {
        TMail odd = Mail(7);
        odd.Subject = "Caf\xE9 \x80 5";  // Windows-1252: e acute, euro sign
        odd.To.clear();
        const std::string path = WriteFolder("Odd.dbx", {odd});
        w->loadDbxFile(path);
        QCOMPARE(RowCount(*w), 1);
        QCOMPARE(fixture::Text(*w, 0, corvane::session::ColSubject), QString::fromUtf8(" Caf\u00e9 \u20ac 5"));
        QCOMPARE(fixture::Text(*w, 0, corvane::session::ColTo), QString());
        QCOMPARE(fixture::Text(*w, 0, corvane::session::ColFrom), QString(" sender7@example.org"));
    }

    // The filter's rule is the session's; here: the controls reach it and
    // show its state.
    void theKeywordFilterThroughItsControls() {
        std::vector<TMail> mails = {Mail(0), Mail(1), Mail(2), Mail(3)};
        mails[1].Body = "Report on BANANAS and more.\r\n";
        mails[3].Body = "Green Bananas\r\n";
        w->loadDbxFile(WriteFolder("Fruit.dbx", mails));
        QCOMPARE(RowCount(*w), 4);

        // An empty keyword does nothing.
        QTest::mouseClick(w->btnApplyFilter, Qt::LeftButton);
        QVERIFY(!w->Session.Options().FilterOn && w->btnApplyFilter->isEnabled() && !w->btnClearFilter->isEnabled());

        QTest::keyClicks(w->txtFilter, "bAnAnAs");
        QTest::mouseClick(w->btnApplyFilter, Qt::LeftButton);
        QVERIFY(w->Session.Options().FilterOn);
        QCOMPARE(w->Session.Options().Keyword, std::string("bAnAnAs"));
        QVERIFY(!w->txtFilter->isEnabled() && !w->btnApplyFilter->isEnabled() && w->btnClearFilter->isEnabled());
        QCOMPARE(Column(*w, 0), QStringList({"1", "3"}));

        QTest::mouseClick(w->btnClearFilter, Qt::LeftButton);
        QVERIFY(!w->Session.Options().FilterOn);
        QVERIFY(w->txtFilter->isEnabled() && w->btnApplyFilter->isEnabled() && !w->btnClearFilter->isEnabled());
        QCOMPARE(Column(*w, 0), QStringList({"0", "1", "2", "3"}));

        // Enter in "Keyword" applies the filter as Apply does.
        w->txtFilter->setFocus();
        QTest::keyClick(w->txtFilter, Qt::Key_Return);
        QVERIFY(w->Session.Options().FilterOn);
        QCOMPARE(Column(*w, 0), QStringList({"1", "3"}));
        QVERIFY(errors.isEmpty());
    }

    void applyAndClearBeforeAnyFileOnlySwitchStates() {
        w->txtFilter->setText("message 3");
        w->btnApplyFilterClick();
        QVERIFY(w->Session.Options().FilterOn && !w->txtFilter->isEnabled() && w->btnClearFilter->isEnabled());
        QCOMPARE(RowCount(*w), 0);
        w->loadDbxFile(ThreeLiveTwoDeleted());
        QCOMPARE(Column(*w, 0), QStringList({"2"}));  // the third live message
        QCOMPARE(fixture::Text(*w, 0, corvane::session::ColSubject), QString(" Subject 3"));
        QVERIFY(errors.isEmpty());
    }

    void aFailedLoadKeepsThePreviousFile() {
        const std::string good = ThreeLiveTwoDeleted();
        w->loadDbxFile(good);
        const TEmailArray before = w->Session.Emails();
        const QStringList rows = Column(*w, 4);
        const std::string missing = g_folder + "/Missing.dbx";

        QVERIFY_THROWS_EXCEPTION(EFOpenError, w->loadDbxFile(missing));
        QCOMPARE(w->Session.CurrentFile(), good);
        QVERIFY(w->Session.Emails() == before);
        QCOMPARE(Column(*w, 4), rows);
        QVERIFY(w->isEnabled());
        QVERIFY(!w->Busy());
        QVERIFY(WaitWindows().isEmpty());

        // Through the dialog the error reaches the error box.
        chosen = QString::fromStdString(missing);
        QTest::mouseClick(w->sbOpenDbx, Qt::LeftButton);
        QCOMPARE(errors.size(), 1);
        QVERIFY2(errors[0].startsWith("Cannot open file \"" + QString::fromStdString(missing) + "\". "),
                 qPrintable(errors[0]));
        QCOMPARE(w->Session.CurrentFile(), good);
        QCOMPARE(Column(*w, 4), rows);
        QVERIFY(w->isEnabled());
    }

    void aFailedReloadPutsTheSwitchesBack() {
        const std::string path = ThreeLiveTwoDeleted("Vanishing.dbx");
        w->loadDbxFile(path);
        QVERIFY(corvane::fs::RemoveFile(path));

        QTest::mouseClick(w->cbdeletedemails, Qt::LeftButton);
        QCOMPARE(errors.size(), 1);
        QVERIFY(!w->cbdeletedemails->isChecked());  // the rows are still those without deleted messages
        QCOMPARE(RowCount(*w), 3);

        w->txtFilter->setText("message");
        QTest::mouseClick(w->btnApplyFilter, Qt::LeftButton);
        QCOMPARE(errors.size(), 2);
        QVERIFY(!w->Session.Options().FilterOn && w->txtFilter->isEnabled() && w->btnApplyFilter->isEnabled());
        QVERIFY(!w->btnClearFilter->isEnabled());
        QCOMPARE(RowCount(*w), 3);
        QCOMPARE(w->Session.CurrentFile(), path);
    }

    void theErrorBoxShowsTheTextWithTheProgramsTitle() {
        TCorvaneApplication::ErrorBoxHook = nullptr;
        QString title, text;
        QMessageBox::Icon icon = QMessageBox::NoIcon;
        QList<QAbstractButton*> buttons;
        int buttonCount = -1;
        fixture::AnswerNextModal<QMessageBox>(this, [&](QMessageBox* box) {
            title = box->windowTitle();
            text = box->text();
            icon = box->icon();
            buttonCount = static_cast<int>(box->buttons().size());
            if (QAbstractButton* ok = box->button(QMessageBox::Ok)) ok->click();
        });
        const std::string missing = g_folder + "/Nowhere.dbx";
        chosen = QString::fromStdString(missing);
        QTest::mouseClick(w->sbOpenDbx, Qt::LeftButton);  // returns once the box is closed
        QCOMPARE(title, QString("Corvane Recovery"));
        QCOMPARE(icon, QMessageBox::Critical);
        QCOMPARE(buttonCount, 1);
        QVERIFY2(text.startsWith("Cannot open file \"" + chosen + "\". "), qPrintable(text));
        QVERIFY(w->isVisible() && w->isEnabled());  // the program goes on
    }

    void treeClicksLoadOnlyFileNodes() {
        const std::string path = WriteFolder("Tree.dbx", {Mail(0), Mail(1), Mail(2)});
        chosen = QString::fromStdString(path);
        w->sbOpenDbxClick();
        QCOMPARE(RowCount(*w), 3);
        // The file changes on the disk: only a new load shows it.
        WriteFolder("Tree.dbx", {Mail(0), Mail(1), Mail(2), Mail(3)});

        for (QTreeWidgetItem* top : {w->SystemFilesNode, w->DbxFilesNode}) {
            ClickNode(w->tvFiles, top);
            QCOMPARE(w->tvFiles->currentItem(), top);
            QCOMPARE(RowCount(*w), 3);
            ClickTreeBelowNodes(w->tvFiles);
            QCOMPARE(RowCount(*w), 3);
        }

        ClickNode(w->tvFiles, w->DbxFilesNode->child(0));
        QCOMPARE(RowCount(*w), 4);
        // A click on the current file's node reads it again.
        WriteFolder("Tree.dbx", {Mail(0), Mail(1)});
        ClickNode(w->tvFiles, w->DbxFilesNode->child(0));
        QCOMPARE(RowCount(*w), 2);
        // A click beside the nodes leaves none selected and loads nothing.
        WriteFolder("Tree.dbx", {Mail(0)});
        ClickTreeBelowNodes(w->tvFiles);
        QVERIFY(w->tvFiles->selectedItems().isEmpty());
        QCOMPARE(RowCount(*w), 2);
        QVERIFY(errors.isEmpty());
    }

    void aLoadRunsUnderTheWaitWindow() {
        const std::string first = ThreeLiveTwoDeleted("First.dbx");
        const std::string second = ThreeLiveTwoDeleted("Second.dbx");
        bool ran = false, enabled = true, busy = false, closed = true;
        int waits = 0;
        bool waitVisible = false, barRunning = false, cancellable = false;
        QStringList asked;  // closing asks whether to stop the read; here: no
        w->ConfirmCancelHook = [&asked](const QString& question) {
            asked << question;
            return false;
        };
        // At the read's first report, from inside the load.
        w->ReportHook = [&](corvane::session::TLongWork&, std::uint64_t n, const char*, std::int64_t, std::int64_t) {
            if (n != 1) return;
            ran = true;
            enabled = w->isEnabled();
            busy = w->Busy();
            const QList<TfrmWait*> shown = WaitWindows();
            waits = static_cast<int>(shown.size());
            if (waits == 1) {
                waitVisible = shown[0]->isVisible();
                barRunning = shown[0]->FProcessbar != nullptr && shown[0]->FProcessbar->isRunning();
                cancellable = shown[0]->btnCancel->isVisibleTo(shown[0]);
            }
            closed = w->close();
            w->loadDbxFile(second);  // refused: a load is running
            w->sbOpenDbxClick();     // so is a second open
        };
        chosen = QString::fromStdString(second);
        w->loadDbxFile(first);
        w->ReportHook = nullptr;
        QVERIFY(ran);
        QVERIFY(!enabled);
        QVERIFY(busy);
        QCOMPARE(waits, 1);
        QVERIFY(waitVisible && barRunning && cancellable);
        QVERIFY(!closed);
        QCOMPARE(asked, QStringList{"The work is still running. Stop it and close the window?"});
        QCOMPARE(w->Session.CurrentFile(), first);
        QCOMPARE(w->DbxFilesNode->childCount(), 0);
        QVERIFY(w->isVisible() && w->isEnabled() && !w->Busy());
        QVERIFY(WaitWindows().isEmpty());
        QVERIFY(w->close());
    }

    void aLongListEndsScrolledToItsLastRow() {
        std::vector<TMail> mails;
        for (int i = 0; i < 200; ++i) mails.push_back(Mail(i));
        w->loadDbxFile(WriteFolder("Many.dbx", mails));
        QCOMPARE(RowCount(*w), 200);
        const QRect view = w->lvFoundEmails->viewport()->rect();
        QVERIFY(view.intersects(w->lvFoundEmails->visualRect(fixture::Cell(*w, 199, 0))));
        QVERIFY(!view.intersects(w->lvFoundEmails->visualRect(fixture::Cell(*w, 0, 0))));
        QCOMPARE(fixture::Text(*w, 199, 0), QString("199"));
    }

    void helpOpensTheLocalPageOrElseTheWebPageAndExitCloses() {
        TUrlCatcher catcher;
        QDesktopServices::setUrlHandler("https", &catcher, "open");
        QDesktopServices::setUrlHandler("file", &catcher, "open");
        // The page is looked for relative to the program: the installed copy,
        // then one beside it, no path of the source tree.
        const QString programFolder = QCoreApplication::applicationDirPath();
        const std::vector<std::string> candidates = w->HelpPageCandidates;
        QCOMPARE(candidates, (std::vector<std::string>{
                                 TfrmMain::ToEnginePath(programFolder + "/../share/corvane-recovery/help.html"),
                                 TfrmMain::ToEnginePath(programFolder + "/help.html")}));
        // The build puts a copy beside the window's program; F1 opens it.
        const QString besideProgram = QStringLiteral(CORVANE_RECOVERY_DIR "/help.html");
        w->HelpPageCandidates = {TfrmMain::ToEnginePath(besideProgram)};
        QTest::keyClick(w.get(), Qt::Key_F1);
        QCOMPARE(catcher.urls.size(), 1);
        QCOMPARE(catcher.urls[0], QUrl::fromLocalFile(besideProgram));
        QFile page(besideProgram);
        QVERIFY(page.open(QIODevice::ReadOnly));
        QVERIFY(page.readAll().contains("Include Deleted Emails"));
        // An installed copy comes first; with no copy at all, the web address.
        const QString installed = QString::fromStdString(g_folder) + "/help.html";
        QFile(installed).open(QIODevice::WriteOnly);
        w->HelpPageCandidates = {g_folder + "/missing.html", g_folder + "/help.html"};
        w->mnuHelpClick();
        w->HelpPageCandidates = {g_folder + "/missing.html"};
        w->mnuHelpClick();
        w->HelpPageCandidates = candidates;
        QDesktopServices::unsetUrlHandler("https");
        QDesktopServices::unsetUrlHandler("file");
        QCOMPARE(catcher.urls.size(), 3);
        QCOMPARE(catcher.urls[1], QUrl::fromLocalFile(installed));
        QCOMPARE(catcher.urls[2], QUrl(corvane::session::texts::kHelpUrl));
        QVERIFY(errors.isEmpty());

        w->Exit1->trigger();
        QVERIFY(!w->isVisible());
    }
};

int main(int argc, char** argv) { return RunWindowTest<TestListing>(argc, argv, "corvane-listing", g_folder); }

#include "tst_listing.moc"
