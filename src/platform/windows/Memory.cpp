#include "platform/Memory.h"

#include <malloc.h>

namespace corvane::mem {

// Windows gives large pages only to programs with a special privilege; the
// memory is aligned all the same and backed by ordinary pages.
extern const std::size_t kLargePage = std::size_t{2} << 20;

void* AllocateLarge(std::size_t bytes) { return _aligned_malloc(bytes, kLargePage); }

void FreeLarge(void* p) { _aligned_free(p); }

}  // namespace corvane::mem
