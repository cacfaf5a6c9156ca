// Scripts that outgrow a real drive: drive Q: is a small tmpfs that the
// full_drive_mount step maps into this build's Wine prefix (root only; the
// test skips where it is not there). A script cut short never reaches the
// engine, nothing cut is left behind, and once room is made the next
// enforcement writes exactly what a roomy directory gets.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "support/engine_run.h"
#include "support/fake_host.h"
#include "support/plugin_dll.h"
#include "support/scratch.h"

namespace {

using qritest::FakeSettings;
using qritest::ListFiles;
using Messages = std::vector<std::string>;

constexpr char kDrive[] = "Q:\\";
constexpr ULONGLONG kPage = 4096; // tmpfs counts whole pages
constexpr int kSites = 80;
constexpr unsigned long kTaskDataSize = 24;
void *const kUntouched = reinterpret_cast<void *>(static_cast<ULONG_PTR>(0x5eedc00c));

bool FreeOnDrive(ULONGLONG *free)
{
    ULARGE_INTEGER available, total;
    if (!GetDiskFreeSpaceExA(kDrive, &available, &total, nullptr))
        return false;
    *free = available.QuadPart;
    return true;
}

// Sites long enough that 80 of them need about 14 KiB of script.
void SetFtpSites(FakeSettings &settings, const std::string &module)
{
    settings.Set(module + " Sites General", "uNumberOfSites", std::to_string(kSites));
    for (int n = 1; n <= kSites; ++n) {
        std::string section = module + " Update Site" + std::to_string(n);
        std::string number = std::to_string(n);
        settings.Set(section, "bSiteEnabled", "1");
        settings.Set(section, "uUpdateFrom", "2");
        settings.Set(section, "szSiteName", "Nightly mirror " + number);
        settings.Set(section, "szFTPLocation", "ftp" + number + ".updates.example.test/pub/qri/nightly/");
        settings.Set(section, "bAnonymousLogin", "0");
        settings.Set(section, "szFTPUsername", "agent" + number);
        settings.Set(section, "szFTPPassword", "secret");
        settings.Set(section, "bProxy", "1");
        settings.Set(section, "szProxy", "proxy.example.test");
        settings.Set(section, "dwProxyPort", "8080");
    }
}

// The plug-in's trace as it sends it. The plug-in sends only while a viewer's
// section exists; with the section alone (no viewer's events) the system
// hands nothing on, so each message costs only its exception, not a round
// trip to a viewer (80 sites make some 1,700 messages).
constexpr DWORD kPrintException = 0x40010006; // DBG_PRINTEXCEPTION_C
Messages *g_trace = nullptr;

LONG CALLBACK RecordTrace(EXCEPTION_POINTERS *exception)
{
    const EXCEPTION_RECORD *record = exception->ExceptionRecord;
    if (g_trace != nullptr && record->ExceptionCode == kPrintException && record->NumberParameters >= 2)
        g_trace->push_back(reinterpret_cast<const char *>(record->ExceptionInformation[1]));
    return EXCEPTION_CONTINUE_SEARCH;
}

class TraceRecorder {
public:
    explicit TraceRecorder(Messages *trace)
        : section_(CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 4096, "DBWIN_BUFFER")),
          handler_(AddVectoredExceptionHandler(1, RecordTrace))
    {
        g_trace = trace;
    }
    ~TraceRecorder()
    {
        g_trace = nullptr;
        RemoveVectoredExceptionHandler(handler_);
        CloseHandle(section_);
    }
    TraceRecorder(const TraceRecorder &) = delete;
    TraceRecorder &operator=(const TraceRecorder &) = delete;
    bool Listening() const { return section_ != nullptr && handler_ != nullptr; }

private:
    HANDLE section_;
    void *handler_;
};

// The installer directory on drive Q: (or anywhere), registered in a fresh
// installer key, with the generic scripts, the stand-in engine and run flags
// that leave something to install.
class Installation {
public:
    explicit Installation(const std::string &directory) : directory_(directory)
    {
        CreateDirectoryA(directory_.c_str(), nullptr);
        key.SetText("Installation Directory", directory_);
        key.SetText("MSI_Installer_Run", "1");
        key.SetText("Universal_Uninstaller_Run", "1");
        key.SetText("OAS_Installer_Run", "0");
        key.SetDword(qritest::kProcessHandle, 0);
        for (const char *module : {"Master", "MSI", "Fenwa", "AutoUpdate", "Replicate"})
            qritest::WriteFileBytes(Join(std::string(module) + ".gen"), qritest::InstallerFixture::GenericContent(module));
        qritest::InstallStandinEngine(directory_);
    }
    ~Installation() { qritest::RemoveTree(directory_); }
    Installation(const Installation &) = delete;
    Installation &operator=(const Installation &) = delete;

