// Trace messages of policy enforcement, task enforcement and the
// installed-software check, called on the static library. Each test runs in a
// process of its own, so the reboot event's creation handle and the remembered
// engine handle start out empty.
#include <gtest/gtest.h>

#include <windows.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "common/trace.h"
#include "plugin/enforcement.h"
#include "registry/installer_key.h"
#include "support/engine_run.h"
#include "support/fake_host.h"
#include "support/scratch.h"
#include "support/trace_capture.h"

namespace {

using qritest::FakeSettings;
using qritest::InstallerFixture;
using qritest::kMadeUpHandle;
using qritest::kProcessHandle;
using qritest::kRebootEvent;
using qritest::kSoftwareId;
using qritest::Messages;
using qritest::MessagesFrom;
using qritest::OnlyFile;
using qritest::PolicyInstallation;
using qritest::ScratchInstallerKey;
using qritest::TextValues;
using qritest::TraceCapture;
using Installation = qritest::EngineInstallation;

namespace {

// A script that the call made and removed again: none of its prefix is left,
// and the last formatted message names it.
std::string RemovedScript(const std::string &directory, const std::string &prefix)
{
    EXPECT_TRUE(qritest::ListFiles(directory, prefix + "*.tmp").empty()) << prefix << " script left behind";
    return qritest::ScriptNamedLast(directory, prefix, qri::TraceBuffer());
}

} // namespace

// The enforcements' own messages; the generator's all begin with a line feed.
Messages Own(const Messages &all)
{
    Messages own;
    for (const std::string &message : all) {
        if (message.empty() || message[0] != '\n')
            own.push_back(message);
    }
    return own;
}

std::string Joined(const Messages &messages)
{
    std::string text;
    for (const std::string &message : messages)
        text += "[" + message + "]\n";
    return text;
}

TEST(PolicyTrace, FirstEnforcementCreatesTheRebootEventAndTheNextOpensIt)
{
    ASSERT_FALSE(qritest::RebootEventExists()) << "another process holds the reboot event";
    PolicyInstallation installation;
    FakeSettings settings;
    TraceCapture trace;

    EXPECT_EQ(qri::EnforcePolicy(kSoftwareId, FakeSettings::PolicyReader), 1);
    std::string master = OnlyFile(installation.Directory(), "MAS*.tmp");
    std::string msi = OnlyFile(installation.Directory(), "MSI*.tmp");
    std::string fenwa = OnlyFile(installation.Directory(), "FNW*.tmp");
    EXPECT_EQ(Own(trace.Messages()),
              (Messages{"Enforcing policies", "Opening reboot event", "Creating reboot event",
                        "Opening reboot event (after creating it)", "Get the process handle",
                        "Get the status from the registry", "Generate Master.qrs", "Generate MSI.qrs",
                        "Generate Fenwa.qrs", "Launching VESK",
                        qritest::EngineCommandLine(installation.Directory(), master), "Store the process handle"}))
        << Joined(trace.Messages());
    // Each script's generation follows its own message.
    const struct {
        const char *message;
        const char *module;
        std::string path;
    } generations[] = {{"Generate Master.qrs", "Master", master},
                       {"Generate MSI.qrs", "MSI", msi},
                       {"Generate Fenwa.qrs", "Fenwa", fenwa}};
    for (const auto &generation : generations) {
        Messages after = MessagesFrom(trace.Messages(), generation.message);
        ASSERT_GE(after.size(), 2u) << generation.message;
        EXPECT_EQ(after[1], qritest::CopiedMessage(generation.module, generation.path)) << generation.message;
    }
    DWORD stored = installation.Key().GetDword(kProcessHandle, 0);
    ASSERT_NE(stored, 0u);
    ASSERT_TRUE(qritest::FinishProcess(qritest::AsHandle(stored)));

    // The ended run is reset before the flags are read; the event opens at once.
    trace.Clear();
    installation.SetFlags("1", "1", "1");
    EXPECT_EQ(qri::EnforcePolicy(kSoftwareId, FakeSettings::PolicyReader), 1);
    EXPECT_EQ(trace.Messages(), (Messages{"Enforcing policies", "Opening reboot event", "Get the process handle",
                                          "Reset the process handle", "Get the status from the registry",
                                          "Everything is installed, do not run VESK"}));
    EXPECT_FALSE(qritest::HandleIsOpen(qritest::AsHandle(stored)));
}

TEST(PolicyTrace, FailureTableEndsWithItsMessage)
{
    struct Row {
        const char *name;
        // Changes the installation before the call; may return a clean-up step.
        std::function<std::function<void()>(Installation &)> arrange;
        int expected;
        std::function<std::string(Installation &)> last;
        bool onlyMessage = false; // "Enforcing policies" is the whole trace
        const char *softwareId = kSoftwareId;
        bool reader = true;
    };
    auto fixed = [](const char *message) { return [message](Installation &) { return std::string(message); }; };
    // A change that needs no clean-up.
    auto only = [](std::function<void(Installation &)> change) {
        return [change](Installation &i) {
            if (change)
                change(i);
            return std::function<void()>();
        };
    };
    std::vector<Row> rows = {
        {"null software ID", only(nullptr), 0, fixed("Enforcing policies"), true, nullptr},
        {"empty software ID", only(nullptr), 0, fixed("Enforcing policies"), true, ""},
        {"no reader", only(nullptr), 0, fixed("Enforcing policies"), true, kSoftwareId, false},
        {"installer key absent", only([](Installation &) { ScratchInstallerKey::DeleteKey(); }), 0,
         fixed("Enforcing policies"), true},
        {"installer directory unreadable", only([](Installation &i) { i.Key().Remove("Installation Directory"); }), 0,
         fixed("Enforcing policies"), true},
        {"reboot event set",
         [](Installation &) {
             HANDLE event = CreateEventA(nullptr, TRUE, FALSE, kRebootEvent);
             SetEvent(event);
             return std::function<void()>([event] {
                 ResetEvent(event);
                 CloseHandle(event);
             });
         },
         0, fixed("Reboot event is set. Quit policy enforcement.")},
        {"previous engine still running",
         [](Installation &i) {
             auto release = std::make_shared<qritest::ReleaseEvent>();
             qritest::SetStandinMode(i.Engine(), release->WaitMode());
             EXPECT_EQ(qri::EnforcePolicy(kSoftwareId, FakeSettings::PolicyReader), 1);
             EXPECT_FALSE(qritest::WaitForStandinRecord(i.Engine()).empty());
             return std::function<void()>([release] { release->Set(); });
         },
         0, fixed("Previous Vesk is still running. Quit policy enforcement")},
        {"everything installed", only([](Installation &i) { i.SetFlags("1", "1", "1"); }), 1,
         fixed("Everything is installed, do not run VESK")},
        {"engine cannot be started", only([](Installation &i) { DeleteFileA(i.Engine().c_str()); }), 1,
         fixed("Failed to create the process, error 2")},
        {"engine started", only(nullptr), 1, fixed("Store the process handle")},
        {"no script name can be made",
         only([](Installation &i) { i.Key().SetText("Installation Directory", i.Join("gone")); }), 1,
         [](Installation &i) { return "Unable to create a MAS script file in " + i.Join("gone"); }},
        {"generic script missing", only([](Installation &i) { DeleteFileA(i.Join("MSI.gen").c_str()); }), 0,
         [](Installation &i) { return qritest::NoGenericScriptMessage(RemovedScript(i.Directory(), "MSI"), "MSI"); }},
    };
    for (Row &row : rows) {
        SCOPED_TRACE(row.name);
        PolicyInstallation installation;
        FakeSettings settings;
        TraceCapture trace;
        std::function<void()> cleanUp = row.arrange(installation);
        trace.Clear();
        EXPECT_EQ(qri::EnforcePolicy(row.softwareId, row.reader ? FakeSettings::PolicyReader : nullptr), row.expected);
        ASSERT_FALSE(trace.Messages().empty());
        EXPECT_EQ(trace.Messages().back(), row.last(installation)) << Joined(trace.Messages());
        if (row.onlyMessage) {
            EXPECT_EQ(trace.Messages().size(), 1u) << Joined(trace.Messages());
        }
        if (cleanUp)
            cleanUp();
        qritest::EndStoredEngine(installation.Key());
    }
}

TEST(PolicyTrace, RebootEventThatCannotBeOpenedEvenAfterCreating)
{
    ASSERT_FALSE(qritest::RebootEventExists()) << "another process holds the reboot event";
    // An object of another type holds the name, so neither open nor create can succeed.
    HANDLE squatter = CreateMutexA(nullptr, FALSE, kRebootEvent);
    ASSERT_NE(squatter, nullptr);
    PolicyInstallation installation;
    FakeSettings settings;
    TraceCapture trace;
    EXPECT_EQ(qri::EnforcePolicy(kSoftwareId, FakeSettings::PolicyReader), 0);
    EXPECT_EQ(trace.Messages(), (Messages{"Enforcing policies", "Opening reboot event", "Creating reboot event",
                                          "Opening reboot event (after creating it)"}));
    CloseHandle(squatter);
}

TEST(PolicyTrace, SetRebootEventStopsBeforeTheProcessHandleIsRead)
{
    HANDLE reboot = CreateEventA(nullptr, TRUE, TRUE, kRebootEvent);
    ASSERT_NE(reboot, nullptr);
    PolicyInstallation installation;
    installation.Key().SetDword(kProcessHandle, kMadeUpHandle);
    FakeSettings settings;
    TraceCapture trace;
    EXPECT_EQ(qri::EnforcePolicy(kSoftwareId, FakeSettings::PolicyReader), 0);
    EXPECT_EQ(trace.Messages(), (Messages{"Enforcing policies", "Opening reboot event",
                                          "Reboot event is set. Quit policy enforcement."}));
    CloseHandle(reboot);
}

TEST(PolicyTrace, ResetOnlyWhenARunWasStored)
{
    for (const qritest::StoredValue &row : qritest::StoredValuesOfNoEngine()) {
        SCOPED_TRACE(row.name);
        Installation installation;
        installation.SetFlags("1", "1", "1");
        if (!row.bytes.empty())
            installation.Key().SetRaw(kProcessHandle, row.type, row.bytes);
        FakeSettings settings;
        TraceCapture trace;
        EXPECT_EQ(qri::EnforcePolicy(kSoftwareId, FakeSettings::PolicyReader), 1);
        Messages expected = {"Get the process handle"};
        if (row.reset)
            expected.push_back("Reset the process handle");
        expected.push_back("Get the status from the registry");
        expected.push_back("Everything is installed, do not run VESK");
        EXPECT_EQ(MessagesFrom(trace.Messages(), "Get the process handle"), expected) << Joined(trace.Messages());
    }
}

TEST(PolicyTrace, GenerationStopsAtTheScriptWithoutItsGenericPart)
{
    struct Row {
        const char *genericScript;
        const char *module;
        const char *prefix;
        Messages own;
    } rows[] = {
        {"Master.gen", "Master", "MAS", {"Generate Master.qrs"}},
        {"MSI.gen", "MSI", "MSI", {"Generate Master.qrs", "Generate MSI.qrs"}},
        {"Fenwa.gen", "Fenwa", "FNW", {"Generate Master.qrs", "Generate MSI.qrs", "Generate Fenwa.qrs"}},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.module);
        PolicyInstallation installation;
        DeleteFileA(installation.Join(row.genericScript).c_str());
        FakeSettings settings;
        TraceCapture trace;
        EXPECT_EQ(qri::EnforcePolicy(kSoftwareId, FakeSettings::PolicyReader), 0);
        EXPECT_EQ(MessagesFrom(Own(trace.Messages()), "Generate Master.qrs"), row.own) << Joined(trace.Messages());
        ASSERT_FALSE(trace.Messages().empty());
        EXPECT_EQ(trace.Messages().back(),
                  qritest::NoGenericScriptMessage(RemovedScript(installation.Directory(), row.prefix), row.module));
        EXPECT_EQ(installation.Stored(), 0xdeadbeefu);
    }
}

