#pragma once
// The main window: file tree, message list, keyword filter, preview and the
// tool buttons. Every action of the user enters the program here.
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
#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "Globals/Globals.h"
#include "progress/Progress.h"
#include "frmMainWindow/EmailListModel.h"

class TfrmWait;

class TfrmMain : public QMainWindow {
    Q_OBJECT

public:
    // Positions in ilIcons.
    enum IconIndex : int {
        IconDeletedMessage = 0,  // envelope with a red cross
        IconLiveMessage = 1,     // envelope with a green tick
        IconFolderFile = 3,      // closed envelope: a folder file in the tree
        IconTopNode = 4,         // open yellow folder: a top-level tree node
    };
    // The list's columns.
    enum Column : int {
        ColItemNum = TEmailListModel::ColItemNum,
        ColDate = TEmailListModel::ColDate,
        ColFrom = TEmailListModel::ColFrom,
        ColTo = TEmailListModel::ColTo,
        ColSubject = TEmailListModel::ColSubject,
        ColumnCount = TEmailListModel::ColumnCount
    };

    explicit TfrmMain(QWidget* parent = nullptr);
    ~TfrmMain() override;

    // --- state of the current folder file ---------------------------------
    TEmailArray Emails;        // records of the current folder file, reader's order
    // The decoded header texts of Emails, by index, while "Decode Texts" is
    // ticked (empty otherwise).
    std::vector<corvane::mail::TDecodedHeaders> DecodedHeaders;
    std::string CurrentFile;   // path last loaded successfully (engine bytes)
    bool FilterOn = false;     // the keyword filter is switched on
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
    QCheckBox* cbdecodetexts = nullptr;   // "Decode Texts": decoded header texts, bodies and filter
    QCheckBox* cbwholemessages = nullptr;  // "Whole Messages": one record per live message
    QTreeWidget* tvFiles = nullptr;
    QTreeView* lvFoundEmails = nullptr;    // report-style list over FoundEmails
    TEmailListModel* FoundEmails = nullptr;  // its rows: record indexes into Emails, with their ticks
    QTextEdit* txtmsgbody = nullptr;
    QMenuBar* MainMenu1 = nullptr;
    QMenu* File1 = nullptr;
    QAction* mnuExportMbox = nullptr;  // "Export Selected To Mbox File..."
    QAction* Exit1 = nullptr;
    QMenu* Help1 = nullptr;
    QAction* mnuHelp = nullptr;
    QFileDialog* dlgOpenDbx = nullptr;  // made on first use
    std::array<QIcon, 5> ilIcons;       // 16 x 16 icons by IconIndex; [2] is unused

    // --- handlers of this window's opening and listing ---------------------
    void FormCreate();
    void FormDestroy();
    void sbOpenDbxClick();
    void tvFilesClick();
    void cbdeletedemailsClick();
    // Shows the texts decoded or raw as the box says, remembers its state,
    // and reads the file again while the filter is on (it searches other texts).
    void cbdecodetextsClick();
    // Remembers the box's state and reads the current folder file again: each
    // live message then gives one record, its whole text, or one record per
    // header block found in it.
    void cbwholemessagesClick();
    void btnApplyFilterClick();
    void btnClearFilterClick();
    void mnuHelpClick();
    void Exit1Click();

    // Folder files from outside the open dialog (the program's arguments, files
    // dropped on the window): each path that names a .dbx file is added under
    // "Dbx Files" as a choice of the open dialog is, and the first of them is
    // loaded; other paths are passed over. Returns the number added.
    int OpenDbxFiles(const QStringList& paths);

    // The only way a folder file becomes the current one. A failed or stopped
    // read leaves CurrentFile, Emails and the rows as they were and raises the
    // error (a read that overwrote message files of the list shown writes
    // them again first). With "Decode Texts" the texts are decoded within
    // the read, under the same wait window.
    void loadDbxFile(const std::string& path);
    // Appends the row of record `index` of Emails; the row is scrolled into view.
    void addEmailRow(int index);
    // Replaces the rows by those of the records `shown` (indexes into Emails),
    // in that order, unticked, and shows the last row.
    void listEmails(std::vector<int> shown);

