// The carve: one pass over the image that keeps the block headers, then the
// grouping by base, the joins, and the writing of the folder files.

#include "carve/Carve.h"

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <exception>
#include <filesystem>
#include <functional>
#include <limits>
#include <memory>
#include <mutex>
#include <numeric>
#include <thread>
#include <unordered_map>
#include <utility>

#include "carve/SelfIndex.h"
#include "outlookfile/KeySort.h"
#include "platform/Errors.h"
#include "platform/Files.h"
#include "platform/ImageFiles.h"
#include "platform/Memory.h"
#include "progress/Progress.h"
#include "utf8/Utf8.h"

namespace corvane::carve {
namespace {

// --- The block headers (the folder file's own layout) ----------------------
// A block is 0x210 bytes: self offset, body size, then for a live block
// (body size 0x200) its text length and next offset, for a deleted one (body
// size 0x1FC) a word not read, next and previous offset; then the body.
constexpr std::uint32_t kLiveBody = 0x200;
constexpr std::uint32_t kDeletedBody = 0x1FC;
constexpr std::int64_t kBlockBytes = 0x210;
constexpr std::int64_t kLiveHeaderBytes = 16;     // where a live block's text begins
constexpr std::int64_t kDeletedHeaderBytes = 20;  // the most header bytes a candidate needs
// The folder file's header: its first 16 bytes (CF AD 12 FE and the start of
// the folder class id), and the header's length, which no block overlaps.
constexpr unsigned char kFileSignature[16] = {0xCF, 0xAD, 0x12, 0xFE, 0xC5, 0xFD, 0x74, 0x6F,
                                              0x66, 0xE3, 0xD1, 0x11, 0x9A, 0x4E, 0x00, 0xC0};
constexpr std::int64_t kFileHeaderBytes = 0x24BC;

// --- The disk --------------------------------------------------------------
// A file starts on a sector: every base is a multiple of this.
constexpr std::int64_t kSector = 512;
// File systems give files whole clusters, in multiples of 4 KiB: a piece of
// a fragmented file starts and ends on such a boundary of the file's offsets.
constexpr std::int64_t kCluster = 4096;
// Blocks of one base further apart than this are written as separate
// ranges: what lies between them is most likely another file's.
constexpr std::int64_t kRangeGap = 64 << 10;
// Bytes kept before each read, so that a block that begins in the read
// before is seen whole; and zeros after the last read, for one cut off by the
// end of the image.
constexpr std::size_t kCarry = 1024;

inline std::uint32_t LoadU32(const unsigned char* p) {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

std::int64_t FloorTo(std::int64_t v, std::int64_t m) { return v >= 0 ? v / m * m : -((-v + m - 1) / m) * m; }
std::int64_t CeilTo(std::int64_t v, std::int64_t m) { return -FloorTo(-v, m); }

// Whether a text begins with a header line: a field name of printable
// characters other than the colon, then a colon.
bool BeginsWithHeaderLine(const unsigned char* text, std::size_t n) {
    std::size_t i = 0;
    while (i < n && i < 77 && text[i] > 32 && text[i] < 127 && text[i] != ':') ++i;
    return i > 0 && i < n && text[i] == ':';
}

// A list of n values from the carve's pool.
template <class T>
mem::TBigVector<T> PoolList(mem::TBigPool* pool, std::size_t n = 0, const T& value = T()) {
    return mem::TBigVector<T>(n, value, mem::TBigAllocator<T>(pool));
}

// One block header found: 24 bytes.
struct TCandidate {
    std::int64_t Pos = 0;  // image position
    std::uint32_t Self = 0, Next = 0, Prev = 0;
    std::uint16_t Length = 0;
    std::uint8_t Deleted = 0;
    std::uint8_t HeaderLine = 0;  // a live block whose text begins with a header line
    std::int64_t Base() const { return Pos - static_cast<std::int64_t>(Self); }
};

// What the joins and the counts read of a block's header: 12 bytes.
struct TLive {
    std::uint32_t Self = 0, Next = 0;
    std::uint16_t Length = 0;
    std::uint8_t HeaderLine = 0;
    static TLive Of(const TCandidate& c) { return {c.Self, c.Next, c.Length, c.HeaderLine}; }
};

// Gives a list's memory back to where it came from.
template <class T>
void Release(mem::TBigVector<T>& list) {
    list = mem::TBigVector<T>(list.get_allocator());
}

// A list that the scan grows (the candidates in the order found, and
// beside them their bases), in chunks of big buffers: growing never copies
// it, and their pages are large ones (fresh memory costs a page fault per
// page, a cost that on some machines exceeds the work on it). The chunks
// are mappings of their own, not the pool's: once grouped, the list goes
// back to the system, where the pool could not have joined its chunks into
// ranges for the longer lists after it.
template <class T>
class TScanList {
public:
    TScanList() = default;
    void push_back(const T& v) {
        if (size_ % kPerChunk == 0) {
            chunks_.push_back(mem::TBigVector<T>());
            chunks_.back().reserve(kPerChunk);
        }
        chunks_.back().push_back(v);
        ++size_;
    }
    std::size_t size() const { return size_; }
    const T& operator[](std::size_t i) const { return chunks_[i / kPerChunk][i % kPerChunk]; }
    // Calls f with every element, in order.
    template <class F>
    void ForEach(F f) const {
        for (const auto& chunk : chunks_)
            for (const T& v : chunk) f(v);
    }
    // Gives the memory back to the system.
    void Release() {
        chunks_.clear();
        size_ = 0;
    }

private:
    // A chunk fills one large page.
    static constexpr std::size_t kPerChunk = (std::size_t{2} << 20) / sizeof(T);
    std::vector<mem::TBigVector<T>> chunks_;
    std::size_t size_ = 0;
};
using TCandidates = TScanList<TCandidate>;

// --- The image: its inputs read one after the other as one ------------------
class TImage {
public:
    explicit TImage(const std::vector<std::string>& paths) {
        std::int64_t at = 0;
        for (const std::string& path : paths) {
            files_.push_back(std::make_unique<fs::TImageFile>(path));
            starts_.push_back(at);
            if (!files_.back()->Seekable()) seekable_ = false;
            at = files_.back()->Size() >= 0 && at >= 0 ? at + files_.back()->Size() : -1;
        }
        size_ = seekable_ ? at : -1;
    }
    bool Seekable() const { return seekable_; }
    // Whether ReadAt may be called from several threads at once.
    bool ReadsAtOnce() const {
        return std::all_of(files_.begin(), files_.end(), [](const auto& f) { return f->ReadsAtOnce(); });
    }
    std::int64_t Size() const { return size_; }  // -1: known at the end of the scan
    // The next n bytes, across inputs; fewer only at the end.
    std::size_t ReadNext(unsigned char* out, std::size_t n) {
        std::size_t done = 0;
        while (done < n && current_ < files_.size()) {
            const std::size_t got = files_[current_]->Read(out + done, n - done);
            done += got;
            if (done < n) ++current_;
        }
        return done;
    }
    // See TImageFile::WillRead; across inputs.
    void WillRead(std::int64_t offset, std::size_t n) const {
        for (std::size_t i = 0; i < files_.size(); ++i) {
            const std::int64_t start = starts_[i], end = start + files_[i]->Size();
            const std::int64_t from = std::max(offset, start), to = std::min(offset + static_cast<std::int64_t>(n), end);
            if (from < to) files_[i]->WillRead(from - start, static_cast<std::size_t>(to - from));
        }
    }
    std::size_t ReadAt(std::int64_t offset, unsigned char* out, std::size_t n) const {
        std::size_t done = 0;
        for (std::size_t i = 0; i < files_.size() && done < n; ++i) {
            const std::int64_t start = starts_[i], end = start + files_[i]->Size();
            const std::int64_t at = offset + static_cast<std::int64_t>(done);
            if (at < start || at >= end) continue;
            const std::size_t want = static_cast<std::size_t>(std::min<std::int64_t>(end - at, n - done));
            const std::size_t got = files_[i]->ReadAt(at - start, out + done, want);
            done += got;
            if (got < want) break;
        }
        return done;
    }

private:
    std::vector<std::unique_ptr<fs::TImageFile>> files_;
    std::vector<std::int64_t> starts_;
    std::size_t current_ = 0;
    bool seekable_ = true;
    std::int64_t size_ = -1;
};

// --- Work shared with a second thread ---------------------------------------
// Runs first here and, when shared, second on a thread of its own at the same
// time; raises what first raised, else what second raised.
template <class F, class G>
void AtOnce(bool shared, F first, G second) {
    if (!shared) {
        first();
        second();
        return;
    }
    std::exception_ptr failed;
    std::thread other([&] {
        try {
            second();
        } catch (...) {
            failed = std::current_exception();
        }
    });
    try {
        first();
    } catch (...) {
        other.join();
        throw;
    }
    other.join();
    if (failed) std::rethrow_exception(failed);
}

// --- The reader thread -----------------------------------------------------
// Fills the read buffers in turn while the calling thread filters the ones
// filled before; stops at the end, on a failure (kept for the filter) or
// when told to.
class TReadAhead {
public:
    struct TChunk {
        std::size_t Slot = 0;
        std::int64_t Start = 0;
        std::size_t Length = 0;
        bool Last = false;
    };

    TReadAhead(TImage& image, std::size_t chunkBytes, std::size_t chunks, mem::TBigPool* pool)
        : image_(image), chunkBytes_(chunkBytes) {
        for (std::size_t i = 0; i < chunks; ++i) {
            slots_.emplace_back(kCarry + chunkBytes + kCarry, pool);
            free_.push_back(i);
        }
        thread_ = std::thread([this] { Run(); });
    }
    ~TReadAhead() {
        {
            std::lock_guard lock(mutex_);
            stop_ = true;
        }
        changed_.notify_all();
        thread_.join();
    }
    TReadAhead(const TReadAhead&) = delete;
    TReadAhead& operator=(const TReadAhead&) = delete;

    // The memory of a slot: kCarry bytes before the chunk, the chunk, kCarry after.
    unsigned char* SlotData(std::size_t slot) { return reinterpret_cast<unsigned char*>(slots_[slot].data()); }

    // The next chunk in image order; raises what the reader met.
    TChunk Take() {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [this] { return !filled_.empty() || error_; });
        if (filled_.empty()) std::rethrow_exception(error_);
        TChunk chunk = filled_.front();
        filled_.pop_front();
        return chunk;
    }
    void Give(std::size_t slot) {
        {
            std::lock_guard lock(mutex_);
            free_.push_back(slot);
        }
        changed_.notify_all();
    }

private:
    void Run() {
        std::int64_t at = 0;
        try {
            for (;;) {
                std::size_t slot = 0;
                {
                    std::unique_lock lock(mutex_);
                    changed_.wait(lock, [this] { return stop_ || !free_.empty(); });
                    if (stop_) return;
                    slot = free_.front();
                    free_.pop_front();
                }
                unsigned char* data = SlotData(slot) + kCarry;
                const std::size_t got = image_.ReadNext(data, chunkBytes_);
                TChunk chunk{slot, at, got, got < chunkBytes_};
                at += static_cast<std::int64_t>(got);
                {
                    std::lock_guard lock(mutex_);
                    filled_.push_back(chunk);
                }
                changed_.notify_all();
                if (chunk.Last) return;
            }
        } catch (...) {
            std::lock_guard lock(mutex_);
            error_ = std::current_exception();
            changed_.notify_all();
        }
    }

    TImage& image_;
    std::size_t chunkBytes_;
    std::vector<mem::TBigBuffer> slots_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<std::size_t> free_;
    std::deque<TChunk> filled_;
    bool stop_ = false;
    std::exception_ptr error_;
    std::thread thread_;
};

// --- The filter ------------------------------------------------------------
// Where the blocks of a stream go while it is read: it cannot be read again.
class TSpool {
public:
    TSpool() : file_(fs::CreateScratchFile()) {}
    void Put(const unsigned char* block) {
        if (buffer_.size() + kBlockBytes > kBatch) Flush();
        buffer_.insert(buffer_.end(), block, block + kBlockBytes);
    }
    void Flush() {
        if (!buffer_.empty()) file_.Writer->Write(buffer_.data(), buffer_.size());
        buffer_.clear();
    }
    // The block found n-th.
    void Get(std::size_t n, unsigned char* out) const {
        const std::size_t got =
            file_.Reader->ReadAt(static_cast<std::int64_t>(n) * kBlockBytes, out, static_cast<std::size_t>(kBlockBytes));
        if (got != static_cast<std::size_t>(kBlockBytes)) throw EInOutError("The carve's scratch file was cut short.");
    }

private:
    static constexpr std::size_t kBatch = std::size_t{1} << 20;
    fs::TScratchFile file_;
    std::vector<unsigned char> buffer_;
};

struct TScan {
    TCandidates Candidates;            // in image order
    // The bases the candidates were found at, numbered as first met, and
    // per candidate the number of its base: what the grouping goes by.
    std::vector<std::int64_t> Bases;
    std::vector<std::uint32_t> BaseCounts;  // per base number, its candidates
    TScanList<std::uint32_t> BaseOf;
    std::vector<std::int64_t> Headers;   // image positions of folder file headers, ascending
    std::int64_t Bytes = 0;
    bool Full = false;  // it stopped at Bytes: more would not fit in the carve's memory
};

// What the filter found in one stretch of the image, in image order.
struct TFound {
    explicit TFound(mem::TBigPool* pool) : Candidates(PoolList<TCandidate>(pool)) {}
    mem::TBigVector<TCandidate> Candidates;
    std::vector<std::int64_t> Headers;  // image positions of folder file headers
    void Clear() {
        Candidates.clear();
        Headers.clear();
    }
};

class TFilter {
public:
    explicit TFilter(TFound& found) : found_(found) {}

