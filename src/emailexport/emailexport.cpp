#include "emailexport/emailexport.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <optional>
#include <random>
#include <thread>

#include "FastStrings/FastStrings.h"
#include "chainread/ChainRead.h"
#include "maildecode/maildecode.h"
#include "outlookfile/outlookfile.h"
#include "platform/AnsiText.h"
#include "platform/Errors.h"
#include "platform/Files.h"
#include "progress/Progress.h"

namespace corvane::mail {
namespace {

const char* const kExportPrefix = "RecoveredEmail";
const char* const kExportExtension = ".eml";
const char* const kProbeName = "check";
const char* const kProbeExtension = ".DAT";
constexpr int kProbeAttempts = 100;
const char* const kPartSuffix = ".part";
constexpr int kPartAttempts = 100;

// Largest piece of a message held in memory while it is copied; most messages
// go in one read and one write.
constexpr std::size_t kCopyChunk = std::size_t{4} << 20;

}  // namespace

bool IsDbxPath(const std::string& path) {
    const auto dot = path.rfind('.');
    if (dot == std::string::npos || path.find_first_of("\\/:", dot) != std::string::npos) return false;
    std::string extension = path.substr(dot);
    corvane::ansi::UpperBuffer(reinterpret_cast<unsigned char*>(extension.data()), extension.size());
    return extension == ".DBX";
}

std::string ReadMessageBody(const TEmail& email) {
    const std::int64_t from = corvane::read::BodyStart(email);
    const corvane::fs::TReadFile file(email.FileName, corvane::fs::Share::All);
    if (email.MessageEnd <= from) return {};
    std::string body(static_cast<std::size_t>(email.MessageEnd - from), '\0');
    body.resize(file.ReadAt(from, body.data(), body.size()));
    return body;
}

bool BodyHoldsKeyword(const TEmail& email, const std::string& keyword) {
    return FindText(std::string_view(keyword), std::string_view(ReadMessageBody(email)), false, 1, true) > 0;
}

namespace {
std::string ReadStretch(const TEmail& email, std::int64_t from, std::int64_t to) {
    const corvane::fs::TReadFile file(email.FileName, corvane::fs::Share::All);
    if (to <= from) return {};
    std::string text(static_cast<std::size_t>(to - from), '\0');
    text.resize(file.ReadAt(from, text.data(), text.size()));
    return text;
}
}  // namespace

std::string ReadMessageText(const TEmail& email) { return ReadStretch(email, email.MessageStart, email.MessageEnd); }

std::string ReadHeaderText(const TEmail& email) {
    return ReadStretch(email, email.MessageStart, corvane::read::HeaderBlockEnd(email));
}

std::vector<TDecodedHeaders> DecodeRecordHeaders(const TEmailArray& emails, corvane::TProgress* progress) {
    std::vector<TDecodedHeaders> decoded;
    decoded.reserve(emails.size());
    const auto total = static_cast<std::int64_t>(emails.size());
    for (const TEmail& email : emails) {
        corvane::CheckPoint(progress, kDecodeStage, static_cast<std::int64_t>(decoded.size()), total);
        decoded.push_back(DecodeHeaders(ReadHeaderText(email)));
    }
    if (progress != nullptr) progress->Report(kDecodeStage, total, total);
    return decoded;
}

TKeyword MakeKeyword(const std::string& utf8) {
    TKeyword keyword{corvane::ansi::FromUtf8(utf8), utf8};
    if (corvane::ansi::ToUtf8(keyword.Ansi) != utf8) keyword.Ansi.clear();
    return keyword;
}

bool RecordHoldsKeyword(const TEmail& email, const TKeyword& keyword) {
    if (!keyword.Ansi.empty() && BodyHoldsKeyword(email, keyword.Ansi)) return true;
    return TextHoldsKeyword(DecodeMessage(ReadMessageText(email)).Body, keyword.Utf8);
}

namespace {
// The filter's loop: the records for which holds(record) is true, every
// record without the filter; progress hears of each record searched.
template <typename Holds>
std::vector<std::size_t> ShownBy(const TEmailArray& emails, bool filterOn, corvane::TProgress* progress, Holds holds) {
    std::vector<std::size_t> shown;
    shown.reserve(emails.size());
    const auto total = static_cast<std::int64_t>(emails.size());
    for (std::size_t i = 0; i < emails.size(); ++i) {
        if (!filterOn) {
            shown.push_back(i);
            continue;
        }
        corvane::CheckPoint(progress, kFilterStage, static_cast<std::int64_t>(i), total);
        if (holds(emails[i])) shown.push_back(i);
    }
    if (filterOn && progress != nullptr) progress->Report(kFilterStage, total, total);
    return shown;
}
}  // namespace

std::vector<std::size_t> ShownDecodedRecords(const TEmailArray& emails, bool filterOn, const TKeyword& keyword,
                                             corvane::TProgress* progress) {
    return ShownBy(emails, filterOn, progress, [&keyword](const TEmail& e) { return RecordHoldsKeyword(e, keyword); });
}

std::vector<std::size_t> FilteredRecords(const TEmailArray& emails, bool filterOn, const TKeyword& keyword, bool decoded,
                                         corvane::TProgress* progress) {
    if (decoded) return ShownDecodedRecords(emails, filterOn, keyword, progress);
    return ShownBy(emails, filterOn, progress,
                   [&keyword](const TEmail& e) { return !keyword.Ansi.empty() && BodyHoldsKeyword(e, keyword.Ansi); });
}

std::vector<std::size_t> ShownRecords(const TEmailArray& emails, bool filterOn, const std::string& keyword,
                                      corvane::TProgress* progress) {
    return ShownBy(emails, filterOn, progress, [&keyword](const TEmail& e) { return BodyHoldsKeyword(e, keyword); });
}

std::unique_ptr<corvane::fs::TWriteFile> CreateUnusedFile(const std::function<std::string(int)>& nameOf, int attempts,
                                                          corvane::fs::Readers readers) {
    // Created exclusively: a name that is taken fails, and the next is tried.
    for (int attempt = 0; attempt < attempts; ++attempt) {
        const std::string name = nameOf(attempt);
        try {
            return std::make_unique<corvane::fs::TWriteFile>(name, corvane::fs::Create::Exclusive, readers);
        } catch (const EFCreateError&) {
            if (!corvane::fs::Exists(name)) throw;  // not taken: it cannot be created
        }
    }
    return nullptr;
}

namespace {

// The temporary names beside target: target + ".part", then, when that is
// taken, target + ".part-" and eight random hex digits.
std::string PartName(const std::string& target, int attempt) {
    thread_local std::mt19937_64 random{std::random_device{}()};
    static const char* const kHex = "0123456789abcdef";
    std::string name = target + kPartSuffix;
    if (attempt == 0) return name;
    name += '-';
    std::uint64_t bits = random();
    for (int i = 0; i < 8; ++i, bits >>= 4) name += kHex[bits & 15];
    return name;
}

}  // namespace

std::string LinkUnderTemporaryName(corvane::fs::TWriteFile& file, const std::string& target) {
    for (int attempt = 0; attempt < kPartAttempts; ++attempt) {
        std::string name = PartName(target, attempt);
        try {
            if (file.LinkAs(name)) return name;
        } catch (const EFCreateError& e) {
            throw EFCreateError(target, e.Reason());
        }
    }
    throw EFCreateError(target, "No free temporary name next to it.");
}

std::unique_ptr<corvane::fs::TWriteFile> CreateTemporaryFor(const std::string& target) {
    std::unique_ptr<corvane::fs::TWriteFile> file;
    try {
        file = CreateUnusedFile([&target](int attempt) { return PartName(target, attempt); }, kPartAttempts,
                                corvane::fs::Readers::Everyone);
    } catch (const EFCreateError& e) {
        throw EFCreateError(target, e.Reason());
    }
    if (!file) throw EFCreateError(target, "No free temporary name next to it.");
    return file;
}

// Where the system makes unnamed files, the file is written without a name
// and linked under the target's once whole: one name operation instead of
// two, and nothing is left behind by a process that ends meanwhile, however
// it ends. A target whose name is taken is replaced as elsewhere: the file
// takes a temporary name and is renamed over it.
std::string WriteWholeFile(const std::string& target, const std::function<void(corvane::fs::TWriteFile&)>& write) {
    std::unique_ptr<corvane::fs::TWriteFile> out;
    bool unnamed = false;
    try {
        out = corvane::fs::CreateUnnamedFile(target, corvane::fs::Readers::Everyone);
        unnamed = out != nullptr;
        if (!out) out = CreateTemporaryFor(target);
    } catch (const EFCreateError& e) {
        return e.what();
    }
    std::string temporary = unnamed ? std::string() : out->Path();  // the name it has before the target's
    std::string linked;  // the target, when the file took that free name itself
    const auto discard = [&] {
        out.reset();  // closed before it is removed, as Windows requires
        if (!temporary.empty()) corvane::fs::RemoveFile(temporary);
        if (!linked.empty()) corvane::fs::RemoveFile(linked);
    };
    try {
        write(*out);
        if (unnamed) {
            if (out->LinkAs(target)) {
                linked = target;
            } else {
                temporary = LinkUnderTemporaryName(*out, target);
            }
        }
        out->Close();
        if (linked.empty()) corvane::fs::RenameFile(temporary, target);
    } catch (const EInOutError& e) {
        discard();
        return "Cannot write file \"" + target + "\". " + e.what();
    } catch (const EFCreateError& e) {
        discard();
        return e.what();
    } catch (...) {
        discard();
        throw;
    }
    return {};
}

std::string FolderFileInTheWay(const std::string& target, const std::vector<std::string>& folderFiles) {
    if (!corvane::fs::Exists(target)) return {};
    corvane::fs::TFileIdentity at;
    if (corvane::fs::IdentifyFile(target, true, at)) {
        for (const std::string& folderFile : folderFiles) {
            corvane::fs::TFileIdentity read;
            if (corvane::fs::IdentifyFile(folderFile, true, read) && read == at)
                return "\"" + target + "\" is the folder file \"" + folderFile + "\" itself.";
        }
    }
    if (IsDbxPath(target)) return "\"" + target + "\" is named as a folder file (.dbx).";
    if (BeginsWithFolderFileSignature(target)) return "\"" + target + "\" is a folder file.";
    return {};
}

// The probe is made in the folder held open, which tells a name that is taken
// (passed over) from a folder that refuses the file (not writeable) by the
// system's own answer: asking afterwards whether the name exists would take
// a probe that another process has just removed for a refusal.
bool FolderIsWriteable(const std::string& folder) {
    std::string path;
    try {
        const corvane::fs::TFolder at(folder);
        for (int attempt = 0; attempt < kProbeAttempts && path.empty(); ++attempt) {
            const std::string name =
                kProbeName + (attempt == 0 ? std::string() : std::to_string(attempt)) + kProbeExtension;
            const std::unique_ptr<corvane::fs::TWriteFile> probe = at.CreateNew(name, corvane::fs::Readers::Owner);
            if (!probe) continue;
            path = probe->Path();
            probe->Close();
        }
    } catch (const ECorvaneError&) {
        if (!path.empty()) corvane::fs::RemoveFile(path);  // created, but the close failed
        return false;
    }
    if (path.empty()) return false;  // every name taken
    corvane::fs::RemoveFile(path);
    return true;
}

std::string ExportFileName(const std::string& folder, std::size_t position) {
    return folder + corvane::fs::kPathSeparator + kExportPrefix + std::to_string(position) + kExportExtension;
}

std::string CopyMessage(const TEmail& email, const std::string& target, std::vector<char>& buffer) {
    const corvane::fs::TReadFile in(email.FileName, corvane::fs::Share::All);
    const std::int64_t length = std::max<std::int64_t>(0, email.MessageEnd - email.MessageStart);
    const auto chunk = static_cast<std::size_t>(std::min<std::int64_t>(length, static_cast<std::int64_t>(kCopyChunk)));
    if (buffer.size() < chunk) buffer.resize(chunk);

    bool endsEarly = false;
    std::string failure = WriteWholeFile(target, [&](corvane::fs::TWriteFile& out) {
        std::int64_t done = 0;
        while (done < length) {
            const auto want =
                static_cast<std::size_t>(std::min<std::int64_t>(length - done, static_cast<std::int64_t>(chunk)));
            const std::size_t got = in.ReadAt(email.MessageStart + done, buffer.data(), want);
            out.Write(buffer.data(), got);
            done += static_cast<std::int64_t>(got);
            if (got < want) {
                endsEarly = true;  // what there is stays written, as the copy always did
                return;
            }
        }
    });
    if (failure.empty() && endsEarly) failure = "The message file \"" + email.FileName + "\" ends before the message does.";
    return failure;
}

TExportReport ExportEmails(const std::vector<TExportItem>& items, const std::string& folder,
                           corvane::TProgress* progress) {
    TExportReport report;
    std::vector<char> buffer;
    const auto total = static_cast<std::int64_t>(items.size());
    for (const TExportItem& item : items) {
        if (progress != nullptr) {
            progress->Report(kExportStage, static_cast<std::int64_t>(report.Chosen), total);
            if (progress->StopRequested()) {
                report.Cancelled = true;
                return report;
            }
        }
        ++report.Chosen;
        std::string failure = item.Email != nullptr
                                  ? CopyMessage(*item.Email, ExportFileName(folder, item.Position), buffer)
                                  : "Row " + std::to_string(item.Position) + " stands for no message.";
        if (!failure.empty()) report.Failures.push_back(std::move(failure));
    }
    if (progress != nullptr) progress->Report(kExportStage, total, total);
    return report;
}

}  // namespace corvane::mail

