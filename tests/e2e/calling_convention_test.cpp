// Calling conventions at the boundary, which only the 32-bit build has: the
// exports clean up after the caller, the callbacks after themselves.
#include <gtest/gtest.h>

#include <cstdint>

#include "support/fake_host.h"
#include "support/plugin_dll.h"
#include "support/scratch.h"
#include "support/stack_watch.h"

namespace {

using qritest::PluginDll;

std::uintptr_t Word(const void *pointer)
{
    return reinterpret_cast<std::uintptr_t>(pointer);
}

TEST(CallingConventions, ExportsAreCallerCleanAndCallbacksCalleeClean)
{
    PluginDll dll;
    ASSERT_TRUE(dll.Loaded());
    qritest::InstallerFixture installer;
    installer.key.SetText("Product Name", "Product");

    // Property sink (6 arguments, callee clean-up) through a 2-argument export.
    qritest::PropertyRecorder recorder;
    int context = 0;
    std::uintptr_t properties[] = {Word(&context),
                                   Word(reinterpret_cast<const void *>(&qritest::PropertyRecorder::Sink))};
    int balanced = 0;
    EXPECT_EQ(qritest::qri_call_watching_stack(reinterpret_cast<const void *>(dll.GetProperties), properties, 2,
                                               &balanced),
              1);
    EXPECT_EQ(balanced, 1);
    EXPECT_EQ(recorder.reports.size(), 2u);

    // Task reader (7 arguments): a task type that matches nothing comes back as
    // the reader's own result, after one reader call.
    qritest::FakeSettings settings;
    settings.Set("Task", "TaskType", "unknown");
    settings.SetFoundResult(5);
    void *cookie = nullptr;
    std::uintptr_t task[] = {Word(settings.TaskData()), 8,
                             Word(reinterpret_cast<const void *>(&qritest::FakeSettings::TaskReader)), Word(&cookie)};
    balanced = 0;
    EXPECT_EQ(qritest::qri_call_watching_stack(reinterpret_cast<const void *>(dll.EnforceTask), task, 4, &balanced),
              5);
    EXPECT_EQ(balanced, 1);
    EXPECT_EQ(settings.Calls().size(), 1u);

    // No arguments at all.
    balanced = 0;
    qritest::qri_call_watching_stack(reinterpret_cast<const void *>(dll.IsSoftwareInstalled), nullptr, 0, &balanced);
    EXPECT_EQ(balanced, 1);
}

} // namespace