    // Tests the positions of the image in [from, to) whose block headers lie in
    // data (which holds image byte p at data[p - origin], and zeros past the end).
    void Positions(const unsigned char* data, std::int64_t origin, std::int64_t from, std::int64_t to) {
        // The body-size word of position p is at p + 4; both sizes are below
        // 0x400, so four words at a time are compared with them.
        using V4 = std::uint32_t __attribute__((vector_size(16)));
        const V4 live = {kLiveBody, kLiveBody, kLiveBody, kLiveBody};
        const V4 del = {kDeletedBody, kDeletedBody, kDeletedBody, kDeletedBody};
        std::int64_t p = from;
        while (p + 64 <= to) {
            V4 a, b, c, d;
            const unsigned char* at = data + (p + 4 - origin);
            std::memcpy(&a, at, 16);
            std::memcpy(&b, at + 16, 16);
            std::memcpy(&c, at + 32, 16);
            std::memcpy(&d, at + 48, 16);
            const V4 hit = (a == live) | (a == del) | (b == live) | (b == del) | (c == live) | (c == del) |
                           (d == live) | (d == del);
            std::uint64_t lanes[2];
            std::memcpy(lanes, &hit, 16);
            if ((lanes[0] | lanes[1]) != 0)
                for (std::int64_t q = p; q < p + 64; q += 4) Consider(data + (q - origin), q);
            p += 64;
        }
        for (; p < to; p += 4) Consider(data + (p - origin), p);
    }

    // Looks for folder file headers at the sectors in [from, to).
    void Headers(const unsigned char* data, std::int64_t origin, std::int64_t from, std::int64_t to) {
        for (std::int64_t p = CeilTo(from, kSector); p < to; p += kSector)
            if (std::memcmp(data + (p - origin), kFileSignature, sizeof kFileSignature) == 0) found_.Headers.push_back(p);
    }

private:
    void Consider(const unsigned char* h, std::int64_t pos) {
        const std::uint32_t size = LoadU32(h + 4);
        if (size != kLiveBody && size != kDeletedBody) return;
        TCandidate c;
        c.Pos = pos;
        c.Self = LoadU32(h);
        if ((static_cast<std::uint64_t>(pos) - c.Self) % kSector != 0) return;
        c.Next = LoadU32(h + 12);
        if (size == kLiveBody) {
            const std::uint32_t length = LoadU32(h + 8);
            if (length > kLiveBody) return;
            c.Length = static_cast<std::uint16_t>(length);
            c.HeaderLine = BeginsWithHeaderLine(h + kLiveHeaderBytes, length) ? 1 : 0;
        } else {
            c.Prev = LoadU32(h + 16);
            if (c.Prev == c.Next) return;
            c.Deleted = 1;
            c.Length = static_cast<std::uint16_t>(kDeletedBody);
        }
        found_.Candidates.push_back(c);
    }

    TFound& found_;
};

// One chunk of the image: the image bytes [Start, End), held in a buffer of
// kCarry + chunk + kCarry bytes with image byte p at p - Origin(), and the
// kCarry bytes before Start in front (zeros before the image), and zeros after
// the end of the image. Filters the positions whose block lies whole in what
// is read up to End; for the last chunk, those with a whole header.
struct TChunkSpan {
    std::int64_t Start = 0, End = 0;
    bool Last = false;
    std::int64_t Origin() const { return Start - static_cast<std::int64_t>(kCarry); }
};

void FilterChunk(const unsigned char* buffer, const TChunkSpan& chunk, TFound& found) {
    TFilter filter(found);
    const std::int64_t from = std::max<std::int64_t>(chunk.Start - kBlockBytes, 0);
    const std::int64_t to = chunk.Last ? chunk.End - kDeletedHeaderBytes + 1 : chunk.End - kBlockBytes;
    if (to > from) filter.Positions(buffer, chunk.Origin(), from, to);
    filter.Headers(buffer, chunk.Origin(), chunk.Start, chunk.Last ? chunk.End - 15 : chunk.End);
}

// Takes what was found, stretch by stretch in image order, into the scan,
// and counts it for the front end.
class TGather {
public:
    // budget: what the lists of the blocks taken may take, through every phase.
    TGather(TScan& scan, TSpool* spool, TCarveCounts* counts, std::size_t budget)
        : scan_(scan), spool_(spool), counts_(counts), budget_(budget) {}

    // Whether the lists stay within the budget with found taken too (each of
    // its candidates counted as a base of its own, at most what it adds).
    bool Fits(const TFound& found) const {
        const std::size_t n = found.Candidates.size();
        return (scan_.Candidates.size() + n) * kBytesPerCandidate + (scan_.Bases.size() + n) * kBytesPerBase <= budget_;
    }

    // data holds image byte p at data[p - origin] for the blocks found (read
    // only with a spool, which keeps them).
    void Take(const TFound& found, const unsigned char* data, std::int64_t origin) {
        std::int64_t files = 0, messages = 0;
        for (const TCandidate& c : found.Candidates) {
            scan_.Candidates.push_back(c);
            if (spool_ != nullptr) spool_->Put(data + (c.Pos - origin));
            // Neighbours mostly share their base.
            if (!any_ || c.Base() != lastBase_) {
                any_ = true;
                lastBase_ = c.Base();
                const auto [it, fresh] = numbers_.try_emplace(lastBase_, static_cast<std::uint32_t>(scan_.Bases.size()));
                if (fresh) {
                    scan_.Bases.push_back(lastBase_);
                    scan_.BaseCounts.push_back(0);
                }
                lastNumber_ = it->second;
            }
            scan_.BaseOf.push_back(lastNumber_);
            if (++scan_.BaseCounts[lastNumber_] == 2) ++files;
            messages += c.HeaderLine;
        }
        scan_.Headers.insert(scan_.Headers.end(), found.Headers.begin(), found.Headers.end());
        if (counts_ != nullptr) {
            counts_->Blocks.fetch_add(static_cast<std::int64_t>(found.Candidates.size()), std::memory_order_relaxed);
            counts_->Files.fetch_add(files, std::memory_order_relaxed);
            counts_->Messages.fetch_add(messages, std::memory_order_relaxed);
        }
    }

private:
    // What a candidate and a base cost at most, in any phase of the carve
    // (measured: a listing of 3.2 million blocks peaked at 54.5 bytes a
    // block; a base adds its entry here and its place in the grouping's sort).
    static constexpr std::size_t kBytesPerCandidate = 64, kBytesPerBase = 96;
    TScan& scan_;
    TSpool* spool_;
    TCarveCounts* counts_;
    const std::size_t budget_;
    std::unordered_map<std::int64_t, std::uint32_t> numbers_;  // of the bases, in TScan::Bases
    bool any_ = false;  // a candidate taken: the last one's base and its number
    std::int64_t lastBase_ = 0;
    std::uint32_t lastNumber_ = 0;
};

// After each chunk taken: what the front end is told, and where a stop is heard.
void Scanned(TScan& scan, std::int64_t end, std::int64_t total, const TCarveOptions& options, TProgress* progress) {
    scan.Bytes = end;
    if (options.Counts != nullptr) options.Counts->Bytes.store(end, std::memory_order_relaxed);
    CheckPoint(progress, kCarveScanStage, end, std::max(total, end));
}

// A stream, or an image whose reads cannot be shared: one thread reads
// ahead while the calling thread filters.
void ScanAhead(TImage& image, std::size_t chunkBytes, const TCarveOptions& options, TGather& gather, TScan& scan,
               TProgress* progress, mem::TBigPool* pool) {
    TReadAhead ahead(image, chunkBytes, std::max<std::size_t>(options.Chunks, 2), pool);
    unsigned char carry[kCarry] = {};
    const std::int64_t total = std::max<std::int64_t>(image.Size(), 0);
    TFound found(pool);
    for (;;) {
        const TReadAhead::TChunk chunk = ahead.Take();
        unsigned char* slot = ahead.SlotData(chunk.Slot);
        std::memcpy(slot, carry, kCarry);  // image bytes [Start - kCarry, Start)
        const TChunkSpan span{chunk.Start, chunk.Start + static_cast<std::int64_t>(chunk.Length), chunk.Last};
        if (chunk.Last) std::memset(slot + kCarry + chunk.Length, 0, kCarry);
        found.Clear();
        FilterChunk(slot, span, found);
        if (!gather.Fits(found)) {
            scan.Full = true;
            break;
        }
        gather.Take(found, slot, span.Origin());
        if (chunk.Length >= kCarry) std::memcpy(carry, slot + chunk.Length, kCarry);
        ahead.Give(chunk.Slot);
        Scanned(scan, span.End, total, options, progress);
        if (chunk.Last) break;
    }
}

// An image that can be read at any offset by several threads at once: the
// calling thread and one of the carve's own each read a chunk and filter it
// straight away, while its bytes are fresh in that core's caches, the even
// chunks here and the odd ones there; the calling thread takes the finds in
// image order. (One thread reading and another filtering left the filter
// waiting for reads that the filter's own memory traffic slowed down.)
class TScanInTwo {
public:
    TScanInTwo(const TImage& image, std::size_t chunkBytes, std::size_t ahead, mem::TBigPool* pool)
        : image_(image), chunkBytes_(static_cast<std::int64_t>(chunkBytes)), ahead_(std::max<std::size_t>(ahead, 1)), pool_(pool) {
        const std::int64_t size = image.Size();
        chunks_ = size == 0 ? 1 : static_cast<std::size_t>((size + chunkBytes_ - 1) / chunkBytes_);
        for (std::size_t i = 0; i < ahead_; ++i) slots_.emplace_back(pool);
        if (chunks_ > 1) thread_ = std::thread([this] { Run(); });
    }
    ~TScanInTwo() {
        {
            std::lock_guard lock(mutex_);
            stop_ = true;
        }
        changed_.notify_all();
        if (thread_.joinable()) thread_.join();
    }
    TScanInTwo(const TScanInTwo&) = delete;
    TScanInTwo& operator=(const TScanInTwo&) = delete;

