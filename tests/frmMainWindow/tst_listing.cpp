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
#include "frmMainWindow/CorvaneApplication.h"
#include "frmMainWindow/frmMainWindow.h"
#include "platform/Errors.h"
#include "platform/Files.h"
#include "platform/MessagePump.h"
#include "support/DbxFixture.h"
#include "waitfrm/waitfrm.h"

namespace {

namespace stdfs = std::filesystem;
using corvane::testsupport::TDbxWriter;

std::string g_folder;  // this program's private temporary folder

struct TMail {
    std::string From, To, Subject, Date, Body;
    bool Deleted = false;
    bool HeaderClosed = true;  // false: no blank line ends the header block
};

std::string MailText(const TMail& m) {
    std::string text;
    // A deleted block's first four bytes are overwritten by the free list, so
    // every message starts with a line that may be lost.
    text += "X-Spare: 0000000\r\n";
    if (!m.From.empty()) text += "From: " + m.From + "\r\n";
    if (!m.To.empty()) text += "To: " + m.To + "\r\n";
    if (!m.Subject.empty()) text += "Subject: " + m.Subject + "\r\n";
    if (!m.Date.empty()) text += "Date: " + m.Date + "\r\n";
    if (m.HeaderClosed) text += "\r\n";
    text += m.Body;
    return text;
}

// Writes a folder file of the messages, in order, and deletes the marked ones.
std::string WriteFolder(const std::string& name, const std::vector<TMail>& mails) {
    TDbxWriter dbx;
    std::vector<int> numbers;
    for (const TMail& m : mails) numbers.push_back(dbx.AddMessage(MailText(m)));
    for (std::size_t i = 0; i < mails.size(); ++i)
        if (mails[i].Deleted) dbx.DeleteMessage(numbers[i]);
    const std::string path = g_folder + "/" + name;
    dbx.Save(path);
    return path;
}

TMail Mail(int n, bool deleted = false) {
    const std::string k = std::to_string(n);
    return {"sender" + k + "@example.org", "rcpt" + k + "@example.org", "Subject " + k,
            "Mon, " + k + " Jan 2007 10:00:00 +0100", "Body of message " + k + ".\r\n", deleted, true};
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
        QVERIFY(SameIcon(w->SystemFilesNode->icon(0), w->ilIcons[TfrmMain::IconTopNode]));
        QVERIFY(SameIcon(w->DbxFilesNode->icon(0), w->ilIcons[TfrmMain::IconTopNode]));

        QCOMPARE(RowCount(*w), 0);
        QVERIFY(w->Emails.empty());
        QVERIFY(w->CurrentFile.empty());
        QVERIFY(!w->FilterOn);
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
        const TColours deleted = CountColours(w->ilIcons[TfrmMain::IconDeletedMessage]);
        const TColours live = CountColours(w->ilIcons[TfrmMain::IconLiveMessage]);
        const TColours folderFile = CountColours(w->ilIcons[TfrmMain::IconFolderFile]);
        const TColours topNode = CountColours(w->ilIcons[TfrmMain::IconTopNode]);
        QVERIFY(deleted.red > 5 && deleted.green == 0);
        QVERIFY(live.green > 5 && live.red == 0);
        QVERIFY(folderFile.red == 0 && folderFile.green == 0 && !w->ilIcons[TfrmMain::IconFolderFile].isNull());
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
        QVERIFY(SameIcon(node->icon(0), w->ilIcons[TfrmMain::IconFolderFile]));
        QVERIFY(w->DbxFilesNode->isExpanded());
        QCOMPARE(w->tvFiles->currentItem(), node);
        QVERIFY(node->isSelected());
        QCOMPARE(w->CurrentFile, path);
        QCOMPARE(w->Emails.size(), std::size_t(3));
        QCOMPARE(Column(*w, 0), QStringList({"0", "1", "2"}));
        QCOMPARE(Column(*w, 4), QStringList({" Subject 0", " Subject 1", " Subject 3"}));
        for (int i = 0; i < 3; ++i) {
            QVERIFY(SameIcon(fixture::RowIcon(*w, i), w->ilIcons[TfrmMain::IconLiveMessage]));
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
        QCOMPARE(w->CurrentFile, mixed);
    }

    void theOpenDialogAsksForFolderFilesFromTheRoot() {
        QSettings().remove(TfrmMain::kOpenFolderSetting);  // no folder remembered from an earlier choice
        TfrmMain plain;  // with its own dialog
        plain.show();
        QString title, folder;
        QStringList filters;
        QFileDialog::FileMode mode = QFileDialog::Directory;
        QTimer poll;
        poll.setInterval(10);
        connect(&poll, &QTimer::timeout, [&] {
            auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
            if (dialog == nullptr) return;
            title = dialog->windowTitle();
            filters = dialog->nameFilters();
            folder = dialog->directory().absolutePath();
            mode = dialog->fileMode();
            dialog->reject();
        });
        poll.start();
        QTest::mouseClick(plain.sbOpenDbx, Qt::LeftButton);  // returns once the dialog is closed
        poll.stop();
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
        QVERIFY(w->CurrentFile.empty());
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
            const auto icon = i < 3 ? TfrmMain::IconLiveMessage : TfrmMain::IconDeletedMessage;
            QVERIFY(SameIcon(fixture::RowIcon(*w, i), w->ilIcons[icon]));
            QCOMPARE(fixture::CheckState(*w, i), Qt::Unchecked);  // ticks go with a reload
        }
        QVERIFY(w->Emails[3].Deleted != 0 && w->Emails[4].Deleted != 0);

        QTest::keyClick(w->cbdeletedemails, Qt::Key_Space);  // by keyboard too
        QVERIFY(!w->cbdeletedemails->isChecked());
        QCOMPARE(Column(*w, 0), QStringList({"0", "1", "2"}));
        QVERIFY(errors.isEmpty());
    }

