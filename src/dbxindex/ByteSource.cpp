#include "dbxindex/ByteSource.h"

#include <algorithm>
#include <cstring>

#include "platform/Files.h"

namespace corvane::dbx {

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

std::uint32_t U32At(const unsigned char* bytes) {
    return static_cast<std::uint32_t>(bytes[0]) | static_cast<std::uint32_t>(bytes[1]) << 8 |
           static_cast<std::uint32_t>(bytes[2]) << 16 | static_cast<std::uint32_t>(bytes[3]) << 24;
}

}  // namespace corvane::dbx
