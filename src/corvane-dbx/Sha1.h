#pragma once
// SHA-1 (FIPS 180-4) of a byte stream, for the checksum list gives of each
// message: a user checks an exported file against it with sha1sum. Not for
// anything that needs to resist forgery.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace corvane::cli {

class TSha1 {
public:
    TSha1();
    void Add(std::string_view bytes);
    // The digest in lower-case hexadecimal (40 digits); the object is spent.
    std::string HexDigest();

private:
    void Block(const unsigned char* block);

    std::array<std::uint32_t, 5> state_;
    std::array<unsigned char, 64> buffer_{};
    std::size_t buffered_ = 0;
    std::uint64_t length_ = 0;  // bytes added
};

}  // namespace corvane::cli
