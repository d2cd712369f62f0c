#include "corvane-dbx/ProgressLine.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <ostream>

namespace corvane::cli {
namespace {

// The parts of a read, each with its weight in the read's share: where the
// time of a read goes. Scans read the whole file; the chain walks read the
// blocks again and hand out their texts.
struct TPart {
    const char* Stage;
    double From, To;  // the share of the read when the part begins and ends
};
constexpr TPart kParts[] = {
    {"Scanning", 0.00, 0.40},
    {"Chaining blocks", 0.40, 0.50},
    {"Writing messages", 0.50, 0.80},
    {"Chaining deleted blocks", 0.80, 0.85},
    {"Writing deleted messages", 0.85, 1.00},
};

}  // namespace

std::string Grouped(std::uint64_t number) {
    std::string digits = std::to_string(number);
    for (std::size_t at = digits.size(); at > 3; at -= 3) digits.insert(at - 3, 1, ' ');
    return digits;
}

TJobLine::TJobLine(std::ostream& err, bool on, TClock clock, std::size_t files, bool writes, bool withDeleted)
    : err_(err), on_(on), clock_(clock ? std::move(clock) : TClock([] { return std::chrono::steady_clock::now(); })),
      files_(std::max<std::size_t>(files, 1)), writes_(writes), readEnd_(withDeleted ? 1.0 : 0.8) {
    start_ = clock_();
}

TJobLine::~TJobLine() {
    std::lock_guard lock(mutex_);
    if (drawn_) err_ << "\r\033[K" << std::flush;
}

void TJobLine::BeginFile(const std::string& shown) {
    std::lock_guard lock(mutex_);
    ++fileIndex_;
    shown_ = shown;
    readShare_ = 0;
    foundHere_ = deletedHere_ = writtenHere_ = 0;
    writtenBefore_ = written_;
    Draw(false);
}

void TJobLine::Stage(const char* stage, std::int64_t done, std::int64_t total) {
    std::lock_guard lock(mutex_);
    for (const TPart& part : kParts) {
        if (std::strncmp(stage, part.Stage, std::strlen(part.Stage)) != 0) continue;
        const double within = total > 0 ? std::clamp(static_cast<double>(done) / static_cast<double>(total), 0.0, 1.0) : 1.0;
        // A scan for live and deleted blocks at once, or a walk that came
        // early, never takes the share back.
        readShare_ = std::max(readShare_, part.From + (part.To - part.From) * within);
        break;
    }
    Draw(false);
}

void TJobLine::Found(bool deleted) {
    std::lock_guard lock(mutex_);
    ++found_;
    ++foundHere_;
    if (deleted) {
        ++deleted_;
        ++deletedHere_;
    }
    Draw(false);
}

void TJobLine::Written(std::int64_t written) {
    std::lock_guard lock(mutex_);
    writtenHere_ = std::max<std::uint64_t>(writtenHere_, static_cast<std::uint64_t>(std::max<std::int64_t>(written, 0)));
    written_ = writtenBefore_ + writtenHere_;
    Draw(false);
}

// An export's files follow the read: a fifth of the file's share waits for
// the files written of those found so far.
double TJobLine::FileShare() const {
    const double read = std::min(1.0, readShare_ / readEnd_);
    if (!writes_) return read;
    const double writtenPart = foundHere_ == 0 ? 1.0 : std::min(1.0, static_cast<double>(writtenHere_) / static_cast<double>(foundHere_));
    return read * (0.8 + 0.2 * writtenPart);
}

void TJobLine::EndFile() {
    std::lock_guard lock(mutex_);
    readShare_ = readEnd_;
    writtenHere_ = std::max(writtenHere_, writes_ ? foundHere_ : 0);
    written_ = writtenBefore_ + writtenHere_;
    Draw(true);
    if (on_ && files_ > 1) {
        err_ << "\r\033[K" << shown_ << ": " << Grouped(foundHere_) << " messages";
        if (deletedHere_ > 0) err_ << " (" << Grouped(deletedHere_) << " deleted)";
        err_ << '\n' << std::flush;
        drawn_ = false;
    }
}

void TJobLine::Clear() {
    std::lock_guard lock(mutex_);
    if (drawn_) err_ << "\r\033[K" << std::flush;
    drawn_ = false;
}

void TJobLine::SkipFile() {
    std::lock_guard lock(mutex_);
    ++fileIndex_;
    readShare_ = readEnd_;
    foundHere_ = deletedHere_ = writtenHere_ = 0;
    writtenBefore_ = written_;
    percent_ = std::max(percent_, static_cast<int>(100 * fileIndex_ / files_));
}

void TJobLine::Finish(const std::string& what) {
    std::lock_guard lock(mutex_);
    if (!on_) return;
    const double seconds = std::chrono::duration<double>(clock_() - start_).count();
    if (drawn_) err_ << "\r\033[K";
    drawn_ = false;
    err_ << Grouped(found_) << (found_ == 1 ? " message" : " messages");
    if (deleted_ > 0) err_ << " (" << Grouped(deleted_) << " deleted)";
    err_ << ' ' << what << " in " << std::llround(std::max(seconds, 0.0)) << " s\n" << std::flush;
}

int TJobLine::Shown() const {
    std::lock_guard lock(mutex_);
    return percent_;
}

void TJobLine::Draw(bool now) {
    const double share = (static_cast<double>(fileIndex_ == 0 ? 0 : fileIndex_ - 1) + FileShare()) / static_cast<double>(files_);
    percent_ = std::max(percent_, static_cast<int>(std::clamp(share, 0.0, 1.0) * 100));
    if (!on_) return;
    const auto time = clock_();
    if (!now && drawn_ && time - lastDraw_ < kRedraw) return;
    lastDraw_ = time;
    std::string line = shown_ + ": " + std::to_string(percent_) + " % - " + Grouped(found_) + " messages found";
    if (writes_) line += ", " + Grouped(written_) + " written";
    err_ << "\r\033[K" << line << std::flush;
    drawn_ = true;
}

}  // namespace corvane::cli
