// RXPLUGIN_EnforceTask and the task cookie exports through the real DLL, with
// the stand-in engine installed as QRI.exe.
#include <gtest/gtest.h>

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "support/engine_run.h"
#include "support/fake_host.h"
#include "support/plugin_dll.h"
#include "support/scratch.h"

namespace {

using qritest::FakeSettings;
using qritest::InstallerFixture;
using qritest::ListFiles;
using qritest::ReleaseEvent;
using TaskInstallation = qritest::EngineInstallation;

constexpr unsigned long kTaskDataSize = 24;

// A cookie location primed with this shows whether the plug-in wrote to it.
void *const kUntouched = reinterpret_cast<void *>(static_cast<ULONG_PTR>(0x5eedc00c));

PROCESS_INFORMATION *Process(RXPLUGIN_TaskCookie cookie)
{
    return static_cast<PROCESS_INFORMATION *>(cookie);
}

class TaskTest : public qritest::PluginTest {
protected:
    int Enforce(FakeSettings &settings, RXPLUGIN_TaskCookie *cookie)
    {
        return dll.EnforceTask(settings.TaskData(), kTaskDataSize, FakeSettings::TaskReader, cookie);
    }

    // Hands a cookie back the way the agent would once it is done with it.
    void EndTask(RXPLUGIN_TaskCookie cookie)
    {
        if (cookie == nullptr || cookie == kUntouched)
            return;
        qritest::FinishProcess(Process(cookie)->hProcess);
        dll.FreeCookie(cookie);
    }
};
using TaskEnforcement = TaskTest;
using TaskCookie = TaskTest;

TEST_F(TaskEnforcement, EngineRunsOnTheTaskScriptInTheInstallerDirectory)
{
    struct Case {
        const char *taskType;
        const char *prefix;
        const char *module;
    } cases[] = {
        {"vkAutoUpdateTask", "UPD", "AutoUpdate"}, {"VKAUTOUPDATETASK", "UPD", "AutoUpdate"},
        {"vkautoupdatetask", "UPD", "AutoUpdate"}, {"vkMirrorSiteTask", "REP", "Replicate"},
        {"VKMIRRORSITETASK", "REP", "Replicate"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.taskType);
        TaskInstallation installation;
        FakeSettings settings;
        settings.Set("Task", "TaskType", c.taskType);
        settings.Set("Task", "TaskName", "Nightly");
        RXPLUGIN_TaskCookie cookie = kUntouched;
        EXPECT_EQ(Enforce(settings, &cookie), 1);
        ASSERT_NE(cookie, kUntouched) << "no cookie";
        ASSERT_NE(cookie, nullptr);

        ASSERT_FALSE(settings.Calls().empty());
        const qritest::ReadCall &typeRead = settings.Calls().front();
        EXPECT_EQ(typeRead.reader, "task");
        EXPECT_EQ(typeRead.section + "/" + typeRead.key, "Task/TaskType");
        EXPECT_EQ(typeRead.taskData, settings.TaskData());
        EXPECT_EQ(typeRead.taskDataSize, kTaskDataSize);
        EXPECT_EQ(typeRead.valueKind, RXPLUGIN_VALUE_TEXT);
        EXPECT_EQ(typeRead.capacity, 260u);

        std::vector<std::string> scripts = ListFiles(installation.Directory(), "*.tmp");
        ASSERT_EQ(scripts.size(), 1u);
        EXPECT_EQ(scripts[0].substr(0, 3), c.prefix);
        std::string scriptPath = installation.Join(scripts[0]);

        std::string record = qritest::WaitForStandinRecord(installation.Engine());
        ASSERT_FALSE(record.empty()) << "the engine did not run";
        EXPECT_EQ(qritest::RecordField(record, "commandline"),
                  qritest::EngineCommandLine(installation.Directory(), scriptPath));
        EXPECT_EQ(qritest::RecordField(record, "cwd"), installation.Directory());

        // The cookie is the engine's process record.
        PROCESS_INFORMATION *process = Process(cookie);
        EXPECT_NE(process->dwProcessId, 0u);
        EXPECT_EQ(GetProcessId(process->hProcess), process->dwProcessId);
        EXPECT_EQ(GetThreadId(process->hThread), process->dwThreadId);
        EndTask(cookie);

        std::string expectedStart = InstallerFixture::GenericContent(c.module) +
                                    "\r\n\r\n[Options]\r\n\tset ScriptName=" + scripts[0] +
                                    "\r\n\tset TaskName=Nightly";
        EXPECT_EQ(qritest::ReadFileBytes(scriptPath).substr(0, expectedStart.size()), expectedStart);
    }
}

TEST_F(TaskEnforcement, EveryEnforcementWritesItsOwnScript)
{
    TaskInstallation installation;
    FakeSettings settings;
    settings.Set("Task", "TaskType", "vkAutoUpdateTask");
    std::vector<std::string> commandLines;
    for (int run = 0; run < 2; ++run) {
        DeleteFileA((installation.Engine() + ".seen").c_str());
        RXPLUGIN_TaskCookie cookie = kUntouched;
        EXPECT_EQ(Enforce(settings, &cookie), 1);
        ASSERT_NE(cookie, kUntouched) << "run " << run;
        commandLines.push_back(
            qritest::RecordField(qritest::WaitForStandinRecord(installation.Engine()), "commandline"));
        EndTask(cookie);
    }
    std::vector<std::string> scripts = ListFiles(installation.Directory(), "UPD*.tmp");
    ASSERT_EQ(scripts.size(), 2u);
    EXPECT_NE(commandLines[0], commandLines[1]);
    for (const std::string &script : scripts) {
        std::string line = qritest::EngineCommandLine(installation.Directory(), installation.Join(script));
        EXPECT_TRUE(line == commandLines[0] || line == commandLines[1]) << script << " never ran";
    }
}

TEST_F(TaskEnforcement, TaskTypeThatMatchesNothingReturnsTheReadersResult)
{
    struct Case {
        const char *name;
        std::string taskType;
        int readerResult;
    } cases[] = {
        {"trailing blank", "vkAutoUpdateTask ", 1}, {"leading blank", " vkAutoUpdateTask", 1},
        {"module name", "AutoUpdate", 7},           {"shorter", "vkAutoUpdate", 7},
        {"longer", "vkMirrorSiteTasks", -2},        {"empty", "", 3},
    };
    TaskInstallation installation;
    std::vector<std::string> before = ListFiles(installation.Directory());
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        FakeSettings settings;
        settings.Set("Task", "TaskType", c.taskType);
        settings.SetFoundResult(c.readerResult);
        RXPLUGIN_TaskCookie cookie = kUntouched;
        EXPECT_EQ(Enforce(settings, &cookie), c.readerResult);
        EXPECT_EQ(cookie, kUntouched);
        EndTask(cookie);
        EXPECT_EQ(settings.Calls().size(), 1u) << "read more than the task type";
        EXPECT_EQ(ListFiles(installation.Directory()), before) << "files changed";
    }
    EXPECT_EQ(qritest::WaitForStandinRecord(installation.Engine(), 300), "") << "an engine ran";
}

