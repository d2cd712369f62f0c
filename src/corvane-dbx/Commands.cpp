// The commands of corvane-dbx over the engine: read each folder file as the
// window does, then list, export or show its records.

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <ostream>
#include <set>
#include <string>
#include <vector>

#include "FastStrings/FastStrings.h"
#include "chainread/ChainRead.h"
#include "dbxindex/Store.h"
#include "corvane-dbx/CommandLine.h"
#include "corvane-dbx/ListFormats.h"
#include "corvane-dbx/StoreInputs.h"
#include "emailexport/MboxExport.h"
#include "emailexport/emailexport.h"
#include "maildecode/maildecode.h"
#include "platform/AnsiText.h"
#include "outlookfile/outlookfile.h"
#include "platform/Console.h"
#include "platform/Errors.h"
#include "platform/Files.h"
#include "progress/Progress.h"
#include "sysdbxfiles/sysdbxfiles.h"

#ifndef CORVANE_VERSION
#define CORVANE_VERSION "0"
#endif

namespace corvane::cli {
namespace {

namespace stdfs = std::filesystem;

// What asks a run to stop: SIGINT, SIGTERM or SIGHUP, or a test's seam.
// Asked from any thread of the run; the seam's answer is kept.
class TStopper {
public:
    explicit TStopper(const TConsole& console) : seam_(console.StopAt) {}
    // Tells the seam of a progress report.
    void Heard(const char* stage, std::int64_t done) {
        if (!seam_ || seamed_.load() != 0) return;
        if (const int signal = seam_(stage, done); signal != 0) seamed_.store(signal);
    }
    // The number of the signal that asked to stop, or 0.
    int Signal() const {
        const int signal = corvane::console::StopSignal();
        return signal != 0 ? signal : seamed_.load();
    }

private:
    std::function<int(const char*, std::int64_t)> seam_;
    std::atomic<int> seamed_{0};
};

// The progress line on the error stream while a folder file is read, and
// the stop that SIGINT or SIGTERM asks for. The read calls it from its own
// thread: the figures are kept in atomics and the line is written under a
// lock, at most every 100 ms. quiet: no line (the export's writers, whose
// reports would fight the read's line).
class TProgressLine : public corvane::TProgress {
public:
    TProgressLine(TConsole& console, const std::string& folderFile, TStopper& stopper, bool quiet = false)
        : on_(console.ShowProgress && !quiet), err_(console.Err), name_(folderFile), stopper_(stopper) {}
    ~TProgressLine() override {
        if (on_ && !shown_.empty()) err_ << "\r\033[K" << std::flush;
    }
    TProgressLine(const TProgressLine&) = delete;
    TProgressLine& operator=(const TProgressLine&) = delete;

