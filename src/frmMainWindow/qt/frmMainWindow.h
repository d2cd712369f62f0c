#pragma once
// The main window in Qt: file tree, message list, keyword filter, preview and
// the tool buttons. It is a thin adapter over its session (TMailSession),
// which holds the state and every rule: the handlers turn the controls'
// events into session calls and show the session's state in the widgets.
//
// The handlers keep the names of their control and event (sbOpenDbxClick,
// tvFilesClick, ...) and can be called directly; signals reach them through
// Guarded(), which hands an escaping exception to the application's
// top-level error handler (TCorvaneApplication) instead of letting it unwind
// through Qt's own frames.

#include <QCheckBox>
#include <QFileDialog>
#include <QGroupBox>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QTextEdit>
#include <QToolButton>
#include <QTreeView>
#include <QTreeWidget>
#include <QTreeWidgetItem>

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "frmMainWindow/qt/EmailListModel.h"
#include "mailsession/LongWork.h"
#include "mailsession/MailSession.h"
#include "platform/qt/LocaleCompare.h"

class TfrmWait;

// The window's settings between runs in the toolkit's settings: the user's
// (QSettings' default) or, when File is set, that file in INI form.
class TQtSettingsStore : public corvane::session::TSettingsStore {
public:
    QString File;
    std::optional<std::string> Get(const std::string& key) const override;
    void Set(const std::string& key, const std::string& value) override;
};

class TfrmMain : public QMainWindow {
    Q_OBJECT

public:
    using TIcon = corvane::session::TIcon;
    using TColumn = corvane::session::TColumn;

    explicit TfrmMain(QWidget* parent = nullptr);
    ~TfrmMain() override;

    // --- the session: the state of the current folder file and the rules ---
private:
    corvane::gui::TLocaleCollation collation_;  // before Session, which uses it
public:
    TQtSettingsStore Settings;                  // before Session, which uses it
    corvane::session::TMailSession Session;
    // The tree's nodes, by the session's node numbers.
    std::vector<QTreeWidgetItem*> TreeNodes;
    QTreeWidgetItem* SystemFilesNode = nullptr;
    QTreeWidgetItem* DbxFilesNode = nullptr;

    // --- controls (object names as their member names) ----------------------
    QToolButton* sbAutoScan = nullptr;
    QToolButton* sbOpenDbx = nullptr;
    QToolButton* sbSelectAll = nullptr;
    QToolButton* sbDeselectAll = nullptr;
    QToolButton* sbSaveEmail = nullptr;
    QGroupBox* Filter = nullptr;
    QLabel* lblKeyword = nullptr;
    QLineEdit* txtFilter = nullptr;
    QPushButton* btnApplyFilter = nullptr;
    QPushButton* btnClearFilter = nullptr;
    QGroupBox* GroupBox1 = nullptr;
    QCheckBox* cbdeletedemails = nullptr;
    QCheckBox* cbdecodetexts = nullptr;   // "Decode Texts"
    QCheckBox* cbwholemessages = nullptr;  // "Whole Messages"
    QTreeWidget* tvFiles = nullptr;
    QTreeView* lvFoundEmails = nullptr;    // report-style list over FoundEmails
    TEmailListModel* FoundEmails = nullptr;  // the session's rows as the view reads them
    QTextEdit* txtmsgbody = nullptr;
    QMenuBar* MainMenu1 = nullptr;
    QMenu* File1 = nullptr;
    QAction* mnuExportMbox = nullptr;  // "Export Selected To Mbox File..."
    QAction* mnuOpenStore = nullptr;   // "Open Store Folder..."
    QAction* mnuRecoverImage = nullptr;  // "Recover From Disk Image..."
    QAction* Exit1 = nullptr;
    QMenu* Help1 = nullptr;
    QAction* mnuHelp = nullptr;
    QFileDialog* dlgOpenDbx = nullptr;  // made on first use
    std::array<QIcon, 5> ilIcons;       // 16 x 16 icons by TIcon; [2] is unused

    // --- handlers ------------------------------------------------------------
    void FormCreate();
    void FormDestroy();
    void sbOpenDbxClick();
    void tvFilesClick();
    void cbdeletedemailsClick();
    void cbdecodetextsClick();
    void cbwholemessagesClick();
    void btnApplyFilterClick();
    void btnClearFilterClick();
    void mnuHelpClick();
    void Exit1Click();
    void sbSelectAllClick();
    void sbDeselectAllClick();
    void lvFoundEmailsColumnClick(int column);
    void lvFoundEmailsClick();
    void sbSaveEmailClick();
    void mnuExportMboxClick();
    void mnuOpenStoreClick();
    void mnuRecoverImageClick();
    void sbAutoScanClick();

