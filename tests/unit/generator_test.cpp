// Script generator: the generic script copy, the Options section, the site
// loop and the Master lines, checked byte for byte in the files it leaves.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "script/generator.h"
#include "script/policy_script_names.h"
#include "support/engine_run.h"
#include "support/fake_host.h"
#include "support/scratch.h"
#include "support/script_file.h"
#include "support/trace_capture.h"

namespace {

using qritest::CopiedMessage;
using qritest::CopyErrorMessage;
using qritest::Crlf;
using qritest::FakeSettings;
using qritest::InstallerFixture;
using qritest::Messages;
using qritest::MessagesFrom;
using qritest::NoGenericScriptMessage;
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

// "N/key" names a setting of update site N, "S/key" one of the Sites General
// section: "section/key".
std::string SiteSetting(const std::string &name)
{
    std::size_t slash = name.find('/');
    std::string site = name.substr(0, slash);
    return (site == "S" ? std::string(kSitesGeneral) : Site(std::stoi(site))) + name.substr(slash);
}

std::vector<std::string> SiteSettings(const std::vector<std::string> &names)
{
    std::vector<std::string> full;
    for (const std::string &name : names)
        full.push_back(SiteSetting(name));
    return full;
}

// Sets each "N/key=value" or "S/key=value".
void SetSites(FakeSettings &settings, const std::vector<std::string> &values)
{
    for (const std::string &value : values) {
        std::size_t equals = value.find('=');
        ASSERT_NE(equals, std::string::npos) << value;
        std::string name = SiteSetting(value.substr(0, equals));
        std::size_t slash = name.rfind('/');
        settings.Set(name.substr(0, slash), name.substr(slash + 1), value.substr(equals + 1));
    }
}

std::string NoDirectoryMessage(const std::string &genericScript)
{
    return "\nLooking for " + genericScript + " in VESK install directory. Unable to get VESK installed directory\n";
}

std::string ReadingOptionsMessage(const std::string &section)
{
    return "\nReading options under " + section;
}

std::string CannotContinueMessage(const std::string &section)
{
    return "\nOption uNumberOfSites under " + section + " not found, can't continue";
}

// "section/key" of every read from `first` on.
std::vector<std::string> ReadsFrom(const FakeSettings &settings, const std::string &first)
{
    std::vector<std::string> keys = settings.ReadKeys();
    return std::vector<std::string>(std::find(keys.begin(), keys.end(), first), keys.end());
}

// What the site loop sends for its reads ("section/key"): a message for every
// read but the site name's, then `last` when there is one, then the outcome.
Messages SiteLoopMessages(const std::vector<std::string> &reads, const std::string &last, int result)
{
    Messages messages;
    for (const std::string &read : reads) {
        std::size_t slash = read.rfind('/');
        if (read.substr(slash + 1) != "szSiteName")
            messages.push_back(ReadingMessage(read.substr(slash + 1), read.substr(0, slash)));
    }
    if (!last.empty())
        messages.push_back(last);
    messages.push_back(result == qri::kGenerated ? kGeneratedMessage : kGenerationErrorMessage);
    return messages;
}

// Options section of a generation whose General section is empty.
std::string BareOptions(const std::string &scriptName)
{
    return "\r\n\r\n[Options]\r\n\tset ScriptName=" + scriptName;
}

// A fresh installer directory with the generic scripts and, in it, the empty
// temporary file that an enforcement names before it generates.
struct Generation {
    explicit Generation(const std::string &name = "UPD4C1.tmp") : script(installer.directory.Join(name))
    {
        WriteFileBytes(script, "");
    }
    std::string Generic(const std::string &module) const { return InstallerFixture::GenericContent(module); }
    // An AutoUpdate generation through the task reader.
    int AutoUpdate(FakeSettings &settings) const
    {
        return qri::GenerateScript(qritest::TaskSource(settings), "AutoUpdate", script.c_str());
    }
    std::string Bytes() const { return ReadFileBytes(script); }
    // An AutoUpdate script with an empty General section, then `appended`.
    std::string BareAutoUpdate(const std::string &appended = "") const
    {
        return Generic("AutoUpdate") + BareOptions("UPD4C1.tmp") + appended;
    }

