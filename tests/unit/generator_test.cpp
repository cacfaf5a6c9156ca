// Script generator: the generic script copy, the Options section, the site
// loop and the Master lines, checked byte for byte in the files it leaves.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <tuple>
#include <vector>

#include "plugin/policy_script_names.h"
#include "script/generator.h"
#include "support/fake_host.h"
#include "support/scratch.h"
#include "support/script_file.h"
#include "support/trace_capture.h"

namespace {

using qritest::Crlf;
using qritest::FakeSettings;
using qritest::InstallerFixture;
using qritest::NotFoundMessage;
using qritest::ReadFileBytes;
using qritest::ReadingMessage;
using qritest::TraceCapture;
using qritest::WriteFileBytes;

constexpr char kGeneral[] = "AutoUpdate General";
constexpr char kSitesGeneral[] = "AutoUpdate Sites General";
constexpr char kGeneratedMessage[] = "\nScript generated successfully";
constexpr char kGenerationErrorMessage[] = "\nError generating script";

std::string Site(int number)
{
    return "AutoUpdate Update Site" + std::to_string(number);
}

std::string CopiedMessage(const std::string &module, const std::string &path)
{
    return "\nSuccessfully copied generic script for module " + module + " into output file " + path + ".";
}

std::string CopyErrorMessage(const std::string &module, const std::string &path)
{
    return "\nError copying generic script for module " + module + " into output file " + path + ".";
}

std::string NoDirectoryMessage(const std::string &genericScript)
{
    return "\nLooking for " + genericScript + " in VESK install directory. Unable to get VESK installed directory\n";
}

std::string NoGenericScriptMessage(const std::string &path, const std::string &module)
{
    return "\nError occured while opening the generic script. Please make sure you have a valid generic script file " +
           path + " for " + module;
}

std::string ReadingOptionsMessage(const std::string &section)
{
    return "\nReading options under " + section;
}

std::string CannotContinueMessage(const std::string &section)
{
    return "\nOption uNumberOfSites under " + section + " not found, can't continue";
}

// The messages from `first` on (empty when it was not sent).
std::vector<std::string> MessagesFrom(const std::vector<std::string> &messages, const std::string &first)
{
    auto at = std::find(messages.begin(), messages.end(), first);
    return std::vector<std::string>(at, messages.end());
}

// "section/key" of every read from `first` on.
std::vector<std::string> ReadsFrom(const FakeSettings &settings, const std::string &first)
{
    std::vector<std::string> keys = settings.ReadKeys();
    auto at = std::find(keys.begin(), keys.end(), first);
    return std::vector<std::string>(at, keys.end());
}

// A fresh installer directory with the generic scripts and, in it, the empty
// temporary file that an enforcement names before it generates.
struct Generation {
    explicit Generation(const std::string &name = "UPD4C1.tmp") : script(installer.directory.Join(name))
    {
        WriteFileBytes(script, "");
    }
    std::string Generic(const std::string &module) const { return InstallerFixture::GenericContent(module); }

