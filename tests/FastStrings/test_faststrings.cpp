// The search routines: upper-case table, skip tables, the four searches, the
// character search and the byte copy.

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "FastStrings/FastStrings.h"
#include "platform/Errors.h"

namespace {

// Upper-casing of Windows-1252 as the system gives it, written out byte by byte.
unsigned char Upper1252(unsigned char b) {
    if (b >= 'a' && b <= 'z') return static_cast<unsigned char>(b - 0x20);
    if (b >= 0xE0 && b <= 0xFE && b != 0xF7) return static_cast<unsigned char>(b - 0x20);
    switch (b) {
        case 0x9A: return 0x8A;
        case 0x9C: return 0x8C;
        case 0x9E: return 0x8E;
        case 0xFF: return 0x9F;
        default: return b;
    }
}

// A search run during start-up, before main: the table must already be usable.
const int kFoundDuringStartUp = FindText("\xE9t\xC9", "xx\xC9T\xE9", false, 1, true);

std::string B(std::initializer_list<int> bytes) {
    std::string s;
    for (int b : bytes) s += static_cast<char>(b);
    return s;
}

std::int64_t Len(const std::string& s) { return static_cast<std::int64_t>(s.size()); }

}  // namespace

TEST(UpperTable, HoldsTheCodePageUpperCasing) {
    ASSERT_EQ(UpperTable.size(), 256u);
    for (int b = 0; b < 256; ++b)
        EXPECT_EQ(UpperTable[static_cast<unsigned char>(b)], Upper1252(static_cast<unsigned char>(b))) << "byte " << b;
    EXPECT_EQ(UpperTable[0xB5], 0xB5);  // micro sign has no capital here
    EXPECT_EQ(UpperTable[0xDF], 0xDF);  // nor sharp s
    EXPECT_EQ(UpperTable[0xF7], 0xF7);  // division sign
    EXPECT_EQ(UpperTable[0], 0);
}

TEST(UpperTable, IsReadyBeforeMain) { EXPECT_EQ(kFoundDuringStartUp, 3); }

TEST(SkipTable, HoldsDistancesFromTheLastOccurrenceBeforeTheFinalByte) {
    TSkipTable t;
    BuildSkipTable("abcab", 5, t);
    EXPECT_EQ(t['a'], 1);
    EXPECT_EQ(t['b'], 3);
    EXPECT_EQ(t['c'], 2);
    for (int b = 0; b < 256; ++b) {
        if (b != 'a' && b != 'b' && b != 'c') {
            EXPECT_EQ(t[b], 5) << b;
        }
    }
    EXPECT_EQ(t['A'], 5);

    BuildSkipTable("x", 1, t);  // the last byte gets no entry of its own
    EXPECT_EQ(t['x'], 1);

    BuildSkipTableIgnoreCase("abcab", 5, t);
    EXPECT_EQ(t['A'], 1);
    EXPECT_EQ(t['B'], 3);
    EXPECT_EQ(t['C'], 2);
    EXPECT_EQ(t['a'], 5);  // only upper-case forms are lowered
    BuildSkipTableIgnoreCase("\xFF\x41", 2, t);
    EXPECT_EQ(t[0x9F], 1);
    EXPECT_EQ(t[0xFF], 2);
}

TEST(SkipScan, GivesTheAddressOfTheFirstMatchInTheRange) {
    const std::string text = "xxabcabcab";
    TSkipTable t;
    BuildSkipTable("cab", 3, t);
    EXPECT_EQ(SkipScan(text.data(), "cab", Len(text), t, 3), text.data() + 4);
    EXPECT_EQ(SkipScan(text.data() + 5, "cab", 5, t, 3), text.data() + 7);
    EXPECT_EQ(SkipScan(text.data() + 5, "cab", 4, t, 3), nullptr);  // range ends before the match does
    EXPECT_EQ(SkipScan(text.data(), "cab", 2, t, 3), nullptr);      // range shorter than the pattern
    BuildSkipTableIgnoreCase("CaB", 3, t);
    EXPECT_EQ(SkipScanIgnoreCase(text.data(), "CaB", Len(text), t, 3), text.data() + 4);
}

