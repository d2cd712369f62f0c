#include "chainread/ChainRead.h"

#include <algorithm>
#include <cstring>
#include <condition_variable>
#include <deque>
#include <exception>
#include <mutex>
#include <random>
#include <thread>
#include <vector>

#include "emailparser/emailparser.h"
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


// A chain too long to hold: written into a private file of the read, which
// goes away with the text.
class TFileText : public TChainText {
public:
    TFileText(std::string path, std::int64_t size)
        : path_(std::move(path)), size_(size), file_(std::make_unique<fs::TReadFile>(path_, fs::Share::All)) {}
    ~TFileText() override {
        file_.reset();
        fs::RemoveFile(path_);
    }
    TFileText(const TFileText&) = delete;
    TFileText& operator=(const TFileText&) = delete;
    std::int64_t Size() const override { return size_; }
    bool InMemory() const override { return false; }
    std::string_view View() const override { return {}; }
    const fs::TReadFile* File() const override { return file_.get(); }

private:
    std::string path_;
    std::int64_t size_;
    std::unique_ptr<fs::TReadFile> file_;
};

// A name for a private file of this read that nothing else uses: the
// scratch folder, the program's prefix and a random part.
std::string SpillName() {
    static thread_local std::mt19937_64 random{std::random_device{}()};
    return fs::JoinTempName(fs::ScratchFolder(), "corvane-chain-" + std::to_string(random()) + ".tmp");
}

// The chains of one read with their records, in groups, handed from the
// walk's thread to the consumer. Bounded by the bytes of text waiting.
struct TChainDone {
    TEmailArray Records;
    std::shared_ptr<const TChainText> Text;
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
class TKeepingSink : public TChainSink {
public:
    TKeepingSink(bool deleted, std::string folder, const TChainReadOptions& options, TQueue& queue)
        : parser_(deleted, options.WholeMessages && !deleted), prefix_(deleted ? "delmsg" : "msg"), folder_(std::move(folder)), options_(options),
          queue_(queue), pool_(std::make_shared<TPagePool>()) {}
    ~TKeepingSink() override {
        if (!spill_) return;  // a chain left unfinished by a failure
        const std::string path = spill_->Path();
        spill_.reset();
        fs::RemoveFile(path);
    }
    TKeepingSink(const TKeepingSink&) = delete;
    TKeepingSink& operator=(const TKeepingSink&) = delete;

    // The chain's length decides where its text goes: onto a shared page
    // (most chains), a buffer of its own of exactly that size, or, beyond
    // the memory limit, a private file.
    void BeginChain(std::size_t bytes) override {
        ++number_;
        parser_.BeginFile(fs::JoinTempName(folder_, prefix_ + std::to_string(number_) + ".tmp"));
        text_ = {};
        size_ = 0;
        onPage_ = false;
        if (!options_.KeepText) return;
        if (bytes > options_.MemoryLimit) {
            spill_ = std::make_unique<fs::TWriteFile>(SpillName(), fs::Create::Exclusive);
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
            text_.reserve(bytes);
        }
    }
    void ChainText(const char* data, std::size_t size) override {
        parser_.Feed(data, size);
        const std::size_t before = static_cast<std::size_t>(size_);
        size_ += static_cast<std::int64_t>(size);
        if (!options_.KeepText || size == 0) return;
        if (spill_) {
            spill_->Write(data, size);
        } else if (onPage_ && before + size <= pageRoom_) {
            std::memcpy(page_.get() + chainOffset_ + before, data, size);
        } else {
            if (onPage_) {  // more text than the chain was said to have: a buffer of its own
                text_.assign(page_.get() + chainOffset_, before);
                onPage_ = false;
            }
            text_.append(data, size);
        }
    }
    void EndChain() override {
        parser_.EndFile();
        TChainDone done{parser_.Take(), nullptr};
        std::size_t bytes = 64;  // a chain without text still takes a little room
        if (options_.KeepText) {
            if (spill_) {
                const std::string path = spill_->Path();
                spill_->Close();
                spill_.reset();
                done.Text = std::make_shared<TFileText>(path, size_);
            } else if (onPage_) {
                bytes += static_cast<std::size_t>(size_);
                done.Text = std::make_shared<TMemoryText>(page_, chainOffset_, static_cast<std::size_t>(size_));
            } else {
                bytes += text_.size();
                auto own = std::make_shared<std::string>(std::move(text_));
                const char* data = own->data();
                const std::size_t n = own->size();
                done.Text = std::make_shared<TMemoryText>(std::shared_ptr<const char>(std::move(own), data), 0, n);
                text_ = {};
            }
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

    TMessageParser parser_;
    std::string prefix_;
    std::string folder_;
    const TChainReadOptions& options_;
    TQueue& queue_;
    std::size_t number_ = 0;
    std::string text_;
    std::int64_t size_ = 0;
    std::unique_ptr<fs::TWriteFile> spill_;  // the chain in progress, when too long to hold
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
        reader_.SetWriteBatch(options.WalkBatch);
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
                        TFoundMessage message{item++, std::move(email), chain.Text};
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
            reader_.ScanAllParts(liveParts, options_.IncludeDeleted ? &deletedParts : nullptr);
            {
                TKeepingSink sink(false, folder, options_, queue_);
                if (!liveParts.empty()) reader_.WalkChains(liveParts, sink);
                sink.Flush();
            }
            if (options_.IncludeDeleted) {
                TKeepingSink sink(true, folder, options_, queue_);
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

}  // namespace corvane::read
