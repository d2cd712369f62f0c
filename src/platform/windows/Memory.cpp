#include "platform/Memory.h"

#include <malloc.h>
#include <windows.h>

namespace corvane::mem {

// Windows gives large pages only to programs with a special privilege; the
// memory is aligned all the same and backed by ordinary pages.
extern const std::size_t kLargePage = std::size_t{2} << 20;

void* AllocateLarge(std::size_t bytes) { return _aligned_malloc(bytes, kLargePage); }

void FreeLarge(void* p) { _aligned_free(p); }

// A mapping of its own (aligned to 64 KB, as the system maps), released whole.
void* AllocatePages(std::size_t bytes) { return ::VirtualAlloc(nullptr, bytes, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE); }

void FreePages(void* p, std::size_t) { ::VirtualFree(p, 0, MEM_RELEASE); }

}  // namespace corvane::mem
