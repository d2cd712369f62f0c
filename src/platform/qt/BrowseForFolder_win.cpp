// The shell's folder browser (SHBrowseForFolderA).

#include "platform/qt/BrowseForFolder.h"

#include <windows.h>
#include <shlobj.h>

#include <QApplication>
#include <QWidget>

// Selects the initial folder, which the callback data points to, once the
// browser has opened.
int CALLBACK BrowseCallback(HWND wnd, UINT message, LPARAM /*messageData*/, LPARAM callbackData) {
    if (message == BFFM_INITIALIZED && callbackData != 0)
        ::SendMessageA(wnd, BFFM_SETSELECTIONA, 1, reinterpret_cast<LPARAM>(reinterpret_cast<const char*>(callbackData)));
    return 0;
}

namespace corvane::gui {

namespace {
HWND TopLevelWindow() {
    QWidget* active = QApplication::activeWindow();
    if (active == nullptr) {
        const auto tops = QApplication::topLevelWidgets();
        for (QWidget* w : tops)
            if (w->isVisible()) { active = w; break; }
    }
    return active != nullptr ? reinterpret_cast<HWND>(active->window()->winId()) : nullptr;
}
}  // namespace

std::string RunFolderBrowser(const std::string& title, const std::string& initialFolder, bool allowNewFolder) {
    char displayName[MAX_PATH + 1] = {};
    BROWSEINFOA info{};
    info.hwndOwner = TopLevelWindow();
    info.pidlRoot = nullptr;
    info.pszDisplayName = displayName;
    info.lpszTitle = title.c_str();
    info.ulFlags = BIF_RETURNONLYFSDIRS | BIF_NEWDIALOGSTYLE;  // 65
    if (!allowNewFolder) info.ulFlags |= BIF_NONEWFOLDERBUTTON;  // 577
    info.lpfn = initialFolder.empty() ? nullptr : BrowseCallback;
    info.lParam = initialFolder.empty() ? 0 : reinterpret_cast<LPARAM>(initialFolder.c_str());

    PIDLIST_ABSOLUTE chosen = ::SHBrowseForFolderA(&info);
    if (chosen == nullptr) return {};
    char path[MAX_PATH + 1] = {};
    const BOOL ok = ::SHGetPathFromIDListA(chosen, path);
    ::CoTaskMemFree(chosen);
    if (!ok) return {};
    return std::string(path);
}

}  // namespace corvane::gui
