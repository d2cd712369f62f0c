// Chain assembly: links the blocks found into chains and writes each chain's
// text into a message file of its own.
//
// The chains are those of repeated passes over the blocks in index order: a
// pass appends a block whose offsets continue the chain's tail, or else
// prepends one that leads to its head, and the head and tail move at once; a
// pass that places nothing closes the chain, and the lowest-indexed block not
// yet placed starts the next one. Only blocks not yet placed are tested, and
// the assembly goes on until every block is placed, so each block is written
// exactly once.
//
// Instead of testing every block in every pass, the blocks not yet placed are
// indexed by offset, next offset and previous offset: the next block a pass
// would place is the lowest index at or after the pass's position among the
// few keys the head and tail name. Each chain's block order is kept, and its
// file is written once, in chain order, after the chain is complete.

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <exception>
#include <future>
#include <limits>
#include <memory>
#include <mutex>
#include <string_view>
#include <system_error>
#include <thread>
#include <utility>

#include "emailparser/emailparser.h"
#include "dbxindex/MessageIndex.h"
#include "outlookfile/IndexMatch.h"
#include "outlookfile/KeySort.h"
#include "outlookfile/PagePool.h"
#include "outlookfile/outlookfile.h"
#include "platform/Errors.h"
#include "platform/Files.h"
#include "platform/Memory.h"
#include "platform/TempNames.h"
#include "progress/Progress.h"

namespace {

using Index = std::uint32_t;
constexpr Index kNone = std::numeric_limits<Index>::max();

// The blocks not yet placed, ordered by one key, then by index. Placed blocks
// are skipped through a union-find over the sorted positions. A hash table
// finds where a key's run of entries begins: a lookup costs a probe or two
// instead of a binary search over every block, which the chain walk makes
// several of per block.
class TKeyIndex {
public:
    explicit TKeyIndex(const std::vector<std::uint32_t>& keys) : entries_(keys.size()), where_(keys.size()) {
        for (std::size_t i = 0; i < keys.size(); ++i) entries_[i] = {keys[i], static_cast<Index>(i)};
        SortByKey();
        skip_.resize(entries_.size() + 1);
        for (std::size_t s = 0; s < entries_.size(); ++s) {
            where_[entries_[s].index] = static_cast<Index>(s);
            skip_[s] = static_cast<Index>(s);
        }
        skip_[entries_.size()] = static_cast<Index>(entries_.size());
        std::size_t slots = 16;
        while (slots < 2 * entries_.size()) slots *= 2;
        mask_ = slots - 1;
        slots_.assign(slots, Slot{0, kNone});
        for (std::size_t s = 0; s < entries_.size(); ++s) {
            if (s > 0 && entries_[s].key == entries_[s - 1].key) continue;
            std::size_t h = Hash(entries_[s].key);
            while (slots_[h].start != kNone) h = (h + 1) & mask_;
            slots_[h] = {entries_[s].key, static_cast<Index>(s)};
        }
    }

    // The lowest index from `from` on, not yet placed, whose key is `key`.
    Index First(std::uint32_t key, Index from) {
        std::size_t h = Hash(key);
        while (slots_[h].start != kNone && slots_[h].key != key) h = (h + 1) & mask_;
        if (slots_[h].start == kNone) return kNone;
        // The first entry of the key's run with an index from `from` on.
        // Runs are mostly a single entry: a few steps, then a binary search.
        auto it = entries_.begin() + slots_[h].start;
        for (int step = 0; step < 8 && it != entries_.end() && it->key == key && it->index < from; ++step) ++it;
        if (it != entries_.end() && it->key == key && it->index < from) {
            it = std::lower_bound(it, entries_.end(), Entry{key, from}, [](const Entry& a, const Entry& b) {
                return a.key != b.key ? a.key < b.key : a.index < b.index;
            });
        }
        Index s = Find(static_cast<Index>(it - entries_.begin()));
        if (s < entries_.size() && entries_[s].key == key) return entries_[s].index;
        return kNone;
    }

    void Remove(Index index) { skip_[where_[index]] = where_[index] + 1; }

private:
    struct Entry {
        std::uint32_t key;
        Index index;
    };
    struct Slot {
        std::uint32_t key;
        Index start;  // the key's first position in entries_; kNone: a free slot
    };

    // Orders the entries by key, and by index among equal keys: the entries
    // come in index order, so a stable sort by key alone gives that order.
    // The offsets come in file order already, and cost only the check.
    void SortByKey() { StableSortByKey32(entries_, [](const Entry& e) { return e.key; }); }

    std::size_t Hash(std::uint32_t key) const { return (static_cast<std::uint64_t>(key) * 0x9E3779B97F4A7C15ull >> 32) & mask_; }

