// Decimal parsing, ASCII case folding and bounded text.
#include <gtest/gtest.h>

#include <climits>
#include <cstring>

#include "common/text.h"

namespace {

TEST(ParseDecimal, ReadsLeadingDigitsAfterBlanksAndSign)
{
    struct Case {
        const char *text;
        int expected;
    } cases[] = {
        {"0", 0},        {"1", 1},          {"  42", 42},      {"\t\n7", 7},     {"-5", -5},
        {"+9", 9},       {"12abc", 12},     {"64KB", 64},      {"abc", 0},       {"", 0},
        {"TRUE", 0},     {"yes", 0},        {"- 3", 0},        {"--3", 0},       {"-1", -1},
        {"2147483647", INT_MAX}, {"99999999999", INT_MAX}, {"-2147483648", INT_MIN}, {"-99999999999", INT_MIN},
        {"\x01", 0},     {"007", 7},        {"3 4", 3},
    };
    for (const Case &c : cases)
        EXPECT_EQ(qri::ParseDecimal(c.text), c.expected) << "text \"" << c.text << "\"";
    EXPECT_EQ(qri::ParseDecimal(nullptr), 0);
}

TEST(CaseFolding, FoldsOnlyAsciiLetters)
{
    EXPECT_TRUE(qri::EqualsNoCaseAscii("vkAutoUpdateTask", "VKAUTOUPDATETASK"));
    EXPECT_TRUE(qri::EqualsNoCaseAscii("vkautoupdatetask", "vkAutoUpdateTask"));
    EXPECT_FALSE(qri::EqualsNoCaseAscii("vkAutoUpdateTask ", "vkAutoUpdateTask"));
    EXPECT_FALSE(qri::EqualsNoCaseAscii("vkAutoUpdateTas", "vkAutoUpdateTask"));
    EXPECT_FALSE(qri::EqualsNoCaseAscii("\xC4", "\xE4")); // not ASCII: not folded
    EXPECT_TRUE(qri::StartsWithNoCaseAscii("BASE:core", "Base:"));
    EXPECT_TRUE(qri::StartsWithNoCaseAscii("bAsE:", "Base:"));
    EXPECT_FALSE(qri::StartsWithNoCaseAscii("Base", "Base:"));
    EXPECT_FALSE(qri::StartsWithNoCaseAscii("xBase:", "Base:"));
}

TEST(BoundedText, CopyAndFormatNeverWritePastTheBuffer)
{
    char buffer[8];
    std::memset(buffer, 0xbd, sizeof buffer);
    EXPECT_FALSE(qri::CopyBounded(buffer, 4, "abcdef"));
    EXPECT_STREQ(buffer, "abc");
    EXPECT_EQ(static_cast<unsigned char>(buffer[4]), 0xbd);

    EXPECT_TRUE(qri::CopyBounded(buffer, 4, "abc"));
    EXPECT_STREQ(buffer, "abc");

    std::memset(buffer, 0xbd, sizeof buffer);
    EXPECT_FALSE(qri::FormatBounded(buffer, 5, "%s-%d", "abc", 12));
    EXPECT_STREQ(buffer, "abc-");
    EXPECT_EQ(static_cast<unsigned char>(buffer[5]), 0xbd);
    EXPECT_FALSE(qri::FormatBounded(buffer, 8, "%lu", 4294967294ul));
    EXPECT_STREQ(buffer, "4294967");
}

TEST(BoundedText, TerminateWithinRejectsDataThatFillsTheBuffer)
{
    char buffer[4] = {'a', 'b', 'c', 'd'};
    EXPECT_FALSE(qri::TerminateWithin(buffer, 4, 4));
    buffer[3] = '\0';
    EXPECT_TRUE(qri::TerminateWithin(buffer, 4, 4));
    char shorter[4] = {'a', 'b', 'x', 'x'};
    EXPECT_TRUE(qri::TerminateWithin(shorter, 4, 2));
    EXPECT_STREQ(shorter, "ab");
}

} // namespace
