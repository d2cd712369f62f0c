#include "emailexport/MboxExport.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cstring>
#include <condition_variable>
#include <exception>
#include <filesystem>
#include <mutex>
#include <thread>

#include "chainread/ChainRead.h"
#include "emailexport/emailexport.h"
#include "maildecode/MessageDate.h"
#include "platform/Errors.h"
#include "platform/Files.h"
#include "progress/Progress.h"

namespace corvane::mail {

namespace {

// The mbox is written in pieces of this size.
constexpr std::size_t kWriteChunk = std::size_t{1} << 20;

const char* const kNoSender = "MAILER-DAEMON";

// A line of a message that begins with this, after any number of '>', gets one
// more '>' in the mbox.
const char kFromLine[] = "From ";
constexpr std::size_t kFromLineLength = sizeof kFromLine - 1;

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// The bytes of an address that may stand in the separator line: no white
// space, no control bytes.
std::string SeparatorSafe(std::string_view address) {
    std::string out;
    for (char c : address)
        if (static_cast<unsigned char>(c) > 0x20 && c != 0x7F) out += c;
    return out;
}

// The text of a record is [MessageStart, MessageEnd) of its message file.
std::int64_t TextLength(const TEmail& email) { return std::max<std::int64_t>(0, email.MessageEnd - email.MessageStart); }

ECorvaneError EndsEarly(const TEmail& email) {
    return ECorvaneError("The message file \"" + email.FileName + "\" ends before the message does.");
}

}  // namespace

// Reads the texts of records ahead of the writer on worker threads. Most
// message files are small, so an export of many messages is spent mostly in
// opening files; with the opens on other threads the copy and the writing go
// on meanwhile. Texts up to `wholeLimit` bytes are read whole; a longer one is
// left to the writer, which reads it in pieces. A worker takes a run of up to
// kRun records at a time and hands them over together, so that the threads
// meet once per run rather than once per record. The workers stay at most
// kAhead records and about kBytesAhead bytes ahead of the writer; each keeps
// its last message file open while its next record is in the same file. A
// failure is kept with its record and raised when the writer comes to it, so
// the errors are those of reading the records one by one.
class TMboxWriter::TTextPrefetch {
public:
    struct TText {
        std::vector<char> Bytes;
        std::exception_ptr Error;
        bool Whole = false;       // Bytes holds the whole text
        bool Ready = false;
        std::size_t Counted = 0;  // its share of bytesAhead_
    };

    TTextPrefetch(const std::vector<const TEmail*>& records, std::size_t wholeLimit)
        : records_(records), wholeLimit_(wholeLimit), texts_(std::min(kAhead, records.size())) {
        const std::size_t workers = std::clamp<std::size_t>(std::thread::hardware_concurrency(), 1, kMaxWorkers);
        const std::size_t runs = (records.size() + kRun - 1) / kRun;
        for (std::size_t w = 0; w < std::min(workers, runs); ++w) workers_.emplace_back([this] { Work(); });
    }

    ~TTextPrefetch() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            stop_ = true;
        }
        changed_.notify_all();
        for (std::thread& t : workers_) t.join();
    }

    TTextPrefetch(const TTextPrefetch&) = delete;
    TTextPrefetch& operator=(const TTextPrefetch&) = delete;

    // The text of record i once it is read, the writer being done with the
    // records before it. Records are taken in order.
    const TText& Next(std::size_t i) {
        std::unique_lock<std::mutex> lock(mutex_);
        if (i > 0) {
            TText& done = texts_[(i - 1) % texts_.size()];
            bytesAhead_ -= done.Counted;
            if (done.Bytes.capacity() > kKeptCapacity) std::vector<char>().swap(done.Bytes);
            done.Ready = false;
            done.Error = nullptr;
            released_ = i;
            if (idleWorkers_ > 0 && Room()) changed_.notify_all();
        }
        TText& text = texts_[i % texts_.size()];
        changed_.wait(lock, [&] { return text.Ready; });
        return text;
    }

