// Reboot lines of the Master script: the agent's software ID from Agent.ini
// beside the running executable, two numbers from the agent's own policy.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstring>
#include <string>
#include <vector>

#include "script/reboot_settings.h"
#include "support/fake_host.h"
#include "support/scratch.h"
#include "support/script_file.h"
#include "support/trace_capture.h"

namespace {

using qritest::FakeSettings;
using qritest::ScriptFile;

std::string AgentIniPath()
{
    return qritest::TestBinDirectory() + "\\Agent.ini";
}

// Agent.ini beside the test program for the length of one test.
class AgentIni {
public:
    explicit AgentIni(const std::string &content) { qritest::WriteFileBytes(AgentIniPath(), content); }
    ~AgentIni() { DeleteFileA(AgentIniPath().c_str()); }
    AgentIni(const AgentIni &) = delete;
    AgentIni &operator=(const AgentIni &) = delete;
};

std::string RebootLines(const char *prompt, const char *automatic, const std::string &timeout)
{
    return std::string("\r\n\tset PromptForReboot       =") + prompt + "\r\n\tset AutomaticReboot       =" + automatic +
           "\r\n\tset AutomaticRebootTimeout=" + timeout;
}

std::string WriteReboot(RXPLUGIN_PolicySettingReader reader = FakeSettings::PolicyReader)
{
    ScriptFile script;
    qri::WriteRebootSettings(script.Stream(), reader);
    return script.Bytes();
}

TEST(RebootSettings, ValuesAndTheirLines)
{
    ASSERT_FALSE(qritest::PathExists(AgentIniPath())) << "left over from another test";
    const char *const missing = nullptr;
    struct Case {
        const char *name;
        const char *showRebootUi;
        const char *rebootTimeOut;
        std::string lines;
    } cases[] = {
        {"prompt with a timeout", "1", "300", RebootLines("TRUE", "TRUE", "300")},
        {"-1: no automatic reboot", "0", "-1", RebootLines("FALSE", "FALSE", "0")},
        {"all bits set", "0", "4294967295", RebootLines("FALSE", "FALSE", "0")},
        {"0: reboot at once", "0", "0", RebootLines("FALSE", "TRUE", "0")},
        {"-2 printed unsigned", "0", "-2", RebootLines("FALSE", "TRUE", "4294967294")},
        {"large timeout", "0", "2147483648", RebootLines("FALSE", "TRUE", "2147483648")},
        {"prompt 1", "1", "60", RebootLines("TRUE", "TRUE", "60")},
        {"prompt 2", "2", "60", RebootLines("TRUE", "TRUE", "60")},
        {"prompt -1", "-1", "60", RebootLines("TRUE", "TRUE", "60")},
        {"prompt missing", missing, "-1", RebootLines("FALSE", "FALSE", "0")},
        {"timeout missing", "1", missing, RebootLines("TRUE", "TRUE", "0")},
        {"neither value", missing, missing, RebootLines("FALSE", "TRUE", "0")},
    };
    for (const Case &c : cases) {
        FakeSettings settings;
        if (c.showRebootUi != nullptr)
            settings.Set("General", "ShowRebootUI", c.showRebootUi);
        if (c.rebootTimeOut != nullptr)
            settings.Set("General", "RebootTimeOut", c.rebootTimeOut);
        EXPECT_EQ(WriteReboot(), c.lines) << c.name;
    }
}

TEST(RebootSettings, ReadsTwoNumbersUnderTheDefaultAgentId)
{
    ASSERT_FALSE(qritest::PathExists(AgentIniPath())) << "left over from another test";
    FakeSettings settings;
    // The product's own policy must not be consulted.
    settings.Set("General", "ShowRebootUI", "1", "SW-PRODUCT");
    settings.Set("General", "RebootTimeOut", "-1", "SW-PRODUCT");
    qritest::TraceCapture trace;
    EXPECT_EQ(WriteReboot(), RebootLines("FALSE", "TRUE", "0"));
    EXPECT_TRUE(trace.Messages().empty());

    ASSERT_EQ(settings.Calls().size(), 2u);
    const char *keys[] = {"ShowRebootUI", "RebootTimeOut"};
    for (int i = 0; i < 2; ++i) {
        const qritest::ReadCall &call = settings.Calls()[i];
        EXPECT_EQ(call.reader, "policy") << keys[i];
        EXPECT_EQ(call.softwareId, "oRXAgent1000") << keys[i];
        EXPECT_EQ(call.section, "General") << keys[i];
        EXPECT_EQ(call.key, keys[i]);
        EXPECT_EQ(call.valueKind, RXPLUGIN_VALUE_NUMBER) << keys[i];
        EXPECT_EQ(call.capacity, 4u) << keys[i];
    }
}

// A reader that changes the size in/out: the second read still gets 4.
unsigned long g_capacities[2];
int g_reads = 0;
int RXPLUGIN_CALLBACK ShrinkingReader(const char *, const char *, const char *, void *buffer, int, unsigned long *size)
{
    if (g_reads < 2)
        g_capacities[g_reads] = *size;
    ++g_reads;
    DWORD value = 7;
    std::memcpy(buffer, &value, sizeof value);
    *size = 0;
    return 1;
}

// Answers "not found" after filling the buffer anyway.
int RXPLUGIN_CALLBACK NotFoundButWrittenReader(const char *, const char *, const char *, void *buffer, int,
                                               unsigned long *)
{
    std::memset(buffer, 0x41, 4);
    return 0;
}

TEST(RebootSettings, ValueNotFoundStaysZeroWhateverTheReaderWrote)
{
    EXPECT_EQ(WriteReboot(NotFoundButWrittenReader), RebootLines("FALSE", "TRUE", "0"));
}

TEST(RebootSettings, SizeIsSetBeforeEachRead)
{
    g_reads = 0;
    EXPECT_EQ(WriteReboot(ShrinkingReader), RebootLines("TRUE", "TRUE", "7"));
    EXPECT_EQ(g_reads, 2);
    EXPECT_EQ(g_capacities[0], 4u);
    EXPECT_EQ(g_capacities[1], 4u);
}

// The ID is read from Agent.ini; without it the default one is used.
// Values under the default ID as well show which one was asked.
TEST(RebootSettings, AgentIdComesFromAgentIni)
{
    const std::string longId(300, 'i');
    struct Case {
        const char *name;
        std::string ini;
        std::string id;
    } cases[] = {
        {"SoftwareID under [Agent]", "[Agent]\r\nSoftwareID=AGENT-77\r\n", "AGENT-77"},
        {"no SoftwareID under [Agent]", "[Agent]\r\nOtherKey=AGENT-77\r\n[General]\r\nSoftwareID=AGENT-88\r\n",
         "oRXAgent1000"},
        {"long SoftwareID cut to its buffer", "[Agent]\r\nSoftwareID=" + longId + "\r\n", longId.substr(0, 259)},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        AgentIni ini(c.ini);
        FakeSettings settings;
        settings.Set("General", "ShowRebootUI", "0", "oRXAgent1000");
        settings.Set("General", "RebootTimeOut", "-1", "oRXAgent1000");
        settings.Set("General", "ShowRebootUI", "1", c.id);
        settings.Set("General", "RebootTimeOut", "120", c.id);
        EXPECT_EQ(WriteReboot(), RebootLines("TRUE", "TRUE", "120"));
        ASSERT_EQ(settings.Calls().size(), 2u);
        EXPECT_EQ(settings.Calls()[0].softwareId, c.id);
        EXPECT_EQ(settings.Calls()[1].softwareId, c.id);
    }
}

// Beside the executable, or empty where it does not fit: room for the
// executable's directory but not for the file name, or for nothing at all.
TEST(RebootSettings, AgentIniPathIsBesideTheExecutable)
{
    const unsigned long directoryOnly = static_cast<unsigned long>(qritest::TestBinDirectory().size() + 3);
    struct Case {
        unsigned long capacity;
        std::string path;
    } cases[] = {{260, AgentIniPath()}, {directoryOnly, ""}, {1, ""}};
    for (const Case &c : cases) {
        SCOPED_TRACE("capacity " + std::to_string(c.capacity));
        char path[300];
        std::memset(path, 0xbd, sizeof path);
        qri::GetAgentIniPath(path, c.capacity);
        EXPECT_EQ(std::string(path), c.path);
        EXPECT_EQ(static_cast<unsigned char>(path[c.capacity]), 0xbd);
    }
}

} // namespace