TEST(PolicyTrace, LongCommandLineIsSentWhole)
{
    qritest::LongInstallerFixture installation(200);
    installation.key.SetText("OAS_Installer_Run", "0");
    FakeSettings settings;
    TraceCapture trace;
    EXPECT_EQ(qri::EnforcePolicy(kSoftwareId, FakeSettings::PolicyReader), 1);
    std::string master = OnlyFile(installation.Directory(), "MAS*.tmp");
    Messages after = MessagesFrom(trace.Messages(), "Launching VESK");
    ASSERT_EQ(after.size(), 3u) << Joined(trace.Messages());
    EXPECT_EQ(after[1], qritest::EngineCommandLine(installation.Directory(), master));
    EXPECT_EQ(after[2], "Store the process handle");
    qritest::EndStoredEngine(installation.key);
}

TEST(TaskTrace, MessagesOfEachOutcome)
{
    void *const untouched = reinterpret_cast<void *>(static_cast<ULONG_PTR>(0x5eedc00c));
    struct Row {
        const char *name;
        const char *taskType;
        std::function<void(Installation &)> arrange;
        int expected;
        bool cookie;
        // The whole trace when `whole`, else its first messages.
        std::function<Messages(Installation &)> messages;
        bool whole;
        bool nullCookieLocation = false;
    };
    auto nothing = [](Installation &) {};
    auto noMessages = [](Installation &) { return Messages{}; };
    // The generation's own message, then the copy of its generic script.
    auto generating = [](const char *message, const char *module, const char *pattern) {
        return [=](Installation &i) {
            return Messages{message, qritest::CopiedMessage(module, OnlyFile(i.Directory(), pattern))};
        };
    };
    std::vector<Row> rows = {
        {"AutoUpdate", "vkAutoUpdateTask", nothing, 1, true,
         generating("Generate script for AutoUpdate Task", "AutoUpdate", "UPD*.tmp"), false},
        {"mirror", "VKMIRRORSITETASK", nothing, 1, true,
         generating("Generate script for Mirror Task", "Replicate", "REP*.tmp"), false},
        {"no script name can be made", "vkAutoUpdateTask",
         [](Installation &i) { i.Key().SetText("Installation Directory", i.Join("gone")); }, 1, false,
         [](Installation &i) {
             return Messages{"Generate script for AutoUpdate Task",
                             "Unable to create a UPD script file in " + i.Join("gone")};
         },
         true},
        {"generic script missing", "vkAutoUpdateTask",
         [](Installation &i) { DeleteFileA(i.Join("AutoUpdate.gen").c_str()); }, 0, false,
         [](Installation &i) {
             std::string script = RemovedScript(i.Directory(), "UPD");
             return Messages{"Generate script for AutoUpdate Task", qritest::CopyErrorMessage("AutoUpdate", script),
                             qritest::NotWrittenMessage(script, ERROR_FILE_NOT_FOUND),
                             qritest::NoGenericScriptMessage(script, "AutoUpdate")};
         },
         true},
        {"task type with a trailing blank", "vkAutoUpdateTask ", nothing, 1, false, noMessages, true},
        {"installer directory unreadable", "vkAutoUpdateTask",
         [](Installation &i) { i.Key().Remove("Installation Directory"); }, 0, false, noMessages, true},
        {"null cookie location", "vkAutoUpdateTask", nothing, 0, false, noMessages, true, true},
    };
    for (Row &row : rows) {
        SCOPED_TRACE(row.name);
        Installation installation;
        row.arrange(installation);
        FakeSettings settings;
        settings.Set("Task", "TaskType", row.taskType);
        TraceCapture trace;
        RXPLUGIN_TaskCookie cookie = untouched;
        EXPECT_EQ(qri::EnforceTask(settings.TaskData(), 8, FakeSettings::TaskReader,
                                   row.nullCookieLocation ? nullptr : &cookie),
                  row.expected);
        EXPECT_EQ(cookie != untouched, row.cookie);
        if (cookie != untouched) {
            qritest::FinishProcess(static_cast<PROCESS_INFORMATION *>(cookie)->hProcess);
            qri::FreeCookie(cookie);
        }
        Messages expected = row.messages(installation);
        Messages seen = trace.Messages();
        if (!row.whole && seen.size() > expected.size())
            seen.resize(expected.size());
        EXPECT_EQ(seen, expected) << Joined(trace.Messages());
        if (row.cookie) {
            EXPECT_EQ(Own(trace.Messages()).size(), 1u) << "messages after the generation";
        }
    }
}

