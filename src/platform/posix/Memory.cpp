#include "platform/Memory.h"

#include <cstdint>
#include <cstdlib>

#include <unistd.h>

#include <sys/mman.h>

namespace corvane::mem {

extern const std::size_t kLargePage = std::size_t{2} << 20;

void* AllocateLarge(std::size_t bytes) {
    void* p = nullptr;
    if (::posix_memalign(&p, kLargePage, bytes) != 0) return nullptr;
#ifdef MADV_HUGEPAGE
    ::madvise(p, bytes, MADV_HUGEPAGE);  // only advice: where it is refused, small pages serve
#endif
    return p;
}

void FreeLarge(void* p) { std::free(p); }

namespace {
// Where a mapping is rounded up to whole large pages: from here on the last,
// partly used large page costs less than the faults of its small pages
// would (a fault per 4 KB, which on virtual machines costs as much as
// clearing a large page).
constexpr std::size_t kWholeLargePagesFrom = std::size_t{1} << 20;

std::size_t MappedBytes(std::size_t bytes) {
    static const std::size_t page = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
    const std::size_t unit = bytes >= kWholeLargePagesFrom ? kLargePage : page;
    return (bytes + unit - 1) / unit * unit;
}
}  // namespace

// Mapped with a large page to spare, whose part before the aligned start and
// after the end is given back at once.
void* AllocatePages(std::size_t bytes) {
    bytes = MappedBytes(bytes);
    const std::size_t span = bytes + kLargePage;
    void* mapped = ::mmap(nullptr, span, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (mapped == MAP_FAILED) return nullptr;
    char* const first = static_cast<char*>(mapped);
    const std::uintptr_t at = reinterpret_cast<std::uintptr_t>(first);
    char* const start = first + ((kLargePage - at % kLargePage) % kLargePage);
    if (start > first) ::munmap(first, static_cast<std::size_t>(start - first));
    char* const end = start + bytes;
    if (first + span > end) ::munmap(end, static_cast<std::size_t>(first + span - end));
#ifdef MADV_HUGEPAGE
    ::madvise(start, bytes, MADV_HUGEPAGE);
#endif
    return start;
}

void FreePages(void* p, std::size_t bytes) { ::munmap(p, MappedBytes(bytes)); }

}  // namespace corvane::mem
