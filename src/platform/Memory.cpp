#include "platform/Memory.h"

#include <algorithm>
#include <cstring>
#include <iterator>
#include <new>
#include <utility>

namespace corvane::mem {

// The system's side (posix/, windows/): memory of the given size, aligned to
// kLargePage, or null; and its release. AllocatePages maps pages of their
// own, unmapped by FreePages.
extern const std::size_t kLargePage;
void* AllocateLarge(std::size_t bytes);
void FreeLarge(void* p);
void* AllocatePages(std::size_t bytes);
void FreePages(void* p, std::size_t bytes);

namespace {
// A pool's sizes: whole steps of kFromBytes, so that what one block gave back
// fits a block of the same size again.
std::size_t RoundedToPoolSteps(std::size_t bytes) {
    return (std::max(bytes, std::size_t{1}) + TBigPool::kFromBytes - 1) / TBigPool::kFromBytes * TBigPool::kFromBytes;
}

std::size_t RoundedToLargePages(std::size_t bytes) {
    if (bytes > static_cast<std::size_t>(-1) - kLargePage) throw std::bad_alloc();
    return (bytes + kLargePage - 1) / kLargePage * kLargePage;
}
}  // namespace

void* AllocateBig(std::size_t bytes) {
    void* p = bytes <= static_cast<std::size_t>(-1) - kLargePage ? AllocatePages(bytes) : nullptr;
    if (p == nullptr) throw std::bad_alloc();
    return p;
}

void FreeBig(void* p, std::size_t bytes) noexcept {
    if (p != nullptr) FreePages(p, bytes);
}

TBigPool::~TBigPool() {
    for (const auto& [start, bytes] : mappings_) FreePages(start, bytes);
}

// A fresh mapping is whole large pages; what the block does not use of it is
// kept for the next.
void* TBigPool::Allocate(std::size_t bytes) {
    if (bytes > static_cast<std::size_t>(-1) - 2 * kLargePage) throw std::bad_alloc();
    bytes = RoundedToPoolSteps(bytes);
    std::lock_guard lock(mutex_);
    auto best = free_.end();  // the smallest kept range that serves
    for (auto it = free_.begin(); it != free_.end(); ++it)
        if (it->second >= bytes && (best == free_.end() || it->second < best->second)) best = it;
    if (best == free_.end()) {
        const std::size_t mapped = RoundedToLargePages(bytes);
        char* start = static_cast<char*>(AllocatePages(mapped));
        if (start == nullptr) throw std::bad_alloc();
        mappings_.emplace_back(start, mapped);
        if (mapped > bytes) free_.emplace(start + bytes, mapped - bytes);
        return start;
    }
    char* const start = best->first;
    const std::size_t rest = best->second - bytes;
    free_.erase(best);
    if (rest > 0) free_.emplace(start + bytes, rest);
    return start;
}

void TBigPool::Free(void* p, std::size_t bytes) noexcept {
    if (p == nullptr) return;
    bytes = RoundedToPoolSteps(bytes);
    char* start = static_cast<char*>(p);
    std::lock_guard lock(mutex_);
    // Joined with the kept ranges on either side (mappings that follow one
    // another in memory join too: a range across them is memory all the same).
    auto next = free_.lower_bound(start);
    if (next != free_.begin()) {
        const auto before = std::prev(next);
        if (before->first + before->second == start) {
            start = before->first;
            bytes += before->second;
            free_.erase(before);
        }
    }
    if (next != free_.end() && start + bytes == next->first) {
        bytes += next->second;
        free_.erase(next);
    }
    free_.emplace(start, bytes);
}

std::size_t TBigPool::MappedBytes() const {
    std::lock_guard lock(mutex_);
    std::size_t total = 0;
    for (const auto& mapping : mappings_) total += mapping.second;
    return total;
}

TBigBuffer::TBigBuffer(std::size_t bytes, TBigPool* pool) : pool_(pool) {
    if (bytes == 0) return;
    // From a pool, in its steps; else from the heap, in whole large pages.
    const std::size_t rounded = pool != nullptr ? RoundedToPoolSteps(bytes) : RoundedToLargePages(bytes);
    data_ = static_cast<char*>(pool != nullptr ? pool->Allocate(rounded) : AllocateLarge(rounded));
    if (data_ == nullptr) throw std::bad_alloc();
    size_ = rounded;
}

TBigBuffer::~TBigBuffer() {
    if (pool_ != nullptr) pool_->Free(data_, size_);
    else FreeLarge(data_);
}

TBigBuffer::TBigBuffer(TBigBuffer&& other) noexcept
    : data_(std::exchange(other.data_, nullptr)), size_(std::exchange(other.size_, 0)), pool_(other.pool_) {}

TBigBuffer& TBigBuffer::operator=(TBigBuffer&& other) noexcept {
    std::swap(data_, other.data_);
    std::swap(size_, other.size_);
    std::swap(pool_, other.pool_);
    return *this;
}

void TBigBuffer::Reserve(std::size_t bytes) {
    if (bytes <= size_) return;
    TBigBuffer bigger(bytes, pool_);
    if (size_ > 0) std::memcpy(bigger.data_, data_, size_);
    *this = std::move(bigger);
}

}  // namespace corvane::mem