TEST(TaskTrace, FailedStartSendsNothingAfterTheGeneration)
{
    Installation installation;
    DeleteFileA(installation.Engine().c_str());
    FakeSettings settings;
    settings.Set("Task", "TaskType", "vkAutoUpdateTask");
    TraceCapture trace;
    void *cookie = reinterpret_cast<void *>(static_cast<ULONG_PTR>(0x5eedc00c));
    EXPECT_EQ(qri::EnforceTask(settings.TaskData(), 8, FakeSettings::TaskReader, &cookie), 1);
    EXPECT_EQ(cookie, reinterpret_cast<void *>(static_cast<ULONG_PTR>(0x5eedc00c)));
    EXPECT_EQ(Own(trace.Messages()), (Messages{"Generate script for AutoUpdate Task"}));
    ASSERT_FALSE(trace.Messages().empty());
    // No site count in the settings: the generation ends with its own error.
    EXPECT_EQ(trace.Messages().back(), "\nError generating script");
}

TEST(InstalledTrace, ResultAndMessages)
{
    struct Row {
        const char *name;
        qritest::Arrange arrange;
        int expected;
        // Messages after "IsSoftwareInstalled", given the installer directory.
        std::function<Messages(const std::string &)> messages;
    };
    auto none = [](const std::string &) { return Messages{}; };
    auto notFound = [](const char *relative, unsigned long code) {
        return [relative, code](const std::string &directory) {
            return Messages{"Non : didn't find " + directory + "\\" + relative + " (" + std::to_string(code) + ")"};
        };
    };
    std::vector<Row> rows = {
        {"no base-file values", TextValues({{"Product Name", "P"}}), 1, none},
        {"existing file",
         [](InstallerFixture &i) {
             qritest::WriteFileBytes(i.directory.Join("core.dll"), "x");
             i.key.SetText("Base:core", "core.dll");
         },
         1, none},
        {"missing file", TextValues({{"Base:core", "core.dll"}}), 0, notFound("core.dll", 2)},
        {"two missing: the first in enumeration order only", TextValues({{"Base:b", "b.dll"}, {"Base:a", "a.dll"}}), 0,
         notFound("a.dll", 2)},
        {"BASE: in capitals", TextValues({{"BASE:x", "x.dll"}}), 0, notFound("x.dll", 2)},
        {"base: in small letters", TextValues({{"base:x", "x.dll"}}), 0, notFound("x.dll", 2)},
        {"not a base-file name", TextValues({{"xBase:x", "x.dll"}, {"Base", "x.dll"}, {"Bas:", "x.dll"}}), 1, none},
        {"subdirectory",
         [](InstallerFixture &i) {
             CreateDirectoryA(i.directory.Join("lib").c_str(), nullptr);
             i.key.SetText("Base:lib", "lib");
         },
         1, none},
        {"missing subdirectory on the way", TextValues({{"Base:x", "nodir\\x.dll"}}), 0, notFound("nodir\\x.dll", 3)},
        {"over-long data ends the scan", TextValues({{"A long", std::string(261, 'x')}, {"Base:core", "core.dll"}}), 1,
         none},
        {"over-long name ends the scan", TextValues({{"A" + std::string(259, 'n'), "x"}, {"Base:core", "core.dll"}}), 1,
         none},
        {"name of 259 characters does not end the scan",
         TextValues({{"A" + std::string(258, 'n'), "x"}, {"Base:core", "core.dll"}}), 0, notFound("core.dll", 2)},
        {"binary data without its zero",
         [](InstallerFixture &i) {
             qritest::WriteFileBytes(i.directory.Join("core.dll"), "x");
             i.key.SetText("A filler", std::string(200, 'z'));
             i.key.SetRaw("Base:core", REG_BINARY, "core.dll");
         },
         1, none},
        {"missing binary data without its zero",
         [](InstallerFixture &i) {
             i.key.SetText("A filler", std::string(200, 'z'));
             i.key.SetRaw("Base:core", REG_BINARY, "core.dll");
         },
         0, notFound("core.dll", 2)},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        InstallerFixture installer;
        row.arrange(installer);
        TraceCapture trace;
        EXPECT_EQ(qri::IsSoftwareInstalled(), row.expected);
        Messages expected = {"IsSoftwareInstalled"};
        for (const std::string &message : row.messages(installer.directory.Path()))
            expected.push_back(message);
        EXPECT_EQ(trace.Messages(), expected);
    }
}