    void Scan(TGather& gather, TScan& scan, const TCarveOptions& options, TProgress* progress) {
        mem::TBigBuffer buffer(kCarry + static_cast<std::size_t>(chunkBytes_) + kCarry, pool_);
        TFound found(pool_);
        for (std::size_t c = 0; c < chunks_; ++c) {
            TChunkSpan span;
            if (c % 2 == 0) {
                found.Clear();
                span = ReadAndFilter(c, reinterpret_cast<unsigned char*>(buffer.data()), found);
                if (!gather.Fits(found)) {
                    scan.Full = true;
                    return;
                }
                gather.Take(found, nullptr, 0);
            } else {
                TSlot& slot = slots_[(c / 2) % ahead_];
                {
                    std::unique_lock lock(mutex_);
                    changed_.wait(lock, [&slot, c] { return slot.Chunk == c; });
                }
                if (slot.Error) std::rethrow_exception(slot.Error);
                span = slot.Span;
                if (!gather.Fits(slot.Found)) {
                    scan.Full = true;
                    return;
                }
                gather.Take(slot.Found, nullptr, 0);
                {
                    std::lock_guard lock(mutex_);
                    slot.Chunk = kFree;
                    ++taken_;
                }
                changed_.notify_all();
            }
            Scanned(scan, span.End, image_.Size(), options, progress);
            if (span.Last) break;
        }
    }

private:
    static constexpr std::size_t kFree = static_cast<std::size_t>(-1);
    static constexpr std::size_t kWillReadAhead = 2;  // chunks
    struct TSlot {
        explicit TSlot(mem::TBigPool* pool) : Found(pool) {}
        std::size_t Chunk = kFree;  // the chunk whose finds it holds
        TChunkSpan Span;
        TFound Found;
        std::exception_ptr Error;
    };

    TChunkSpan ReadAndFilter(std::size_t c, unsigned char* buffer, TFound& found) const {
        TChunkSpan span;
        span.Start = static_cast<std::int64_t>(c) * chunkBytes_;
        span.End = std::min(span.Start + chunkBytes_, image_.Size());
        const std::int64_t from = std::max<std::int64_t>(span.Origin(), 0);
        std::memset(buffer, 0, static_cast<std::size_t>(from - span.Origin()));
        const std::size_t want = static_cast<std::size_t>(span.End - from);
        // The two threads read alternate chunks, which a system's own reading
        // ahead may not take for reading in order: each asks for the chunk
        // after the next pair while it reads this one.
        image_.WillRead(span.Start + static_cast<std::int64_t>(kWillReadAhead) * chunkBytes_,
                        static_cast<std::size_t>(chunkBytes_));
        const std::size_t got = image_.ReadAt(from, buffer + (from - span.Origin()), want);
        span.Last = span.End == image_.Size();
        if (got < want) {  // the image grew shorter while it was read: it ends here
            span.End = std::max(span.Start, from + static_cast<std::int64_t>(got));
            span.Last = true;
        }
        if (span.Last) std::memset(buffer + (span.End - span.Origin()), 0, kCarry);
        FilterChunk(buffer, span, found);
        return span;
    }

    void Run() {
        mem::TBigBuffer buffer(kCarry + static_cast<std::size_t>(chunkBytes_) + kCarry, pool_);
        for (std::size_t c = 1, n = 0; c < chunks_; c += 2, ++n) {
            TSlot& slot = slots_[n % ahead_];
            {
                std::unique_lock lock(mutex_);
                changed_.wait(lock, [&] { return stop_ || n < taken_ + ahead_; });
                if (stop_) return;
            }
            slot.Found.Clear();
            slot.Error = nullptr;
            bool last = false;
            try {
                slot.Span = ReadAndFilter(c, reinterpret_cast<unsigned char*>(buffer.data()), slot.Found);
                last = slot.Span.Last;
            } catch (...) {
                slot.Error = std::current_exception();
                last = true;
            }
            {
                std::lock_guard lock(mutex_);
                slot.Chunk = c;
            }
            changed_.notify_all();
            if (last) return;
        }
    }

    const TImage& image_;
    const std::int64_t chunkBytes_;
    const std::size_t ahead_;  // chunks the thread may be ahead of the taking
    mem::TBigPool* const pool_;
    std::size_t chunks_ = 0;
    std::vector<TSlot> slots_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::size_t taken_ = 0;  // of the thread's chunks
    bool stop_ = false;
    std::thread thread_;
};

TScan ScanImage(TImage& image, const TCarveOptions& options, TSpool* spool, TProgress* progress, mem::TBigPool* pool) {
    TScan scan;
    // No read longer than the image (a small one needs no big buffers).
    std::int64_t chunk = CeilTo(static_cast<std::int64_t>(options.ChunkBytes), kCluster);
    if (image.Size() >= 0) chunk = std::min(chunk, CeilTo(image.Size() + 1, kCluster));
    const std::size_t chunkBytes = static_cast<std::size_t>(std::max(chunk, kCluster));
    // The read buffers (and what the filter finds in each) come off the top.
    const std::size_t buffers = (options.Chunks + 2) * (chunkBytes + 2 * kCarry);
    TGather gather(scan, spool, options.Counts, options.MemoryBytes > buffers ? options.MemoryBytes - buffers : 0);
    if (options.Threads > 1 && image.ReadsAtOnce()) {  // no spool: that is for streams
        TScanInTwo two(image, chunkBytes, std::max<std::size_t>(options.Chunks / 2, 1), pool);
        two.Scan(gather, scan, options, progress);
    } else {
        ScanAhead(image, chunkBytes, options, gather, scan, progress, pool);
    }
    if (spool != nullptr) spool->Flush();
    return scan;
}

// --- Grouping and joining --------------------------------------------------
struct TPiece {
    std::int64_t Base = 0;
    std::uint32_t First = 0, Count = 0;  // its kept blocks (as TAssembly numbers them), by self offset
    std::uint32_t Deleted = 0;           // how many of them are deleted blocks
    bool Header = false;                 // a folder file header at the base
    std::int64_t MinSelf = 0, MaxEnd = 0;  // the folder-file range its blocks (and header) span
    std::int64_t LastStart = 0;            // where its last block (or, without blocks, its header) begins
};

class TAssembly {
public:
    // shared: Join shares its lookups with a second thread.
    // candidates: Kept is wanted (the spool keeps the blocks by candidate).
    // pool: where its lists are taken from.
    TAssembly(TScan& scan, bool shared, bool candidates, mem::TBigPool* pool)
        : Kept(PoolList<std::uint32_t>(pool)),
          scan_(scan),
          pool_(pool),
          c_(scan.Candidates),
          shared_(shared),
          candidates_(candidates),
          selfs_(PoolList<std::uint32_t>(pool)),
          keptOwner_(PoolList<std::uint32_t>(pool)),
          blocks_(PoolList<TLive>(pool)),
          prevs_(PoolList<std::uint32_t>(pool)),
          keptAt_(PoolList<std::uint32_t>(pool)),
          nextOf_(PoolList<std::uint32_t>(pool)),
          pointed_(PoolList<std::uint8_t>(pool)),
          links_(PoolList<TLink>(pool)),
          rank_(PoolList<std::uint32_t>(pool)) {}

    std::int64_t Dropped = 0;
    // The kept blocks are numbered piece by piece, by self offset within a
    // piece; Kept: their candidate indexes (only if asked for).
    mem::TBigVector<std::uint32_t> Kept;
    std::vector<TPiece> Pieces;
    std::vector<std::uint32_t> Parent;   // union-find over pieces

