// The block scanner: walks the folder file at every multiple of 4 looking for
// headers that name their own position, and reads block bodies as text.

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
// A self offset is a 32-bit value: nothing at or beyond 4 GiB can match.
constexpr std::uint64_t kLastPosition = 0x100000000ull;
constexpr std::size_t kWindow = std::size_t{4} << 20;

inline std::uint32_t LoadU32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

// Walks every tested position of the file through a large window. For a
// position whose first word equals the position, calls candidate(p, header),
// header pointing at the bytes from p on with at least headerBytes of them;
// candidate returns how far the scan moves on. A candidate whose header the
// end of the file cuts off is not offered, and the scan ends there: no later
// position has room for a header either.
// The scan tells progress (may be null) how far it has come at every read.
template <class Candidate>
void Walk(const corvane::fs::TReadFile& file, corvane::TProgress* progress, const char* stage, std::uint64_t headerBytes,
          Candidate candidate) {
    std::uint64_t end = static_cast<std::uint64_t>(std::max<std::int64_t>(file.Size(), 0));
    const corvane::mem::TBigBuffer buffer(static_cast<std::size_t>(std::min<std::uint64_t>(kWindow, end)) + 8);
    const std::size_t windowBytes = static_cast<std::size_t>(std::min<std::uint64_t>(kWindow, end)) + 8;
    auto* const window = reinterpret_cast<std::uint8_t*>(buffer.data());
    std::uint64_t base = 0;     // file position of window[0]
    std::uint64_t filled = 0;   // bytes valid in the window
    std::uint64_t p = 0;
    while (p < end && p < kLastPosition) {
        if (p + headerBytes > base + filled && base + filled < end) {
            corvane::CheckPoint(progress, stage, static_cast<std::int64_t>(p), static_cast<std::int64_t>(end));
            std::uint64_t want = std::min<std::uint64_t>(windowBytes - 8, end - p);
            std::size_t got = file.ReadAt(static_cast<std::int64_t>(p), window, static_cast<std::size_t>(want));
            base = p;
            filled = got;
            // The file got shorter than it was: it ends where the read ended.
            if (got < want) end = p + got;
            continue;
        }
        const std::uint64_t windowEnd = base + filled;
        // Fast stretch: every position here has a whole header in the window.
        const std::uint64_t stop = std::min(windowEnd >= headerBytes ? windowEnd - headerBytes + 1 : 0, kLastPosition);
        const std::uint8_t* data = window;
        while (p < stop) {
            const std::uint8_t* at = data + (p - base);
            if (LoadU32(at) != static_cast<std::uint32_t>(p)) {
                p += 4;
                continue;
            }
            p += candidate(p, at);
        }
        if (p < stop || windowEnd < end) continue;
        // The last few positions of the file: no whole header fits, so no
        // block can be found; only the positions themselves remain to pass.
        break;
    }
    corvane::CheckPoint(progress, stage, static_cast<std::int64_t>(end), static_cast<std::int64_t>(end));
}

}  // namespace

TMessagePartArray Toutlookfile::ScanMessageParts() {
    TMessagePartArray parts;
    if (!stream_) return parts;
    Walk(*stream_, progress_, "Scanning live blocks", kLiveHeader, [&parts](std::uint64_t p, const std::uint8_t* header) -> std::uint64_t {
        if (LoadU32(header + 4) != kLiveBody) return 12;
        TMessagePart part;
        part.Offset = static_cast<std::uint32_t>(p);
        part.DataLength = static_cast<std::uint16_t>(LoadU32(header + 8) & 0xFFFF);
        part.NextOffset = LoadU32(header + 12);
        parts.push_back(part);
        return kBlockBytes;
    });
    return parts;
}

TDelMessagePartArray Toutlookfile::ScanDelMessageParts() {
    TDelMessagePartArray parts;
    if (!stream_) return parts;
    Walk(*stream_, progress_, "Scanning deleted blocks", kDeletedHeader, [&parts](std::uint64_t p, const std::uint8_t* header) -> std::uint64_t {
        if (LoadU32(header + 4) != kDeletedBody) return 12;
        const std::uint32_t next = LoadU32(header + 12);
        const std::uint32_t prev = LoadU32(header + 16);
        if (next == prev) return 20;
        TDelMessagePart part;
        part.Offset = static_cast<std::uint32_t>(p);
        part.DataLength = static_cast<std::uint16_t>(kDeletedBody);
        part.PrevOffset = prev;
        part.NextOffset = next;
        parts.push_back(part);
        return kBlockBytes;
    });
    return parts;
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
