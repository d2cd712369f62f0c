#pragma once
// A progress for the tests: counts the reports, remembers the stages, runs
// an action at every report and asks to stop once a given report is reached.

#include <atomic>
#include <functional>
#include <mutex>
#include <set>
#include <string>

#include "progress/Progress.h"

namespace corvane::testsupport {

class TProgressSpy : public corvane::TProgress {
public:
    std::function<void()> OnReport;  // run at every report
    int StopAt = 0;                  // ask to stop from this report on; 0: never
    // Asks to stop from the first report of this stage on (e.g. once the
    // work got that far); empty: never.
    std::string StopAtStage;

    void Report(const char* Stage, std::int64_t, std::int64_t) override {
        {
            std::lock_guard lock(mutex_);
            stages_.insert(Stage);
            if (!StopAtStage.empty() && StopAtStage == Stage) stageReached_ = true;
        }
        ++reports_;
        if (OnReport) OnReport();
    }
    bool StopRequested() override {
        if (StopAt > 0 && reports_ >= StopAt) return true;
        std::lock_guard lock(mutex_);
        return stageReached_;
    }

    int Reports() const { return reports_; }
    std::set<std::string> Stages() const {
        std::lock_guard lock(mutex_);
        return stages_;
    }

private:
    std::atomic<int> reports_{0};
    mutable std::mutex mutex_;
    std::set<std::string> stages_;
    bool stageReached_ = false;
};

}  // namespace corvane::testsupport
