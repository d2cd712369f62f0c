#include "platform/AnsiText.h"

#include <array>
#include <cstdint>

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

void AppendUtf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
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
    for (unsigned char b : ansi) AppendUtf8(out, ToCodePoint(b));
    return out;
}

std::string FromUtf8(const std::string& utf8) {
    std::string out;
    out.reserve(utf8.size());
    std::size_t i = 0;
    const std::size_t n = utf8.size();
    while (i < n) {
        const auto b = static_cast<unsigned char>(utf8[i]);
        int len = b < 0x80 ? 1 : (b >> 5) == 0x6 ? 2 : (b >> 4) == 0xE ? 3 : (b >> 3) == 0x1E ? 4 : 0;
        if (len == 0 || i + len > n) {  // malformed: one '?' per bad byte
            out += '?';
            ++i;
            continue;
        }
        char32_t c = len == 1 ? b : len == 2 ? (b & 0x1F) : len == 3 ? (b & 0x0F) : (b & 0x07);
        bool ok = true;
        for (int k = 1; k < len; ++k) {
            const auto cb = static_cast<unsigned char>(utf8[i + k]);
            if ((cb & 0xC0) != 0x80) { ok = false; break; }
            c = (c << 6) | (cb & 0x3F);
        }
        if (!ok) {
            out += '?';
            ++i;
            continue;
        }
        out += FromCodePoint(c);
        i += len;
    }
    return out;
}

}  // namespace corvane::ansi
