// Charset conversion through the system's converters.

#include <gtest/gtest.h>

#include "platform/Charsets.h"

using namespace corvane::charsets;

TEST(Charsets, MailCharsetsToUtf8) {
    struct Case {
        const char* charset;
        std::string bytes;
        const char* utf8;
    } cases[] = {
        {"ISO-8859-1", "caf\xE9", "café"},
        {"iso-8859-2", "\xAE", "Ž"},
        {"iso-8859-15", "\xA4", "€"},
        {"KOI8-R", "\xF0\xD2\xC9", "При"},
        {"windows-1251", "\xCF\xF0\xE8", "При"},
        {"Windows-1252", "\x80\x93", "€“"},
        {"Shift_JIS", "\x93\xFA\x96\x7B", "日本"},
        {"utf-8", "\xE2\x9C\x93", "✓"},
        {"ks_c_5601-1987", "\xC7\xD1", "한"},
        {"gb2312", "\xD6\xD0", "中"},
        {"utf-8", "a\xFF" "b", "a\xEF\xBF\xBD" "b"},  // no character: U+FFFD, then on
    };
    for (const Case& c : cases) {
        const auto text = ToUtf8(c.bytes, c.charset);
        ASSERT_TRUE(text.has_value()) << c.charset;
        EXPECT_EQ(*text, c.utf8) << c.charset;
    }
}

TEST(Charsets, UnknownAndMalformedNames) {
    EXPECT_FALSE(ToUtf8("x", "x-no-such-charset").has_value());
    EXPECT_FALSE(ToUtf8("x", "utf-8//TRANSLIT").has_value());
    EXPECT_FALSE(ToUtf8("x", "").has_value());
    EXPECT_EQ(CanonicalName(" \"UTF8\" "), "utf-8");
    EXPECT_EQ(CanonicalName("x-sjis"), "shift_jis");
    EXPECT_EQ(CanonicalName("a b"), "");
}