TEST(FindForward, EdgeCases) {
    // Longer than the text, in every search.
    for (bool cs : {true, false})
        for (bool fw : {true, false}) EXPECT_EQ(FindText("abcd", "abc", cs, 1, fw), 0);
    EXPECT_EQ(FindText("ab", "abxyz", true, 1, true), 1);
    EXPECT_EQ(FindText("yz", "abxyz", true, 1, true), 4);
    // Positions count from the text's start, not from StartPos.
    EXPECT_EQ(FindText("key", "abcdefgkey", true, 5, true), 8);
    EXPECT_EQ(FindText("key", "keyabcdefg", true, 2, true), 0);
    // Past the last position where the pattern fits, and past the text's end.
    const std::string text = "abcdefab";
    EXPECT_EQ(FindForward(text.data(), "ab", 8, 2, 7), 7);
    EXPECT_EQ(FindForward(text.data(), "ab", 8, 2, 8), 0);
    EXPECT_EQ(FindForward(text.data(), "ab", 8, 2, 9), 0);
    EXPECT_EQ(FindForward(text.data(), "ab", 8, 2, 1000), 0);
    // Only TextLen bytes are searched: no reading on into what follows.
    EXPECT_EQ(FindForward(text.data(), "ab", 7, 2, 2), 0);
    // One byte, repeated letters and overlapping occurrences.
    EXPECT_EQ(FindText("d", "abcdd", true, 1, true), 4);
    EXPECT_EQ(FindText("aa", "aaa", true, 1, true), 1);
    EXPECT_EQ(FindText("aa", "aaa", true, 2, true), 2);
    EXPECT_EQ(FindText("aaa", "baabaaab", true, 1, true), 5);
    EXPECT_EQ(FindText("abab", "abaababab", true, 1, true), 4);
    // An empty text gives 0.
    EXPECT_EQ(FindText("a", "", true, 1, true), 0);
    EXPECT_EQ(FindText("a", "", false, 1, true), 0);
    // A StartPos below 1 searches from the first byte, never before it.
    EXPECT_EQ(FindText("ab", "abab", true, 0, true), 1);
    EXPECT_EQ(FindText("AB", "abab", false, -7, true), 1);
    // NUL is an ordinary byte.
    EXPECT_EQ(FindText(std::string("b\0c", 3), std::string("ab\0cd", 5), true, 1, true), 2);
}

TEST(FindForward, IgnoringCaseFollowsTheCodePage) {
    EXPECT_EQ(FindText("message", "A MESSAGE", false, 1, true), 3);
    EXPECT_EQ(FindText("MeSsAgE", "a message", false, 1, true), 3);
    EXPECT_EQ(FindText("message", "A MESSAGE", true, 1, true), 0);
    EXPECT_EQ(FindText("caf\xE9", "CAF\xC9!", false, 1, true), 1);         // é / É
    EXPECT_EQ(FindText("\xFF\x9A\x9C\x9E", "-\x9F\x8A\x8C\x8E", false, 1, true), 2);  // ÿ š œ ž
    EXPECT_EQ(FindText("\xB5", "M", false, 1, true), 0);                  // µ pairs with nothing
    EXPECT_EQ(FindText("\xDF", "SS", false, 1, true), 0);                 // ß neither
    EXPECT_EQ(FindText("\xF7", "\xD7", false, 1, true), 0);               // ÷ is not ×
    EXPECT_EQ(FindText("\xE9", "\xC9", true, 1, true), 0);
}

TEST(EmptyPattern, RaisesForwardOnly) {
    auto raises = [](auto call) {
        try {
            call();
        } catch (const ECorvaneError& e) {
            return std::string(e.what()) == "BufferLen is 0";
        }
        return false;
    };
    EXPECT_TRUE(raises([] { FindText("", "text", true, 1, true); }));
    EXPECT_TRUE(raises([] { FindText("", "text", false, 1, true); }));
    EXPECT_TRUE(raises([] { FindText("", "", true, 1, true); }));
    EXPECT_TRUE(raises([] { FindForward("text", "", 4, 0, 1); }));
    EXPECT_TRUE(raises([] { FindForwardIgnoreCase("text", "", 4, 0, 1); }));
    TSkipTable t;
    EXPECT_TRUE(raises([&] { BuildSkipTable("", 0, t); }));
    EXPECT_TRUE(raises([&] { BuildSkipTableIgnoreCase("", 0, t); }));
    // Backward searches never raise.
    EXPECT_EQ(FindText("", "text", true, 0, false), 0);
    EXPECT_EQ(FindText("", "text", false, 0, false), 0);
}