namespace corvane::mail {

std::string WriteMessage(const corvane::read::TChainText& text, std::int64_t from, std::int64_t to,
                         const std::string& target, corvane::TProgress* progress) {
    return WriteWholeFile(target, [&](corvane::fs::TWriteFile& out) {
        text.Pieces(from, to, [&](const char* p, std::size_t n) {
            // A long text is stopped between its pieces; the file is left out.
            if (progress != nullptr && progress->StopRequested()) throw corvane::ECancelled();
            out.Write(p, n);
        });
    });
}

// The files wait in groups, so that the threads meet once per group rather
// than once per file; at most about kWaitingBytes of text wait.
class TExportWriters::TState {
public:
    TState(std::size_t threads, corvane::TProgress* progress) : progress_(progress) {
        if (threads == 0) threads = std::max<std::size_t>(2, std::thread::hardware_concurrency());
        for (std::size_t i = 0; i < threads; ++i) workers_.emplace_back([this] { Work(); });
    }
    ~TState() {
        try {
            Finish();
        } catch (...) {
        }
    }

    void Add(std::string target, std::shared_ptr<const corvane::read::TChainText> text, std::int64_t from,
             std::int64_t to) {
        if (cancelled_) return;
        const std::size_t bytes = static_cast<std::size_t>(std::max<std::int64_t>(to - from, 0)) + kFileCost;
        group_.push_back({next_++, std::move(target), std::move(text), from, to});
        groupBytes_ += bytes;
        if (group_.size() >= kGroupFiles || groupBytes_ >= kGroupBytes) Hand();
    }

