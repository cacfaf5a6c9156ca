// The enforcement lock as agents treat it: enforcements unwound past the
// export (a longjmp, a structured exception caught outside) on a thread that
// lives on, and fibers of the owning thread that call in.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <csetjmp>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <string>
#include <vector>

#include "support/engine_run.h"
#include "support/fake_host.h"
#include "support/plugin_dll.h"
#include "support/scratch.h"
#include "support/seh_catch.h"

namespace {

using qritest::FakeSettings;
using qritest::PolicyInstallation;
using qritest::Added;

constexpr DWORD kWaitBound = 30000;
constexpr unsigned long kTaskDataSize = 24;
void *const kUntouched = reinterpret_cast<void *>(static_cast<std::uintptr_t>(0x5eedc00c));

std::vector<std::string> WithPrefix(const std::vector<std::string> &names, const char *prefix)
{
    std::vector<std::string> found;
    for (const std::string &name : names) {
        if (name.compare(0, 3, prefix) == 0)
            found.push_back(name);
    }
    return found;
}

// Each Master script among `added` names an MSI and a Fenwa script of its own
// enforcement: all three carry the same product's log name.
void ExpectMastersNameTheirOwnScripts(const PolicyInstallation &installation, const std::vector<std::string> &added)
{
    for (const std::string &name : WithPrefix(added, "MAS")) {
        std::string master = qritest::ReadFileBytes(installation.Join(name));
        std::size_t log = master.find("LogFileName=");
        ASSERT_NE(log, std::string::npos) << name << ": " << master;
        std::string owner = master.substr(log, master.find('\r', log) - log);
        for (const char *field : {"MSIScriptName=\"", "FNWScriptName=\""}) {
            std::size_t start = master.find(field);
            ASSERT_NE(start, std::string::npos) << name << ": " << master;
            start += std::strlen(field);
            std::string named = master.substr(start, master.find('"', start) - start);
            EXPECT_NE(std::find(added.begin(), added.end(), named.substr(named.rfind('\\') + 1)), added.end())
                << name << " names " << named << ", not a script of these enforcements";
            EXPECT_NE(qritest::ReadFileBytes(named).find(owner), std::string::npos)
                << name << " names " << named << " of another enforcement";
        }
    }
}

// Settings of two products, each logging to a file named after itself.
void SetProducts(FakeSettings &settings, std::initializer_list<const char *> products)
{
    settings.Set("Task", "TaskType", "vkAutoUpdateTask");
    for (const char *product : products) {
        for (const char *module : {"Master", "MSI", "Fenwa"}) {
            settings.Set(std::string(module) + " General", "bLogToFile", "1", product);
            settings.Set(std::string(module) + " General", "szLogFileName", std::string(product) + ".log", product);
            settings.Set(std::string(module) + " Sites General", "uNumberOfSites", "0", product);
        }
    }
}

// Waits for a thread of the test, ending it when it does not end in time.
bool Finished(HANDLE thread)
{
    bool ended = WaitForSingleObject(thread, kWaitBound) == WAIT_OBJECT_0;
    if (!ended)
        TerminateThread(thread, 9);
    CloseHandle(thread);
    return ended;
}

// ---- Enforcements unwound past the export, on a thread that lives on ----

enum class Leaving { LongJump, Exception };
constexpr DWORD kReaderFault = 0xe0514952; // what a faulting reader raises

struct UnwindingThread {
    qritest::PluginDll *dll = nullptr;
    Leaving how = Leaving::LongJump;
    bool task = false;
    FakeSettings *settings = nullptr;
    HANDLE left = nullptr;  // set once the enforcement was left
    HANDLE goOn = nullptr;  // set when the thread may call again
    std::jmp_buf escape;
    int reads = 0;
    int leftResult = -1;    // stays -1: the left enforcement never returns
    int caught = -1;        // 1: an exception was caught outside the export
    int deeper = -1;        // the thread's next enforcement, from deeper
    RXPLUGIN_TaskCookie cookie = kUntouched;
} g_unwinding;

// Leaves at the third read, in the middle of the enforcement.
void LeaveAtThirdRead()
{
    if (++g_unwinding.reads != 3)
        return;
    if (g_unwinding.how == Leaving::LongJump)
        std::longjmp(g_unwinding.escape, 1);
    RaiseException(kReaderFault, 0, 0, nullptr);
}

int RXPLUGIN_CALLBACK LeavingPolicyReader(const char *softwareId, const char *section, const char *key, void *buffer,
                                          int valueKind, unsigned long *size)
{
    LeaveAtThirdRead();
    return FakeSettings::PolicyReader(softwareId, section, key, buffer, valueKind, size);
}

int RXPLUGIN_CALLBACK LeavingTaskReader(void *taskData, unsigned long taskDataSize, const char *section,
                                        const char *key, void *buffer, int valueKind, unsigned long *size)
{
    LeaveAtThirdRead();
    return FakeSettings::TaskReader(taskData, taskDataSize, section, key, buffer, valueKind, size);
}

int Enforce(UnwindingThread &u, bool leaving)
{
    if (u.task)
        return u.dll->EnforceTask(u.settings->TaskData(), kTaskDataSize,
                                  leaving ? LeavingTaskReader : FakeSettings::TaskReader, &u.cookie);
    return u.dll->EnforcePolicy(qritest::kSoftwareId, leaving ? LeavingPolicyReader : FakeSettings::PolicyReader);
}

void EnforceLeaving(void *)
{
    g_unwinding.leftResult = Enforce(g_unwinding, true);
}

// The next call comes from below a stretch of stack holding small numbers,
// as an agent's locals do, where the left enforcement's frames lay.
__attribute__((noinline)) int EnforceFromDeeper()
{
    volatile DWORD locals[4096];
    for (volatile DWORD &local : locals)
        local = 1;
    return Enforce(g_unwinding, false);
}

DWORD WINAPI UnwindAndLiveOn(void *)
{
    if (g_unwinding.how == Leaving::LongJump) {
        if (setjmp(g_unwinding.escape) == 0)
            EnforceLeaving(nullptr);
    } else {
        g_unwinding.caught = qri_call_catching(EnforceLeaving, nullptr);
    }
    SetEvent(g_unwinding.left);
    WaitForSingleObject(g_unwinding.goOn, INFINITE);
    g_unwinding.deeper = EnforceFromDeeper();
    return 0;
}

// Another thread's calls after the unwind: both kinds with all arguments, and
// both with null arguments.
struct OtherCalls {
    qritest::PluginDll *dll;
    FakeSettings *settings;
    int policy = -1;
    int task = -1;
    int policyWithoutArguments = -1;
    int taskWithoutArguments = -1;
    RXPLUGIN_TaskCookie cookie = kUntouched;
};

DWORD WINAPI EnforceEachKind(void *argument)
{
    auto *calls = static_cast<OtherCalls *>(argument);
    calls->policy = calls->dll->EnforcePolicy(qritest::kSoftwareId, FakeSettings::PolicyReader);
    calls->task = calls->dll->EnforceTask(calls->settings->TaskData(), kTaskDataSize, FakeSettings::TaskReader,
                                          &calls->cookie);
    calls->policyWithoutArguments = calls->dll->EnforcePolicy(nullptr, FakeSettings::PolicyReader);
    calls->taskWithoutArguments = calls->dll->EnforceTask(nullptr, 0, nullptr, nullptr);
    return 0;
}

class EnforcementLock : public qritest::PluginTest {};

// The lock comes back when the unwind passes the export: another thread's
// enforcements run their course while the unwound thread lives on, and that
// thread's own next call, from deeper in its stack, runs too.
TEST_F(EnforcementLock, UnwindPastTheExportGivesTheLockBack)
{
    PolicyInstallation installation;
    // Without an engine, every enforcement writes its scripts and none waits.
    DeleteFileA(installation.Engine().c_str());
    FakeSettings settings;
    SetProducts(settings, {qritest::kSoftwareId});
    const struct {
        const char *name;
        Leaving how;
        bool task;
    } ways[] = {
        {"longjmp out of a policy reader", Leaving::LongJump, false},
        {"longjmp out of a task reader", Leaving::LongJump, true},
        {"exception raised in a policy reader, caught outside", Leaving::Exception, false},
        {"exception raised in a task reader, caught outside", Leaving::Exception, true},
    };
    for (const auto &way : ways) {
        SCOPED_TRACE(way.name);
        g_unwinding.dll = &dll;
        g_unwinding.how = way.how;
        g_unwinding.task = way.task;
        g_unwinding.settings = &settings;
        g_unwinding.left = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        g_unwinding.goOn = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        g_unwinding.reads = 0;
        g_unwinding.leftResult = -1;
        g_unwinding.caught = -1;
        g_unwinding.deeper = -1;
        g_unwinding.cookie = kUntouched;
        HANDLE unwinding = CreateThread(nullptr, 0, UnwindAndLiveOn, nullptr, 0, nullptr);
        EXPECT_EQ(WaitForSingleObject(g_unwinding.left, kWaitBound), WAIT_OBJECT_0);
        EXPECT_EQ(g_unwinding.leftResult, -1) << "the reader did not leave the enforcement";
        EXPECT_EQ(g_unwinding.caught, way.how == Leaving::Exception ? 1 : -1);

        std::vector<std::string> before = installation.Scripts();
        OtherCalls calls{&dll, &settings};
        EXPECT_TRUE(Finished(CreateThread(nullptr, 0, EnforceEachKind, &calls, 0, nullptr)))
            << "another thread's enforcement still waits for the lock";
        EXPECT_EQ(WaitForSingleObject(unwinding, 0), WAIT_TIMEOUT) << "the unwound thread ended";
        EXPECT_EQ(calls.policy, 1);
        EXPECT_EQ(calls.task, 1);
        EXPECT_EQ(calls.cookie, kUntouched) << "a cookie without an engine";
        EXPECT_EQ(calls.policyWithoutArguments, 0);
        EXPECT_EQ(calls.taskWithoutArguments, 0);
        std::vector<std::string> added = Added(before, installation.Scripts());
        EXPECT_EQ(added.size(), 4u);
        EXPECT_EQ(WithPrefix(added, "MAS").size(), 1u);
        EXPECT_EQ(WithPrefix(added, "UPD").size(), 1u);
        ExpectMastersNameTheirOwnScripts(installation, added);

        before = installation.Scripts();
        SetEvent(g_unwinding.goOn);
        EXPECT_TRUE(Finished(unwinding)) << "the unwound thread's next call still waits";
        EXPECT_EQ(g_unwinding.deeper, 1) << "the unwound thread's next call did not run its course";
        added = Added(before, installation.Scripts());
        EXPECT_EQ(added.size(), way.task ? 1u : 3u);
        EXPECT_EQ(WithPrefix(added, way.task ? "UPD" : "MAS").size(), 1u);
        ExpectMastersNameTheirOwnScripts(installation, added);
        CloseHandle(g_unwinding.left);
        CloseHandle(g_unwinding.goOn);
        if (HasFailure())
            break;
    }
}

// ---- Two fibers of one thread ----

// The first fiber enforces a policy and, at its first read, switches to the
// second, which calls both enforcements, starts another thread's policy
// enforcement and switches back.
struct FiberPlay {
    qritest::PluginDll *dll = nullptr;
    FakeSettings *settings = nullptr;
    void *thread = nullptr; // the thread's own fiber
    void *first = nullptr;
    void *second = nullptr;
    std::uintptr_t firstIndex = 0;
    bool secondAbove = false;
    const char *stacks[2] = {};
    int firstResult = -1;
    bool switched = false;
    int secondPolicy = -1;
    int secondTask = -1;
    RXPLUGIN_TaskCookie secondCookie = kUntouched;
    std::size_t readsBySecond = 0;
    HANDLE other = nullptr;
    DWORD otherWhileFirstReads = 0;
    int otherResult = -1;
} g_fibers;

constexpr char kFirstProduct[] = "oProductA";
constexpr char kOtherProduct[] = "oProductB";

int RXPLUGIN_CALLBACK SwitchingReader(const char *softwareId, const char *section, const char *key, void *buffer,
                                      int valueKind, unsigned long *size)
{
    if (!g_fibers.switched) {
        g_fibers.switched = true;
        SwitchToFiber(g_fibers.second);
    }
    return FakeSettings::PolicyReader(softwareId, section, key, buffer, valueKind, size);
}

DWORD WINAPI OtherPolicy(void *)
{
    g_fibers.otherResult = g_fibers.dll->EnforcePolicy(kOtherProduct, FakeSettings::PolicyReader);
    return 0;
}

void WINAPI PlayFiber(void *parameter)
{
    // First run: where this fiber's stack lies.
    auto index = reinterpret_cast<std::uintptr_t>(parameter);
    volatile char here = 0;
    g_fibers.stacks[index] = const_cast<const char *>(&here);
    SwitchToFiber(g_fibers.thread);

    if (index == g_fibers.firstIndex) {
        g_fibers.firstResult = g_fibers.dll->EnforcePolicy(kFirstProduct, SwitchingReader);
    } else {
        std::size_t reads = g_fibers.settings->Calls().size();
        g_fibers.secondPolicy = g_fibers.dll->EnforcePolicy(kFirstProduct, FakeSettings::PolicyReader);
        g_fibers.secondTask = g_fibers.dll->EnforceTask(g_fibers.settings->TaskData(), kTaskDataSize,
                                                        FakeSettings::TaskReader, &g_fibers.secondCookie);
        g_fibers.readsBySecond = g_fibers.settings->Calls().size() - reads;
        g_fibers.other = CreateThread(nullptr, 0, OtherPolicy, nullptr, 0, nullptr);
        // Not long: it is only to see that the thread does not get in.
        g_fibers.otherWhileFirstReads = WaitForSingleObject(g_fibers.other, 200);
        SwitchToFiber(g_fibers.first);
    }
    SwitchToFiber(g_fibers.thread);
}

DWORD WINAPI PlayTwoFibers(void *)
{
    g_fibers.thread = ConvertThreadToFiber(nullptr);
    void *fibers[2] = {CreateFiber(0, PlayFiber, reinterpret_cast<void *>(0)),
                       CreateFiber(0, PlayFiber, reinterpret_cast<void *>(1))};
    for (void *fiber : fibers)
        SwitchToFiber(fiber);
    std::uintptr_t lower = g_fibers.stacks[0] < g_fibers.stacks[1] ? 0 : 1;
    g_fibers.firstIndex = g_fibers.secondAbove ? lower : 1 - lower;
    g_fibers.first = fibers[g_fibers.firstIndex];
    g_fibers.second = fibers[1 - g_fibers.firstIndex];
    SwitchToFiber(g_fibers.first);
    for (void *fiber : fibers)
        DeleteFiber(fiber);
    ConvertFiberToThread();
    return 0;
}

// A second fiber of the thread that holds the lock is refused, whichever way
// the two stacks lie, and neither takes nor gives back the first one's hold.
TEST_F(EnforcementLock, FiberOfTheOwningThreadIsRefused)
{
    PolicyInstallation installation;
    DeleteFileA(installation.Engine().c_str());
    FakeSettings settings;
    SetProducts(settings, {kFirstProduct, kOtherProduct});
    for (bool secondAbove : {true, false}) {
        SCOPED_TRACE(secondAbove ? "second fiber's stack above the first's" : "second fiber's stack below");
        g_fibers = FiberPlay();
        g_fibers.dll = &dll;
        g_fibers.settings = &settings;
        g_fibers.secondAbove = secondAbove;
        std::vector<std::string> before = installation.Scripts();
        ASSERT_TRUE(Finished(CreateThread(nullptr, 0, PlayTwoFibers, nullptr, 0, nullptr)));
        EXPECT_TRUE(g_fibers.switched);
        EXPECT_EQ(g_fibers.secondPolicy, 0);
        EXPECT_EQ(g_fibers.secondTask, 0);
        EXPECT_EQ(g_fibers.secondCookie, kUntouched) << "the cookie location was written";
        EXPECT_EQ(g_fibers.readsBySecond, 0u) << "the second fiber's calls read settings";
        EXPECT_EQ(g_fibers.otherWhileFirstReads, WAIT_TIMEOUT) << "another thread got in while the first fiber read";
        EXPECT_TRUE(Finished(g_fibers.other)) << "another thread's enforcement still waits for the lock";
        EXPECT_EQ(g_fibers.firstResult, 1);
        EXPECT_EQ(g_fibers.otherResult, 1);
        std::vector<std::string> added = Added(before, installation.Scripts());
        EXPECT_EQ(added.size(), 6u);
        EXPECT_EQ(WithPrefix(added, "MAS").size(), 2u);
        ExpectMastersNameTheirOwnScripts(installation, added);
    }
}

} // namespace
