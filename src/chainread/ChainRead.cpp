#include "chainread/ChainRead.h"

#include <algorithm>
#include <cstring>
#include <condition_variable>
#include <deque>
#include <exception>
#include <future>
#include <mutex>
#include <thread>
#include <vector>

#include "dbxindex/MessageIndex.h"
#include "emailparser/emailparser.h"
#include "outlookfile/IndexMatch.h"
#include "outlookfile/PagePool.h"
#include "outlookfile/outlookfile.h"
#include "platform/Files.h"
#include "platform/TempNames.h"
#include "progress/Progress.h"

namespace corvane::read {
namespace {

// A text in memory: a stretch of a page shared with other chains, or a
// buffer of its own; the owner keeps the bytes alive.
class TMemoryText : public TChainText {
public:
    TMemoryText(std::shared_ptr<const char> owner, std::size_t offset, std::size_t size)
        : owner_(std::move(owner)), data_(owner_.get() + offset), size_(size) {}
    std::int64_t Size() const override { return static_cast<std::int64_t>(size_); }
    bool InMemory() const override { return true; }
    std::string_view View() const override { return {data_, size_}; }
    const fs::TReadFile* File() const override { return nullptr; }

private:
    std::shared_ptr<const char> owner_;
    const char* data_;
    std::size_t size_;
};


// A chain too long to hold: in a scratch file of the read, which has no name
// and goes away with the last text that reads it. A text handed over while
// the chain is still written covers what was written then.
class TFileText : public TChainText {
public:
    TFileText(std::shared_ptr<const fs::TReadFile> file, std::int64_t size) : file_(std::move(file)), size_(size) {}
    std::int64_t Size() const override { return size_; }
    bool InMemory() const override { return false; }
    std::string_view View() const override { return {}; }
    const fs::TReadFile* File() const override { return file_.get(); }

private:
    std::shared_ptr<const fs::TReadFile> file_;
    std::int64_t size_;
};

// What a record waiting in the queue costs, besides its text: the record and
// its header values.
std::size_t RecordBytes(const TEmail& e) {
    return sizeof(TEmail) + e.FileName.size() + e.From.size() + e.To.size() + e.Subject.size() + e.Date.size();
}

// The chains of one read with their records, in groups, handed from the
// walk's thread to the consumer. Bounded by the bytes of text waiting.
struct TChainDone {
    TEmailArray Records;
    std::shared_ptr<const TChainText> Text;
    std::int64_t FirstBlock = -1;  // the folder-file offset of the chain's first block
};

class TQueue {
public:
    explicit TQueue(std::size_t limit) : limit_(std::max<std::size_t>(limit, 1)) {}

    // False when the consumer has stopped: the walk ends then.
    bool Push(std::vector<TChainDone>&& group, std::size_t bytes) {
        std::unique_lock lock(mutex_);
        roomy_.wait(lock, [&] { return stopped_ || waiting_ == 0 || waiting_ + bytes <= limit_; });
        if (stopped_) return false;
        groups_.push_back({std::move(group), bytes});
        waiting_ += bytes;
        ready_.notify_one();
        return true;
    }
    // The walk's end, with its failure if any.
    void Close(std::exception_ptr failure) {
        std::lock_guard lock(mutex_);
        closed_ = true;
        failure_ = std::move(failure);
        ready_.notify_one();
    }
    // The next group; false at the end (the walk's failure raised).
    bool Pop(std::vector<TChainDone>& group) {
        std::unique_lock lock(mutex_);
        ready_.wait(lock, [&] { return !groups_.empty() || closed_; });
        // A failed walk ends the read at once: what waits is left.
        if (failure_) std::rethrow_exception(failure_);
        if (groups_.empty()) return false;
        group = std::move(groups_.front().first);
        waiting_ -= groups_.front().second;
        groups_.pop_front();
        roomy_.notify_one();
        return true;
    }
    // The consumer gives up: the walk stops at its next push.
    void Stop() {
        std::lock_guard lock(mutex_);
        stopped_ = true;
        roomy_.notify_one();
    }

private:
    std::mutex mutex_;
    std::condition_variable ready_, roomy_;
    std::deque<std::pair<std::vector<TChainDone>, std::size_t>> groups_;
    std::size_t limit_;
    std::size_t waiting_ = 0;
    bool closed_ = false;
    bool stopped_ = false;
    std::exception_ptr failure_;
};

// Ends the walk when the consumer has stopped.
struct EConsumerStopped {};

// The sink of one kind of chain: parses each chain's text as GetEmails'
// message-file writer does, under the same file names, and keeps the text.
// A chain of very many messages hands its records over while it is walked,
// as soon as they are whole, with the text written so far: the records in
// flight stay bounded by the queue, never by the chain.
class TKeepingSink : public TChainSink {
public:
    TKeepingSink(bool deleted, std::string folder, const TChainReadOptions& options, TQueue& queue, std::size_t& records)
        : deleted_(deleted), parser_(deleted, options.WholeMessages && !deleted), prefix_(deleted ? "delmsg" : "msg"), folder_(std::move(folder)), options_(options),
          queue_(queue), records_(records), pool_(std::make_shared<TPagePool>()) {}
    TKeepingSink(const TKeepingSink&) = delete;
    TKeepingSink& operator=(const TKeepingSink&) = delete;

