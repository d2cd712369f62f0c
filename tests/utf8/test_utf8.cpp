// The strict decoder against the well-formed byte sequences of the Unicode
// standard's table 3-7, and its replacement of ill-formed stretches by
// U+FFFD once per maximal subpart (the standard's recommended practice, with
// the standard's own examples).

#include <gtest/gtest.h>

#include <string>

#include "utf8/Utf8.h"

namespace {

using corvane::utf8::IsWellFormed;
using corvane::utf8::WellFormed;

const std::string R = "\xEF\xBF\xBD";  // U+FFFD

struct TCase {
    const char* What;
    std::string In;
    std::string Out;  // WellFormed(In)
};

class Utf8Cases : public testing::TestWithParam<TCase> {};

TEST_P(Utf8Cases, ReplacesEachMaximalSubpartOnce) {
    const TCase& c = GetParam();
    EXPECT_EQ(WellFormed(c.In), c.Out) << c.What;
    EXPECT_EQ(IsWellFormed(c.In), c.In == c.Out) << c.What;
    EXPECT_TRUE(IsWellFormed(WellFormed(c.In))) << c.What;
}

INSTANTIATE_TEST_SUITE_P(
    Table, Utf8Cases,
    testing::Values(
        // Well-formed: every boundary of table 3-7 passes unchanged.
        TCase{"ascii and NUL", std::string("a\0z", 3), std::string("a\0z", 3)},
        TCase{"two bytes, lowest and highest", "\xC2\x80\xDF\xBF", "\xC2\x80\xDF\xBF"},
        TCase{"E0 with A0", "\xE0\xA0\x80", "\xE0\xA0\x80"},
        TCase{"ED below the surrogates", "\xED\x9F\xBF", "\xED\x9F\xBF"},
        TCase{"EE..EF up to U+FFFF", "\xEE\x80\x80\xEF\xBF\xBF", "\xEE\x80\x80\xEF\xBF\xBF"},
        TCase{"F0 with 90", "\xF0\x90\x80\x80", "\xF0\x90\x80\x80"},
        TCase{"U+10FFFF", "\xF4\x8F\xBF\xBF", "\xF4\x8F\xBF\xBF"},
        TCase{"an emoji", "\xF0\x9F\x98\x80", "\xF0\x9F\x98\x80"},
        // Overlong forms.
        TCase{"C0 AF", "\xC0\xAF", R + R},
        TCase{"C1 BF", "\xC1\xBF", R + R},
        TCase{"E0 80 AF", "\xE0\x80\xAF", R + R + R},
        TCase{"F0 80 80 AF", "\xF0\x80\x80\xAF", R + R + R + R},
        TCase{"F0 8F BF BF", "\xF0\x8F\xBF\xBF", R + R + R + R},
        // Surrogates, high and low.
        TCase{"ED A0 80", "\xED\xA0\x80", R + R + R},
        TCase{"ED BF BF", "\xED\xBF\xBF", R + R + R},
        TCase{"a surrogate pair in CESU form", "\xED\xA0\xBD\xED\xB8\x80", R + R + R + R + R + R},
        // Above U+10FFFF.
        TCase{"F4 90 80 80 (U+110000)", "\xF4\x90\x80\x80", R + R + R + R},
        TCase{"F5 lead", "\xF5\x80\x80\x80", R + R + R + R},
        TCase{"FF and FE", "\xFF\xFE", R + R},
        TCase{"five-byte form", "\xF8\x88\x80\x80\x80", R + R + R + R + R},
        // Stray continuation bytes.
        TCase{"a lone continuation", "a\x80z", "a" + R + "z"},
        TCase{"continuations in a row", "\x80\xBF\x80", R + R + R},
        // Truncated sequences: one U+FFFD for what was begun.
        TCase{"two-byte lead at the end", "a\xC3", "a" + R},
        TCase{"three of four bytes at the end", "\xF0\x9F\x98", R},
        TCase{"two of three bytes before ASCII", "\xE2\x82z", R + "z"},
        TCase{"cut then a new lead", "\xE2\x82\xC3\xA9", R + "\xC3\xA9"},
        // The standard's example: 61 F1 80 80 E1 80 C2 62 80 63 80 BF 64.
        TCase{"the standard's example", "\x61\xF1\x80\x80\xE1\x80\xC2\x62\x80\x63\x80\xBF\x64",
              "a" + R + R + R + "b" + R + "c" + R + R + "d"}));

TEST(Utf8Decode, GivesTheCodePointAndLength) {
    struct {
        std::string In;
        char32_t CodePoint;
        std::size_t Length;
        bool WellFormed;
    } const cases[] = {
        {"A", U'A', 1, true},
        {"\xC3\xA9", 0xE9, 2, true},
        {"\xE2\x82\xAC", 0x20AC, 3, true},
        {"\xF4\x8F\xBF\xBF", 0x10FFFF, 4, true},
        {"\xF0\x9F\x98", 0xFFFD, 3, false},
        {"\xE0\x80", 0xFFFD, 1, false},
        {"\xF4\x90", 0xFFFD, 1, false},
    };
    for (const auto& c : cases) {
        const corvane::utf8::TStep step = corvane::utf8::Decode(c.In, 0);
        EXPECT_EQ(step.CodePoint, c.CodePoint) << c.In;
        EXPECT_EQ(step.Length, c.Length) << c.In;
        EXPECT_EQ(step.WellFormed, c.WellFormed) << c.In;
    }
}

TEST(Utf8Append, EncodesScalarValuesAndReplacesTheRest) {
    const struct {
        char32_t In;
        std::string Out;
    } cases[] = {{U'a', "a"},          {0x7FF, "\xDF\xBF"},     {0x800, "\xE0\xA0\x80"},
                 {0xFFFF, "\xEF\xBF\xBF"}, {0x10000, "\xF0\x90\x80\x80"}, {0x10FFFF, "\xF4\x8F\xBF\xBF"},
                 {0xD800, R},          {0xDFFF, R},             {0x110000, R}};
    for (const auto& c : cases) {
        std::string out;
        corvane::utf8::Append(out, c.In);
        EXPECT_EQ(out, c.Out) << static_cast<unsigned long>(c.In);
    }
}

// Every scalar value round-trips through the encoder and the decoder.
TEST(Utf8Append, EveryScalarValueDecodesBack) {
    for (char32_t c = 0; c <= corvane::utf8::kLastCodePoint; ++c) {
        if (!corvane::utf8::IsScalarValue(c)) continue;
        std::string text;
        corvane::utf8::Append(text, c);
        const corvane::utf8::TStep step = corvane::utf8::Decode(text, 0);
        ASSERT_TRUE(step.WellFormed && step.CodePoint == c && step.Length == text.size()) << static_cast<unsigned long>(c);
    }
}

}  // namespace