    // Takes the scan's candidates: what it keeps of them is all that is read
    // after (their memory goes back to the system).
    void Group() {
        const std::size_t candidates = c_.size();
        // The per-block lists: room for every candidate grouped (made while
        // the candidates are ordered), written in place and cut to the kept ones.
        auto resizeKept = [this](std::size_t n) {
            if (candidates_) Kept.resize(n);
            selfs_.resize(n);
            keptOwner_.resize(n);
            blocks_.resize(n);
            prevs_.resize(n);
        };
        mem::TBigVector<std::uint32_t> order = PoolList<std::uint32_t>(pool_);
        {
            TBaseOrder bases = CountBases();
            AtOnce(shared_, [&] { resizeKept(bases.Grouped); }, [&] { order = ByBaseAndSelf(bases); });
        }
        scan_.BaseOf.Release();
        std::uint32_t kept = 0;
        std::vector<std::int64_t> headed;  // the bases of pieces with a header
        for (std::size_t i = 0; i < order.size();) {
            const std::int64_t base = c_[order[i]].Base();
            const bool header = std::binary_search(scan_.Headers.begin(), scan_.Headers.end(), base);
            TPiece piece;
            piece.Base = base;
            piece.Header = header;
            piece.First = kept;
            // Two headers of one base that overlap cannot both be blocks: the
            // later one lies in the earlier one's body. None lies in the file header.
            std::int64_t end = header ? kFileHeaderBytes : std::numeric_limits<std::int64_t>::min();
            const auto number = static_cast<std::uint32_t>(Pieces.size());  // if it is kept
            std::size_t j = i;
            for (; j < order.size(); ++j) {
                const TCandidate& c = c_[order[j]];
                if (c.Base() != base) break;
                if (static_cast<std::int64_t>(c.Self) < end) continue;
                piece.Deleted += c.Deleted;
                keptOwner_[kept] = number | (c.Deleted ? kDeletedBit : 0u);
                if (candidates_) Kept[kept] = order[j];
                selfs_[kept] = c.Self;
                blocks_[kept] = TLive::Of(c);
                prevs_[kept] = c.Prev;
                ++kept;
                end = static_cast<std::int64_t>(c.Self) + kBlockBytes;
            }
            piece.Count = kept - piece.First;
            if (piece.Count >= 2 || (header && piece.Count >= 1)) {
                piece.MinSelf = header ? 0 : selfs_[piece.First];
                piece.LastStart = selfs_[piece.First + piece.Count - 1];
                piece.MaxEnd = piece.LastStart + kBlockBytes;
                Pieces.push_back(piece);
                if (header) headed.push_back(base);
            } else {
                kept = piece.First;
            }
            i = j;
        }
        scan_.Candidates.Release();
        resizeKept(kept);
        // A header whose piece ends before the first block: a piece of its own,
        // to be joined to the piece that goes on at the next cluster.
        for (const std::int64_t h : scan_.Headers)
            if (!std::binary_search(headed.begin(), headed.end(), h)) {
                TPiece piece;
                piece.Base = h;
                piece.Header = true;
                piece.First = static_cast<std::uint32_t>(selfs_.size());
                piece.MaxEnd = kFileHeaderBytes;
                Pieces.push_back(piece);
            }
        Dropped = static_cast<std::int64_t>(candidates - selfs_.size());
        Parent.resize(Pieces.size());
        std::iota(Parent.begin(), Parent.end(), 0u);
        members_.resize(Pieces.size());
        for (std::uint32_t p = 0; p < Pieces.size(); ++p) members_[p] = {p};
    }

    void Join() {
        // Every kept block by self offset, to find who holds a link's target:
        // the offsets, and beside them each one's piece and kind, so that the
        // blocks of one offset are read in one place. Ties keep the kept order.
        {
            mem::TBigVector<std::uint32_t> counts = PoolList<std::uint32_t>(pool_);
            OrderBySelf(selfs_, keptAt_, counts);
            Release(counts);
            mem::TBigVector<TSelfEntry> sorted = PoolList<TSelfEntry>(pool_, keptAt_.size());
            for (std::size_t i = 0; i < keptAt_.size(); ++i) sorted[i] = {selfs_[keptAt_[i]], keptOwner_[keptAt_[i]]};
            selfIndex_ = TSelfIndexOf<TSelfEntry>(std::move(sorted));
        }
        // The links that leave their piece; the others only mark their target.
        pointed_.assign(2 * selfs_.size(), 0);
        nextOf_.assign(selfs_.size(), kNone);
        // The lookups, in no order of the memory they read, are most of the
        // time here: the two threads take the blocks in stretches, each the
        // next not taken (the time a stretch takes varies with where its
        // lists lie in memory), and the links are put in the order of the
        // stretches, as one pass lists them.
        const auto n = static_cast<std::uint32_t>(selfs_.size());
        constexpr std::uint32_t kStretch = 8192;
        const std::uint32_t stretches = (n + kStretch - 1) / kStretch;
        struct TMade {
            std::uint8_t Thread = 0;
            std::size_t From = 0, To = 0;  // in that thread's links
        };
        std::vector<TMade> made(stretches);
        std::atomic<std::uint32_t> taken{0};
        mem::TBigVector<TLink> mine = PoolList<TLink>(pool_), theirs = PoolList<TLink>(pool_);
        auto take = [&](std::uint8_t thread, mem::TBigVector<TLink>& links) {
            for (std::uint32_t s; (s = taken.fetch_add(1, std::memory_order_relaxed)) < stretches;) {
                made[s].Thread = thread;
                made[s].From = links.size();
                AddLinks(s * kStretch, std::min(n, (s + 1) * kStretch), links);
                made[s].To = links.size();
            }
        };
        AtOnce(shared_, [&] { take(0, mine); }, [&] { take(1, theirs); });
        std::size_t total = 0;
        for (const TMade& m : made) total += m.To - m.From;
        links_.reserve(total);
        for (const TMade& m : made) {
            const mem::TBigVector<TLink>& from = m.Thread == 0 ? mine : theirs;
            links_.insert(links_.end(), from.begin() + static_cast<std::ptrdiff_t>(m.From), from.begin() + static_cast<std::ptrdiff_t>(m.To));
        }
        Release(mine);
        Release(theirs);
        std::vector<std::uint32_t> byStart(Pieces.size());
        std::iota(byStart.begin(), byStart.end(), 0u);
        std::sort(byStart.begin(), byStart.end(),
                  [this](std::uint32_t a, std::uint32_t b) { return Pieces[a].MinSelf < Pieces[b].MinSelf; });

        for (bool joined = true; joined;) {
            joined = false;
            for (std::size_t l = 0; l < links_.size(); ++l) {
                // The targets lie anywhere: what a later link reads is asked for ahead.
                if (l + 8 < links_.size()) {
                    const TLink& later = links_[l + 8];
                    selfIndex_.Prefetch(later.At);
                    __builtin_prefetch(&Pointed(later.Dir, later.At));
                }
                TLink& link = links_[l];
                const std::uint32_t from = Find(link.From & ~kDeletedBit);
                std::uint32_t target = kNone;
                int choices = 0;
                const std::uint32_t self = selfIndex_[link.At];
                for (std::size_t i = link.At; i < selfIndex_.Size() && selfIndex_[i] == self && !link.Done; ++i) {
                    if ((OwnerAt(i) & kDeletedBit) != (link.From & kDeletedBit)) continue;
                    const std::uint32_t file = Find(OwnerAt(i) & ~kDeletedBit);
                    if (file == from) {
                        link.Done = true;  // joined meanwhile: the link is inside its folder file now
                        Pointed(link.Dir, i) = 1;
                        if (link.Dir == 0) nextOf_[link.Kept] = static_cast<std::uint32_t>(i);
                    } else if (Pointed(link.Dir, i) == 0 && !Overlap(from, file)) {
                        ++choices;
                        target = static_cast<std::uint32_t>(i);
                    }
                }
                if (link.Done || choices != 1) continue;
                Union(from, Find(OwnerAt(target) & ~kDeletedBit));
                Pointed(link.Dir, target) = 1;
                if (link.Dir == 0) nextOf_[link.Kept] = target;
                link.Done = true;
                joined = true;
            }
            std::erase_if(links_, [](const TLink& link) { return link.Done; });
            // A piece whose last block crosses a cluster boundary, or ends so
            // close to one that the next header would cross it, with no block
            // after it in its folder file: it goes on in the piece whose first
            // block lies just after, in the cluster that begins there.
            for (std::uint32_t p = 0; p < Pieces.size(); ++p) {
                const TPiece& piece = Pieces[p];
                std::int64_t boundary = FloorTo(piece.MaxEnd - 1, kCluster);
                if (boundary <= piece.LastStart) {
                    boundary = CeilTo(piece.MaxEnd, kCluster);
                    if (boundary - piece.MaxEnd >= kDeletedHeaderBytes) continue;
                }
                const std::uint32_t from = Find(p);
                const auto first = std::lower_bound(byStart.begin(), byStart.end(), piece.MaxEnd,
                                                    [this](std::uint32_t q, std::int64_t v) { return Pieces[q].MinSelf < v; });
                std::uint32_t target = kNone;
                int choices = 0;
                bool continued = false;
                for (auto it = first; it != byStart.end() && Pieces[*it].MinSelf < boundary + kCluster; ++it) {
                    const std::uint32_t file = Find(*it);
                    if (file == from) {
                        continued = true;
                        break;
                    }
                    if (Overlap(from, file)) continue;
                    ++choices;
                    target = file;
                }
                if (continued || choices != 1) continue;
                Union(from, target);
                joined = true;
            }
        }
        // What only the joins need goes back to the pool for the counts.
        Release(links_);
        Release(pointed_);
        Release(keptOwner_);
        Release(prevs_);
    }

    std::uint32_t Find(std::uint32_t p) {
        while (Parent[p] != p) p = Parent[p] = Parent[Parent[p]];
        return p;
    }

    // Once joined: each folder file's live blocks in the order of their self
    // offsets (one pass over all blocks, as each file's are spread among all).
    void OrderLive() {
        std::vector<std::uint32_t> rootOf(Pieces.size());
        for (std::uint32_t p = 0; p < Pieces.size(); ++p) rootOf[p] = Find(p);
        fileSlot_.assign(Pieces.size(), kNone);
        std::vector<std::size_t> sizes;
        for (std::uint32_t p = 0; p < Pieces.size(); ++p) {
            std::uint32_t& slot = fileSlot_[rootOf[p]];
            if (slot == kNone) {
                slot = static_cast<std::uint32_t>(sizes.size());
                sizes.push_back(0);
            }
            sizes[slot] += Pieces[p].Count;
        }
        // Each list as long as its file's blocks (the live ones are fewer),
        // written through a pointer per list, and cut to what it holds.
        live_.clear();
        std::vector<std::uint32_t*> first, to;
        for (const std::size_t n : sizes) {
            live_.push_back(PoolList<std::uint32_t>(pool_, n));
            first.push_back(live_.back().data());
        }
        to = first;
        std::vector<std::uint32_t> slotOf(Pieces.size());
        for (std::uint32_t p = 0; p < Pieces.size(); ++p) slotOf[p] = fileSlot_[rootOf[p]];
        // The places are written over the kept numbers they replace (that
        // list is not read after), a deleted block's left as it was.
        const auto blocks = static_cast<std::uint32_t>(selfIndex_.Size());
        for (std::uint32_t i = 0; i < blocks; ++i) {
            const std::uint32_t owner = OwnerAt(i);
            if (owner & kDeletedBit) continue;
            const std::uint32_t slot = slotOf[owner];
            const auto place = static_cast<std::uint32_t>(to[slot] - first[slot]);
            *to[slot]++ = std::exchange(keptAt_[i], place);
        }
        rank_ = std::move(keptAt_);
        for (std::size_t slot = 0; slot < live_.size(); ++slot) live_[slot].resize(static_cast<std::size_t>(to[slot] - first[slot]));
        selfIndex_ = TSelfIndexOf<TSelfEntry>(PoolList<TSelfEntry>(pool_));
    }
    // After OrderLive, for the folder file of root: the number of its live
    // blocks, and f(n, block, next) for the n-th by self, n in [from, to),
    // with next where its next block is among them (-1: none there). Nexts
    // lie anywhere, so ahead(next) is told some blocks before f, for the
    // caller to bring closer what it will touch there. Safe beside a call
    // for another file or range.
    std::size_t LiveCount(std::uint32_t root) const { return live_[fileSlot_[root]].size(); }
    // Its n-th live block by self, n below LiveCount.
    const TLive& LiveBlock(std::uint32_t root, std::size_t n) const { return blocks_[live_[fileSlot_[root]][n]]; }
    template <class F, class A>
    void ForEachLive(std::uint32_t root, std::size_t from, std::size_t to, F f, A ahead) const {
        const mem::TBigVector<std::uint32_t>& list = live_[fileSlot_[root]];
        const std::size_t size = std::min(to, list.size());
        // In batches: the places of a batch's next blocks are asked for, then
        // read (and ahead told), then f called for each.
        constexpr std::size_t kBatch = 64;
        std::int32_t nexts[kBatch];
        for (std::size_t batch = from; batch < size; batch += kBatch) {
            const std::size_t end = std::min(size, batch + kBatch);
            for (std::size_t n = batch; n < end; ++n)
                if (const std::uint32_t next = nextOf_[list[n]]; next != kNone) __builtin_prefetch(&rank_[next]);
            for (std::size_t n = batch; n < end; ++n) {
                const std::uint32_t next = nextOf_[list[n]];
                nexts[n - batch] = next == kNone ? -1 : static_cast<std::int32_t>(rank_[next]);
                ahead(nexts[n - batch]);
            }
            for (std::size_t n = batch; n < end; ++n) f(n, blocks_[list[n]], nexts[n - batch]);
        }
    }
    const std::vector<std::uint32_t>& Members(std::uint32_t root) const { return members_[root]; }
    std::uint32_t Self(std::uint32_t kept) const { return selfs_[kept]; }

private:
    static constexpr std::uint32_t kNone = 0xFFFFFFFFu;