    // The records learn from the index (null: none was read); fromIndex:
    // the chains come from the index's first blocks, one record each.
    void UseIndex(const TIndexMatcher* matcher, bool fromIndex) {
        matcher_ = matcher;
        fromIndex_ = fromIndex;
    }
    void ChainStart(std::uint32_t head) override { head_ = head; }
    // The chain's length decides where its text goes: onto a shared page
    // (most chains), a buffer of its own of exactly that size, or, beyond
    // the memory limit, a scratch file.
    void BeginChain(std::size_t bytes) override {
        ++number_;
        fileName_ = fs::JoinTempName(folder_, prefix_ + std::to_string(number_) + ".tmp");
        parser_.BeginFile(fileName_);
        own_.reset();
        spill_ = {};
        size_ = 0;
        onPage_ = false;
        handed_ = false;
        if (!options_.KeepText) return;
        if (bytes > options_.MemoryLimit) {
            spill_ = fs::CreateScratchFile();
        } else if (bytes <= TPagePool::kPageBytes) {
            if (!page_ || pageUsed_ + bytes > TPagePool::kPageBytes) {
                page_ = pool_->Take();
                pageUsed_ = 0;
            }
            chainOffset_ = pageUsed_;
            pageUsed_ += bytes;
            pageRoom_ = bytes;
            onPage_ = true;
        } else {
            own_ = std::make_shared<std::string>();
            own_->reserve(bytes);
        }
    }
    // Parsed and kept in slices: between two slices the whole records are
    // handed on once there are many.
    void ChainText(const char* data, std::size_t size) override {
        constexpr std::size_t kSlice = std::size_t{16} << 10;
        for (std::size_t at = 0; at < size; at += kSlice) {
            const std::size_t n = std::min(kSlice, size - at);
            parser_.Feed(data + at, n);
            Keep(data + at, n);
            if (parser_.Held() >= kGroupRecords) HandClosed();
        }
    }
    void EndChain() override {
        parser_.EndFile();
        TChainDone done{parser_.Take(), nullptr, head_};
        Match(done.Records, !handed_);
        std::size_t bytes = 64;  // a chain without text still takes a little room
        for (const TEmail& e : done.Records) bytes += RecordBytes(e);
        Count(done.Records.size());
        if (options_.KeepText) {
            done.Text = TextSoFar();
            if (spill_.Writer) spill_.Writer->Close();
            spill_ = {};
            if (done.Text->InMemory()) bytes += static_cast<std::size_t>(size_);
            own_.reset();
        }
        group_.push_back(std::move(done));
        groupBytes_ += bytes;
        if (group_.size() >= kGroupChains || groupBytes_ >= kGroupBytes) Flush();
    }
    void Flush() {
        if (group_.empty()) return;
        if (!queue_.Push(std::move(group_), groupBytes_)) throw EConsumerStopped{};
        group_.clear();
        groupBytes_ = 0;
    }

private:
    static constexpr std::size_t kGroupChains = 256;
    static constexpr std::size_t kGroupBytes = std::size_t{1} << 20;
    static constexpr std::size_t kGroupRecords = 4096;  // records of one chain handed on together