    Index Find(Index s) {
        while (skip_[s] != s) {
            skip_[s] = skip_[skip_[s]];
            s = skip_[s];
        }
        return s;
    }

    std::vector<Entry> entries_;
    std::vector<Index> where_;  // sorted position of each index
    std::vector<Index> skip_;   // skip_[s] == s: position s not yet placed
    std::vector<Slot> slots_;
    std::size_t mask_ = 0;
};

// Offsets of the blocks, and how a pass tests a block against the chain's ends.
struct TLinks {
    std::vector<std::uint32_t> offset, next, prev;
    bool deleted = false;
};

// Every NUL byte as a space. Every byte is stored, changed or not, so that the
// compiler makes vector code of it: the text of a whole folder file passes here.
void NulsToSpaces(char* text, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i) {
        const char c = text[i];
        text[i] = c == '\0' ? ' ' : c;
    }
}

// From how many blocks on the chain indexes are built on threads of their own.
constexpr Index kIndexesAside = 65536;

// Runs the passes over the blocks and hands each finished chain, in chain
// order, to emit. Sets placed[i] for every block. Reports to progress (may be
// null) at every chain.
template <class Emit>
void AssembleChains(const TLinks& links, std::vector<std::uint8_t>& placed, corvane::TProgress* progress, Emit emit) {
    const Index n = static_cast<Index>(links.offset.size());
    if (n == 0) return;
    // The indexes of many blocks are built side by side: nothing else runs
    // before the first chain, so the other cores would idle meanwhile.
    // A thread that cannot be started leaves the index to this one.
    const auto build = [](const std::vector<std::uint32_t>* keys) {
        return TKeyIndex(keys != nullptr ? *keys : std::vector<std::uint32_t>{});
    };
    const auto start = [&build](bool aside, const std::vector<std::uint32_t>* keys) {
        if (aside) {
            try {
                return std::async(std::launch::async, build, keys);
            } catch (const std::system_error&) {
            }
        }
        return std::async(std::launch::deferred, build, keys);
    };
    std::future<TKeyIndex> next = start(n >= kIndexesAside, &links.next);
    std::future<TKeyIndex> prev = start(n >= kIndexesAside && links.deleted, links.deleted ? &links.prev : nullptr);
    TKeyIndex byOffset(links.offset);
    TKeyIndex byNext = next.get();
    TKeyIndex byPrev = prev.get();

    std::vector<Index> front;  // prepended blocks, latest last
    std::vector<Index> back;   // the first block, then the appended ones
    std::vector<Index> chain;
    Index head = 0, tail = 0, count = 0, lowest = 0;

    auto place = [&](Index j) {
        placed[j] = 1;
        byOffset.Remove(j);
        byNext.Remove(j);
        if (links.deleted) byPrev.Remove(j);
        ++count;
    };
    auto startChain = [&](Index k) {
        front.clear();
        back.assign(1, k);
        head = tail = k;
        place(k);
    };
    auto finishChain = [&]() {
        chain.assign(front.rbegin(), front.rend());
        chain.insert(chain.end(), back.begin(), back.end());
        emit(chain);
    };

    startChain(0);
    while (count < n) {
        const Index remembered = count;
        Index from = 0;
        for (;;) {
            // The next block of this pass that continues the tail, and the next
            // one that leads to the head; the earlier one is placed, and a
            // block passing both tests is appended.
            Index append = byOffset.First(links.next[tail], from);
            Index prepend = byNext.First(links.offset[head], from);
            if (links.deleted) {
                append = std::min(append, byPrev.First(links.offset[tail], from));
                prepend = std::min(prepend, byOffset.First(links.prev[head], from));
            }
            const Index j = std::min(append, prepend);
            if (j == kNone) break;
            if (append == j) {
                back.push_back(j);
                tail = j;
            } else {
                front.push_back(j);
                head = j;
            }
            place(j);
            from = j + 1;
            if (from >= n) break;
        }
        if (count == remembered) {
            corvane::CheckPoint(progress, links.deleted ? "Chaining deleted blocks" : "Chaining blocks", count, n);
            finishChain();
            while (placed[lowest] != 0) ++lowest;
            startChain(lowest);
        }
    }
    finishChain();
}