TEST(InstalledTrace, PathThatDoesNotFitItsBufferIsReportedMissing)
{
    struct Row {
        const char *name;
        std::size_t pathLength; // directory, backslash and data; 0: the longest data that enumerates
        unsigned long code;
    } rows[] = {{"259 characters", 259, 2}, {"260 characters", 260, 206}, {"data of 259 characters", 0, 206}};
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        InstallerFixture installer;
        const std::string &directory = installer.directory.Path();
        std::string data(row.pathLength != 0 ? row.pathLength - directory.size() - 1 : 259, 'f');
        installer.key.SetText("Base:long", data);
        TraceCapture trace;
        EXPECT_EQ(qri::IsSoftwareInstalled(), 0);
        // The message names the whole path, however long.
        EXPECT_EQ(trace.Messages(), (Messages{"IsSoftwareInstalled", "Non : didn't find " + directory + "\\" + data +
                                                                         " (" + std::to_string(row.code) + ")"}));
    }
}

TEST(InstalledTrace, NoDirectoryNoCheck)
{
    ScratchInstallerKey::DeleteKey();
    TraceCapture trace;
    EXPECT_EQ(qri::IsSoftwareInstalled(), 0) << "key absent";
    EXPECT_EQ(trace.Messages(), (Messages{"IsSoftwareInstalled", "No : can't get path from registry"}));

    ScratchInstallerKey key;
    key.SetText("Base:core", "core.dll");
    trace.Clear();
    EXPECT_EQ(qri::IsSoftwareInstalled(), 0) << "directory value missing";
    EXPECT_EQ(trace.Messages(), (Messages{"IsSoftwareInstalled", "No : can't get path from registry"}));
}

