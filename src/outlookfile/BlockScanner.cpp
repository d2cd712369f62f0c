// The block scanner: walks the folder file at every multiple of 4 looking for
// headers that name their own position, and reads block bodies as text.
//
// Both kinds of block are found in one pass over the file. Each kind has a
// scan of its own in effect: a cursor that tests every multiple of 4 from
// where it stands, jumps past a block it takes and a little way past a
// header of the other kind. Such a cursor stops only at positions whose first
// word is the position itself, so one pass that finds those positions, and
// offers each to every kind whose cursor has reached it, finds exactly the
// blocks that a pass per kind would.

#include <algorithm>
#include <cstring>

#include "outlookfile/outlookfile.h"
#include "platform/Files.h"
#include "platform/Memory.h"
#include "progress/Progress.h"

namespace {

constexpr std::uint32_t kLiveBody = 512;
constexpr std::uint32_t kDeletedBody = 508;
constexpr std::uint64_t kBlockBytes = 528;
constexpr std::uint64_t kLiveHeader = 16;
constexpr std::uint64_t kDeletedHeader = 20;
// After a header whose body size is not the kind's, its cursor moves on by
// 12 bytes; after a deleted header whose next and previous offsets are
// equal, by 20.
constexpr std::uint64_t kOtherBody = 12;
constexpr std::uint64_t kSameLinks = 20;
// A self offset is a 32-bit value: nothing at or beyond 4 GiB can match.
constexpr std::uint64_t kLastPosition = 0x100000000ull;
// Small enough to stay in the processor's cache between the read that fills
// it and the scan that reads it.
constexpr std::size_t kWindow = std::size_t{256} << 10;

inline std::uint32_t LoadU32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

// The first position p + 4k before stop whose word equals the position; when
// there is none, the first p + 4k at or after stop. data holds the bytes from
// base on, and the words of every position before stop. Eight positions are
// tested at a time, with one branch for all eight: nearly every position
// fails.
std::uint64_t NextSelfOffset(const std::uint8_t* data, std::uint64_t base, std::uint64_t p, std::uint64_t stop) {
    while (p + 32 <= stop) {
        const std::uint8_t* at = data + (p - base);
        unsigned hits = 0;
        for (unsigned k = 0; k < 8; ++k)
            hits |= static_cast<unsigned>(LoadU32(at + 4 * k) == static_cast<std::uint32_t>(p + 4 * k));
        if (hits != 0) break;
        p += 32;
    }
    for (; p < stop; p += 4)
        if (LoadU32(data + (p - base)) == static_cast<std::uint32_t>(p)) return p;
    return p;
}

// One scan of the file for live blocks, deleted blocks or both (a null list
// is not scanned for). Reports to progress (may be null) at every read.
// Gives the bytes of the file the scan saw (-1 without a file).
std::int64_t ScanBlocks(const corvane::fs::TReadFile* file, corvane::TProgress* progress, const char* stage,
                        TMessagePartArray* live, TDelMessagePartArray* deleted) {
    if (file == nullptr) return -1;
    std::uint64_t end = static_cast<std::uint64_t>(std::max<std::int64_t>(file->Size(), 0));
    const std::size_t windowBytes = static_cast<std::size_t>(std::min<std::uint64_t>(kWindow, end));
    const corvane::mem::TBigBuffer buffer(windowBytes + 8);
    auto* const window = reinterpret_cast<std::uint8_t*>(buffer.data());
    // Each kind's cursor; a kind not scanned for never reaches a position.
    std::uint64_t nextLive = live != nullptr ? 0 : kLastPosition;
    std::uint64_t nextDeleted = deleted != nullptr ? 0 : kLastPosition;
    std::uint64_t base = 0, filled = 0;  // the window holds [base, base + filled)
    std::uint64_t p = 0;
    for (;;) {
        p = std::max(p, std::min(nextLive, nextDeleted));
        // No header fits from here on, and a position must be below 4 GiB.
        if (p >= kLastPosition || p + kLiveHeader > end) break;
        if (p + kDeletedHeader > base + filled && base + filled < end) {
            corvane::CheckPoint(progress, stage, static_cast<std::int64_t>(p), static_cast<std::int64_t>(end));
            const std::uint64_t want = std::min<std::uint64_t>(windowBytes, end - p);
            const std::size_t got = file->ReadAt(static_cast<std::int64_t>(p), window, static_cast<std::size_t>(want));
            base = p;
            filled = got;
            // The file got shorter than it was: it ends where the read ended.
            if (got < want) end = p + got;
            continue;
        }
        // Positions whose whole deleted header lies in the window; at the
        // end of the file, those with room for a live header.
        const std::uint64_t windowEnd = base + filled;
        const std::uint64_t room = windowEnd < end ? kDeletedHeader : kLiveHeader;
        const std::uint64_t stop = std::min(windowEnd - room + 1, kLastPosition);
        p = NextSelfOffset(window, base, p, stop);
        if (p >= stop) continue;
        const std::uint8_t* header = window + (p - base);
        const std::uint32_t body = LoadU32(header + 4);
        if (p >= nextLive) {
            nextLive = p + (body == kLiveBody ? kBlockBytes : kOtherBody);
            if (body == kLiveBody) {
                TMessagePart part;
                part.Offset = static_cast<std::uint32_t>(p);
                part.DataLength = static_cast<std::uint16_t>(LoadU32(header + 8) & 0xFFFF);
                part.NextOffset = LoadU32(header + 12);
                live->push_back(part);
            }
        }
        if (p >= nextDeleted && p + kDeletedHeader <= end) {
            if (body != kDeletedBody) {
                nextDeleted = p + kOtherBody;
            } else {
                const std::uint32_t next = LoadU32(header + 12);
                const std::uint32_t prev = LoadU32(header + 16);
                if (next == prev) {
                    nextDeleted = p + kSameLinks;
                } else {
                    TDelMessagePart part;
                    part.Offset = static_cast<std::uint32_t>(p);
                    part.DataLength = static_cast<std::uint16_t>(kDeletedBody);
                    part.PrevOffset = prev;
                    part.NextOffset = next;
                    deleted->push_back(part);
                    nextDeleted = p + kBlockBytes;
                }
            }
        } else if (p >= nextDeleted) {
            nextDeleted = kLastPosition;  // no deleted header fits from here on
        }
        p += 4;
    }
    corvane::CheckPoint(progress, stage, static_cast<std::int64_t>(end), static_cast<std::int64_t>(end));
    return static_cast<std::int64_t>(end);
}

}  // namespace