TEST(FindBackward, EdgeCases) {
    const std::string text = "abXabYab";
    EXPECT_EQ(FindText("ab", text, true, 0, false), 7);  // from the end
    EXPECT_EQ(FindText("ab", text, true, 6, false), 4);
    EXPECT_EQ(FindText("ab", text, true, 4, false), 4);
    EXPECT_EQ(FindText("ab", text, true, 3, false), 1);
    EXPECT_EQ(FindText("ab", text, true, 1, false), 1);  // position 1 alone
    EXPECT_EQ(FindText("bX", text, true, 1, false), 0);
    EXPECT_EQ(FindText("ab", text, true, 100, false), 7);  // past the last fit: from the last fit
    EXPECT_EQ(FindText("aa", "aaa", true, 0, false), 2);
    EXPECT_EQ(FindText("AB", text, false, 0, false), 7);
    EXPECT_EQ(FindText("\xE9", "\xC9x\xE9y", false, 0, false), 3);
    EXPECT_EQ(FindText("\xE9", "\xC9x\xE9y", false, 2, false), 1);
    EXPECT_EQ(FindText("a", "", true, 0, false), 0);
}

TEST(FindCharFrom, EdgeCases) {
    EXPECT_EQ(FindCharFrom("From: A", ':', 1), 5);
    EXPECT_EQ(FindCharFrom("a:b:c", ':', 3), 4);
    EXPECT_EQ(FindCharFrom("a:b:c", ':', 5), 0);
    EXPECT_EQ(FindCharFrom("abc:", ':', 4), 4);  // StartPos at the length: the last byte alone
    EXPECT_EQ(FindCharFrom("abc:", ':', 5), 0);
    EXPECT_EQ(FindCharFrom("", ':', 1), 0);
    EXPECT_EQ(FindCharFrom(":a", ':', 0), 1);  // below 1: from the first byte
    EXPECT_EQ(FindCharFrom(":a", ':', -3), 1);
    EXPECT_EQ(FindCharFrom("aAa", 'A', 1), 2);  // case counts
    EXPECT_EQ(FindCharFrom(B({'x', 0, 0xFF}), static_cast<char>(0xFF), 1), 3);
    EXPECT_EQ(FindCharFrom(B({'x', 0, 0xFF}), '\0', 1), 2);
}

TEST(CopyChars, CopiesOneByteAtATimeFromFirstToLast) {
    std::string s = "abcdef";
    CopyChars(s.data(), s.data() + 1, 4);  // forward over itself: the first byte repeats
    EXPECT_EQ(s, "aaaaaf");
    std::string d = "xyz";
    CopyChars("abc", d.data(), 0);
    EXPECT_EQ(d, "xyz");
    CopyChars(std::string("a\0b", 3).data(), d.data(), 3);
    EXPECT_EQ(d, std::string("a\0b", 3));
}

// The four searches against a plain search, over a small alphabet with bytes
// above 0x7F and their case partners so that matches overlap and pair across case.
namespace {

bool SameByte(unsigned char a, unsigned char b, bool cs) { return cs ? a == b : Upper1252(a) == Upper1252(b); }

bool MatchesAt(const std::string& t, const std::string& p, std::size_t at, bool cs) {
    for (std::size_t k = 0; k < p.size(); ++k)
        if (!SameByte(static_cast<unsigned char>(t[at + k]), static_cast<unsigned char>(p[k]), cs)) return false;
    return true;
}

std::int64_t PlainForward(const std::string& t, const std::string& p, std::int64_t start, bool cs) {
    for (std::int64_t pos = start; pos + Len(p) - 1 <= Len(t); ++pos)
        if (MatchesAt(t, p, static_cast<std::size_t>(pos - 1), cs)) return pos;
    return 0;
}

std::int64_t PlainBackward(const std::string& t, const std::string& p, std::int64_t start, bool cs) {
    if (p.empty() || p.size() > t.size()) return 0;
    const std::int64_t lastFit = Len(t) - Len(p) + 1;
    if (start == 0 || start > lastFit) start = lastFit;
    for (std::int64_t pos = start; pos >= 1; --pos)
        if (MatchesAt(t, p, static_cast<std::size_t>(pos - 1), cs)) return pos;
    return 0;
}

}  // namespace