// Hands the chains' texts to a sink, in the order the chains are handed in.
// Blocks are collected into batches of about batchBytes of text; the blocks
// of a batch are read in file order through a few large reads (a read per
// block would cost a system call for every 512 bytes), then the batch goes
// out in chain order. A chain that fits a batch is never split between two,
// so the sink gets it in one piece.
template <class Part>
class TChainWriter {
public:
    // text and span are the reader's buffers, kept across batches and walks
    // (a fresh large buffer costs a page fault for every page it touches).
    TChainWriter(const corvane::fs::TReadFile* folder, std::int64_t scannedBytes, std::vector<Part>& parts,
                 std::uint32_t bodyStart, bool marked, std::size_t batchBytes, TChainSink& sink,
                 corvane::TProgress* progress, corvane::mem::TBigBuffer& text, corvane::mem::TBigBuffer& span)
        : folder_(folder), scannedBytes_(scannedBytes), parts_(parts), bodyStart_(bodyStart), marked_(marked),
          batchBytes_(std::max<std::size_t>(batchBytes, 1)), sink_(sink), progress_(progress), text_(text), span_(span) {
        // A batch ends within a block's text after batchBytes: room for it
        // all at once, so that the buffer never moves.
        text_.Reserve(batchBytes_ + 1024);
    }

    void Add(const std::vector<Index>& chain) {
        std::size_t chainBytes = 0;
        for (Index i : chain) chainBytes += TextBytes(i);
        chainBytes_.push_back(chainBytes);
        chainHeads_.push_back(chain.empty() ? 0 : parts_[chain.front()].Offset);
        if (pending_ > 0 && pending_ + chainBytes > batchBytes_) Flush();
        for (std::size_t k = 0; k < chain.size(); ++k) {
            blocks_.push_back(chain[k]);
            pending_ += TextBytes(chain[k]);
            // A chain longer than a batch goes out in parts, its file kept open.
            if (pending_ >= batchBytes_ && k + 1 < chain.size()) Flush();
        }
        chainEnds_.push_back(blocks_.size());
        // The first batches go out early and each is twice the last, up to a
        // whole batch: the sink gets to work at once instead of after the
        // first batch's blocks are all chained. Chains are split only by the
        // whole batch's size, as before.
        if (pending_ >= std::min(firstBatches_, batchBytes_)) {
            Flush();
            firstBatches_ = std::min(firstBatches_ * 2, batchBytes_);
        }
    }

    void Finish() { Flush(); }

private:
    static constexpr std::uint64_t kReadSpan = std::uint64_t{4} << 20;
    static constexpr std::uint64_t kGap = 8192;  // read over gaps up to this size
    static constexpr std::string_view kMarker = "[??]";

    struct Piece {
        std::uint64_t from;  // first body byte in the folder file
        std::size_t to;      // where its text goes in the batch
        std::size_t length;
    };

    std::size_t TextBytes(Index i) const { return parts_[i].DataLength + (marked_ ? kMarker.size() : 0); }

    void Flush() {
        if (blocks_.empty() && chainEnds_.empty()) return;
        // Lay the batch out: each block's text, after its marker, in chain order.
        std::vector<Piece> pieces;
        pieces.reserve(blocks_.size());
        std::size_t at = 0;
        for (Index i : blocks_) {
            if (marked_) at += kMarker.size();
            pieces.push_back({static_cast<std::uint64_t>(parts_[i].Offset) + bodyStart_, at, parts_[i].DataLength});
            at += parts_[i].DataLength;
        }
        text_.Reserve(at);
        if (marked_)
            for (const Piece& p : pieces) std::memcpy(text_.data() + p.to - kMarker.size(), kMarker.data(), kMarker.size());
        ReadPieces(pieces);  // bytes past the end of the folder file as NUL
        NulsToSpaces(text_.data(), at);

        // Out in chain order: a chain's file is created before its first
        // bytes and closed after its last, so at most one is open at a time.
        std::size_t begin = 0, offset = 0, ends = 0;
        while (begin < blocks_.size() || ends < chainEnds_.size()) {
            const bool complete = ends < chainEnds_.size();
            const std::size_t end = complete ? chainEnds_[ends] : blocks_.size();
            std::size_t bytes = 0;
            for (std::size_t b = begin; b < end; ++b) bytes += TextBytes(blocks_[b]);
            if (!open_) {
                sink_.ChainStart(chainHeads_.front());
                chainHeads_.pop_front();
                sink_.BeginChain(chainBytes_.front());
                chainBytes_.pop_front();
                open_ = true;
            }
            sink_.ChainText(text_.data() + offset, bytes);
            for (std::size_t b = begin; b < end; ++b) parts_[blocks_[b]].Visited = 1;
            if (complete) {
                sink_.EndChain();
                open_ = false;
                ++ends;
            }
            offset += bytes;
            begin = end;
        }
        written_ += blocks_.size();
        corvane::CheckPoint(progress_, marked_ ? "Writing deleted messages" : "Writing messages",
                            static_cast<std::int64_t>(written_), static_cast<std::int64_t>(parts_.size()));
        blocks_.clear();
        chainEnds_.clear();
        pending_ = 0;
    }