    // The candidates ordered by base, and by self offset within a base. They
    // come in image order, and within one base a later position is a later
    // self offset: so each base's candidates, in the order they came, are
    // already in order, and only the bases (numbered by the scan) need
    // sorting. Those of a base with one candidate and no folder file header
    // are left out: they would be dropped. CountBases says where each base's
    // candidates go in that order (kLeftOut: nowhere) and how many are
    // grouped; ByBaseAndSelf lists them.
    static constexpr std::size_t kLeftOut = static_cast<std::size_t>(-1);
    struct TBaseOrder {
        std::vector<std::size_t> Start;  // per base number
        std::size_t Grouped = 0;
    };
    TBaseOrder CountBases() const {
        const std::vector<std::int64_t>& bases = scan_.Bases;
        const std::vector<std::uint32_t>& count = scan_.BaseCounts;
        std::vector<std::uint32_t> byBase;
        for (std::uint32_t b = 0; b < bases.size(); ++b)
            if (count[b] >= 2 || std::binary_search(scan_.Headers.begin(), scan_.Headers.end(), bases[b])) byBase.push_back(b);
        std::sort(byBase.begin(), byBase.end(), [&bases](std::uint32_t a, std::uint32_t b) { return bases[a] < bases[b]; });
        TBaseOrder order;
        order.Start.assign(bases.size(), kLeftOut);
        for (const std::uint32_t b : byBase) {
            order.Start[b] = order.Grouped;
            order.Grouped += count[b];
        }
        return order;
    }
    // The candidates' indexes in that order (bases.Start is used up).
    mem::TBigVector<std::uint32_t> ByBaseAndSelf(TBaseOrder& bases) const {
        mem::TBigVector<std::uint32_t> order = PoolList<std::uint32_t>(pool_, bases.Grouped);
        std::uint32_t k = 0;
        scan_.BaseOf.ForEach([&](std::uint32_t b) {
            if (bases.Start[b] != kLeftOut) order[bases.Start[b]++] = k;
            ++k;
        });
        return order;
    }

    // A block's piece, with kDeletedBit set for a deleted block.
    static constexpr std::uint32_t kDeletedBit = 0x80000000u;

    struct TLink {
        std::uint32_t From;  // the piece of the block it leaves, and its kind (as in the self index)
        std::uint32_t Kept;  // that block
        std::uint32_t At;    // the first of the kept blocks of the target's offset, by self
        std::uint8_t Dir;    // 0 next, 1 previous
        bool Done = false;   // joined, or inside its folder file
    };

    // The links of the kept blocks [from, to) into links; safe beside a call
    // for other blocks.
    void AddLinks(std::uint32_t from, std::uint32_t to, mem::TBigVector<TLink>& links) {
        // The targets lie anywhere: the lookups go in batches, each batch's
        // starts read (and what the finding reads there asked for) before
        // any is finished, so that their reads of memory overlap.
        constexpr std::uint32_t kBatch = 64;
        std::size_t starts[2][kBatch];
        for (std::uint32_t batch = from; batch < to; batch += kBatch) {
            const std::uint32_t end = std::min(to, batch + kBatch);
            auto start = [this](std::uint32_t target, std::uint8_t dir, std::size_t& at) {
                at = selfIndex_.Start(target);
                selfIndex_.Prefetch(at);
                if (at < selfIndex_.Size()) __builtin_prefetch(&Pointed(dir, at), 1);
            };
            for (std::uint32_t k = batch; k < end; ++k) {
                start(blocks_[k].Next, 0, starts[0][k - batch]);
                if (keptOwner_[k] & kDeletedBit) start(prevs_[k], 1, starts[1][k - batch]);
            }
            for (std::uint32_t k = batch; k < end; ++k) {
                AddLink(k, blocks_[k].Next, 0, starts[0][k - batch], links);
                if (keptOwner_[k] & kDeletedBit) AddLink(k, prevs_[k], 1, starts[1][k - batch], links);
            }
        }
    }

    // start: the self index's start for target.
    void AddLink(std::uint32_t from, std::uint32_t target, std::uint8_t dir, std::size_t start, mem::TBigVector<TLink>& links) {
        if (target == 0) return;
        // The kept blocks at that offset (of any folder file): one of the
        // link's own piece only marks its target; else the link leaves its
        // piece, and who may take it is asked each round.
        const std::size_t at = selfIndex_.LowerBoundFrom(target, start);
        if (at == selfIndex_.Size() || selfIndex_[at] != target) return;
        const std::uint32_t piece = keptOwner_[from] & ~kDeletedBit, kind = keptOwner_[from] & kDeletedBit;
        for (std::size_t i = at; i < selfIndex_.Size() && selfIndex_[i] == target; ++i)
            if ((OwnerAt(i) & ~kDeletedBit) == piece) {
                std::atomic_ref<std::uint8_t>(Pointed(dir, i)).store(1, std::memory_order_relaxed);
                if (dir == 0 && (OwnerAt(i) & kDeletedBit) == kind) nextOf_[from] = static_cast<std::uint32_t>(i);
                return;
            }
        links.push_back({piece | kind, from, static_cast<std::uint32_t>(at), dir});
    }

    void Union(std::uint32_t a, std::uint32_t b) {
        a = Find(a);
        b = Find(b);
        if (a == b) return;
        if (members_[a].size() < members_[b].size()) std::swap(a, b);
        Parent[b] = a;
        members_[a].insert(members_[a].end(), members_[b].begin(), members_[b].end());
        members_[b].clear();
        members_[b].shrink_to_fit();
        overlaps_.clear();
        lastKnown_ = false;
    }

    // Whether two pieces have blocks (or headers) that overlap in the file's offsets.
    bool PieceOverlap(std::uint32_t a, std::uint32_t b) const {
        const TPiece& x = Pieces[a];
        const TPiece& y = Pieces[b];
        if (x.MaxEnd <= y.MinSelf || y.MaxEnd <= x.MinSelf) return false;
        if (x.Header && y.Header) return true;
        std::uint32_t i = 0, j = 0;
        auto start = [this](const TPiece& p, std::uint32_t k) { return static_cast<std::int64_t>(selfs_[p.First + k]); };
        auto headerHit = [&](const TPiece& h, const TPiece& o) {
            return h.Header && o.Count > 0 && start(o, 0) < kFileHeaderBytes;
        };
        if (headerHit(x, y) || headerHit(y, x)) return true;
        while (i < x.Count && j < y.Count) {
            const std::int64_t si = start(x, i), sj = start(y, j);
            if (si < sj + kBlockBytes && sj < si + kBlockBytes) return true;
            if (si < sj) ++i;
            else ++j;
        }
        return false;
    }

    bool Overlap(std::uint32_t fileA, std::uint32_t fileB) {
        const std::uint64_t key = static_cast<std::uint64_t>(std::min(fileA, fileB)) << 32 | std::max(fileA, fileB);
        // Links come piece by piece, so the same two files are mostly asked
        // about many times in a row.
        if (lastKnown_ && key == lastKey_) return lastOverlap_;
        lastKnown_ = true;
        lastKey_ = key;
        if (const auto it = overlaps_.find(key); it != overlaps_.end()) return lastOverlap_ = it->second;
        bool overlap = false;
        for (std::uint32_t a : members_[fileA]) {
            for (std::uint32_t b : members_[fileB])
                if (PieceOverlap(a, b)) {
                    overlap = true;
                    break;
                }
            if (overlap) break;
        }
        overlaps_.emplace(key, overlap);
        return lastOverlap_ = overlap;
    }