    void Report(const char* Stage, std::int64_t Done, std::int64_t Total) override {
        stopper_.Heard(Stage, Done);
        if (!on_) return;
        const auto now = std::chrono::steady_clock::now();
        std::lock_guard lock(mutex_);
        if (now - last_ < std::chrono::milliseconds(100)) return;
        last_ = now;
        const long long percent = Total > 0 ? Done * 100 / Total : 100;
        std::string line = name_ + ": " + Stage + ' ' + std::to_string(percent) + '%';
        if (line == shown_) return;
        err_ << "\r\033[K" << line << std::flush;
        shown_ = std::move(line);
    }
    bool StopRequested() override { return stopper_.Signal() != 0; }

private:
    bool on_;
    std::ostream& err_;
    std::string name_;
    TStopper& stopper_;
    std::mutex mutex_;
    std::chrono::steady_clock::time_point last_{};
    std::string shown_;
};

// A name in UTF-8 as the system names files.
stdfs::path NativeName(const std::string& utf8) { return stdfs::path(corvane::console::PathFromUtf8(utf8)); }

// Ends a show once its message is found.
struct TFoundIt {};

// Whether [from, to) of the text holds the keyword (ANSI bytes) in any letter
// case; a text in a private file is searched piece by piece, each piece with
// the end of the one before that a match could span.
bool HoldsKeyword(const corvane::read::TChainText& text, std::int64_t from, std::int64_t to, const std::string& keyword) {
    if (text.InMemory()) {
        from = std::clamp<std::int64_t>(from, 0, text.Size());
        to = std::clamp<std::int64_t>(to, from, text.Size());
        const std::string_view body = text.View().substr(static_cast<std::size_t>(from), static_cast<std::size_t>(to - from));
        return FindText(std::string_view(keyword), body, false, 1, true) > 0;
    }
    std::string window;
    bool found = false;
    text.Pieces(from, to, [&](const char* p, std::size_t n) {
        if (found) return;
        window.append(p, n);
        found = FindText(std::string_view(keyword), std::string_view(window), false, 1, true) > 0;
        const std::size_t keep = keyword.size() > 0 ? keyword.size() - 1 : 0;
        if (window.size() > keep) window.erase(0, window.size() - keep);
    });
    return found;
}

// [from, to) of a chain's text (clamped to it): a view of a text held in
// memory, else a copy made into holder.
std::string_view Stretch(const corvane::read::TChainText& text, std::int64_t from, std::int64_t to,
                         std::string& holder) {
    if (!text.InMemory()) {
        holder = text.Copy(from, to);
        return holder;
    }
    from = std::clamp<std::int64_t>(from, 0, text.Size());
    to = std::clamp<std::int64_t>(to, from, text.Size());
    return text.View().substr(static_cast<std::size_t>(from), static_cast<std::size_t>(to - from));
}

// The whole message of a record, decoded.
corvane::mail::TDecodedMessage DecodeRecord(const corvane::read::TFoundMessage& m) {
    std::string holder;
    return corvane::mail::DecodeMessage(Stretch(*m.Text, m.Email.MessageStart, m.Email.MessageEnd, holder));
}

// The header texts of a record, decoded from its header block alone.
corvane::mail::TDecodedHeaders DecodeRecordHeaders(const corvane::read::TFoundMessage& m) {
    std::string holder;
    return corvane::mail::DecodeHeaders(
        Stretch(*m.Text, m.Email.MessageStart, corvane::read::HeaderBlockEnd(m.Email), holder));
}

class TRun {
public:
    // names: the folder files that came from store folders, with their paths of names.
    TRun(const TOptions& options, TConsole& console, std::map<std::string, std::vector<std::string>> names = {})
        : o_(options), c_(console), stopper_(console), names_(std::move(names)) {
        // The window's rule: a keyword the code page cannot hold is searched
        // in the decoded texts only.
        if (o_.FilterOn) keyword_ = corvane::mail::MakeKeyword(corvane::console::ArgumentToUtf8(o_.Keyword));
    }

