#include "frmMainWindow/win32/waitfrm.h"

#include <commctrl.h>

#include <chrono>

#include "frmMainWindow/win32/Wide.h"
#include "mailsession/SessionTexts.h"

namespace texts = corvane::session::texts;

namespace {

constexpr UINT kStepMessage = WM_APP + 1;
constexpr int kCancelId = IDCANCEL;
constexpr const wchar_t* kWaitClass = L"CorvaneWaitWindow";

void RegisterWaitClass(WNDPROC proc) {
    static bool registered = false;
    if (registered) return;
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = proc;
    wc.hInstance = ::GetModuleHandleW(nullptr);
    wc.hCursor = ::LoadCursorW(nullptr, IDC_WAIT);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    wc.lpszClassName = kWaitClass;
    registered = ::RegisterClassExW(&wc) != 0;
}

}  // namespace

// ---------------------------------------------------------------------------
// The progress thread

TProcessbar::TProcessbar(HWND target, UINT stepMessage) : target_(target), stepMessage_(stepMessage) {
    thread_ = std::thread([this] { Run(); });
}

TProcessbar::~TProcessbar() {
    Stop();
    if (thread_.joinable()) thread_.join();
}

void TProcessbar::Stop() {
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        stop_ = true;
    }
    wake_.notify_all();
}

std::uint64_t TProcessbar::StepsDone() const {
    const std::lock_guard<std::mutex> lock(mutex_);
    return steps_;
}

void TProcessbar::Run() {
    std::unique_lock<std::mutex> lock(mutex_);
    while (!stop_) {
        pending_ = true;
        ::PostMessageW(target_, stepMessage_, 0, reinterpret_cast<LPARAM>(this));
        wake_.wait(lock, [this] { return stop_ || !pending_; });
        if (stop_) break;
        wake_.wait_for(lock, std::chrono::milliseconds(kStepMilliseconds), [this] { return stop_; });
    }
}

void TProcessbar::StepBar(HWND bar) {
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        if (stop_ || !pending_) return;
        if (bar != nullptr) {
            const auto position = static_cast<int>(::SendMessageW(bar, PBM_GETPOS, 0, 0));
            PBRANGE range{};
            ::SendMessageW(bar, PBM_GETRANGE, FALSE, reinterpret_cast<LPARAM>(&range));
            ::SendMessageW(bar, PBM_SETPOS, position < range.iHigh ? position + 1 : range.iLow, 0);
        }
        pending_ = false;
        ++steps_;
    }
    wake_.notify_all();
}

// ---------------------------------------------------------------------------
// The window

TfrmWait::TfrmWait(HWND centreOver, HFONT font) {
    RegisterWaitClass(&TfrmWait::WindowProc);
    RECT frame{0, 0, kClientWidth, kClientHeight};
    const DWORD style = WS_POPUP | WS_CLIPCHILDREN;
    const DWORD exStyle = WS_EX_TOPMOST | WS_EX_TOOLWINDOW | WS_EX_CONTROLPARENT;
    ::AdjustWindowRectEx(&frame, style, FALSE, exStyle);
    const int width = frame.right - frame.left;
    const int height = frame.bottom - frame.top;
    RECT area{};
    if (centreOver == nullptr || !::GetWindowRect(centreOver, &area))
        ::SystemParametersInfoW(SPI_GETWORKAREA, 0, &area, 0);
    const int left = area.left + (area.right - area.left - width) / 2;
    const int top = area.top + (area.bottom - area.top - height) / 2;

    const HINSTANCE instance = ::GetModuleHandleW(nullptr);
    const std::wstring title = corvane::win32::FromUtf8(texts::kWaitTitle);
    Handle = ::CreateWindowExW(exStyle, kWaitClass, title.c_str(), style, left, top, width, height, nullptr, nullptr,
                               instance, this);
    const std::wstring label = corvane::win32::FromUtf8(texts::kWaitText);
    Label1 = ::CreateWindowExW(0, L"STATIC", label.c_str(), WS_CHILD | WS_VISIBLE, 16, 24, 120, 13, Handle, nullptr,
                               instance, nullptr);
    pbwait = ::CreateWindowExW(0, PROGRESS_CLASSW, L"", WS_CHILD | WS_VISIBLE, 16, 48, 465, 17, Handle, nullptr,
                               instance, nullptr);
    ::SendMessageW(pbwait, PBM_SETRANGE32, 0, 100);
    ::SendMessageW(pbwait, PBM_SETPOS, 0, 0);
    const std::wstring cancel = corvane::win32::FromUtf8(texts::kCancel);
    btnCancel = ::CreateWindowExW(0, L"BUTTON", cancel.c_str(), WS_CHILD | WS_TABSTOP | BS_PUSHBUTTON, 406, 72, 75, 23,
                                  Handle, reinterpret_cast<HMENU>(static_cast<INT_PTR>(kCancelId)), instance, nullptr);
    for (HWND control : {Label1, btnCancel})
        ::SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);

    // FormCreate: the thread starts with the window.
    thread_ = new TProcessbar(Handle, kStepMessage);
    FProcessbar = thread_;
    ::ShowWindow(Handle, SW_SHOWNOACTIVATE);
    ::UpdateWindow(Handle);
}

