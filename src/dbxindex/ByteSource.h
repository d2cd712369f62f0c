#pragma once
// Where the index readers take their bytes from: an open folder file, or
// bytes in memory (tests, the fuzzer). Reads past the end give fewer bytes,
// never an error; a failing system read raises EInOutError (file source).

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace corvane {
namespace fs {
class TReadFile;
}

namespace dbx {

// A value as the walk's reasons name it ("0x24BC").
std::string Hex(std::uint32_t v);

class TByteSource {
public:
    virtual ~TByteSource() = default;
    virtual std::int64_t Size() const = 0;
    // Up to n bytes from offset; how many were read.
    virtual std::size_t ReadAt(std::int64_t offset, void* buffer, std::size_t n) const = 0;
};

// Bytes held by the caller, who keeps them alive while the source is used.
class TMemorySource : public TByteSource {
public:
    explicit TMemorySource(std::string_view bytes) : bytes_(bytes) {}
    std::int64_t Size() const override { return static_cast<std::int64_t>(bytes_.size()); }
    std::size_t ReadAt(std::int64_t offset, void* buffer, std::size_t n) const override;

private:
    std::string_view bytes_;
};

// A file opened by the caller, who keeps it open while the source is used.
class TFileSource : public TByteSource {
public:
    explicit TFileSource(const fs::TReadFile& file) : file_(file) {}
    std::int64_t Size() const override;
    std::size_t ReadAt(std::int64_t offset, void* buffer, std::size_t n) const override;

private:
    const fs::TReadFile& file_;
};

// Another source read through a few cached pages: the index's nodes and
// records are small and lie close together, so one read of a page serves
// many of them instead of a system call each. Not for several threads.
class TPagedSource : public TByteSource {
public:
    explicit TPagedSource(const TByteSource& inner);
    std::int64_t Size() const override { return size_; }
    std::size_t ReadAt(std::int64_t offset, void* buffer, std::size_t n) const override;

    static constexpr std::size_t kPageBytes = 64 * 1024;
    static constexpr std::size_t kPages = 32;  // 2 MiB at most

private:
    struct TPage {
        std::int64_t Start = -1;
        std::size_t Filled = 0;
        std::vector<unsigned char> Bytes;
    };
    const TByteSource& inner_;
    std::int64_t size_;
    mutable std::vector<TPage> pages_;
};

// A little-endian 32-bit value at offset of bytes (which hold at least 4 from there).
std::uint32_t U32At(const unsigned char* bytes);

}  // namespace dbx
}  // namespace corvane