    // Reads every piece's bytes into the batch, spans of nearby pieces at
    // once; what the folder file does not hold (past its end, or no file) is
    // set to NUL.
    void ReadPieces(std::vector<Piece>& pieces) {
        if (folder_ == nullptr) {
            for (const Piece& p : pieces) std::memset(text_.data() + p.to, 0, p.length);
            return;
        }
        std::sort(pieces.begin(), pieces.end(), [](const Piece& a, const Piece& b) { return a.from < b.from; });
        for (std::size_t i = 0; i < pieces.size();) {
            const std::uint64_t start = pieces[i].from;
            std::uint64_t end = start + pieces[i].length;
            std::size_t j = i + 1;
            while (j < pieces.size() && pieces[j].from <= end + kGap &&
                   std::max(end, pieces[j].from + pieces[j].length) - start <= kReadSpan) {
                end = std::max(end, pieces[j].from + pieces[j].length);
                ++j;
            }
            span_.Reserve(static_cast<std::size_t>(end - start));
            const std::uint64_t got =
                folder_->ReadAt(static_cast<std::int64_t>(start), span_.data(), static_cast<std::size_t>(end - start));
            // Short of what the scan saw: the file was cut meanwhile.
            if (scannedBytes_ >= 0 && start + got < std::min<std::uint64_t>(end, static_cast<std::uint64_t>(scannedBytes_)))
                throw EFolderChanged(folder_->Path());
            for (std::size_t k = i; k < j; ++k) {
                const std::uint64_t skip = pieces[k].from - start;
                const std::size_t n =
                    skip >= got ? 0 : static_cast<std::size_t>(std::min<std::uint64_t>(pieces[k].length, got - skip));
                // A batch of zero-length blocks has no text at all (its
                // buffer may have no storage), so nothing is copied then.
                if (n > 0) std::memcpy(text_.data() + pieces[k].to, span_.data() + skip, n);
                if (n < pieces[k].length) std::memset(text_.data() + pieces[k].to + n, 0, pieces[k].length - n);
            }
            i = j;
        }
    }

    const corvane::fs::TReadFile* folder_;
    std::int64_t scannedBytes_;  // the file's length as the scan saw it; -1: not known
    std::vector<Part>& parts_;
    std::uint32_t bodyStart_;
    bool marked_;
    std::size_t batchBytes_;
    TChainSink& sink_;
    corvane::TProgress* progress_;  // may be null
    bool open_ = false;             // the sink has a chain begun
    std::vector<Index> blocks_;          // the batch's chains, end to end
    std::vector<std::size_t> chainEnds_;  // where each chain ends in blocks_
    std::deque<std::size_t> chainBytes_;  // the text length of each chain not yet begun
    std::deque<std::uint32_t> chainHeads_;  // the offset of each such chain's first block
    std::size_t pending_ = 0;
    std::size_t firstBatches_ = std::size_t{256} << 10;  // the size of the next early batch
    std::size_t written_ = 0;  // blocks written so far, for the progress display
    corvane::mem::TBigBuffer& text_;  // the batch's text; only its first bytes are the batch's
    corvane::mem::TBigBuffer& span_;
};

// Creates and writes message files on a thread of its own, one file at a
// time, in the order they are queued, while the walk goes on. A file comes
// as one or more pieces on pages; its first piece creates it, its last closes
// it. A file that cannot be created or written ends the writing: the pieces
// queued after it are not written, and the failure is raised at the next
// Queue or Drain. One writer may serve several walks (GetEmails' live and
// deleted chains), so that the second walk runs while the first walk's files
// are still being written.
class TMessageFileWriter {
public:
    // progress (may be null) hears of the wait while the writer is behind.
    explicit TMessageFileWriter(corvane::TProgress* progress) : progress_(progress) {
        const std::string folder = Toutlookfile::GetTempFolder();
        prefix_ = corvane::fs::JoinTempName(folder, "");
        try {
            folder_ = std::make_unique<corvane::fs::TFolder>(folder);
        } catch (const ECorvaneError&) {
            // Each file is then made by its whole name, which reports the failure.
        }
        writer_ = std::thread([this] { Write(); });
    }
    ~TMessageFileWriter() {
        {
            std::lock_guard lock(mutex_);
            stopping_ = true;
            jobs_.clear();  // files not yet created are not made after a failure
            work_.notify_all();
        }
        writer_.join();
    }
    TMessageFileWriter(const TMessageFileWriter&) = delete;
    TMessageFileWriter& operator=(const TMessageFileWriter&) = delete;

