// The setting-read adapter and the trace hook.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <type_traits>

#include "common/setting_source.h"
#include "common/trace.h"
#include "support/fake_host.h"
#include "support/trace_capture.h"

namespace {

using qritest::FakeSettings;

// The plug-in calls the host's readers through the ABI header's types, which
// carry the callee-clean-up convention.
static_assert(std::is_same<decltype(qri::SettingSource::taskReader), RXPLUGIN_TaskSettingReader>::value, "");
static_assert(std::is_same<decltype(qri::SettingSource::policyReader), RXPLUGIN_PolicySettingReader>::value, "");

struct DirectCall {
    int calls = 0;
    std::string first;
    unsigned long capacity = 0;
};
DirectCall g_task, g_policy;
int g_result = 7;

int RXPLUGIN_CALLBACK CountingTaskReader(void *, unsigned long size, const char *, const char *, void *, int,
                                         unsigned long *capacity)
{
    ++g_task.calls;
    g_task.first = std::to_string(size);
    g_task.capacity = *capacity;
    return g_result;
}

int RXPLUGIN_CALLBACK CountingPolicyReader(const char *softwareId, const char *, const char *, void *, int,
                                           unsigned long *capacity)
{
    ++g_policy.calls;
    g_policy.first = softwareId;
    g_policy.capacity = *capacity;
    return g_result;
}

TEST(ReadSetting, CallsExactlyTheOneReaderThatIsSet)
{
    struct Case {
        const char *name;
        bool task;
        bool policy;
        int expectedResult;
        int taskCalls;
        int policyCalls;
    } cases[] = {
        {"task only", true, false, 7, 1, 0},
        {"policy only", false, true, 7, 0, 1},
        {"both", true, true, 0, 0, 0},
        {"neither", false, false, 0, 0, 0},
    };
    char id[] = "SW100";
    for (const Case &c : cases) {
        g_task = {};
        g_policy = {};
        char buffer[16];
        unsigned long size = 16;
        int result = qri::ReadSetting(c.task ? CountingTaskReader : nullptr, c.policy ? CountingPolicyReader : nullptr,
                                      id, 0, "S", "K", buffer, 0, &size);
        EXPECT_EQ(result, c.expectedResult) << c.name;
        EXPECT_EQ(g_task.calls, c.taskCalls) << c.name;
        EXPECT_EQ(g_policy.calls, c.policyCalls) << c.name;
    }
}

TEST(ReadSetting, PassesItsArgumentsThroughUnchanged)
{
    FakeSettings settings;
    settings.Set("Sec", "Key", "value");
    char buffer[32] = {};
    unsigned long size = 32;
    EXPECT_EQ(qri::ReadSetting(FakeSettings::TaskReader, nullptr, settings.TaskData(), 1234, "Sec", "Key", buffer, 0,
                               &size),
              1);
    ASSERT_EQ(settings.Calls().size(), 1u);
    const qritest::ReadCall &call = settings.Calls()[0];
    EXPECT_EQ(call.reader, "task");
    EXPECT_EQ(call.taskData, settings.TaskData());
    EXPECT_EQ(call.taskDataSize, 1234u);
    EXPECT_EQ(call.section, "Sec");
    EXPECT_EQ(call.key, "Key");
    EXPECT_EQ(call.capacity, 32u);
    EXPECT_STREQ(buffer, "value");

    settings.ClearCalls();
    char id[] = "SW-POLICY";
    size = 32;
    EXPECT_EQ(qri::ReadSetting(nullptr, FakeSettings::PolicyReader, id, 0, "Sec", "Key", buffer, 1, &size), 1);
    ASSERT_EQ(settings.Calls().size(), 1u);
    EXPECT_EQ(settings.Calls()[0].softwareId, "SW-POLICY");
    EXPECT_EQ(settings.Calls()[0].valueKind, 1);
}

TEST(ReadSetting, ReturnsTheReadersOwnNonZeroResult)
{
    FakeSettings settings;
    settings.SetFoundResult(7);
    settings.Set("S", "K", "x");
    char buffer[8];
    unsigned long size = 8;
    EXPECT_EQ(qri::ReadSetting(FakeSettings::TaskReader, nullptr, settings.TaskData(), 1, "S", "K", buffer, 0, &size),
              7);
}

TEST(ReadTextSetting, TerminatesTextThatAFaultyReaderLeftOpen)
{
    FakeSettings settings;
    settings.SetUnterminated("S", "K");
    char buffer[qri::kSettingCapacity + 1];
    std::memset(buffer, 0xbd, sizeof buffer);
    qri::SettingSource source = {FakeSettings::TaskReader, nullptr, settings.TaskData(), 1};
    EXPECT_TRUE(qri::ReadTextSetting(source, "S", "K", buffer));
    EXPECT_EQ(std::strlen(buffer), qri::kSettingCapacity - 1);
    EXPECT_EQ(static_cast<unsigned char>(buffer[qri::kSettingCapacity]), 0xbd);
    EXPECT_EQ(settings.Calls().at(0).capacity, qri::kSettingCapacity);
}

TEST(Trace, FormattedMessagesAreCutToTheTraceBuffer)
{
    qritest::TraceCapture capture;
    std::string longText(600, 'p');
    qri::TraceF("\nFile %s could not be opened\n", longText.c_str());
    ASSERT_EQ(capture.Messages().size(), 1u);
    EXPECT_EQ(capture.Messages()[0].size(), qri::kTraceBufferCapacity - 1);
    EXPECT_EQ(capture.Messages()[0].substr(0, 6), "\nFile ");
    qri::Trace("plain");
    EXPECT_EQ(capture.Messages().back(), "plain");
}

} // namespace
