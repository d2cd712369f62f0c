// The policy of a window's long work, with time as an input: when the wait
// window comes, how often the window's events are processed, when the bar
// shows the share done, and how Cancel reaches the work.

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "emailexport/emailexport.h"
#include "mailsession/LongWork.h"
#include "progress/Progress.h"

namespace {

using corvane::session::TLongWork;
using namespace std::chrono_literals;

// A front end that notes what it is asked to do, on a clock the test moves.
class TRecordingWork : public TLongWork {
public:
    TRecordingWork(unsigned options, std::chrono::milliseconds delay, std::chrono::steady_clock::time_point& now,
                   TReportHook hook = {})
        : TLongWork(options, {delay, 15ms, [&now] { return now; }}, std::move(hook)) {
        Begin();
    }
    std::vector<std::string> log;
    bool cancelPressed = false;

protected:
    void ShowWaitWindow() override { log.push_back("window"); }
    void ProcessEvents(bool userInput) override { log.push_back(userInput ? "events" : "events without input"); }
    void ShowShare(std::int64_t done, std::int64_t total) override {
        log.push_back("share " + std::to_string(done) + "/" + std::to_string(total));
    }
    bool CancelPressed() const override { return cancelPressed; }
};

TEST(LongWork, ADelayedWaitWindowComesOnceTheWorkHasLastedTheDelay) {
    std::chrono::steady_clock::time_point now{};
    TRecordingWork work(TLongWork::Delayed, 300ms, now);
    EXPECT_TRUE(work.log.empty());
    work.Report("Scanning", 1, 10);
    now += 100ms;
    work.Report("Scanning", 2, 10);
    now += 5ms;  // within the interval: nothing to do
    work.Report("Scanning", 3, 10);
    now += 200ms;
    work.Report("Scanning", 4, 10);
    EXPECT_EQ(work.log, (std::vector<std::string>{"events without input", "events without input", "window", "events"}));
    EXPECT_TRUE(work.WaitWindowShown());
    EXPECT_EQ(work.Reports(), 4u);
}

TEST(LongWork, WithoutDelayTheWindowComesAtOnceAndTheShareFollowsTheFilter) {
    std::chrono::steady_clock::time_point now{};
    TRecordingWork at(0, 300ms, now);
    EXPECT_EQ(at.log, std::vector<std::string>{"window"});
    at.Report("Writing messages", 5, 10);
    now += 20ms;
    at.Report(corvane::mail::kFilterStage, 1, 4);  // from here on the bar shows the share
    now += 20ms;
    at.Report(corvane::mail::kFilterStage, 2, 4);
    EXPECT_EQ(at.log, (std::vector<std::string>{"window", "events", "share 1/4", "events", "share 2/4", "events"}));

    TRecordingWork zero(TLongWork::Delayed | TLongWork::ShowsShare, 0ms, now);  // a delay of 0
    zero.Report("Exporting messages", 0, 3);
    EXPECT_EQ(zero.log, (std::vector<std::string>{"window", "share 0/3", "events"}));
}

TEST(LongWork, CancelReachesTheWorkThroughTheButtonOrTheHook) {
    std::chrono::steady_clock::time_point now{};
    TRecordingWork button(TLongWork::Cancellable | TLongWork::Delayed, 300ms, now);
    button.cancelPressed = true;  // pressed on a window not shown yet: there is none
    EXPECT_FALSE(button.StopRequested());
    now += 400ms;
    button.Report("Scanning", 1, 2);
    EXPECT_TRUE(button.StopRequested());

    // The hook presses Cancel at the third report, whatever the clock says.
    TRecordingWork hooked(TLongWork::Cancellable, 300ms, now,
                          [](TLongWork& w, std::uint64_t n, const char*, std::int64_t, std::int64_t) {
                              if (n == 3) w.Cancel();
                          });
    int done = 0;
    try {
        for (; done < 10; ++done) corvane::CheckPoint(&hooked, "Exporting messages", done, 10);
    } catch (const corvane::ECancelled&) {
    }
    EXPECT_EQ(done, 2);
    EXPECT_TRUE(hooked.Cancelled());
    EXPECT_TRUE(hooked.IsCancellable());
}

}  // namespace
