#include "monitor/core/text.h"

#include <gtest/gtest.h>
#include <string.h>

TEST(CopyText, CopiesWholeTextThatFits) {
    char dst[6];
    memset(dst, 'x', sizeof dst);
    EXPECT_TRUE(CopyText(dst, sizeof dst, "hello"));
    EXPECT_STREQ("hello", dst);
}

TEST(CopyText, CutsAndTerminatesTextThatDoesNotFit) {
    char dst[8];
    memset(dst, 'x', sizeof dst);
    EXPECT_FALSE(CopyText(dst, 5, "hello"));
    EXPECT_STREQ("hell", dst);
    EXPECT_EQ('x', dst[5]); // nothing past the capacity
}

TEST(CopyText, NullSourceGivesEmptyText) {
    char dst[4] = "abc";
    EXPECT_TRUE(CopyText(dst, sizeof dst, nullptr));
    EXPECT_STREQ("", dst);
}

TEST(CopyTextN, CopiesUnterminatedBytes) {
    const char bytes[] = {'a', 'b', 'c', 'd'};
    char dst[8];
    EXPECT_TRUE(CopyTextN(dst, sizeof dst, bytes, 3));
    EXPECT_STREQ("abc", dst);
    EXPECT_FALSE(CopyTextN(dst, 3, bytes, 4));
    EXPECT_STREQ("ab", dst);
}

TEST(AppendText, AppendsWithinCapacity) {
    char dst[8] = "ab";
    EXPECT_TRUE(AppendText(dst, sizeof dst, "cd"));
    EXPECT_STREQ("abcd", dst);
    EXPECT_FALSE(AppendText(dst, sizeof dst, "efgh"));
    EXPECT_STREQ("abcdefg", dst);
}

TEST(FormatText, ReportsResultsThatDoNotFit) {
    char dst[8];
    EXPECT_EQ(5, FormatText(dst, sizeof dst, "%s:%d", "ab", 12));
    EXPECT_STREQ("ab:12", dst);
    EXPECT_EQ(-1, FormatText(dst, 4, "%s", "abcdef"));
    EXPECT_STREQ("abc", dst);
}

TEST(CompareNoCaseN, IgnoresAsciiCaseOnly) {
    EXPECT_EQ(0, CompareNoCaseN("HTTP://x", "http://y", 7));
    EXPECT_NE(0, CompareNoCaseN("htp", "http", 4));
    EXPECT_EQ(0, CompareNoCaseN("ab", "AB", 10));
}