    int List();
    int Export();
    int Show();
    int Find();
    // The signal that stopped the run, 0 if none did.
    int StopSignal() const { return stopper_.Signal(); }

private:
    // Opens a folder file for a read that keeps the chains' texts or not;
    // null (reported) when it cannot be opened. A listing, which only looks
    // at the texts, gathers less text at a time: it holds memory down.
    std::unique_ptr<corvane::read::TChainRead> Open(const std::string& folderFile, bool keepText, bool listing = false) {
        corvane::read::TChainReadOptions options;
        if (listing) options.WalkBatch = std::size_t{8} << 20;
        options.IncludeDeleted = o_.Deleted;
        options.WholeMessages = o_.WholeMessages;
        options.KeepText = keepText || o_.FilterOn;
        if (c_.AfterScan) options.AfterScan = [this, folderFile] { c_.AfterScan(folderFile); };
        std::unique_ptr<corvane::read::TChainRead> read;
        try {
            read = std::make_unique<corvane::read::TChainRead>(folderFile, options);
        } catch (const std::exception& e) {
            Fail(e.what());
            return nullptr;
        }
        // A damaged folder file may have lost its header, so any file is
        // scanned; one that does not begin as a folder file is only named.
        if (!BeginsWithFolderFileSignature(folderFile))
            c_.Err << "corvane-dbx: \"" << folderFile
                   << "\" does not begin as a folder file does; it is scanned all the same.\n";
        return read;
    }
    // Reads the opened folder file and hands each row the window would list
    // (the keyword filter applied) to row, with its position in the list;
    // false (reported) when the read fails.
    bool Rows(corvane::read::TChainRead& read, const std::string& folderFile,
              const std::function<void(std::size_t, corvane::read::TFoundMessage&)>& row) {
        try {
            TProgressLine progress(c_, folderFile, stopper_);
            std::size_t position = 0;
            const std::size_t found = read.Run(
                [&](corvane::read::TFoundMessage& m) {
                    decoded_.reset();
                    // A stop also ends the writing of what the read handed over already.
                    if (stopper_.Signal() != 0) throw corvane::ECancelled();
                    if (o_.FilterOn && !Keeps(m)) return;
                    row(position++, m);
                },
                &progress);
            if (found == 0 && !BeginsWithFolderFileSignature(folderFile))
                Fail("No message was found in \"" + folderFile + "\", which is no folder file.");
            TellIndexProblem(read, folderFile);
            return true;
        } catch (const corvane::ECancelled&) {
            throw;
        } catch (const std::exception& e) {
            Fail(e.what());
            return false;
        }
    }
    // Whether the filter keeps a record: its raw body stretch holds the
    // keyword, or (without --raw) its decoded body does.
    bool Keeps(const corvane::read::TFoundMessage& m) {
        if (!keyword_.Ansi.empty() &&
            HoldsKeyword(*m.Text, corvane::read::BodyStart(m.Email), m.Email.MessageEnd, keyword_.Ansi))
            return true;
        if (o_.Raw) return false;
        decoded_ = DecodeRecord(m);
        return corvane::mail::TextHoldsKeyword(decoded_->Body, keyword_.Utf8);
    }
    void Fail(const std::string& text) {
        c_.Err << "corvane-dbx: " << text << '\n';
        failed_ = true;
    }
    int Status() const { return failed_ ? kExitFailed : kExitOk; }
    std::string ExportFolderOf(const std::string& folderFile);
    bool Ticked(std::size_t item) const {
        return !o_.ItemsGiven || std::binary_search(o_.Items.begin(), o_.Items.end(), item);
    }
    // Reports the ticked items that the list of a folder file did not show;
    // shownItems: the ticked items it showed, ascending.
    void ReportMissingItems(const std::string& folderFile, const std::vector<std::size_t>& shownItems);
    void ExportOne(const std::string& folderFile, const std::string& folder);
    int ExportMbox();
    int ExportMboxTree();
    // A store folder's path of names for its folder file; empty for others.
    std::string Label(const std::string& folderFile) const {
        const auto it = names_.find(folderFile);
        return it == names_.end() ? std::string() : corvane::dbx::PathText(it->second);
    }
    // The folder's place below a folder of output: its names made safe,
    // or the folder file's name without its extension.
    std::vector<std::string> SafePath(const std::string& folderFile) const;
    // The live messages could not come from the index: say why.
    void TellIndexProblem(const corvane::read::TChainRead& read, const std::string& folderFile) {
        if (!o_.WholeMessages || read.IndexProblem().empty()) return;
        c_.Err << "corvane-dbx: \"" << corvane::console::PathToUtf8(folderFile)
               << "\": the index could not be used (" << read.IndexProblem()
               << "); whole messages are found by their header lines.\n";
    }