    // Folder files from outside the open dialog (the program's arguments, files
    // dropped on the window): each .dbx path gets a node under "Dbx Files" and
    // the first of them is loaded. Returns the number added.
    int OpenDbxFiles(const QStringList& paths);
    // Loads a folder file through the session under the wait window.
    void loadDbxFile(const std::string& path);
    // Reads the remembered states of "Decode Texts" and "Whole Messages".
    void LoadSettings();
    // Shows the session's rows, texts, options and tree in the widgets,
    // wherever they changed (every handler does; call it after changing the
    // session by other means).
    void ShowSession();

    // Folder-file paths between the toolkit's strings and the engine's bytes.
    static std::string ToEnginePath(const QString& path);
    static QString FromEnginePath(const std::string& path);
    // A text of the engine's (an error, a message box's text with paths in it).
    static QString FromEngineText(const std::string& text);

    // True while a long operation (load, filter, export, drive search) runs.
    bool Busy() const { return busy_; }
    // True once the user chose to stop the running work and close the window;
    // the window closes when the work has ended, without further messages.
    bool ClosingAfterWork() const { return closeAfterWork_; }

    // Runs a handler, passing an exception that leaves it to the top-level
    // error handler. Used for every signal connection of this window.
    template <typename F>
    static void Guarded(F&& f);

    // --- seams -----------------------------------------------------------------
    // The path the open dialog returns; empty means cancelled. By default it
    // runs dlgOpenDbx modally.
    std::function<QString()> ChooseDbxFile;
    // The folder "Open Store Folder..." returns; empty means cancelled. By
    // default a folder chooser runs modally.
    std::function<QString()> ChooseStoreFolder;
    // The disk image "Recover From Disk Image..." reads, and the folder it
    // writes the folder files into; empty means cancelled. By default the
    // toolkit's open dialog and folder chooser run modally.
    std::function<QString()> ChooseDiskImage;
    std::function<QString()> ChooseRecoveryFolder;
    // The folder the export's chooser returns (empty means cancelled; by
    // default BrowseForFolder runs), and the text of its closing information
    // box (by default shown modally).
    std::function<std::string(const std::string& title, const std::string& initialFolder, bool allowNewFolder)>
        ChooseExportFolder;
    std::function<void(const QString&)> InformationBoxHook;
    // The file name the mbox export's save dialog returns (empty means
    // cancelled); by default the toolkit's save dialog runs.
    std::function<QString()> ChooseMboxFile;
    // The answer to the question whether to stop running work and close the
    // window (by default asked modally).
    std::function<bool(const QString&)> ConfirmCancelHook;
    // The long operations' clock and delays (a delay of 0 shows the wait
    // window at the first report), and a hook that sees every report of
    // every long operation: a test presses Cancel at report N through it.
    corvane::session::TLongWork::TTiming Timing;
    corvane::session::TLongWork::TReportHook ReportHook;

    // The help page: mnuHelpClick opens the first of these files that exists
    // (the copy installed with the program in ../share/corvane-recovery/, then
    // one beside the program, as a build tree and a Windows folder have it),
    // and the web address kHelpUrl when none does.
    std::vector<std::string> HelpPageCandidates;

    // One long operation under the wait window (the session's TLongWork with
    // the toolkit's windows): shows the wait window over the main window,
    // disables the main window and processes the toolkit's events at the
    // work's reports; the destructor undoes all of it, also when the work
    // raised an error.
    class TLongOperation : public corvane::session::TLongWork {
    public:
        explicit TLongOperation(TfrmMain& owner, unsigned options = 0);
        ~TLongOperation() override;
        // Null while a delayed wait window has not come yet.
        TfrmWait* WaitWindow() const { return wait_; }

    protected:
        void ShowWaitWindow() override;
        void ProcessEvents(bool userInput) override;
        void ShowShare(std::int64_t done, std::int64_t total) override;
        bool CancelPressed() const override;

    private:
        TfrmMain& owner_;
        TfrmWait* wait_ = nullptr;
    };

protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    // A drag that carries a local .dbx file is accepted; dropped, the files go
    // through OpenDbxFiles. Nothing is taken while a long operation runs.
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    void createControls();
    void createMenu();
    void connectHandlers();
    // Runs a call of the session under a long operation and shows what it
    // changed, also when it failed (the check boxes and the filter's
    // controls then show the options the session kept).
    void RunSessionWork(unsigned options, const std::function<void(corvane::TProgress&)>& work);
    void ShowOptions();
    void ShowTree();
    void ShowOutcome(const corvane::session::TOutcome& outcome);
    void ScrollToLastRow();

    bool busy_ = false;
    TLongOperation* operation_ = nullptr;  // the one running, if any
    bool closeAfterWork_ = false;          // the user chose to stop the work and close
    // The session's versions of the rows and texts the list shows.
    std::uint64_t shownRows_ = 0;
    std::uint64_t shownTexts_ = 0;
};

// Passes the exception being handled to the application's top-level handler.
void HandleCurrentException();

template <typename F>
void TfrmMain::Guarded(F&& f) {
    try {
        f();
    } catch (...) {
        HandleCurrentException();
    }
}