    TScan& scan_;
    mem::TBigPool* const pool_;
    const TCandidates& c_;
    bool shared_;
    const bool candidates_;
    mem::TBigVector<std::uint32_t> selfs_;      // per kept block, its self offset (a lookup kept close)
    mem::TBigVector<std::uint32_t> keptOwner_;  // and its piece and kind (kDeletedBit), until joined
    // and what the links and the counts read of it (the candidates lie in
    // chunks, further away): its header; for a deleted one its previous block
    mem::TBigVector<TLive> blocks_;
    mem::TBigVector<std::uint32_t> prevs_;
    // The kept blocks' self offsets, ascending, each with its piece and kind
    // beside it (one place read per lookup): from the joins until OrderLive.
    TSelfIndexOf<TSelfEntry> selfIndex_{{}};
    std::uint32_t OwnerAt(std::size_t i) const { return selfIndex_.Entry(i).Tag; }
    mem::TBigVector<std::uint32_t> keptAt_;  // beside them, each block's kept number
    // Per kept block, where the next block of its chain is in the list by
    // self: in its folder file and of its kind; kNone: none found.
    mem::TBigVector<std::uint32_t> nextOf_;
    // Beside them, for next and for previous links (one list, of large
    // pages): a block of its folder file links to it.
    mem::TBigVector<std::uint8_t> pointed_;
    std::uint8_t& Pointed(std::uint8_t dir, std::size_t i) { return pointed_[dir * selfIndex_.Size() + i]; }
    mem::TBigVector<TLink> links_;
    mem::TBigVector<std::uint32_t> rank_;  // per live block by self: its place in its file's live blocks
    std::vector<mem::TBigVector<std::uint32_t>> live_;  // per folder file (root), its live blocks (kept numbers) by self
    std::vector<std::uint32_t> fileSlot_;               // per root, its list in live_
    std::vector<std::vector<std::uint32_t>> members_;
    std::unordered_map<std::uint64_t, bool> overlaps_;
    bool lastKnown_ = false;  // the last answer of Overlap, until the next join
    std::uint64_t lastKey_ = 0;
    bool lastOverlap_ = false;
};

// --- One reconstructed folder file ------------------------------------------
struct TSegment {
    std::uint32_t Piece = 0;
    std::uint32_t First = 0, Count = 0;  // its kept blocks
    bool Header = false;
    std::int64_t Lo = 0, Hi = 0;  // the folder-file range it is written to
    std::int64_t MaxSelf = 0;     // its last block's (or header's) offset
};

struct TFilePlan {
    std::uint32_t Root = 0;          // its folder file's piece in the assembly
    std::vector<TSegment> Segments;  // ascending, not overlapping
    TCarvedFile File;
    std::int64_t FirstImage = 0;
    // The file ranges whose bytes are surely the file's: a range up to the
    // end of the cluster of its last header, or to where the next range
    // goes on. What lies past that was read on as if the file went on there.
    std::vector<std::pair<std::int64_t, std::int64_t>> Sure;
};

TFilePlan PlanFile(const TAssembly& a, std::uint32_t root, const TImage& image, std::int64_t imageBytes) {
    TFilePlan plan;
    const bool exact = !image.Seekable();  // a stream: nothing but the blocks themselves
    for (const std::uint32_t p : a.Members(root)) {
        const TPiece& piece = a.Pieces[p];
        if (piece.Header) plan.File.HeaderOffset = piece.Base;
        plan.File.DeletedBlocks += piece.Deleted;
        plan.File.LiveBlocks += piece.Count - piece.Deleted;
        TSegment seg;
        seg.Piece = p;
        seg.First = piece.First;
        seg.Header = piece.Header && !exact;
        std::int64_t end = seg.Header ? kFileHeaderBytes : -1;
        auto close = [&] {
            if (seg.Header) seg.Lo = 0;
            else if (exact) seg.Lo = a.Self(seg.First);
            else seg.Lo = FloorTo(a.Self(seg.First), kCluster);
            seg.Hi = exact ? end : CeilTo(end, kCluster);
            seg.Lo = std::max(seg.Lo, -piece.Base);
            if (imageBytes >= 0) seg.Hi = std::min(seg.Hi, imageBytes - piece.Base);
            if (seg.Hi > seg.Lo) plan.Segments.push_back(seg);
        };
        for (std::uint32_t k = piece.First; k < piece.First + piece.Count; ++k) {
            const std::int64_t self = a.Self(k);
            if (end >= 0 && (exact ? self != end : self - end > kRangeGap)) {
                close();
                seg = TSegment{};
                seg.Piece = p;
                seg.First = k;
            }
            ++seg.Count;
            seg.MaxSelf = self;
            end = self + kBlockBytes;
        }
        close();
    }
    std::sort(plan.Segments.begin(), plan.Segments.end(), [](const TSegment& x, const TSegment& y) { return x.Lo < y.Lo; });
    // Where two ranges meet in one cluster, the boundary is the later one's
    // cluster, unless the earlier one's last header lies past it: then the
    // earlier one's last block ends it.
    for (std::size_t i = 0; i + 1 < plan.Segments.size(); ++i) {
        TSegment& x = plan.Segments[i];
        TSegment& y = plan.Segments[i + 1];
        if (x.Hi <= y.Lo) continue;
        const std::int64_t boundary = y.Lo >= x.MaxSelf + kLiveHeaderBytes ? y.Lo : std::min(x.MaxSelf + kBlockBytes, x.Hi);
        x.Hi = std::min(x.Hi, boundary);
        y.Lo = std::max(y.Lo, boundary);
    }
    std::erase_if(plan.Segments, [](const TSegment& s) { return s.Hi <= s.Lo; });
    std::int64_t at = 0;
    plan.FirstImage = std::numeric_limits<std::int64_t>::max();
    for (const TSegment& s : plan.Segments) {
        const std::int64_t base = a.Pieces[s.Piece].Base;
        plan.File.Pieces.push_back({base + s.Lo, base + s.Hi, s.Lo, s.Hi});
        if (s.Lo > at) plan.File.Holes.emplace_back(at, s.Lo);
        at = std::max(at, s.Hi);
        plan.FirstImage = std::min(plan.FirstImage, base + s.Lo);
    }
    plan.File.Size = at;
    for (std::size_t i = 0; i < plan.Segments.size(); ++i) {
        const TSegment& seg = plan.Segments[i];
        const bool continued = i + 1 < plan.Segments.size() && plan.Segments[i + 1].Lo == seg.Hi;
        plan.Sure.emplace_back(seg.Lo, continued ? seg.Hi : std::min(seg.Hi, FloorTo(seg.MaxSelf, kCluster) + kCluster));
    }
    return plan;
}

// A partial message: its blocks' offsets and text lengths, in chain order.
using TChainBlocks = std::vector<std::pair<std::uint32_t, std::uint16_t>>;

// Reads a block header of a reconstructed file at a file offset, through the
// image ranges that make the file; false where the file holds none there.
// Used for a header that lies across the end of a piece, whose bytes the scan
// saw only in part.
using THeaderReader = std::function<bool(std::uint32_t self, TCandidate& block)>;

// The block lists of a TMessageCount, kept from one folder file to the next.
struct TCountRoom {
    explicit TCountRoom(mem::TBigPool* pool) : Chain(PoolList<std::uint32_t>(pool)), Named(PoolList<std::uint8_t>(pool)) {}
    mem::TBigVector<std::uint32_t> Chain;
    mem::TBigVector<std::uint8_t> Named;
};

// Counts the messages of a file: chains of its live blocks, from each block
// no other block names as next. In two steps: Take the file's blocks (in
// ranges, which two threads may take at once), then Finish (on one thread,
// which may share the walks with a second).
class TMessageCount {
public:
    TMessageCount(const TAssembly& a, std::uint32_t root, TCarvedFile& file,
                  const std::vector<std::pair<std::int64_t, std::int64_t>>& sure, const THeaderReader& readHeader,
                  std::vector<TChainBlocks>* partial, TCountRoom& room)
        : a_(a),
          root_(root),
          file_(file),
          sure_(sure),
          readHeader_(readHeader),
          partial_(partial),
          chain_(room.Chain),
          named_(room.Named),
          n_(a.LiveCount(root)) {
        chain_.assign(n_, 0);
        named_.assign(n_, 0);
    }

    std::size_t Size() const { return n_; }

    // The file's live blocks [from, to) by self; missing gets those whose
    // next block is not among them, in order. Safe beside a call for another
    // range of the same file.
    void Take(std::size_t from, std::size_t to, std::vector<std::uint32_t>& missing) {
        std::size_t passed = 0;
        a_.ForEachLive(
            root_, from, to,
            [&](std::size_t i, const TLive& b, std::int32_t next) {
                if (next >= 0)
                    std::atomic_ref<std::uint8_t>(named_[static_cast<std::size_t>(next)]).store(1, std::memory_order_relaxed);
                else if (b.Next != 0)
                    missing.push_back(static_cast<std::uint32_t>(i));
                chain_[i] = static_cast<std::uint32_t>(next + 1) | FlagsOf(passed, b, next >= 0);
            },
            [this](std::int32_t next) {
                if (next >= 0) __builtin_prefetch(&named_[static_cast<std::size_t>(next)], 1);
            });
    }

    // The blocks the scan did not see whole, then the walks along the
    // chains. missing: what Take gave, for the ranges in order. shared: the
    // walks may go on two threads (see Separate).
    void Finish(const std::vector<std::uint32_t>& missing, bool shared) {
        if (readHeader_) ReadBack(missing);
        // The walks from the blocks no block names, in the order of their offsets.
        TTally tally[2];
        if (shared && n_ > 0 && Separate()) {
            // Walks that only read (a walk's mark would take the memory it
            // lies in from the other thread's cache): where they did not go
            // through every block, the walks mark the blocks again alone.
            const std::uint32_t middle = Block(n_ / 2).Self;
            AtOnce(
                true, [&] { WalkHeads(0, middle, tally[0], false); },
                [&] { WalkHeads(middle, kAllOffsets, tally[1], false); });
            if (tally[0].Seen + tally[1].Seen < Blocks()) {
                TTally again;
                WalkHeads(0, kAllOffsets, again, true);
            }
        } else {
            WalkHeads(0, kAllOffsets, tally[0], true);
        }
        Add(tally[0]);
        Add(tally[1]);
        if (seen_ < Blocks()) {  // chains that are loops
            TTally loops;
            InOrder(0, kAllOffsets, [&](std::size_t i) {
                if ((chain_[i] & kSeen) == 0) Walk(i, loops, true);
            });
            Add(loops);
        }
    }

private:
    // What walks found: counted into the file once they are done.
    struct TTally {
        std::size_t Complete = 0, Partial = 0;
        std::size_t Seen = 0;  // blocks walked through
        std::vector<TChainBlocks> Chains;  // of the partial messages, when they are kept
    };
    void Add(TTally& tally) {
        file_.Complete += tally.Complete;
        file_.Partial += tally.Partial;
        seen_ += tally.Seen;
        if (partial_ != nullptr)
            for (TChainBlocks& chain : tally.Chains) partial_->push_back(std::move(chain));
    }

    // Whether no two blocks name one block as next: then the chains from
    // the blocks no block names never meet, and their walks can go on two
    // threads at once (each block is named at most once exactly when the
    // blocks named are as many as the blocks that name one).
    bool Separate() const {
        std::size_t named = 0, naming = 0;
        for (std::size_t i = 0; i < Blocks(); ++i) {
            named += named_[i] != 0;
            naming += (chain_[i] & kPlace) != 0;
        }
        return named == naming;
    }

    static constexpr std::uint64_t kAllOffsets = std::uint64_t{1} << 32;  // past every offset
    // f(place) for the blocks whose offsets lie in [from, to), in the order
    // of their offsets: those seen by the scan and those read back, merged.
    template <class F>
    void InOrder(std::uint64_t from, std::uint64_t to, F f) const {
        std::size_t i = LowerBound(0, n_, from), e = LowerBound(n_, Blocks(), from);
        const std::size_t iEnd = LowerBound(i, n_, to), eEnd = LowerBound(e, Blocks(), to);
        while (i < iEnd || e < eEnd) f(e < eEnd && (i == iEnd || Block(e).Self < Block(i).Self) ? e++ : i++);
    }
    // Walks from the blocks in [from, to) of the offsets that no block names.
    void WalkHeads(std::uint64_t from, std::uint64_t to, TTally& tally, bool mark) {
        InOrder(from, to, [&](std::size_t i) {
            if (named_[i] == 0) Walk(i, tally, mark);
        });
    }

