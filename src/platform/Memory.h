#pragma once
// Large working buffers: the reader's batch of chain text, its read spans,
// the pages of text handed between threads. Memory first touched costs the
// system a page fault per 4 KB page, which on some machines (virtual ones
// above all) costs more than the copying the buffer is for. A big buffer is
// aligned to 2 MB and, where the system offers it (Linux's transparent huge
// pages), asked to be backed by large pages, which take a fault per 2 MB.
// Its bytes are undefined until written.

#include <cstddef>
#include <memory>
#include <new>
#include <vector>

namespace corvane::mem {

// Memory of bytes mapped for the caller alone and, where the system offers
// it, aligned to 2 MB and backed by large pages (from 1 MB on, the last one
// whole; below, small pages); given back to the system at once by FreeBig
// with the same size. Throws std::bad_alloc.
void* AllocateBig(std::size_t bytes);
void FreeBig(void* p, std::size_t bytes) noexcept;

class TBigBuffer {
public:
    TBigBuffer() = default;
    explicit TBigBuffer(std::size_t bytes);
    ~TBigBuffer();
    TBigBuffer(TBigBuffer&& other) noexcept;
    TBigBuffer& operator=(TBigBuffer&& other) noexcept;
    TBigBuffer(const TBigBuffer&) = delete;
    TBigBuffer& operator=(const TBigBuffer&) = delete;

    char* data() const { return data_; }
    std::size_t size() const { return size_; }
    // Makes room for at least bytes; what was in the buffer is kept.
    void Reserve(std::size_t bytes);

private:
    char* data_ = nullptr;
    std::size_t size_ = 0;
};

// An allocator for containers that may grow to many megabytes (the lists of
// a carve's blocks): a block of at least kBigBytes is taken as a big buffer,
// a smaller one from the ordinary heap. Stateless; all compare equal.
template <class T>
struct TBigAllocator {
    using value_type = T;
    static constexpr std::size_t kBigBytes = std::size_t{1} << 20;

    TBigAllocator() = default;
    template <class U>
    TBigAllocator(const TBigAllocator<U>&) noexcept {}

    T* allocate(std::size_t n) {
        if (n > static_cast<std::size_t>(-1) / sizeof(T)) throw std::bad_alloc();
        if (n * sizeof(T) >= kBigBytes) return static_cast<T*>(AllocateBig(n * sizeof(T)));
        return std::allocator<T>().allocate(n);
    }
    void deallocate(T* p, std::size_t n) noexcept {
        if (n * sizeof(T) >= kBigBytes) FreeBig(p, n * sizeof(T));
        else std::allocator<T>().deallocate(p, n);
    }
    template <class U>
    bool operator==(const TBigAllocator<U>&) const noexcept {
        return true;
    }
};

template <class T>
using TBigVector = std::vector<T, TBigAllocator<T>>;

}  // namespace corvane::mem