TEST_F(TaskEnforcement, FailureTable)
{
    struct Case {
        const char *name;
        std::function<void(TaskInstallation &, FakeSettings &)> arrange;
        int expected;
        std::size_t readerCalls; // kGeneratorReads: the generator read settings too
        // New *.tmp files in the installer directory, and whether they hold text.
        std::size_t newScripts;
        bool scriptWritten;
        bool nullTaskData = false;
        unsigned long taskDataSize = kTaskDataSize;
        bool nullReader = false;
        bool nullCookieLocation = false;
    };
    constexpr std::size_t kGeneratorReads = ~std::size_t{0};
    std::vector<Case> cases;
    cases.push_back({"null task data", nullptr, 0, 0, 0, false, true});
    cases.push_back({"task data size 0", nullptr, 0, 0, 0, false, false, 0});
    cases.push_back({"no reader", nullptr, 0, 0, 0, false, false, kTaskDataSize, true});
    cases.push_back({"null cookie location", nullptr, 0, 0, 0, false, false, kTaskDataSize, false, true});
    cases.push_back({"task type missing", [](TaskInstallation &, FakeSettings &s) { s.Remove("Task", "TaskType"); }, 0,
                     1, 0, false});
    cases.push_back({"installer directory value missing",
                     [](TaskInstallation &i, FakeSettings &) { i.installer.key.Remove("Installation Directory"); }, 0,
                     1, 0, false});
    cases.push_back({"installer key absent",
                     [](TaskInstallation &, FakeSettings &) { qritest::ScratchInstallerKey::DeleteKey(); }, 0, 1, 0,
                     false});
    // The generator refuses a script without its generic part; the empty file goes.
    cases.push_back(
        {"generic script missing",
         [](TaskInstallation &i, FakeSettings &) { DeleteFileA(i.installer.directory.Join("AutoUpdate.gen").c_str()); },
         0, 1, 0, false});
    // No name can be made in a directory that does not exist: nothing generated, nothing started.
    cases.push_back({"installer directory missing",
                     [](TaskInstallation &i, FakeSettings &) {
                         i.installer.key.SetText("Installation Directory", i.installer.directory.Join("gone"));
                     },
                     1, 1, 0, false});
    // A failed start still counts as done; the cookie left unset is the agent's
    // documented sign that no engine runs.
    cases.push_back({"engine missing", [](TaskInstallation &i, FakeSettings &) { DeleteFileA(i.Engine().c_str()); }, 1,
                     kGeneratorReads, 1, true});
    cases.push_back({"engine is no program",
                     [](TaskInstallation &i, FakeSettings &) {
                         DeleteFileA(i.Engine().c_str());
                         CreateDirectoryA(i.Engine().c_str(), nullptr);
                     },
                     1, kGeneratorReads, 1, true});

    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        TaskInstallation installation;
        FakeSettings settings;
        settings.Set("Task", "TaskType", "vkAutoUpdateTask");
        if (c.arrange)
            c.arrange(installation, settings);
        std::vector<std::string> before = ListFiles(installation.Directory(), "*.tmp");

        RXPLUGIN_TaskCookie cookie = kUntouched;
        int result = dll.EnforceTask(c.nullTaskData ? nullptr : settings.TaskData(), c.taskDataSize,
                                     c.nullReader ? nullptr : FakeSettings::TaskReader,
                                     c.nullCookieLocation ? nullptr : &cookie);
        EXPECT_EQ(result, c.expected);
        EXPECT_EQ(cookie, kUntouched);
        EndTask(cookie);
        if (c.readerCalls == kGeneratorReads) {
            EXPECT_GT(settings.Calls().size(), 1u) << "no script generated";
        } else {
            EXPECT_EQ(settings.Calls().size(), c.readerCalls);
        }

        std::vector<std::string> after = ListFiles(installation.Directory(), "*.tmp");
        ASSERT_EQ(after.size(), before.size() + c.newScripts);
        if (c.newScripts == 1) {
            std::string text = qritest::ReadFileBytes(installation.Join(after[0]));
            EXPECT_EQ(!text.empty(), c.scriptWritten) << after[0] << " holds \"" << text << "\"";
        }
        EXPECT_EQ(qritest::WaitForStandinRecord(installation.Engine(), 300), "") << "an engine ran";
    }
}

