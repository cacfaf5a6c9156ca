// Option tables: the rows that become set lines of the Options section, the
// walk of the general table and the group walk with its controlling switches.
#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "script/option_tables.h"
#include "support/fake_host.h"
#include "support/script_file.h"
#include "support/trace_capture.h"

namespace {

using qritest::Crlf;
using qritest::FakeSettings;
using qritest::WriterOutcome;

constexpr char kGeneral[] = "AutoUpdate General";
constexpr unsigned char kCanary = 0xbd;

// The generation's setting buffer with a canary run just past its capacity.
struct SettingBuffer {
    SettingBuffer()
    {
        std::memset(bytes, 0, qri::kSettingCapacity);
        std::memset(bytes + qri::kSettingCapacity, kCanary, sizeof bytes - qri::kSettingCapacity);
    }
    bool CanaryIntact() const
    {
        for (std::size_t i = qri::kSettingCapacity; i < sizeof bytes; ++i) {
            if (static_cast<unsigned char>(bytes[i]) != kCanary)
                return false;
        }
        return true;
    }
    char bytes[qri::kSettingCapacity + 16];
};

enum class Walk { General, Groups, Both };

WriterOutcome RunWalk(const FakeSettings &settings, Walk walk, const qri::SettingSource &source)
{
    SettingBuffer setting;
    WriterOutcome out = qritest::RunOnScript(settings, kGeneral, [&](qri::ScriptText &stream) {
        if (walk != Walk::Groups)
            qri::WriteGeneralOptions(stream, source, kGeneral, setting.bytes);
        if (walk != Walk::General)
            qri::WriteOptionGroups(stream, source, kGeneral, setting.bytes);
        return 0;
    });
    EXPECT_TRUE(setting.CanaryIntact()) << "setting buffer written past its capacity";
    return out;
}

WriterOutcome RunWalk(FakeSettings &settings, Walk walk)
{
    return RunWalk(settings, walk, qritest::TaskSource(settings));
}

// The messages of a walk that read `keys` in order, `missing` among them absent.
std::vector<std::string> MessagesFor(const std::vector<std::string> &keys, const std::set<std::string> &missing)
{
    return qritest::ReadMessages(kGeneral, keys, missing);
}

// Keys and script variables are what the agent's settings and the installer
// engine's scripts are written against.
TEST(OptionTables, RowsNameTheSettingsAndScriptVariables)
{
    struct Row {
        const char *key;
        const char *variable;
        int type;
    };
    const Row general[] = {
        {"bRenameExisting", "BackupDats", 1},
        {"bRetrieveOnly", "RetrieveOnly", 1},
        {"bForceUpdate", "ForceUpdate", 1},
        {"bLogToFile", "LogToFile", 1},
        {"bLimitSize", "LimitSize", 1},
        {"bExecAfterUpdate", "RunProgram", 1},
        {"bUpdateIfNewEngine", "DoEngine", 1},
        {"szLocalUnpackDir", "LocalUnpackDir", 2},
        {"szReplicationDirectory", "ReplicationDirectory", 2},
        {"", "", 0},
    };
    const Row groups[] = {
        {"bLogToFile", "LogToFile", 1},
        {"szLogFileName", "LogFileName", 2},
        {"uMaxKiloBytes", "MaxKiloBytes", 3},
        {"bVerboseLogging", "LogVerbose", 1},
        {"", "", 0},
        {"bExecAfterUpdate", "RunProgram", 1},
        {"szShellScript", "ProgramToRun", 2},
        {"", "", 0},
        {"", "", 0},
    };
    ASSERT_EQ(qri::kGeneralOptionRows, 10);
    ASSERT_EQ(qri::kOptionGroupRows, 9);
    for (int i = 0; i < qri::kGeneralOptionRows; ++i) {
        EXPECT_STREQ(qri::kGeneralOptions[i].key, general[i].key) << "general row " << i;
        EXPECT_STREQ(qri::kGeneralOptions[i].scriptVariable, general[i].variable) << "general row " << i;
        EXPECT_EQ(qri::kGeneralOptions[i].type, general[i].type) << "general row " << i;
    }
    for (int i = 0; i < qri::kOptionGroupRows; ++i) {
        EXPECT_STREQ(qri::kOptionGroups[i].key, groups[i].key) << "group row " << i;
        EXPECT_STREQ(qri::kOptionGroups[i].scriptVariable, groups[i].variable) << "group row " << i;
        EXPECT_EQ(qri::kOptionGroups[i].type, groups[i].type) << "group row " << i;
    }
    EXPECT_EQ(sizeof(qri::OptionRow::key), 260u);
    EXPECT_EQ(sizeof(qri::OptionRow::scriptVariable), 260u);
}

TEST(GeneralOptions, ReadsEveryRowInOrderAndWritesOneLineEach)
{
    FakeSettings settings;
    qritest::SetAll(settings, kGeneral, qritest::kGeneralOptionValues);
    WriterOutcome out = RunWalk(settings, Walk::General);
    EXPECT_EQ(out.text, qritest::kGeneralOptionLines);
    const std::vector<std::string> keys = {"bRenameExisting",    "bRetrieveOnly",    "bForceUpdate",
                                           "bLogToFile",         "bLimitSize",       "bExecAfterUpdate",
                                           "bUpdateIfNewEngine", "szLocalUnpackDir", "szReplicationDirectory"};
    EXPECT_EQ(out.keys, keys);
    EXPECT_EQ(out.messages, MessagesFor(keys, {"bLimitSize"}));
}

TEST(GeneralOptions, SwitchValuesWriteTrueForAnyNonZeroNumber)
{
    struct Case {
        const char *value;
        const char *written;
    } cases[] = {
        {"1", "TRUE"}, {"0", "FALSE"},  {"2", "TRUE"},     {"-1", "TRUE"},   {"TRUE", "FALSE"}, {"yes", "FALSE"},
        {"", "FALSE"}, {"  7", "TRUE"}, {"\t+3x", "TRUE"}, {"0x1", "FALSE"}, {"-0", "FALSE"},   {"- 1", "FALSE"},
    };
    for (const Case &c : cases) {
        FakeSettings settings;
        settings.Set(kGeneral, "bForceUpdate", c.value);
        WriterOutcome out = RunWalk(settings, Walk::General);
        EXPECT_EQ(out.text, std::string("\r\n\tset ForceUpdate=") + c.written) << "value '" << c.value << "'";
    }
}

TEST(GeneralOptions, TextLosesOneTrailingBackslash)
{
    struct Case {
        const char *value;
        const char *written;
    } cases[] = {
        {"C:\\Temp\\Unpack\\", "C:\\Temp\\Unpack"},
        {"C:\\Temp\\\\", "C:\\Temp\\"},
        {"C:\\", "C:"},
        {"\\", ""},
        {"", ""},
        {"C:/Temp/", "C:/Temp/"},
        {"C:\\Temp\\ ", "C:\\Temp\\ "},
        {"D:\\with blank\\", "D:\\with blank"},
    };
    for (const Case &c : cases) {
        for (const char *key : {"szLocalUnpackDir", "szReplicationDirectory"}) {
            FakeSettings settings;
            settings.Set(kGeneral, key, c.value);
            WriterOutcome out = RunWalk(settings, Walk::General);
            std::string variable = key[2] == 'L' ? "LocalUnpackDir" : "ReplicationDirectory";
            EXPECT_EQ(out.text, "\r\n\tset " + variable + "=" + c.written) << key << " '" << c.value << "'";
        }
    }
}

TEST(GeneralOptions, TextThatTheReaderLeftUnterminatedStaysInTheBuffer)
{
    FakeSettings settings;
    settings.SetUnterminated(kGeneral, "szLocalUnpackDir");
    WriterOutcome out = RunWalk(settings, Walk::General);
    EXPECT_EQ(out.text, "\r\n\tset LocalUnpackDir=" + std::string(qri::kSettingCapacity - 1, 'x'));
}

// Rows read and lines written by the group walk for the combinations of its
// three switches; "not 1" is played by several values and by a missing setting.
TEST(OptionGroups, WalkFollowsTheControllingSwitches)
{
    const char *const missing = nullptr;
    struct Case {
        const char *name;
        const char *logToFile;
        const char *verbose;
        const char *exec;
        std::vector<std::string> keys;
        std::string text;
    };
    const std::vector<std::string> bothOn = {"bLogToFile",       "bLogToFile",      "szLogFileName",
                                             "uMaxKiloBytes",    "bVerboseLogging", "bExecAfterUpdate",
                                             "bExecAfterUpdate", "szShellScript"};
    const std::vector<std::string> logOnly = {"bLogToFile",      "bLogToFile",       "szLogFileName", "uMaxKiloBytes",
                                              "bVerboseLogging", "bExecAfterUpdate", "szShellScript"};
    const std::vector<std::string> verboseAndExec = {"bLogToFile",       "szLogFileName",   "uMaxKiloBytes",
                                                     "bVerboseLogging",  "bVerboseLogging", "bExecAfterUpdate",
                                                     "bExecAfterUpdate", "szShellScript"};
    const std::vector<std::string> verboseOnly = {"bLogToFile",      "szLogFileName",   "uMaxKiloBytes",
                                                  "bVerboseLogging", "bVerboseLogging", "bExecAfterUpdate",
                                                  "szShellScript"};
    const std::vector<std::string> execOnly = {"bLogToFile",      "szLogFileName",    "uMaxKiloBytes",
                                               "bVerboseLogging", "bExecAfterUpdate", "bExecAfterUpdate",
                                               "szShellScript"};
    const std::vector<std::string> allOff = {"bLogToFile",      "szLogFileName",    "uMaxKiloBytes",
                                             "bVerboseLogging", "bExecAfterUpdate", "szShellScript"};
    const std::string logLines = "\n\tset LogToFile=TRUE\n\tset LogFileName=C:\\Logs\\run.log\\\n\tset MaxKiloBytes=64";
    const std::string execLines = "\n\tset RunProgram=TRUE\n\tset ProgramToRun=C:\\Tools\\after.cmd";
    const Case cases[] = {
        {"1, 0, 1", "1", "0", "1", bothOn, logLines + "\n\tset LogVerbose=FALSE" + execLines},
        {"1, 1, 1", "1", "1", "1", bothOn, logLines + "\n\tset LogVerbose=TRUE" + execLines},
        {"1, 1, 0", "1", "1", "0", logOnly, logLines + "\n\tset LogVerbose=TRUE"},
        {"1, 2, 2", "1", "2", "2", logOnly, logLines + "\n\tset LogVerbose=TRUE"},
        {"1, missing, missing", "1", missing, missing, logOnly, logLines},
        {"0, 1, 1", "0", "1", "1", verboseAndExec, "\n\tset LogVerbose=TRUE" + execLines},
        {"-1, 1, 1", "-1", "1", "1", verboseAndExec, "\n\tset LogVerbose=TRUE" + execLines},
        {"2, 1, 0", "2", "1", "0", verboseOnly, "\n\tset LogVerbose=TRUE"},
        {"missing, 1, TRUE", missing, "1", "TRUE", verboseOnly, "\n\tset LogVerbose=TRUE"},
        {"0, 0, 1", "0", "0", "1", execOnly, execLines},
        {"yes, missing, 1", "yes", missing, "1", execOnly, execLines},
        {"0, 0, 0", "0", "0", "0", allOff, ""},
        {"missing, -1, 2", missing, "-1", "2", allOff, ""},
        {"missing, missing, missing", missing, missing, missing, allOff, ""},
        {"blank and trailing text around 1", " 1", "0", "+1 (on)", bothOn,
         logLines + "\n\tset LogVerbose=FALSE" + execLines},
    };
    for (const Case &c : cases) {
        FakeSettings settings;
        settings.Set(kGeneral, "szLogFileName", "C:\\Logs\\run.log\\");
        settings.Set(kGeneral, "uMaxKiloBytes", "64KB");
        settings.Set(kGeneral, "szShellScript", "C:\\Tools\\after.cmd");
        std::set<std::string> absent;
        const std::pair<const char *, const char *> switches[] = {{"bLogToFile", c.logToFile},
                                                                  {"bVerboseLogging", c.verbose},
                                                                  {"bExecAfterUpdate", c.exec}};
        for (const auto &s : switches) {
            if (s.second != nullptr)
                settings.Set(kGeneral, s.first, s.second);
            else
                absent.insert(s.first);
        }
        WriterOutcome out = RunWalk(settings, Walk::Groups);
        EXPECT_EQ(out.keys, c.keys) << c.name;
        EXPECT_EQ(out.text, Crlf(c.text)) << c.name;
        EXPECT_EQ(out.messages, MessagesFor(c.keys, absent)) << c.name;
    }
}

TEST(OptionGroups, OnlyASwitchOpensAGroup)
{
    // Text and number rows that read exactly 1 are visited like any other
    // row of a group that is off and write nothing.
    FakeSettings settings;
    settings.Set(kGeneral, "bLogToFile", "0");
    settings.Set(kGeneral, "szLogFileName", "1");
    settings.Set(kGeneral, "uMaxKiloBytes", "1");
    settings.Set(kGeneral, "bVerboseLogging", "0");
    settings.Set(kGeneral, "bExecAfterUpdate", "0");
    settings.Set(kGeneral, "szShellScript", "1");
    WriterOutcome out = RunWalk(settings, Walk::Groups);
    EXPECT_EQ(out.text, "");
    EXPECT_EQ(out.keys, (std::vector<std::string>{"bLogToFile", "szLogFileName", "uMaxKiloBytes", "bVerboseLogging",
                                                  "bExecAfterUpdate", "szShellScript"}));
}

TEST(OptionGroups, TextIsWrittenAsReadAndNumbersAsParsed)
{
    struct Case {
        const char *logFile;
        const char *maxKiloBytes;
        const char *shellScript;
        std::string text;
    } cases[] = {
        {"C:\\Logs\\", "64KB", "run.cmd\\",
         "\n\tset LogFileName=C:\\Logs\\\n\tset MaxKiloBytes=64\n\tset ProgramToRun=run.cmd\\"},
        {"", "-5", "", "\n\tset LogFileName=\n\tset MaxKiloBytes=-5\n\tset ProgramToRun="},
        {"a\\\\", "abc", "x", "\n\tset LogFileName=a\\\\\n\tset MaxKiloBytes=0\n\tset ProgramToRun=x"},
        {"l", " +12 ", "s", "\n\tset LogFileName=l\n\tset MaxKiloBytes=12\n\tset ProgramToRun=s"},
        {"l", "", "s", "\n\tset LogFileName=l\n\tset MaxKiloBytes=0\n\tset ProgramToRun=s"},
        {"l", "2147483647", "s", "\n\tset LogFileName=l\n\tset MaxKiloBytes=2147483647\n\tset ProgramToRun=s"},
        {"l", "-2147483648", "s", "\n\tset LogFileName=l\n\tset MaxKiloBytes=-2147483648\n\tset ProgramToRun=s"},
    };
    for (const Case &c : cases) {
        FakeSettings settings;
        settings.Set(kGeneral, "bLogToFile", "1");
        settings.Set(kGeneral, "bExecAfterUpdate", "1");
        settings.Set(kGeneral, "szLogFileName", c.logFile);
        settings.Set(kGeneral, "uMaxKiloBytes", c.maxKiloBytes);
        settings.Set(kGeneral, "szShellScript", c.shellScript);
        WriterOutcome out = RunWalk(settings, Walk::Groups);
        std::string expected = Crlf(c.text);
        // The switch lines are not under test here.
        std::string text = out.text;
        for (const char *line : {"\r\n\tset LogToFile=TRUE", "\r\n\tset RunProgram=TRUE"}) {
            std::size_t at = text.find(line);
            ASSERT_NE(at, std::string::npos) << line << " for '" << c.maxKiloBytes << "'";
            text.erase(at, std::strlen(line));
        }
        EXPECT_EQ(text, expected) << "uMaxKiloBytes '" << c.maxKiloBytes << "'";
    }
}

TEST(OptionGroups, MissingMemberIsReportedAndTheGroupGoesOn)
{
    FakeSettings settings;
    qritest::SetAll(
        settings, kGeneral,
        {{"bLogToFile", "1"}, {"uMaxKiloBytes", "10"}, {"bVerboseLogging", "1"}, {"bExecAfterUpdate", "1"}});
    WriterOutcome out = RunWalk(settings, Walk::Groups);
    EXPECT_EQ(out.text, Crlf("\n\tset LogToFile=TRUE\n\tset MaxKiloBytes=10\n\tset LogVerbose=TRUE"
                             "\n\tset RunProgram=TRUE"));
    const std::vector<std::string> keys = {"bLogToFile",      "bLogToFile",       "szLogFileName",    "uMaxKiloBytes",
                                           "bVerboseLogging", "bExecAfterUpdate", "bExecAfterUpdate", "szShellScript"};
    EXPECT_EQ(out.keys, keys);
    EXPECT_EQ(out.messages, MessagesFor(keys, {"szLogFileName", "szShellScript"}));
}

TEST(OptionGroups, UnterminatedMemberTextStaysInTheBuffer)
{
    FakeSettings settings;
    settings.Set(kGeneral, "bLogToFile", "1");
    settings.SetUnterminated(kGeneral, "szLogFileName");
    WriterOutcome out = RunWalk(settings, Walk::Groups);
    EXPECT_EQ(out.text, "\r\n\tset LogToFile=TRUE\r\n\tset LogFileName=" + std::string(qri::kSettingCapacity - 1, 'x'));
}

TEST(OptionWalks, SwitchInBothTablesIsWrittenTwiceWhenItsGroupIsOn)
{
    FakeSettings settings;
    settings.Set(kGeneral, "bLogToFile", "1");
    settings.Set(kGeneral, "bExecAfterUpdate", "2");
    WriterOutcome out = RunWalk(settings, Walk::Both);
    // 2 writes TRUE in the general table but does not open the run-program group.
    EXPECT_EQ(out.text, Crlf("\n\tset LogToFile=TRUE\n\tset RunProgram=TRUE\n\tset LogToFile=TRUE"));
}

TEST(OptionWalks, EverySettingMissingWritesNothing)
{
    FakeSettings settings;
    WriterOutcome out = RunWalk(settings, Walk::Both);
    EXPECT_EQ(out.text, "");
    std::vector<std::string> keys = {"bRenameExisting",    "bRetrieveOnly",    "bForceUpdate",
                                     "bLogToFile",         "bLimitSize",       "bExecAfterUpdate",
                                     "bUpdateIfNewEngine", "szLocalUnpackDir", "szReplicationDirectory",
                                     "bLogToFile",         "szLogFileName",    "uMaxKiloBytes",
                                     "bVerboseLogging",    "bExecAfterUpdate", "szShellScript"};
    EXPECT_EQ(out.keys, keys);
    std::set<std::string> all(keys.begin(), keys.end());
    EXPECT_EQ(out.messages, MessagesFor(keys, all));
    EXPECT_EQ(out.messages.size(), 30u);
}

TEST(OptionWalks, SourceIsPassedToEveryRead)
{
    {
        FakeSettings settings;
        settings.Set(kGeneral, "bLogToFile", "1");
        RunWalk(settings, Walk::Both, qritest::TaskSource(settings, 77));
        qritest::ExpectTaskReads(settings, 77);
    }
    {
        FakeSettings settings;
        settings.Set(kGeneral, "bLogToFile", "1");
        char softwareId[] = "SW-PRODUCT";
        RunWalk(settings, Walk::Both, qritest::PolicySource(softwareId));
        qritest::ExpectPolicyReads(settings, "SW-PRODUCT");
    }
}

TEST(OptionWalks, SettingSourceWithBothOrNeitherReaderFindsNothing)
{
    FakeSettings settings;
    settings.Set(kGeneral, "bLogToFile", "1");
    char softwareId[] = "SW-PRODUCT";
    const qri::SettingSource sources[] = {
        {FakeSettings::TaskReader, FakeSettings::PolicyReader, settings.TaskData(), 0},
        {nullptr, nullptr, softwareId, 0},
    };
    for (const qri::SettingSource &source : sources) {
        WriterOutcome out = RunWalk(settings, Walk::Both, source);
        const char *name = source.taskReader != nullptr ? "both" : "neither";
        EXPECT_EQ(out.text, "") << name;
        EXPECT_TRUE(settings.Calls().empty()) << name;
        EXPECT_EQ(out.messages.size(), 30u) << name;
    }
}

TEST(TrimTrailingBackslash, RemovesOneBackslashOnly)
{
    struct Case {
        std::string text;
        std::string expected;
    } cases[] = {
        {"C:\\dir\\", "C:\\dir"},
        {"C:\\dir\\\\", "C:\\dir\\"},
        {"C:\\dir", "C:\\dir"},
        {"\\", ""},
        {"\\\\", "\\"},
        {"", ""},
        {"dir/", "dir/"},
        // Single-byte code page: 0x95 is a character of its own.
        {"C:\\\x95\\", "C:\\\x95"},
    };
    for (const Case &c : cases) {
        char text[64];
        std::memset(text, kCanary, sizeof text);
        std::memcpy(text, c.text.c_str(), c.text.size() + 1);
        qri::TrimTrailingBackslash(text);
        EXPECT_EQ(std::string(text), c.expected) << "'" << c.text << "'";
        EXPECT_EQ(static_cast<unsigned char>(text[c.text.size() + 1]), kCanary) << "'" << c.text << "'";
    }
}

} // namespace