    struct TPiece {
        std::shared_ptr<char> page;  // null for no bytes
        std::size_t offset = 0, size = 0;
    };

    // Queues a piece of the file name: create makes the file (its first
    // piece), close ends it (its last). Waits while too much text waits already.
    void Queue(const std::string& name, TPiece piece, bool create, bool close) {
        std::unique_lock lock(mutex_);
        WaitForRoom(lock, [&] { return waiting_ == 0 || waiting_ + piece.size <= kWaitingBytes || failure_; });
        if (failure_) std::rethrow_exception(failure_);
        waiting_ += piece.size;
        jobs_.push_back({create ? name : std::string(), std::move(piece), create, close});
        // The writer takes all that waits at once; it is woken only when it
        // has run out of work.
        if (writerIdle_) work_.notify_one();
    }
    // Waits until the files queued are written, and raises a failure.
    void Drain() {
        {
            std::unique_lock lock(mutex_);
            WaitForRoom(lock, [&] { return (jobs_.empty() && writerIdle_) || failure_; });
        }
        RaiseFailure();
    }
    void RaiseFailure() {
        std::lock_guard lock(mutex_);
        if (failure_) std::rethrow_exception(failure_);
    }
    // The pages the sinks copy the text onto: one pool for every walk, so
    // that pages once touched serve them all.
    corvane::read::TPagePool& Pages() { return *pool_; }

private:
    static constexpr std::size_t kWaitingBytes = std::size_t{32} << 20;
    static constexpr std::chrono::milliseconds kReportInterval{15};
    static constexpr const char* kWaitStage = "Writing message files";

    struct TJob {
        std::string name;  // for a piece that creates its file
        TPiece piece;
        bool create, close;
    };

    void Write() {
        std::deque<TJob> taken;
        std::unique_ptr<corvane::fs::TWriteFile> file;  // the file being written
        for (;;) {
            {
                std::unique_lock lock(mutex_);
                writerIdle_ = true;
                room_.notify_all();  // Drain waits for the writer to be idle
                work_.wait(lock, [&] { return !jobs_.empty() || stopping_; });
                writerIdle_ = false;
                if (jobs_.empty()) return;
                taken.swap(jobs_);
            }
            std::exception_ptr failure;
            std::size_t done = 0;
            for (TJob& job : taken) {
                try {
                    if (job.create) file = Create(job.name);
                    if (job.piece.size > 0) file->Write(job.piece.page.get() + job.piece.offset, job.piece.size);
                    if (job.close) {
                        file->Close();
                        file.reset();
                    }
                } catch (...) {
                    failure = std::current_exception();
                    file.reset();
                    break;
                }
                done += job.piece.size;
                job.piece.page.reset();
            }
            taken.clear();
            std::lock_guard lock(mutex_);
            waiting_ -= std::min(waiting_, done);
            if (failure && !failure_) {
                failure_ = failure;
                jobs_.clear();
                waiting_ = 0;
            }
            room_.notify_all();
        }
    }
    // A fresh message file of that name. A free name in the temporary
    // folder is made through the folder held open (the system need not walk
    // the folder's path for each file); a message file an earlier read left
    // there is written anew in place; anything else of the name is replaced.
    std::unique_ptr<corvane::fs::TWriteFile> Create(const std::string& path) {
        if (folder_ && path.size() > prefix_.size() && path.compare(0, prefix_.size(), prefix_) == 0) {
            // The names of a read follow one another: after a name that was
            // taken, the next most likely is too.
            const std::string name = path.substr(prefix_.size());
            if (lastTaken_) {
                if (auto file = folder_->Rewrite(name)) return file;
            }
            if (auto file = folder_->CreateNew(name, corvane::fs::Readers::Owner)) {
                lastTaken_ = false;
                return file;
            }
            lastTaken_ = true;
            if (auto file = folder_->Rewrite(name)) return file;
        }
        return std::make_unique<corvane::fs::TWriteFile>(path, corvane::fs::Create::Fresh);
    }
    // Waits until the writer has made room (or is done); the walking thread
    // reports to its progress meanwhile, as at every step of its walk, so a
    // window waiting for the files stays alive.
    template <class Ready>
    void WaitForRoom(std::unique_lock<std::mutex>& lock, Ready ready) {
        while (!room_.wait_for(lock, kReportInterval, ready)) {
            if (progress_ == nullptr) continue;
            const auto waiting = static_cast<std::int64_t>(waiting_);
            lock.unlock();
            progress_->Report(kWaitStage, 0, waiting);
            lock.lock();
        }
    }