TEST(InstalledTrace, KeyThatMayBeReadButNotWritten)
{
    InstallerFixture installer;
    installer.key.SetText("Base:core", "core.dll");
    // Everyone may read the key and change its security back, nothing more.
    char aclBytes[256];
    PACL acl = reinterpret_cast<PACL>(aclBytes);
    ASSERT_TRUE(InitializeAcl(acl, sizeof aclBytes, ACL_REVISION));
    SID_IDENTIFIER_AUTHORITY world = SECURITY_WORLD_SID_AUTHORITY;
    PSID everyone = nullptr;
    ASSERT_TRUE(AllocateAndInitializeSid(&world, 1, SECURITY_WORLD_RID, 0, 0, 0, 0, 0, 0, 0, &everyone));
    ASSERT_TRUE(AddAccessAllowedAce(acl, ACL_REVISION, KEY_READ | WRITE_DAC | DELETE, everyone));
    SECURITY_DESCRIPTOR readOnly;
    InitializeSecurityDescriptor(&readOnly, SECURITY_DESCRIPTOR_REVISION);
    SetSecurityDescriptorDacl(&readOnly, TRUE, acl, FALSE);
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, qritest::kInstallerKey, 0, WRITE_DAC, &key), ERROR_SUCCESS);
    ASSERT_EQ(RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, &readOnly), ERROR_SUCCESS);

    TraceCapture trace;
    int result = qri::IsSoftwareInstalled();

    SECURITY_DESCRIPTOR open;
    InitializeSecurityDescriptor(&open, SECURITY_DESCRIPTOR_REVISION);
    SetSecurityDescriptorDacl(&open, TRUE, nullptr, FALSE);
    EXPECT_EQ(RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, &open), ERROR_SUCCESS);
    RegCloseKey(key);
    FreeSid(everyone);

    EXPECT_EQ(result, 0);
    EXPECT_EQ(trace.Messages(), (Messages{"IsSoftwareInstalled",
                                          "No : can't open HKLM\\SOFTWARE\\Quorvane\\ZDR\\Shared Components\\QRI_FW"}));
}

} // namespace
