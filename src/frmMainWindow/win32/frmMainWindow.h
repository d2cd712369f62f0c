#pragma once
// The main window in the Windows controls: a tool bar, the file tree, a
// virtual list view with check boxes, the keyword filter, the settings'
// check boxes and a rich edit preview. It is a thin adapter over its session
// (TMailSession), which holds the state and every rule: the window procedure
// turns the controls' notifications into the handlers below, which call the
// session and show its state in the controls.
//
// Threads: everything runs on the thread that made the window; long work
// processes the window messages at its reports (TLongOperation), under the
// wait window.
//
// Errors: an exception that leaves a handler is shown by the top-level
// error handler (ShowCurrentException: caption "Corvane Recovery", error
// icon, one OK button); work the user stopped shows nothing.

#include <windows.h>
#include <commctrl.h>

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "frmMainWindow/win32/Collation.h"
#include "mailsession/LongWork.h"
#include "mailsession/MailSession.h"

class TfrmWait;

// The window's settings between runs: the user's registry key
// HKEY_CURRENT_USER\Software\corvane\corvane-recovery (a key "Settings/X"
// is the value X of the subkey Settings), or, when IniFile is set, that file
// (section Settings, key X).
class TWin32SettingsStore : public corvane::session::TSettingsStore {
public:
    std::wstring IniFile;
    std::optional<std::string> Get(const std::string& key) const override;
    void Set(const std::string& key, const std::string& value) override;
};

class TfrmMain {
public:
    using TIcon = corvane::session::TIcon;

    // Command identifiers: the tool buttons, the menu entries, the controls.
    enum TCommand : int {
        IdAutoScan = 1001,
        IdOpenDbx,
        IdSelectAll,
        IdDeselectAll,
        IdSaveEmail,
        mnuExportMbox = 1101,
        Exit1,
        mnuHelp,
        mnuOpenStore,
        mnuRecoverImage,
        IdFilter = 1201,
        IdKeyword,
        IdTxtFilter,
        IdApplyFilter,
        IdClearFilter,
        IdSettings,
        IdIncludeDeleted,
        IdWholeMessages,
        IdDecodeTexts,
        IdFiles,
        IdFoundEmails,
        IdMessageBody,
        IdStatus,
    };
    static constexpr int kClientWidth = 906;
    static constexpr int kClientHeight = 553;  // above the status line

    // The window is made hidden; Show() shows it centred on the desktop. The
    // settings are kept in the registry, or in iniFile when it is given.
    explicit TfrmMain(std::wstring iniFile = {});
    ~TfrmMain();
    TfrmMain(const TfrmMain&) = delete;
    TfrmMain& operator=(const TfrmMain&) = delete;
    void Show(int showCommand = SW_SHOWNORMAL);

    // --- the session ---------------------------------------------------------
private:
    corvane::win32::TLocaleCollation collation_;  // before Session, which uses it
public:
    TWin32SettingsStore Settings;  // before Session, which uses it
    corvane::session::TMailSession Session;
    std::vector<HTREEITEM> TreeNodes;  // by the session's node numbers
    HTREEITEM SystemFilesNode = nullptr;
    HTREEITEM DbxFilesNode = nullptr;

    // --- controls --------------------------------------------------------------
    HWND Handle = nullptr;
    // The tool buttons: 48 x 48 pictures above their captions (drawn by the
    // window), taking no keyboard focus.
    HWND sbAutoScan = nullptr;
    HWND sbOpenDbx = nullptr;
    HWND sbSelectAll = nullptr;
    HWND sbDeselectAll = nullptr;
    HWND sbSaveEmail = nullptr;
    HWND Filter = nullptr;
    HWND lblKeyword = nullptr;
    HWND txtFilter = nullptr;
    HWND btnApplyFilter = nullptr;
    HWND btnClearFilter = nullptr;
    HWND GroupBox1 = nullptr;
    HWND cbdeletedemails = nullptr;
    HWND cbwholemessages = nullptr;
    HWND cbdecodetexts = nullptr;
    HWND tvFiles = nullptr;
    HWND lvFoundEmails = nullptr;  // virtual (LVS_OWNERDATA): the session's rows
    HWND txtmsgbody = nullptr;
    HWND StatusBar1 = nullptr;  // below the client area: what the folder file's index lacks
    HMENU MainMenu1 = nullptr;
    HMENU File1 = nullptr;
    HMENU Help1 = nullptr;
    HIMAGELIST ilIcons = nullptr;  // 16 x 16, by TIcon; place 2 unused
    HFONT Font = nullptr;          // the system's dialog font

    // --- handlers ----------------------------------------------------------------
    void FormCreate();
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

    // Folder files from outside the open dialog (the program's arguments, a
    // drop): each .dbx path gets a node under "Dbx Files", the first is
    // selected and loaded. Paths in the ANSI code page. Returns the number added.
    int OpenDbxFiles(const std::vector<std::string>& paths);
    void loadDbxFile(const std::string& path);
    void LoadSettings();
    // Shows the session's rows, texts, options and tree in the controls.
    void ShowSession();
    // Toggles the tick of a row, as its box or Space does.
    void ToggleTick(std::size_t row);

