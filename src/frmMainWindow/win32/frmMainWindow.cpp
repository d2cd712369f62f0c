#include "frmMainWindow/win32/frmMainWindow.h"

#include <richedit.h>
#include <shellapi.h>

#include <algorithm>
#include <ctime>
#include <cwchar>
#include <exception>
#include <utility>

#include "emailexport/emailexport.h"
#include "frmMainWindow/win32/Dialogs.h"
#include "frmMainWindow/win32/Resources.h"
#include "frmMainWindow/win32/Wide.h"
#include "frmMainWindow/win32/waitfrm.h"
#include "mailsession/SessionTexts.h"
#include "platform/Errors.h"
#include "progress/Progress.h"

namespace texts = corvane::session::texts;
using corvane::session::TLongWork;
using corvane::win32::FromAnsi;
using corvane::win32::FromUtf8;
using corvane::win32::ToAnsi;
using corvane::win32::ToUtf8;

namespace {

constexpr const wchar_t* kMainClass = L"CorvaneMainWindow";
// Messages the window posts to itself: work of the session to run after the
// present message, a tree click to handle once the tree has selected.
constexpr UINT kSessionPost = WM_APP + 20;
constexpr UINT kAfterTreeClick = WM_APP + 21;

// A single fixed border with the system menu and its close box only. (No
// WS_CLIPCHILDREN: the group boxes leave their insides to the window to paint.)
constexpr DWORD kMainStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU;

std::wstring W(const char* text) { return FromUtf8(text); }

HICON LoadIconOfSize(int id, int size) {
    return static_cast<HICON>(
        ::LoadImageW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(id), IMAGE_ICON, size, size, LR_DEFAULTCOLOR));
}

bool IsFile(const std::wstring& path) {
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

std::wstring ProgramFolder() {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD n = ::GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (n < path.size()) {
            path.resize(n);
            break;
        }
        path.resize(path.size() * 2);
    }
    const std::size_t slash = path.find_last_of(L"\\/");
    return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash);
}

std::wstring FullPath(const std::wstring& path) {
    const DWORD n = ::GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
    if (n == 0) return path;
    std::wstring full(n, L'\0');
    const DWORD written = ::GetFullPathNameW(path.c_str(), n, full.data(), nullptr);
    full.resize(written);
    return full;
}

// The list's own handling of a key or click, and what the session makes of
// it: ticks the list did not toggle itself are toggled here, and a move of
// the selected row by the keyboard previews the row.
LRESULT CALLBACK ListSubclass(HWND wnd, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR /*id*/,
                              DWORD_PTR data) {
    auto* window = reinterpret_cast<TfrmMain*>(data);
    if (message == WM_KEYDOWN && wParam == 'A' && ::GetKeyState(VK_CONTROL) < 0) {
        window->Guarded([window] { window->sbSelectAllClick(); });
        return 0;
    }
    const auto selected = [wnd] { return static_cast<int>(::SendMessageW(wnd, LVM_GETNEXTITEM, -1, LVNI_SELECTED)); };
    if (message == WM_KEYDOWN && wParam == VK_SPACE) {
        const auto focused = static_cast<int>(::SendMessageW(wnd, LVM_GETNEXTITEM, -1, LVNI_FOCUSED));
        if (focused < 0 || static_cast<std::size_t>(focused) >= window->Session.RowCount())
            return ::DefSubclassProc(wnd, message, wParam, lParam);
        const bool before = window->Session.Ticked(static_cast<std::size_t>(focused));
        const LRESULT result = ::DefSubclassProc(wnd, message, wParam, lParam);
        if (window->Session.Ticked(static_cast<std::size_t>(focused)) == before)
            window->ToggleTick(static_cast<std::size_t>(focused));
        return result;
    }
    if (message == WM_KEYDOWN) {
        const int before = selected();
        const LRESULT result = ::DefSubclassProc(wnd, message, wParam, lParam);
        if (selected() != before) window->Guarded([window] { window->lvFoundEmailsClick(); });
        return result;
    }
    if (message == WM_LBUTTONDOWN || message == WM_LBUTTONDBLCLK) {
        LVHITTESTINFO hit{};
        hit.pt = {static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))};
        ::SendMessageW(wnd, LVM_SUBITEMHITTEST, 0, reinterpret_cast<LPARAM>(&hit));
        const bool onBox = hit.iItem >= 0 && (hit.flags & LVHT_ONITEMSTATEICON) != 0 &&
                           static_cast<std::size_t>(hit.iItem) < window->Session.RowCount();
        const bool before = onBox && window->Session.Ticked(static_cast<std::size_t>(hit.iItem));
        const LRESULT result = ::DefSubclassProc(wnd, message, wParam, lParam);
        if (onBox && message == WM_LBUTTONDOWN && window->Session.Ticked(static_cast<std::size_t>(hit.iItem)) == before)
            window->ToggleTick(static_cast<std::size_t>(hit.iItem));
        return result;
    }
    return ::DefSubclassProc(wnd, message, wParam, lParam);
}

// A tool button takes no keyboard focus (it hands it back at once) and is
// drawn raised while the mouse is over it.
LRESULT CALLBACK ToolButtonSubclass(HWND wnd, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR /*id*/,
                                    DWORD_PTR /*data*/) {
    switch (message) {
    case WM_SETFOCUS:
        if (wParam != 0) ::SetFocus(reinterpret_cast<HWND>(wParam));
        return 0;
    case WM_MOUSEMOVE:
        if (::GetPropW(wnd, L"CorvaneHot") == nullptr) {
            ::SetPropW(wnd, L"CorvaneHot", reinterpret_cast<HANDLE>(1));
            TRACKMOUSEEVENT track{sizeof track, TME_LEAVE, wnd, 0};
            ::TrackMouseEvent(&track);
            ::InvalidateRect(wnd, nullptr, FALSE);
        }
        break;
    case WM_MOUSELEAVE:
        ::RemovePropW(wnd, L"CorvaneHot");
        ::InvalidateRect(wnd, nullptr, FALSE);
        break;
    case WM_NCDESTROY:
        ::RemovePropW(wnd, L"CorvaneHot");
        break;
    default:
        break;
    }
    return ::DefSubclassProc(wnd, message, wParam, lParam);
}

// Enter in "Keyword" applies the filter, as Apply does.
LRESULT CALLBACK KeywordSubclass(HWND wnd, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR /*id*/,
                                 DWORD_PTR data) {
    auto* window = reinterpret_cast<TfrmMain*>(data);
    if (message == WM_GETDLGCODE && lParam != 0 && reinterpret_cast<const MSG*>(lParam)->wParam == VK_RETURN)
        return ::DefSubclassProc(wnd, message, wParam, lParam) | DLGC_WANTALLKEYS;
    if (message == WM_KEYDOWN && wParam == VK_RETURN) {
        window->Guarded([window] { window->btnApplyFilterClick(); });
        return 0;
    }
    if (message == WM_CHAR && wParam == L'\r') return 0;  // no beep
    return ::DefSubclassProc(wnd, message, wParam, lParam);
}

}  // namespace

