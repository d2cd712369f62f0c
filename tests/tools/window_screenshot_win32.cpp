// The Windows window with a folder file loaded, deleted messages included,
// every other row ticked and the first row previewed, written as a bitmap
// file for the README's picture. scripts/screenshot-windows.sh runs it under
// Wine and Xvfb and turns the bitmap into docs/screenshot-windows.png.
//
//   window_screenshot_win32 <folder file> <picture.bmp>

#include <windows.h>
#include <commctrl.h>
#include <objbase.h>

#include <cstdio>
#include <fstream>
#include <vector>

#include "FastStrings/FastStrings.h"
#include "frmMainWindow/win32/frmMainWindow.h"

namespace {

// The window as it shows, frame and caption included, as a 24-bit bitmap file.
bool SaveWindow(HWND window, const char* path) {
    RECT r{};
    ::GetWindowRect(window, &r);
    const int width = r.right - r.left, height = r.bottom - r.top;
    HDC screen = ::GetDC(nullptr);
    HDC memory = ::CreateCompatibleDC(screen);
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = height;  // bottom-up, as a .bmp file holds it
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HBITMAP bitmap = ::CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ old = ::SelectObject(memory, bitmap);
    ::BitBlt(memory, 0, 0, width, height, screen, r.left, r.top, SRCCOPY);
    ::SelectObject(memory, old);
    const DWORD stride = ((static_cast<DWORD>(width) * 3 + 3) / 4) * 4;
    BITMAPFILEHEADER file{};
    file.bfType = 0x4D42;  // "BM"
    file.bfOffBits = sizeof(BITMAPFILEHEADER) + sizeof(BITMAPINFOHEADER);
    file.bfSize = file.bfOffBits + stride * static_cast<DWORD>(height);
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(&file), sizeof file);
    out.write(reinterpret_cast<const char*>(&info.bmiHeader), sizeof info.bmiHeader);
    out.write(static_cast<const char*>(bits), static_cast<std::streamsize>(stride * static_cast<DWORD>(height)));
    ::DeleteObject(bitmap);
    ::DeleteDC(memory);
    ::ReleaseDC(nullptr, screen);
    return out.good();
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s <folder file> <picture.bmp>\n", argv[0]);
        return 2;
    }
    (void)TUpperTable::Data();
    ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    INITCOMMONCONTROLSEX controls{sizeof(INITCOMMONCONTROLSEX), ICC_WIN95_CLASSES | ICC_STANDARD_CLASSES};
    ::InitCommonControlsEx(&controls);
    TfrmMain w(L"screenshot.ini");
    w.MessageBoxHook = [](const std::wstring& text, UINT) {
        std::fprintf(stderr, "%ls\n", text.c_str());
        return IDOK;
    };
    w.Show(SW_SHOWNORMAL);
    ::SendMessageW(w.cbdeletedemails, BM_CLICK, 0, 0);  // before any file: the next load takes it
    w.ProcessMessages();
    w.OpenDbxFiles({argv[1]});
    for (std::size_t row = 0; row < w.Session.RowCount(); row += 2) w.ToggleTick(row);
    if (w.Session.RowCount() > 0) {
        LVITEMW item{};
        item.stateMask = item.state = LVIS_SELECTED | LVIS_FOCUSED;
        ::SendMessageW(w.lvFoundEmails, LVM_SETITEMSTATE, 0, reinterpret_cast<LPARAM>(&item));
        ::SendMessageW(w.lvFoundEmails, LVM_ENSUREVISIBLE, 0, FALSE);
        w.lvFoundEmailsClick();
    }
    ::SetFocus(w.lvFoundEmails);
    // Let every control paint before the picture is taken.
    for (int pass = 0; pass < 20; ++pass) {
        w.ProcessMessages();
        ::RedrawWindow(w.Handle, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN | RDW_FRAME);
        ::Sleep(100);
    }
    const bool saved = SaveWindow(w.Handle, argv[2]);
    ::DeleteFileW(L"screenshot.ini");
    return saved ? 0 : 1;
}