    corvane::TProgress* progress_;  // may be null
    bool lastTaken_ = false;        // the writer's: the last name was taken by an earlier read's file
    std::mutex mutex_;
    std::condition_variable work_, room_;
    std::deque<TJob> jobs_;
    std::size_t waiting_ = 0;
    bool writerIdle_ = false;  // the writer waits for work
    bool stopping_ = false;
    std::exception_ptr failure_;
    std::shared_ptr<corvane::read::TPagePool> pool_ = std::make_shared<corvane::read::TPagePool>();
    std::string prefix_;                            // the temporary folder, as the files' names begin
    std::unique_ptr<corvane::fs::TFolder> folder_;  // null: it could not be held open
    std::thread writer_;                            // started once the rest is ready
};

// The message-file writer: each chain into a fresh message file of its own,
// named after the prefix and the chain's number, its text also fed to the
// parser when there is one, so the files need not be read back.
//
// The chain's text is copied onto pages (short chains share one) and queued
// for the writer's thread; a piece is queued once the next one comes or the
// chain ends, so that the writer knows which piece closes the file.
class TMessageFileSink : public TChainSink {
public:
    TMessageFileSink(std::string prefix, TMessageParser* parser, TMessageFileWriter& writer)
        : prefix_(std::move(prefix)), parser_(parser), folder_(Toutlookfile::GetTempFolder()), writer_(writer) {}

    // What each chain gave, for matching its records with the index
    // afterwards: its first block, its length, and how many records the
    // parser held once it ended.
    struct TChainInfo {
        std::uint32_t Head = 0;
        std::int64_t Bytes = 0;
        std::size_t RecordsEnd = 0;
        bool FromIndex = false;
    };
    // Keep a TChainInfo per chain from now on; fromIndex marks the chains
    // of WalkChainsFrom.
    void KeepChains(bool fromIndex) {
        keepChains_ = true;
        fromIndex_ = fromIndex;
    }
    const std::vector<TChainInfo>& Chains() const { return chains_; }
    const TMessageFiles& Files() const { return files_; }

    void ChainStart(std::uint32_t head) override { head_ = head; }
    void BeginChain(std::size_t /*bytes*/) override {
        bytes_ = 0;
        writer_.RaiseFailure();
        files_.push_back(corvane::fs::JoinTempName(folder_, prefix_ + std::to_string(files_.size() + 1) + ".tmp"));
        if (parser_ != nullptr) parser_->BeginFile(files_.back());
        created_ = false;
        held_ = {};
    }
    // The parser may hold at most this many records (0: any number); past
    // them the read ends with ETooManyRecords naming limit.
    void SetRecordLimit(std::size_t held, std::size_t limit, std::string path) {
        held_limit_ = held;
        limit_ = limit;
        path_ = std::move(path);
    }
    void ChainText(const char* data, std::size_t size) override {
        bytes_ += static_cast<std::int64_t>(size);
        if (parser_ != nullptr) {
            // Fed in slices, so that the count is checked before a batch of
            // tiny messages has made millions of records.
            constexpr std::size_t kSlice = std::size_t{1} << 20;
            for (std::size_t at = 0; at < size; at += kSlice) {
                parser_->Feed(data + at, std::min(kSlice, size - at));
                if (limit_ != 0 && parser_->Held() > held_limit_) throw ETooManyRecords(path_, limit_);
            }
        }
        constexpr std::size_t kPage = corvane::read::TPagePool::kPageBytes;
        while (size > 0) {
            const std::size_t n = std::min(size, kPage);
            if (held_.size > 0) Send(false);
            if (!page_ || pageUsed_ + n > kPage) {
                page_ = writer_.Pages().Take();
                pageUsed_ = 0;
            }
            std::memcpy(page_.get() + pageUsed_, data, n);
            held_ = {page_, pageUsed_, n};
            pageUsed_ += n;
            data += n;
            size -= n;
        }
    }
    void EndChain() override {
        Send(true);
        if (parser_ != nullptr) parser_->EndFile();
        if (keepChains_) chains_.push_back({head_, bytes_, parser_ != nullptr ? parser_->Held() : 0, fromIndex_});
    }
    // The names in creation order; the writer may still be writing them.
    TMessageFiles Take() { return std::move(files_); }

private:
    void Send(bool close) {
        writer_.Queue(files_.back(), std::move(held_), !created_, close);
        created_ = true;
        held_ = {};
    }

    std::string prefix_;
    TMessageParser* parser_;  // may be null
    std::size_t held_limit_ = 0, limit_ = 0;
    std::string path_;
    std::string folder_;
    TMessageFileWriter& writer_;
    TMessageFiles files_;
    bool created_ = false;                // the chain's file has its first piece queued
    TMessageFileWriter::TPiece held_;     // the chain's latest piece, not yet queued
    std::shared_ptr<char> page_;
    std::size_t pageUsed_ = 0;
    std::uint32_t head_ = 0;
    std::int64_t bytes_ = 0;
    bool keepChains_ = false, fromIndex_ = false;
    std::vector<TChainInfo> chains_;
};

