#pragma once
// The wait window: a small borderless window on top with "Please Wait ......"
// and a progress bar that its own thread, TProcessbar, keeps moving while the
// user-interface thread does a long piece of work.
//
// The thread never touches the bar itself: it posts each step to the
// user-interface thread and waits until that step has been carried out (or
// the window is closed), so the bar moves only while the work lets the toolkit
// process events, one step at a time. After FormClose no step reaches the bar;
// the destructor wakes the thread and waits for its end before the bar goes.
//
// Work that knows how far it has come shows that share on the bar instead
// (ShowShare), and work that can stop offers "Cancel" (btnCancel): a press
// only sets CancelRequested, which the work asks at its next step.

#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QThread>
#include <QWidget>

#include <chrono>

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>

// How the progress thread paces its steps: a pause of Step after each step
// carried out, or, Manual, a pause that lasts until Advance() ends it (for
// tests, which then need no clock).
struct TBarPace {
    std::chrono::milliseconds Step{150};
    bool Manual = false;
};

class TProcessbar : public QThread {
    Q_OBJECT
public:
    // Stores the bar; the thread is created but not running until start().
    explicit TProcessbar(QProgressBar* bar, TBarPace pace = {});
    ~TProcessbar() override;  // asks the thread to stop and waits for its end

    // Asks the thread to stop; it ends at once (it never sleeps through a stop).
    void Stop();
    bool StopRequested() const;

    static constexpr int kStepMilliseconds = 150;

    // The pace's seam: block until the thread has posted a step that is not
    // carried out yet, or until it pauses after one (false once it stopped);
    // and end the pause it is in (a manual pace; otherwise nothing).
    bool WaitUntilStepPosted();
    bool WaitUntilPausing();
    void Advance();

protected:
    void run() override;

private:
    struct TShared {
        std::mutex mutex;
        std::condition_variable wake;
        bool stop = false;
        bool stepPending = false;
        bool posted = false;  // the pending step is in the user-interface thread's queue
        bool pausing = false;
        bool advance = false;
        bool ended = false;
    };
    void StepBar();  // on the user-interface thread

    QProgressBar* FProgressBar;
    TBarPace pace_;
    std::shared_ptr<TShared> shared_;
};

class TfrmWait : public QWidget {
    Q_OBJECT
public:
    // Without an owner; centred over `centreOver` (or the screen when null).
    // Creation starts the progress thread (FormCreate), stepping at pace.
    explicit TfrmWait(const QWidget* centreOver = nullptr, TBarPace pace = {});
    ~TfrmWait() override;

    QLabel* Label1 = nullptr;
    QProgressBar* pbwait = nullptr;
    QPushButton* btnCancel = nullptr;  // hidden unless the work can stop (SetCancellable)

    void FormCreate();
    // Tells the thread to stop and forgets it; a second call does nothing.
    void FormClose();

    // Shows btnCancel, for work that asks CancelRequested at its steps.
    void SetCancellable(bool cancellable);
    // The press of btnCancel: the request is kept and the button disabled.
    void btnCancelClick();
    bool CancelRequested() const { return cancelRequested_; }
    // Sets the bar to the share done of total; the progress thread stops
    // stepping it from the first call on.
    void ShowShare(std::int64_t done, std::int64_t total);

    // The running progress thread; null once the window has been closed.
    TProcessbar* FProcessbar = nullptr;

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    std::unique_ptr<TProcessbar> thread_;  // joined in the destructor
    TBarPace pace_;
    bool cancelRequested_ = false;
};