    // The file's live blocks by self (the assembly's), and after them, in
    // the order of their offsets too, the blocks the scan did not see whole
    // (read back): places [0, n_) and [n_, Blocks()).
    std::size_t Blocks() const { return n_ + extras_.size(); }
    const TLive& Block(std::size_t i) const { return i < n_ ? a_.LiveBlock(root_, i) : extras_[i - n_]; }

    // Per block, one word (what a walk along a chain reads): where its next
    // block is (its place + 1; 0: none there), and its flags:
    // whether it may stand in a whole chain (all its bytes the file's own;
    // full, unless it ends the chain; its next block there), whether its text
    // begins with a header line, and whether a walk has been there. A file's
    // offsets are 32 bits and its blocks 0x210 bytes apart, so the places,
    // with as many read back, fit in 28 bits. Whether a block names it as
    // next is kept apart (named_), as the ranges of two threads set it.
    static constexpr std::uint32_t kPlace = 0x0FFFFFFFu, kFits = 1u << 28, kHeaderLine = 1u << 29, kSeen = 1u << 31;

    // Whether the sure ranges (ascending) cover [from, to), passing over
    // those that end before first (asked in ascending order, one pass).
    bool Covered(std::size_t& first, std::int64_t from, std::int64_t to) const {
        while (first < sure_.size() && sure_[first].second <= from) ++first;
        for (std::size_t r = first; r < sure_.size(); ++r) {
            const auto& [start, end] = sure_[r];
            if (end <= from) continue;
            if (start > from) return false;
            from = end;
            if (from >= to) return true;
        }
        return false;
    }
    std::uint32_t FlagsOf(std::size_t& first, const TLive& b, bool nextThere) const {
        bool fits = Covered(first, b.Self, static_cast<std::int64_t>(b.Self) + kBlockBytes);
        if (b.Next != 0 && (b.Length != kLiveBody || !nextThere)) fits = false;
        return (fits ? kFits : 0u) | (b.HeaderLine ? kHeaderLine : 0u);
    }
    // The first place in [from, to) (in the order of offsets) whose offset is
    // not below self; to if none.
    std::size_t LowerBound(std::size_t from, std::size_t to, std::uint64_t self) const {
        for (std::size_t end = to; from < end;) {  // the blocks are in two places: a search by hand
            const std::size_t mid = from + (end - from) / 2;
            if (Block(mid).Self < self) from = mid + 1;
            else end = mid;
        }
        return from;
    }
    // The place of the block at offset self among those in [from, to); -1: none.
    std::int64_t FindIn(std::size_t from, std::size_t to, std::uint32_t self) const {
        from = LowerBound(from, to, self);
        return from < to && Block(from).Self == self ? static_cast<std::int64_t>(from) : -1;
    }

    // Blocks the scan did not see whole: headers across the start of a
    // range, and those the links name. They go after the file's own, in the
    // order of their offsets too.
    void ReadBack(const std::vector<std::uint32_t>& missing) {
        std::vector<TLive> extras;
        std::unordered_map<std::uint32_t, bool> tried;
        for (const TCarveRange& r : file_.Pieces)
            for (std::int64_t at = r.FileStart - kDeletedHeaderBytes + 4; at < r.FileStart; at += 4) {
                TCandidate extra;
                if (at > 0 && FindIn(0, n_, static_cast<std::uint32_t>(at)) < 0 &&
                    tried.emplace(static_cast<std::uint32_t>(at), true).second && readHeader_(static_cast<std::uint32_t>(at), extra))
                    extras.push_back(TLive::Of(extra));
            }
        auto readNext = [&](std::uint32_t next) {
            TCandidate extra;
            if (tried.emplace(next, true).second && readHeader_(next, extra)) extras.push_back(TLive::Of(extra));
        };
        for (const std::uint32_t i : missing) readNext(Block(i).Next);
        for (std::size_t e = 0; e < extras.size(); ++e)
            if (extras[e].Next != 0 && FindIn(0, n_, extras[e].Next) < 0) readNext(extras[e].Next);
        if (extras.empty()) return;
        // No extra shares an offset with a block or another extra.
        std::sort(extras.begin(), extras.end(), [](const TLive& x, const TLive& y) { return x.Self < y.Self; });
        extras_ = std::move(extras);
        chain_.resize(Blocks(), 0);
        named_.resize(Blocks(), 0);
        auto find = [&](std::uint32_t self) {
            const std::int64_t at = FindIn(0, n_, self);
            return at >= 0 ? at : FindIn(n_, Blocks(), self);
        };
        // Their links, and those of blocks whose next block is one of them.
        for (std::size_t i = 0; i < Blocks(); ++i) {
            const TLive& b = Block(i);
            if (i < n_ && (b.Next == 0 || (chain_[i] & kPlace) != 0)) continue;
            const std::int64_t next = b.Next == 0 ? -1 : find(b.Next);
            if (next < 0 && i < n_) continue;
            if (next >= 0) named_[static_cast<std::size_t>(next)] = 1;
            std::size_t first = 0;
            chain_[i] = static_cast<std::uint32_t>(next + 1) | FlagsOf(first, b, next >= 0);
        }
    }

    // mark: the blocks walked through are marked (else the walk only reads;
    // then no walk may meet another).
    void Walk(std::size_t head, TTally& tally, bool mark) {
        bool whole = (chain_[head] & kHeaderLine) != 0;
        // A text whose start lies across a cluster boundary: the scan saw only
        // the part before it; the file's own bytes tell.
        const std::uint32_t self = whole ? 0 : Block(head).Self;
        const std::int64_t text = static_cast<std::int64_t>(self) + kLiveHeaderBytes;
        TCandidate again;
        if (!whole && readHeader_ && FloorTo(text, kCluster) != FloorTo(text + 79, kCluster) && readHeader_(self, again))
            whole = again.HeaderLine != 0;
        TChainBlocks blocksOfChain;
        std::size_t steps = 0;
        for (std::uint32_t at = static_cast<std::uint32_t>(head) + 1; at != 0;) {
            const std::size_t i = at - 1;
            const std::uint32_t word = chain_[i];
            // A loop; unmarked, a walk longer than the blocks (which chains
            // that never meet cannot be) ends there all the same.
            if ((word & kSeen) || ++steps > Blocks()) {
                whole = false;
                break;
            }
            if (mark) chain_[i] = word | kSeen;
            ++tally.Seen;
            if (partial_ != nullptr) {
                const TLive& b = Block(i);
                blocksOfChain.emplace_back(b.Self, b.Length);
            }
            if ((word & kFits) == 0) whole = false;
            at = word & kPlace;  // 0 at the chain's end, or where its next block is missing
        }
        if (whole) {
            ++tally.Complete;
        } else {
            ++tally.Partial;
            if (partial_ != nullptr) tally.Chains.push_back(std::move(blocksOfChain));
        }
    }

    const TAssembly& a_;
    const std::uint32_t root_;
    TCarvedFile& file_;
    const std::vector<std::pair<std::int64_t, std::int64_t>>& sure_;
    const THeaderReader& readHeader_;
    std::vector<TChainBlocks>* partial_;
    std::vector<TLive> extras_;
    std::size_t seen_ = 0;  // blocks a walk has been through
    mem::TBigVector<std::uint32_t>& chain_;
    mem::TBigVector<std::uint8_t>& named_;  // per block: a block names it as next
    const std::size_t n_;                   // the blocks the scan saw
};

// --- Writing ---------------------------------------------------------------
std::string JsonText(const std::string& text) {
    const std::string utf8 = utf8::WellFormed(text);
    std::string out = "\"";
    for (const char ch : utf8) {
        const auto u = static_cast<unsigned char>(ch);
        if (ch == '"' || ch == '\\') {
            out += '\\';
            out += ch;
        } else if (u < 0x20) {
            static const char* const hex = "0123456789abcdef";
            out += "\\u00";
            out += hex[u >> 4];
            out += hex[u & 15];
        } else {
            out += ch;
        }
    }
    return out + '"';
}

std::string Join(const std::string& folder, const std::string& name) {
    if (!folder.empty() && (folder.back() == '/' || folder.back() == fs::kPathSeparator)) return folder + name;
    return folder + fs::kPathSeparator + name;
}

// Replaces path with text, written whole under path.part first.
void WriteWhole(const std::string& path, const std::string& text) {
    const std::string part = path + ".part";
    {
        fs::TWriteFile out(part, fs::Create::Fresh, fs::Readers::Everyone);
        out.Write(text.data(), text.size());
        out.Close();
    }
    fs::RenameFile(part, path);
}

class TWriter {
public:
    TWriter(const TImage& image, const TSpool* spool, TAssembly& a, TProgress* progress, std::int64_t total, mem::TBigPool* pool)
        : image_(image), spool_(spool), a_(a), progress_(progress), total_(total), buffer_(kCopy, pool) {}

    void Write(const TFilePlan& plan, const std::string& path) {
        const std::string part = path + ".part";
        fs::RemoveFile(part);
        try {
            fs::TPlacedFile out(part);
            auto* data = reinterpret_cast<unsigned char*>(buffer_.data());
            for (const TSegment& s : plan.Segments) {
                const std::int64_t base = a_.Pieces[s.Piece].Base;
                if (spool_ == nullptr) {
                    for (std::int64_t at = s.Lo; at < s.Hi;) {
                        const std::size_t n = static_cast<std::size_t>(std::min<std::int64_t>(kCopy, s.Hi - at));
                        const std::size_t got = image_.ReadAt(base + at, data, n);
                        if (got != n) throw EInOutError("The image was cut short while it was read.");
                        out.WriteAt(at, data, n);
                        at += static_cast<std::int64_t>(n);
                        Done(static_cast<std::int64_t>(n));
                    }
                } else {
                    for (std::uint32_t k = s.First; k < s.First + s.Count; ++k) {
                        spool_->Get(a_.Kept[k], data);
                        const std::int64_t self = a_.Self(k);
                        const std::int64_t n = std::min<std::int64_t>(kBlockBytes, s.Hi - self);
                        if (n > 0) out.WriteAt(self, data, static_cast<std::size_t>(n));
                        Done(kBlockBytes);
                    }
                }
            }
            out.Close(plan.File.Size);
            fs::RenameFile(part, path);
        } catch (...) {
            fs::RemoveFile(part);
            throw;
        }
    }

private:
    static constexpr std::size_t kCopy = std::size_t{4} << 20;
    void Done(std::int64_t n) {
        done_ += n;
        CheckPoint(progress_, kCarveWriteStage, done_, std::max(total_, done_));
    }