    std::vector<std::string> Finish() {
        Hand();
        {
            std::lock_guard lock(mutex_);
            if (finished_) return {};
            finished_ = true;
            work_.notify_all();
        }
        for (std::thread& t : workers_) t.join();
        workers_.clear();
        std::sort(failures_.begin(), failures_.end());
        std::vector<std::string> texts;
        texts.reserve(failures_.size());
        for (auto& f : failures_) texts.push_back(std::move(f.second));
        return texts;
    }

    void Cancel() {
        std::lock_guard lock(mutex_);
        cancelled_ = true;
        groups_.clear();
        waiting_ = 0;
        work_.notify_all();
        room_.notify_all();
    }
    bool Cancelled() const { return cancelled_; }

private:
    static constexpr std::size_t kGroupFiles = 64;
    static constexpr std::size_t kGroupBytes = std::size_t{1} << 20;
    static constexpr std::size_t kWaitingBytes = std::size_t{32} << 20;
    static constexpr std::size_t kFileCost = 512;  // a file's own cost, in bytes of text

    struct TJob {
        std::size_t sequence;
        std::string target;
        std::shared_ptr<const corvane::read::TChainText> text;
        std::int64_t from, to;
    };
    struct TGroup {
        std::vector<TJob> jobs;
        std::size_t bytes;
    };