TfrmWait::~TfrmWait() {
    FormClose();
    delete thread_;  // waits for the thread's end, before the bar goes
    ::DestroyWindow(Handle);
}

void TfrmWait::FormClose() {
    if (FProcessbar == nullptr) return;
    FProcessbar->Stop();
    FProcessbar = nullptr;
    ::ShowWindow(Handle, SW_HIDE);
}

void TfrmWait::SetCancellable(bool cancellable) {
    ::ShowWindow(btnCancel, cancellable ? SW_SHOW : SW_HIDE);
    ::EnableWindow(btnCancel, cancellable && !cancelRequested_);
}

void TfrmWait::btnCancelClick() {
    cancelRequested_ = true;
    ::EnableWindow(btnCancel, FALSE);
}

void TfrmWait::ShowShare(std::int64_t done, std::int64_t total) {
    showsShare_ = true;
    const int position = total <= 0 ? 0 : static_cast<int>(done * 100 / total);
    ::SendMessageW(pbwait, PBM_SETPOS, position < 0 ? 0 : (position > 100 ? 100 : position), 0);
}

LRESULT CALLBACK TfrmWait::WindowProc(HWND wnd, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* self = reinterpret_cast<TfrmWait*>(::GetWindowLongPtrW(wnd, GWLP_USERDATA));
    switch (message) {
    case WM_NCCREATE: {
        const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lParam);
        ::SetWindowLongPtrW(wnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
        break;
    }
    case kStepMessage:
        // Only the thread that posted it, and only while it runs; once the
        // bar shows the share done, the steps leave it alone.
        if (self != nullptr && self->FProcessbar != nullptr && reinterpret_cast<TProcessbar*>(lParam) == self->FProcessbar)
            self->FProcessbar->StepBar(self->showsShare_ ? nullptr : self->pbwait);
        return 0;
    case WM_COMMAND:
        if (self != nullptr && LOWORD(wParam) == kCancelId && ::IsWindowEnabled(self->btnCancel)) {
            self->btnCancelClick();
            return 0;
        }
        break;
    case WM_PAINT: {
        // No window border: a raised edge inside the client marks the window.
        PAINTSTRUCT paint;
        HDC dc = ::BeginPaint(wnd, &paint);
        RECT client;
        ::GetClientRect(wnd, &client);
        ::DrawEdge(dc, &client, EDGE_RAISED, BF_RECT);
        ::EndPaint(wnd, &paint);
        return 0;
    }
    case WM_CLOSE:
        return 0;  // no control closes it; its owner does
    default:
        break;
    }
    return ::DefWindowProcW(wnd, message, wParam, lParam);
}
