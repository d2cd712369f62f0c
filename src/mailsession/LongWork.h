#pragma once
// One long operation of a window (a load, the filter, decoding the texts, an
// export, Auto Scan) as the progress its work reports to: when the wait
// window comes, how often the front end processes its events meanwhile,
// when the bar shows the share done, and whether the user asked to stop.
// The front end derives from it and does the showing; the rules are here.
//
// Time is an input: the delay before a delayed wait window comes and the
// least time between two runs of the event processing are given, and so is
// the clock (a steady clock by default; tests give a fake one or a delay of
// 0). OnReport, a seam, sees every report with its number, so that a test
// can press Cancel at the N-th report instead of waiting for a timer.
//
// Threads: Report and StopRequested run on the thread of the work, which for
// a window is its user-interface thread (the front end processes its events
// inside Report).

#include <chrono>
#include <cstdint>
#include <functional>

#include "progress/Progress.h"

namespace corvane::session {

class TLongWork : public corvane::TProgress {
public:
    enum TOption : unsigned {
        // The wait window offers "Cancel", and closing the main window asks
        // whether to stop the work.
        Cancellable = 1,
        // The wait window comes only once the work has lasted the delay;
        // until then the front end processes every event but the user's input.
        Delayed = 2,
        // The bar shows the share done from the start (other work shows it
        // from the first report of the filter or of the decoding on).
        ShowsShare = 4,
    };
    using TClock = std::function<std::chrono::steady_clock::time_point()>;

    // The delays a window uses unless told otherwise.
    static constexpr std::chrono::milliseconds kWaitWindowDelay{300};
    static constexpr std::chrono::milliseconds kEventInterval{15};

    struct TTiming {
        std::chrono::milliseconds WaitWindowDelay = kWaitWindowDelay;
        std::chrono::milliseconds EventInterval = kEventInterval;
        TClock Clock;  // null: std::chrono::steady_clock::now
    };
    // Sees every report: the operation, the report's number (from 1) and what
    // it reported. It may call Cancel().
    using TReportHook = std::function<void(TLongWork&, std::uint64_t, const char*, std::int64_t, std::int64_t)>;

    TLongWork(unsigned options, TTiming timing, TReportHook onReport = {});
    ~TLongWork() override = default;
    TLongWork(const TLongWork&) = delete;
    TLongWork& operator=(const TLongWork&) = delete;

    void Report(const char* Stage, std::int64_t Done, std::int64_t Total) final;
    bool StopRequested() final;

    bool IsCancellable() const { return (options_ & Cancellable) != 0; }
    // Asks the work to stop at its next step, as the Cancel button does.
    void Cancel() { cancelled_ = true; }
    bool Cancelled() const { return cancelled_; }
    std::uint64_t Reports() const { return reports_; }
    bool WaitWindowShown() const { return shown_; }
    bool ShowsShareNow() const { return (options_ & ShowsShare) != 0; }

    // Call from the front end's constructor: an operation that is not
    // delayed shows its wait window at once.
    void Begin();

protected:
    // Shows the wait window (once) and disables the main window.
    virtual void ShowWaitWindow() = 0;
    // Processes the front end's pending events; without userInput, the
    // user's keys and clicks wait.
    virtual void ProcessEvents(bool userInput) = 0;
    // The bar shows done of total.
    virtual void ShowShare(std::int64_t done, std::int64_t total) = 0;
    // Whether the wait window's Cancel was pressed.
    virtual bool CancelPressed() const = 0;

private:
    std::chrono::steady_clock::time_point Now() const;

    unsigned options_;
    TTiming timing_;
    TReportHook onReport_;
    std::chrono::steady_clock::time_point started_;
    std::chrono::steady_clock::time_point lastEvents_{};
    bool eventsRun_ = false;
    bool shown_ = false;
    bool cancelled_ = false;
    std::uint64_t reports_ = 0;
};

}  // namespace corvane::session
