#include "frmMainWindow/win32/Dialogs.h"

#include <commdlg.h>
#include <shlobj.h>

#include <algorithm>
#include <vector>

#include "frmMainWindow/win32/Wide.h"
#include "mailsession/SessionTexts.h"

namespace texts = corvane::session::texts;

namespace corvane::win32 {

namespace {

// A filter string of one file type: "Name\0Pattern\0\0".
std::wstring FilterOf(const char* name, const char* pattern) {
    std::wstring filter = FromUtf8(name);
    filter.push_back(L'\0');
    filter += FromUtf8(pattern);
    filter.push_back(L'\0');
    filter.push_back(L'\0');
    return filter;
}

// Two file types: "Name\0Pattern\0All Files\0*.*\0\0".
std::wstring FilterWithAllFiles(const char* name, const std::string& pattern) {
    std::wstring filter = FilterOf(name, pattern.c_str());
    filter.pop_back();
    filter += FilterOf(texts::kAllFilesType, "*.*");
    return filter;
}

std::wstring UpToNul(const std::vector<wchar_t>& buffer) { return std::wstring(buffer.data()); }

// Selects the initial folder, which the callback data points to, once the
// browser has opened.
int CALLBACK BrowseCallback(HWND wnd, UINT message, LPARAM /*messageData*/, LPARAM data) {
    if (message == BFFM_INITIALIZED && data != 0) ::SendMessageW(wnd, BFFM_SETSELECTIONW, TRUE, data);
    return 0;
}

// The system's Open dialog over one filter; the chosen file, empty when
// cancelled.
std::wstring RunOpenDialog(HWND owner, const std::wstring& startFolder, const std::wstring& filter, const char* title,
                           DWORD flags) {
    std::vector<wchar_t> file(32768, L'\0');
    const std::wstring caption = FromUtf8(title);
    OPENFILENAMEW dialog{};
    dialog.lStructSize = sizeof dialog;
    dialog.hwndOwner = owner;
    dialog.lpstrFilter = filter.c_str();
    dialog.nFilterIndex = 1;
    dialog.lpstrFile = file.data();
    dialog.nMaxFile = static_cast<DWORD>(file.size());
    dialog.lpstrInitialDir = startFolder.c_str();
    dialog.lpstrTitle = caption.c_str();
    dialog.Flags = OFN_EXPLORER | OFN_ENABLESIZING | OFN_HIDEREADONLY | OFN_NOCHANGEDIR | flags;
    if (!::GetOpenFileNameW(&dialog)) return {};
    return UpToNul(file);
}

}  // namespace

std::wstring RunOpenDbxDialog(HWND owner, const std::wstring& startFolder) {
    return RunOpenDialog(owner, startFolder, FilterOf(texts::kDbxFileType, texts::kDbxPattern), texts::kOpenDialogTitle, 0);
}

std::wstring RunOpenImageDialog(HWND owner, const std::wstring& startFolder, const std::string& patterns) {
    return RunOpenDialog(owner, startFolder, FilterWithAllFiles(texts::kDiskImageFileType, patterns),
                         texts::kRecoverImageDialogTitle, OFN_FILEMUSTEXIST);
}

std::wstring RunSaveMboxDialog(HWND owner, const std::wstring& folder, const std::wstring& name) {
    std::vector<wchar_t> file(32768, L'\0');
    name.copy(file.data(), std::min(name.size(), file.size() - 1));
    const std::wstring filter = FilterOf(texts::kMboxFileType, texts::kMboxPattern);
    const std::wstring title = FromUtf8(texts::kMboxDialogTitle);
    OPENFILENAMEW dialog{};
    dialog.lStructSize = sizeof dialog;
    dialog.hwndOwner = owner;
    dialog.lpstrFilter = filter.c_str();
    dialog.nFilterIndex = 1;
    dialog.lpstrFile = file.data();
    dialog.nMaxFile = static_cast<DWORD>(file.size());
    dialog.lpstrInitialDir = folder.empty() ? nullptr : folder.c_str();
    dialog.lpstrTitle = title.c_str();
    dialog.lpstrDefExt = L"mbox";
    dialog.Flags = OFN_EXPLORER | OFN_ENABLESIZING | OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT | OFN_PATHMUSTEXIST |
                   OFN_NOCHANGEDIR;
    if (!::GetSaveFileNameW(&dialog)) return {};
    return UpToNul(file);
}

std::wstring RunFolderBrowser(HWND owner, const std::wstring& title, const std::wstring& initialFolder,
                              bool allowNewFolder) {
    std::vector<wchar_t> displayName(MAX_PATH + 1, L'\0');
    BROWSEINFOW info{};
    info.hwndOwner = owner;
    info.pidlRoot = nullptr;
    info.pszDisplayName = displayName.data();
    info.lpszTitle = title.c_str();
    info.ulFlags = BIF_RETURNONLYFSDIRS | BIF_NEWDIALOGSTYLE;
    if (!allowNewFolder) info.ulFlags |= BIF_NONEWFOLDERBUTTON;
    info.lpfn = initialFolder.empty() ? nullptr : BrowseCallback;
    info.lParam = initialFolder.empty() ? 0 : reinterpret_cast<LPARAM>(initialFolder.c_str());

    PIDLIST_ABSOLUTE chosen = ::SHBrowseForFolderW(&info);
    if (chosen == nullptr) return {};
    std::vector<wchar_t> path(MAX_PATH + 1, L'\0');
    const BOOL ok = ::SHGetPathFromIDListW(chosen, path.data());
    ::CoTaskMemFree(chosen);
    return ok ? UpToNul(path) : std::wstring();
}

}  // namespace corvane::win32