    InstallerFixture installer;
    std::string script;
};

TEST(GenerateScript, AutoUpdateTaskWithOptionsAndOneUncSite)
{
    Generation gen;
    FakeSettings settings;
    settings.Set("Task", "TaskName", "Nightly update");
    qritest::SetAll(settings, kGeneral, qritest::kGeneralOptionValues);
    settings.Set(kGeneral, "szLogFileName", "C:\\Logs\\update.log");
    settings.Set(kGeneral, "uMaxKiloBytes", "512");
    settings.Set(kGeneral, "bVerboseLogging", "0");
    SetSites(settings, {"S/uNumberOfSites=2", "1/bSiteEnabled=0", "2/bSiteEnabled=1", "2/uUpdateFrom=1",
                        "2/szSiteName=Branch share", "2/szUNCLocation=\\\\fileserver\\updates\\current\\",
                        "2/bAnonymousLogin=0", "2/szFTPUsername=updater", "2/szRunAsDomain=OFFICE"});
    TraceCapture trace;

    EXPECT_EQ(gen.AutoUpdate(settings), qri::kGenerated);

    EXPECT_EQ(gen.Bytes(),
              gen.BareAutoUpdate("\r\n\tset TaskName=Nightly update" + std::string(qritest::kGeneralOptionLines) +
                                 "\r\n\tset LogToFile=TRUE"
                                 "\r\n\tset LogFileName=C:\\Logs\\update.log"
                                 "\r\n\tset MaxKiloBytes=512"
                                 "\r\n\tset LogVerbose=FALSE"
                                 "\r\n\r\n[Connection_1]"
                                 "\r\n\tConnectionName  Branch share\r\n"
                                 "\r\n\tUNC fileserver, updates, current"
                                 "\r\n\tUNCUSER OFFICE, updater, "));

    // The general table, then the group walk.
    const std::vector<std::string> options = {"bRenameExisting",    "bRetrieveOnly",    "bForceUpdate",
                                              "bLogToFile",         "bLimitSize",       "bExecAfterUpdate",
                                              "bUpdateIfNewEngine", "szLocalUnpackDir", "szReplicationDirectory",
                                              "bLogToFile",         "bLogToFile",       "szLogFileName",
                                              "uMaxKiloBytes",      "bVerboseLogging",  "bExecAfterUpdate",
                                              "szShellScript"};
    const std::vector<std::string> siteReads =
        SiteSettings({"S/uNumberOfSites", "1/bSiteEnabled", "2/bSiteEnabled", "2/uUpdateFrom", "2/szSiteName",
                      "2/szUNCLocation", "2/bAnonymousLogin", "2/szFTPUsername", "2/szRunAsDomain", "2/szFTPPassword"});
    std::vector<std::string> reads = {"Task/TaskName"};
    for (const std::string &key : options)
        reads.push_back(std::string(kGeneral) + "/" + key);
    reads.insert(reads.end(), siteReads.begin(), siteReads.end());
    EXPECT_EQ(settings.ReadKeys(), reads);

    Messages expected = {CopiedMessage("AutoUpdate", gen.script), ReadingOptionsMessage(kGeneral)};
    for (const std::string &message : qritest::ReadMessages(kGeneral, options, {"bLimitSize", "szShellScript"}))
        expected.push_back(message);
    for (const std::string &message :
         SiteLoopMessages(siteReads, NotFoundMessage("szFTPPassword", Site(2)), qri::kGenerated))
        expected.push_back(message);
    EXPECT_EQ(trace.Messages(), expected);
}

TEST(GenerateScript, EveryReadAsksForTextWithTheFullCapacity)
{
    Generation gen;
    FakeSettings settings;
    settings.Set("Task", "TaskName", "t");
    settings.Set(kGeneral, "bLogToFile", "1");
    SetSites(settings,
             {"S/uNumberOfSites=1", "1/bSiteEnabled=1", "1/uUpdateFrom=2", "1/szSiteName=n", "1/szFTPLocation=host",
              "1/bAnonymousLogin=0", "1/szFTPUsername=u", "1/bProxy=1", "1/szProxy=p", "1/dwProxyPort=1"});
    EXPECT_EQ(qri::GenerateScript(qritest::TaskSource(settings, 4321), "AutoUpdate", gen.script.c_str()),
              qri::kGenerated);
    ASSERT_GT(settings.Calls().size(), 20u);
    qritest::ExpectTaskReads(settings, 4321);
    for (const qritest::ReadCall &call : settings.Calls()) {
        EXPECT_EQ(call.valueKind, RXPLUGIN_VALUE_TEXT) << call.section << "/" << call.key;
        EXPECT_EQ(call.capacity, qri::kSettingCapacity) << call.section << "/" << call.key;
    }
}

TEST(GenerateScript, PolicyReaderIsNeverAskedForTheTaskName)
{
    for (const char *module : {"MSI", "Fenwa", "Master"}) {
        SCOPED_TRACE(module);
        Generation gen;
        FakeSettings settings;
        settings.Set("Task", "TaskName", "must not appear");
        settings.Set(std::string(module) + " Sites General", "uNumberOfSites", "1");
        settings.Set(std::string(module) + " Update Site1", "bSiteEnabled", "1");
        settings.Set(std::string(module) + " Update Site1", "uUpdateFrom", "3");
        char softwareId[] = "SW-PRODUCT";
        EXPECT_EQ(qri::GenerateScript(qritest::PolicySource(softwareId), module, gen.script.c_str()), qri::kGenerated);
        ASSERT_FALSE(settings.Calls().empty());
        for (const qritest::ReadCall &call : settings.Calls()) {
            std::string what = call.section + "/" + call.key;
            EXPECT_EQ(call.reader, "policy") << what;
            EXPECT_NE(call.section, "Task") << what;
            EXPECT_NE(call.key, "TaskName") << what;
            // The reboot numbers are the only reads outside the product's policy.
            if (call.valueKind == RXPLUGIN_VALUE_TEXT) {
                EXPECT_EQ(call.softwareId, "SW-PRODUCT") << what;
                EXPECT_EQ(call.capacity, qri::kSettingCapacity) << what;
            }
        }
        EXPECT_EQ(gen.Bytes().find("TaskName"), std::string::npos);
    }
}

TEST(GenerateScript, MissingTaskNameWritesNoLineAndNoMessage)
{
    Generation gen;
    FakeSettings settings;
    settings.Set(kSitesGeneral, "uNumberOfSites", "0");
    TraceCapture trace;
    EXPECT_EQ(gen.AutoUpdate(settings), qri::kGenerated);
    EXPECT_EQ(gen.Bytes(), gen.BareAutoUpdate());
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
        SCOPED_TRACE(found);
        Generation gen;
        FakeSettings settings;
        settings.SetFoundResult(found);
        settings.Set("Task", "TaskName", "T");
        settings.Set(kGeneral, "bForceUpdate", "1");
        SetSites(settings, {"S/uNumberOfSites=1", "1/bSiteEnabled=1", "1/uUpdateFrom=0", "1/szSiteName=S"});
        EXPECT_EQ(gen.AutoUpdate(settings), qri::kGenerated);
        EXPECT_EQ(gen.Bytes(), gen.BareAutoUpdate("\r\n\tset TaskName=T\r\n\tset ForceUpdate=TRUE"
                                                  "\r\n\r\n[Connection_1]\r\n\tConnectionName  S\r\n"));
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
        SCOPED_TRACE(c.passed);
        Generation gen;
        FakeSettings settings;
        std::string module = c.module;
        settings.Set(module + " Sites General", "uNumberOfSites", "1");
        settings.Set(module + " Update Site1", "bSiteEnabled", "1");
        settings.Set(module + " Update Site1", "uUpdateFrom", "3");
        char softwareId[] = "SW-PRODUCT";
        TraceCapture trace;
        EXPECT_EQ(qri::GenerateScript(qritest::PolicySource(softwareId), c.passed, gen.script.c_str()),
                  qri::kGenerated);
        std::string expected = gen.Generic(module) + BareOptions("UPD4C1.tmp") +
                               (module == "Master" ? "\r\n\tset MSIScriptName=" : "\r\n\r\n[Connection_1]");
        EXPECT_EQ(gen.Bytes().substr(0, expected.size()), expected);
        ASSERT_GE(trace.Messages().size(), 2u);
        EXPECT_EQ(trace.Messages()[0], CopiedMessage(c.passed, gen.script));
        EXPECT_EQ(trace.Messages()[1], ReadingOptionsMessage(module + " General"));
        for (const qritest::ReadCall &call : settings.Calls()) {
            if (call.valueKind == RXPLUGIN_VALUE_TEXT) {
                EXPECT_EQ(call.section.compare(0, module.size() + 1, module + " "), 0) << call.section;
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
    EXPECT_EQ(gen.AutoUpdate(settings), qri::kGenerated);
    EXPECT_EQ(gen.Bytes(), gen.BareAutoUpdate());
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
        SCOPED_TRACE(c.name);
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
                  qri::kGenerateNoGenericScript);

        Messages expected;
        if (c.noDirectoryFor != nullptr)
            expected.push_back(NoDirectoryMessage(c.noDirectoryFor));
        expected.push_back(CopyErrorMessage(c.module, target));
        // The system's reason, where the copy itself was tried.
        if (c.setup == Setup::NoGenericScript)
            expected.push_back(qritest::NotWrittenMessage(target, ERROR_FILE_NOT_FOUND));
        if (c.setup == Setup::TargetInMissingDirectory)
            expected.push_back(qritest::NotWrittenMessage(target, ERROR_PATH_NOT_FOUND));
        expected.push_back(NoGenericScriptMessage(target, c.module));
        EXPECT_EQ(trace.Messages(), expected);
        if (c.setup == Setup::TargetInMissingDirectory)
            EXPECT_FALSE(qritest::PathExists(target));
        else
            EXPECT_EQ(ReadFileBytes(target), before);
        EXPECT_TRUE(settings.Calls().empty());
    }
}

TEST(CopyGenericScript, CopiesTheModulesGenericScript)
{
    for (const char *module : {"AutoUpdate", "MSI", "Fenwa", "Replicate", "Master"}) {
        SCOPED_TRACE(module);
        Generation gen;
        TraceCapture trace;
        EXPECT_EQ(qri::CopyGenericScript(module, gen.script.c_str()), 1);
        EXPECT_EQ(gen.Bytes(), gen.Generic(module));
        EXPECT_EQ(trace.Messages(), Messages{CopiedMessage(module, gen.script)});
    }
    Generation gen;
    TraceCapture trace;
    EXPECT_EQ(qri::CopyGenericScript("Setup", gen.script.c_str()), 0);
    EXPECT_EQ(trace.Messages(), Messages{CopyErrorMessage("Setup", gen.script)});
}

// The source path is the installer directory, a backslash and the generic
// script's name in a 260-byte buffer; a path cut to fit would name another
// file, so one that does not fit fails the copy.
TEST(GenerateScript, GenericScriptPathThatDoesNotFitFailsTheCopy)
{
    {
        // 244 + 1 + 14 = 259 characters: fits.
        qritest::LongInstallerFixture installer(244);
        std::string target = installer.Directory() + "\\UPD1.tmp";
        FakeSettings settings;
        settings.Set(kSitesGeneral, "uNumberOfSites", "0");
        EXPECT_EQ(qri::GenerateScript(qritest::TaskSource(settings), "AutoUpdate", target.c_str()), qri::kGenerated);
        EXPECT_EQ(ReadFileBytes(target), InstallerFixture::GenericContent("AutoUpdate") + BareOptions("UPD1.tmp"));
    }
    {
        // 245 + 1 + 14 = 260 characters: one too many. Cut to fit it would
        // name AutoUpdate.ge, which is there.
        qritest::LongInstallerFixture installer(245);
        WriteFileBytes(installer.Directory() + "\\AutoUpdate.ge", "decoy\r\n");
        std::string target = installer.Directory() + "\\UPD1.tmp";
        WriteFileBytes(target, "");
        FakeSettings settings;
        TraceCapture trace;
        EXPECT_EQ(qri::GenerateScript(qritest::TaskSource(settings), "AutoUpdate", target.c_str()),
                  qri::kGenerateNoGenericScript);
        EXPECT_EQ(ReadFileBytes(target), "");
        // Both messages are longer than the trace buffer and arrive cut to fit.
        EXPECT_EQ(trace.Messages(), (Messages{CopyErrorMessage("AutoUpdate", target).substr(0, 259),
                                              NoGenericScriptMessage(target, "AutoUpdate").substr(0, 259)}));
    }
}

TEST(GenerateScript, LongMessagesAreCutToTheTraceBuffer)
{
    qritest::LongInstallerFixture installer(230);
    std::string target = installer.Directory() + "\\" + std::string(20, 'n') + ".tmp";
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
    EXPECT_EQ(ReadFileBytes(target),
              InstallerFixture::GenericContent("MSI") + BareOptions(std::string(20, 'n') + ".tmp"));
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
        result = gen.AutoUpdate(settings);
    }
    // The generic part alone is not the script: no engine may run on it.
    EXPECT_EQ(result, qri::kGenerateWriteFailed);
    EXPECT_EQ(gen.Bytes(), gen.Generic("AutoUpdate"));
    Messages messages = trace.Messages();
    ASSERT_EQ(messages.size(), 4u);
    // Whatever error the C library left: it ran out of streams, not the system.
    std::string notWritten = qritest::NotWrittenMessage(gen.script, 0);
    notWritten.pop_back();
    EXPECT_EQ(messages[2].substr(0, notWritten.size()), notWritten);
    messages[2] = "";
    EXPECT_EQ(messages, (Messages{CopiedMessage("AutoUpdate", gen.script), "\nFile " + gen.script + " could not be opened\n",
                                  "", kGenerationErrorMessage}));
    EXPECT_TRUE(settings.Calls().empty());
}