    const TImage& image_;
    const TSpool* spool_;
    TAssembly& a_;
    TProgress* progress_;
    std::int64_t total_, done_ = 0;
    mem::TBigBuffer buffer_;
};

// The text of a partial message: each block's text in chain order, read
// back from the reconstructed file.
void WritePartial(const std::string& dbx, const TChainBlocks& chain, const std::string& path) {
    fs::TReadFile in(dbx, fs::Share::All);
    std::string text;
    unsigned char body[kLiveBody];
    for (const auto& [self, length] : chain) {
        std::memset(body, 0, sizeof body);
        in.ReadAt(static_cast<std::int64_t>(self) + kLiveHeaderBytes, body, length);
        text.append(reinterpret_cast<const char*>(body), length);
    }
    WriteWhole(path, text);
}

bool SameFile(const std::string& a, const std::string& b) {
    fs::TFileIdentity x, y;
    return fs::IdentifyFile(a, true, x) && fs::IdentifyFile(b, true, y) && x == y;
}

}  // namespace

TCarveResult Carve(const std::vector<std::string>& images, const TCarveOptions& options, TProgress* progress) {
    TCarveResult result;
    result.Images = images;
    const bool writing = !options.OutFolder.empty();
    if (writing)
        for (const std::string& path : images) fs::RefuseFolderOnImageDevice(options.OutFolder, path);
    // The read buffers, then the lists of each phase: memory given back by
    // one serves the next.
    mem::TBigPool pool;
    TImage image(images);
    std::unique_ptr<TSpool> spool;
    if (writing && !image.Seekable()) spool = std::make_unique<TSpool>();
    TScan scan = ScanImage(image, options, spool.get(), progress, &pool);
    result.ImageBytes = scan.Bytes;
    result.MemoryFull = scan.Full;
    result.Candidates = static_cast<std::int64_t>(scan.Candidates.size());

    const bool shared = options.Threads > 1;
    TAssembly assembly(scan, shared, spool != nullptr, &pool);
    assembly.Group();
    assembly.Join();
    result.Dropped = assembly.Dropped;

    std::vector<std::uint32_t> roots;
    for (std::uint32_t p = 0; p < assembly.Pieces.size(); ++p)
        if (assembly.Find(p) == p) roots.push_back(p);
    // The files' ranges are planned while their blocks are listed by self.
    std::vector<TFilePlan> plans;
    AtOnce(
        shared, [&] { assembly.OrderLive(); },
        [&] {
            for (const std::uint32_t root : roots) {
                TFilePlan plan = PlanFile(assembly, root, image, scan.Bytes);
                if (plan.Segments.empty() || plan.File.LiveBlocks + plan.File.DeletedBlocks == 0) continue;
                plan.Root = root;
                plans.push_back(std::move(plan));
            }
        });
    // The files' messages are counted on two threads, the files shared out
    // by their blocks; the image is read by one of them at a time.
    std::vector<std::vector<TChainBlocks>> partials(plans.size());
    std::mutex reading;
    // split: its blocks taken in halves on both threads.
    auto count = [&](std::size_t i, TCountRoom& room, bool split) {
        const TCarvedFile& file = plans[i].File;
        // Through the image ranges of the file (a stream cannot be read again).
        THeaderReader reader;
        if (image.Seekable())
            reader = [&file, &image, &reading](std::uint32_t self, TCandidate& block) {
                // The header and the start of the text, as the reconstructed file holds them.
                unsigned char h[kLiveHeaderBytes + 80] = {};
                std::int64_t at = self;
                const std::int64_t end = at + static_cast<std::int64_t>(sizeof h);
                std::lock_guard lock(reading);
                for (const TCarveRange& r : file.Pieces) {
                    if (r.FileEnd <= at || r.FileStart > at) continue;
                    const std::int64_t n = std::min(end, r.FileEnd) - at;
                    if (image.ReadAt(r.ImageStart + (at - r.FileStart), h + (at - self), static_cast<std::size_t>(n)) !=
                        static_cast<std::size_t>(n))
                        return false;
                    at += n;
                    if (at >= end) break;
                }
                if (at < self + kLiveHeaderBytes) return false;
                if (LoadU32(h) != self || LoadU32(h + 4) != kLiveBody || LoadU32(h + 8) > kLiveBody) return false;
                block = TCandidate{};
                block.Self = self;
                block.Length = static_cast<std::uint16_t>(LoadU32(h + 8));
                block.Next = LoadU32(h + 12);
                block.HeaderLine = BeginsWithHeaderLine(h + kLiveHeaderBytes, std::min<std::size_t>(block.Length, 80)) ? 1 : 0;
                return true;
            };
        TMessageCount messages(assembly, plans[i].Root, plans[i].File, plans[i].Sure, reader,
                               options.Partial ? &partials[i] : nullptr, room);
        std::vector<std::uint32_t> missing, later;
        const std::size_t half = split ? messages.Size() / 2 : messages.Size();
        AtOnce(
            split, [&] { messages.Take(0, half, missing); }, [&] { messages.Take(half, messages.Size(), later); });
        missing.insert(missing.end(), later.begin(), later.end());
        messages.Finish(missing, split);
    };
    {
        std::vector<std::size_t> mine, theirs;
        std::size_t load[2] = {0, 0};
        for (std::size_t i = 0; i < plans.size(); ++i) {
            const bool second = shared && load[1] < load[0];
            (second ? theirs : mine).push_back(i);
            load[second ? 1 : 0] += plans[i].File.LiveBlocks;
        }
        // The last file of the side with more (if it has more than one, or
        // is alone) is taken by both, once the others are counted.
        std::size_t split = plans.size();
        std::vector<std::size_t>& more = load[1] > load[0] ? theirs : mine;
        if (shared && !more.empty() && (more.size() >= 2 || theirs.empty())) {
            split = more.back();
            more.pop_back();
        }
        TCountRoom room(&pool);
        AtOnce(
            shared && !theirs.empty(),
            [&] {
                for (const std::size_t i : mine) count(i, room, false);
            },
            [&] {
                TCountRoom other(&pool);
                for (const std::size_t i : theirs) count(i, other, false);
            });
        if (split < plans.size()) count(split, room, true);
    }
    std::vector<std::size_t> order(plans.size());
    std::iota(order.begin(), order.end(), std::size_t{0});
    std::sort(order.begin(), order.end(), [&plans](std::size_t x, std::size_t y) { return plans[x].FirstImage < plans[y].FirstImage; });
    for (std::size_t n = 0; n < order.size(); ++n) plans[order[n]].File.Number = static_cast<int>(n + 1);

    if (!writing) {
        for (const std::size_t i : order) result.Files.push_back(plans[i].File);
        return result;
    }

    std::error_code ec;
    std::filesystem::create_directories(options.OutFolder, ec);
    if (!std::filesystem::is_directory(options.OutFolder))
        throw EFCreateError(options.OutFolder, ec ? ec.message() : std::string("It is no folder."));
    result.MapPath = Join(options.OutFolder, "carve.json");
    std::int64_t total = 0;
    for (const TFilePlan& plan : plans)
        for (const TSegment& s : plan.Segments)
            total += spool ? static_cast<std::int64_t>(s.Count) * kBlockBytes : s.Hi - s.Lo;
    TWriter writer(image, spool.get(), assembly, progress, total, &pool);
    try {
        for (const std::size_t i : order) {
            TCarvedFile file = plans[i].File;
            file.Path = Join(options.OutFolder, "recovered-" + std::to_string(file.Number) + ".dbx");
            for (const std::string& input : images)
                if (input != "-" && SameFile(input, file.Path))
                    throw EFCreateError(file.Path, "It is an image being read.");
            writer.Write(plans[i], file.Path);
            if (options.Partial && !partials[i].empty()) {
                const std::string folder = Join(options.OutFolder, "partial");
                std::filesystem::create_directories(folder, ec);
                for (std::size_t k = 0; k < partials[i].size(); ++k)
                    WritePartial(file.Path, partials[i][k],
                                 Join(folder, "recovered-" + std::to_string(file.Number) + "-" + std::to_string(k + 1) + ".eml"));
            }
            result.Files.push_back(std::move(file));
            if (options.FileWritten) options.FileWritten(result.Files.back());
        }
    } catch (const ECancelled&) {
        WriteWhole(result.MapPath, CarveMapJson(result));
        throw;
    }
    WriteWhole(result.MapPath, CarveMapJson(result));
    return result;
}

std::size_t CountCandidates(const void* data, std::size_t bytes) {
    TFound found(nullptr);
    TFilter filter(found);
    const auto end = static_cast<std::int64_t>(bytes);
    if (end > kBlockBytes) filter.Positions(static_cast<const unsigned char*>(data), 0, 0, end - kBlockBytes);
    return found.Candidates.size();
}

std::string CarveMapJson(const TCarveResult& result) {
    std::string out = "{\n  \"images\": [";
    for (std::size_t i = 0; i < result.Images.size(); ++i) out += (i ? ", " : "") + JsonText(result.Images[i]);
    out += "],\n  \"imageBytes\": " + std::to_string(result.ImageBytes) + ",\n";
    if (result.MemoryFull) out += "  \"memoryFull\": true,\n";
    out += "  \"files\": [";
    for (std::size_t i = 0; i < result.Files.size(); ++i) {
        const TCarvedFile& f = result.Files[i];
        out += i ? ",\n    {" : "\n    {";
        const std::string name = f.Path.empty() ? "recovered-" + std::to_string(f.Number) + ".dbx"
                                                : std::filesystem::path(f.Path).filename().string();
        out += "\"file\": " + JsonText(name);
        out += ", \"headerOffset\": " + (f.HeaderOffset ? std::to_string(*f.HeaderOffset) : std::string("null"));
        out += ", \"kind\": \"" + std::string(f.Live() ? "live" : "deleted") + "\"";
        out += ", \"size\": " + std::to_string(f.Size);
        out += ", \"pieces\": [";
        for (std::size_t k = 0; k < f.Pieces.size(); ++k) {
            const TCarveRange& r = f.Pieces[k];
            out += (k ? ", " : "") + std::string("{\"imageStart\": ") + std::to_string(r.ImageStart) +
                   ", \"imageEnd\": " + std::to_string(r.ImageEnd) + ", \"fileStart\": " + std::to_string(r.FileStart) +
                   ", \"fileEnd\": " + std::to_string(r.FileEnd) + "}";
        }
        out += "], \"holes\": [";
        for (std::size_t k = 0; k < f.Holes.size(); ++k)
            out += (k ? ", " : "") + std::string("{\"fileStart\": ") + std::to_string(f.Holes[k].first) +
                   ", \"fileEnd\": " + std::to_string(f.Holes[k].second) + "}";
        out += "], \"messages\": {\"complete\": " + std::to_string(f.Complete) + ", \"partial\": " + std::to_string(f.Partial) +
               "}, \"blocks\": {\"live\": " + std::to_string(f.LiveBlocks) + ", \"deleted\": " + std::to_string(f.DeletedBlocks) +
               "}}";
    }
    out += result.Files.empty() ? "]\n}\n" : "\n  ]\n}\n";
    return out;
}

}  // namespace corvane::carve
