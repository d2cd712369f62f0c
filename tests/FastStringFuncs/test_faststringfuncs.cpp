// The substring copy and its clamping.

#include <gtest/gtest.h>

#include <climits>
#include <string>

#include "FastStringFuncs/FastStringFuncs.h"

TEST(CopyFrom, CopiesAndClamps) {
    const std::string s = "Subject: Hi\r\n";
    EXPECT_EQ(CopyFrom(s, 9, 3), " Hi");
    EXPECT_EQ(CopyFrom(s, 1, 7), "Subject");
    EXPECT_EQ(CopyFrom(s, 10, 100), "Hi\r\n");  // more than is left: the rest
    EXPECT_EQ(CopyFrom(s, 13, 1), "\n");
    EXPECT_EQ(CopyFrom(s, 14, 1), "");  // one past the end
    EXPECT_EQ(CopyFrom(s, 99, 5), "");
    EXPECT_EQ(CopyFrom(s, 0, 5), "");
    EXPECT_EQ(CopyFrom(s, -3, 5), "");
    EXPECT_EQ(CopyFrom(s, 1, 0), "");
    EXPECT_EQ(CopyFrom(s, 1, -1), "");
    EXPECT_EQ(CopyFrom("", 1, 1), "");
    EXPECT_EQ(CopyFrom(s, 2, INT_MAX), s.substr(1));  // no overflow in the clamping
    EXPECT_EQ(CopyFrom(s, INT_MAX, INT_MAX), "");
    EXPECT_EQ(CopyFrom(std::string("a\0b\0", 4), 2, 3), std::string("\0b\0", 3));
}
