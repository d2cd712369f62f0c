// The commands of corvane-dbx over the engine: read each folder file as the
// window does, then list, export or show its records.

#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <cstring>
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
#include "corvane-dbx/CarveCommand.h"
#include "dbxindex/Store.h"
#include "corvane-dbx/CommandLine.h"
#include "corvane-dbx/ExportNames.h"
#include "corvane-dbx/Inputs.h"
#include "corvane-dbx/ListFormats.h"
#include "corvane-dbx/ProgressLine.h"
#include "corvane-dbx/Sha1.h"
#include "corvane-dbx/StoreInputs.h"
#include "emailexport/MboxExport.h"
#include "emailexport/emailexport.h"
#include "maildecode/maildecode.h"
#include "platform/AnsiText.h"
#include "outlookfile/FolderHeader.h"
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

// What the read and the writers report, told to the run's progress line
// (when it has one; the find shows none), and the stop that SIGINT or SIGTERM
// asks for. Called from the read's and the writers' threads.
class TProgressLine : public corvane::TProgress {
public:
    TProgressLine(TStopper& stopper, TJobLine* job) : stopper_(stopper), job_(job) {}
    void Report(const char* Stage, std::int64_t Done, std::int64_t Total) override {
        stopper_.Heard(Stage, Done);
        if (job_ == nullptr) return;
        if (std::strcmp(Stage, corvane::mail::kExportStage) == 0) job_->Written(Done);
        else job_->Stage(Stage, Done, Total);
    }
    bool StopRequested() override { return stopper_.Signal() != 0; }

private:
    TStopper& stopper_;
    TJobLine* job_;
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

// The SHA-1 of a record's message bytes, as an export writes them.
std::string MessageSha1(const corvane::read::TFoundMessage& m) {
    TSha1 sha;
    m.Text->Pieces(m.Email.MessageStart, m.Email.MessageEnd,
                   [&sha](const char* p, std::size_t n) { sha.Add(std::string_view(p, n)); });
    return sha.HexDigest();
}

// What went wrong with a folder file, without the file's name (the line
// names it first): the engine's texts name it themselves.
std::string WhatWentWrong(const std::exception& e, const std::string& path) {
    std::string text = e.what();
    const std::string cannotOpen = "Cannot open file \"" + path + "\". ";
    const std::string named = "\"" + path + "\" ";
    if (text.rfind(cannotOpen, 0) == 0) text = "cannot open: " + text.substr(cannotOpen.size());
    else if (text.rfind(named, 0) == 0) text = text.substr(named.size());
    while (!text.empty() && (text.back() == '.' || text.back() == ' ')) text.pop_back();
    return text;
}

// Ends a read early: a dry run found its answer, or an export folder cannot
// take the messages.
struct TEndRead {};

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
    // Resolves the names on the command line into folder files (copies of
    // streams, the files of folders); false when none is left.
    bool ResolveInputs() {
        inputs_.Resolve(o_.Paths,
                        [this](const std::string& text) {
                            Fail(text);
                            unread_ = true;
                        },
                        [this] { return stopper_.Signal() != 0; });
        return !inputs_.All().empty();
    }
    // The progress line of the run, over its folder files.
    TJobLine& Job(bool writes) {
        job_ = std::make_unique<TJobLine>(c_.Err, c_.ShowProgress || o_.Progress, c_.Clock, inputs_.All().size(), writes,
                                          o_.Deleted);
        return *job_;
    }
    // Opens a folder file for a read that keeps the chains' texts or not;
    // null (reported) when it cannot be opened. A listing, which only looks
    // at the texts, gathers less text at a time: it holds memory down.
    // indexShown: the output carries the index's properties; without them
    // the index is read only for whole messages.
    std::unique_ptr<corvane::read::TChainRead> Open(const TInput& input, bool keepText, bool listing = false,
                                                    bool indexShown = false) {
        corvane::read::TChainReadOptions options;
        if (listing) options.WalkBatch = std::size_t{8} << 20;
        options.ReadIndex = indexShown;
        options.IncludeDeleted = o_.Deleted;
        options.WholeMessages = o_.WholeMessages;
        options.KeepText = keepText || o_.FilterOn;
        if (c_.AfterScan) options.AfterScan = [this, shown = input.Shown] { c_.AfterScan(shown); };
        std::unique_ptr<corvane::read::TChainRead> read;
        try {
            read = std::make_unique<corvane::read::TChainRead>(input.Path, options);
        } catch (const std::exception& e) {
            Fail(input.Shown + ": " + WhatWentWrong(e, input.Path));
            unread_ = true;
            if (job_) job_->SkipFile();
            return nullptr;
        }
        // A damaged folder file may have lost its header, so any file is
        // scanned; one that does not begin as a folder file is only named.
        if (!BeginsWithFolderFileSignature(input.Path))
            Warn(input.Shown + ": does not begin as a folder file does; it is scanned all the same");
        return read;
    }
    // Reads the opened folder file and hands each row the window would list
    // (the keyword filter applied) to row, with its position in the list;
    // false (reported) when the read fails. quiet: no progress (a dry run);
    // endsFile false: the caller ends the folder file on the progress line
    // (once its files are written).
    bool Rows(corvane::read::TChainRead& read, const TInput& input,
              const std::function<void(std::size_t, corvane::read::TFoundMessage&)>& row, bool quiet = false,
              bool endsFile = true) {
        TJobLine* job = quiet ? nullptr : job_.get();
        const bool truncated = quiet ? false : TellTruncation(input);
        try {
            if (job) job->BeginFile(input.Shown);
            TProgressLine progress(stopper_, job);
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
            if (job && endsFile) job->EndFile();
            if (found == 0 && truncated) failed_ = true;
            else if (found == 0 && !BeginsWithFolderFileSignature(input.Path))
                Fail(input.Shown + ": no message was found in it; it is no folder file");
            TellIndexProblem(read, input);
            return true;
        } catch (const corvane::ECancelled&) {
            throw;
        } catch (const TEndRead&) {
            throw;
        } catch (const std::exception& e) {
            Fail(input.Shown + ": " + WhatWentWrong(e, input.Path));
            unread_ = true;
            return false;
        }
    }
    // A folder file shorter than the used size its header gives is told of
    // (once per run); its read goes on with what is there.
    bool TellTruncation(const TInput& input) {
        const std::optional<std::uint32_t> used = corvane::read::HeaderUsedSize(input.Path);
        std::error_code ec;
        const std::uintmax_t size = stdfs::file_size(input.Path, ec);
        if (!used || ec || *used <= size) return false;
        if (told_.insert(input.Path).second)
            Warn(input.Shown + " is shorter than its header says (" + std::to_string(size) + " of " +
                 std::to_string(*used) + " bytes): it may be truncated; what is there is listed");
        return true;
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
    // Every line on standard error has one form: "corvane-dbx: " and the
    // text, which names its file first.
    void Warn(const std::string& text) { c_.Err << "corvane-dbx: " << text << '\n'; }
    void Fail(const std::string& text) {
        Warn(text);
        failed_ = true;
    }
    // Nothing chosen is no failure; the user hears what was not written.
    void NothingChosen(const std::string& notWritten) {
        Warn(notWritten.empty() ? "no message matched" : "no message matched; " + notWritten + " not written");
    }
    int Status() const { return failed_ ? kExitFailed : kExitOk; }
    std::vector<std::string> ExportFolders();
    bool Ticked(std::size_t item) const {
        return !o_.ItemsGiven || std::binary_search(o_.Items.begin(), o_.Items.end(), item);
    }
    // Reports the ticked items that the list of a folder file did not show;
    // shownItems: the ticked items it showed, ascending.
    void ReportMissingItems(const std::string& folderFile, const std::vector<std::size_t>& shownItems);
    std::string NameOf(TExportNamer& namer, std::size_t position, corvane::read::TFoundMessage& m);
    bool FirstTakenName(const std::vector<std::string>& folders, std::string& taken);
    std::size_t ExportOne(const TInput& input, const std::string& folder);
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
    void TellIndexProblem(const corvane::read::TChainRead& read, const TInput& input) {
        if (!o_.WholeMessages || read.IndexProblem().empty()) return;
        Warn(input.Shown + ": the index could not be used (" + read.IndexProblem() +
             "); whole messages are found by their header lines");
    }

    const TOptions& o_;
    TConsole& c_;
    TStopper stopper_;
    TInputs inputs_;
    std::unique_ptr<TJobLine> job_;
    corvane::mail::TKeyword keyword_;  // the filter's, in the raw texts' and the decoded texts' forms
    // The record at hand decoded, when the filter had to decode it.
    std::optional<corvane::mail::TDecodedMessage> decoded_;
    bool failed_ = false;
    bool unread_ = false;  // a folder file could not be read (whole)
    std::set<std::string> told_;  // the folder files told to be truncated
    std::set<std::string> usedFolders_;
    std::map<std::string, std::vector<std::string>> names_;
};

// Decoded texts cost time: the table and CSV decode the header blocks alone,
// JSON the whole messages (for their attachments); a message the filter has
// decoded already is not decoded again. The bodies are not kept. CSV and
// JSON read each message's bytes for its checksum.
int TRun::List() {
    if (!ResolveInputs()) return Status();
    TListWriter writer(c_.Out, o_.Format, inputs_.All().size() > 1 || !names_.empty(), c_.OutWidth);
    TJobLine& job = Job(false);
    const bool decode = !o_.Raw;
    const bool places = o_.Format != TFormat::Table;
    const bool wholeMessages = decode && o_.Format == TFormat::Json;
    std::size_t rows = 0;
    bool anyRead = false;
    for (const TInput& input : inputs_.All()) {
        const auto read = Open(input, decode || places, true, places);
        if (!read) continue;
        writer.Begin(input.Shown, Label(input.Path));
        std::size_t rowsHere = 0;
        const bool whole = Rows(*read, input, [&](std::size_t, corvane::read::TFoundMessage& m) {
            job.Found(m.Email.Deleted != 0);
            ++rowsHere;
            TMessagePlace place;
            if (places) place = {m.ChainOffset, MessageSha1(m)};
            if (!decode) return writer.Row(m.Item, m.Email, nullptr, place);
            corvane::mail::TDecodedMessage d;
            if (decoded_) d = std::move(*decoded_);
            else if (wholeMessages) d = DecodeRecord(m);
            else static_cast<corvane::mail::TDecodedHeaders&>(d) = DecodeRecordHeaders(m);
            writer.Row(m.Item, m.Email, &d, place);
        });
        job.Clear();  // the rows may go to the same terminal
        writer.End(whole);
        if (whole) {
            rows += rowsHere;
            anyRead = true;
        }
    }
    job.Clear();
    writer.Finish();
    job.Finish("listed");
    if (anyRead && rows == 0 && o_.FilterOn) NothingChosen("");
    return Status();
}

// The folder each folder file's messages go to: the output folder for one
// folder file; for several, a folder in it named after the folder file
// without its extension ("Inbox", then "Inbox-2" for a second Inbox.dbx from
// elsewhere); for a store's folders, a sub-folder each by its path of names
// (two paths that the safe names make equal are told apart by a number).
std::vector<std::string> TRun::ExportFolders() {
    std::vector<std::string> folders;
    std::set<std::string> used;
    for (const TInput& input : inputs_.All()) {
        if (inputs_.All().size() == 1 && names_.empty()) {
            folders.push_back(o_.OutFolder);
            continue;
        }
        if (names_.count(input.Path) != 0) {
            stdfs::path folder(o_.OutFolder);
            for (const std::string& part : SafePath(input.Path)) folder /= NativeName(part);
            std::string name = folder.string();
            for (int n = 2; used.count(name) != 0; ++n) name = folder.string() + "-" + std::to_string(n);
            used.insert(name);
            folders.push_back(name);
            continue;
        }
        std::string stem = input.Shown == "-" ? std::string("standard-input") : stdfs::path(input.Shown).stem().string();
        stem = SafeNamePart(stem, kMostNameBytes);
        if (stem.empty() || IsReservedName(stem)) stem = "folder";
        std::string name = stem;
        for (int n = 2; used.count(name) != 0; ++n) name = stem + "-" + std::to_string(n);
        used.insert(name);
        folders.push_back((stdfs::path(o_.OutFolder) / name).string());
    }
    return folders;
}

// One line per run of missing items that follow each other in --items.
void TRun::ReportMissingItems(const std::string& folderFile, const std::vector<std::size_t>& shownItems) {
    const auto report = [&](std::size_t first, std::size_t last) {
        Fail(folderFile + ": " +
             (first == last ? "item " + std::to_string(first) + " not found"
                            : "items " + std::to_string(first) + "-" + std::to_string(last) + " not found"));
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

// The file name of a row's message, by the scheme asked for.
std::string TRun::NameOf(TExportNamer& namer, std::size_t position, corvane::read::TFoundMessage& m) {
    if (o_.Names != TNames::DateSubject) return namer.Name(position, m.Item, {}, {});
    const corvane::mail::TDecodedHeaders headers =
        decoded_ ? static_cast<const corvane::mail::TDecodedHeaders&>(*decoded_) : DecodeRecordHeaders(m);
    return namer.Name(position, m.Item, headers.DateIso, headers.Subject);
}

// Before an export that may replace nothing writes anything: the names it
// would write, in a read of its own, up to the first that holds a file.
// Only a folder that holds .eml files can be in the way, so the read is
// spared when none does.
bool TRun::FirstTakenName(const std::vector<std::string>& folders, std::string& taken) {
    bool anyEml = false;
    for (const std::string& folder : folders) {
        std::error_code ec;
        for (stdfs::directory_iterator it(folder, ec), end; !ec && it != end && !anyEml; it.increment(ec)) {
            std::string extension = it->path().extension().string();
            for (char& c : extension) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
            anyEml = extension == ".eml";
        }
    }
    if (!anyEml) return false;
    for (std::size_t i = 0; i < inputs_.All().size(); ++i) {
        const TInput& input = inputs_.All()[i];
        const auto read = Open(input, true);
        if (!read) continue;
        TExportNamer namer(o_.Names);
        try {
            Rows(*read, input, [&](std::size_t position, corvane::read::TFoundMessage& m) {
                if (!Ticked(m.Item)) return;
                const std::string target = (stdfs::path(folders[i]) / NameOf(namer, position, m)).string();
                if (!corvane::fs::Exists(target)) return;
                taken = target;
                throw TEndRead{};
            }, true);
        } catch (const TEndRead&) {
            return true;
        }
    }
    return false;
}

// The rows' messages go straight from the read to their files, written by
// several threads; --items ticks rows by their item numbers. The folder is
// made, and tested, once a message is to go into it. Gives how many
// messages were chosen.
std::size_t TRun::ExportOne(const TInput& input, const std::string& folder) {
    const auto read = Open(input, true);
    if (!read) return 0;
    // Only a name already in the folder can be a folder file in the way; the
    // folder is listed once instead of asking about every target. (A name
    // that appears meanwhile is renamed over, never written through.)
    std::set<std::string> present;
    bool ready = false;
    // The writers stop too when a stop is asked, within the file each is at.
    TProgressLine writing(stopper_, job_.get());
    corvane::mail::TExportWriters writers(c_.WriteThreads, &writing);
    TExportNamer namer(o_.Names);
    std::vector<std::size_t> shownItems;
    std::vector<std::string> failures;
    std::size_t chosen = 0, kept = 0;
    try {
        Rows(*read, input, [&](std::size_t position, corvane::read::TFoundMessage& m) {
            if (!Ticked(m.Item)) return;
            if (o_.ItemsGiven) shownItems.push_back(m.Item);  // only ticked ones can be missing
            ++chosen;
            if (!ready) {
                std::error_code ec;
                stdfs::create_directories(folder, ec);
                if (!corvane::mail::FolderIsWriteable(folder)) {
                    Fail(folder + ": cannot write to this folder" + (ec ? " (" + ec.message() + ")" : std::string()) +
                         "; nothing of " + input.Shown + " was exported");
                    throw TEndRead{};
                }
                for (const auto& entry : stdfs::directory_iterator(folder, ec))
                    present.insert(entry.path().filename().string());
                ready = true;
            }
            const std::string name = NameOf(namer, position, m);
            std::string target = (stdfs::path(folder) / name).string();
            if (present.count(name) != 0) {
                if (o_.Existing == TExisting::Skip) {
                    ++kept;
                    return;
                }
                // A file that came after the names were checked is not
                // replaced either unless --overwrite asks.
                if (o_.Existing == TExisting::Refuse) {
                    Fail(target + ": exists; not replaced (--overwrite replaces such files)");
                    return;
                }
                if (const std::string inTheWay = corvane::mail::FolderFileInTheWay(target, inputs_.Paths());
                    !inTheWay.empty()) {
                    Fail(inTheWay + " It was not replaced.");
                    return;
                }
            }
            job_->Found(m.Email.Deleted != 0);
            writers.Add(std::move(target), std::move(m.Text), m.Email.MessageStart, m.Email.MessageEnd);
        }, false, false);
        failures = writers.Finish();
        job_->EndFile();
    } catch (const TEndRead&) {
        writers.Cancel();
        writers.Finish();
        return chosen;
    } catch (...) {
        writers.Cancel();  // a stop or a failure: what is queued is not written
        writers.Finish();
        throw;
    }
    if (writers.Cancelled() || stopper_.Signal() != 0) throw corvane::ECancelled();
    if (kept > 0) Warn(folder + ": " + Grouped(kept) + (kept == 1 ? " file" : " files") + " of those names kept (--skip-existing)");
    ReportMissingItems(input.Shown, shownItems);
    for (const std::string& failure : failures) Fail(failure);
    return chosen;
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
    const std::vector<std::string> inputPaths = inputs_.Paths();
    for (const TInput& input : inputs_.All()) {
        const std::vector<std::string> path = SafePath(input.Path);
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
        if (const std::string inTheWay = corvane::mail::FolderFileInTheWay(file, inputPaths); !inTheWay.empty()) {
            Fail(inTheWay + " Nothing was written.");
            continue;
        }
        const auto read = Open(input, true);
        if (!read) continue;
        try {
            corvane::mail::TMboxWriter mbox(file);
            TProgressLine writing(stopper_, nullptr);
            mbox.SetProgress(&writing);
            const bool whole = Rows(*read, input, [&](std::size_t, corvane::read::TFoundMessage& m) {
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
    if (!ResolveInputs()) return Status();
    if (!o_.MboxTree.empty()) return ExportMboxTree();
    if (!o_.MboxFile.empty()) return ExportMbox();
    const std::vector<std::string> folders = ExportFolders();
    if (o_.Existing == TExisting::Refuse) {
        std::string taken;
        if (FirstTakenName(folders, taken)) {
            Fail(taken + ": exists; nothing was written (--overwrite replaces such files, --skip-existing keeps them)");
            return Status();
        }
    }
    TJobLine& job = Job(true);
    std::size_t chosen = 0;
    for (std::size_t i = 0; i < inputs_.All().size(); ++i) chosen += ExportOne(inputs_.All()[i], folders[i]);
    job.Finish("written to " + o_.OutFolder);
    if (chosen == 0 && !unread_) NothingChosen(o_.OutFolder);
    return Status();
}

// All chosen messages of all folder files into one mbox, folder file by folder
// file, straight from the reads. The chosen file is replaced only when every
// folder file was read whole and at least one message went into the mbox;
// items of --items that no folder file lists are reported and the messages
// found are still written. A folder file is never the target.
int TRun::ExportMbox() {
    std::vector<std::string> inputPaths = inputs_.Paths();
    inputPaths.insert(inputPaths.end(), o_.Paths.begin(), o_.Paths.end());
    if (const std::string inTheWay = corvane::mail::FolderFileInTheWay(o_.MboxFile, inputPaths); !inTheWay.empty()) {
        Fail(inTheWay + " Nothing was written.");
        return Status();
    }
    const auto notWritten = [this](const std::string& why) {
        Fail(o_.MboxFile + ": not written" + why +
             (corvane::fs::Exists(o_.MboxFile) ? "; the file of that name stays as it was" : ""));
    };
    TJobLine& job = Job(true);
    try {
        corvane::mail::TMboxWriter mbox(o_.MboxFile);
        TProgressLine writing(stopper_, nullptr);
        mbox.SetProgress(&writing);
        bool everyFileRead = true;
        std::size_t added = 0;
        for (const TInput& input : inputs_.All()) {
            const auto read = Open(input, true);
            if (!read) {
                everyFileRead = false;
                continue;
            }
            std::vector<std::size_t> shownItems;
            std::int64_t addedHere = 0;
            const bool whole = Rows(*read, input, [&](std::size_t, corvane::read::TFoundMessage& m) {
                if (!Ticked(m.Item)) return;
                if (o_.ItemsGiven) shownItems.push_back(m.Item);  // only ticked ones can be missing
                job.Found(m.Email.Deleted != 0);
                mbox.Add(m.Email, *m.Text);
                job.Written(++addedHere);
                ++added;
            });
            if (whole) ReportMissingItems(input.Shown, shownItems);
            else everyFileRead = false;
        }
        if (stopper_.Signal() != 0) throw corvane::ECancelled();
        if (!everyFileRead) {
            notWritten(": not every folder file could be read");
        } else if (added == 0) {
            NothingChosen(o_.MboxFile);
        } else {
            mbox.Commit();
            job.Finish("written to " + o_.MboxFile);
        }
    } catch (const corvane::ECancelled&) {
        throw;
    } catch (const std::exception& e) {
        Fail(o_.MboxFile + ": " + WhatWentWrong(e, o_.MboxFile));
        notWritten("");
    }
    return Status();
}

// The header lines a mail reader shows above the body, decoded, those the
// message has; then an empty line.
std::string HeaderLines(const corvane::read::TFoundMessage& m) {
    const corvane::mail::TDecodedHeaders h = DecodeRecordHeaders(m);
    std::string out;
    for (const auto& [name, value] : {std::pair<const char*, const std::string*>{"From", &h.From},
                                      {"To", &h.To}, {"Date", &h.Date}, {"Subject", &h.Subject}})
        if (!value->empty()) out += std::string(name) + ": " + *value + '\n';
    return out + '\n';
}

int TRun::Show() {
    if (!ResolveInputs()) return Status();
    if (inputs_.All().size() != 1) {
        std::string names;
        for (const TInput& input : inputs_.All())
            names += "\n  " + (names_.empty() ? input.Shown : Label(input.Path));
        Fail(names_.empty() ? "show reads one folder file; the folder holds several:" + names
                            : "the store folder has several folders; pick one with --folder PATH:" + names);
        return Status();
    }
    const TInput& input = inputs_.All().front();
    const auto read = Open(input, true);
    if (!read) return Status();
    std::string body;
    std::size_t count = 0;
    bool found = false;
    Job(false);
    try {
        if (job_) job_->BeginFile(input.Shown);
        TProgressLine progress(stopper_, job_.get());
        count = read->Run(
            [&](corvane::read::TFoundMessage& m) {
                if (m.Item != o_.ShowItem) return;
                body = o_.Raw ? m.Text->Copy(corvane::read::BodyStart(m.Email), m.Email.MessageEnd)
                              : HeaderLines(m) + corvane::mail::PreviewLayout(DecodeRecord(m));
                found = true;
                throw TFoundIt{};
            },
            &progress);
    } catch (const TFoundIt&) {
    } catch (const corvane::ECancelled&) {
        throw;
    } catch (const std::exception& e) {
        Fail(input.Shown + ": " + WhatWentWrong(e, input.Path));
        return Status();
    }
    job_.reset();  // the line goes before the text comes
    if (!found) {
        Fail(input.Shown + ": no message with item number " + std::to_string(o_.ShowItem) + " (it has " +
             std::to_string(count) + ")");
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
    TProgressLine stop(stopper_, nullptr);
    try {
        TDbxFiles search(&stop);
        if (o_.Paths.empty()) {
            search.FindDbxFiles();
        } else {
            for (const std::string& folder : o_.Paths) {
                std::error_code ec;
                if (!stdfs::is_directory(folder, ec)) {
                    Fail(folder + ": not a folder");
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
    console.Err << "corvane-dbx: cannot write to standard output\n";
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
            case TCommand::Carve: return RunCarve(o, console);
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