// ---------------------------------------------------------------------------
// Settings

namespace {

std::pair<std::wstring, std::wstring> SplitKey(const std::string& key) {
    const std::size_t slash = key.find('/');
    if (slash == std::string::npos) return {L"General", FromUtf8(key)};
    return {FromUtf8(key.substr(0, slash)), FromUtf8(key.substr(slash + 1))};
}

constexpr const wchar_t* kRegistryKey = L"Software\\corvane\\corvane-recovery";

}  // namespace

std::optional<std::string> TWin32SettingsStore::Get(const std::string& key) const {
    const auto [section, name] = SplitKey(key);
    if (!IniFile.empty()) {
        // A value no one writes tells a missing key from an empty one.
        const wchar_t* missing = L"\x1F";
        std::wstring value(4096, L'\0');
        const DWORD n = ::GetPrivateProfileStringW(section.c_str(), name.c_str(), missing, value.data(),
                                                   static_cast<DWORD>(value.size()), IniFile.c_str());
        value.resize(n);
        if (value == missing) return std::nullopt;
        return ToUtf8(value);
    }
    const std::wstring subkey = std::wstring(kRegistryKey) + L"\\" + section;
    DWORD bytes = 0;
    if (::RegGetValueW(HKEY_CURRENT_USER, subkey.c_str(), name.c_str(), RRF_RT_REG_SZ, nullptr, nullptr, &bytes) !=
        ERROR_SUCCESS)
        return std::nullopt;
    std::wstring value(bytes / sizeof(wchar_t) + 1, L'\0');
    bytes = static_cast<DWORD>(value.size() * sizeof(wchar_t));
    if (::RegGetValueW(HKEY_CURRENT_USER, subkey.c_str(), name.c_str(), RRF_RT_REG_SZ, nullptr, value.data(), &bytes) !=
        ERROR_SUCCESS)
        return std::nullopt;
    value.resize(wcsnlen(value.c_str(), value.size()));
    return ToUtf8(value);
}

void TWin32SettingsStore::Set(const std::string& key, const std::string& value) {
    const auto [section, name] = SplitKey(key);
    const std::wstring wide = FromUtf8(value);
    if (!IniFile.empty()) {
        ::WritePrivateProfileStringW(section.c_str(), name.c_str(), wide.c_str(), IniFile.c_str());
        return;
    }
    const std::wstring subkey = std::wstring(kRegistryKey) + L"\\" + section;
    HKEY handle = nullptr;
    if (::RegCreateKeyExW(HKEY_CURRENT_USER, subkey.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &handle, nullptr) !=
        ERROR_SUCCESS)
        return;
    ::RegSetValueExW(handle, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(wide.c_str()),
                     static_cast<DWORD>((wide.size() + 1) * sizeof(wchar_t)));
    ::RegCloseKey(handle);
}

// ---------------------------------------------------------------------------
// Construction

TfrmMain::TfrmMain(std::wstring iniFile) : Session(collation_, (Settings.IniFile = std::move(iniFile), &Settings)) {
    const HINSTANCE instance = ::GetModuleHandleW(nullptr);
    static const bool registered = [instance] {
        WNDCLASSEXW wc{};
        wc.cbSize = sizeof wc;
        wc.lpfnWndProc = &TfrmMain::WindowProc;
        wc.hInstance = instance;
        wc.hIcon = LoadIconOfSize(kProgramIcon, ::GetSystemMetrics(SM_CXICON));
        wc.hIconSm = LoadIconOfSize(kProgramIcon, ::GetSystemMetrics(SM_CXSMICON));
        wc.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
        wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
        wc.lpszClassName = kMainClass;
        return ::RegisterClassExW(&wc) != 0;
    }();
    if (!registered) throw ECorvaneError(LastSystemErrorText());

    NONCLIENTMETRICSW metrics{};
    metrics.cbSize = sizeof metrics;
    if (::SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0))
        Font = ::CreateFontIndirectW(&metrics.lfMessageFont);
    if (Font == nullptr) Font = static_cast<HFONT>(::GetStockObject(DEFAULT_GUI_FONT));
    richEdit_ = ::LoadLibraryW(L"Msftedit.dll");
    if (richEdit_ == nullptr) richEdit_ = ::LoadLibraryW(L"Riched20.dll");

    const std::wstring caption = W(texts::kMainCaption);
    Handle = ::CreateWindowExW(WS_EX_ACCEPTFILES, kMainClass, caption.c_str(), kMainStyle, CW_USEDEFAULT,
                               CW_USEDEFAULT, kClientWidth, kClientHeight, nullptr, nullptr, instance, this);
    if (Handle == nullptr) throw ECorvaneError(LastSystemErrorText());

    ACCEL help{FVIRTKEY, VK_F1, static_cast<WORD>(mnuHelp)};
    accelerators_ = ::CreateAcceleratorTableW(&help, 1);

    // Old lists are freed in pieces, each in a message of its own.
    Session.SetPost([this](std::function<void()> work) {
        auto* posted = new std::function<void()>(std::move(work));
        if (Handle == nullptr || !::PostMessageW(Handle, kSessionPost, 0, reinterpret_cast<LPARAM>(posted))) {
            (*posted)();
            delete posted;
        }
    });

    CreateMenu();
    CreateControls();
    const std::wstring folder = ProgramFolder();
    HelpPageCandidates = {folder + L"\\help.html", folder + L"\\..\\share\\corvane-recovery\\help.html"};

    // Client area 906 x 553 below the menu bar and above the status line,
    // centred on the desktop.
    RECT status{};
    ::GetWindowRect(StatusBar1, &status);
    RECT frame{0, 0, kClientWidth, kClientHeight + (status.bottom - status.top)};
    ::AdjustWindowRectEx(&frame, kMainStyle, TRUE, WS_EX_ACCEPTFILES);
    RECT area{};
    ::SystemParametersInfoW(SPI_GETWORKAREA, 0, &area, 0);
    const int width = frame.right - frame.left;
    const int height = frame.bottom - frame.top;
    ::SetWindowPos(Handle, nullptr, area.left + (area.right - area.left - width) / 2,
                   area.top + (area.bottom - area.top - height) / 2, width, height, SWP_NOZORDER | SWP_NOACTIVATE);
    ::SendMessageW(StatusBar1, WM_SIZE, 0, 0);  // along the client area's foot

    FormCreate();
    Guarded([this] { LoadSettings(); });
}

TfrmMain::~TfrmMain() {
    // The session's posted work runs before the session goes.
    MSG message;
    while (Handle != nullptr && ::PeekMessageW(&message, Handle, kSessionPost, kSessionPost, PM_REMOVE)) {
        auto* work = reinterpret_cast<std::function<void()>*>(message.lParam);
        (*work)();
        delete work;
    }
    if (Handle != nullptr) ::DestroyWindow(Handle);
    if (accelerators_ != nullptr) ::DestroyAcceleratorTable(accelerators_);
    if (ilIcons != nullptr) ::ImageList_Destroy(ilIcons);
    for (HICON picture : pictures_)
        if (picture != nullptr) ::DestroyIcon(picture);
    if (Font != nullptr) ::DeleteObject(Font);
}