    InstallerFixture installer;
    std::string script;
};

// Options section of a generation whose General section is empty.
std::string BareOptions(const std::string &scriptName)
{
    return "\r\n\r\n[Options]\r\n\tset ScriptName=" + scriptName;
}

TEST(GenerateScript, AutoUpdateTaskWithOptionsAndOneUncSite)
{
    Generation gen;
    FakeSettings settings;
    settings.Set("Task", "TaskName", "Nightly update");
    settings.Set(kGeneral, "bRenameExisting", "1");
    settings.Set(kGeneral, "bRetrieveOnly", "0");
    settings.Set(kGeneral, "bForceUpdate", "0");
    settings.Set(kGeneral, "bLogToFile", "1");
    settings.Set(kGeneral, "bExecAfterUpdate", "0");
    settings.Set(kGeneral, "bUpdateIfNewEngine", "1");
    settings.Set(kGeneral, "szLocalUnpackDir", "C:\\Temp\\Unpack\\");
    settings.Set(kGeneral, "szReplicationDirectory", "");
    settings.Set(kGeneral, "szLogFileName", "C:\\Logs\\update.log");
    settings.Set(kGeneral, "uMaxKiloBytes", "512");
    settings.Set(kGeneral, "bVerboseLogging", "0");
    settings.Set(kSitesGeneral, "uNumberOfSites", "2");
    settings.Set(Site(1), "bSiteEnabled", "0");
    settings.Set(Site(2), "bSiteEnabled", "1");
    settings.Set(Site(2), "uUpdateFrom", "1");
    settings.Set(Site(2), "szSiteName", "Branch share");
    settings.Set(Site(2), "szUNCLocation", "\\\\fileserver\\updates\\current\\");
    settings.Set(Site(2), "bAnonymousLogin", "0");
    settings.Set(Site(2), "szFTPUsername", "updater");
    settings.Set(Site(2), "szRunAsDomain", "OFFICE");
    TraceCapture trace;

    EXPECT_EQ(qri::GenerateScript(qritest::TaskSource(settings), "AutoUpdate", gen.script.c_str()), qri::kGenerated);

    const char appended[] = "\r\n\r\n[Options]"
                            "\r\n\tset ScriptName=UPD4C1.tmp"
                            "\r\n\tset TaskName=Nightly update"
                            "\r\n\tset BackupDats=TRUE"
                            "\r\n\tset RetrieveOnly=FALSE"
                            "\r\n\tset ForceUpdate=FALSE"
                            "\r\n\tset LogToFile=TRUE"
                            "\r\n\tset RunProgram=FALSE"
                            "\r\n\tset DoEngine=TRUE"
                            "\r\n\tset LocalUnpackDir=C:\\Temp\\Unpack"
                            "\r\n\tset ReplicationDirectory="
                            "\r\n\tset LogToFile=TRUE"
                            "\r\n\tset LogFileName=C:\\Logs\\update.log"
                            "\r\n\tset MaxKiloBytes=512"
                            "\r\n\tset LogVerbose=FALSE"
                            "\r\n\r\n[Connection_1]"
                            "\r\n\tConnectionName  Branch share\r\n"
                            "\r\n\tUNC fileserver, updates, current"
                            "\r\n\tUNCUSER OFFICE, updater, ";
    EXPECT_EQ(ReadFileBytes(gen.script), gen.Generic("AutoUpdate") + appended);

    const std::string g = kGeneral;
    const std::string s1 = Site(1), s2 = Site(2);
    EXPECT_EQ(settings.ReadKeys(),
              (std::vector<std::string>{"Task/TaskName",         g + "/bRenameExisting",
                                        g + "/bRetrieveOnly",    g + "/bForceUpdate",
                                        g + "/bLogToFile",       g + "/bLimitSize",
                                        g + "/bExecAfterUpdate", g + "/bUpdateIfNewEngine",
                                        g + "/szLocalUnpackDir", g + "/szReplicationDirectory",
                                        g + "/bLogToFile",       g + "/bLogToFile",
                                        g + "/szLogFileName",    g + "/uMaxKiloBytes",
                                        g + "/bVerboseLogging",  g + "/bExecAfterUpdate",
                                        g + "/szShellScript",    std::string(kSitesGeneral) + "/uNumberOfSites",
                                        s1 + "/bSiteEnabled",    s2 + "/bSiteEnabled",
                                        s2 + "/uUpdateFrom",     s2 + "/szSiteName",
                                        s2 + "/szUNCLocation",   s2 + "/bAnonymousLogin",
                                        s2 + "/szFTPUsername",   s2 + "/szRunAsDomain",
                                        s2 + "/szFTPPassword"}));

    EXPECT_EQ(trace.Messages(), (std::vector<std::string>{
                                    CopiedMessage("AutoUpdate", gen.script),
                                    ReadingOptionsMessage(g),
                                    ReadingMessage("bRenameExisting", g),
                                    ReadingMessage("bRetrieveOnly", g),
                                    ReadingMessage("bForceUpdate", g),
                                    ReadingMessage("bLogToFile", g),
                                    ReadingMessage("bLimitSize", g),
                                    NotFoundMessage("bLimitSize", g),
                                    ReadingMessage("bExecAfterUpdate", g),
                                    ReadingMessage("bUpdateIfNewEngine", g),
                                    ReadingMessage("szLocalUnpackDir", g),
                                    ReadingMessage("szReplicationDirectory", g),
                                    ReadingMessage("bLogToFile", g),
                                    ReadingMessage("bLogToFile", g),
                                    ReadingMessage("szLogFileName", g),
                                    ReadingMessage("uMaxKiloBytes", g),
                                    ReadingMessage("bVerboseLogging", g),
                                    ReadingMessage("bExecAfterUpdate", g),
                                    ReadingMessage("szShellScript", g),
                                    NotFoundMessage("szShellScript", g),
                                    ReadingMessage("uNumberOfSites", kSitesGeneral),
                                    ReadingMessage("bSiteEnabled", s1),
                                    ReadingMessage("bSiteEnabled", s2),
                                    ReadingMessage("uUpdateFrom", s2),
                                    ReadingMessage("szUNCLocation", s2),
                                    ReadingMessage("bAnonymousLogin", s2),
                                    ReadingMessage("szFTPUsername", s2),
                                    ReadingMessage("szRunAsDomain", s2),
                                    ReadingMessage("szFTPPassword", s2),
                                    NotFoundMessage("szFTPPassword", s2),
                                    kGeneratedMessage,
                                }));
}

TEST(GenerateScript, EveryReadAsksForTextWithTheFullCapacity)
{
    Generation gen;
    FakeSettings settings;
    settings.Set("Task", "TaskName", "t");
    settings.Set(kGeneral, "bLogToFile", "1");
    settings.Set(kSitesGeneral, "uNumberOfSites", "1");
    settings.Set(Site(1), "bSiteEnabled", "1");
    settings.Set(Site(1), "uUpdateFrom", "2");
    settings.Set(Site(1), "szSiteName", "n");
    settings.Set(Site(1), "szFTPLocation", "host");
    settings.Set(Site(1), "bAnonymousLogin", "0");
    settings.Set(Site(1), "szFTPUsername", "u");
    settings.Set(Site(1), "bProxy", "1");
    settings.Set(Site(1), "szProxy", "p");
    settings.Set(Site(1), "dwProxyPort", "1");
    EXPECT_EQ(qri::GenerateScript(qritest::TaskSource(settings, 4321), "AutoUpdate", gen.script.c_str()),
              qri::kGenerated);
    ASSERT_GT(settings.Calls().size(), 20u);
    for (const qritest::ReadCall &call : settings.Calls()) {
        std::string what = call.section + "/" + call.key;
        EXPECT_EQ(call.reader, "task") << what;
        EXPECT_EQ(call.taskData, settings.TaskData()) << what;
        EXPECT_EQ(call.taskDataSize, 4321u) << what;
        EXPECT_EQ(call.valueKind, RXPLUGIN_VALUE_TEXT) << what;
        EXPECT_EQ(call.capacity, qri::kSettingCapacity) << what;
    }
}

TEST(GenerateScript, PolicyReaderIsNeverAskedForTheTaskName)
{
    for (const char *module : {"MSI", "Fenwa", "Master"}) {
        Generation gen;
        FakeSettings settings;
        settings.Set("Task", "TaskName", "must not appear");
        settings.Set(std::string(module) + " Sites General", "uNumberOfSites", "1");
        settings.Set(std::string(module) + " Update Site1", "bSiteEnabled", "1");
        settings.Set(std::string(module) + " Update Site1", "uUpdateFrom", "3");
        char softwareId[] = "SW-PRODUCT";
        EXPECT_EQ(qri::GenerateScript(qritest::PolicySource(softwareId), module, gen.script.c_str()), qri::kGenerated)
            << module;
        ASSERT_FALSE(settings.Calls().empty()) << module;
        for (const qritest::ReadCall &call : settings.Calls()) {
            std::string what = std::string(module) + ": " + call.section + "/" + call.key;
            EXPECT_EQ(call.reader, "policy") << what;
            EXPECT_NE(call.section, "Task") << what;
            EXPECT_NE(call.key, "TaskName") << what;
            // The reboot numbers are the only reads outside the product's policy.
            if (call.valueKind == RXPLUGIN_VALUE_TEXT) {
                EXPECT_EQ(call.softwareId, "SW-PRODUCT") << what;
                EXPECT_EQ(call.capacity, qri::kSettingCapacity) << what;
            }
        }
        EXPECT_EQ(ReadFileBytes(gen.script).find("TaskName"), std::string::npos) << module;
    }
}

TEST(GenerateScript, MissingTaskNameWritesNoLineAndNoMessage)
{
    Generation gen;
    FakeSettings settings;
    settings.Set(kSitesGeneral, "uNumberOfSites", "0");
    TraceCapture trace;
    EXPECT_EQ(qri::GenerateScript(qritest::TaskSource(settings), "AutoUpdate", gen.script.c_str()), qri::kGenerated);
    EXPECT_EQ(ReadFileBytes(gen.script), gen.Generic("AutoUpdate") + BareOptions("UPD4C1.tmp"));
    ASSERT_GE(trace.Messages().size(), 3u);
    EXPECT_EQ(trace.Messages()[1], ReadingOptionsMessage(kGeneral));
    EXPECT_EQ(trace.Messages()[2], ReadingMessage("bRenameExisting", kGeneral));
    for (const std::string &message : trace.Messages())
        EXPECT_EQ(message.find("TaskName"), std::string::npos) << message;
    EXPECT_EQ(settings.ReadKeys().at(0), "Task/TaskName");
}

// Any non-zero reader result means found.
TEST(GenerateScript, AnyNonZeroReaderResultIsFound)
{
    for (int found : {2, -1}) {
        Generation gen;
        FakeSettings settings;
        settings.SetFoundResult(found);
        settings.Set("Task", "TaskName", "T");
        settings.Set(kGeneral, "bForceUpdate", "1");
        settings.Set(kSitesGeneral, "uNumberOfSites", "1");
        settings.Set(Site(1), "bSiteEnabled", "1");
        settings.Set(Site(1), "uUpdateFrom", "0");
        settings.Set(Site(1), "szSiteName", "S");
        EXPECT_EQ(qri::GenerateScript(qritest::TaskSource(settings), "AutoUpdate", gen.script.c_str()), qri::kGenerated)
            << found;
        EXPECT_EQ(ReadFileBytes(gen.script), gen.Generic("AutoUpdate") + BareOptions("UPD4C1.tmp") +
                                                 "\r\n\tset TaskName=T\r\n\tset ForceUpdate=TRUE"
                                                 "\r\n\r\n[Connection_1]\r\n\tConnectionName  S\r\n")
            << found;
    }
}

TEST(GenerateScript, MasterWritesTheOtherScriptsAndTheRebootLines)
{
    ASSERT_FALSE(qritest::PathExists(qritest::TestBinDirectory() + "\\Agent.ini")) << "left over from another test";
    std::snprintf(qri::g_policyScriptNames[qri::kMsiScript], qri::kPathCapacity, "%s", "C:\\Inst Dir\\UPD2.tmp");
    std::snprintf(qri::g_policyScriptNames[qri::kFenwaScript], qri::kPathCapacity, "%s", "C:\\Inst Dir\\UPD3.tmp");
    Generation gen("UPD1.tmp");
    FakeSettings settings;
    settings.Set("Master General", "bForceUpdate", "1");
    settings.Set("Master Sites General", "uNumberOfSites", "1");
    settings.Set("General", "ShowRebootUI", "1", "oRXAgent1000");
    settings.Set("General", "RebootTimeOut", "300", "oRXAgent1000");
    settings.Set("General", "ShowRebootUI", "0", "SW-PRODUCT");
    settings.Set("General", "RebootTimeOut", "-1", "SW-PRODUCT");
    char softwareId[] = "SW-PRODUCT";
    TraceCapture trace;

    EXPECT_EQ(qri::GenerateScript(qritest::PolicySource(softwareId), "Master", gen.script.c_str()), qri::kGenerated);

    const char appended[] = "\r\n\tset ForceUpdate=TRUE"
                            "\r\n\tset MSIScriptName=\"C:\\Inst Dir\\UPD2.tmp\""
                            "\r\n\tset FNWScriptName=\"C:\\Inst Dir\\UPD3.tmp\""
                            "\r\n\tset PromptForReboot       =TRUE"
                            "\r\n\tset AutomaticReboot       =TRUE"
                            "\r\n\tset AutomaticRebootTimeout=300";
    EXPECT_EQ(ReadFileBytes(gen.script), gen.Generic("Master") + BareOptions("UPD1.tmp") + appended);
    const std::vector<qritest::ReadCall> &calls = settings.Calls();
    ASSERT_EQ(calls.size(), 17u);
    for (std::size_t i = 0; i < 15; ++i) {
        EXPECT_EQ(calls[i].section, "Master General") << calls[i].key;
        EXPECT_EQ(calls[i].softwareId, "SW-PRODUCT") << calls[i].key;
    }
    for (std::size_t i = 15; i < 17; ++i) {
        EXPECT_EQ(calls[i].section, "General") << i;
        EXPECT_EQ(calls[i].key, i == 15 ? "ShowRebootUI" : "RebootTimeOut");
        EXPECT_EQ(calls[i].softwareId, "oRXAgent1000") << calls[i].key;
        EXPECT_EQ(calls[i].valueKind, RXPLUGIN_VALUE_NUMBER) << calls[i].key;
        EXPECT_EQ(calls[i].capacity, 4u) << calls[i].key;
    }
    ASSERT_FALSE(trace.Messages().empty());
    EXPECT_EQ(trace.Messages().back(), kGeneratedMessage);
    for (const std::string &message : trace.Messages())
        EXPECT_EQ(message.find("uNumberOfSites"), std::string::npos) << message;
}

TEST(GenerateScript, ModuleNameInOtherCase)
{
    struct Case {
        const char *passed;
        const char *module;
    } cases[] = {
        {"autoupdate", "AutoUpdate"}, {"msi", "MSI"},       {"fENWA", "Fenwa"},
        {"REPLICATE", "Replicate"},   {"mASTER", "Master"}, {"Msi", "MSI"},
    };
    for (const Case &c : cases) {
        Generation gen;
        FakeSettings settings;
        std::string module = c.module;
        settings.Set(module + " Sites General", "uNumberOfSites", "1");
        settings.Set(module + " Update Site1", "bSiteEnabled", "1");
        settings.Set(module + " Update Site1", "uUpdateFrom", "3");
        char softwareId[] = "SW-PRODUCT";
        TraceCapture trace;
        EXPECT_EQ(qri::GenerateScript(qritest::PolicySource(softwareId), c.passed, gen.script.c_str()), qri::kGenerated)
            << c.passed;
        std::string expected = gen.Generic(module) + BareOptions("UPD4C1.tmp");
        if (module == "Master") {
            expected += "\r\n\tset MSIScriptName=";
        } else {
            expected += "\r\n\r\n[Connection_1]";
        }
        EXPECT_EQ(ReadFileBytes(gen.script).substr(0, expected.size()), expected) << c.passed;
        ASSERT_GE(trace.Messages().size(), 2u) << c.passed;
        EXPECT_EQ(trace.Messages()[0], CopiedMessage(c.passed, gen.script)) << c.passed;
        EXPECT_EQ(trace.Messages()[1], ReadingOptionsMessage(module + " General")) << c.passed;
        for (const qritest::ReadCall &call : settings.Calls()) {
            if (call.valueKind == RXPLUGIN_VALUE_TEXT) {
                EXPECT_EQ(call.section.compare(0, module.size() + 1, module + " "), 0)
                    << c.passed << ": " << call.section;
            }
        }
    }
}

TEST(GenerateScript, ScriptNameIsTheTextAfterTheLastBackslash)
{
    qritest::ScratchDir dir("cwd");
    CreateDirectoryA(dir.Join("sub").c_str(), nullptr);
    char previous[MAX_PATH] = {};
    GetCurrentDirectoryA(sizeof previous, previous);
    ASSERT_TRUE(SetCurrentDirectoryA(dir.Path().c_str()));
    struct Case {
        const char *path;
        const char *scriptName;
    } cases[] = {
        {"UPD9.tmp", "UPD9.tmp"},
        {"sub/UPD9.tmp", "sub/UPD9.tmp"},
        {"sub\\UPD9.tmp", "UPD9.tmp"},
        {".\\sub/UPD9.tmp", "sub/UPD9.tmp"},
    };
    InstallerFixture installer;
    for (const Case &c : cases) {
        FakeSettings settings;
        settings.Set(kSitesGeneral, "uNumberOfSites", "0");
        EXPECT_EQ(qri::GenerateScript(qritest::TaskSource(settings), "AutoUpdate", c.path), qri::kGenerated) << c.path;
        EXPECT_EQ(ReadFileBytes(dir.Join(c.path)),
                  InstallerFixture::GenericContent("AutoUpdate") + BareOptions(c.scriptName))
            << c.path;
    }
    SetCurrentDirectoryA(previous);
}

TEST(GenerateScript, ExistingTargetIsReplacedByTheGenericScript)
{
    Generation gen;
    WriteFileBytes(gen.script, std::string(4096, 'o') + "\r\nold script\r\n");
    FakeSettings settings;
    settings.Set(kSitesGeneral, "uNumberOfSites", "0");
    EXPECT_EQ(qri::GenerateScript(qritest::TaskSource(settings), "AutoUpdate", gen.script.c_str()), qri::kGenerated);
    EXPECT_EQ(ReadFileBytes(gen.script), gen.Generic("AutoUpdate") + BareOptions("UPD4C1.tmp"));
}

// The generic script cannot be copied: the generator sends its messages,
// leaves the target as it was, reads nothing and returns to its caller.
TEST(GenerateScript, GenericScriptNotCopied)
{
    enum class Setup { None, NoKey, NoDirectoryValue, NoGenericScript, TargetInMissingDirectory };
    struct Case {
        const char *name;
        const char *module;
        Setup setup;
        const char *noDirectoryFor; // generic script named by the no-directory message
    } cases[] = {
        {"unknown module", "Updater", Setup::None, nullptr},
        {"module name with a trailing blank", "MSI ", Setup::None, nullptr},
        {"empty module name", "", Setup::None, nullptr},
        {"installer key missing", "AutoUpdate", Setup::NoKey, "AutoUpdate.gen"},
        {"installer key missing, other case", "replicate", Setup::NoKey, "Replicate.gen"},
        {"installer directory value missing", "Fenwa", Setup::NoDirectoryValue, "Fenwa.gen"},
        {"unknown module without installer key", "Updater", Setup::NoKey, nullptr},
        {"generic script missing", "MSI", Setup::NoGenericScript, nullptr},
        {"target directory missing", "AutoUpdate", Setup::TargetInMissingDirectory, nullptr},
    };
    const std::string before = "left by the caller\r\n";
    for (const Case &c : cases) {
        Generation gen;
        std::string target = gen.script;
        switch (c.setup) {
        case Setup::None:
            break;
        case Setup::NoKey:
            qritest::ScratchInstallerKey::DeleteKey();
            break;
        case Setup::NoDirectoryValue:
            gen.installer.key.Remove("Installation Directory");
            break;
        case Setup::NoGenericScript:
            DeleteFileA(gen.installer.directory.Join(std::string(c.module) + ".gen").c_str());
            break;
        case Setup::TargetInMissingDirectory:
            target = gen.installer.directory.Join("missing\\UPD4C1.tmp");
            break;
        }
        if (c.setup != Setup::TargetInMissingDirectory)
            WriteFileBytes(target, before);
        FakeSettings settings;
        settings.Set(kSitesGeneral, "uNumberOfSites", "0");
        TraceCapture trace;

        EXPECT_EQ(qri::GenerateScript(qritest::TaskSource(settings), c.module, target.c_str()),
                  qri::kGenerateNoGenericScript)
            << c.name;

        std::vector<std::string> expected;
        if (c.noDirectoryFor != nullptr)
            expected.push_back(NoDirectoryMessage(c.noDirectoryFor));
        expected.push_back(CopyErrorMessage(c.module, target));
        expected.push_back(NoGenericScriptMessage(target, c.module));
        EXPECT_EQ(trace.Messages(), expected) << c.name;
        if (c.setup == Setup::TargetInMissingDirectory)
            EXPECT_FALSE(qritest::PathExists(target)) << c.name;
        else
            EXPECT_EQ(ReadFileBytes(target), before) << c.name;
        EXPECT_TRUE(settings.Calls().empty()) << c.name;
    }
}

TEST(CopyGenericScript, CopiesTheModulesGenericScript)
{
    for (const char *module : {"AutoUpdate", "MSI", "Fenwa", "Replicate", "Master"}) {
        Generation gen;
        TraceCapture trace;
        EXPECT_EQ(qri::CopyGenericScript(module, gen.script.c_str()), 1) << module;
        EXPECT_EQ(ReadFileBytes(gen.script), gen.Generic(module)) << module;
        EXPECT_EQ(trace.Messages(), std::vector<std::string>{CopiedMessage(module, gen.script)}) << module;
    }
    Generation gen;
    TraceCapture trace;
    EXPECT_EQ(qri::CopyGenericScript("Setup", gen.script.c_str()), 0);
    EXPECT_EQ(trace.Messages(), std::vector<std::string>{CopyErrorMessage("Setup", gen.script)});
}

// A path of exactly `length` characters: a new directory inside base.
std::string DirectoryOfLength(const qritest::ScratchDir &base, std::size_t length)
{
    std::string path = base.Path() + "\\";
    path += std::string(length - path.size(), 'd');
    EXPECT_TRUE(CreateDirectoryA(path.c_str(), nullptr)) << "cannot create a directory of " << length;
    return path;
}

// The source path is the installer directory, a backslash and the generic
// script's name in a 260-byte buffer; a path cut to fit would name another
// file, so one that does not fit fails the copy.
TEST(GenerateScript, GenericScriptPathThatDoesNotFitFailsTheCopy)
{
    qritest::ScratchInstallerKey key;
    qritest::ScratchDir base("long");
    {
        // 244 + 1 + 14 = 259 characters: fits.
        std::string directory = DirectoryOfLength(base, 244);
        WriteFileBytes(directory + "\\AutoUpdate.gen", "generic\r\n");
        key.SetText("Installation Directory", directory);
        std::string target = directory + "\\UPD1.tmp";
        FakeSettings settings;
        settings.Set(kSitesGeneral, "uNumberOfSites", "0");
        EXPECT_EQ(qri::GenerateScript(qritest::TaskSource(settings), "AutoUpdate", target.c_str()), qri::kGenerated);
        EXPECT_EQ(ReadFileBytes(target), "generic\r\n" + BareOptions("UPD1.tmp"));
    }
    {
        // 245 + 1 + 14 = 260 characters: one too many. Cut to fit it would
        // name AutoUpdate.ge, which is there.
        std::string directory = DirectoryOfLength(base, 245);
        WriteFileBytes(directory + "\\AutoUpdate.ge", "decoy\r\n");
        WriteFileBytes(directory + "\\AutoUpdate.gen", "generic\r\n");
        key.SetText("Installation Directory", directory);
        std::string target = directory + "\\UPD1.tmp";
        WriteFileBytes(target, "");
        FakeSettings settings;
        TraceCapture trace;
        EXPECT_EQ(qri::GenerateScript(qritest::TaskSource(settings), "AutoUpdate", target.c_str()),
                  qri::kGenerateNoGenericScript);
        EXPECT_EQ(ReadFileBytes(target), "");
        // Both messages are longer than the trace buffer and arrive cut to fit.
        EXPECT_EQ(trace.Messages(),
                  (std::vector<std::string>{CopyErrorMessage("AutoUpdate", target).substr(0, 259),
                                            NoGenericScriptMessage(target, "AutoUpdate").substr(0, 259)}));
    }
}

TEST(GenerateScript, LongMessagesAreCutToTheTraceBuffer)
{
    qritest::ScratchInstallerKey key;
    qritest::ScratchDir base("long");
    std::string directory = DirectoryOfLength(base, 230);
    WriteFileBytes(directory + "\\MSI.gen", "generic\r\n");
    key.SetText("Installation Directory", directory);
    std::string target = directory + "\\" + std::string(20, 'n') + ".tmp";
    FakeSettings settings;
    settings.Set("MSI Sites General", "uNumberOfSites", "0");
    char softwareId[] = "SW";
    TraceCapture trace;
    EXPECT_EQ(qri::GenerateScript(qritest::PolicySource(softwareId), "MSI", target.c_str()), qri::kGenerated);
    ASSERT_FALSE(trace.Messages().empty());
    std::string copied = CopiedMessage("MSI", target);
    ASSERT_GT(copied.size(), 259u);
    EXPECT_EQ(trace.Messages()[0], copied.substr(0, 259));
    EXPECT_EQ(trace.Messages().back(), kGeneratedMessage);
    EXPECT_EQ(ReadFileBytes(target), "generic\r\n" + BareOptions(std::string(20, 'n') + ".tmp"));
}

// Every stream of the C runtime in use: the copy (a Win32 call) still works,
// the generator's fopen does not.
class StreamsExhausted {
public:
    explicit StreamsExhausted(const std::string &path)
    {
        while (streams_.size() < 10000) {
            FILE *stream = std::fopen(path.c_str(), "rb");
            if (stream == nullptr)
                return;
            streams_.push_back(stream);
        }
    }
    ~StreamsExhausted()
    {
        for (FILE *stream : streams_)
            std::fclose(stream);
    }
    StreamsExhausted(const StreamsExhausted &) = delete;
    StreamsExhausted &operator=(const StreamsExhausted &) = delete;
    bool Reached() const { return streams_.size() < 10000; }

private:
    std::vector<FILE *> streams_;
};

TEST(GenerateScript, ScriptThatCannotBeOpenedForAppending)
{
    Generation gen;
    FakeSettings settings;
    settings.Set(kSitesGeneral, "uNumberOfSites", "0");
    TraceCapture trace;
    int result;
    {
        StreamsExhausted exhausted(gen.installer.directory.Join("MSI.gen"));
        ASSERT_TRUE(exhausted.Reached());
        result = qri::GenerateScript(qritest::TaskSource(settings), "AutoUpdate", gen.script.c_str());
    }
    EXPECT_EQ(result, qri::kGenerateFailed);
    EXPECT_EQ(ReadFileBytes(gen.script), gen.Generic("AutoUpdate"));
    EXPECT_EQ(trace.Messages(),
              (std::vector<std::string>{CopiedMessage("AutoUpdate", gen.script),
                                        "\nFile " + gen.script + " could not be opened\n", kGenerationErrorMessage}));
    EXPECT_TRUE(settings.Calls().empty());
}

// The site loop with an empty General section: text appended after the
// Options section, the result, the reads from uNumberOfSites on and the
// messages from its reading message on.
TEST(GenerateScript, SiteLoop)
{
    using Values = std::vector<std::tuple<std::string, std::string, std::string>>;
    const std::string sg = kSitesGeneral;
    const std::string s1 = Site(1), s2 = Site(2), s3 = Site(3);
    auto reading = [](const std::string &key, const std::string &section) { return ReadingMessage(key, section); };
    struct Case {
        const char *name;
        Values values;
        std::string appended;
        int result;
        std::vector<std::string> reads;
        std::vector<std::string> messages;
    };
    const Case cases[] = {
        {"uNumberOfSites missing",
         {},
         "",
         0,
         {sg + "/uNumberOfSites"},
         {reading("uNumberOfSites", sg), CannotContinueMessage(sg), kGenerationErrorMessage}},
        {"uNumberOfSites 0",
         {{sg, "uNumberOfSites", "0"}, {s1, "bSiteEnabled", "1"}},
         "",
         1,
         {sg + "/uNumberOfSites"},
         {reading("uNumberOfSites", sg), kGeneratedMessage}},
        {"uNumberOfSites -2",
         {{sg, "uNumberOfSites", "-2"}, {s1, "bSiteEnabled", "1"}},
         "",
         1,
         {sg + "/uNumberOfSites"},
         {reading("uNumberOfSites", sg), kGeneratedMessage}},
        {"uNumberOfSites without digits",
         {{sg, "uNumberOfSites", "two"}, {s1, "bSiteEnabled", "1"}},
         "",
         1,
         {sg + "/uNumberOfSites"},
         {reading("uNumberOfSites", sg), kGeneratedMessage}},
        {"three sites, the first disabled",
         {{sg, "uNumberOfSites", "3"},
          {s1, "bSiteEnabled", "0"},
          {s1, "uUpdateFrom", "3"},
          {s2, "bSiteEnabled", "1"},
          {s2, "uUpdateFrom", "3"},
          {s2, "szSiteName", "Two"},
          {s3, "bSiteEnabled", "1"},
          {s3, "uUpdateFrom", "1"},
          {s3, "szSiteName", "Three"},
          {s3, "szUNCLocation", "D:\\three\\"},
          {s3, "bAnonymousLogin", "1"}},
         "\n\n[Connection_1]\n\tConnectionName  Two\n\n\n[Connection_2]\n\tConnectionName  Three\n\n\tLOCAL D:\\three",
         1,
         {sg + "/uNumberOfSites", s1 + "/bSiteEnabled", s2 + "/bSiteEnabled", s2 + "/uUpdateFrom", s2 + "/szSiteName",
          s3 + "/bSiteEnabled", s3 + "/uUpdateFrom", s3 + "/szSiteName", s3 + "/szUNCLocation",
          s3 + "/bAnonymousLogin"},
         {reading("uNumberOfSites", sg), reading("bSiteEnabled", s1), reading("bSiteEnabled", s2),
          reading("uUpdateFrom", s2), reading("bSiteEnabled", s3), reading("uUpdateFrom", s3),
          reading("szUNCLocation", s3), reading("bAnonymousLogin", s3), kGeneratedMessage}},
        {"bSiteEnabled: any number but 0 enables",
         {{sg, "uNumberOfSites", "3"},
          {s1, "bSiteEnabled", "yes"},
          {s2, "bSiteEnabled", "-1"},
          {s2, "uUpdateFrom", "3"},
          {s3, "bSiteEnabled", " 2"},
          {s3, "uUpdateFrom", "3"}},
         "\n\n[Connection_1]\n\n[Connection_2]",
         1,
         {sg + "/uNumberOfSites", s1 + "/bSiteEnabled", s2 + "/bSiteEnabled", s2 + "/uUpdateFrom", s2 + "/szSiteName",
          s3 + "/bSiteEnabled", s3 + "/uUpdateFrom", s3 + "/szSiteName"},
         {reading("uNumberOfSites", sg), reading("bSiteEnabled", s1), reading("bSiteEnabled", s2),
          reading("uUpdateFrom", s2), reading("bSiteEnabled", s3), reading("uUpdateFrom", s3), kGeneratedMessage}},
        {"bSiteEnabled missing for site 2 of 3",
         {{sg, "uNumberOfSites", "3"},
          {s1, "bSiteEnabled", "1"},
          {s1, "uUpdateFrom", "3"},
          {s1, "szSiteName", "One"},
          {s3, "bSiteEnabled", "1"},
          {s3, "uUpdateFrom", "3"}},
         "\n\n[Connection_1]\n\tConnectionName  One\n",
         0,
         {sg + "/uNumberOfSites", s1 + "/bSiteEnabled", s1 + "/uUpdateFrom", s1 + "/szSiteName", s2 + "/bSiteEnabled"},
         {reading("uNumberOfSites", sg), reading("bSiteEnabled", s1), reading("uUpdateFrom", s1),
          reading("bSiteEnabled", s2), kGenerationErrorMessage}},
        {"uUpdateFrom missing: the header alone, then the next site",
         {{sg, "uNumberOfSites", "2"},
          {s1, "bSiteEnabled", "1"},
          {s1, "szSiteName", "One"},
          {s2, "bSiteEnabled", "1"},
          {s2, "uUpdateFrom", "3"},
          {s2, "szSiteName", "Two"}},
         "\n\n[Connection_1]\n\n[Connection_2]\n\tConnectionName  Two\n",
         1,
         {sg + "/uNumberOfSites", s1 + "/bSiteEnabled", s1 + "/uUpdateFrom", s2 + "/bSiteEnabled", s2 + "/uUpdateFrom",
          s2 + "/szSiteName"},
         {reading("uNumberOfSites", sg), reading("bSiteEnabled", s1), reading("uUpdateFrom", s1),
          reading("bSiteEnabled", s2), reading("uUpdateFrom", s2), kGeneratedMessage}},
        {"uUpdateFrom 0 and 3 write no site lines",
         {{sg, "uNumberOfSites", "2"},
          {s1, "bSiteEnabled", "1"},
          {s1, "uUpdateFrom", "0"},
          {s1, "szSiteName", "Zero"},
          {s1, "szFTPLocation", "host"},
          {s1, "szUNCLocation", "D:\\u"},
          {s2, "bSiteEnabled", "1"},
          {s2, "uUpdateFrom", "3"},
          {s2, "szSiteName", "Three"}},
         "\n\n[Connection_1]\n\tConnectionName  Zero\n\n\n[Connection_2]\n\tConnectionName  Three\n",
         1,
         {sg + "/uNumberOfSites", s1 + "/bSiteEnabled", s1 + "/uUpdateFrom", s1 + "/szSiteName", s2 + "/bSiteEnabled",
          s2 + "/uUpdateFrom", s2 + "/szSiteName"},
         {reading("uNumberOfSites", sg), reading("bSiteEnabled", s1), reading("uUpdateFrom", s1),
          reading("bSiteEnabled", s2), reading("uUpdateFrom", s2), kGeneratedMessage}},
        {"szSiteName missing",
         {{sg, "uNumberOfSites", "1"},
          {s1, "bSiteEnabled", "1"},
          {s1, "uUpdateFrom", " 2 (FTP)"},
          {s1, "szFTPLocation", "host\\pub"},
          {s1, "bAnonymousLogin", "1"},
          {s1, "bProxy", "0"}},
         "\n\n[Connection_1]\n\tFTP host, pub, passive",
         1,
         {sg + "/uNumberOfSites", s1 + "/bSiteEnabled", s1 + "/uUpdateFrom", s1 + "/szSiteName", s1 + "/szFTPLocation",
          s1 + "/bAnonymousLogin", s1 + "/bProxy"},
         {reading("uNumberOfSites", sg), reading("bSiteEnabled", s1), reading("uUpdateFrom", s1),
          reading("szFTPLocation", s1), reading("bAnonymousLogin", s1), reading("bProxy", s1), kGeneratedMessage}},
        {"site writer gives up before writing, site 1 of 2",
         {{sg, "uNumberOfSites", "2"},
          {s1, "bSiteEnabled", "1"},
          {s1, "uUpdateFrom", "2"},
          {s1, "szSiteName", "One"},
          {s2, "bSiteEnabled", "1"},
          {s2, "uUpdateFrom", "3"}},
         "\n\n[Connection_1]\n\tConnectionName  One\n",
         0,
         {sg + "/uNumberOfSites", s1 + "/bSiteEnabled", s1 + "/uUpdateFrom", s1 + "/szSiteName", s1 + "/szFTPLocation"},
         {reading("uNumberOfSites", sg), reading("bSiteEnabled", s1), reading("uUpdateFrom", s1),
          reading("szFTPLocation", s1), NotFoundMessage("szFTPLocation", s1), kGenerationErrorMessage}},
        {"site writer gives up after its first line, site 1 of 2",
         {{sg, "uNumberOfSites", "2"},
          {s1, "bSiteEnabled", "1"},
          {s1, "uUpdateFrom", "1"},
          {s1, "szSiteName", "One"},
          {s1, "szUNCLocation", "\\\\srv\\share"},
          {s2, "bSiteEnabled", "1"},
          {s2, "uUpdateFrom", "3"}},
         "\n\n[Connection_1]\n\tConnectionName  One\n\n\tUNC srv, share, ",
         0,
         {sg + "/uNumberOfSites", s1 + "/bSiteEnabled", s1 + "/uUpdateFrom", s1 + "/szSiteName", s1 + "/szUNCLocation",
          s1 + "/bAnonymousLogin"},
         {reading("uNumberOfSites", sg), reading("bSiteEnabled", s1), reading("uUpdateFrom", s1),
          reading("szUNCLocation", s1), reading("bAnonymousLogin", s1), NotFoundMessage("bAnonymousLogin", s1),
          kGenerationErrorMessage}},
        {"site writer gives up on site 2 of 2",
         {{sg, "uNumberOfSites", "2"},
          {s1, "bSiteEnabled", "1"},
          {s1, "uUpdateFrom", "3"},
          {s2, "bSiteEnabled", "1"},
          {s2, "uUpdateFrom", "2"},
          {s2, "szFTPLocation", "host"}},
         "\n\n[Connection_1]\n\n[Connection_2]\n\tFTP host, , passive",
         0,
         {sg + "/uNumberOfSites", s1 + "/bSiteEnabled", s1 + "/uUpdateFrom", s1 + "/szSiteName", s2 + "/bSiteEnabled",
          s2 + "/uUpdateFrom", s2 + "/szSiteName", s2 + "/szFTPLocation", s2 + "/bAnonymousLogin"},
         {reading("uNumberOfSites", sg), reading("bSiteEnabled", s1), reading("uUpdateFrom", s1),
          reading("bSiteEnabled", s2), reading("uUpdateFrom", s2), reading("szFTPLocation", s2),
          reading("bAnonymousLogin", s2), NotFoundMessage("bAnonymousLogin", s2), kGenerationErrorMessage}},
    };
    for (const Case &c : cases) {
        Generation gen;
        FakeSettings settings;
        for (const auto &value : c.values)
            settings.Set(std::get<0>(value), std::get<1>(value), std::get<2>(value));
        TraceCapture trace;
        EXPECT_EQ(qri::GenerateScript(qritest::TaskSource(settings), "AutoUpdate", gen.script.c_str()), c.result)
            << c.name;
        EXPECT_EQ(ReadFileBytes(gen.script), gen.Generic("AutoUpdate") + BareOptions("UPD4C1.tmp") + Crlf(c.appended))
            << c.name;
        EXPECT_EQ(ReadsFrom(settings, sg + "/uNumberOfSites"), c.reads) << c.name;
        EXPECT_EQ(MessagesFrom(trace.Messages(), reading("uNumberOfSites", sg)), c.messages) << c.name;
    }
}

// Site numbers count every site; Connection numbers only the written ones.
TEST(GenerateScript, ConnectionNumbersRunWithoutGaps)
{
    Generation gen;
    FakeSettings settings;
    settings.Set(kSitesGeneral, "uNumberOfSites", "12");
    for (int site = 1; site <= 12; ++site) {
        bool enabled = site % 3 == 0;
        settings.Set(Site(site), "bSiteEnabled", enabled ? "1" : "0");
        settings.Set(Site(site), "uUpdateFrom", "3");
        settings.Set(Site(site), "szSiteName", "site " + std::to_string(site));
    }
    EXPECT_EQ(qri::GenerateScript(qritest::TaskSource(settings), "AutoUpdate", gen.script.c_str()), qri::kGenerated);
    std::string expected;
    for (int connection = 1; connection <= 4; ++connection)
        expected += "\n\n[Connection_" + std::to_string(connection) + "]\n\tConnectionName  site " +
                    std::to_string(connection * 3) + "\n";
    EXPECT_EQ(ReadFileBytes(gen.script), gen.Generic("AutoUpdate") + BareOptions("UPD4C1.tmp") + Crlf(expected));
    std::vector<std::string> keys = settings.ReadKeys();
    EXPECT_NE(std::find(keys.begin(), keys.end(), Site(12) + "/bSiteEnabled"), keys.end());
    EXPECT_EQ(std::find(keys.begin(), keys.end(), Site(13) + "/bSiteEnabled"), keys.end());
}

// Both readers or neither: every setting is missing. The task name is read
// with the task reader itself whenever it is set.
TEST(GenerateScript, SettingSourceWithBothOrNeitherReader)
{
    for (bool both : {true, false}) {
        const char *name = both ? "both" : "neither";
        Generation gen;
        FakeSettings settings;
        settings.Set("Task", "TaskName", "T");
        settings.Set(kSitesGeneral, "uNumberOfSites", "0");
        char softwareId[] = "SW";
        qri::SettingSource source = {both ? FakeSettings::TaskReader : nullptr,
                                     both ? FakeSettings::PolicyReader : nullptr,
                                     both ? settings.TaskData() : softwareId, 0};
        TraceCapture trace;
        EXPECT_EQ(qri::GenerateScript(source, "AutoUpdate", gen.script.c_str()), qri::kGenerateFailed) << name;
        EXPECT_EQ(ReadFileBytes(gen.script),
                  gen.Generic("AutoUpdate") + BareOptions("UPD4C1.tmp") + (both ? "\r\n\tset TaskName=T" : ""))
            << name;
        EXPECT_EQ(settings.ReadKeys(), both ? std::vector<std::string>{"Task/TaskName"} : std::vector<std::string>{})
            << name;
        // Copied, reading options, 15 options with their not-found messages,
        // uNumberOfSites, can't continue, generation error.
        EXPECT_EQ(trace.Messages().size(), 35u) << name;
        EXPECT_EQ(MessagesFrom(trace.Messages(), ReadingMessage("uNumberOfSites", kSitesGeneral)),
                  (std::vector<std::string>{ReadingMessage("uNumberOfSites", kSitesGeneral),
                                            CannotContinueMessage(kSitesGeneral), kGenerationErrorMessage}))
            << name;
    }
}

TEST(GenerateScript, UnterminatedTextStaysWithinItsBuffer)
{
    Generation gen;
    FakeSettings settings;
    settings.SetUnterminated("Task", "TaskName");
    settings.SetUnterminated(kGeneral, "szLocalUnpackDir");
    settings.Set(kSitesGeneral, "uNumberOfSites", "1");
    settings.Set(Site(1), "bSiteEnabled", "1");
    settings.Set(Site(1), "uUpdateFrom", "3");
    settings.SetUnterminated(Site(1), "szSiteName");
    EXPECT_EQ(qri::GenerateScript(qritest::TaskSource(settings), "AutoUpdate", gen.script.c_str()), qri::kGenerated);
    const std::string full(qri::kSettingCapacity - 1, 'x');
    EXPECT_EQ(ReadFileBytes(gen.script), gen.Generic("AutoUpdate") + BareOptions("UPD4C1.tmp") +
                                             "\r\n\tset TaskName=" + full + "\r\n\tset LocalUnpackDir=" + full +
                                             "\r\n\r\n[Connection_1]\r\n\tConnectionName  " + full + "\r\n");
}

} // namespace
