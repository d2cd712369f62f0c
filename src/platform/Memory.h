#pragma once
// Large working buffers: the reader's batch of chain text, its read spans,
// the pages of text handed between threads. Memory first touched costs the
// system a page fault per 4 KB page, which on some machines (virtual ones
// above all) costs more than the copying the buffer is for. A big buffer is
// aligned to 2 MB and, where the system offers it (Linux's transparent huge
// pages), asked to be backed by large pages, which take a fault per 2 MB.
// Its bytes are undefined until written.

#include <cstddef>

namespace corvane::mem {

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

}  // namespace corvane::mem