void TfrmMain::Show(int showCommand) {
    ::ShowWindow(Handle, showCommand);
    ::UpdateWindow(Handle);
}

HWND TfrmMain::Child(const wchar_t* cls, const std::wstring& text, DWORD style, int id, int left, int top, int width,
                     int height, DWORD exStyle) {
    HWND control = ::CreateWindowExW(exStyle, cls, text.c_str(), WS_CHILD | WS_VISIBLE | style, left, top, width, height,
                                     Handle, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                                     ::GetModuleHandleW(nullptr), nullptr);
    ::SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(Font), FALSE);
    return control;
}

void TfrmMain::CreateMenu() {
    MainMenu1 = ::CreateMenu();
    File1 = ::CreatePopupMenu();
    ::AppendMenuW(File1, MF_STRING, mnuOpenStore, W(texts::kOpenStoreMenu).c_str());
    ::AppendMenuW(File1, MF_STRING, mnuRecoverImage, W(texts::kRecoverImageMenu).c_str());
    ::AppendMenuW(File1, MF_STRING, mnuExportMbox, W(texts::kExportMboxMenu).c_str());
    ::AppendMenuW(File1, MF_SEPARATOR, 0, nullptr);
    ::AppendMenuW(File1, MF_STRING, Exit1, W(texts::kExitMenu).c_str());
    Help1 = ::CreatePopupMenu();
    ::AppendMenuW(Help1, MF_STRING, mnuHelp, (W(texts::kHelpEntry) + L"\tF1").c_str());
    // The first letters open the menus with Alt.
    ::AppendMenuW(MainMenu1, MF_POPUP, reinterpret_cast<UINT_PTR>(File1), (L"&" + W(texts::kFileMenu)).c_str());
    ::AppendMenuW(MainMenu1, MF_POPUP, reinterpret_cast<UINT_PTR>(Help1), (L"&" + W(texts::kHelpMenu)).c_str());
    ::SetMenu(Handle, MainMenu1);
}

void TfrmMain::CreateControls() {
    // The icon list, by TIcon (place 2 stays empty).
    ilIcons = ::ImageList_Create(16, 16, ILC_COLOR32 | ILC_MASK, 5, 0);
    for (int id : {kDeletedMessageIcon, kLiveMessageIcon, kFolderFileIcon, kFolderFileIcon, kTopNodeIcon}) {
        HICON icon = LoadIconOfSize(id, 16);
        ::ImageList_AddIcon(ilIcons, icon);
        ::DestroyIcon(icon);
    }

    // Creation order is the tab order: the list, the tree, the settings, the
    // filter, the preview.
    lvFoundEmails = Child(WC_LISTVIEWW, L"", WS_TABSTOP | LVS_REPORT | LVS_OWNERDATA | LVS_SINGLESEL | LVS_SHOWSELALWAYS,
                          IdFoundEmails, 192, 104, 705, 273, WS_EX_CLIENTEDGE);
    ::SendMessageW(lvFoundEmails, LVM_SETEXTENDEDLISTVIEWSTYLE, 0,
                   LVS_EX_CHECKBOXES | LVS_EX_GRIDLINES | LVS_EX_FULLROWSELECT | LVS_EX_DOUBLEBUFFER);
    ::SendMessageW(lvFoundEmails, LVM_SETIMAGELIST, LVSIL_SMALL, reinterpret_cast<LPARAM>(ilIcons));
    // The ticks live in the session: the list asks for them.
    ::SendMessageW(lvFoundEmails, LVM_SETCALLBACKMASK, LVIS_STATEIMAGEMASK, 0);
    for (int c = 0; c < corvane::session::ColumnCount; ++c) {
        std::wstring heading = W(corvane::session::kColumnHeadings[c]);
        LVCOLUMNW column{};
        column.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_SUBITEM;
        column.pszText = heading.data();
        column.cx = corvane::session::kColumnWidths[c];
        column.iSubItem = c;
        ::SendMessageW(lvFoundEmails, LVM_INSERTCOLUMNW, c, reinterpret_cast<LPARAM>(&column));
    }
    ::SetWindowSubclass(lvFoundEmails, ListSubclass, 1, reinterpret_cast<DWORD_PTR>(this));

    tvFiles = Child(WC_TREEVIEWW, L"", WS_TABSTOP | TVS_HASLINES | TVS_HASBUTTONS | TVS_LINESATROOT | TVS_SHOWSELALWAYS,
                    IdFiles, 8, 104, 169, 441, WS_EX_CLIENTEDGE);
    ::SendMessageW(tvFiles, TVM_SETINDENT, 19, 0);
    ::SendMessageW(tvFiles, TVM_SETIMAGELIST, TVSIL_NORMAL, reinterpret_cast<LPARAM>(ilIcons));

    GroupBox1 = Child(L"BUTTON", W(texts::kSettingsGroup), BS_GROUPBOX, IdSettings, 712, 8, 177, 89);
    cbdeletedemails =
        Child(L"BUTTON", W(texts::kIncludeDeleted), WS_TABSTOP | BS_AUTOCHECKBOX, IdIncludeDeleted, 728, 28, 150, 17);
    cbwholemessages =
        Child(L"BUTTON", W(texts::kWholeMessages), WS_TABSTOP | BS_AUTOCHECKBOX, IdWholeMessages, 728, 48, 150, 17);
    cbdecodetexts = Child(L"BUTTON", W(texts::kDecodeTexts), WS_TABSTOP | BS_AUTOCHECKBOX, IdDecodeTexts, 728, 68, 150, 17);

    Filter = Child(L"BUTTON", W(texts::kFilterGroup), BS_GROUPBOX, IdFilter, 528, 8, 177, 89);
    lblKeyword = Child(L"STATIC", W(texts::kKeyword), 0, IdKeyword, 536, 25, 161, 13);
    txtFilter = Child(L"EDIT", L"", WS_TABSTOP | ES_AUTOHSCROLL, IdTxtFilter, 536, 40, 161, 21, WS_EX_CLIENTEDGE);
    ::SetWindowSubclass(txtFilter, KeywordSubclass, 2, reinterpret_cast<DWORD_PTR>(this));
    btnApplyFilter = Child(L"BUTTON", W(texts::kApply), WS_TABSTOP | BS_PUSHBUTTON, IdApplyFilter, 592, 70, 50, 21);
    btnClearFilter = Child(L"BUTTON", W(texts::kClear), WS_TABSTOP | BS_PUSHBUTTON, IdClearFilter, 648, 70, 50, 21);
    ::EnableWindow(btnClearFilter, FALSE);

    txtmsgbody = Child(richEdit_ != nullptr ? MSFTEDIT_CLASS : L"EDIT", L"",
                       WS_TABSTOP | WS_HSCROLL | WS_VSCROLL | ES_MULTILINE | ES_AUTOVSCROLL | ES_AUTOHSCROLL |
                           ES_WANTRETURN | ES_NOHIDESEL | ES_DISABLENOSCROLL,
                       IdMessageBody, 192, 384, 705, 161, WS_EX_CLIENTEDGE);
    if (txtmsgbody == nullptr)  // only the older rich edit is there
        txtmsgbody = Child(RICHEDIT_CLASSW, L"",
                           WS_TABSTOP | WS_HSCROLL | WS_VSCROLL | ES_MULTILINE | ES_AUTOVSCROLL | ES_AUTOHSCROLL |
                               ES_WANTRETURN | ES_NOHIDESEL | ES_DISABLENOSCROLL,
                           IdMessageBody, 192, 384, 705, 161, WS_EX_CLIENTEDGE);
    ::SendMessageW(txtmsgbody, EM_SETTEXTMODE, TM_PLAINTEXT, 0);
    ::SendMessageW(txtmsgbody, EM_EXLIMITTEXT, 0, 0x7FFFFFFE);

    // The tool buttons: 48 x 48 pictures above their captions, no keyboard focus.
    const std::pair<HWND*, const char*> tools[] = {{&sbAutoScan, texts::kAutoScan},
                                                   {&sbOpenDbx, texts::kOpenDbx},
                                                   {&sbSelectAll, texts::kSelectAll},
                                                   {&sbDeselectAll, texts::kDeselectAll},
                                                   {&sbSaveEmail, texts::kSaveEmail}};
    const int pictureIds[] = {kAutoScanPicture, kOpenPicture, kSelectAllPicture, kDeselectAllPicture, kExportPicture};
    for (int i = 0; i < 5; ++i) {
        *tools[i].first = Child(L"BUTTON", W(tools[i].second), BS_OWNERDRAW, IdAutoScan + i, 8 + 104 * i, 8, 100, 89);
        ::SetWindowSubclass(*tools[i].first, ToolButtonSubclass, 3, 0);
        pictures_[static_cast<std::size_t>(i)] = LoadIconOfSize(pictureIds[i], 48);
    }

    // The status line: one plain part, no size grip (the window keeps its size).
    StatusBar1 = Child(STATUSCLASSNAMEW, L"", 0, IdStatus, 0, 0, 0, 0);
}