private:
    static constexpr std::size_t kAhead = 256;
    static constexpr std::size_t kRun = 16;
    static constexpr std::size_t kBytesAhead = std::size_t{16} << 20;
    static constexpr std::size_t kMaxWorkers = 4;
    static constexpr std::size_t kKeptCapacity = std::size_t{64} << 10;  // a place keeps this much for the next text

    // Whether a worker may take the next run (the lock held).
    bool Room() const {
        const std::size_t free = texts_.size() - (next_ - released_);
        return next_ < records_.size() && free >= std::min(kRun, records_.size() - next_) && bytesAhead_ < kBytesAhead;
    }

    void Work() {
        std::unique_ptr<fs::TReadFile> file;
        std::unique_lock<std::mutex> lock(mutex_);
        for (;;) {
            ++idleWorkers_;
            changed_.wait(lock, [&] { return stop_ || next_ >= records_.size() || Room(); });
            --idleWorkers_;
            if (stop_ || next_ >= records_.size()) return;
            const std::size_t first = next_;
            do {
                TText& text = texts_[next_ % texts_.size()];  // free: within kAhead of the writer
                const auto length = static_cast<std::uint64_t>(TextLength(*records_[next_]));
                text.Whole = length <= wholeLimit_;
                text.Counted = text.Whole ? static_cast<std::size_t>(length) : 0;
                bytesAhead_ += text.Counted;
                ++next_;
            } while (next_ - first < kRun && next_ < records_.size() && next_ - released_ < texts_.size() &&
                     bytesAhead_ < kBytesAhead);
            const std::size_t end = next_;
            lock.unlock();

            for (std::size_t i = first; i < end; ++i) Read(i, file);

            lock.lock();
            for (std::size_t i = first; i < end; ++i) texts_[i % texts_.size()].Ready = true;
            changed_.notify_all();
        }
    }

    // Reads the text of record i into its place (outside the lock).
    void Read(std::size_t i, std::unique_ptr<fs::TReadFile>& file) {
        TText& text = texts_[i % texts_.size()];
        const TEmail& email = *records_[i];
        text.Bytes.clear();
        if (!text.Whole) return;
        try {
            text.Bytes.resize(text.Counted);
            if (text.Counted == 0) return;
            if (!file || file->Path() != email.FileName) {
                file.reset();
                file = std::make_unique<fs::TReadFile>(email.FileName, fs::Share::All);
            }
            if (file->ReadAt(email.MessageStart, text.Bytes.data(), text.Bytes.size()) < text.Bytes.size())
                throw EndsEarly(email);
        } catch (...) {
            text.Error = std::current_exception();
        }
    }

    const std::vector<const TEmail*>& records_;
    const std::size_t wholeLimit_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<TText> texts_;      // record i in place i % size
    std::size_t next_ = 0;          // the next record a worker takes
    std::size_t released_ = 0;      // records the writer is done with
    std::size_t bytesAhead_ = 0;    // bytes taken on and not yet released
    std::size_t idleWorkers_ = 0;
    bool stop_ = false;
    std::vector<std::thread> workers_;
};

// --- the separator line -------------------------------------------------------

std::string EnvelopeSender(std::string_view fromValue) {
    const std::string text = WithoutComments(fromValue);
    // An address in angle brackets, outside quoted strings.
    bool quoted = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (quoted) {
            if (c == '\\') ++i;
            else if (c == '"') quoted = false;
            continue;
        }
        if (c == '"') quoted = true;
        else if (c == '<') {
            const std::size_t close = text.find('>', i + 1);
            std::string address =
                SeparatorSafe(text.substr(i + 1, close == std::string::npos ? std::string::npos : close - i - 1));
            // An old source route (<@relay:user@host>) names the address after its colon.
            if (!address.empty() && address[0] == '@' && address.find(':') != std::string::npos)
                address.erase(0, address.find(':') + 1);
            return address.empty() ? kNoSender : address;
        }
    }
    // A bare address: the first word with an '@', or a lone word (a local
    // user's name); a list gives its first member.
    std::vector<std::string_view> words;
    std::string_view rest(text);
    if (const std::size_t comma = rest.find(','); comma != std::string_view::npos) rest = rest.substr(0, comma);
    std::size_t at = 0;
    while (at < rest.size()) {
        while (at < rest.size() && IsSpace(rest[at])) ++at;
        const std::size_t from = at;
        while (at < rest.size() && !IsSpace(rest[at])) ++at;
        if (at > from) words.push_back(rest.substr(from, at - from));
    }
    for (std::string_view w : words)
        if (w.find('@') != std::string_view::npos) {
            const std::string address = SeparatorSafe(w);
            return address.empty() ? kNoSender : address;
        }
    if (words.size() == 1 && words[0].find_first_of("\":;") == std::string_view::npos) return SeparatorSafe(words[0]);
    return kNoSender;
}