TMessagePartArray Toutlookfile::ScanMessageParts() {
    TMessagePartArray parts;
    Scanned(ScanBlocks(stream_.get(), progress_, "Scanning live blocks", &parts, nullptr));
    return parts;
}

TDelMessagePartArray Toutlookfile::ScanDelMessageParts() {
    TDelMessagePartArray parts;
    Scanned(ScanBlocks(stream_.get(), progress_, "Scanning deleted blocks", nullptr, &parts));
    return parts;
}

void Toutlookfile::ScanAllParts(TMessagePartArray& Parts, TDelMessagePartArray* DelParts) {
    Parts.clear();
    if (DelParts != nullptr) DelParts->clear();
    Scanned(ScanBlocks(stream_.get(), progress_, DelParts != nullptr ? "Scanning blocks" : "Scanning live blocks", &Parts,
                       DelParts));
}

void Toutlookfile::Scanned(std::int64_t bytes) {
    scannedBytes_ = bytes;
    if (afterScan_) afterScan_();
}

std::string Toutlookfile::BufferToText(const TBuffer& Buffer) {
    std::string text(Buffer.size(), ' ');
    for (std::size_t i = 0; i < Buffer.size(); ++i)
        if (Buffer[i] != 0) text[i] = static_cast<char>(Buffer[i]);
    return text;
}

std::string Toutlookfile::ReadMessagePart(const TMessagePart& Part) {
    TBuffer buffer(Part.DataLength, 0);
    if (stream_) stream_->ReadAt(static_cast<std::int64_t>(Part.Offset) + 16, buffer.data(), buffer.size());
    return BufferToText(buffer);
}

std::string Toutlookfile::ReadDelMessagePart(const TDelMessagePart& Part) {
    TBuffer buffer(Part.DataLength, 0);
    if (stream_) stream_->ReadAt(static_cast<std::int64_t>(Part.Offset) + 20, buffer.data(), buffer.size());
    return BufferToText(buffer);
}
