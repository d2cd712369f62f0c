#include "platform/Memory.h"

#include <cstring>
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

TBigBuffer::TBigBuffer(std::size_t bytes) {
    if (bytes == 0) return;
    const std::size_t rounded = RoundedToLargePages(bytes);
    data_ = static_cast<char*>(AllocateLarge(rounded));
    if (data_ == nullptr) throw std::bad_alloc();
    size_ = rounded;
}

TBigBuffer::~TBigBuffer() { FreeLarge(data_); }

TBigBuffer::TBigBuffer(TBigBuffer&& other) noexcept
    : data_(std::exchange(other.data_, nullptr)), size_(std::exchange(other.size_, 0)) {}

TBigBuffer& TBigBuffer::operator=(TBigBuffer&& other) noexcept {
    std::swap(data_, other.data_);
    std::swap(size_, other.size_);
    return *this;
}

void TBigBuffer::Reserve(std::size_t bytes) {
    if (bytes <= size_) return;
    TBigBuffer bigger(bytes);
    if (size_ > 0) std::memcpy(bigger.data_, data_, size_);
    *this = std::move(bigger);
}

}  // namespace corvane::mem
