// Trailing-separator trimming under code page 932: a final double-byte
// character whose second byte is 0x5C (the backslash's code) is not a
// separator.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstring>
#include <string>

#include "script/option_tables.h"
#include "script/site_writers.h"
#include "support/fake_host.h"
#include "support/script_file.h"

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


// Site locations: the slash conversion and the separator searches are byte
// searches, but the one trailing separator is found by whole characters.
TEST(CodePage932, SiteLocationsTrimOnlyARealTrailingSeparator)
{
    struct Case {
        const char *name;
        const char *key;
        std::string location;
        std::string line;
    } cases[] = {
        {"FTP, final double-byte character", "szFTPLocation", "host/dir\x95\x5c", "FTP host, dir\x95/, passive"},
        {"FTP, trailing slash after it", "szFTPLocation", "host/dir\x95\x5c/", "FTP host, dir\x95/, passive"},
        {"LOCAL, final double-byte character", "szUNCLocation", "D:\\upd\x95\x5c", "LOCAL D:\\upd\x95\x5c"},
        {"LOCAL, trailing backslash after it", "szUNCLocation", "D:\\upd\x95\x5c\\", "LOCAL D:\\upd\x95\x5c"},
    };
    ASSERT_EQ(GetACP(), 932u);
    for (const Case &c : cases) {
        qritest::FakeSettings settings;
        settings.Set("S", c.key, c.location);
        settings.Set("S", "bAnonymousLogin", "1");
        settings.Set("S", "bProxy", "0");
        qritest::ScriptFile script;
        qri::SettingSource source = qritest::TaskSource(settings);
        int result = std::string(c.key) == "szFTPLocation" ? qri::WriteFtpSite(source, script.Stream(), "S")
                                                           : qri::WriteUncSite(source, script.Stream(), "S");
        EXPECT_EQ(result, 1) << c.name;
        EXPECT_EQ(script.Bytes(), "\r\n\t" + c.line) << c.name;
    }
}

} // namespace
