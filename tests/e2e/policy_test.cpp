// RXPLUGIN_EnforcePolicy through the real DLL: the reboot event, the stored
// engine handle, the installer run flags, the three scripts and the engine.
#include <gtest/gtest.h>

#include <windows.h>

#include <csetjmp>
#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "support/engine_run.h"
#include "support/fake_host.h"
#include "support/plugin_dll.h"
#include "support/scratch.h"

namespace {

using qritest::AsHandle;
using qritest::FakeSettings;
using qritest::HandleIsOpen;
using qritest::InstallerFixture;
using qritest::kMadeUpHandle;
using qritest::kProcessHandle;
using qritest::kRebootEvent;
using qritest::kSoftwareId;
using qritest::PolicyInstallation;
using qritest::Added;

constexpr DWORD kAbsent = 0xdeadbeef;

std::string WithPrefix(const std::vector<std::string> &names, const std::string &prefix)
{
    std::string found;
    for (const std::string &name : names) {
        if (name.compare(0, prefix.size(), prefix) == 0) {
            EXPECT_TRUE(found.empty()) << "two " << prefix << " scripts";
            found = name;
        }
    }
    return found;
}

class PolicyEnforcement : public qritest::PluginTest {
protected:
    int Enforce(const char *softwareId = kSoftwareId)
    {
        return dll.EnforcePolicy(softwareId, FakeSettings::PolicyReader);
    }