// The records of the chains as the index knows them (IndexMatch.h); records
// holds every record the parser gave for those chains, in order.
TEmailArray MatchWithIndex(TEmailArray records, const TMessageFileSink& files, const TIndexMatcher& matcher) {
    TEmailArray out;
    out.reserve(records.size());
    std::size_t from = 0, number = 0;
    for (const auto& chain : files.Chains()) {
        const std::size_t to = std::min(chain.RecordsEnd, records.size());
        if (chain.FromIndex) {
            TEmailArray mine(std::make_move_iterator(records.begin() + static_cast<std::ptrdiff_t>(from)),
                             std::make_move_iterator(records.begin() + static_cast<std::ptrdiff_t>(to)));
            matcher.WholeFromIndex(mine, chain.Head, files.Files()[number], chain.Bytes);
            for (TEmail& e : mine) out.push_back(std::move(e));
        } else {
            const std::size_t start = out.size();
            for (std::size_t i = from; i < to; ++i) out.push_back(std::move(records[i]));
            matcher.Attach(out.data() + start, out.data() + out.size(), chain.Head, true);
        }
        from = to;
        ++number;
    }
    for (std::size_t i = from; i < records.size(); ++i) out.push_back(std::move(records[i]));
    return out;
}

template <class Part>
void Walk(std::vector<Part>& parts, const TLinks& links, TChainWriter<Part> writer, corvane::TProgress* progress) {
    std::vector<std::uint8_t> placed(parts.size(), 0);
    AssembleChains(links, placed, progress, [&](const std::vector<Index>& chain) { writer.Add(chain); });
    writer.Finish();
}

TLinks LinksOf(const TMessagePartArray& parts) {
    TLinks links;
    links.offset.reserve(parts.size());
    links.next.reserve(parts.size());
    for (const TMessagePart& part : parts) {
        links.offset.push_back(part.Offset);
        links.next.push_back(part.NextOffset);
    }
    return links;
}

TLinks LinksOf(const TDelMessagePartArray& parts) {
    TLinks links;
    links.deleted = true;
    links.offset.reserve(parts.size());
    links.next.reserve(parts.size());
    links.prev.reserve(parts.size());
    for (const TDelMessagePart& part : parts) {
        links.offset.push_back(part.Offset);
        links.next.push_back(part.NextOffset);
        links.prev.push_back(part.PrevOffset);
    }
    return links;
}

}  // namespace

TMessageFiles Toutlookfile::BuildMessageFiles(TMessagePartArray& Parts) { return BuildLive(Parts, nullptr); }

TMessageFiles Toutlookfile::BuildDelMessageFiles(TDelMessagePartArray& Parts) { return BuildDeleted(Parts, nullptr); }

TMessageFiles Toutlookfile::BuildMessageFiles(TMessagePartArray& Parts, TMessageParser& Parser) {
    return BuildLive(Parts, &Parser);
}

TMessageFiles Toutlookfile::BuildDelMessageFiles(TDelMessagePartArray& Parts, TMessageParser& Parser) {
    return BuildDeleted(Parts, &Parser);
}

void Toutlookfile::SetWriteBatch(std::size_t Bytes) { writeBatch_ = Bytes; }

void Toutlookfile::WalkChains(TMessagePartArray& Parts, TChainSink& Sink) {
    Walk(Parts, LinksOf(Parts), TChainWriter<TMessagePart>(stream_.get(), scannedBytes_, Parts, 16, false, writeBatch_, Sink, progress_, batchText_, batchSpan_),
         progress_);
}

void Toutlookfile::WalkChains(TDelMessagePartArray& Parts, TChainSink& Sink) {
    Walk(Parts, LinksOf(Parts),
         TChainWriter<TDelMessagePart>(stream_.get(), scannedBytes_, Parts, 20, true, writeBatch_, Sink, progress_, batchText_,
                                       batchSpan_),
         progress_);
}