    void Keep(const char* data, std::size_t size) {
        const std::size_t before = static_cast<std::size_t>(size_);
        size_ += static_cast<std::int64_t>(size);
        if (!options_.KeepText || size == 0) return;
        if (spill_.Writer) {
            spill_.Writer->Write(data, size);
            return;
        }
        if (onPage_ && before + size <= pageRoom_) {
            std::memcpy(page_.get() + chainOffset_ + before, data, size);
            return;
        }
        if (onPage_) {  // more text than the chain was said to have: a buffer of its own
            own_ = std::make_shared<std::string>(page_.get() + chainOffset_, before);
            onPage_ = false;
        }
        // Text handed on lies in this buffer: it must not move, so a buffer
        // that has to grow is copied into a new one, and the old one stays
        // with the texts handed on.
        if (handed_ && own_->size() + size > own_->capacity()) {
            auto grown = std::make_shared<std::string>();
            grown->reserve(std::max(own_->capacity() * 2, own_->size() + size));
            grown->append(*own_);
            own_ = std::move(grown);
        }
        own_->append(data, size);
    }
    // The text of the chain in progress as far as it is written.
    std::shared_ptr<const TChainText> TextSoFar() const {
        if (spill_.Reader) return std::make_shared<TFileText>(spill_.Reader, size_);
        if (onPage_) return std::make_shared<TMemoryText>(page_, chainOffset_, static_cast<std::size_t>(size_));
        const char* data = own_->data();
        return std::make_shared<TMemoryText>(std::shared_ptr<const char>(own_, data), 0, own_->size());
    }
    void Match(TEmailArray& records, bool firstOpens) {
        if (matcher_ == nullptr) return;
        if (fromIndex_) matcher_->WholeFromIndex(records, head_, fileName_, size_);
        else if (deleted_) matcher_->NotInIndex(records.data(), records.data() + records.size());
        else matcher_->Attach(records.data(), records.data() + records.size(), head_, firstOpens);
    }
    void HandClosed() {
        TChainDone done{parser_.TakeClosed(), nullptr, head_};
        if (done.Records.empty()) return;
        Match(done.Records, !handed_);
        std::size_t bytes = 64;
        for (const TEmail& e : done.Records) bytes += RecordBytes(e);
        Count(done.Records.size());
        if (options_.KeepText) {
            done.Text = TextSoFar();
            handed_ = true;
        }
        group_.push_back(std::move(done));
        groupBytes_ += bytes;
        Flush();
    }
    void Count(std::size_t records) {
        records_ += records;
        if (options_.RecordLimit != 0 && records_ > options_.RecordLimit)
            throw ETooManyRecords(options_.FolderFile, options_.RecordLimit);
    }

    bool deleted_;
    TMessageParser parser_;
    const TIndexMatcher* matcher_ = nullptr;
    bool fromIndex_ = false;
    std::uint32_t head_ = 0;
    std::string fileName_;
    std::string prefix_;
    std::string folder_;
    const TChainReadOptions& options_;
    TQueue& queue_;
    std::size_t& records_;  // of the whole read, both kinds
    std::size_t number_ = 0;
    std::int64_t size_ = 0;
    fs::TScratchFile spill_;               // the chain in progress, when too long to hold
    std::shared_ptr<std::string> own_;     // the chain in progress, in a buffer of its own
    bool handed_ = false;                  // records of the chain in progress were handed on
    std::shared_ptr<TPagePool> pool_;
    std::shared_ptr<char> page_;  // the page being filled
    std::size_t pageUsed_ = 0;
    bool onPage_ = false;  // the chain in progress lies on the page, from chainOffset_
    std::size_t chainOffset_ = 0;
    std::size_t pageRoom_ = 0;  // the room kept on the page for the chain
    std::vector<TChainDone> group_;
    std::size_t groupBytes_ = 0;
};

}  // namespace

void TChainText::Pieces(std::int64_t from, std::int64_t to, const std::function<void(const char*, std::size_t)>& put,
                        std::size_t pieceBytes) const {
    from = std::clamp<std::int64_t>(from, 0, Size());
    to = std::clamp<std::int64_t>(to, from, Size());
    if (InMemory()) {
        if (to > from) put(View().data() + from, static_cast<std::size_t>(to - from));
        return;
    }
    std::vector<char> buffer(static_cast<std::size_t>(std::min<std::int64_t>(to - from, static_cast<std::int64_t>(pieceBytes))));
    while (from < to) {
        const auto want = static_cast<std::size_t>(std::min<std::int64_t>(to - from, static_cast<std::int64_t>(buffer.size())));
        const std::size_t got = File()->ReadAt(from, buffer.data(), want);
        if (got == 0) break;
        put(buffer.data(), got);
        from += static_cast<std::int64_t>(got);
    }
}

std::string TChainText::Copy(std::int64_t from, std::int64_t to) const {
    std::string out;
    Pieces(from, to, [&out](const char* p, std::size_t n) { out.append(p, n); });
    return out;
}

std::int64_t BodyStart(const TEmail& email) { return email.HeaderEnd != 0 ? email.HeaderEnd : email.MessageStart; }

std::int64_t HeaderBlockEnd(const TEmail& email) { return email.HeaderEnd != 0 ? email.HeaderEnd : email.MessageEnd; }

class TChainRead::TState {
public:
    TState(const std::string& folderFile, const TChainReadOptions& options) : options_(options), queue_(options.QueueBytes) {
        options_.FolderFile = folderFile;
        reader_.SetWriteBatch(options.WalkBatch);
        reader_.SetAfterScan(options.AfterScan);
        reader_.OpenFolder(folderFile);
    }

