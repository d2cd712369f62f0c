#pragma once
// UTF-8 for the whole program: one strict decoder, and the few things built
// on it. Every text the engine hands out as UTF-8 (decoded headers, bodies,
// attachment names, listings, paths in JSON) goes through here, so a hostile
// message cannot make a listing unreadable for a strict reader.
//
// Well-formed means what the Unicode standard (chapter 3, table 3-7) allows:
// no overlong forms (C0, C1, E0 80..9F, F0 80..8F), no surrogates (ED A0..BF),
// nothing above U+10FFFF (F4 90.., F5..FF), no stray continuation bytes and no
// sequence cut short. An ill-formed stretch becomes U+FFFD once per "maximal
// subpart": the longest start of a well-formed sequence found there, or one
// byte when there is none. So "E0 80 AF" gives three U+FFFD, "F0 9F 98" at the
// end of a text one, and "ED A0 80" three.
//
// Plain functions without state: safe on any thread. Nothing here throws
// except std::bad_alloc.

#include <cstddef>
#include <string>
#include <string_view>

namespace corvane::utf8 {

inline constexpr char32_t kReplacement = 0xFFFD;
inline constexpr char32_t kLastCodePoint = 0x10FFFF;
// U+FFFD as UTF-8.
inline constexpr std::string_view kReplacementText = "\xEF\xBF\xBD";

// One step of the decoder: the character at a position and how many bytes it
// took. For an ill-formed stretch, CodePoint is kReplacement, Length the
// maximal subpart's (at least 1) and WellFormed false.
struct TStep {
    char32_t CodePoint = 0;
    std::size_t Length = 1;
    bool WellFormed = true;
};

// The character of text that begins at `at` (at < text.size()).
TStep Decode(std::string_view text, std::size_t at);

// Whether every byte of text belongs to a well-formed character.
bool IsWellFormed(std::string_view text);

// The text with each maximal subpart of an ill-formed stretch replaced by
// U+FFFD; a well-formed text comes back unchanged.
std::string WellFormed(std::string_view text);
std::string WellFormed(std::string&& text);

// Whether c is a Unicode scalar value (not a surrogate, at most U+10FFFF).
constexpr bool IsScalarValue(char32_t c) { return c <= kLastCodePoint && (c < 0xD800 || c > 0xDFFF); }

// Appends c as UTF-8; anything that is no scalar value as U+FFFD.
void Append(std::string& out, char32_t c);

}  // namespace corvane::utf8