// Each chain from its first block on by the blocks' next offsets. A chain
// ends at an offset no live block has, at a block of its own chain (a loop)
// or at a block an earlier chain took: live messages never share blocks, so
// a hostile list of first blocks costs no more than one pass over them.
void Toutlookfile::WalkChainsFrom(TMessagePartArray& Parts, const std::vector<std::uint32_t>& FirstBlocks, TChainSink& Sink) {
    std::vector<std::uint32_t> offsets;
    offsets.reserve(Parts.size());
    for (const TMessagePart& part : Parts) offsets.push_back(part.Offset);
    const auto find = [&](std::uint32_t offset) -> Index {
        const auto at = std::lower_bound(offsets.begin(), offsets.end(), offset);
        return at != offsets.end() && *at == offset ? static_cast<Index>(at - offsets.begin()) : kNone;
    };
    std::vector<std::uint8_t> taken(Parts.size(), 0);
    TChainWriter<TMessagePart> writer(stream_.get(), scannedBytes_, Parts, 16, false, writeBatch_, Sink, progress_,
                                      batchText_, batchSpan_);
    std::vector<Index> chain;
    for (const std::uint32_t first : FirstBlocks) {
        chain.clear();
        for (Index i = find(first); i != kNone && taken[i] == 0; i = find(Parts[i].NextOffset)) {
            taken[i] = 1;
            chain.push_back(i);
            if (Parts[i].NextOffset == 0) break;
        }
        if (!chain.empty()) writer.Add(chain);
    }
    writer.Finish();
}

TMessageFiles Toutlookfile::BuildLive(TMessagePartArray& Parts, TMessageParser* Parser) {
    TMessageFileWriter writer(progress_);
    TMessageFileSink files("msg", Parser, writer);
    WalkChains(Parts, files);
    writer.Drain();
    return files.Take();
}

TMessageFiles Toutlookfile::BuildDeleted(TDelMessagePartArray& Parts, TMessageParser* Parser) {
    TMessageFileWriter writer(progress_);
    TMessageFileSink files("delmsg", Parser, writer);
    WalkChains(Parts, files);
    writer.Drain();
    return files.Take();
}

// One writer for both kinds, and the live chains first: their many short
// files keep the writer busy from the start, while the deleted blocks are
// chained. One pass over the file finds both kinds of block. The records come
// out as ever, live then deleted.
TEmailArray Toutlookfile::ReadChains(bool IncludeDeleted, bool WholeMessages) {
    TMessagePartArray liveParts;
    TDelMessagePartArray deletedParts;
    auto indexRead = ReadIndexAside();
    ScanAllParts(liveParts, IncludeDeleted ? &deletedParts : nullptr);
    const corvane::dbx::TMessageIndex index = indexRead.get();
    const TIndexMatcher matcher(&index);
    const bool fromIndex = WholeMessages && index.Usable;
    indexProblem_ = WholeMessages && !index.Usable ? index.Problem : std::string();
    const bool matching = index.Usable || !index.Entries.empty();

    TMessageFileWriter writer(progress_);
    TEmailArray result;
    if (!liveParts.empty()) {
        TMessageParser parser(false, WholeMessages);
        // A chain holds at least one block, so this is room for every
        // record, the deleted ones included, which are appended later.
        parser.Reserve(liveParts.size() + deletedParts.size());
        TMessageFileSink files("msg", &parser, writer);
        if (recordLimit_ != 0) files.SetRecordLimit(recordLimit_, recordLimit_, stream_->Path());
        if (fromIndex) {
            // The index's messages first, in its order; then the chains of
            // the blocks none of them took.
            std::vector<std::uint32_t> firsts;
            firsts.reserve(index.Entries.size());
            for (const auto& entry : index.Entries) firsts.push_back(entry->FirstBlock);
            files.KeepChains(true);
            WalkChainsFrom(liveParts, firsts, files);
            TMessagePartArray rest;
            for (const TMessagePart& part : liveParts)
                if (part.Visited == 0) rest.push_back(part);
            files.KeepChains(false);
            if (!rest.empty()) WalkChains(rest, files);
        } else {
            if (matching) files.KeepChains(false);
            WalkChains(liveParts, files);
        }
        result = parser.Take();
        if (matching) result = MatchWithIndex(std::move(result), files, matcher);
        if (recordLimit_ != 0 && result.size() > recordLimit_) throw ETooManyRecords(stream_->Path(), recordLimit_);
        TMessagePartArray().swap(liveParts);
    }
    if (!deletedParts.empty()) {
        TMessageParser parser(true);
        parser.Reserve(deletedParts.size());
        TMessageFileSink files("delmsg", &parser, writer);
        if (recordLimit_ != 0) {
            if (result.size() > recordLimit_) throw ETooManyRecords(stream_->Path(), recordLimit_);
            files.SetRecordLimit(recordLimit_ - result.size(), recordLimit_, stream_->Path());
        }
        WalkChains(deletedParts, files);
        TEmailArray deleted = parser.Take();
        matcher.NotInIndex(deleted.data(), deleted.data() + deleted.size());
        result.reserve(result.size() + deleted.size());
        for (TEmail& email : deleted) result.push_back(std::move(email));
    }
    writer.Drain();
    return result;
}