    // The message loop's part of the window: the keyboard of its dialog-like
    // controls (Tab, Enter in "Keyword") and the accelerators (F1). True
    // when the message was handled.
    bool PreTranslate(MSG& message);
    // Runs the message loop until the window is gone (the program's loop).
    static int RunMessageLoop(TfrmMain& window);
    // Processes the pending messages through PreTranslate (the tests' pump).
    void ProcessMessages();

    bool Busy() const { return busy_; }
    bool ClosingAfterWork() const { return closeAfterWork_; }
    // The window posts WM_QUIT when it is destroyed (the program's window).
    bool QuitOnDestroy = false;

    // Runs a handler; an exception that leaves it goes to ShowCurrentException.
    template <typename F>
    void Guarded(F&& f);
    // The top-level error handler: shows the text of the exception being
    // handled (inside a catch) in the error box.
    void ShowCurrentException();

    // --- seams -------------------------------------------------------------------
    // Every message box (text, MB_* type); returns the button pressed. By
    // default MessageBoxW over this window, captioned "Corvane Recovery".
    std::function<int(const std::wstring& text, UINT type)> MessageBoxHook;
    // The open dialog's path (empty: cancelled); by default GetOpenFileNameW.
    std::function<std::wstring()> ChooseDbxFile;
    // The export's folder (ANSI; empty: cancelled); by default SHBrowseForFolderW.
    std::function<std::string(const std::string& title, const std::string& initialFolder, bool allowNewFolder)>
        ChooseExportFolder;
    // The mbox export's file (empty: cancelled); by default GetSaveFileNameW.
    std::function<std::wstring()> ChooseMboxFile;
    // The folder "Open Store Folder..." opens (empty: cancelled); by default
    // SHBrowseForFolderW.
    std::function<std::wstring()> ChooseStoreFolder;
    // The disk image "Recover From Disk Image..." reads and the folder it
    // writes into (empty: cancelled); by default GetOpenFileNameW and
    // SHBrowseForFolderW.
    std::function<std::wstring()> ChooseDiskImage;
    std::function<std::wstring()> ChooseRecoveryFolder;
    // Opens a help page or address; by default ShellExecuteW with "open".
    std::function<void(const std::wstring&)> OpenPage;
    // The long operations' clock and delays, and a hook that sees every report
    // of every long operation: a test presses Cancel at report N through it.
    corvane::session::TLongWork::TTiming Timing;
    corvane::session::TLongWork::TReportHook ReportHook;
    // The help page: the first of these files that exists (beside the
    // program, then ..\share\corvane-recovery\), else the address kHelpUrl.
    std::vector<std::wstring> HelpPageCandidates;

    // One long operation under the wait window: shows it (at once or after
    // the delay), disables this window and processes the messages at the
    // work's reports; the destructor undoes all of it, also on an error.
    class TLongOperation : public corvane::session::TLongWork {
    public:
        explicit TLongOperation(TfrmMain& owner, unsigned options = 0);
        ~TLongOperation() override;
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
    // The running operation, if any.
    TLongOperation* Operation() const { return operation_; }

private:
    static LRESULT CALLBACK WindowProc(HWND wnd, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT HandleNotify(const NMHDR& header);
    void HandleCommand(int id, int code);
    void CreateControls();
    void CreateMenu();
    HWND Child(const wchar_t* cls, const std::wstring& text, DWORD style, int id, int left, int top, int width,
               int height, DWORD exStyle = 0);
    void RunSessionWork(unsigned options, const std::function<void(corvane::TProgress&)>& work);
    void ShowOptions();
    void ShowTree();
    void ShowSortArrow();
    void ShowOutcome(const corvane::session::TOutcome& outcome);
    int ShowMessage(const std::wstring& text, UINT type);
    void FillDisplayInfo(NMLVDISPINFOW& info);
    void ExpandAll(HTREEITEM node);
    // Expands the node and every node above it; selects a node (with the focus).
    void ExpandTo(int node);
    void SelectNode(int node);
    void DrawToolButton(const DRAWITEMSTRUCT& item);
    std::array<HICON, 5> pictures_{};  // of the tool buttons, in their order
    std::wstring WindowText(HWND control) const;

    HACCEL accelerators_ = nullptr;
    HMODULE richEdit_ = nullptr;
    bool busy_ = false;
    TLongOperation* operation_ = nullptr;
    bool closeAfterWork_ = false;
    std::uint64_t shownRows_ = 0;
    std::uint64_t shownTexts_ = 0;
    std::wstring cell_;    // the text handed to the list for one cell
    bool sorted_ = false;  // the rows were sorted since they were filled: the heading shows the order
};

template <typename F>
void TfrmMain::Guarded(F&& f) {
    try {
        f();
    } catch (...) {
        ShowCurrentException();
    }
}