TEST(Searches, AgreeWithAPlainSearch) {
    const std::vector<unsigned char> alphabet = {'a', 'A', 'b', 'B', 0xE9, 0xC9, 0xFF, 0x9F, 0xB5, 0xDF, 0x00, ':'};
    std::mt19937 rng(20261208);
    auto pick = [&](std::size_t n) {
        std::string s;
        for (std::size_t i = 0; i < n; ++i) s += static_cast<char>(alphabet[rng() % alphabet.size()]);
        return s;
    };
    int found = 0;
    for (int round = 0; round < 4000; ++round) {
        const std::string text = pick(rng() % (round % 4 == 0 ? 120 : 40));
        std::string pattern = pick(1 + rng() % 6);
        if (!text.empty() && rng() % 3 == 0) {  // often a piece of the text, so that it is found
            const std::size_t at = rng() % text.size();
            pattern = text.substr(at, 1 + rng() % std::min<std::size_t>(6, text.size() - at));
        }
        for (std::int64_t start = 0; start <= Len(text) + 2; ++start) {
            for (bool cs : {true, false}) {
                const std::int64_t fw = PlainForward(text, pattern, std::max<std::int64_t>(start, 1), cs);
                if (start >= 1) {
                    ASSERT_EQ(FindText(pattern, text, cs, static_cast<int>(start), true), fw)
                        << "forward cs=" << cs << " start=" << start;
                    ASSERT_EQ(FindText(std::string_view(pattern), std::string_view(text), cs, start, true), fw);
                    found += fw > 0;
                }
                const std::int64_t bw = PlainBackward(text, pattern, start, cs);
                ASSERT_EQ(FindText(pattern, text, cs, static_cast<int>(start), false), bw)
                    << "backward cs=" << cs << " start=" << start;
                ASSERT_EQ(FindText(std::string_view(pattern), std::string_view(text), cs, start, false), bw);
            }
        }
        // The skip-table scan on its own, over the range from every start.
        for (bool cs : {true, false}) {
            TSkipTable table;
            (cs ? BuildSkipTable : BuildSkipTableIgnoreCase)(pattern.data(), Len(pattern), table);
            for (std::int64_t start = 1; start <= Len(text); ++start) {
                const char* hit = (cs ? SkipScan : SkipScanIgnoreCase)(text.data() + start - 1, pattern.data(),
                                                                       Len(text) - start + 1, table, Len(pattern));
                const std::int64_t expected = PlainForward(text, pattern, start, cs);
                ASSERT_EQ(hit == nullptr ? 0 : hit - text.data() + 1, expected) << "scan cs=" << cs;
            }
        }
    }
    EXPECT_GT(found, 10000);  // the comparison covered many matches, not only misses
}

TEST(Searches, FindPatternsFarIntoALargeText) {
    std::string text(3'000'000, 'x');
    text.replace(2'999'990, 8, "NEEDLE!!");
    text.replace(1'234'567, 8, "needle!!");
    EXPECT_EQ(FindText("NEEDLE!!", text, true, 1, true), 2'999'991);
    EXPECT_EQ(FindText("NEEDLE!!", text, false, 1, true), 1'234'568);
    EXPECT_EQ(FindText("Needle!!", text, false, 1'234'569, true), 2'999'991);
    EXPECT_EQ(FindText("needle!!", text, true, 0, false), 1'234'568);
    EXPECT_EQ(FindText("NEEDLE!?", text, false, 1, true), 0);
}