void TfrmMain::DrawToolButton(const DRAWITEMSTRUCT& item) {
    // Flat, as a tool bar's buttons: raised under the mouse, sunken pressed.
    RECT r = item.rcItem;
    ::FillRect(item.hDC, &r, ::GetSysColorBrush(COLOR_BTNFACE));
    if ((item.itemState & ODS_SELECTED) != 0)
        ::DrawEdge(item.hDC, &r, BDR_SUNKENOUTER, BF_RECT);
    else if (::GetPropW(item.hwndItem, L"CorvaneHot") != nullptr)
        ::DrawEdge(item.hDC, &r, BDR_RAISEDINNER, BF_RECT);
    const int shift = (item.itemState & ODS_SELECTED) != 0 ? 1 : 0;
    const auto index = static_cast<std::size_t>(item.CtlID - IdAutoScan);
    if (index < pictures_.size() && pictures_[index] != nullptr)
        ::DrawIconEx(item.hDC, r.left + (r.right - r.left - 48) / 2 + shift, r.top + 6 + shift, pictures_[index], 48, 48,
                     0, nullptr, DI_NORMAL);
    const std::wstring caption = WindowText(item.hwndItem);
    RECT text{r.left + 2 + shift, r.top + 58 + shift, r.right - 2 + shift, r.bottom - 2 + shift};
    ::SetBkMode(item.hDC, TRANSPARENT);
    ::SetTextColor(item.hDC, ::GetSysColor((item.itemState & ODS_DISABLED) != 0 ? COLOR_GRAYTEXT : COLOR_BTNTEXT));
    HGDIOBJ old = ::SelectObject(item.hDC, Font);
    ::DrawTextW(item.hDC, caption.c_str(), static_cast<int>(caption.size()), &text, DT_CENTER | DT_WORDBREAK);
    ::SelectObject(item.hDC, old);
}

// ---------------------------------------------------------------------------
// The message loop

bool TfrmMain::PreTranslate(MSG& message) {
    if (Handle == nullptr) return false;
    if (accelerators_ != nullptr && !busy_ && ::TranslateAcceleratorW(Handle, accelerators_, &message)) return true;
    return ::IsDialogMessageW(Handle, &message) != FALSE;
}

int TfrmMain::RunMessageLoop(TfrmMain& window) {
    MSG message;
    while (::GetMessageW(&message, nullptr, 0, 0) > 0) {
        if (window.PreTranslate(message)) continue;
        ::TranslateMessage(&message);
        ::DispatchMessageW(&message);
    }
    return static_cast<int>(message.wParam);
}

void TfrmMain::ProcessMessages() {
    MSG message;
    while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        if (message.message == WM_QUIT) {
            ::PostQuitMessage(static_cast<int>(message.wParam));
            return;
        }
        if (PreTranslate(message)) continue;
        ::TranslateMessage(&message);
        ::DispatchMessageW(&message);
    }
}

LRESULT CALLBACK TfrmMain::WindowProc(HWND wnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        auto* self = static_cast<TfrmMain*>(reinterpret_cast<const CREATESTRUCTW*>(lParam)->lpCreateParams);
        self->Handle = wnd;
        ::SetWindowLongPtrW(wnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
    }
    auto* self = reinterpret_cast<TfrmMain*>(::GetWindowLongPtrW(wnd, GWLP_USERDATA));
    if (self == nullptr) return ::DefWindowProcW(wnd, message, wParam, lParam);
    if (message == WM_NCDESTROY) {
        ::SetWindowLongPtrW(wnd, GWLP_USERDATA, 0);
        self->Handle = nullptr;
        return ::DefWindowProcW(wnd, message, wParam, lParam);
    }
    return self->HandleMessage(message, wParam, lParam);
}

LRESULT TfrmMain::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_COMMAND:
        HandleCommand(LOWORD(wParam), HIWORD(wParam));
        return 0;
    case WM_NOTIFY:
        return HandleNotify(*reinterpret_cast<const NMHDR*>(lParam));
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLORBTN:
        // Labels, check boxes and group boxes on the window's button face.
        ::SetBkColor(reinterpret_cast<HDC>(wParam), ::GetSysColor(COLOR_BTNFACE));
        ::SetTextColor(reinterpret_cast<HDC>(wParam), ::GetSysColor(COLOR_BTNTEXT));
        return reinterpret_cast<LRESULT>(::GetSysColorBrush(COLOR_BTNFACE));
    case WM_DRAWITEM:
        DrawToolButton(*reinterpret_cast<const DRAWITEMSTRUCT*>(lParam));
        return TRUE;
    case kSessionPost: {
        auto* work = reinterpret_cast<std::function<void()>*>(lParam);
        (*work)();
        delete work;
        return 0;
    }
    case kAfterTreeClick:
        Guarded([this] { tvFilesClick(); });
        return 0;
    case WM_DROPFILES: {
        auto* drop = reinterpret_cast<HDROP>(wParam);
        std::vector<std::string> files;
        const UINT count = ::DragQueryFileW(drop, 0xFFFFFFFF, nullptr, 0);
        for (UINT i = 0; i < count; ++i) {
            std::wstring name(::DragQueryFileW(drop, i, nullptr, 0) + 1, L'\0');
            name.resize(::DragQueryFileW(drop, i, name.data(), static_cast<UINT>(name.size())));
            files.push_back(ToAnsi(name));
        }
        ::DragFinish(drop);
        if (!busy_) Guarded([this, &files] { OpenDbxFiles(files); });
        return 0;
    }
    case WM_CLOSE:
        // Long work runs nested message processing; the window stays until it
        // ends. Work that can stop is asked to when the user wants that, and
        // the window closes once it has.
        if (busy_) {
            if (operation_ == nullptr || !operation_->IsCancellable() || closeAfterWork_) return 0;
            if (ShowMessage(W(texts::kStopAndClose), MB_YESNO | MB_ICONQUESTION) == IDYES && operation_ != nullptr) {
                operation_->Cancel();
                closeAfterWork_ = true;
                Session.SetClosing(true);
            }
            return 0;
        }
        ::DestroyWindow(Handle);
        return 0;
    case WM_DESTROY:
        if (QuitOnDestroy) ::PostQuitMessage(0);
        return 0;
    default:
        return ::DefWindowProcW(Handle, message, wParam, lParam);
    }
}

