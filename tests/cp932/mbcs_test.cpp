// Trailing-separator trimming under code page 932: a final double-byte
// character whose second byte is 0x5C (the backslash's code) is not a
// separator.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstring>
#include <string>

#include "script/option_tables.h"

namespace {

TEST(CodePage932, EnvironmentSelectsIt)
{
    ASSERT_EQ(GetACP(), 932u) << "run with LC_ALL=ja_JP.UTF-8";
}

TEST(CodePage932, TrimTrailingBackslashKeepsDoubleByteCharacters)
{
    struct Case {
        const char *name;
        std::string text;
        std::string expected;
    } cases[] = {
        {"final double-byte character ending in 0x5C", "C:\\\x95\x5c", "C:\\\x95\x5c"},
        {"double-byte character, then a backslash", "C:\\\x95\x5c\\", "C:\\\x95\x5c"},
        {"plain trailing backslash", "C:\\dir\\", "C:\\dir"},
        {"two trailing backslashes", "C:\\dir\\\\", "C:\\dir\\"},
        {"empty", "", ""},
    };
    ASSERT_EQ(GetACP(), 932u);
    for (const Case &c : cases) {
        char text[64] = {};
        std::memcpy(text, c.text.data(), c.text.size());
        qri::TrimTrailingBackslash(text);
        EXPECT_EQ(std::string(text), c.expected) << c.name;
    }
}

} // namespace