    std::string Join(const std::string &name) const { return directory_ + "\\" + name; }
    std::string Seen() const { return Join("QRI.exe.seen"); }
    std::vector<std::string> Scripts() const { return ListFiles(directory_, "*.tmp"); }

    qritest::ScratchInstallerKey key;

private:
    std::string directory_;
};

// One enforcement: its result, its trace, and the scripts it added.
struct Outcome {
    int result = -1;
    Messages trace;
    std::vector<std::string> added; // file names
    void *cookie = kUntouched;
    DWORD stored = 0;
};

enum class Kind { kTask, kPolicy };

class FullDrive : public qritest::PluginTest {
protected:
    // traced: with the trace recorded (the plug-in sends none unless asked).
    Outcome Enforce(Kind kind, Installation &installation, FakeSettings &settings, bool traced = false)
    {
        Outcome run;
        std::vector<std::string> before = installation.Scripts();
        std::unique_ptr<TraceRecorder> recorder;
        if (traced) {
            recorder = std::make_unique<TraceRecorder>(&run.trace);
            EXPECT_TRUE(recorder->Listening()) << "the trace cannot be recorded";
        }
        if (kind == Kind::kTask)
            run.result = dll.EnforceTask(settings.TaskData(), kTaskDataSize, FakeSettings::TaskReader, &run.cookie);
        else
            run.result = dll.EnforcePolicy(qritest::kSoftwareId, FakeSettings::PolicyReader);
        recorder.reset();
        run.stored = installation.key.GetDword(qritest::kProcessHandle);
        for (const std::string &name : installation.Scripts()) {
            if (std::find(before.begin(), before.end(), name) == before.end())
                run.added.push_back(name);
        }
        return run;
    }

    // Ends whatever engine the run started (and hands its cookie back).
    void EndEngine(Kind kind, Outcome &run, Installation &installation)
    {
        if (kind == Kind::kTask) {
            if (run.cookie != kUntouched && run.cookie != nullptr) {
                qritest::FinishProcess(static_cast<PROCESS_INFORMATION *>(run.cookie)->hProcess);
                dll.FreeCookie(run.cookie);
            }
        } else {
            qritest::EndStoredEngine(installation.key);
        }
    }
};

// The scripts of a run, each with the directory and the script names
// replaced by placeholders, keyed by the name's three-letter prefix.
std::vector<std::pair<std::string, std::string>> Normalized(const Installation &installation, const std::string &directory,
                                                            const std::vector<std::string> &names)
{
    std::vector<std::pair<std::string, std::string>> scripts;
    for (const std::string &name : names) {
        std::string text = qritest::ReadFileBytes(installation.Join(name));
        for (const std::string &other : names) {
            std::string placeholder = "<" + other.substr(0, 3) + ">";
            for (std::size_t at = text.find(other); at != std::string::npos; at = text.find(other, at))
                text.replace(at, other.size(), placeholder);
        }
        for (std::size_t at = text.find(directory); at != std::string::npos; at = text.find(directory, at))
            text.replace(at, directory.size(), "<dir>");
        scripts.emplace_back(name.substr(0, 3), text);
    }
    std::sort(scripts.begin(), scripts.end());
    return scripts;
}

// Where the generator put module's script, from its copy message.
std::string ScriptPathOf(const Messages &trace, const std::string &module)
{
    for (const std::string &message : trace) {
        const std::string marker = " generic script for module " + module + " into output file ";
        std::size_t at = message.find(marker);
        if (at != std::string::npos && message.size() > at + marker.size() + 1)
            return message.substr(at + marker.size(), message.size() - at - marker.size() - 1);
    }
    return "";
}

// The messages of module's generation: from its copy to the next module's.
Messages SegmentOf(const Messages &trace, const std::string &module)
{
    const std::string mine = " generic script for module " + module + " ";
    auto first = std::find_if(trace.begin(), trace.end(),
                              [&](const std::string &m) { return m.find(mine) != std::string::npos; });
    auto last = std::find_if(first == trace.end() ? first : first + 1, trace.end(), [](const std::string &m) {
        return m.find(" generic script for module ") != std::string::npos;
    });
    return Messages(first, last);
}

bool Has(const Messages &messages, const std::string &message)
{
    return std::find(messages.begin(), messages.end(), message) != messages.end();
}