std::optional<std::time_t> ParseMessageDate(std::string_view value) {
    const std::optional<TMessageDate> date = ReadMessageDate(value);
    if (!date) return std::nullopt;
    return UtcTime(*date);
}

std::string AsctimeUtc(std::time_t t) {
    using namespace std::chrono;
    const sys_seconds at{seconds{static_cast<std::int64_t>(t)}};
    const sys_days day = floor<days>(at);
    const year_month_day date{day};
    const hh_mm_ss<seconds> time{at - day};
    const auto two = [](std::string& out, unsigned n, char pad) {
        out += n >= 10 ? static_cast<char>('0' + n / 10) : pad;
        out += static_cast<char>('0' + n % 10);
    };
    std::string text;
    text.reserve(32);
    text += DayName(weekday{day}.c_encoding());
    text += ' ';
    text += MonthName(static_cast<unsigned>(date.month()));
    text += ' ';
    two(text, static_cast<unsigned>(date.day()), ' ');
    text += ' ';
    two(text, static_cast<unsigned>(time.hours().count()), '0');
    text += ':';
    two(text, static_cast<unsigned>(time.minutes().count()), '0');
    text += ':';
    two(text, static_cast<unsigned>(time.seconds().count()), '0');
    text += ' ';
    text += std::to_string(static_cast<int>(date.year()));
    return text;
}

std::string SeparatorLine(const TEmail& email, std::time_t exportTime) {
    const std::optional<std::time_t> date = ParseMessageDate(email.Date);
    return "From " + EnvelopeSender(email.From) + " " + AsctimeUtc(date.value_or(exportTime)) + "\n";
}

// --- the writer ---------------------------------------------------------------

namespace {

// Removes the temporary files of target that earlier writers left and no
// process holds: target + ".part" and target + ".part-..." that begin as an
// mbox does, or are empty.
void RemoveAbandonedParts(const std::string& target) {
    const std::filesystem::path path(target);
    const std::string prefix = path.filename().string() + ".part";
    std::error_code ec;
    const std::filesystem::path folder = path.has_parent_path() ? path.parent_path() : std::filesystem::path(".");
    for (const auto& entry : std::filesystem::directory_iterator(folder, ec)) {
        const std::string name = entry.path().filename().string();
        if (name != prefix && name.rfind(prefix + "-", 0) != 0) continue;
        const std::string part = entry.path().string();
        try {
            const fs::TReadFile file(part, fs::Share::All);
            char start[5] = {};
            const std::size_t got = file.ReadAt(0, start, sizeof start);
            if (got != 0 && std::string_view(start, got) != std::string_view(kFromLine, kFromLineLength)) continue;
        } catch (const ECorvaneError&) {
            continue;
        }
        fs::RemoveAbandonedFile(part);
    }
}

}  // namespace

TMboxWriter::TMboxWriter(const std::string& mboxPath, std::time_t exportTime, std::size_t readChunk)
    : mboxPath_(mboxPath),
      exportTime_(exportTime),
      readChunk_(static_cast<std::int64_t>(std::clamp<std::size_t>(readChunk, 1, kMboxReadChunk))) {
    RemoveAbandonedParts(mboxPath);
    try {
        out_ = fs::CreateUnnamedFile(mboxPath, fs::Readers::Everyone);
    } catch (const EFCreateError& e) {
        throw EFCreateError(mboxPath, e.Reason());
    }
    if (!out_) {
        out_ = CreateTemporaryFor(mboxPath);
        out_->Hold();
        tempPath_ = out_->Path();
    }
    buffer_.resize(kWriteChunk);
}

TMboxWriter::~TMboxWriter() {
    if (committed_) return;
    source_.reset();
    out_.reset();  // closed before it is removed, as Windows requires
    if (!tempPath_.empty()) fs::RemoveFile(tempPath_);
}