void TfrmMain::HandleCommand(int id, int code) {
    if (code > 1) return;  // only a click (a menu entry, an accelerator); no other notification
    switch (id) {
    case IdAutoScan: Guarded([this] { sbAutoScanClick(); }); break;
    case IdOpenDbx: Guarded([this] { sbOpenDbxClick(); }); break;
    case IdSelectAll: Guarded([this] { sbSelectAllClick(); }); break;
    case IdDeselectAll: Guarded([this] { sbDeselectAllClick(); }); break;
    case IdSaveEmail: Guarded([this] { sbSaveEmailClick(); }); break;
    case mnuExportMbox: Guarded([this] { mnuExportMboxClick(); }); break;
    case mnuOpenStore: Guarded([this] { mnuOpenStoreClick(); }); break;
    case mnuRecoverImage: Guarded([this] { mnuRecoverImageClick(); }); break;
    case Exit1: Guarded([this] { Exit1Click(); }); break;
    case mnuHelp: Guarded([this] { mnuHelpClick(); }); break;
    case IdApplyFilter: Guarded([this] { btnApplyFilterClick(); }); break;
    case IdClearFilter: Guarded([this] { btnClearFilterClick(); }); break;
    case IdIncludeDeleted: Guarded([this] { cbdeletedemailsClick(); }); break;
    case IdWholeMessages: Guarded([this] { cbwholemessagesClick(); }); break;
    case IdDecodeTexts: Guarded([this] { cbdecodetextsClick(); }); break;
    default: break;
    }
}

LRESULT TfrmMain::HandleNotify(const NMHDR& header) {
    if (header.hwndFrom == lvFoundEmails) {
        switch (header.code) {
        case LVN_GETDISPINFOW:
            FillDisplayInfo(*reinterpret_cast<NMLVDISPINFOW*>(const_cast<NMHDR*>(&header)));
            return 0;
        case LVN_ITEMCHANGED: {
            // The list toggled a box itself (its own click and Space handling).
            const auto& change = reinterpret_cast<const NMLISTVIEW&>(header);
            const UINT image = (change.uNewState & LVIS_STATEIMAGEMASK) >> 12;
            if ((change.uChanged & LVIF_STATE) != 0 && image != 0 && change.iItem >= 0 &&
                static_cast<std::size_t>(change.iItem) < Session.RowCount()) {
                const auto row = static_cast<std::size_t>(change.iItem);
                if (Session.Ticked(row) != (image == 2)) ToggleTick(row);
            }
            return 0;
        }
        case LVN_COLUMNCLICK: {
            const int column = reinterpret_cast<const NMLISTVIEW&>(header).iSubItem;
            Guarded([this, column] { lvFoundEmailsColumnClick(column); });
            return 0;
        }
        case NM_CLICK:
            Guarded([this] { lvFoundEmailsClick(); });
            return 0;
        default:
            return 0;
        }
    }
    if (header.hwndFrom == tvFiles && header.code == NM_CLICK) {
        // Once the tree has selected the clicked node.
        ::PostMessageW(Handle, kAfterTreeClick, 0, 0);
        return 0;
    }
    return 0;
}

void TfrmMain::FillDisplayInfo(NMLVDISPINFOW& info) {
    LVITEMW& item = info.item;
    if (item.iItem < 0 || static_cast<std::size_t>(item.iItem) >= Session.RowCount()) return;
    const auto row = static_cast<std::size_t>(item.iItem);
    if ((item.mask & LVIF_TEXT) != 0 && item.pszText != nullptr && item.cchTextMax > 0) {
        cell_ = FromUtf8(Session.CellText(row, item.iSubItem));
        const std::size_t n = std::min(cell_.size(), static_cast<std::size_t>(item.cchTextMax - 1));
        cell_.copy(item.pszText, n);
        item.pszText[n] = L'\0';
    }
    if ((item.mask & LVIF_IMAGE) != 0 && item.iSubItem == 0)
        item.iImage = Session.RowDeleted(row) ? corvane::session::IconDeletedMessage : corvane::session::IconLiveMessage;
    if ((item.mask & LVIF_STATE) != 0) {
        item.state = (item.state & ~LVIS_STATEIMAGEMASK) | INDEXTOSTATEIMAGEMASK(Session.Ticked(row) ? 2 : 1);
        item.stateMask |= LVIS_STATEIMAGEMASK;
    }
}

// ---------------------------------------------------------------------------
// Showing the session

void TfrmMain::ShowTree() {
    const corvane::session::TFileTree& tree = Session.Tree();
    HTREEITEM lastParent = nullptr;
    for (auto node = static_cast<int>(TreeNodes.size()); node < static_cast<int>(tree.Count()); ++node) {
        const corvane::session::TTreeNode& n = tree.Node(node);
        std::wstring text = FromAnsi(n.Text);
        TVINSERTSTRUCTW insert{};
        insert.hParent = n.Parent < 0 ? TVI_ROOT : TreeNodes.at(static_cast<std::size_t>(n.Parent));
        insert.hInsertAfter = TVI_LAST;
        insert.item.mask = TVIF_TEXT | TVIF_IMAGE | TVIF_SELECTEDIMAGE | TVIF_PARAM;
        insert.item.pszText = text.data();
        insert.item.iImage = n.Icon;
        insert.item.iSelectedImage = n.Icon;
        insert.item.lParam = node;
        TreeNodes.push_back(reinterpret_cast<HTREEITEM>(
            ::SendMessageW(tvFiles, TVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&insert))));
        lastParent = n.Parent < 0 ? nullptr : insert.hParent;
    }
    if (lastParent != nullptr) ::SendMessageW(tvFiles, TVM_EXPAND, TVE_EXPAND, reinterpret_cast<LPARAM>(lastParent));
}

