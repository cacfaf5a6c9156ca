// RXPLUGIN_GetProperties through the real DLL.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "support/fake_host.h"
#include "support/plugin_dll.h"
#include "support/scratch.h"

namespace {

using qritest::PropertyRecorder;
using qritest::ScratchInstallerKey;
using GetProperties = qritest::PluginTest;

struct Expected {
    std::string name;
    std::string data;
    unsigned long size;
};

TEST_F(GetProperties, ReportsEachValueOnItsOwn)
{
    struct Case {
        const char *name;
        std::function<void(ScratchInstallerKey &)> fill;
        std::vector<Expected> expected;
    } cases[] = {
        {"only Product Name", [](ScratchInstallerKey &k) { k.SetText("Product Name", "Prod"); },
         {{"Product Name", std::string("Prod", 5), 5}}},
        {"empty key", [](ScratchInstallerKey &) {}, {}},
        {"all four in order",
         [](ScratchInstallerKey &k) {
             k.SetText("Language", "0409");
             k.SetText("szProductVer", "8.5");
             k.SetText("Product Name", "Prod");
             k.SetText("Installation Directory", "C:\\Inst");
         },
         {{"Installation Directory", std::string("C:\\Inst", 8), 8},
          {"Product Name", std::string("Prod", 5), 5},
          {"szProductVer", std::string("8.5", 4), 4},
          {"Language", std::string("0409", 5), 5}}},
        {"over-long value skipped, later ones still come",
         [](ScratchInstallerKey &k) {
             k.SetText("Product Name", std::string(6144, 'p')); // 6145 bytes with its zero
             k.SetText("szProductVer", "8.5");
         },
         {{"szProductVer", std::string("8.5", 4), 4}}},
        {"6143 characters fit exactly",
         [](ScratchInstallerKey &k) { k.SetText("Product Name", std::string(6143, 'p')); },
         {{"Product Name", std::string(6143, 'p') + '\0', 6144}}},
        {"DWORD reported as text kind with size 4",
         [](ScratchInstallerKey &k) { k.SetDword("Language", 0x409); },
         {{"Language", std::string("\x09\x04\0\0", 4), 4}}},
        {"1-byte empty text", [](ScratchInstallerKey &k) { k.SetRaw("szProductVer", REG_SZ, std::string(1, '\0')); },
         {{"szProductVer", std::string(1, '\0'), 1}}},
        {"0-byte value skipped", [](ScratchInstallerKey &k) { k.SetRaw("szProductVer", REG_SZ, ""); }, {}},
    };

    for (Case &c : cases) {
        SCOPED_TRACE(c.name);
        ScratchInstallerKey key;
        c.fill(key);
        PropertyRecorder recorder;
        int context = 0;
        EXPECT_EQ(dll.GetProperties(&context, PropertyRecorder::Sink), 1);
        ASSERT_EQ(recorder.reports.size(), c.expected.size());
        for (std::size_t i = 0; i < c.expected.size(); ++i) {
            const qritest::PropertyReport &report = recorder.reports[i];
            EXPECT_EQ(report.context, &context);
            EXPECT_EQ(report.section, "General");
            EXPECT_EQ(report.name, c.expected[i].name);
            EXPECT_EQ(report.data, c.expected[i].data);
            EXPECT_EQ(report.dataSize, c.expected[i].size);
            EXPECT_EQ(report.valueKind, 0);
        }
    }
}

TEST_F(GetProperties, NothingWithoutKeyContextOrSink)
{
    int context = 0;
    {
        ScratchInstallerKey key;
        key.SetText("Product Name", "Prod");
        PropertyRecorder recorder;
        EXPECT_EQ(dll.GetProperties(nullptr, PropertyRecorder::Sink), 0);
        EXPECT_EQ(dll.GetProperties(&context, nullptr), 0);
        EXPECT_TRUE(recorder.reports.empty());
    }
    ScratchInstallerKey::DeleteKey();
    PropertyRecorder recorder;
    EXPECT_EQ(dll.GetProperties(&context, PropertyRecorder::Sink), 0);
    EXPECT_TRUE(recorder.reports.empty());
}

} // namespace