void TMboxWriter::Flush() {
    if (used_ == 0) return;
    try {
        out_->Write(buffer_.data(), used_);
    } catch (const EInOutError& e) {
        throw EFCreateError(mboxPath_, e.what());
    }
    report_.MboxBytes += used_;
    used_ = 0;
}

void TMboxWriter::Put(const char* data, std::size_t n) {
    if (n > buffer_.size() - used_) {
        Flush();
        if (n >= buffer_.size()) {
            try {
                out_->Write(data, n);
            } catch (const EInOutError& e) {
                throw EFCreateError(mboxPath_, e.what());
            }
            report_.MboxBytes += n;
            return;
        }
    }
    std::memcpy(buffer_.data() + used_, data, n);
    used_ += n;
}

const fs::TReadFile& TMboxWriter::Source(const std::string& fileName) {
    if (!source_ || source_->Path() != fileName) {
        source_.reset();
        source_ = std::make_unique<fs::TReadFile>(fileName, fs::Share::All);
    }
    return *source_;
}

void TMboxWriter::Add(const TEmail& email) { Add(email, Source(email.FileName)); }

void TMboxWriter::Add(const TEmail& email, const fs::TReadFile& file) {
    if (committed_) throw ECorvaneError("The mbox file \"" + mboxPath_ + "\" is already complete.");
    const std::string separator = SeparatorLine(email, exportTime_);
    Put(separator.data(), separator.size());

    const std::int64_t length = TextLength(email);
    if (in_.size() < static_cast<std::size_t>(std::min<std::int64_t>(length, readChunk_)))
        in_.resize(static_cast<std::size_t>(std::min<std::int64_t>(length, readChunk_)));
    BeginText();
    std::int64_t done = 0;
    while (done < length) {
        const auto want = static_cast<std::size_t>(std::min<std::int64_t>(length - done, readChunk_));
        const std::size_t got = file.ReadAt(email.MessageStart + done, in_.data(), want);
        if (got < want) throw EndsEarly(email);
        done += static_cast<std::int64_t>(got);
        PutText(in_.data(), got);
    }
    EndText();
}

void TMboxWriter::Add(const TEmail& email, const read::TChainText& text) {
    if (committed_) throw ECorvaneError("The mbox file \"" + mboxPath_ + "\" is already complete.");
    const std::string separator = SeparatorLine(email, exportTime_);
    Put(separator.data(), separator.size());
    BeginText();
    std::int64_t done = 0;
    text.Pieces(email.MessageStart, email.MessageEnd, [&](const char* p, std::size_t n) {
        if (progress_ != nullptr && progress_->StopRequested()) throw corvane::ECancelled();
        PutText(p, n);
        done += static_cast<std::int64_t>(n);
    }, static_cast<std::size_t>(readChunk_));
    if (done < TextLength(email)) throw EndsEarly(email);
    EndText();
}

void TMboxWriter::AddText(const TEmail& email, const char* text, std::size_t n) {
    const std::string separator = SeparatorLine(email, exportTime_);
    Put(separator.data(), separator.size());
    BeginText();
    PutText(text, n);
    EndText();
}

void TMboxWriter::BeginText() {
    lineStart_ = true;
    quotes_ = matched_ = 0;
    pendingCR_ = false;
    lineHasBytes_ = headerClosed_ = false;
}

void TMboxWriter::PutLineEnd() {
    if (!lineHasBytes_) headerClosed_ = true;  // an empty line: the header block ends here
    lineHasBytes_ = false;
    Put('\n');
}

