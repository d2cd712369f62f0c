#pragma once
// The progress line of one run of corvane-dbx on standard error: one line,
// rewritten in place, whose share is taken over the whole job (every folder
// file's scan, chain walk and, for an export, the files written), so that
// it only ever grows, with the counts of messages found and written; at the
// end one summary line. The command shows it on a terminal, or when asked
// to (--progress), never else.
//
// Stage hears the read's reports (on the read's thread), Found the messages
// handed out (the command's thread), Written the files written (the
// writers' threads): every call is safe from any thread. The line is
// redrawn when kRedraw has passed since it last was, by the clock the run is
// given (a test's own clock, so that nothing depends on the machine's speed).

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <iosfwd>
#include <mutex>
#include <string>

namespace corvane::cli {

using TClock = std::function<std::chrono::steady_clock::time_point()>;

// A number with its thousands apart, as the line shows counts: "121 256".
std::string Grouped(std::uint64_t number);

class TJobLine {
public:
    static constexpr std::chrono::milliseconds kRedraw{200};

    // on: whether anything is shown; files: how many folder files the job
    // reads; writes: whether it writes the messages it finds (an export);
    // withDeleted: whether the reads look for deleted messages too.
    TJobLine(std::ostream& err, bool on, TClock clock, std::size_t files, bool writes, bool withDeleted);
    ~TJobLine();  // clears a line left standing
    TJobLine(const TJobLine&) = delete;
    TJobLine& operator=(const TJobLine&) = delete;

    bool On() const { return on_; }
    // The next folder file, by the name the user gave.
    void BeginFile(const std::string& shown);
    // A report of the read: its stage and how far it is.
    void Stage(const char* stage, std::int64_t done, std::int64_t total);
    void Found(bool deleted);
    // How many files of the folder file at hand are written so far.
    void Written(std::int64_t written);
    // The folder file is done: with several of them, its own line stays.
    void EndFile();
    // The next folder file could not be read at all: its share is passed.
    void SkipFile();
    // Takes the line away (it comes back with the next redraw), before
    // standard output, which may share the terminal, is written.
    void Clear();
    // Clears the line and writes the summary: "N messages (D deleted)
    // <what> in S s", what being e.g. "written to DIR" or "listed".
    void Finish(const std::string& what);

    // The share shown so far, in percent (for the tests of the shares).
    int Shown() const;

private:
    void Draw(bool now);  // under the lock
    double FileShare() const;

    std::ostream& err_;
    bool on_;
    TClock clock_;
    std::size_t files_;
    bool writes_;
    double readEnd_;  // the read's share once its last part is done
    mutable std::mutex mutex_;
    std::chrono::steady_clock::time_point start_, lastDraw_;
    bool drawn_ = false;  // a line stands
    std::size_t fileIndex_ = 0;  // of the folder file at hand, from 1
    std::string shown_;
    double readShare_ = 0;  // of the folder file at hand
    int percent_ = 0;       // never falls
    std::uint64_t found_ = 0, deleted_ = 0, written_ = 0;  // over the job
    std::uint64_t foundHere_ = 0, deletedHere_ = 0, writtenBefore_ = 0, writtenHere_ = 0;
};

}  // namespace corvane::cli