void TfrmMain::ShowOptions() {
    const corvane::session::TViewOptions& o = Session.Options();
    ::SendMessageW(cbdeletedemails, BM_SETCHECK, o.IncludeDeleted ? BST_CHECKED : BST_UNCHECKED, 0);
    ::SendMessageW(cbdecodetexts, BM_SETCHECK, o.DecodeTexts ? BST_CHECKED : BST_UNCHECKED, 0);
    ::SendMessageW(cbwholemessages, BM_SETCHECK, o.WholeMessages ? BST_CHECKED : BST_UNCHECKED, 0);
    ::EnableWindow(btnApplyFilter, !o.FilterOn);
    ::EnableWindow(btnClearFilter, o.FilterOn);
    ::EnableWindow(txtFilter, !o.FilterOn);
}

void TfrmMain::ShowSortArrow() {
    HWND headings = reinterpret_cast<HWND>(::SendMessageW(lvFoundEmails, LVM_GETHEADER, 0, 0));
    for (int c = 0; c < corvane::session::ColumnCount; ++c) {
        HDITEMW item{};
        item.mask = HDI_FORMAT;
        ::SendMessageW(headings, HDM_GETITEMW, c, reinterpret_cast<LPARAM>(&item));
        item.fmt &= ~(HDF_SORTUP | HDF_SORTDOWN);
        if (sorted_ && c == Session.SortColumn()) item.fmt |= Session.SortAscending() ? HDF_SORTUP : HDF_SORTDOWN;
        ::SendMessageW(headings, HDM_SETITEMW, c, reinterpret_cast<LPARAM>(&item));
    }
}

void TfrmMain::ShowSession() {
    ShowOptions();
    ShowTree();
    ::SetWindowTextW(StatusBar1, FromUtf8(Session.IndexStatus()).c_str());
    if (Session.RowsVersion() != shownRows_) {
        // New rows: none selected, in record order, the last ones in view.
        LVITEMW none{};
        none.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
        ::SendMessageW(lvFoundEmails, LVM_SETITEMSTATE, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(&none));
        ::SendMessageW(lvFoundEmails, LVM_SETITEMCOUNT, Session.RowCount(), 0);
        if (Session.RowCount() > 0) ::SendMessageW(lvFoundEmails, LVM_ENSUREVISIBLE, Session.RowCount() - 1, FALSE);
        ::InvalidateRect(lvFoundEmails, nullptr, FALSE);
        sorted_ = false;
        ShowSortArrow();
    } else if (Session.TextsVersion() != shownTexts_) {
        ::InvalidateRect(lvFoundEmails, nullptr, FALSE);
    }
    shownRows_ = Session.RowsVersion();
    shownTexts_ = Session.TextsVersion();
}

void TfrmMain::ToggleTick(std::size_t row) {
    Session.SetTicked(row, !Session.Ticked(row));
    ::SendMessageW(lvFoundEmails, LVM_REDRAWITEMS, row, row);
}

void TfrmMain::RunSessionWork(unsigned options, const std::function<void(corvane::TProgress&)>& work) {
    // What the user must hear once of the work, whatever its end.
    const auto tell = [this] {
        if (const std::string notice = Session.TakeNotice(); !notice.empty())
            ShowOutcome({corvane::session::TOutcome::Information, notice});
    };
    try {
        TLongOperation operation(*this, options);
        work(operation);
    } catch (...) {
        ShowSession();
        tell();
        throw;
    }
    ShowSession();
    tell();
}

int TfrmMain::ShowMessage(const std::wstring& text, UINT type) {
    if (MessageBoxHook) return MessageBoxHook(text, type);
    return ::MessageBoxW(Handle, text.c_str(), W(texts::kApplicationTitle).c_str(), type);
}

void TfrmMain::ShowOutcome(const corvane::session::TOutcome& outcome) {
    if (outcome.Box == corvane::session::TOutcome::None || closeAfterWork_) return;
    ShowMessage(FromAnsi(outcome.Text),
                MB_OK | (outcome.Box == corvane::session::TOutcome::Error ? MB_ICONERROR : MB_ICONINFORMATION));
}

void TfrmMain::ShowCurrentException() {
    std::wstring text;
    try {
        throw;
    } catch (const corvane::ECancelled&) {
        return;  // the user stopped the work: nothing to report
    } catch (const std::exception& e) {
        // The texts carry file names and the system's explanations, both in
        // the ANSI code page, as the file names themselves are.
        text = FromAnsi(e.what());
    } catch (...) {
        text = L"Unknown error";
    }
    ShowMessage(text, MB_OK | MB_ICONERROR);
}

std::wstring TfrmMain::WindowText(HWND control) const {
    std::wstring text(static_cast<std::size_t>(::GetWindowTextLengthW(control)) + 1, L'\0');
    text.resize(static_cast<std::size_t>(::GetWindowTextW(control, text.data(), static_cast<int>(text.size()))));
    return text;
}

// ---------------------------------------------------------------------------
// Handlers

void TfrmMain::FormCreate() {
    // The two top-level nodes come from the session's tree.
    ShowTree();
    SystemFilesNode = TreeNodes.at(corvane::session::TFileTree::kSystemFiles);
    DbxFilesNode = TreeNodes.at(corvane::session::TFileTree::kDbxFiles);
}

void TfrmMain::sbOpenDbxClick() {
    if (busy_) return;
    const std::wstring start = FromAnsi(Session.RememberedFolder(corvane::session::kOpenFolderSetting, "c:\\"));
    const std::wstring chosen = ChooseDbxFile ? ChooseDbxFile() : corvane::win32::RunOpenDbxDialog(Handle, start);
    if (chosen.empty()) return;
    const std::wstring full = FullPath(chosen);
    const std::size_t slash = full.find_last_of(L"\\/");
    if (slash != std::wstring::npos)
        Session.RememberFolder(corvane::session::kOpenFolderSetting, ToAnsi(full.substr(0, slash + 1)));
    OpenDbxFiles({ToAnsi(full)});
}

int TfrmMain::OpenDbxFiles(const std::vector<std::string>& paths) {
    if (busy_) return 0;
    std::vector<std::string> given;
    for (const std::string& path : paths) given.push_back(ToAnsi(FullPath(FromAnsi(path))));
    const std::vector<int> added = Session.AddDbxFiles(given);
    if (added.empty()) return 0;
    ShowTree();
    ::SendMessageW(tvFiles, TVM_EXPAND, TVE_EXPAND, reinterpret_cast<LPARAM>(DbxFilesNode));
    ::SetFocus(tvFiles);
    ::SendMessageW(tvFiles, TVM_SELECTITEM, TVGN_CARET,
                   reinterpret_cast<LPARAM>(TreeNodes.at(static_cast<std::size_t>(added.front()))));
    loadDbxFile(Session.Tree().FileOf(added.front()));
    return static_cast<int>(added.size());
}

void TfrmMain::tvFilesClick() {
    const auto selected = reinterpret_cast<HTREEITEM>(::SendMessageW(tvFiles, TVM_GETNEXTITEM, TVGN_CARET, 0));
    if (selected == nullptr) return;
    TVITEMW item{};
    item.mask = TVIF_PARAM | TVIF_HANDLE;
    item.hItem = selected;
    ::SendMessageW(tvFiles, TVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&item));
    loadDbxFile(Session.Tree().FileOf(static_cast<int>(item.lParam)));
}

