// Keywords a user may paste into the filter: a megabyte long, or made of bytes
// above 0x7F. The searches give the same results as for any other keyword.

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>

#include "FastStrings/FastStrings.h"

namespace {

std::string RandomLetters(std::size_t n, std::uint64_t seed) {
    std::mt19937_64 random(seed);
    std::string s(n, ' ');
    for (char& c : s) c = static_cast<char>('a' + random() % 26);
    return s;
}

std::string Upper(std::string s) {
    for (char& c : s) c = static_cast<char>(UpperTable[static_cast<unsigned char>(c)]);
    return s;
}

TEST(BadKeyword, AMegabyteLong) {
    const std::string keyword = RandomLetters(1 << 20, 1);
    const std::string before = RandomLetters(2 << 20, 2);
    const std::string text = before + Upper(keyword) + "tail";
    const int at = static_cast<int>(before.size()) + 1;
    EXPECT_EQ(FindText(keyword, text, false, 1, true), at);
    EXPECT_EQ(FindText(keyword, text, true, 1, true), 0);
    EXPECT_EQ(FindText(keyword, text, false, 0, false), at);
    EXPECT_EQ(FindText(keyword, text, false, at + 1, true), 0);
    EXPECT_EQ(FindText(keyword, keyword, true, 1, true), 1);
    EXPECT_EQ(FindText(keyword, keyword.substr(1), false, 1, true), 0);  // longer than the text
    EXPECT_EQ(FindText(keyword, keyword.substr(1), false, 0, false), 0);
}

// Keywords of repeats over text of the same repeats: the worst case of a scan
// that compares the whole keyword at each position. The long-keyword search
// must find what a plain search finds, at every kind of near miss.
TEST(BadKeyword, LongRepeatsFindWhatAPlainSearchFinds) {
    std::mt19937_64 random(3);
    for (int round = 0; round < 300; ++round) {
        const std::size_t len = 60 + random() % 200;  // both sides of the long-keyword limit
        std::string keyword(len, 'a');
        for (int k = static_cast<int>(random() % 3); k > 0; --k) keyword[random() % len] = "bAB"[random() % 3];
        std::string text(len * (2 + random() % 6), 'A');
        for (int k = static_cast<int>(random() % 4); k > 0; --k) text[random() % text.size()] = "bBa"[random() % 3];
        if (random() % 2) text.replace(random() % (text.size() - len), len, round % 2 ? Upper(keyword) : keyword);
        for (const bool caseSensitive : {false, true}) {
            const std::string k = caseSensitive ? keyword : Upper(keyword), t = caseSensitive ? text : Upper(text);
            const auto plain = t.find(k);
            const int expected = plain == std::string::npos ? 0 : static_cast<int>(plain) + 1;
            const int start = static_cast<int>(random() % 3);
            const auto plainFrom = t.find(k, static_cast<std::size_t>(std::max(start, 1) - 1));
            EXPECT_EQ(FindText(keyword, text, caseSensitive, 1, true), expected) << round;
            EXPECT_EQ(FindText(keyword, text, caseSensitive, start, true),
                      plainFrom == std::string::npos ? 0 : static_cast<int>(plainFrom) + 1)
                << round;
        }
    }
}

TEST(BadKeyword, BytesAboveSevenF) {
    std::string high;
    for (int b = 0x80; b <= 0xFF; ++b) high += static_cast<char>(b);
    const std::string text = "plain " + Upper(high) + " end";
    EXPECT_EQ(FindText(high, text, false, 1, true), 7);
    EXPECT_EQ(FindText(high, text, false, 0, false), 7);
    EXPECT_EQ(FindText(high, text, true, 1, true), 0);  // the code page upper-cases some of them
    EXPECT_EQ(FindText(high, "plain " + high, true, 1, true), 7);
    // Each high byte alone finds its upper-case form, and no byte below 0x80.
    for (int b = 0x80; b <= 0xFF; ++b) {
        const std::string one(1, static_cast<char>(b));
        const std::string upper = Upper(one);
        EXPECT_EQ(FindText(one, "abc" + upper, false, 1, true), 4) << b;
        EXPECT_EQ(FindText(one, "abcABC019", false, 1, true), 0) << b;
    }
}

}  // namespace