TEST_F(TaskCookie, StatusFollowsTheEngineUntilFreed)
{
    struct Case {
        const char *name;
        bool stop;         // ended by RXPLUGIN_StopTask
        DWORD terminateAs; // ended by the test with this exit code; 0 for none
        const char *exitMode;
        DWORD exitCode;
        int statusAfter;
    } cases[] = {
        {"exit 0", false, 0, "exit 0", 0, -1},
        {"exit 1", false, 0, "exit 1", 1, -1},
        {"stopped", true, 0, nullptr, 0, -1},
        // 259 is what a running process reports, so such an ending looks like a run.
        {"ended with 259", false, STILL_ACTIVE, nullptr, STILL_ACTIVE, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        TaskInstallation installation;
        ReleaseEvent release;
        ASSERT_TRUE(release.Valid());
        qritest::SetStandinMode(installation.Engine(), c.exitMode != nullptr ? c.exitMode : release.WaitMode());
        FakeSettings settings;
        settings.Set("Task", "TaskType", "vkAutoUpdateTask");
        RXPLUGIN_TaskCookie cookie = kUntouched;
        ASSERT_EQ(Enforce(settings, &cookie), 1);
        ASSERT_NE(cookie, kUntouched);
        PROCESS_INFORMATION *process = Process(cookie);
        const HANDLE processHandle = process->hProcess;
        const HANDLE threadHandle = process->hThread;

        if (c.exitMode == nullptr) {
            ASSERT_FALSE(qritest::WaitForStandinRecord(installation.Engine()).empty());
            EXPECT_EQ(dll.GetTaskStatus(cookie), 0) << "running";
            EXPECT_EQ(dll.GetTaskStatus(cookie), 0) << "still running";
            if (c.stop) {
                EXPECT_EQ(dll.StopTask(cookie), 1);
            } else {
                TerminateProcess(processHandle, c.terminateAs);
            }
        }
        ASSERT_EQ(WaitForSingleObject(processHandle, 10000), WAIT_OBJECT_0) << "did not end";
        DWORD exitCode = 0xdeadbeef;
        ASSERT_TRUE(GetExitCodeProcess(processHandle, &exitCode));
        EXPECT_EQ(exitCode, c.exitCode);
        EXPECT_EQ(dll.GetTaskStatus(cookie), c.statusAfter);

        // Stopping an ended task is harmless, and neither call lets go of the handles.
        EXPECT_EQ(dll.StopTask(cookie), 1);
        EXPECT_EQ(dll.GetTaskStatus(cookie), c.statusAfter);
        EXPECT_TRUE(qritest::HandleIsOpen(processHandle));
        EXPECT_TRUE(qritest::HandleIsOpen(threadHandle));

        EXPECT_EQ(dll.FreeCookie(cookie), 1);
        EXPECT_FALSE(qritest::HandleIsOpen(processHandle)) << "process handle left open";
        EXPECT_FALSE(qritest::HandleIsOpen(threadHandle)) << "thread handle left open";
    }
}

TEST_F(TaskCookie, NullCookieAndFailedQuery)
{
    EXPECT_EQ(dll.GetTaskStatus(nullptr), 0);
    EXPECT_EQ(dll.StopTask(nullptr), 1);
    EXPECT_EQ(dll.FreeCookie(nullptr), 1);

    // A record whose process handle is no process: the query fails and reads as ended.
    HANDLE notAProcess = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    ASSERT_NE(notAProcess, nullptr);
    PROCESS_INFORMATION record = {notAProcess, nullptr, 0, 0};
    EXPECT_EQ(dll.GetTaskStatus(&record), -1);
    CloseHandle(notAProcess);
}

TEST_F(TaskEnforcement, LongInstallerDirectoryGivesTheWholeCommandLine)
{
    for (std::size_t length : {200u, 240u}) {
        SCOPED_TRACE(length);
        qritest::LongInstallerFixture installation(length);
        ASSERT_EQ(installation.Directory().size(), length);
        FakeSettings settings;
        settings.Set("Task", "TaskType", "vkMirrorSiteTask");
        RXPLUGIN_TaskCookie cookie = kUntouched;
        EXPECT_EQ(Enforce(settings, &cookie), 1);
        ASSERT_NE(cookie, kUntouched) << "no engine";
        std::string record = qritest::WaitForStandinRecord(installation.Engine());
        EndTask(cookie);
        std::vector<std::string> scripts = ListFiles(installation.Directory(), "REP*.tmp");
        ASSERT_EQ(scripts.size(), 1u);
        std::string expected =
            qritest::EngineCommandLine(installation.Directory(), installation.Directory() + "\\" + scripts[0]);
        EXPECT_GT(expected.size(), 2 * length);
        EXPECT_EQ(qritest::RecordField(record, "commandline"), expected);
        EXPECT_EQ(qritest::RecordField(record, "cwd"), installation.Directory());
    }
}

TEST_F(TaskEnforcement, BlankInInstallerDirectoryDoesNotRunAProgramAtItsPrefix)
{
    // "<tmp>\qblank dir-..." would otherwise also be read as "<tmp>\qblank" with arguments.
    TaskInstallation installation("qblank dir");
    ASSERT_EQ(installation.Directory().find(qritest::TempDirectory() + "\\qblank "), 0u);
    qritest::PrefixDecoy decoy("qblank");

    FakeSettings settings;
    settings.Set("Task", "TaskType", "vkAutoUpdateTask");
    RXPLUGIN_TaskCookie cookie = kUntouched;
    EXPECT_EQ(Enforce(settings, &cookie), 1);
    std::string record = qritest::WaitForStandinRecord(installation.Engine(), 5000);
    bool decoyRan = decoy.Ran();
    EndTask(cookie);
    EXPECT_FALSE(decoyRan) << decoy.Path() << " ran instead of the engine";
    ASSERT_FALSE(record.empty()) << "the engine did not run";
    std::vector<std::string> scripts = ListFiles(installation.Directory(), "UPD*.tmp");
    ASSERT_EQ(scripts.size(), 1u);
    EXPECT_EQ(qritest::RecordField(record, "commandline"),
              qritest::EngineCommandLine(installation.Directory(), installation.Join(scripts[0])));
}

} // namespace