// The site loop with an empty General section: text appended after the
// Options section, the result, the reads from uNumberOfSites on and the
// messages from its reading message on.
TEST(GenerateScript, SiteLoop)
{
    struct Case {
        const char *name;
        std::vector<std::string> values;
        std::string appended;
        int result;
        std::vector<std::string> reads;
        std::string last = ""; // sent before the outcome, if any
    };
    const Case cases[] = {
        {"uNumberOfSites missing", {}, "", 0, {"S/uNumberOfSites"}, CannotContinueMessage(kSitesGeneral)},
        {"uNumberOfSites 0", {"S/uNumberOfSites=0", "1/bSiteEnabled=1"}, "", 1, {"S/uNumberOfSites"}},
        {"uNumberOfSites -2", {"S/uNumberOfSites=-2", "1/bSiteEnabled=1"}, "", 1, {"S/uNumberOfSites"}},
        {"uNumberOfSites without digits", {"S/uNumberOfSites=two", "1/bSiteEnabled=1"}, "", 1, {"S/uNumberOfSites"}},
        {"three sites, the first disabled",
         {"S/uNumberOfSites=3", "1/bSiteEnabled=0", "1/uUpdateFrom=3", "2/bSiteEnabled=1", "2/uUpdateFrom=3",
          "2/szSiteName=Two", "3/bSiteEnabled=1", "3/uUpdateFrom=1", "3/szSiteName=Three",
          "3/szUNCLocation=D:\\three\\", "3/bAnonymousLogin=1"},
         "\n\n[Connection_1]\n\tConnectionName  Two\n\n\n[Connection_2]\n\tConnectionName  Three\n\n\tLOCAL D:\\three",
         1,
         {"S/uNumberOfSites", "1/bSiteEnabled", "2/bSiteEnabled", "2/uUpdateFrom", "2/szSiteName", "3/bSiteEnabled",
          "3/uUpdateFrom", "3/szSiteName", "3/szUNCLocation", "3/bAnonymousLogin"}},
        {"bSiteEnabled: any number but 0 enables",
         {"S/uNumberOfSites=3", "1/bSiteEnabled=yes", "2/bSiteEnabled=-1", "2/uUpdateFrom=3", "3/bSiteEnabled= 2",
          "3/uUpdateFrom=3"},
         "\n\n[Connection_1]\n\n[Connection_2]",
         1,
         {"S/uNumberOfSites", "1/bSiteEnabled", "2/bSiteEnabled", "2/uUpdateFrom", "2/szSiteName", "3/bSiteEnabled",
          "3/uUpdateFrom", "3/szSiteName"}},
        {"bSiteEnabled missing for site 2 of 3",
         {"S/uNumberOfSites=3", "1/bSiteEnabled=1", "1/uUpdateFrom=3", "1/szSiteName=One", "3/bSiteEnabled=1",
          "3/uUpdateFrom=3"},
         "\n\n[Connection_1]\n\tConnectionName  One\n",
         0,
         {"S/uNumberOfSites", "1/bSiteEnabled", "1/uUpdateFrom", "1/szSiteName", "2/bSiteEnabled"}},
        {"uUpdateFrom missing: the header alone, then the next site",
         {"S/uNumberOfSites=2", "1/bSiteEnabled=1", "1/szSiteName=One", "2/bSiteEnabled=1", "2/uUpdateFrom=3",
          "2/szSiteName=Two"},
         "\n\n[Connection_1]\n\n[Connection_2]\n\tConnectionName  Two\n",
         1,
         {"S/uNumberOfSites", "1/bSiteEnabled", "1/uUpdateFrom", "2/bSiteEnabled", "2/uUpdateFrom", "2/szSiteName"}},
        {"uUpdateFrom 0 and 3 write no site lines",
         {"S/uNumberOfSites=2", "1/bSiteEnabled=1", "1/uUpdateFrom=0", "1/szSiteName=Zero", "1/szFTPLocation=host",
          "1/szUNCLocation=D:\\u", "2/bSiteEnabled=1", "2/uUpdateFrom=3", "2/szSiteName=Three"},
         "\n\n[Connection_1]\n\tConnectionName  Zero\n\n\n[Connection_2]\n\tConnectionName  Three\n",
         1,
         {"S/uNumberOfSites", "1/bSiteEnabled", "1/uUpdateFrom", "1/szSiteName", "2/bSiteEnabled", "2/uUpdateFrom",
          "2/szSiteName"}},
        {"szSiteName missing",
         {"S/uNumberOfSites=1", "1/bSiteEnabled=1", "1/uUpdateFrom= 2 (FTP)", "1/szFTPLocation=host\\pub",
          "1/bAnonymousLogin=1", "1/bProxy=0"},
         "\n\n[Connection_1]\n\tFTP host, pub, passive",
         1,
         {"S/uNumberOfSites", "1/bSiteEnabled", "1/uUpdateFrom", "1/szSiteName", "1/szFTPLocation", "1/bAnonymousLogin",
          "1/bProxy"}},
        {"site writer gives up before writing, site 1 of 2",
         {"S/uNumberOfSites=2", "1/bSiteEnabled=1", "1/uUpdateFrom=2", "1/szSiteName=One", "2/bSiteEnabled=1",
          "2/uUpdateFrom=3"},
         "\n\n[Connection_1]\n\tConnectionName  One\n",
         0,
         {"S/uNumberOfSites", "1/bSiteEnabled", "1/uUpdateFrom", "1/szSiteName", "1/szFTPLocation"},
         NotFoundMessage("szFTPLocation", Site(1))},
        {"site writer gives up after its first line, site 1 of 2",
         {"S/uNumberOfSites=2", "1/bSiteEnabled=1", "1/uUpdateFrom=1", "1/szSiteName=One",
          "1/szUNCLocation=\\\\srv\\share", "2/bSiteEnabled=1", "2/uUpdateFrom=3"},
         "\n\n[Connection_1]\n\tConnectionName  One\n\n\tUNC srv, share, ",
         0,
         {"S/uNumberOfSites", "1/bSiteEnabled", "1/uUpdateFrom", "1/szSiteName", "1/szUNCLocation",
          "1/bAnonymousLogin"},
         NotFoundMessage("bAnonymousLogin", Site(1))},
        {"site writer gives up on site 2 of 2",
         {"S/uNumberOfSites=2", "1/bSiteEnabled=1", "1/uUpdateFrom=3", "2/bSiteEnabled=1", "2/uUpdateFrom=2",
          "2/szFTPLocation=host"},
         "\n\n[Connection_1]\n\n[Connection_2]\n\tFTP host, , passive",
         0,
         {"S/uNumberOfSites", "1/bSiteEnabled", "1/uUpdateFrom", "1/szSiteName", "2/bSiteEnabled", "2/uUpdateFrom",
          "2/szSiteName", "2/szFTPLocation", "2/bAnonymousLogin"},
         NotFoundMessage("bAnonymousLogin", Site(2))},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        Generation gen;
        FakeSettings settings;
        SetSites(settings, c.values);
        TraceCapture trace;
        EXPECT_EQ(gen.AutoUpdate(settings), c.result);
        EXPECT_EQ(gen.Bytes(), gen.BareAutoUpdate(Crlf(c.appended)));
        const std::vector<std::string> reads = SiteSettings(c.reads);
        EXPECT_EQ(ReadsFrom(settings, SiteSetting("S/uNumberOfSites")), reads);
        EXPECT_EQ(MessagesFrom(trace.Messages(), ReadingMessage("uNumberOfSites", kSitesGeneral)),
                  SiteLoopMessages(reads, c.last, c.result));
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
    EXPECT_EQ(gen.AutoUpdate(settings), qri::kGenerated);
    std::string expected;
    for (int connection = 1; connection <= 4; ++connection)
        expected += "\n\n[Connection_" + std::to_string(connection) + "]\n\tConnectionName  site " +
                    std::to_string(connection * 3) + "\n";
    EXPECT_EQ(gen.Bytes(), gen.BareAutoUpdate(Crlf(expected)));
    std::vector<std::string> keys = settings.ReadKeys();
    EXPECT_NE(std::find(keys.begin(), keys.end(), Site(12) + "/bSiteEnabled"), keys.end());
    EXPECT_EQ(std::find(keys.begin(), keys.end(), Site(13) + "/bSiteEnabled"), keys.end());
}

// Both readers or neither: every setting is missing. The task name is read
// with the task reader itself whenever it is set.
TEST(GenerateScript, SettingSourceWithBothOrNeitherReader)
{
    for (bool both : {true, false}) {
        SCOPED_TRACE(both ? "both" : "neither");
        Generation gen;
        FakeSettings settings;
        settings.Set("Task", "TaskName", "T");
        settings.Set(kSitesGeneral, "uNumberOfSites", "0");
        char softwareId[] = "SW";
        qri::SettingSource source = {both ? FakeSettings::TaskReader : nullptr,
                                     both ? FakeSettings::PolicyReader : nullptr,
                                     both ? settings.TaskData() : softwareId, 0};
        TraceCapture trace;
        EXPECT_EQ(qri::GenerateScript(source, "AutoUpdate", gen.script.c_str()), qri::kGenerateFailed);
        EXPECT_EQ(gen.Bytes(), gen.BareAutoUpdate(both ? "\r\n\tset TaskName=T" : ""));
        EXPECT_EQ(settings.ReadKeys(), both ? std::vector<std::string>{"Task/TaskName"} : std::vector<std::string>{});
        // Copied, reading options, 15 options with their not-found messages,
        // uNumberOfSites, can't continue, generation error.
        EXPECT_EQ(trace.Messages().size(), 35u);
        EXPECT_EQ(MessagesFrom(trace.Messages(), ReadingMessage("uNumberOfSites", kSitesGeneral)),
                  (Messages{ReadingMessage("uNumberOfSites", kSitesGeneral), CannotContinueMessage(kSitesGeneral),
                            kGenerationErrorMessage}));
    }
}

TEST(GenerateScript, UnterminatedTextStaysWithinItsBuffer)
{
    Generation gen;
    FakeSettings settings;
    settings.SetUnterminated("Task", "TaskName");
    settings.SetUnterminated(kGeneral, "szLocalUnpackDir");
    SetSites(settings, {"S/uNumberOfSites=1", "1/bSiteEnabled=1", "1/uUpdateFrom=3"});
    settings.SetUnterminated(Site(1), "szSiteName");
    EXPECT_EQ(gen.AutoUpdate(settings), qri::kGenerated);
    const std::string full(qri::kSettingCapacity - 1, 'x');
    EXPECT_EQ(gen.Bytes(), gen.BareAutoUpdate("\r\n\tset TaskName=" + full + "\r\n\tset LocalUnpackDir=" + full +
                                              "\r\n\r\n[Connection_1]\r\n\tConnectionName  " + full + "\r\n"));
}

} // namespace