    // One enforcement that starts the engine, and the engine's end: its
    // handle (still open), or nullptr when no engine ran and ended.
    HANDLE EndedRun(const PolicyInstallation &installation)
    {
        EXPECT_EQ(Enforce(), 1);
        DWORD stored = installation.Stored();
        if (stored == 0 || stored == kAbsent || !qritest::FinishProcess(AsHandle(stored))) {
            ADD_FAILURE() << "no engine ran and ended";
            return nullptr;
        }
        return AsHandle(stored);
    }
};

TEST_F(PolicyEnforcement, EngineRunsOnTheMasterScriptWhichNamesTheOtherTwo)
{
    PolicyInstallation installation;
    FakeSettings settings;
    std::vector<std::string> masterPaths;
    for (int run = 0; run < 2; ++run) {
        SCOPED_TRACE("run " + std::to_string(run));
        DeleteFileA((installation.Engine() + ".seen").c_str());
        std::vector<std::string> before = installation.Scripts();
        EXPECT_EQ(Enforce(), 1);
        std::vector<std::string> added = Added(before, installation.Scripts());
        ASSERT_EQ(added.size(), 3u);
        std::string master = installation.Join(WithPrefix(added, "MAS"));
        std::string msi = installation.Join(WithPrefix(added, "MSI"));
        std::string fenwa = installation.Join(WithPrefix(added, "FNW"));
        masterPaths.push_back(master);

        std::string record = qritest::WaitForStandinRecord(installation.Engine());
        ASSERT_FALSE(record.empty()) << "the engine did not run";
        EXPECT_EQ(qritest::RecordField(record, "commandline"),
                  qritest::EngineCommandLine(installation.Directory(), master));
        EXPECT_EQ(qritest::RecordField(record, "cwd"), installation.Directory());
        DWORD stored = installation.Stored();
        EXPECT_NE(stored, 0u);
        EXPECT_NE(stored, kAbsent);
        EXPECT_TRUE(HandleIsOpen(AsHandle(stored)));
        EXPECT_TRUE(qritest::FinishProcess(AsHandle(stored)));

        // The Master script names the MSI and Fenwa scripts of this very run.
        std::string masterText = qritest::ReadFileBytes(master);
        EXPECT_EQ(masterText.find(InstallerFixture::GenericContent("Master") +
                                  "\r\n\r\n[Options]\r\n\tset ScriptName=" + master.substr(master.rfind('\\') + 1)),
                  0u)
            << masterText;
        EXPECT_NE(masterText.find("\r\n\tset MSIScriptName=\"" + msi + "\"\r\n\tset FNWScriptName=\"" + fenwa + "\""),
                  std::string::npos)
            << masterText;
        EXPECT_EQ(qritest::ReadFileBytes(msi).find(InstallerFixture::GenericContent("MSI") + "\r\n\r\n[Options]"), 0u);
        EXPECT_EQ(qritest::ReadFileBytes(fenwa).find(InstallerFixture::GenericContent("Fenwa") + "\r\n\r\n[Options]"),
                  0u);
    }
    EXPECT_NE(masterPaths[0], masterPaths[1]);

    bool readAsProduct = false;
    for (const qritest::ReadCall &call : settings.Calls())
        readAsProduct = readAsProduct ||
                        (call.reader == "policy" && call.softwareId == kSoftwareId && call.section == "MSI General");
    EXPECT_TRUE(readAsProduct) << "the product's policy was not read";
    qritest::EndStoredEngine(installation.Key());
}

TEST_F(PolicyEnforcement, InstallerRunFlagsDecideWhetherAnythingRuns)
{
    const std::string fits = "1" + std::string(258, ' ');
    const std::string tooLong = "1" + std::string(259, ' ');
    struct Case {
        const char *name;
        const char *msi, *uninstaller, *oas; // nullptr: absent
        bool runs;
        std::function<void(qritest::ScratchInstallerKey &)> also = nullptr;
    } cases[] = {
        {"1 1 1", "1", "1", "1", false},
        {"1 1 0", "1", "1", "0", true},
        {"0 1 1", "0", "1", "1", true},
        {"1 0 1", "1", "0", "1", true},
        {"12abc counts as 12", "12abc", "1", "1", false},
        {"letters only count as 0", "1", "abc", "1", true},
        {"-1 is non-zero", "1", "1", "-1", false},
        {"blanks and plus sign", " \t+7", "1", "1", false},
        {"missing flag counts as 0", "1", nullptr, "1", true},
        {"no flags at all", nullptr, nullptr, nullptr, true},
        {"DWORD 1 parses as text and counts as 0", "1", "1", nullptr, true,
         [](qritest::ScratchInstallerKey &key) { key.SetDword("OAS_Installer_Run", 1); }},
        {"text without its zero", "1", "1", nullptr, false,
         [](qritest::ScratchInstallerKey &key) { key.SetRaw("OAS_Installer_Run", REG_SZ, "1"); }},
        {"259 characters fit", "1", "1", fits.c_str(), false},
        {"260 characters do not fit and count as 0", "1", "1", tooLong.c_str(), true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        PolicyInstallation installation;
        installation.SetFlags(c.msi, c.uninstaller, c.oas);
        if (c.also)
            c.also(installation.Key());
        FakeSettings settings;
        EXPECT_EQ(Enforce(), 1);
        EXPECT_EQ(installation.Scripts().size(), c.runs ? 3u : 0u);
        EXPECT_EQ(settings.Calls().empty(), !c.runs);
        if (c.runs) {
            EXPECT_FALSE(qritest::WaitForStandinRecord(installation.Engine()).empty()) << "no engine";
            EXPECT_NE(installation.Stored(), kAbsent);
        } else {
            EXPECT_EQ(installation.Stored(), kAbsent) << "an engine was stored";
        }
        qritest::EndStoredEngine(installation.Key());
    }
}

TEST_F(PolicyEnforcement, SetRebootEventStopsBeforeTheStoredHandleIsRead)
{
    ASSERT_FALSE(HandleIsOpen(AsHandle(kMadeUpHandle)));
    PolicyInstallation installation;
    installation.Key().SetDword(kProcessHandle, kMadeUpHandle);
    HANDLE reboot = CreateEventA(nullptr, TRUE, TRUE, kRebootEvent);
    ASSERT_NE(reboot, nullptr);

    FakeSettings settings;
    EXPECT_EQ(Enforce(), 0);
    EXPECT_EQ(installation.Stored(), kMadeUpHandle) << "the stored value was looked at";
    EXPECT_TRUE(installation.Scripts().empty());
    EXPECT_TRUE(settings.Calls().empty());

    // The same call goes on once the event is reset: the made-up value is dropped.
    ResetEvent(reboot);
    EXPECT_EQ(Enforce(), 1);
    EXPECT_EQ(installation.Scripts().size(), 3u);
    DWORD stored = installation.Stored();
    EXPECT_NE(stored, kMadeUpHandle);
    EXPECT_NE(stored, 0u);
    qritest::EndStoredEngine(installation.Key());
    CloseHandle(reboot);
}

TEST_F(PolicyEnforcement, MissingRebootEventIsCreatedOpenToAllAndSharedByName)
{
    ASSERT_FALSE(qritest::RebootEventExists()) << "another process holds the reboot event";
    PolicyInstallation installation;
    installation.SetFlags("1", "1", "1");
    FakeSettings settings;
    EXPECT_EQ(Enforce(), 1);

    HANDLE reboot = OpenEventA(SYNCHRONIZE | EVENT_MODIFY_STATE | READ_CONTROL, FALSE, kRebootEvent);
    ASSERT_NE(reboot, nullptr) << "the reboot event does not exist after the enforcement";
    EXPECT_EQ(WaitForSingleObject(reboot, 0), static_cast<DWORD>(WAIT_TIMEOUT)) << "created signalled";

    char descriptor[1024];
    DWORD needed = 0;
    ASSERT_TRUE(GetKernelObjectSecurity(reboot, DACL_SECURITY_INFORMATION, descriptor, sizeof descriptor, &needed));
    BOOL present = FALSE;
    BOOL defaulted = TRUE;
    PACL dacl = reinterpret_cast<PACL>(1);
    ASSERT_TRUE(GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted));
    EXPECT_TRUE(present);
    EXPECT_EQ(dacl, nullptr) << "the DACL restricts who may open the event";

    // Manual reset: it stays set through several waits, and the plug-in sees it.
    SetEvent(reboot);
    EXPECT_EQ(WaitForSingleObject(reboot, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(reboot, 0), WAIT_OBJECT_0);
    EXPECT_EQ(Enforce(), 0);
    ResetEvent(reboot);
    EXPECT_EQ(Enforce(), 1);
    CloseHandle(reboot);
}

TEST_F(PolicyEnforcement, RunningEngineStopsTheNextEnforcementUntilItEnds)
{
    PolicyInstallation installation;
    qritest::ReleaseEvent release;
    ASSERT_TRUE(release.Valid());
    qritest::SetStandinMode(installation.Engine(), release.WaitMode());
    FakeSettings settings;

    ASSERT_EQ(Enforce(), 1);
    DWORD stored = installation.Stored();
    ASSERT_NE(stored, 0u);
    ASSERT_NE(stored, kAbsent);
    HANDLE engine = AsHandle(stored);
    ASSERT_FALSE(qritest::WaitForStandinRecord(installation.Engine()).empty());
    std::vector<std::string> scripts = installation.Scripts();

    EXPECT_EQ(Enforce(), 0);
    EXPECT_EQ(installation.Stored(), stored) << "value changed while the engine runs";
    EXPECT_EQ(installation.Scripts(), scripts) << "scripts written while the engine runs";
    EXPECT_TRUE(HandleIsOpen(engine));

    release.Set();
    ASSERT_EQ(WaitForSingleObject(engine, 10000), WAIT_OBJECT_0);
    // Ended: the value is reset and the handle closed, also when there is nothing to install.
    installation.SetFlags("1", "1", "1");
    EXPECT_EQ(Enforce(), 1);
    EXPECT_EQ(installation.Stored(), 0u);
    EXPECT_FALSE(HandleIsOpen(engine)) << "the ended engine's handle was left open";
    EXPECT_EQ(installation.Scripts(), scripts);
}

TEST_F(PolicyEnforcement, EndedRunOfAnotherHandleIsResetButNotClosed)
{
    PolicyInstallation installation;
    FakeSettings settings;
    HANDLE ownEngine = EndedRun(installation);
    ASSERT_NE(ownEngine, nullptr);

    // A process of the test's own, ended, whose handle value replaces the stored one.
    qritest::InstallStandinEngine(installation.Directory(), "other.exe");
    std::string other = installation.Join("other.exe");
    qritest::SetStandinMode(other, "exit 5");
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION foreign = {};
    std::string line = "\"" + other + "\"";
    ASSERT_TRUE(
        CreateProcessA(other.c_str(), &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &foreign));
    ASSERT_TRUE(qritest::FinishProcess(foreign.hProcess));
    installation.Key().SetDword(kProcessHandle, static_cast<DWORD>(reinterpret_cast<ULONG_PTR>(foreign.hProcess)));

    installation.SetFlags("1", "1", "1");
    EXPECT_EQ(Enforce(), 1);
    EXPECT_EQ(installation.Stored(), 0u);
    EXPECT_TRUE(HandleIsOpen(foreign.hProcess)) << "closed a handle it never stored";
    EXPECT_TRUE(HandleIsOpen(ownEngine)) << "closed its own handle although another value was stored";
    CloseHandle(foreign.hProcess);
    CloseHandle(foreign.hThread);
    CloseHandle(ownEngine);
}

TEST_F(PolicyEnforcement, OwnValueThatNoLongerNamesAProcessIsNotClosed)
{
    PolicyInstallation installation;
    FakeSettings settings;
    HANDLE engine = EndedRun(installation);
    ASSERT_NE(engine, nullptr);
    // The engine handle goes away and an event takes over its value, so the
    // stored value now names a live handle that is no process.
    CloseHandle(engine);
    std::vector<HANDLE> fillers;
    HANDLE squatter = nullptr;
    for (int i = 0; i < 512 && squatter == nullptr; ++i) {
        HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        if (event == engine)
            squatter = event;
        else
            fillers.push_back(event);
    }
    for (HANDLE filler : fillers)
        CloseHandle(filler);
    ASSERT_NE(squatter, nullptr) << "no event got the freed handle value";
    DWORD exitCode = 0;
    ASSERT_FALSE(GetExitCodeProcess(squatter, &exitCode));
    ASSERT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));

