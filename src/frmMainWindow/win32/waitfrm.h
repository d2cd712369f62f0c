#pragma once
// The wait window of the Windows front end: a small borderless window on top
// with "Please Wait ......", a progress bar (pbwait) that its own thread,
// TProcessbar, keeps moving while the user-interface thread works, and the
// Cancel button of work that can stop.
//
// The thread never touches the bar: it posts each step to the window and
// waits until the user-interface thread has carried it out (or the window is
// closed), so the bar moves only while the work lets the window messages be
// processed, one step at a time, and pauses kStepMilliseconds after each.
// FormClose stops the thread; the destructor waits for its end before the
// window and its bar go, so no step can reach a destroyed bar.

#include <windows.h>

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>

class TProcessbar {
public:
    static constexpr int kStepMilliseconds = 150;

    // Starts the thread, stepping the bar through the window `target`, which
    // carries out kStepMessage by calling StepBar.
    TProcessbar(HWND target, UINT stepMessage);
    ~TProcessbar();  // stops the thread and waits for its end
    TProcessbar(const TProcessbar&) = delete;
    TProcessbar& operator=(const TProcessbar&) = delete;

    void Stop();
    // On the user-interface thread, at the posted message: one step of the
    // bar (position + 1, or back to its minimum when full; null: no bar).
    void StepBar(HWND bar);
    std::uint64_t StepsDone() const;

private:
    void Run();

    HWND target_;
    UINT stepMessage_;
    mutable std::mutex mutex_;
    std::condition_variable wake_;
    bool stop_ = false;
    bool pending_ = false;  // a step is posted and not carried out yet
    std::uint64_t steps_ = 0;
    std::thread thread_;
};

class TfrmWait {
public:
    // Without an owner, centred over centreOver (the screen when null),
    // shown at once and on top; creation starts the progress thread.
    explicit TfrmWait(HWND centreOver, HFONT font);
    ~TfrmWait();
    TfrmWait(const TfrmWait&) = delete;
    TfrmWait& operator=(const TfrmWait&) = delete;

    HWND Handle = nullptr;
    HWND Label1 = nullptr;
    HWND pbwait = nullptr;
    HWND btnCancel = nullptr;  // hidden unless the work can stop

    // Tells the thread to stop and hides the window; a second call does nothing.
    void FormClose();
    void SetCancellable(bool cancellable);
    // The press of Cancel: the request is kept and the button disabled.
    void btnCancelClick();
    bool CancelRequested() const { return cancelRequested_; }
    // The bar shows the share done of total; the thread's steps stop moving it.
    void ShowShare(std::int64_t done, std::int64_t total);
    // The running progress thread; null once the window has been closed.
    TProcessbar* FProcessbar = nullptr;

    static constexpr int kClientWidth = 504;
    static constexpr int kClientHeight = 103;

private:
    static LRESULT CALLBACK WindowProc(HWND wnd, UINT message, WPARAM wParam, LPARAM lParam);
    TProcessbar* thread_ = nullptr;
    bool cancelRequested_ = false;
    bool showsShare_ = false;
};
