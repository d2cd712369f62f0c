#include "dbxindex/ByteSource.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "platform/Files.h"

namespace corvane::dbx {

std::string Hex(std::uint32_t v) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%X", v);
    return text;
}

std::size_t TMemorySource::ReadAt(std::int64_t offset, void* buffer, std::size_t n) const {
    if (offset < 0 || static_cast<std::uint64_t>(offset) >= bytes_.size()) return 0;
    const std::size_t at = static_cast<std::size_t>(offset);
    const std::size_t got = std::min(n, bytes_.size() - at);
    std::memcpy(buffer, bytes_.data() + at, got);
    return got;
}

std::int64_t TFileSource::Size() const { return file_.Size(); }

std::size_t TFileSource::ReadAt(std::int64_t offset, void* buffer, std::size_t n) const {
    if (offset < 0) return 0;
    return file_.ReadAt(offset, buffer, n);
}

TPagedSource::TPagedSource(const TByteSource& inner) : inner_(inner), size_(inner.Size()), pages_(kPages) {}

std::size_t TPagedSource::ReadAt(std::int64_t offset, void* buffer, std::size_t n) const {
    if (offset < 0 || offset >= size_) return 0;
    auto* out = static_cast<unsigned char*>(buffer);
    std::size_t done = 0;
    while (done < n && offset < size_) {
        const std::int64_t start = offset / static_cast<std::int64_t>(kPageBytes) * static_cast<std::int64_t>(kPageBytes);
        TPage& page = pages_[static_cast<std::size_t>(start / static_cast<std::int64_t>(kPageBytes)) % kPages];
        if (page.Start != start) {
            page.Bytes.resize(kPageBytes);
            page.Start = -1;
            page.Filled = inner_.ReadAt(start, page.Bytes.data(), kPageBytes);
            page.Start = start;
        }
        const std::size_t at = static_cast<std::size_t>(offset - start);
        if (at >= page.Filled) break;
        const std::size_t take = std::min(n - done, page.Filled - at);
        std::memcpy(out + done, page.Bytes.data() + at, take);
        done += take;
        offset += static_cast<std::int64_t>(take);
        if (page.Filled < kPageBytes) break;
    }
    return done;
}

std::uint32_t U32At(const unsigned char* bytes) {
    return static_cast<std::uint32_t>(bytes[0]) | static_cast<std::uint32_t>(bytes[1]) << 8 |
           static_cast<std::uint32_t>(bytes[2]) << 16 | static_cast<std::uint32_t>(bytes[3]) << 24;
}

}  // namespace corvane::dbx