    void theSwitchBeforeAnyFileOnlyChangesTheNextLoad() {
        QTest::mouseClick(w->cbdeletedemails, Qt::LeftButton);
        QVERIFY(w->cbdeletedemails->isChecked());
        QVERIFY(w->CurrentFile.empty());
        QCOMPARE(RowCount(*w), 0);
        QVERIFY(errors.isEmpty());
        w->loadDbxFile(ThreeLiveTwoDeleted());
        QCOMPARE(RowCount(*w), 5);
    }

    void headerTextsAreShownAsTheRecordHoldsThem() {
        TMail odd = Mail(7);
        odd.Subject = "Caf\xE9 \x80 5";  // Windows-1252: e acute, euro sign
        odd.To.clear();
        const std::string path = WriteFolder("Odd.dbx", {odd});
        w->loadDbxFile(path);
        QCOMPARE(RowCount(*w), 1);
        QCOMPARE(fixture::Text(*w, 0, TfrmMain::ColSubject), QString::fromUtf8(" Caf\u00e9 \u20ac 5"));
        QCOMPARE(fixture::Text(*w, 0, TfrmMain::ColTo), QString());
        QCOMPARE(fixture::Text(*w, 0, TfrmMain::ColFrom), QString(" sender7@example.org"));
    }

    void theKeywordFilterSearchesBodiesOnly() {
        std::vector<TMail> mails = {Mail(0), Mail(1), Mail(2), Mail(3), Mail(4)};
        mails[0].Body = "Apples only.\r\n";
        mails[1].Body = "Report on BANANAS and more.\r\n";
        mails[2].Subject = "bananas";  // in a header line only
        mails[2].Body = "Cherries.\r\n";
        mails[3].Body = "Green Bananas\r\n";
        mails[4].Subject = "bananas again";  // header block never closed: its own text is searched
        mails[4].HeaderClosed = false;
        mails[4].Body = "X-Note: bananas\r\n";
        const std::string path = WriteFolder("Fruit.dbx", mails);
        w->loadDbxFile(path);
        QCOMPARE(RowCount(*w), 5);

        // An empty keyword does nothing.
        QTest::mouseClick(w->btnApplyFilter, Qt::LeftButton);
        QVERIFY(!w->FilterOn && w->btnApplyFilter->isEnabled() && !w->btnClearFilter->isEnabled());
        QCOMPARE(RowCount(*w), 5);

        QTest::keyClicks(w->txtFilter, "bAnAnAs");
        QTest::mouseClick(w->btnApplyFilter, Qt::LeftButton);
        QVERIFY(w->FilterOn);
        QVERIFY(!w->txtFilter->isEnabled() && !w->btnApplyFilter->isEnabled() && w->btnClearFilter->isEnabled());
        QCOMPARE(Column(*w, 0), QStringList({"1", "3", "4"}));
        QCOMPARE(w->Emails.size(), std::size_t(5));

        // The filter stays on for the next file.
        const std::string other = WriteFolder("Other.dbx", {Mail(0), Mail(1), Mail(2)});
        w->loadDbxFile(other);
        QCOMPARE(RowCount(*w), 0);
        w->loadDbxFile(path);
        QCOMPARE(Column(*w, 0), QStringList({"1", "3", "4"}));

        QTest::mouseClick(w->btnClearFilter, Qt::LeftButton);
        QVERIFY(!w->FilterOn);
        QVERIFY(w->txtFilter->isEnabled() && w->btnApplyFilter->isEnabled() && !w->btnClearFilter->isEnabled());
        QCOMPARE(Column(*w, 0), QStringList({"0", "1", "2", "3", "4"}));
        QVERIFY(errors.isEmpty());
    }

