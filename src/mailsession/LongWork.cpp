#include "mailsession/LongWork.h"

#include <cstring>
#include <utility>

#include "emailexport/emailexport.h"

namespace corvane::session {

TLongWork::TLongWork(unsigned options, TTiming timing, TReportHook onReport)
    : options_(options), timing_(std::move(timing)), onReport_(std::move(onReport)) {
    started_ = Now();
}

std::chrono::steady_clock::time_point TLongWork::Now() const {
    return timing_.Clock ? timing_.Clock() : std::chrono::steady_clock::now();
}

void TLongWork::Begin() {
    if ((options_ & Delayed) != 0 || shown_) return;
    shown_ = true;
    ShowWaitWindow();
}

void TLongWork::Report(const char* Stage, std::int64_t Done, std::int64_t Total) {
    ++reports_;
    // Searching the bodies and decoding the texts go through the records one
    // by one: the bar can tell how far they are.
    if (std::strcmp(Stage, corvane::mail::kFilterStage) == 0 || std::strcmp(Stage, corvane::mail::kDecodeStage) == 0)
        options_ |= ShowsShare;
    if (onReport_) onReport_(*this, reports_, Stage, Done, Total);

    const auto now = Now();
    if (eventsRun_ && now - lastEvents_ < timing_.EventInterval) return;
    eventsRun_ = true;
    lastEvents_ = now;
    if (!shown_) {
        if (now - started_ < timing_.WaitWindowDelay) {
            ProcessEvents(false);
            return;
        }
        shown_ = true;
        ShowWaitWindow();
    }
    if ((options_ & ShowsShare) != 0) ShowShare(Done, Total);
    ProcessEvents(true);
}

bool TLongWork::StopRequested() { return cancelled_ || (shown_ && CancelPressed()); }

}  // namespace corvane::session
