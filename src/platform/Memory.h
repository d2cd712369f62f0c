#pragma once
// Large working buffers: the reader's batch of chain text, its read spans,
// the pages of text handed between threads. Memory first touched costs the
// system a page fault per 4 KB page, which on some machines (virtual ones
// above all) costs more than the copying the buffer is for. A big buffer is
// aligned to 2 MB and, where the system offers it (Linux's transparent huge
// pages), asked to be backed by large pages, which take a fault per 2 MB.
// Its bytes are undefined until written.

#include <cstddef>
#include <map>
#include <memory>
#include <mutex>
#include <new>
#include <type_traits>
#include <vector>

namespace corvane::mem {

// Memory of bytes mapped for the caller alone and, where the system offers
// it, aligned to 2 MB and backed by large pages (from 1 MB on, the last one
// whole; below, small pages); given back to the system at once by FreeBig
// with the same size. Throws std::bad_alloc.
void* AllocateBig(std::size_t bytes);
void FreeBig(void* p, std::size_t bytes) noexcept;

// Memory kept for use again, for work that makes and drops big lists one
// after the other (a carve's read buffers, then the lists of its phases):
// what one list gave back serves the next without a fault per page. Blocks
// of at least kFromBytes are taken from mappings of whole large pages and,
// given back, kept for the next ones asked of the pool; smaller ones are the
// heap's. The pool's memory is the system's again when the pool ends, and
// every block taken from it must have been given back by then.
// Thread-safe. Reused memory holds what was written to it before.
class TBigPool {
public:
    static constexpr std::size_t kFromBytes = std::size_t{64} << 10;

    TBigPool() = default;
    ~TBigPool();
    TBigPool(const TBigPool&) = delete;
    TBigPool& operator=(const TBigPool&) = delete;

    // Throws std::bad_alloc.
    void* Allocate(std::size_t bytes);
    // p and bytes as Allocate took and gave them.
    void Free(void* p, std::size_t bytes) noexcept;
    // The memory mapped so far, in use or kept.
    std::size_t MappedBytes() const;

private:
    mutable std::mutex mutex_;
    std::vector<std::pair<char*, std::size_t>> mappings_;
    std::map<char*, std::size_t> free_;  // kept ranges by start, none adjoining another
};

class TBigBuffer {
public:
    TBigBuffer() = default;
    explicit TBigBuffer(std::size_t bytes, TBigPool* pool = nullptr);
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
    TBigPool* pool_ = nullptr;
};

// An allocator for containers that may grow to many megabytes (the lists of
// a carve's blocks): with a pool, from the pool; without, a block of at
// least kBigBytes is taken with AllocateBig, a smaller one from the ordinary
// heap. Containers of one pool may swap and move their elements' memory; the
// pool goes with the memory.
template <class T>
struct TBigAllocator {
    using value_type = T;
    using propagate_on_container_copy_assignment = std::true_type;
    using propagate_on_container_move_assignment = std::true_type;
    using propagate_on_container_swap = std::true_type;
    using is_always_equal = std::false_type;
    static constexpr std::size_t kBigBytes = std::size_t{1} << 20;

    TBigPool* Pool = nullptr;

    TBigAllocator() = default;
    explicit TBigAllocator(TBigPool* pool) noexcept : Pool(pool) {}
    template <class U>
    TBigAllocator(const TBigAllocator<U>& other) noexcept : Pool(other.Pool) {}

    T* allocate(std::size_t n) {
        if (n > static_cast<std::size_t>(-1) / sizeof(T)) throw std::bad_alloc();
        const std::size_t bytes = n * sizeof(T);
        if (Pool != nullptr && bytes >= TBigPool::kFromBytes) return static_cast<T*>(Pool->Allocate(bytes));
        if (Pool == nullptr && bytes >= kBigBytes) return static_cast<T*>(AllocateBig(bytes));
        return std::allocator<T>().allocate(n);
    }
    void deallocate(T* p, std::size_t n) noexcept {
        const std::size_t bytes = n * sizeof(T);
        if (Pool != nullptr && bytes >= TBigPool::kFromBytes) Pool->Free(p, bytes);
        else if (Pool == nullptr && bytes >= kBigBytes) FreeBig(p, bytes);
        else std::allocator<T>().deallocate(p, n);
    }
    template <class U>
    bool operator==(const TBigAllocator<U>& other) const noexcept {
        return Pool == other.Pool;
    }
};

template <class T>
using TBigVector = std::vector<T, TBigAllocator<T>>;

}  // namespace corvane::mem