    // --- handlers defined with the selection, export and drive search -------
    void sbSelectAllClick();
    void sbDeselectAllClick();
    void lvFoundEmailsColumnClick(int column);
    void lvFoundEmailsClick();
    void sbSaveEmailClick();
    void mnuExportMboxClick();
    void sbAutoScanClick();

    // --- helpers -----------------------------------------------------------
    // The records of the ticked rows, in the list's present order.
    std::vector<const TEmail*> TickedRecords() const;
    // Record index a row of lvFoundEmails stands for ("Item Num"), -1 if none.
    int RowIndex(const QModelIndex& row) const;
    // Folder-file paths between the toolkit's strings and the engine's bytes.
    static std::string ToEnginePath(const QString& path);
    static QString FromEnginePath(const std::string& path);
    // Header bytes (ANSI code page) as shown in the list, and keyword text back.
    static QString AnsiToDisplay(const std::string& bytes);
    static std::string DisplayToAnsi(const QString& text);

    // The text the preview shows for a record: its raw body stretch, or with
    // "Decode Texts" ticked its decoded body followed by its attachments.
    QString PreviewText(const TEmail& email) const;

    // Where the window keeps its settings between runs: this file (INI
    // format) when set, the user's settings of the program otherwise.
    QString SettingsFile;
    // Reads the remembered states of "Decode Texts" and "Whole Messages" (call
    // after setting SettingsFile; a folder file loaded before is not read again).
    void LoadSettings();

    // True while a long operation (load, filter, export, drive search) runs.
    bool Busy() const { return busy_; }
    // True once the user chose to stop the running work and close the window;
    // the window closes when the work has ended, without further messages.
    bool ClosingAfterWork() const { return closeAfterWork_; }

    // Runs a handler, passing an exception that leaves it to the top-level
    // error handler. Used for every signal connection of this window.
    template <typename F>
    static void Guarded(F&& f);

    // Settings keys of the folders remembered between runs: the folder of the
    // file last chosen in the open dialog (where the dialog starts next time,
    // instead of the file system's root), and the folder last exported into,
    // as .eml files or as an mbox file (where both export dialogs start).
    static const char* const kOpenFolderSetting;
    static const char* const kExportFolderSetting;

    // Test seam: the path the open dialog returns; empty means cancelled. By
    // default it runs dlgOpenDbx modally.
    std::function<QString()> ChooseDbxFile;
    // Test seams of the export: the folder its chooser returns (empty means
    // cancelled; by default BrowseForFolder runs), and the text of its closing
    // information box (by default shown modally).
    std::function<std::string(const std::string& title, const std::string& initialFolder, bool allowNewFolder)>
        ChooseExportFolder;
    std::function<void(const QString&)> InformationBoxHook;
    // Test seam of the mbox export: the file name its save dialog returns
    // (empty means cancelled); by default the toolkit's save dialog runs.
    std::function<QString()> ChooseMboxFile;
    // Test seam of closing the window while work that can stop runs: the
    // answer to the question whether to stop it (by default asked modally).
    std::function<bool(const QString&)> ConfirmCancelHook;

    // The help page: mnuHelpClick opens the first of these files that exists
    // (the copy installed with the program in ../share/corvane-recovery/, then
    // one beside the program, as a build tree and a Windows folder have it),
    // and the web address kHelpUrl when none does.
    std::vector<std::string> HelpPageCandidates;
    static const char* const kHelpUrl;