// At a line start the bytes are held back while they can still become
// ">*From ": quotes_ counts the leading '>', matched_ the bytes of "From "
// that follow. A piece that ends with a CR leaves it pending: the next byte
// decides whether it was a line end.
void TMboxWriter::PutText(const char* p, std::size_t n) {
    report_.MessageBytes += n;
    if (n == 0) return;
    const char* const end = p + n;
    if (pendingCR_) {
        pendingCR_ = false;
        if (*p == '\n') {
            PutLineEnd();
            ++p;
            lineStart_ = true;
            quotes_ = matched_ = 0;
        } else {
            Put('\r');  // a CR of its own is kept
            lineHasBytes_ = true;
        }
    }
    while (p < end) {
        if (lineStart_) {
            const char c = *p;
            if (matched_ == 0 && c == '>') {
                ++quotes_;
                ++p;
                continue;
            }
            if (c == kFromLine[matched_]) {
                ++p;
                if (++matched_ == kFromLineLength) {
                    Put('>');
                    ReleaseHeld();
                }
                continue;
            }
            ReleaseHeld();  // not a separator: the held bytes as they were
            continue;
        }
        const char* nl = static_cast<const char*>(std::memchr(p, '\n', static_cast<std::size_t>(end - p)));
        if (nl == nullptr) {
            const char* stop = end;
            if (end[-1] == '\r') {
                --stop;
                pendingCR_ = true;
            }
            Put(p, static_cast<std::size_t>(stop - p));
            lineHasBytes_ = lineHasBytes_ || stop > p;
            break;
        }
        const char* stop = (nl > p && nl[-1] == '\r') ? nl - 1 : nl;
        Put(p, static_cast<std::size_t>(stop - p));
        lineHasBytes_ = lineHasBytes_ || stop > p;
        PutLineEnd();
        p = nl + 1;
        lineStart_ = true;
        quotes_ = matched_ = 0;
    }
}

void TMboxWriter::ReleaseHeld() {
    for (std::size_t q = 0; q < quotes_; ++q) Put('>');
    Put(kFromLine, matched_);
    lineHasBytes_ = lineHasBytes_ || quotes_ > 0 || matched_ > 0;
    lineStart_ = false;
}

// The end of the text: held bytes out, a line end where the last line has
// none, then the empty line. A text with no empty line, whose header block
// was never closed, first gets the empty line that ends its headers: some
// readers (GNU Mailutils) want an empty line after the header block and
// another before the next separator, and would otherwise read the next
// message as this one's body.
void TMboxWriter::EndText() {
    const bool endedWithLineEnd = lineStart_ && quotes_ == 0 && matched_ == 0;
    if (lineStart_) ReleaseHeld();
    if (pendingCR_) Put('\r');
    if (!endedWithLineEnd) Put('\n');
    if (!headerClosed_) Put('\n');
    Put('\n');
    ++report_.Written;
}

TMboxReport TMboxWriter::Commit() {
    if (committed_) return report_;
    source_.reset();
    Flush();
    // An unnamed file takes the target's name itself when it is free; else
    // a temporary one, renamed over the file of that name.
    bool named = false;
    if (tempPath_.empty()) {
        named = out_->LinkAs(mboxPath_);
        if (!named) tempPath_ = LinkUnderTemporaryName(*out_, mboxPath_);
    }
    try {
        out_->Close();
    } catch (const EInOutError& e) {
        throw EFCreateError(mboxPath_, e.what());
    }
    if (!named) fs::RenameFile(tempPath_, mboxPath_);
    committed_ = true;
    return report_;
}

void TMboxWriter::AddAll(const std::vector<const TEmail*>& emails, corvane::TProgress* progress) {
    if (committed_) throw ECorvaneError("The mbox file \"" + mboxPath_ + "\" is already complete.");
    std::vector<const TEmail*> records;
    records.reserve(emails.size());
    for (const TEmail* email : emails)
        if (email != nullptr) records.push_back(email);
    if (records.empty()) return;

    const auto total = static_cast<std::int64_t>(records.size());
    TTextPrefetch ahead(records, static_cast<std::size_t>(readChunk_));
    for (std::size_t i = 0; i < records.size(); ++i) {
        corvane::CheckPoint(progress, kMboxStage, static_cast<std::int64_t>(i), total);
        const TTextPrefetch::TText& text = ahead.Next(i);
        if (text.Error) std::rethrow_exception(text.Error);
        if (text.Whole) AddText(*records[i], text.Bytes.data(), text.Bytes.size());
        else Add(*records[i]);  // longer than a read piece: read in pieces here
    }
    if (progress != nullptr) progress->Report(kMboxStage, total, total);
}

TMboxReport WriteMbox(const std::vector<const TEmail*>& emails, const std::string& mboxPath, std::time_t exportTime,
                      corvane::TProgress* progress) {
    TMboxWriter mbox(mboxPath, exportTime);
    mbox.AddAll(emails, progress);
    return mbox.Commit();
}

}  // namespace corvane::mail