    void theKeywordIsSearchedInTheCodePage() {
        std::vector<TMail> mails = {Mail(0), Mail(1)};
        mails[1].Body = "Un caf\xC9 cr\xE8me.\r\n";  // Windows-1252
        w->loadDbxFile(WriteFolder("Cafe.dbx", mails));
        w->txtFilter->setText(QString::fromUtf8("CAF\u00c9 CR\u00c8ME"));
        w->btnApplyFilterClick();
        QCOMPARE(Column(*w, 0), QStringList({"1"}));

        // A keyword of blanks is not empty and is applied.
        w->btnClearFilterClick();
        w->txtFilter->setText("  ");
        w->btnApplyFilterClick();
        QVERIFY(w->FilterOn);
        QCOMPARE(Column(*w, 0), QStringList());
    }

    void applyAndClearBeforeAnyFileOnlySwitchStates() {
        w->txtFilter->setText("message 3");
        w->btnApplyFilterClick();
        QVERIFY(w->FilterOn && !w->txtFilter->isEnabled() && w->btnClearFilter->isEnabled());
        QCOMPARE(RowCount(*w), 0);
        w->loadDbxFile(ThreeLiveTwoDeleted());
        QCOMPARE(Column(*w, 0), QStringList({"2"}));  // the third live message
        QCOMPARE(fixture::Text(*w, 0, TfrmMain::ColSubject), QString(" Subject 3"));
        QVERIFY(errors.isEmpty());
    }

    void aFailedLoadKeepsThePreviousFile() {
        const std::string good = ThreeLiveTwoDeleted();
        w->loadDbxFile(good);
        const TEmailArray before = w->Emails;
        const QStringList rows = Column(*w, 4);
        const std::string missing = g_folder + "/Missing.dbx";

        QVERIFY_THROWS_EXCEPTION(EFOpenError, w->loadDbxFile(missing));
        QCOMPARE(w->CurrentFile, good);
        QVERIFY(w->Emails == before);
        QCOMPARE(Column(*w, 4), rows);
        QVERIFY(w->isEnabled());
        QVERIFY(!w->Busy());
        QVERIFY(WaitWindows().isEmpty());
        // The engine's loops no longer run the toolkit's events.
        QVERIFY(corvane::pump::SetHandler(nullptr) == nullptr);

        // Through the dialog the error reaches the error box.
        chosen = QString::fromStdString(missing);
        QTest::mouseClick(w->sbOpenDbx, Qt::LeftButton);
        QCOMPARE(errors.size(), 1);
        QVERIFY2(errors[0].startsWith("Cannot open file \"" + QString::fromStdString(missing) + "\". "),
                 qPrintable(errors[0]));
        QCOMPARE(w->CurrentFile, good);
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
        QVERIFY(!w->FilterOn && w->txtFilter->isEnabled() && w->btnApplyFilter->isEnabled());
        QVERIFY(!w->btnClearFilter->isEnabled());
        QCOMPARE(RowCount(*w), 3);
        QCOMPARE(w->CurrentFile, path);
    }