void TfrmMain::loadDbxFile(const std::string& path) {
    if (path.empty() || busy_) return;  // a load or search may be running further up this stack
    RunSessionWork(TLongWork::Cancellable, [this, &path](corvane::TProgress& p) { Session.Load(path, &p); });
}

void TfrmMain::cbdeletedemailsClick() {
    if (busy_) return;
    const bool on = ::SendMessageW(cbdeletedemails, BM_GETCHECK, 0, 0) == BST_CHECKED;
    RunSessionWork(TLongWork::Cancellable, [this, on](corvane::TProgress& p) { Session.SetIncludeDeleted(on, &p); });
}

void TfrmMain::cbdecodetextsClick() {
    if (busy_) return;
    const bool on = ::SendMessageW(cbdecodetexts, BM_GETCHECK, 0, 0) == BST_CHECKED;
    // Decoding the texts of a large list is long work: the wait window comes
    // if it lasts.
    const unsigned options = Session.Options().FilterOn
                                 ? TLongWork::Cancellable
                                 : TLongWork::Cancellable | TLongWork::Delayed | TLongWork::ShowsShare;
    RunSessionWork(options, [this, on](corvane::TProgress& p) { Session.SetDecodeTexts(on, &p); });
}

void TfrmMain::cbwholemessagesClick() {
    if (busy_) return;
    const bool on = ::SendMessageW(cbwholemessages, BM_GETCHECK, 0, 0) == BST_CHECKED;
    RunSessionWork(TLongWork::Cancellable, [this, on](corvane::TProgress& p) { Session.SetWholeMessages(on, &p); });
}

void TfrmMain::LoadSettings() {
    RunSessionWork(TLongWork::Cancellable | TLongWork::Delayed | TLongWork::ShowsShare,
                   [this](corvane::TProgress& p) { Session.LoadSettings(&p); });
}

void TfrmMain::btnApplyFilterClick() {
    if (busy_ || !::IsWindowEnabled(btnApplyFilter)) return;
    const std::string keyword = ToUtf8(WindowText(txtFilter));
    RunSessionWork(TLongWork::Cancellable,
                   [this, &keyword](corvane::TProgress& p) { Session.ApplyFilter(keyword, &p); });
}

void TfrmMain::btnClearFilterClick() {
    if (busy_) return;
    RunSessionWork(TLongWork::Cancellable, [this](corvane::TProgress& p) { Session.ClearFilter(&p); });
}