    installation.SetFlags("1", "1", "1");
    EXPECT_EQ(Enforce(), 1);
    EXPECT_EQ(installation.Stored(), 0u);
    EXPECT_TRUE(HandleIsOpen(squatter)) << "closed a value that the system called no handle";
    CloseHandle(squatter);
}

TEST_F(PolicyEnforcement, OwnHandleNoLongerStoredIsClosedAtTheNextLaunch)
{
    PolicyInstallation installation;
    FakeSettings settings;
    HANDLE first = EndedRun(installation);
    ASSERT_NE(first, nullptr);
    // Someone else clears the value: the registry no longer names the first engine.
    installation.Key().SetDword(kProcessHandle, 0);

    ASSERT_EQ(Enforce(), 1);
    HANDLE second = AsHandle(installation.Stored());
    ASSERT_NE(second, first);
    EXPECT_FALSE(HandleIsOpen(first)) << "the unreachable handle of the first engine leaked";
    EXPECT_TRUE(HandleIsOpen(second));
    qritest::FinishProcess(second);
}

// A reset value is written back as 0; any other is left as stored.
TEST_F(PolicyEnforcement, StoredValueThatNamesNoRunningEngine)
{
    ASSERT_FALSE(HandleIsOpen(AsHandle(kMadeUpHandle)));
    for (const qritest::StoredValue &c : qritest::StoredValuesOfNoEngine()) {
        SCOPED_TRACE(c.name);
        PolicyInstallation installation;
        installation.SetFlags("1", "1", "1");
        if (!c.bytes.empty())
            installation.Key().SetRaw(kProcessHandle, c.type, c.bytes);
        FakeSettings settings;
        EXPECT_EQ(Enforce(), 1);

        HKEY key = nullptr;
        ASSERT_EQ(RegOpenKeyA(HKEY_LOCAL_MACHINE, qritest::kInstallerKey, &key), ERROR_SUCCESS);
        char data[64] = {};
        DWORD size = sizeof data;
        DWORD type = REG_NONE;
        LONG status = RegQueryValueExA(key, kProcessHandle, nullptr, &type, reinterpret_cast<BYTE *>(data), &size);
        RegCloseKey(key);
        if (c.reset) {
            EXPECT_EQ(status, ERROR_SUCCESS);
            EXPECT_EQ(type, static_cast<DWORD>(REG_DWORD));
            EXPECT_EQ(std::string(data, size), std::string(4, '\0'));
        } else if (c.bytes.empty()) {
            EXPECT_NE(status, ERROR_SUCCESS) << "value written";
        } else {
            EXPECT_EQ(type, c.type);
            EXPECT_EQ(std::string(data, size), c.bytes) << "value rewritten";
        }
    }
}