    void theErrorBoxShowsTheTextWithTheProgramsTitle() {
        TCorvaneApplication::ErrorBoxHook = nullptr;
        QString title, text;
        QMessageBox::Icon icon = QMessageBox::NoIcon;
        QList<QAbstractButton*> buttons;
        int buttonCount = -1;
        QTimer poll;
        poll.setInterval(10);
        connect(&poll, &QTimer::timeout, [&] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (box == nullptr) return;
            title = box->windowTitle();
            text = box->text();
            icon = box->icon();
            buttonCount = static_cast<int>(box->buttons().size());
            if (QAbstractButton* ok = box->button(QMessageBox::Ok)) ok->click();
        });
        poll.start();
        const std::string missing = g_folder + "/Nowhere.dbx";
        chosen = QString::fromStdString(missing);
        QTest::mouseClick(w->sbOpenDbx, Qt::LeftButton);  // returns once the box is closed
        poll.stop();
        QCOMPARE(title, QString("Corvane Recovery"));
        QCOMPARE(icon, QMessageBox::Critical);
        QCOMPARE(buttonCount, 1);
        QVERIFY2(text.startsWith("Cannot open file \"" + chosen + "\". "), qPrintable(text));
        QVERIFY(w->isVisible() && w->isEnabled());  // the program goes on
    }

    void treeClicksLoadOnlyFileNodes() {
        const std::string path = ThreeLiveTwoDeleted();
        chosen = QString::fromStdString(path);
        w->sbOpenDbxClick();
        QCOMPARE(RowCount(*w), 3);
        // Changed without a click: only a new load shows the deleted messages.
        w->cbdeletedemails->setChecked(true);

        for (QTreeWidgetItem* top : {w->SystemFilesNode, w->DbxFilesNode}) {
            ClickNode(w->tvFiles, top);
            QCOMPARE(w->tvFiles->currentItem(), top);
            QCOMPARE(RowCount(*w), 3);
            ClickTreeBelowNodes(w->tvFiles);
            QCOMPARE(RowCount(*w), 3);
        }

        ClickNode(w->tvFiles, w->DbxFilesNode->child(0));
        QCOMPARE(RowCount(*w), 5);
        // A click on the current file's node reads it again.
        w->cbdeletedemails->setChecked(false);
        ClickNode(w->tvFiles, w->DbxFilesNode->child(0));
        QCOMPARE(RowCount(*w), 3);
        // A click beside the nodes leaves none selected and loads nothing.
        w->cbdeletedemails->setChecked(true);
        ClickTreeBelowNodes(w->tvFiles);
        QVERIFY(w->tvFiles->selectedItems().isEmpty());
        QCOMPARE(RowCount(*w), 3);
        QVERIFY(errors.isEmpty());
    }

    void aLoadRunsUnderTheWaitWindow() {
        const std::string first = ThreeLiveTwoDeleted("First.dbx");
        const std::string second = ThreeLiveTwoDeleted("Second.dbx");
        bool ran = false, enabled = true, busy = false, closed = true, pumping = false;
        int waits = 0;
        bool waitVisible = false, barRunning = false;
        QStringList asked;  // closing asks whether to stop the read; here: no
        w->ConfirmCancelHook = [&asked](const QString& question) {
            asked << question;
            return false;
        };
        QTimer::singleShot(0, w.get(), [&] {
            // Runs inside the load, from the engine's event processing.
            ran = true;
            enabled = w->isEnabled();
            busy = w->Busy();
            const QList<TfrmWait*> shown = WaitWindows();
            waits = static_cast<int>(shown.size());
            if (waits == 1) {
                waitVisible = shown[0]->isVisible();
                barRunning = shown[0]->FProcessbar != nullptr && shown[0]->FProcessbar->isRunning();
            }
            closed = w->close();
            w->loadDbxFile(second);  // refused: a load is running
            w->sbOpenDbxClick();     // so is a second open
            const auto handler = corvane::pump::SetHandler(nullptr);
            pumping = handler != nullptr;
            corvane::pump::SetHandler(handler);
        });
        chosen = QString::fromStdString(second);
        w->loadDbxFile(first);
        QVERIFY(ran);
        QVERIFY(!enabled);
        QVERIFY(busy);
        QCOMPARE(waits, 1);
        QVERIFY(waitVisible && barRunning);
        QVERIFY(!closed);
        QCOMPARE(asked.size(), 1);
        QVERIFY(pumping);
        QCOMPARE(w->CurrentFile, first);
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
        QCOMPARE(catcher.urls[2], QUrl(TfrmMain::kHelpUrl));
        QVERIFY(errors.isEmpty());

        w->Exit1->trigger();
        QVERIFY(!w->isVisible());
    }
};

int main(int argc, char** argv) {
    std::string folder = (stdfs::temp_directory_path() / "corvane-listing-XXXXXX").string();
    if (::mkdtemp(folder.data()) == nullptr) return 1;
    g_folder = folder;
    ::setenv("TMPDIR", folder.c_str(), 1);  // the reader's message files go here
    ::setenv("XDG_CONFIG_HOME", (folder + "/config").c_str(), 1);  // and the remembered folders
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    int result = 0;
    {
        TCorvaneApplication app(argc, argv);
        TestListing test;
        result = QTest::qExec(&test, argc, argv);
    }
    std::error_code ec;
    stdfs::remove_all(folder, ec);
    return result;
}

#include "tst_listing.moc"
