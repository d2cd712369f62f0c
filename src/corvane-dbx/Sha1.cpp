#include "corvane-dbx/Sha1.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace corvane::cli {

TSha1::TSha1() : state_{0x67452301u, 0xEFCDAB89u, 0x98BADCFEu, 0x10325476u, 0xC3D2E1F0u} {}

void TSha1::Block(const unsigned char* block) {
    std::uint32_t w[80];
    for (int t = 0; t < 16; ++t)
        w[t] = std::uint32_t{block[4 * t]} << 24 | std::uint32_t{block[4 * t + 1]} << 16 |
               std::uint32_t{block[4 * t + 2]} << 8 | std::uint32_t{block[4 * t + 3]};
    for (int t = 16; t < 80; ++t) w[t] = std::rotl(w[t - 3] ^ w[t - 8] ^ w[t - 14] ^ w[t - 16], 1);
    std::uint32_t a = state_[0], b = state_[1], c = state_[2], d = state_[3], e = state_[4];
    for (int t = 0; t < 80; ++t) {
        std::uint32_t f, k;
        if (t < 20) {
            f = (b & c) | (~b & d);
            k = 0x5A827999u;
        } else if (t < 40) {
            f = b ^ c ^ d;
            k = 0x6ED9EBA1u;
        } else if (t < 60) {
            f = (b & c) | (b & d) | (c & d);
            k = 0x8F1BBCDCu;
        } else {
            f = b ^ c ^ d;
            k = 0xCA62C1D6u;
        }
        const std::uint32_t next = std::rotl(a, 5) + f + e + k + w[t];
        e = d;
        d = c;
        c = std::rotl(b, 30);
        b = a;
        a = next;
    }
    state_[0] += a;
    state_[1] += b;
    state_[2] += c;
    state_[3] += d;
    state_[4] += e;
}

void TSha1::Add(std::string_view bytes) {
    length_ += bytes.size();
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    std::size_t n = bytes.size();
    if (buffered_ > 0) {
        const std::size_t take = std::min(n, buffer_.size() - buffered_);
        std::memcpy(buffer_.data() + buffered_, p, take);
        buffered_ += take;
        p += take;
        n -= take;
        if (buffered_ < buffer_.size()) return;
        Block(buffer_.data());
        buffered_ = 0;
    }
    for (; n >= 64; p += 64, n -= 64) Block(p);
    if (n > 0) std::memcpy(buffer_.data(), p, n);
    buffered_ = n;
}

std::string TSha1::HexDigest() {
    // The padding: a one bit, zeros up to 56 bytes of a block, the length in bits.
    const std::uint64_t bits = length_ * 8;
    unsigned char pad[72] = {0x80};
    const std::size_t padBytes = (buffered_ < 56 ? 56 : 120) - buffered_;
    Add(std::string_view(reinterpret_cast<const char*>(pad), padBytes));
    unsigned char tail[8];
    for (int i = 0; i < 8; ++i) tail[i] = static_cast<unsigned char>(bits >> (56 - 8 * i));
    Add(std::string_view(reinterpret_cast<const char*>(tail), 8));
    static const char* const kHex = "0123456789abcdef";
    std::string out;
    for (const std::uint32_t word : state_)
        for (int shift = 28; shift >= 0; shift -= 4) out += kHex[(word >> shift) & 15];
    return out;
}

}  // namespace corvane::cli
