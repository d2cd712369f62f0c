#include "utf8/Utf8.h"

namespace corvane::utf8 {
namespace {

// The lead byte's class: how many continuation bytes follow and the range
// the first of them must lie in (the later ones are always 80..BF). The
// narrowed first ranges are what rule out overlong forms, surrogates and
// values above U+10FFFF.
struct TLead {
    unsigned char Follow;  // 0: no lead byte at all
    unsigned char Low, High;
};

constexpr TLead LeadOf(unsigned char b) {
    if (b >= 0xC2 && b <= 0xDF) return {1, 0x80, 0xBF};
    if (b == 0xE0) return {2, 0xA0, 0xBF};
    if (b == 0xED) return {2, 0x80, 0x9F};
    if (b >= 0xE1 && b <= 0xEF) return {2, 0x80, 0xBF};
    if (b == 0xF0) return {3, 0x90, 0xBF};
    if (b >= 0xF1 && b <= 0xF3) return {3, 0x80, 0xBF};
    if (b == 0xF4) return {3, 0x80, 0x8F};
    return {0, 0, 0};
}

}  // namespace

TStep Decode(std::string_view text, std::size_t at) {
    const auto b = static_cast<unsigned char>(text[at]);
    if (b < 0x80) return {b, 1, true};
    const TLead lead = LeadOf(b);
    if (lead.Follow == 0) return {kReplacement, 1, false};
    char32_t c = b & (0x3F >> lead.Follow);
    std::size_t length = 1;
    for (unsigned k = 1; k <= lead.Follow; ++k) {
        if (at + k >= text.size()) return {kReplacement, length, false};
        const auto t = static_cast<unsigned char>(text[at + k]);
        const unsigned char low = k == 1 ? lead.Low : 0x80, high = k == 1 ? lead.High : 0xBF;
        if (t < low || t > high) return {kReplacement, length, false};
        c = (c << 6) | (t & 0x3F);
        ++length;
    }
    return {c, length, true};
}

bool IsWellFormed(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size()) {
        if (static_cast<unsigned char>(text[i]) < 0x80) {
            ++i;
            continue;
        }
        const TStep step = Decode(text, i);
        if (!step.WellFormed) return false;
        i += step.Length;
    }
    return true;
}

std::string WellFormed(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    std::size_t i = 0;
    while (i < text.size()) {
        const TStep step = Decode(text, i);
        if (step.WellFormed) out.append(text, i, step.Length);
        else out += kReplacementText;
        i += step.Length;
    }
    return out;
}

std::string WellFormed(std::string&& text) {
    if (IsWellFormed(text)) return std::move(text);
    return WellFormed(std::string_view(text));
}

void Append(std::string& out, char32_t c) {
    if (!IsScalarValue(c)) c = kReplacement;
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

}  // namespace corvane::utf8
