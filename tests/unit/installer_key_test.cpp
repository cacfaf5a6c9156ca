// Installer directory lookup and the property reporter.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "registry/installer_key.h"
#include "support/fake_host.h"
#include "support/scratch.h"

namespace {

using qritest::ScratchInstallerKey;

TEST(InstallerDirectory, LengthAndCapacityLimits)
{
    struct Case {
        const char *name;
        std::string stored; // REG_SZ with its zero
        DWORD capacity;
        bool expected;
    } cases[] = {
        {"259 characters", "C:\\" + std::string(256, 'd'), 260, true},
        {"260 characters", "C:\\" + std::string(257, 'd'), 260, false},
        {"short", "C:\\Inst", 260, true},
        {"capacity 259", "C:\\Inst", 259, false},
        {"capacity 0", "C:\\Inst", 0, false},
        {"larger capacity", "C:\\" + std::string(297, 'd'), 1024, true},
        // Only an absolute path names the installer's own directory.
        {"lower-case drive", "c:\\Inst", 260, true},
        {"UNC path", "\\\\server\\share\\Inst", 260, true},
        // Forward slashes are separators to every file function.
        {"drive and forward slash", "C:/QRI/Installer", 260, true},
        {"drive root with a forward slash", "C:/", 260, true},
        {"UNC path with forward slashes", "//server/share/QRI", 260, true},
        {"UNC path with mixed separators", "\\\\server/share\\QRI", 260, true},
        {"UNC path opened by mixed separators", "/\\server\\share", 260, true},
        {"drive path with mixed separators", "C:/QRI\\Installer", 260, true},
        {"relative", "AAAA", 260, false},
        {"rooted on the current drive", "\\AAAA", 260, false},
        {"relative to a drive's directory", "C:AAAA", 260, false},
        {"drive alone", "C:", 260, false},
        {"no server after two backslashes", "\\\\", 260, false},
        {"server without a share", "\\\\server", 260, false},
        {"server with an empty share", "\\\\server\\", 260, false},
        {"rooted on the current drive, forward slash", "/AAAA", 260, false},
        {"relative with forward slashes", "AAAA/BBBB", 260, false},
        {"forward slashes, server without a share", "//server", 260, false},
        {"forward slashes, empty share", "//server//share", 260, false},
        {"two forward slashes alone", "//", 260, false},
        {"empty text", "", 260, false},
    };
    for (const Case &c : cases) {
        ScratchInstallerKey key;
        key.SetText("Installation Directory", c.stored);
        char buffer[1025];
        std::memset(buffer, 0xbd, sizeof buffer);
        EXPECT_EQ(qri::GetInstallerDirectory(buffer, c.capacity), c.expected) << c.name;
        if (c.expected) {
            EXPECT_EQ(std::string(buffer), c.stored) << c.name;
        }
        if (c.capacity < sizeof buffer) {
            EXPECT_EQ(static_cast<unsigned char>(buffer[c.capacity]), 0xbd) << c.name << ": written past capacity";
        }
    }
}

TEST(InstallerDirectory, FailsWithoutKeyValueOrData)
{
    char buffer[260];
    ScratchInstallerKey::DeleteKey();
    EXPECT_FALSE(qri::GetInstallerDirectory(buffer, sizeof buffer)) << "absent key";
    EXPECT_FALSE(qri::GetInstallerDirectory(nullptr, 260)) << "no buffer";

    ScratchInstallerKey key;
    EXPECT_FALSE(qri::GetInstallerDirectory(buffer, sizeof buffer)) << "absent value";
    key.SetRaw("Installation Directory", REG_SZ, "");
    EXPECT_FALSE(qri::GetInstallerDirectory(buffer, sizeof buffer)) << "0-byte value";
    key.SetDword("Installation Directory", 0x41414141);
    EXPECT_FALSE(qri::GetInstallerDirectory(buffer, sizeof buffer)) << "a number read as four characters";
}

TEST(InstallerDirectory, TextStoredWithoutItsZeroIsTerminated)
{
    ScratchInstallerKey key;
    key.SetRaw("Installation Directory", REG_SZ, "C:\\NoZero");
    char buffer[260];
    std::memset(buffer, 'x', sizeof buffer);
    ASSERT_TRUE(qri::GetInstallerDirectory(buffer, sizeof buffer));
    EXPECT_STREQ(buffer, "C:\\NoZero");

    // 260 bytes without a zero cannot be terminated within 260.
    key.SetRaw("Installation Directory", REG_SZ, "C:\\" + std::string(257, 'd'));
    EXPECT_FALSE(qri::GetInstallerDirectory(buffer, sizeof buffer));
    key.SetRaw("Installation Directory", REG_SZ, "C:\\" + std::string(256, 'd'));
    ASSERT_TRUE(qri::GetInstallerDirectory(buffer, sizeof buffer));
    EXPECT_EQ(std::strlen(buffer), 259u);
}

TEST(PropertyReporter, KindDecidesCapacityAndFlag)
{
    ScratchInstallerKey scratch;
    scratch.SetText("Text", "abcd");
    scratch.SetDword("Number", 0x01020304);
    scratch.SetRaw("NoZero", REG_SZ, "xyz");
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyA(HKEY_LOCAL_MACHINE, qri::kInstallerKeyPath, &key), ERROR_SUCCESS);

    qritest::PropertyRecorder recorder;
    int context = 0;
    auto report = [&context](HKEY from, const char *name, DWORD type) {
        return qri::ReportProperty(&context, qritest::PropertyRecorder::Sink, from, "General", name, type);
    };
    EXPECT_EQ(report(key, "Text", REG_SZ), 1);
    EXPECT_EQ(report(key, "Number", REG_DWORD), 1);
    EXPECT_EQ(report(key, "Text", REG_DWORD), 0) << "4 bytes of room for a 5-byte text value";
    EXPECT_EQ(report(key, "Text", REG_BINARY), 0);
    EXPECT_EQ(report(key, "NoZero", REG_SZ), 1);
    EXPECT_EQ(report(nullptr, "Text", REG_SZ), 0);
    RegCloseKey(key);

    ASSERT_EQ(recorder.reports.size(), 3u);
    EXPECT_EQ(recorder.reports[0].data, std::string("abcd", 5));
    EXPECT_EQ(recorder.reports[0].valueKind, 0);
    EXPECT_EQ(recorder.reports[0].dataSize, 5u);
    EXPECT_EQ(recorder.reports[1].valueKind, 1);
    EXPECT_EQ(recorder.reports[1].dataSize, 4u);
    EXPECT_EQ(recorder.reports[1].data, std::string("\x04\x03\x02\x01", 4));
    // Windows returns the 3 bytes as stored; Wine adds the zero itself.
    EXPECT_EQ(recorder.reports[2].data.substr(0, 3), "xyz");
    EXPECT_LE(recorder.reports[2].dataSize, 4u);
}

} // namespace
