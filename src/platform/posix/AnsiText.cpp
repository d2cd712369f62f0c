#include "platform/AnsiText.h"

#include <array>
#include <cstdint>

#include "utf8/Utf8.h"

namespace corvane::ansi {
namespace {

// Windows-1252 bytes 0x80..0x9F; the five undefined ones map to the C1 control
// of the same value, as the system conversion does.
constexpr std::array<char32_t, 32> kHigh = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

char32_t ToCodePoint(unsigned char b) {
    if (b >= 0x80 && b <= 0x9F) return kHigh[b - 0x80];
    return b;
}

char FromCodePoint(char32_t c) {
    if (c < 0x80 || (c >= 0xA0 && c <= 0xFF)) return static_cast<char>(c);
    for (std::size_t i = 0; i < kHigh.size(); ++i)
        if (kHigh[i] == c) return static_cast<char>(0x80 + i);
    return '?';
}

}  // namespace

void UpperBuffer(unsigned char* bytes, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i) {
        unsigned char b = bytes[i];
        if (b >= 'a' && b <= 'z') b = static_cast<unsigned char>(b - 0x20);
        else if (b >= 0xE0 && b <= 0xFE && b != 0xF7) b = static_cast<unsigned char>(b - 0x20);
        else if (b == 0x9A) b = 0x8A;
        else if (b == 0x9C) b = 0x8C;
        else if (b == 0x9E) b = 0x8E;
        else if (b == 0xFF) b = 0x9F;
        bytes[i] = b;
    }
}

std::string ToUtf8(const std::string& ansi) {
    std::string out;
    out.reserve(ansi.size() + ansi.size() / 4);
    for (unsigned char b : ansi) corvane::utf8::Append(out, ToCodePoint(b));
    return out;
}

std::string FromUtf8(const std::string& utf8) {
    std::string out;
    out.reserve(utf8.size());
    // An ill-formed stretch: one '?' for each of its maximal subparts.
    for (std::size_t i = 0; i < utf8.size();) {
        const corvane::utf8::TStep step = corvane::utf8::Decode(utf8, i);
        out += step.WellFormed ? FromCodePoint(step.CodePoint) : '?';
        i += step.Length;
    }
    return out;
}

}  // namespace corvane::ansi