    void Hand() {
        if (group_.empty()) return;
        std::unique_lock lock(mutex_);
        room_.wait(lock, [&] { return cancelled_ || waiting_ == 0 || waiting_ + groupBytes_ <= kWaitingBytes; });
        if (!cancelled_) {
            groups_.push_back({std::move(group_), groupBytes_});
            waiting_ += groupBytes_;
            added_ += groups_.back().jobs.size();
            work_.notify_one();
        }
        group_.clear();
        groupBytes_ = 0;
    }

    // A stop asked by progress, or by Cancel.
    bool Stopping() {
        if (cancelled_) return true;
        if (progress_ != nullptr && progress_->StopRequested()) Cancel();
        return cancelled_;
    }

    void Work() {
        for (;;) {
            TGroup group;
            {
                std::unique_lock lock(mutex_);
                work_.wait(lock, [&] { return !groups_.empty() || finished_ || cancelled_; });
                if (groups_.empty() || cancelled_) return;
                group = std::move(groups_.front());
                groups_.pop_front();
            }
            std::vector<std::pair<std::size_t, std::string>> failed;
            for (TJob& job : group.jobs) {
                if (Stopping()) break;
                try {
                    std::string failure = WriteMessage(*job.text, job.from, job.to, job.target, progress_);
                    if (!failure.empty()) failed.emplace_back(job.sequence, std::move(failure));
                } catch (const corvane::ECancelled&) {
                    Cancel();
                    break;
                }
                job.text.reset();
                const std::size_t written = ++written_;
                if (progress_ != nullptr)
                    progress_->Report(kExportStage, static_cast<std::int64_t>(written), static_cast<std::int64_t>(added_));
            }
            std::lock_guard lock(mutex_);
            if (!cancelled_) waiting_ -= group.bytes;
            room_.notify_one();
            for (auto& f : failed) failures_.push_back(std::move(f));
        }
    }

    corvane::TProgress* progress_;
    std::vector<std::thread> workers_;
    std::mutex mutex_;
    std::condition_variable work_, room_;
    std::deque<TGroup> groups_;
    std::size_t waiting_ = 0;
    bool finished_ = false;
    std::atomic<bool> cancelled_{false};
    std::atomic<std::size_t> written_{0}, added_{0};
    std::vector<std::pair<std::size_t, std::string>> failures_;
    // The group being filled, on the adding thread only.
    std::vector<TJob> group_;
    std::size_t groupBytes_ = 0;
    std::size_t next_ = 0;
};

TExportWriters::TExportWriters(std::size_t threads, corvane::TProgress* progress)
    : state_(std::make_unique<TState>(threads, progress)) {}
TExportWriters::~TExportWriters() = default;

void TExportWriters::Add(std::string target, std::shared_ptr<const corvane::read::TChainText> text, std::int64_t from,
                         std::int64_t to) {
    state_->Add(std::move(target), std::move(text), from, to);
}

std::vector<std::string> TExportWriters::Finish() { return state_->Finish(); }
void TExportWriters::Cancel() { state_->Cancel(); }
bool TExportWriters::Cancelled() const { return state_->Cancelled(); }

}  // namespace corvane::mail