    // One long operation under the wait window: shows the wait window over the
    // main window, disables the main window and lets the engine's long loops
    // process the toolkit's events; the destructor undoes all of it, also when
    // the work raised an error.
    // It is also the work's progress: each report lets the toolkit process
    // its pending events (at most every 15 ms), so the windows stay alive.
    class TLongOperation : public corvane::TProgress {
    public:
        enum Option : unsigned {
            // The wait window offers btnCancel, and closing the main window
            // asks whether to stop the work; StopRequested tells the work.
            Cancellable = 1,
            // The wait window comes only once the work has lasted
            // kWaitWindowDelay. Until then the toolkit processes every event
            // but the user's input, which waits for the window (and finds the
            // main window disabled) or for the end of the work.
            Delayed = 2,
            // The bar shows the share of the work done instead of moving on
            // its own.
            ShowsShare = 4,
        };
        static constexpr std::chrono::milliseconds kWaitWindowDelay{300};

        explicit TLongOperation(TfrmMain& owner, unsigned options = 0);
        ~TLongOperation() override;
        TLongOperation(const TLongOperation&) = delete;
        TLongOperation& operator=(const TLongOperation&) = delete;
        // Null while a delayed wait window has not come yet.
        TfrmWait* WaitWindow() const { return wait_; }

        void Report(const char* Stage, std::int64_t Done, std::int64_t Total) override;
        bool StopRequested() override;

        bool IsCancellable() const { return (options_ & Cancellable) != 0; }
        // Asks the work to stop at its next step, as btnCancel does.
        void Cancel() { cancelled_ = true; }
        // From now on the bar shows the share done.
        void ShowShareOnBar() { options_ |= ShowsShare; }
        // Whether the work reported a stage other than the scans of a read,
        // which write nothing.
        bool PastScanning() const { return pastScanning_; }

    private:
        void ShowWaitWindow();

        TfrmMain& owner_;
        unsigned options_;
        TfrmWait* wait_ = nullptr;
        bool pumping_ = false;
        void (*previousPump_)() = nullptr;
        bool cancelled_ = false;
        bool pastScanning_ = false;
        std::chrono::steady_clock::time_point started_;
        std::chrono::steady_clock::time_point lastEvents_{};
    };

protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    // A drag that carries a local .dbx file is accepted; dropped, the files go
    // through OpenDbxFiles. Nothing is taken while a long operation runs.
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    // Adds a folder file's node under "Dbx Files" and makes it the current node.
    void addDbxFileNode(const std::string& path);
    void createControls();
    void createMenu();
    void connectHandlers();
    void scrollToPendingRow();
    // Sets the filter switch and its buttons.
    void ShowFilterState(bool on);
    // Fills DecodedHeaders for Emails (or empties it) as "Decode Texts" says,
    // and shows the texts accordingly. Long work for a large list, under the
    // wait window; stopped (ECancelled), nothing changes.
    void ShowDecodedTexts();
    // Makes decoded the DecodedHeaders and shows them while "Decode Texts" is
    // ticked (the raw texts otherwise).
    void ShowDecoded(std::vector<corvane::mail::TDecodedHeaders> decoded);
    void SaveSettings() const;
    // Turns the filter on or off and reloads; a failed reload puts it back.
    void SwitchFilter(bool on);
    // Writes the message files of the current list again, after a cancelled
    // read of another folder file may have written some of them.
    void RewriteMessageFiles();

    bool busy_ = false;
    TLongOperation* operation_ = nullptr;  // the one running, if any
    bool closeAfterWork_ = false;          // the user chose to stop the work and close
    bool currentDeleted_ = false;          // "Include Deleted Emails" of the read of CurrentFile
    bool scrollPending_ = false;
    bool scrollQueued_ = false;
};

// The column the list was last sorted by, and the direction of the next sort.
// They live for the whole run; loading another folder file keeps them.
extern int SortColumn;
extern bool SortAscending;

// The order of the rows of two records of `emails` by a column of the list:
// for "Item Num" the record numbers, for the text columns the texts as shown,
// by the user's locale ignoring case; negated unless SortAscending. Negative
// when record1's row goes first, 0 when the two are equal, positive after.
// A heading click sorts the rows stably in this order.
int compareEmailItems(const TEmailArray& emails, int record1, int record2, int column);

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