    std::size_t Run(const std::function<void(TFoundMessage&)>& consumer, TProgress* progress) {
        std::thread walk([this, progress] { Walk(progress); });
        std::size_t item = 0;
        try {
            std::vector<TChainDone> group;
            while (queue_.Pop(group)) {
                for (TChainDone& chain : group) {
                    for (TEmail& email : chain.Records) {
                        TFoundMessage message{item++, std::move(email), chain.Text, chain.FirstBlock};
                        consumer(message);
                    }
                    chain.Text.reset();
                }
            }
        } catch (...) {
            queue_.Stop();
            walk.join();
            reader_.CloseFolder();
            throw;
        }
        walk.join();
        reader_.CloseFolder();
        return item;
    }

private:
    // The live chains first, then the deleted ones: the order of the records.
    void Walk(TProgress* progress) {
        try {
            reader_.SetProgress(progress);
            const std::string folder = fs::TempPathName();
            TMessagePartArray liveParts;
            TDelMessagePartArray deletedParts;
            const bool readIndex = options_.ReadIndex || options_.WholeMessages;
            auto indexRead = readIndex ? reader_.ReadIndexAside() : std::future<dbx::TMessageIndex>();
            reader_.ScanAllParts(liveParts, options_.IncludeDeleted ? &deletedParts : nullptr);
            const dbx::TMessageIndex index = readIndex ? indexRead.get() : dbx::TMessageIndex();
            const TIndexMatcher matcher(&index);
            const bool matching = index.Usable || !index.Entries.empty();
            const bool fromIndex = options_.WholeMessages && index.Usable;
            if (options_.WholeMessages && !index.Usable) indexProblem_ = index.Problem;
            std::size_t records = 0;
            {
                TKeepingSink sink(false, folder, options_, queue_, records);
                if (fromIndex) {
                    // The index's messages in its order, then the chains of
                    // the blocks none of them took.
                    std::vector<std::uint32_t> firsts;
                    firsts.reserve(index.Entries.size());
                    for (const auto& entry : index.Entries) firsts.push_back(entry->FirstBlock);
                    sink.UseIndex(&matcher, true);
                    if (!liveParts.empty()) reader_.WalkChainsFrom(liveParts, firsts, sink);
                    TMessagePartArray rest;
                    for (const TMessagePart& part : liveParts)
                        if (part.Visited == 0) rest.push_back(part);
                    sink.UseIndex(&matcher, false);
                    if (!rest.empty()) reader_.WalkChains(rest, sink);
                } else {
                    sink.UseIndex(matching ? &matcher : nullptr, false);
                    if (!liveParts.empty()) reader_.WalkChains(liveParts, sink);
                }
                sink.Flush();
            }
            if (options_.IncludeDeleted) {
                TKeepingSink sink(true, folder, options_, queue_, records);
                sink.UseIndex(matching ? &matcher : nullptr, false);
                if (!deletedParts.empty()) reader_.WalkChains(deletedParts, sink);
                sink.Flush();
            }
            queue_.Close(nullptr);
        } catch (const EConsumerStopped&) {
            queue_.Close(nullptr);
        } catch (...) {
            queue_.Close(std::current_exception());
        }
        reader_.SetProgress(nullptr);
    }

public:
    std::string indexProblem_;  // written by the walk, read once it has ended

private:
    TChainReadOptions options_;
    Toutlookfile reader_;
    TQueue queue_;
};

TChainRead::TChainRead(const std::string& folderFile, const TChainReadOptions& options)
    : state_(std::make_unique<TState>(folderFile, options)) {}
TChainRead::~TChainRead() = default;

std::size_t TChainRead::Run(const std::function<void(TFoundMessage&)>& consumer, TProgress* progress) {
    return state_->Run(consumer, progress);
}

const std::string& TChainRead::IndexProblem() const { return state_->indexProblem_; }

}  // namespace corvane::read
