#include "platform/Memory.h"

#include <cstdlib>

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

}  // namespace corvane::mem