    const TOptions& o_;
    TConsole& c_;
    TStopper stopper_;
    corvane::mail::TKeyword keyword_;  // the filter's, in the raw texts' and the decoded texts' forms
    // The record at hand decoded, when the filter had to decode it.
    std::optional<corvane::mail::TDecodedMessage> decoded_;
    bool failed_ = false;
    std::set<std::string> usedFolders_;
    std::map<std::string, std::vector<std::string>> names_;
};

// Decoded texts cost time: the table and CSV decode the header blocks alone,
// JSON the whole messages (for their attachments); a message the filter has
// decoded already is not decoded again. The bodies are not kept.
int TRun::List() {
    TListWriter writer(c_.Out, o_.Format, o_.Paths.size() > 1 || !names_.empty(), c_.OutWidth);
    const bool decode = !o_.Raw;
    const bool wholeMessages = decode && o_.Format == TFormat::Json;
    for (const std::string& folderFile : o_.Paths) {
        const auto read = Open(folderFile, decode, true);
        if (!read) continue;
        writer.Begin(folderFile, Label(folderFile));
        const bool whole = Rows(*read, folderFile, [&](std::size_t, corvane::read::TFoundMessage& m) {
            if (!decode) return writer.Row(m.Item, m.Email);
            corvane::mail::TDecodedMessage d;
            if (decoded_) d = std::move(*decoded_);
            else if (wholeMessages) d = DecodeRecord(m);
            else static_cast<corvane::mail::TDecodedHeaders&>(d) = DecodeRecordHeaders(m);
            writer.Row(m.Item, m.Email, &d);
        });
        writer.End(whole);
    }
    writer.Finish();
    return Status();
}

// The folder a folder file's messages go to: the output folder for one folder
// file; for several, a folder in it named after the folder file without its
// extension ("Inbox", then "Inbox-2" for a second Inbox.dbx from elsewhere).
std::string TRun::ExportFolderOf(const std::string& folderFile) {
    if (!names_.empty()) {
        // A store's folders: a sub-folder each, by its path of names; two
        // paths that the safe names make equal are told apart by a number.
        stdfs::path folder(o_.OutFolder);
        const std::vector<std::string> path = SafePath(folderFile);
        for (std::size_t k = 0; k < path.size(); ++k) folder /= NativeName(path[k]);
        std::string name = folder.string();
        for (int n = 2; usedFolders_.count(name) != 0; ++n) name = folder.string() + "-" + std::to_string(n);
        usedFolders_.insert(name);
        return name;
    }
    if (o_.Paths.size() == 1) return o_.OutFolder;
    std::string stem = stdfs::path(folderFile).stem().string();
    if (stem.empty() || stem == "." || stem == "..") stem = "folder";
    std::string name = stem;
    for (int n = 2; usedFolders_.count(name) != 0; ++n) name = stem + "-" + std::to_string(n);
    usedFolders_.insert(name);
    return (stdfs::path(o_.OutFolder) / name).string();
}

// One line per run of missing items that follow each other in --items.
void TRun::ReportMissingItems(const std::string& folderFile, const std::vector<std::size_t>& shownItems) {
    const auto report = [&](std::size_t first, std::size_t last) {
        Fail(first == last ? "item " + std::to_string(first) + " not found in " + folderFile
                           : "items " + std::to_string(first) + "-" + std::to_string(last) + " not found in " + folderFile);
    };
    bool open = false;
    std::size_t first = 0, last = 0;
    for (const std::size_t item : o_.Items) {
        if (std::binary_search(shownItems.begin(), shownItems.end(), item)) continue;
        if (open && item == last + 1) {
            last = item;
            continue;
        }
        if (open) report(first, last);
        open = true;
        first = last = item;
    }
    if (open) report(first, last);
}

// The rows' messages go straight from the read to their files, written by
// several threads; positions are those of the rows of the unsorted list, and
// --items ticks rows by their item numbers.
void TRun::ExportOne(const std::string& folderFile, const std::string& folder) {
    const auto read = Open(folderFile, true);
    if (!read) return;

    std::error_code ec;
    stdfs::create_directories(folder, ec);
    if (!corvane::mail::FolderIsWriteable(folder)) {
        Fail("Cannot write to the output folder \"" + folder + "\"" + (ec ? ". " + ec.message() : std::string()) +
             "; nothing of \"" + folderFile + "\" was exported.");
        return;
    }
    // Only a name already in the folder can be a folder file in the way; the
    // folder is listed once instead of asking about every target. (A name
    // that appears meanwhile is renamed over, never written through.)
    std::set<std::string> present;
    for (const auto& entry : stdfs::directory_iterator(folder, ec)) present.insert(entry.path().filename().string());
    // The writers stop too when a stop is asked, within the file each is at.
    TProgressLine writing(c_, folderFile, stopper_, true);
    corvane::mail::TExportWriters writers(c_.WriteThreads, &writing);
    std::vector<std::size_t> shownItems;
    std::vector<std::string> failures;
    try {
        Rows(*read, folderFile, [&](std::size_t position, corvane::read::TFoundMessage& m) {
            if (!Ticked(m.Item)) return;
            if (o_.ItemsGiven) shownItems.push_back(m.Item);  // only ticked ones can be missing
            std::string target = corvane::mail::ExportFileName(folder, position);
            const bool mayBeInTheWay = present.count(stdfs::path(target).filename().string()) != 0;
            if (const std::string inTheWay = mayBeInTheWay ? corvane::mail::FolderFileInTheWay(target, o_.Paths) : std::string();
                !inTheWay.empty()) {
                Fail(inTheWay + " It was not replaced.");
                return;
            }
            writers.Add(std::move(target), std::move(m.Text), m.Email.MessageStart, m.Email.MessageEnd);
        });
        failures = writers.Finish();
    } catch (...) {
        writers.Cancel();  // a stop or a failure: what is queued is not written
        writers.Finish();
        throw;
    }
    if (writers.Cancelled() || stopper_.Signal() != 0) throw corvane::ECancelled();
    ReportMissingItems(folderFile, shownItems);
    for (const std::string& failure : failures) Fail(failure);
}

std::vector<std::string> TRun::SafePath(const std::string& folderFile) const {
    std::vector<std::string> path;
    if (const auto it = names_.find(folderFile); it != names_.end()) {
        for (const std::string& name : it->second) path.push_back(SafeFileName(name));
    } else {
        path.push_back(SafeFileName(stdfs::path(folderFile).stem().string()));
    }
    return path;
}

// One mbox per folder: DIR/A, its sub-folders' in DIR/A.sbd/, as
// Thunderbird keeps a tree of mbox files. A folder whose messages are all
// written is committed; the others leave no file (or an earlier one as it was).
int TRun::ExportMboxTree() {
    std::set<std::string> used;
    for (const std::string& folderFile : o_.Paths) {
        const std::vector<std::string> path = SafePath(folderFile);
        stdfs::path target(o_.MboxTree);
        for (std::size_t k = 0; k + 1 < path.size(); ++k) {
            target /= NativeName(path[k]);
            // The parent's own mbox, empty when it has no folder file.
            std::error_code ec;
            stdfs::create_directories(target.parent_path(), ec);
            if (!stdfs::exists(target, ec)) {
                try {
                    corvane::fs::TWriteFile empty(target.string(), corvane::fs::Create::Exclusive);
                } catch (const std::exception& e) {
                    Fail(e.what());
                }
            }
            target += ".sbd";
        }
        std::error_code ec;
        stdfs::create_directories(target, ec);
        std::string file = (target / NativeName(path.back())).string();
        for (int n = 2; used.count(file) != 0; ++n) file = (target / NativeName(path.back() + "-" + std::to_string(n))).string();
        used.insert(file);
        if (const std::string inTheWay = corvane::mail::FolderFileInTheWay(file, o_.Paths); !inTheWay.empty()) {
            Fail(inTheWay + " Nothing was written.");
            continue;
        }
        const auto read = Open(folderFile, true);
        if (!read) continue;
        try {
            corvane::mail::TMboxWriter mbox(file);
            TProgressLine writing(c_, file, stopper_, true);
            mbox.SetProgress(&writing);
            const bool whole = Rows(*read, folderFile, [&](std::size_t, corvane::read::TFoundMessage& m) {
                if (Ticked(m.Item)) mbox.Add(m.Email, *m.Text);
            });
            if (stopper_.Signal() != 0) throw corvane::ECancelled();
            if (whole) mbox.Commit();
        } catch (const corvane::ECancelled&) {
            throw;
        } catch (const std::exception& e) {
            Fail(e.what());
        }
    }
    return Status();
}

int TRun::Export() {
    if (!o_.MboxTree.empty()) return ExportMboxTree();
    if (!o_.MboxFile.empty()) return ExportMbox();
    for (const std::string& folderFile : o_.Paths) ExportOne(folderFile, ExportFolderOf(folderFile));
    return Status();
}

// All chosen messages of all folder files into one mbox, folder file by folder
// file, straight from the reads. The chosen file is replaced only when every
// folder file was read whole and at least one message went into the mbox;
// items of --items that no folder file lists are reported and the messages
// found are still written. A folder file is never the target.
int TRun::ExportMbox() {
    if (const std::string inTheWay = corvane::mail::FolderFileInTheWay(o_.MboxFile, o_.Paths); !inTheWay.empty()) {
        Fail(inTheWay + " Nothing was written.");
        return Status();
    }
    const auto notWritten = [this](const std::string& why) {
        Fail("\"" + o_.MboxFile + "\" was not written" + why +
             (corvane::fs::Exists(o_.MboxFile) ? "; the file of that name stays as it was." : "."));
    };
    try {
        corvane::mail::TMboxWriter mbox(o_.MboxFile);
        TProgressLine writing(c_, o_.MboxFile, stopper_, true);
        mbox.SetProgress(&writing);
        bool everyFileRead = true;
        std::size_t added = 0;
        for (const std::string& folderFile : o_.Paths) {
            const auto read = Open(folderFile, true);
            if (!read) {
                everyFileRead = false;
                continue;
            }
            std::vector<std::size_t> shownItems;
            const bool whole = Rows(*read, folderFile, [&](std::size_t, corvane::read::TFoundMessage& m) {
                if (!Ticked(m.Item)) return;
                if (o_.ItemsGiven) shownItems.push_back(m.Item);  // only ticked ones can be missing
                mbox.Add(m.Email, *m.Text);
                ++added;
            });
            if (whole) ReportMissingItems(folderFile, shownItems);
            else everyFileRead = false;
        }
        if (stopper_.Signal() != 0) throw corvane::ECancelled();
        if (!everyFileRead) {
            notWritten(": not every folder file could be read");
        } else if (added == 0) {
            notWritten(": no message was chosen");
        } else {
            mbox.Commit();
        }
    } catch (const corvane::ECancelled&) {
        throw;
    } catch (const std::exception& e) {
        Fail(e.what());
        notWritten("");
    }
    return Status();
}

int TRun::Show() {
    if (o_.Paths.size() != 1) {
        std::string names;
        for (const std::string& path : o_.Paths) names += "\n  " + Label(path);
        Fail(o_.Paths.empty() ? "the store folder has no folder file to show"
                              : "the store folder has several folders; pick one with --folder PATH:" + names);
        return Status();
    }
    const std::string& folderFile = o_.Paths.front();
    const auto read = Open(folderFile, true);
    if (!read) return Status();
    std::string body;
    std::size_t count = 0;
    bool found = false;
    try {
        TProgressLine progress(c_, folderFile, stopper_);
        count = read->Run(
            [&](corvane::read::TFoundMessage& m) {
                if (m.Item != o_.ShowItem) return;
                body = o_.Raw ? m.Text->Copy(corvane::read::BodyStart(m.Email), m.Email.MessageEnd)
                              : corvane::mail::PreviewLayout(DecodeRecord(m));
                found = true;
                throw TFoundIt{};
            },
            &progress);
    } catch (const TFoundIt&) {
    } catch (const corvane::ECancelled&) {
        throw;
    } catch (const std::exception& e) {
        Fail(e.what());
        return Status();
    }
    if (!found) {
        Fail("\"" + folderFile + "\" has no message with item number " + std::to_string(o_.ShowItem) + " (it has " +
             std::to_string(count) + ").");
        return Status();
    }
    // A message may hold escape sequences (a clipboard write, a changed
    // title): a terminal is given none of them. A file or a pipe gets the
    // text byte for byte.
    if (c_.OutWidth > 0) body = TerminalText(body, true);
    c_.Out.write(body.data(), static_cast<std::streamsize>(body.size()));
    c_.Out.flush();
    return Status();
}

// A stop ends the folder search at its next step, as it ends every other phase.
int TRun::Find() {
    TProgressLine stop(c_, std::string(), stopper_, true);
    try {
        TDbxFiles search(&stop);
        if (o_.Paths.empty()) {
            search.FindDbxFiles();
        } else {
            for (const std::string& folder : o_.Paths) {
                std::error_code ec;
                if (!stdfs::is_directory(folder, ec)) {
                    Fail("\"" + folder + "\" is no folder.");
                    continue;
                }
                search.SearchFolder(folder, "*.dbx", true);
            }
        }
        for (const std::string& path : search.FileList()) c_.Out << path << '\n';
    } catch (const corvane::ECancelled&) {
        throw;
    } catch (const std::exception& e) {
        Fail(e.what());
    }
    c_.Out.flush();
    return Status();
}

// Runs the command; RunCorvaneDbx then checks that its output arrived.
int RunCommand(const std::vector<std::string>& arguments, TConsole& console);

}  // namespace

// Output that could not be written (a full disk, a closed standard output)
// is a failure like any other, as it is for the system's own tools; the
// command's own status stays when it already tells of one.
int RunCorvaneDbx(const std::vector<std::string>& arguments, TConsole& console) {
    const int status = RunCommand(arguments, console);
    console.Out.flush();
    if (console.Out) return status;
    console.Err << "corvane-dbx: cannot write to standard output.\n";
    return status == kExitOk ? kExitFailed : status;
}

namespace {

int RunCommand(const std::vector<std::string>& arguments, TConsole& console) {
    const TParsed parsed = ParseArguments(arguments);
    if (!parsed.Error.empty()) {
        console.Err << "corvane-dbx: " << parsed.Error << "\nTry \"corvane-dbx --help\".\n";
        return kExitUsage;
    }
    const TOptions& o = parsed.Options;
    if (o.Version) {
        console.Out << "corvane-dbx " << CORVANE_VERSION << '\n';
        return kExitOk;
    }
    if (o.Help) {
        console.Out << HelpText(o.Command);
        return kExitOk;
    }
    if (o.Command == TCommand::Folders) return ListStoreFolders(o, console);
    // Store folders stand for their folder files.
    TOptions expanded = o;
    TExpandedInputs inputs;
    if (o.Command == TCommand::List || o.Command == TCommand::Export || o.Command == TCommand::Show) {
        inputs = ExpandStores(o.Paths, o.StoreFolder);
        for (const std::string& warning : inputs.Warnings) console.Err << "corvane-dbx: " << warning << '\n';
        if (!inputs.Error.empty()) {
            console.Err << "corvane-dbx: " << inputs.Error << ".\n";
            return kExitFailed;
        }
        expanded.Paths = inputs.Paths;
    }
    TRun run(expanded, console, std::move(inputs.Names));
    try {
        switch (o.Command) {
            case TCommand::List: return run.List();
            case TCommand::Export: return run.Export();
            case TCommand::Show: return run.Show();
            case TCommand::Find: return run.Find();
            case TCommand::Folders:
            case TCommand::None: break;
        }
    } catch (const corvane::ECancelled&) {
        // Stopped by SIGINT or SIGTERM: every file written is whole, and the
        // run's temporary files are gone.
        console.Err << "\ncorvane-dbx: stopped.\n";
        const int signal = run.StopSignal();
        return 128 + (signal != 0 ? signal : 2);
    }
    return kExitUsage;
}

}  // namespace

}  // namespace corvane::cli