TEST_F(FullDrive, ScriptThatDoesNotFitNeverReachesTheEngine)
{
    ULONGLONG free = 0;
    if (!FreeOnDrive(&free))
        GTEST_SKIP() << "no drive Q: (the full_drive_mount step maps a tmpfs there; it needs root)";

    struct Case {
        const char *name;
        Kind kind;
        ULONGLONG left;    // bytes free on the drive when it runs
        const char *sites; // the module with 80 FTP sites
        const char *cut;   // the module whose script does not fit
    } cases[] = {
        {"AutoUpdate task, 80 FTP sites, 8 KiB left", Kind::kTask, 2 * kPage, "AutoUpdate", "AutoUpdate"},
        {"AutoUpdate task, nothing left", Kind::kTask, 0, "AutoUpdate", "AutoUpdate"},
        // Master takes a page, the MSI script the rest; the Fenwa copy finds no room.
        {"policy, 80 MSI sites, 8 KiB left", Kind::kPolicy, 2 * kPage, "MSI", "MSI"},
        // A page each for Master and MSI: the last script is the cut one, so
        // nothing after it fails and only its own writes can tell.
        {"policy, 80 Fenwa sites, 12 KiB left", Kind::kPolicy, 3 * kPage, "Fenwa", "Fenwa"},
        {"policy, nothing left", Kind::kPolicy, 0, "MSI", "Master"},
    };

    const std::string filler = std::string(kDrive) + "filler.bin";
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        FakeSettings settings;
        settings.Set("Task", "TaskType", "vkAutoUpdateTask");
        settings.Set("Task", "TaskName", "Nightly");
        SetFtpSites(settings, c.sites);

        // What the enforcement writes where there is room.
        std::vector<std::pair<std::string, std::string>> roomy;
        {
            qritest::ScratchDir directory("roomy");
            Installation installation(directory.Path());
            Outcome run = Enforce(c.kind, installation, settings);
            ASSERT_EQ(run.result, 1);
            EndEngine(c.kind, run, installation);
            roomy = Normalized(installation, directory.Path(), run.added);
            ASSERT_EQ(roomy.size(), c.kind == Kind::kTask ? 1u : 3u);
            std::size_t longest = 0;
            for (const auto &script : roomy)
                longest = std::max(longest, script.second.size());
            ASSERT_GT(longest, 3 * kPage) << "the sites would fit";
        }
        const std::string directory = std::string(kDrive) + "inst";
        Installation installation(directory);
        std::vector<std::string> before = installation.Scripts();

        DeleteFileA(filler.c_str());
        ASSERT_TRUE(FreeOnDrive(&free));
        ASSERT_GE(free, c.left);
        {
            HANDLE out = CreateFileA(filler.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
            ASSERT_NE(out, INVALID_HANDLE_VALUE);
            std::string chunk(64 * 1024, 'f');
            for (ULONGLONG rest = free - c.left; rest > 0;) {
                DWORD piece = static_cast<DWORD>(std::min<ULONGLONG>(rest, chunk.size())), wrote = 0;
                if (!WriteFile(out, chunk.data(), piece, &wrote, nullptr) || wrote == 0)
                    break;
                rest -= wrote;
            }
            CloseHandle(out);
        }
        ASSERT_TRUE(FreeOnDrive(&free));
        ASSERT_EQ(free, c.left) << "the filler did not leave what the case needs";

        Outcome full = Enforce(c.kind, installation, settings, true);
        std::string cutPath = ScriptPathOf(full.trace, c.cut);
        EXPECT_EQ(full.result, 0);
        EXPECT_EQ(full.cookie, kUntouched) << "a task cookie was handed out";
        EXPECT_EQ(full.stored, 0u) << "dwProcessHandle names a new engine";
        EndEngine(c.kind, full, installation);
        EXPECT_FALSE(qritest::PathExists(installation.Seen())) << "the engine ran";
        EXPECT_EQ(installation.Scripts(), before) << "scripts left behind";
        EXPECT_FALSE(cutPath.empty()) << "no copy message for " << c.cut;
        Messages segment = SegmentOf(full.trace, c.cut);
        EXPECT_FALSE(Has(segment, "\nScript generated successfully")) << cutPath << " reported as generated";
        // A generic copy that fails keeps the messages of a missing one.
        if (c.left != 0) {
            EXPECT_TRUE(Has(segment, "\nError generating script")) << cutPath;
        }
        EXPECT_FALSE(Has(full.trace, "Launching VESK"));
        bool named = std::any_of(segment.begin(), segment.end(), [&](const std::string &m) {
            return m.find(cutPath) != std::string::npos && m.find("error") != std::string::npos;
        });
        EXPECT_TRUE(named) << "no message names " << cutPath << " and the system error";

        // Room made: the next enforcement runs its course, scripts exact.
        DeleteFileA(installation.Seen().c_str());
        ASSERT_TRUE(DeleteFileA(filler.c_str()));
        Outcome after = Enforce(c.kind, installation, settings);
        EXPECT_EQ(after.result, 1);
        EXPECT_FALSE(qritest::WaitForStandinRecord(installation.Join("QRI.exe")).empty()) << "no engine after room made";
        EndEngine(c.kind, after, installation);
        EXPECT_EQ(Normalized(installation, directory, after.added), roomy);
    }
}

} // namespace