// After a result of 1, dwProcessHandle absent or 0 is the agent's documented
// sign that no engine started, whatever an earlier enforcement left there.
TEST_F(PolicyEnforcement, EngineThatCannotStartLeavesNoValue)
{
    enum Before { kNothing, kMadeUp, kOwnEnded };
    struct Case {
        const char *name;
        Before before;
        DWORD expected;
    } cases[] = {
        {"value absent", kNothing, kAbsent},
        {"ended value reset", kMadeUp, 0},
        {"own ended engine reset", kOwnEnded, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        PolicyInstallation installation;
        FakeSettings settings;
        HANDLE ended = c.before == kOwnEnded ? EndedRun(installation) : nullptr;
        ASSERT_EQ(c.before == kOwnEnded, ended != nullptr);
        DeleteFileA(installation.Engine().c_str());
        if (c.before == kMadeUp)
            installation.Key().SetDword(kProcessHandle, kMadeUpHandle);
        EXPECT_EQ(Enforce(), 1);
        EXPECT_EQ(installation.Stored(), c.expected);
        EXPECT_EQ(installation.Scripts().size(), c.before == kOwnEnded ? 6u : 3u);
    }
}

TEST_F(PolicyEnforcement, NoEngineOnAScriptWithoutItsGenericPart)
{
    for (const char *missing : {"Master.gen", "MSI.gen", "Fenwa.gen"}) {
        SCOPED_TRACE(missing);
        PolicyInstallation installation;
        DeleteFileA(installation.Join(missing).c_str());
        // An ended run's value is reset before the scripts are made; that stays.
        installation.Key().SetDword(kProcessHandle, kMadeUpHandle);
        FakeSettings settings;
        EXPECT_EQ(Enforce(), 0);
        EXPECT_EQ(installation.Stored(), 0u);
        // The scripts already written go with the one that could not be.
        EXPECT_TRUE(installation.Scripts().empty());
        EXPECT_EQ(qritest::WaitForStandinRecord(installation.Engine(), 300), "") << "an engine ran";
    }
}

TEST_F(PolicyEnforcement, NoScriptNameMeansNoScriptsAndNoEngine)
{
    PolicyInstallation installation;
    std::string gone = installation.Join("gone");
    installation.Key().SetText("Installation Directory", gone);
    FakeSettings settings;
    EXPECT_EQ(Enforce(), 1);
    EXPECT_EQ(installation.Stored(), kAbsent);
    EXPECT_TRUE(settings.Calls().empty()) << "a script was generated";
    EXPECT_FALSE(qritest::PathExists(gone));
    EXPECT_TRUE(installation.Scripts().empty());
}

TEST_F(PolicyEnforcement, LongInstallerDirectoryGivesTheWholeCommandLine)
{
    qritest::LongInstallerFixture installation(200);
    ASSERT_EQ(installation.Directory().size(), 200u);
    installation.key.SetText("OAS_Installer_Run", "0");
    FakeSettings settings;
    EXPECT_EQ(Enforce(), 1);
    std::string record = qritest::WaitForStandinRecord(installation.Engine());
    qritest::EndStoredEngine(installation.key);
    std::vector<std::string> scripts = qritest::ListFiles(installation.Directory(), "*.tmp");
    ASSERT_EQ(scripts.size(), 3u);
    std::string master = installation.Directory() + "\\" + WithPrefix(scripts, "MAS");
    std::string msi = installation.Directory() + "\\" + WithPrefix(scripts, "MSI");
    EXPECT_EQ(qritest::RecordField(record, "commandline"),
              qritest::EngineCommandLine(installation.Directory(), master));
    EXPECT_EQ(qritest::RecordField(record, "cwd"), installation.Directory());
    EXPECT_NE(qritest::ReadFileBytes(master).find("\tset MSIScriptName=\"" + msi + "\"\r\n"), std::string::npos);
}

TEST_F(PolicyEnforcement, DirectoryTooLongForTemporaryNamesMakesNoScripts)
{
    // Temporary names need the directory to leave 14 characters of MAX_PATH.
    struct Case {
        std::size_t length;
        bool named;
    } cases[] = {{246, true}, {247, false}, {248, false}, {252, false}, {259, false}};
    for (const Case &c : cases) {
        SCOPED_TRACE(std::to_string(c.length) + " characters");
        qritest::LongInstallerFixture installation(c.length);
        ASSERT_EQ(installation.Directory().size(), c.length);
        installation.key.SetText("OAS_Installer_Run", "0");
        FakeSettings settings;
        EXPECT_EQ(Enforce(), 1);
        EXPECT_EQ(installation.key.GetDword(kProcessHandle, 0) != 0, c.named);
        qritest::EndStoredEngine(installation.key);
        EXPECT_EQ(qritest::ListFiles(installation.Directory(), "*.tmp").size(), c.named ? 3u : 0u);
        EXPECT_EQ(settings.Calls().empty(), !c.named);
    }
}

struct PolicyWorker {
    PFN_RXPLUGIN_EnforcePolicy enforce;
    const char *product;
};

DWORD WINAPI EnforceRounds(void *argument)
{
    auto *worker = static_cast<PolicyWorker *>(argument);
    for (int round = 0; round < 40; ++round)
        worker->enforce(worker->product, FakeSettings::PolicyReader);
    return 0;
}

// Two agent threads enforce the policies of two products at once: every
// Master script names the MSI and Fenwa scripts of its own enforcement, and
// every script holds its own product's settings.
TEST_F(PolicyEnforcement, ConcurrentEnforcementsKeepTheirScriptsApart)
{
    PolicyInstallation installation;
    // Without an engine no run is "still running": every enforcement writes.
    DeleteFileA(installation.Engine().c_str());
    FakeSettings settings;
    const char *const products[] = {"oProductA", "oProductB"};
    for (const char *product : products) {
        for (const char *module : {"Master", "MSI", "Fenwa"}) {
            settings.Set(std::string(module) + " General", "bLogToFile", "1", product);
            settings.Set(std::string(module) + " General", "szLogFileName", std::string(product) + ".log", product);
            settings.Set(std::string(module) + " Sites General", "uNumberOfSites", "0", product);
        }
    }
    PolicyWorker workers[] = {{dll.EnforcePolicy, products[0]}, {dll.EnforcePolicy, products[1]}};
    HANDLE threads[2];
    for (int i = 0; i < 2; ++i)
        threads[i] = CreateThread(nullptr, 0, EnforceRounds, &workers[i], 0, nullptr);
    WaitForMultipleObjects(2, threads, TRUE, INFINITE);
    for (HANDLE thread : threads)
        CloseHandle(thread);

    std::vector<std::string> scripts = installation.Scripts();
    int masters = 0;
    for (const std::string &name : scripts) {
        if (name.compare(0, 3, "MAS") != 0)
            continue;
        ++masters;
        std::string master = qritest::ReadFileBytes(installation.Join(name));
        const char *owner = master.find("oProductA.log") != std::string::npos ? products[0] : products[1];
        EXPECT_NE(master.find(std::string("LogFileName=") + owner + ".log\r\n"), std::string::npos) << name;
        for (const char *field : {"MSIScriptName=\"", "FNWScriptName=\""}) {
            std::size_t start = master.find(field);
            ASSERT_NE(start, std::string::npos) << name << ": " << master;
            start += std::strlen(field);
            std::string named = master.substr(start, master.find('"', start) - start);
            std::string text = qritest::ReadFileBytes(named);
            EXPECT_NE(text.find(std::string("LogFileName=") + owner + ".log"), std::string::npos)
                << name << " names " << named << " of another enforcement";
        }
    }
    EXPECT_EQ(masters, 80);
    EXPECT_EQ(scripts.size(), 3u * masters) << "scripts of broken enforcements";
}

// A reader that calls both enforcements again from inside the running one.
void *const kUntouched = reinterpret_cast<void *>(static_cast<std::uintptr_t>(0xdeadbeef));

struct NestedCalls {
    qritest::PluginDll *dll = nullptr;
    int calls = 0;
    int policyResult = -1;
    int taskResult = -1;
    void *cookie = kUntouched;
} g_nested;

int RXPLUGIN_CALLBACK NestingReader(const char *softwareId, const char *section, const char *key, void *buffer,
                                    int valueKind, unsigned long *size)
{
    if (g_nested.calls++ == 0) {
        g_nested.policyResult = g_nested.dll->EnforcePolicy(softwareId, FakeSettings::PolicyReader);
        int taskData = 0;
        g_nested.taskResult =
            g_nested.dll->EnforceTask(&taskData, sizeof taskData, FakeSettings::TaskReader, &g_nested.cookie);
    }
    return FakeSettings::PolicyReader(softwareId, section, key, buffer, valueKind, size);
}

TEST_F(PolicyEnforcement, NestedEnforcementFromAReaderReturnsZeroAtOnce)
{
    PolicyInstallation installation;
    DeleteFileA(installation.Engine().c_str());
    FakeSettings settings;
    g_nested = NestedCalls();
    g_nested.dll = &dll;
    EXPECT_EQ(dll.EnforcePolicy(kSoftwareId, NestingReader), 1);
    EXPECT_EQ(g_nested.policyResult, 0);
    EXPECT_EQ(g_nested.taskResult, 0);
    EXPECT_EQ(g_nested.cookie, kUntouched) << "the cookie location was written";
    EXPECT_EQ(installation.Scripts().size(), 3u) << "the nested calls made scripts";
    EXPECT_EQ(static_cast<int>(settings.Calls().size()), g_nested.calls) << "the nested calls read settings";
}

// Enforcements that leave inside a reader, while the MSI script is half
// written: by ExitThread in the reader, terminated from outside while the
// reader blocks, or unwound past the export by a longjmp, after which the
// same thread enforces again before it ends.
constexpr DWORD kWaitBound = 30000;

enum class Leaving { ExitThread, Terminated, LongJump };

struct DyingReads {
    Leaving how = Leaving::ExitThread;
    HANDLE inside = nullptr; // set when the reader blocks
    std::jmp_buf escape;
} g_dying;

int RXPLUGIN_CALLBACK DyingReader(const char *softwareId, const char *section, const char *key, void *buffer,
                                  int valueKind, unsigned long *size)
{
    if (std::strcmp(section, "MSI General") == 0) {
        if (g_dying.how == Leaving::ExitThread)
            ExitThread(7);
        if (g_dying.how == Leaving::LongJump)
            std::longjmp(g_dying.escape, 1);
        SetEvent(g_dying.inside);
        Sleep(INFINITE);
    }
    return FakeSettings::PolicyReader(softwareId, section, key, buffer, valueKind, size);
}

struct PolicyCall {
    PFN_RXPLUGIN_EnforcePolicy enforce;
    RXPLUGIN_PolicySettingReader reader;
    int result = -1;
    int again = -1; // the same thread's next enforcement, after a longjmp
};

DWORD WINAPI EnforceOnce(void *argument)
{
    auto *call = static_cast<PolicyCall *>(argument);
    if (call->reader == DyingReader && g_dying.how == Leaving::LongJump) {
        if (setjmp(g_dying.escape) != 0) {
            call->again = call->enforce(kSoftwareId, FakeSettings::PolicyReader);
            return 0;
        }
    }
    call->result = call->enforce(kSoftwareId, call->reader);
    return 0;
}

// The next enforcement, on a thread of its own, runs its course: 1, and a
// Master script that names the MSI and Fenwa scripts of the same enforcement.
// The thread ids of ended threads come back, so some rounds also show that a
// new thread with a dead holder's id is not taken for a nested call.
TEST_F(PolicyEnforcement, EnforcementAfterOneWhoseThreadEndedInsideRunsItsCourse)
{
    PolicyInstallation installation;
    DeleteFileA(installation.Engine().c_str());
    FakeSettings settings;
    HANDLE inside = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    // The cheapest way to end a holder gets the many rounds that bring a dead
    // holder's thread id back to a new thread.
    const struct {
        Leaving how;
        const char *name;
        int rounds;
    } ways[] = {
        {Leaving::ExitThread, "ExitThread in a reader", 100},
        {Leaving::Terminated, "terminated in a reader", 20},
        {Leaving::LongJump, "longjmp out of a reader", 20},
    };
    for (const auto &way : ways) {
        for (int round = 0; round < way.rounds; ++round) {
            SCOPED_TRACE(std::string(way.name) + ", round " + std::to_string(round));
            g_dying.how = way.how;
            g_dying.inside = inside;
            PolicyCall dying{dll.EnforcePolicy, DyingReader};
            HANDLE dyingThread = CreateThread(nullptr, 0, EnforceOnce, &dying, 0, nullptr);
            if (way.how == Leaving::Terminated) {
                EXPECT_EQ(WaitForSingleObject(inside, kWaitBound), WAIT_OBJECT_0);
                TerminateThread(dyingThread, 9);
            }
            DWORD ended = WaitForSingleObject(dyingThread, kWaitBound);
            if (ended != WAIT_OBJECT_0)
                TerminateThread(dyingThread, 9);
            CloseHandle(dyingThread);
            ASSERT_EQ(ended, WAIT_OBJECT_0) << "the leaving thread did not end";
            if (way.how == Leaving::LongJump) {
                ASSERT_EQ(dying.again, 1) << "the unwound thread's next enforcement did not run its course";
            }

            std::vector<std::string> before = installation.Scripts();
            PolicyCall next{dll.EnforcePolicy, FakeSettings::PolicyReader};
            HANDLE nextThread = CreateThread(nullptr, 0, EnforceOnce, &next, 0, nullptr);
            DWORD waited = WaitForSingleObject(nextThread, kWaitBound);
            if (waited != WAIT_OBJECT_0)
                TerminateThread(nextThread, 9);
            CloseHandle(nextThread);
            ASSERT_EQ(waited, WAIT_OBJECT_0) << "the next enforcement still waits for the lock";
            ASSERT_EQ(next.result, 1);
            std::vector<std::string> added = Added(before, installation.Scripts());
            ASSERT_EQ(added.size(), 3u);
            std::string master = qritest::ReadFileBytes(installation.Join(WithPrefix(added, "MAS")));
            EXPECT_NE(master.find("MSIScriptName=\"" + installation.Join(WithPrefix(added, "MSI")) + "\""),
                      std::string::npos)
                << master;
            EXPECT_NE(master.find("FNWScriptName=\"" + installation.Join(WithPrefix(added, "FNW")) + "\""),
                      std::string::npos)
                << master;
        }
    }
    CloseHandle(inside);
}

TEST_F(PolicyEnforcement, BlankInInstallerDirectoryDoesNotRunAProgramAtItsPrefix)
{
    PolicyInstallation installation("qpblank dir");
    ASSERT_EQ(installation.Directory().find(qritest::TempDirectory() + "\\qpblank "), 0u);
    qritest::PrefixDecoy decoy("qpblank");

    FakeSettings settings;
    EXPECT_EQ(Enforce(), 1);
    std::string record = qritest::WaitForStandinRecord(installation.Engine());
    qritest::EndStoredEngine(installation.Key());
    EXPECT_FALSE(decoy.Ran()) << decoy.Path() << " ran instead of the engine";
    ASSERT_FALSE(record.empty()) << "the engine did not run";
    std::string master = installation.Join(WithPrefix(installation.Scripts(), "MAS"));
    EXPECT_EQ(qritest::RecordField(record, "commandline"),
              qritest::EngineCommandLine(installation.Directory(), master));
}

TEST_F(PolicyEnforcement, StopsEarlyWithoutArgumentsKeyOrDirectory)
{
    ASSERT_FALSE(qritest::RebootEventExists()) << "another process holds the reboot event";
    struct Case {
        const char *name;
        const char *softwareId;
        bool reader;
        std::function<void(PolicyInstallation &)> arrange;
    } cases[] = {
        {"null software ID", nullptr, true, nullptr},
        {"empty software ID", "", true, nullptr},
        {"no reader", kSoftwareId, false, nullptr},
        {"installer key absent", kSoftwareId, true,
         [](PolicyInstallation &) { qritest::ScratchInstallerKey::DeleteKey(); }},
        {"installer directory missing", kSoftwareId, true,
         [](PolicyInstallation &p) { p.Key().Remove("Installation Directory"); }},
        {"installer directory of 260 characters", kSoftwareId, true,
         [](PolicyInstallation &p) { p.Key().SetText("Installation Directory", std::string(260, 'd')); }},
        {"relative installer directory", kSoftwareId, true,
         [](PolicyInstallation &p) { p.Key().SetText("Installation Directory", "AAAA"); }},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        PolicyInstallation installation;
        installation.Key().SetDword(kProcessHandle, kMadeUpHandle);
        if (c.arrange)
            c.arrange(installation);
        FakeSettings settings;
        EXPECT_EQ(dll.EnforcePolicy(c.softwareId, c.reader ? FakeSettings::PolicyReader : nullptr), 0);
        EXPECT_TRUE(settings.Calls().empty());
        EXPECT_TRUE(installation.Scripts().empty());
        // Where the key is still there, the stored value was not looked at.
        if (installation.Key().Has("MSI_Installer_Run")) {
            EXPECT_EQ(installation.Stored(), kMadeUpHandle);
        }
    }
    EXPECT_FALSE(qritest::RebootEventExists()) << "the reboot event was touched";
}

} // namespace