void TfrmMain::mnuHelpClick() {
    std::wstring target = W(texts::kHelpUrl);
    for (const std::wstring& page : HelpPageCandidates)
        if (IsFile(page)) {
            target = FullPath(page);
            break;
        }
    if (OpenPage) {
        OpenPage(target);
        return;
    }
    const HINSTANCE result = ::ShellExecuteW(nullptr, L"open", target.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
    const auto code = static_cast<int>(reinterpret_cast<INT_PTR>(result));
    if (code <= 32) throw ECorvaneError(SystemErrorText(code));
}

void TfrmMain::Exit1Click() { ::PostMessageW(Handle, WM_CLOSE, 0, 0); }

void TfrmMain::sbSelectAllClick() {
    Session.SetAllTicks(true);
    ::InvalidateRect(lvFoundEmails, nullptr, FALSE);
}

void TfrmMain::sbDeselectAllClick() {
    Session.SetAllTicks(false);
    ::InvalidateRect(lvFoundEmails, nullptr, FALSE);
}

void TfrmMain::lvFoundEmailsColumnClick(int column) {
    const auto selected = static_cast<int>(::SendMessageW(lvFoundEmails, LVM_GETNEXTITEM, -1, LVNI_SELECTED));
    const auto focused = static_cast<int>(::SendMessageW(lvFoundEmails, LVM_GETNEXTITEM, -1, LVNI_FOCUSED));
    const std::vector<std::size_t> moved = Session.SortByColumn(column);
    if (moved.size() != Session.RowCount()) return;  // not a column: nothing was sorted
    sorted_ = true;
    // The selection and the focus move with their rows.
    LVITEMW none{};
    none.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
    ::SendMessageW(lvFoundEmails, LVM_SETITEMSTATE, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(&none));
    for (const auto& [row, state] : {std::pair{focused, UINT(LVIS_FOCUSED)}, std::pair{selected, UINT(LVIS_SELECTED)}}) {
        if (row < 0 || static_cast<std::size_t>(row) >= moved.size()) continue;
        LVITEMW item{};
        item.stateMask = state;
        item.state = state;
        ::SendMessageW(lvFoundEmails, LVM_SETITEMSTATE, moved[static_cast<std::size_t>(row)],
                       reinterpret_cast<LPARAM>(&item));
    }
    ShowSortArrow();
    ::InvalidateRect(lvFoundEmails, nullptr, FALSE);
}

void TfrmMain::lvFoundEmailsClick() {
    const auto selected = static_cast<int>(::SendMessageW(lvFoundEmails, LVM_GETNEXTITEM, -1, LVNI_SELECTED));
    if (selected < 0 || static_cast<std::size_t>(selected) >= Session.RowCount()) return;
    ::SetWindowTextW(txtmsgbody, L"");
    ::SetWindowTextW(txtmsgbody, FromUtf8(Session.PreviewText(static_cast<std::size_t>(selected))).c_str());
}

void TfrmMain::sbSaveEmailClick() {
    if (busy_) return;
    const std::string initial = Session.RememberedFolder(corvane::session::kExportFolderSetting, {});
    const std::string folder =
        ChooseExportFolder ? ChooseExportFolder(texts::kExportFolderTitle, initial, true)
                           : ToAnsi(corvane::win32::RunFolderBrowser(Handle, W(texts::kExportFolderTitle),
                                                                     FromAnsi(initial), true));
    if (folder.empty()) return;
    corvane::session::TOutcome outcome;
    RunSessionWork(TLongWork::Cancellable | TLongWork::Delayed | TLongWork::ShowsShare,
                   [this, &folder, &outcome](corvane::TProgress& p) { outcome = Session.ExportEml(folder, &p); });
    ShowOutcome(outcome);
}

void TfrmMain::mnuExportMboxClick() {
    if (busy_) return;
    const std::wstring folder = FromAnsi(Session.RememberedFolder(corvane::session::kExportFolderSetting, {}));
    const std::wstring file =
        ChooseMboxFile ? ChooseMboxFile() : corvane::win32::RunSaveMboxDialog(Handle, folder, W(texts::kMboxDefaultName));
    if (file.empty()) return;
    // A file of the chosen name stays as it was, also when the user stops.
    corvane::session::TOutcome outcome;
    const std::string target = ToAnsi(FullPath(file));
    RunSessionWork(TLongWork::Cancellable | TLongWork::Delayed | TLongWork::ShowsShare,
                   [this, &target, &outcome](corvane::TProgress& p) {
                       outcome = Session.ExportMbox(target, std::time(nullptr), &p);
                   });
    ShowOutcome(outcome);
}

void TfrmMain::ExpandTo(int node) {
    for (int n = node; n >= 0; n = Session.Tree().Node(n).Parent)
        ::SendMessageW(tvFiles, TVM_EXPAND, TVE_EXPAND, reinterpret_cast<LPARAM>(TreeNodes.at(static_cast<std::size_t>(n))));
}

void TfrmMain::SelectNode(int node) {
    ::SetFocus(tvFiles);
    ::SendMessageW(tvFiles, TVM_SELECTITEM, TVGN_CARET,
                   reinterpret_cast<LPARAM>(TreeNodes.at(static_cast<std::size_t>(node))));
}

// A store folder's folders under "Dbx Files"; the first folder with a
// folder file is selected and loaded.
void TfrmMain::mnuOpenStoreClick() {
    if (busy_) return;
    const std::wstring start = FromAnsi(Session.RememberedFolder(corvane::session::kOpenFolderSetting, "c:\\"));
    const std::wstring chosen = ChooseStoreFolder ? ChooseStoreFolder()
                                                  : corvane::win32::RunFolderBrowser(Handle, W(texts::kOpenStoreDialogTitle),
                                                                                     start, false);
    if (chosen.empty()) return;
    const std::string folder = ToAnsi(FullPath(chosen));
    Session.RememberFolder(corvane::session::kOpenFolderSetting, folder);
    const std::vector<int> added = Session.AddStoreFolder(folder);
    ShowSession();
    if (added.empty()) {
        ShowOutcome({corvane::session::TOutcome::Information, texts::NoStoreFolderText(folder)});
        return;
    }
    for (const int node : added) ExpandTo(node);
    const int first = Session.Tree().FirstWithFile(added);
    SelectNode(first >= 0 ? first : added.front());
    if (first >= 0) loadDbxFile(Session.Tree().FileOf(first));
}

// The folder files carved out of a disk image under a node of their own
// below "Dbx Files", selected; a click on one loads it.
void TfrmMain::mnuRecoverImageClick() {
    if (busy_) return;
    const std::wstring start = FromAnsi(Session.RememberedFolder(corvane::session::kOpenFolderSetting, "c:\\"));
    const std::wstring image =
        ChooseDiskImage ? ChooseDiskImage()
                        : corvane::win32::RunOpenImageDialog(Handle, start, corvane::session::TMailSession::DiskImagePatterns());
    if (image.empty()) return;
    const std::wstring folder =
        ChooseRecoveryFolder ? ChooseRecoveryFolder()
                             : corvane::win32::RunFolderBrowser(
                                   Handle, W(texts::kRecoverFolderTitle),
                                   FromAnsi(Session.RememberedFolder(corvane::session::kExportFolderSetting, {})), true);
    if (folder.empty()) return;
    const std::string imagePath = ToAnsi(FullPath(image));
    const std::string outFolder = ToAnsi(FullPath(folder));
    corvane::session::TMailSession::TImageRecovery recovered;
    RunSessionWork(TLongWork::Cancellable | TLongWork::Delayed | TLongWork::ShowsShare,
                   [this, &imagePath, &outFolder, &recovered](corvane::TProgress& p) {
                       recovered = Session.RecoverFromImage(imagePath, outFolder, &p);
                   });
    if (!recovered.Nodes.empty()) {
        ExpandTo(recovered.Nodes.front());
        SelectNode(recovered.Nodes.front());
    }
    ShowOutcome(recovered.Outcome);
}

void TfrmMain::ExpandAll(HTREEITEM node) {
    ::SendMessageW(tvFiles, TVM_EXPAND, TVE_EXPAND, reinterpret_cast<LPARAM>(node));
    for (auto child = reinterpret_cast<HTREEITEM>(
             ::SendMessageW(tvFiles, TVM_GETNEXTITEM, TVGN_CHILD, reinterpret_cast<LPARAM>(node)));
         child != nullptr; child = reinterpret_cast<HTREEITEM>(
                               ::SendMessageW(tvFiles, TVM_GETNEXTITEM, TVGN_NEXT, reinterpret_cast<LPARAM>(child))))
        ExpandAll(child);
}

void TfrmMain::sbAutoScanClick() {
    if (busy_) return;
    // Every folder file found gets its node, also when the search fails or
    // is stopped; an error goes on to the top-level error handler.
    std::vector<int> added;
    try {
        RunSessionWork(TLongWork::Cancellable, [this, &added](corvane::TProgress& p) { added = Session.AutoScan(&p); });
    } catch (...) {
        if (!added.empty()) ExpandAll(SystemFilesNode);
        throw;
    }
    if (!added.empty()) ExpandAll(SystemFilesNode);
}

// ---------------------------------------------------------------------------
// Long operations

TfrmMain::TLongOperation::TLongOperation(TfrmMain& owner, unsigned options)
    : TLongWork(options, owner.Timing, owner.ReportHook), owner_(owner) {
    owner_.busy_ = true;
    owner_.operation_ = this;
    Begin();
}

void TfrmMain::TLongOperation::ShowWaitWindow() {
    wait_ = new TfrmWait(owner_.Handle, owner_.Font);
    wait_->SetCancellable(IsCancellable());
    ::EnableWindow(owner_.Handle, FALSE);
}

void TfrmMain::TLongOperation::ProcessEvents(bool userInput) {
    MSG message;
    const auto next = [&message, userInput] {
        if (userInput) return ::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE) != FALSE;
        // Everything but the user's keys and clicks.
        return ::PeekMessageW(&message, nullptr, 0, WM_KEYFIRST - 1, PM_REMOVE) != FALSE ||
               ::PeekMessageW(&message, nullptr, WM_KEYLAST + 1, WM_MOUSEFIRST - 1, PM_REMOVE) != FALSE ||
               ::PeekMessageW(&message, nullptr, WM_MOUSELAST + 1, 0xFFFF, PM_REMOVE) != FALSE;
    };
    while (next()) {
        if (message.message == WM_QUIT) {
            ::PostQuitMessage(static_cast<int>(message.wParam));
            return;
        }
        if (wait_ != nullptr && ::IsDialogMessageW(wait_->Handle, &message)) continue;
        ::TranslateMessage(&message);
        ::DispatchMessageW(&message);
    }
}

void TfrmMain::TLongOperation::ShowShare(std::int64_t done, std::int64_t total) {
    if (wait_ != nullptr) wait_->ShowShare(done, total);
}

bool TfrmMain::TLongOperation::CancelPressed() const { return wait_ != nullptr && wait_->CancelRequested(); }

TfrmMain::TLongOperation::~TLongOperation() {
    if (wait_ != nullptr) {
        wait_->FormClose();
        delete wait_;
    }
    if (owner_.Handle != nullptr) ::EnableWindow(owner_.Handle, TRUE);
    owner_.busy_ = false;
    owner_.operation_ = nullptr;
    if (owner_.closeAfterWork_ && owner_.Handle != nullptr) ::PostMessageW(owner_.Handle, WM_CLOSE, 0, 0);
}
