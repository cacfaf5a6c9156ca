// Anomaly sweep over the shipped QRIPLUGN.dll: for each representative call,
// the k-th imported call fails (transient: that call only; persistent: that
// call and every later call of the same function), for k = 1, 2, ... until a
// run has no call left to fail. Each run must come back, give the decided
// result and trace, balance what it opened, start no engine on a script that
// is not whole, and leave the next clean run exact.
//
// Every run loads the DLL afresh, so that the first-enforcement paths (the
// lock's mutex, the reboot event's creation) are reached each time, and the
// handles it keeps for the life of a process are closed after it unloads.
#include <gtest/gtest.h>

#include <windows.h>

#include <chrono>
#include <cstdlib>
#include <functional>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "fault/import_hooks.h"
#include "support/engine_run.h"
#include "support/fake_host.h"
#include "support/plugin_dll.h"
#include "support/scratch.h"

namespace {

using fault::Mode;
using qritest::FakeSettings;

constexpr DWORD kCallBound = 30000; // a call that takes longer hangs
constexpr unsigned long kTaskDataSize = 24;
constexpr DWORD kAbsent = 0xdeadbeef;
void *const kUntouched = reinterpret_cast<void *>(static_cast<ULONG_PTR>(0x5eedc00c));

enum class Family { Task, Policy, Properties, Installed, Cookie };

// What a failure must lead to, as decided per call site.
enum class Outcome {
    Same,        // harmless: as the clean run
    Refused,     // 0, nothing made, no engine
    ScriptWrite, // 0, no engine, every script of the call removed, the error traced
    NoTempName,  // 1, nothing made, no engine
    NoCookie,    // task: 1, the script stays, no engine
    NoProcess,   // 1, scripts stay, no engine; a policy traces the error
    Unstored,    // policy: 1, the engine runs but is not stored
    Fewer,       // properties: that value is not reported
    NotFound,    // installed check: 0
    Ended,       // task status: the engine counts as ended
};

const char *const kOutcomeNames[] = {"same",          "refused",   "script-write", "no-temp-name", "no-cookie",
                                     "no-process",    "unstored",  "fewer",        "not-found",    "ended"};

struct Decision {
    unsigned families; // bit per Family; 0: any
    const char *function;
    const char *tag; // "" any
    int ordinal;     // 0 any
    Outcome outcome;
};

constexpr unsigned Of(Family f)
{
    return 1u << static_cast<unsigned>(f);
}
constexpr unsigned kEnforcements = Of(Family::Task) | Of(Family::Policy);

// First match wins.
const Decision kDecisions[] = {
    {0, "CreateMutexA", "", 0, Outcome::Refused},
    {0, "WaitForSingleObject", "CreateMutexA", 0, Outcome::Refused},
    {0, "WaitForSingleObject", "", 0, Outcome::Same}, // the reboot event: not set
    {0, "OpenFileMappingA", "", 0, Outcome::Same},    // the trace is best effort
    {0, "CloseHandle", "", 0, Outcome::Same},
    {0, "RegCloseKey", "", 0, Outcome::Same},
    {0, "FindClose", "", 0, Outcome::Same},
    {0, "HeapFree", "", 0, Outcome::Same},
    {0, "DeleteFileA", "", 0, Outcome::Same},
    {0, "malloc", "", 0, Outcome::Same}, // the fallback buffer takes over
    {Of(Family::Installed), "FindFirstFileA", "", 0, Outcome::NotFound},
    {Of(Family::Installed), "RegEnumValueA", "", 0, Outcome::NotFound}, // an unknown answer is not "installed"
    {Of(Family::Properties), "RegQueryValueExA", "", 0, Outcome::Fewer},
    {0, "RegOpenKeyA", "", 0, Outcome::Refused},
    {0, "RegOpenKeyExA", "", 0, Outcome::Refused},
    {0, "RegQueryValueExA", "Installation Directory", 0, Outcome::Refused},
    {0, "RegQueryValueExA", "", 0, Outcome::Same}, // run flags count as 0, stored engine as none
    {kEnforcements, "OpenEventA", "", 1, Outcome::Same}, // it is created next
    {kEnforcements, "OpenEventA", "", 2, Outcome::Refused},
    {kEnforcements, "CreateEventA", "", 0, Outcome::Refused},
    {kEnforcements, "InitializeSecurityDescriptor", "", 0, Outcome::Refused},
    {kEnforcements, "SetSecurityDescriptorDacl", "", 0, Outcome::Refused},
    {Of(Family::Cookie), "GetExitCodeProcess", "", 0, Outcome::Ended},
    {0, "GetExitCodeProcess", "", 0, Outcome::Same}, // the stored engine counts as ended
    {0, "TerminateProcess", "", 0, Outcome::Same},
    {0, "RegSetValueExA", "dwProcessHandle=0", 0, Outcome::Same},
    {0, "RegSetValueExA", "dwProcessHandle=value", 0, Outcome::Unstored},
    {0, "GetTempFileNameA", "", 0, Outcome::NoTempName},
    {0, "CopyFileA", "", 0, Outcome::ScriptWrite},
    {0, "fopen", "", 0, Outcome::ScriptWrite},
    {0, "fwrite", "", 0, Outcome::ScriptWrite},
    {0, "fputc", "", 0, Outcome::ScriptWrite},
    {0, "vfprintf", "", 0, Outcome::ScriptWrite},
    {0, "fflush", "", 0, Outcome::ScriptWrite},
    {0, "fclose", "", 0, Outcome::ScriptWrite},
    {0, "GetModuleFileNameA", "", 0, Outcome::Same}, // Agent.ini not found: the default agent ID
    {0, "GetPrivateProfileStringA", "", 0, Outcome::Same},
    {Of(Family::Task), "HeapAlloc", "", 0, Outcome::NoCookie}, // as when no process starts
    {0, "CreateProcessA", "", 0, Outcome::NoProcess},
};

const Decision *DecisionFor(Family family, const fault::Call &call)
{
    for (const Decision &d : kDecisions) {
        if ((d.families == 0 || (d.families & Of(family)) != 0) && call.row->name == std::string(d.function) &&
            (d.tag[0] == '\0' || call.tag == d.tag) && (d.ordinal == 0 || d.ordinal == call.ordinal))
            return &d;
    }
    return nullptr;
}

using Scripts = std::map<std::string, std::string>;

// Temporary names and the directory differ from run to run: each script is
// named by its prefix, and its text names the others the same way.
Scripts Normalised(const Scripts &scripts, const std::string &directory)
{
    std::vector<std::pair<std::string, std::string>> names;
    std::map<std::string, int> seen;
    for (const auto &script : scripts) {
        std::string prefix = script.first.substr(0, 3);
        int n = seen[prefix]++;
        names.push_back({script.first, "<" + prefix + (n > 0 ? std::to_string(n) : "") + ">"});
    }
    Scripts out;
    for (const auto &script : scripts) {
        std::string text = script.second;
        auto replace = [&text](const std::string &from, const std::string &to) {
            for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
                text.replace(at, from.size(), to);
        };
        replace(directory, "<dir>");
        for (const auto &name : names)
            replace(name.first, name.second);
        for (const auto &name : names) {
            if (name.first == script.first)
                out[name.second] = text;
        }
    }
    return out;
}

Scripts ScriptsIn(const std::string &directory)
{
    Scripts scripts;
    for (const std::string &name : qritest::ListFiles(directory, "*.tmp"))
        scripts[name] = qritest::ReadFileBytes(directory + "\\" + name);
    return Normalised(scripts, directory);
}

// The installation and settings of one run.
struct World {
    explicit World(Family f) : installation("qfault"), family(f) {}
    qritest::EngineInstallation installation;
    FakeSettings settings;
    qritest::ReleaseEvent release;
    Family family;
    RXPLUGIN_TaskCookie cookie = kUntouched; // the cookie scenario's, made before the call
};

struct Scenario {
    const char *name;
    Family family;
    std::function<void(World &)> arrange;
};

void AddSites(FakeSettings &settings, const std::string &module, int count, const std::string &nameFill)
{
    settings.Set(module + " Sites General", "uNumberOfSites", std::to_string(count));
    for (int i = 1; i <= count; ++i) {
        std::string section = module + " Update Site" + std::to_string(i);
        bool ftp = i % 2 == 1;
        settings.Set(section, "bSiteEnabled", "1");
        settings.Set(section, "uUpdateFrom", ftp ? "2" : "1");
        settings.Set(section, "szSiteName", "Site " + std::to_string(i) + " " + nameFill);
        settings.Set(section, "bAnonymousLogin", "0");
        settings.Set(section, "szFTPUsername", "user" + std::to_string(i));
        settings.Set(section, "szFTPPassword", "secret" + std::to_string(i));
        if (ftp) {
            settings.Set(section, "szFTPLocation", "ftp.example.com/pub/dats" + std::to_string(i));
            settings.Set(section, "bProxy", "1");
            settings.Set(section, "szProxy", "proxy.example.com");
            settings.Set(section, "dwProxyPort", "8080");
        } else {
            settings.Set(section, "szUNCLocation", "\\\\server" + std::to_string(i) + "\\share\\dats");
            settings.Set(section, "szRunAsDomain", "DOMAIN");
        }
    }
}

void AddGeneral(FakeSettings &settings, const std::string &module)
{
    settings.Set(module + " General", "bLogToFile", "1");
    settings.Set(module + " General", "szLogFileName", module + ".log");
    settings.Set(module + " General", "uMaxKiloBytes", "512");
}

void AddTask(World &world, const char *type, const std::string &module, int sites, const std::string &fill)
{
    world.settings.Set("Task", "TaskType", type);
    world.settings.Set("Task", "TaskName", "Nightly");
    AddGeneral(world.settings, module);
    AddSites(world.settings, module, sites, fill);
}

// Long site names take the AutoUpdate script past one 32 KiB chunk.
const Scenario kScenarios[] = {
    {"AutoUpdate task, 120 FTP and UNC sites", Family::Task,
     [](World &w) { AddTask(w, "vkAutoUpdateTask", "AutoUpdate", 120, std::string(200, 'n')); }},
    {"mirror task, 3 sites", Family::Task, [](World &w) { AddTask(w, "vkMirrorSiteTask", "Replicate", 3, ""); }},
    {"policy: Master, MSI and Fenwa", Family::Policy,
     [](World &w) {
         w.installation.SetFlags("1", "1", "0");
         // An ended run's value, reset by the enforcement.
         w.installation.Key().SetDword(qritest::kProcessHandle, qritest::kMadeUpHandle);
         for (const char *module : {"Master", "MSI", "Fenwa"})
             AddGeneral(w.settings, module);
         AddSites(w.settings, "MSI", 2, "");
         AddSites(w.settings, "Fenwa", 1, "");
     }},
    {"GetProperties", Family::Properties,
     [](World &w) {
         w.installation.Key().SetText("Product Name", "Quorvane Scanner");
         w.installation.Key().SetText("szProductVer", "8.0.0");
         w.installation.Key().SetText("Language", "0409");
     }},
    {"IsSoftwareInstalled", Family::Installed,
     [](World &w) {
         w.installation.Key().SetText("Base:engine", "QRI.exe");
         w.installation.Key().SetText("Base:master", "Master.gen");
     }},
    {"GetTaskStatus, StopTask and FreeCookie on a running task", Family::Cookie,
     [](World &w) { AddTask(w, "vkAutoUpdateTask", "AutoUpdate", 1, ""); }},
};

// What one call did.
struct Observed {
    std::vector<int> results;
    bool cookieSet = false;
    DWORD storedBefore = kAbsent;
    DWORD stored = kAbsent;
    Scripts scripts; // left in the installer directory
    std::vector<std::string> reports;
    std::string seen; // the command line the stand-in engine recorded, if it ran
    fault::Record record;
    bool finished = true;
};

// Calls run on a thread of their own, so that one that hangs is seen. The
// thread is kept from call to call: making one costs more than most calls.
class Worker {
public:
    Worker() : go_(CreateEventA(nullptr, FALSE, FALSE, nullptr)), done_(CreateEventA(nullptr, FALSE, FALSE, nullptr)) {}

    bool Run(std::function<void()> body)
    {
        if (thread_ == nullptr)
            thread_ = CreateThread(nullptr, 0, Loop, this, 0, nullptr);
        body_ = std::move(body);
        SetEvent(go_);
        if (WaitForSingleObject(done_, kCallBound) == WAIT_OBJECT_0)
            return true;
        TerminateThread(thread_, 1);
        WaitForSingleObject(thread_, kCallBound);
        CloseHandle(thread_);
        thread_ = nullptr;
        return false;
    }

private:
    static DWORD WINAPI Loop(void *self)
    {
        auto *worker = static_cast<Worker *>(self);
        for (;;) {
            WaitForSingleObject(worker->go_, INFINITE);
            worker->body_();
            SetEvent(worker->done_);
        }
    }

    HANDLE go_;
    HANDLE done_;
    HANDLE thread_ = nullptr;
    std::function<void()> body_;
};

bool RunBounded(std::function<void()> body)
{
    static Worker worker;
    return worker.Run(std::move(body));
}

// Waits for every engine the call started, as the agent would before it
// enforces again; ends one that still runs.
void EndEngines(const fault::Record &record)
{
    for (const fault::Launch &launch : record.launches) {
        if (launch.process != nullptr) {
            qritest::FinishProcess(launch.process, kCallBound);
            CloseHandle(launch.process);
        }
    }
}

// The DLL loaded afresh with every import hooked. What it keeps open for the
// life of the process is closed once it is gone.
class Instance {
public:
    Instance() : dll_(new qritest::PluginDll)
    {
        if (dll_->Loaded())
            unknown_ = fault::HookImports(dll_->Module());
    }
    ~Instance()
    {
        dll_.reset();
        for (const auto &entry : fault::Live()) {
            HANDLE value = reinterpret_cast<HANDLE>(entry.first.second);
            if (entry.first.first == "handle")
                CloseHandle(value);
            else if (entry.first.first == "key")
                RegCloseKey(static_cast<HKEY>(value));
            else if (entry.first.first == "find")
                FindClose(value);
        }
        fault::Live().clear();
    }
    qritest::PluginDll &Dll() { return *dll_; }
    const std::vector<std::string> &Unknown() const { return unknown_; }

private:
    std::unique_ptr<qritest::PluginDll> dll_;
    std::vector<std::string> unknown_;
};

// The cookie scenario's cookie: a clean task whose engine waits.
void PrepareCookie(Instance &instance, World &world)
{
    qritest::SetStandinMode(world.installation.Engine(), world.release.WaitMode());
    world.cookie = kUntouched;
    instance.Dll().EnforceTask(world.settings.TaskData(), kTaskDataSize, FakeSettings::TaskReader, &world.cookie);
}

// The scenario's call, with recording (and failures, when armed) around it only.
Observed Call(Instance &instance, World &world, const std::function<void()> &arm)
{
    Observed out;
    qritest::PluginDll &dll = instance.Dll();
    out.storedBefore = world.installation.Stored();
    RXPLUGIN_TaskCookie cookie = kUntouched;
    qritest::PropertyRecorder recorder;
    int context = 0;
    out.finished = RunBounded([&] {
        arm();
        switch (world.family) {
        case Family::Task:
            out.results.push_back(
                dll.EnforceTask(world.settings.TaskData(), kTaskDataSize, FakeSettings::TaskReader, &cookie));
            break;
        case Family::Policy:
            out.results.push_back(dll.EnforcePolicy(qritest::kSoftwareId, FakeSettings::PolicyReader));
            break;
        case Family::Properties:
            out.results.push_back(dll.GetProperties(&context, qritest::PropertyRecorder::Sink));
            break;
        case Family::Installed:
            out.results.push_back(dll.IsSoftwareInstalled());
            break;
        case Family::Cookie:
            out.results.push_back(dll.GetTaskStatus(world.cookie));
            out.results.push_back(dll.StopTask(world.cookie));
            out.results.push_back(dll.FreeCookie(world.cookie));
            break;
        }
        fault::StopRecording();
    });
    fault::StopRecording();
    out.record = fault::Current();
    if (world.family == Family::Cookie) {
        world.release.Set(); // an engine the failed stop left running
        world.cookie = kUntouched;
    }
    EndEngines(out.record);
    if (!out.finished)
        return out;
    if (world.family != Family::Cookie)
        out.seen = qritest::RecordField(qritest::ReadFileBytes(world.installation.Engine() + ".seen"), "commandline");
    out.cookieSet = cookie != kUntouched;
    if (out.cookieSet && cookie != nullptr)
        dll.FreeCookie(cookie);
    out.stored = world.installation.Stored();
    out.scripts = ScriptsIn(world.installation.Directory());
    for (const qritest::PropertyReport &report : recorder.reports) {
        std::string data = report.data;
        if (data.compare(0, world.installation.Directory().size(), world.installation.Directory()) == 0)
            data = "<dir>" + data.substr(world.installation.Directory().size());
        out.reports.push_back(report.name + "=" + data);
    }
    return out;
}

// The next run starts from an empty installer directory.
void ClearLeftovers(World &world)
{
    for (const std::string &name : qritest::ListFiles(world.installation.Directory(), "*.tmp"))
        DeleteFileA(world.installation.Join(name).c_str());
    for (const char *record : {".seen", ".mode"})
        DeleteFileA((world.installation.Engine() + record).c_str());
}

// The world as the scenario arranges it: the installer key's values, and the
// directory with nothing but the generic scripts and the engine.
void Reset(World &world, const Scenario &scenario)
{
    ClearLeftovers(world);
    world.installation.Key().Remove(qritest::kProcessHandle);
    world.settings.ClearCalls();
    scenario.arrange(world);
}

int Count(const std::vector<std::string> &trace, const std::string &message)
{
    int n = 0;
    for (const std::string &line : trace)
        n += line == message ? 1 : 0;
    return n;
}

bool Contains(const std::vector<std::string> &trace, const std::string &part)
{
    for (const std::string &line : trace) {
        if (line.find(part) != std::string::npos)
            return true;
    }
    return false;
}

std::string Describe(const std::vector<int> &results)
{
    std::string text;
    for (int r : results)
        text += (text.empty() ? "" : ",") + std::to_string(r);
    return text;
}

struct Totals {
    unsigned runs = 0;
    unsigned failed = 0;
    unsigned hangs = 0;
    unsigned leaks = 0;
    unsigned partialEngines = 0;
    unsigned mismatches = 0;
    std::set<std::string> internalReached;
} g_totals;

constexpr char kSuccess[] = "\nScript generated successfully";
constexpr char kGenerationError[] = "\nError generating script";

class Sweep {
public:
    Sweep(const Scenario &scenario, const std::string &directory, const Observed &reference)
        : s_(scenario), ref_(reference), refDirectory_(directory)
    {
    }

    // Checks one faulted run against the decision for what failed; adds to
    // the mismatches what does not hold.
    void Check(const std::string &where, const Observed &o, const std::string &directory)
    {
        Outcome expected = Outcome::Same;
        std::string because = "nothing failed";
        bool traceOff = false;
        for (const fault::Call &call : o.record.calls) {
            if (!call.failed)
                continue;
            traceOff = traceOff || call.row->name == std::string("OpenFileMappingA");
            const Decision *d = DecisionFor(s_.family, call);
            if (d == nullptr) {
                Mismatch(where, std::string("no decision for ") + call.row->name + " [" + call.tag + "]");
                return;
            }
            if (d->outcome != Outcome::Same) {
                expected = d->outcome;
                because = std::string(call.row->name) + (call.tag.empty() ? "" : " [" + call.tag + "]") + " #" +
                          std::to_string(call.ordinal);
                break;
            }
        }
        // The system's reason a failed write of the script gives, as the hooks set it.
        unsigned long writeError = because.compare(0, 5, "fopen") == 0 ? ERROR_ACCESS_DENIED : ERROR_DISK_FULL;
        std::string context = where + ", failed " + because + ", expected " + kOutcomeNames[int(expected)] + ": ";
        const std::vector<std::string> &trace = o.record.trace;
        auto expect = [&](bool holds, const std::string &what) {
            if (!holds)
                Mismatch(context, what);
        };
        bool task = s_.family == Family::Task;
        bool policy = s_.family == Family::Policy;
        std::string results = "result " + Describe(o.results);

        // Whatever failed, an engine starts only on the scripts as the clean run writes them.
        for (const fault::Launch &launch : o.record.launches) {
            if (ref_.record.launches.empty() ||
                Normalised(launch.scripts, directory) != Normalised(ref_.record.launches[0].scripts, refDirectory_)) {
                ++g_totals.partialEngines;
                expect(false, "an engine started on scripts that are not whole: " + launch.commandLine);
            }
        }
        bool engine = !o.record.launches.empty();
        if (!o.seen.empty()) {
            bool known = false;
            for (const fault::Launch &launch : o.record.launches)
                known = known || launch.commandLine == o.seen;
            expect(known, "the engine ran on a command line the hooks did not see: " + o.seen);
        }
        bool nothingMade = o.scripts.empty() && !engine && (!task || !o.cookieSet);
        std::string made = std::to_string(o.scripts.size()) + " scripts left, engine " + (engine ? "started" : "none") +
                           (o.cookieSet ? ", cookie set" : "");
        bool storedUntouched = !policy || o.stored == o.storedBefore || o.stored == 0;
        bool storedEngine = policy && engine &&
                            o.stored == static_cast<DWORD>(reinterpret_cast<ULONG_PTR>(o.record.launches[0].dllProcess));

        switch (expected) {
        case Outcome::Same:
            expect(o.results == ref_.results, results + ", clean run " + Describe(ref_.results));
            if (task || policy) {
                expect(engine == !ref_.record.launches.empty(), engine ? "an engine started" : "no engine started");
                expect(o.scripts == ref_.scripts, "the scripts left differ from the clean run's");
                expect(o.cookieSet == ref_.cookieSet, "cookie location");
                expect(!policy || storedEngine == engine, "dwProcessHandle does not name the engine");
                if (!traceOff) {
                    expect(Count(trace, kSuccess) == Count(ref_.record.trace, kSuccess), "success messages");
                    expect(Count(trace, kGenerationError) == Count(ref_.record.trace, kGenerationError),
                           "generation error messages");
                }
            }
            expect(o.reports == ref_.reports, "properties reported differ");
            break;
        case Outcome::Refused:
            expect(o.results == std::vector<int>{0}, results);
            expect(nothingMade, made);
            expect(storedUntouched, "dwProcessHandle changed");
            break;
        case Outcome::ScriptWrite:
            expect(o.results == std::vector<int>{0}, results);
            expect(nothingMade, made);
            expect(storedUntouched, "dwProcessHandle changed");
            if (!traceOff) {
                // A copy that failed says so in the words of a missing generic script.
                bool copy = because.compare(0, 9, "CopyFileA") == 0;
                expect(copy ? Contains(trace, "\nError copying generic script for module")
                            : Count(trace, kGenerationError) > 0,
                       copy ? "no copy error message" : "no generation error message");
                expect(Count(trace, kSuccess) < Count(ref_.record.trace, kSuccess), "as many success messages as a clean run");
                bool named = false;
                for (const std::string &path : o.record.tempNames)
                    named = named || Contains(trace, "\nScript file " + path + " not written, system error " +
                                                         std::to_string(writeError));
                expect(named, "no message names the script and system error " + std::to_string(writeError));
            }
            break;
        case Outcome::NoTempName:
            expect(o.results == std::vector<int>{1}, results);
            expect(nothingMade, made);
            break;
        case Outcome::NoCookie:
            expect(o.results == std::vector<int>{1}, results);
            expect(!engine && !o.cookieSet, "an engine started or the cookie was set");
            expect(o.scripts == ref_.scripts, "the scripts left differ from the clean run's");
            break;
        case Outcome::NoProcess:
            expect(o.results == std::vector<int>{1}, results);
            expect(!engine && !o.cookieSet, "an engine started or the cookie was set");
            expect(o.scripts == ref_.scripts, "the scripts left differ from the clean run's");
            expect(!policy || traceOff || Contains(trace, "Failed to create the process, error 5"),
                   "no process error message");
            break;
        case Outcome::Unstored:
            expect(o.results == std::vector<int>{1}, results);
            expect(engine, "no engine started");
            expect(!storedEngine, "dwProcessHandle names the engine");
            expect(traceOff || Contains(trace, "Failed to store the process handle, error 5"), "the failure is not traced");
            break;
        case Outcome::Fewer: {
            // Every value whose read failed is left out, the others reported.
            expect(o.results == std::vector<int>{1}, results);
            std::vector<std::string> fewer;
            for (const std::string &report : ref_.reports) {
                bool failed = false;
                for (const fault::Call &call : o.record.calls)
                    failed = failed || (call.failed && report.compare(0, call.tag.size() + 1, call.tag + "=") == 0);
                if (!failed)
                    fewer.push_back(report);
            }
            expect(o.reports == fewer, std::to_string(o.reports.size()) + " properties reported");
            break;
        }
        case Outcome::NotFound:
            expect(o.results == std::vector<int>{0}, results);
            break;
        case Outcome::Ended:
            expect(o.results == std::vector<int>({-1, 1, 1}), results);
            break;
        }
    }

    // The clean run after a faulted one gives what the reference gave.
    void CheckClean(const std::string &where, const Observed &o)
    {
        std::string context = where + ", the next clean run: ";
        if (o.results != ref_.results)
            Mismatch(context, "result " + Describe(o.results) + ", expected " + Describe(ref_.results));
        if (o.scripts != ref_.scripts)
            Mismatch(context, "scripts differ");
        if (o.record.launches.size() != ref_.record.launches.size())
            Mismatch(context, std::to_string(o.record.launches.size()) + " engines started");
        if (o.reports != ref_.reports)
            Mismatch(context, "properties differ");
    }

    // Opens and closes balance, but for what lives as long as the process.
    void CheckBalance(const std::string &where)
    {
        std::map<std::string, int> kept;
        for (const auto &entry : fault::Live()) {
            const std::string &kind = entry.first.first;
            const std::string &opener = entry.second.opener;
            bool lasting = kind == "handle" && (opener == "CreateMutexA" || opener == "CreateEventA" ||
                                                (opener == "CreateProcessA" && s_.family == Family::Policy));
            if (lasting && ++kept[opener] == 1)
                continue;
            if (reported_.insert(entry.first).second) {
                ++g_totals.leaks;
                std::ostringstream what;
                what << kind << " from " << opener << " at " << entry.second.site << " left open";
                Mismatch(where + ": ", what.str());
            }
        }
    }

    void CheckStrays(const std::string &where, const fault::Record &record)
    {
        for (const std::string &stray : record.strayCloses)
            Mismatch(where + ": ", "closed what it never opened: " + stray);
    }

    void NewInstance() { reported_.clear(); }

private:
    void Mismatch(const std::string &context, const std::string &what)
    {
        ++g_totals.mismatches;
        if (++shown_ <= 40)
            ADD_FAILURE() << s_.name << ", " << context << what;
    }

    const Scenario &s_;
    const Observed &ref_;
    std::string refDirectory_;
    std::set<std::pair<std::string, std::uintptr_t>> reported_;
    int shown_ = 0;
};

const char *ModeName(Mode mode)
{
    return mode == Mode::Transient ? "transient" : "persistent";
}

// Every k in both modes; QRI_FAULT_STRIDE=n fails every n-th k only, the
// modes taking turns, so that every call still fails in one of them.
unsigned Stride()
{
    const char *text = std::getenv("QRI_FAULT_STRIDE");
    unsigned stride = text != nullptr ? static_cast<unsigned>(std::strtoul(text, nullptr, 10)) : 1;
    return stride > 0 ? stride : 1;
}

void SweepScenario(const Scenario &scenario)
{
    // The reference: a clean run of a fresh DLL.
    World world(scenario.family);
    Observed reference;
    {
        Instance instance;
        ASSERT_TRUE(instance.Dll().Loaded());
        Reset(world, scenario);
        if (scenario.family == Family::Cookie)
            PrepareCookie(instance, world);
        reference = Call(instance, world, [] { fault::StartRecording(); });
        ASSERT_TRUE(reference.finished) << "the clean run hangs";
        ASSERT_TRUE(reference.record.strayCloses.empty());
    }
    unsigned calls = static_cast<unsigned>(reference.record.calls.size());
    if (std::getenv("QRI_FAULT_LIST") != nullptr) {
        for (const fault::Call &call : reference.record.calls)
            std::printf("  %s #%d [%s] at %p\n", call.row->name, call.ordinal, call.tag.c_str(), call.site);
    }
    Sweep sweep(scenario, world.installation.Directory(), reference);
    unsigned stride = Stride();
    for (Mode mode : {Mode::Transient, Mode::Persistent}) {
        for (unsigned k = 1 + (mode == Mode::Persistent ? 1 : 0) % stride;; k += stride) {
            std::string where = std::string(ModeName(mode)) + " k=" + std::to_string(k);
            fault::SetCrashContext(std::string(scenario.name) + ", " + where);
            Instance instance;
            sweep.NewInstance();
            Reset(world, scenario);
            if (scenario.family == Family::Cookie)
                PrepareCookie(instance, world);
            Observed faulted = Call(instance, world, [mode, k] { fault::Arm(mode, k); });
            ++g_totals.runs;
            g_totals.failed += faulted.record.failures;
            g_totals.internalReached.insert(faulted.record.internalReached.begin(),
                                            faulted.record.internalReached.end());
            if (!faulted.finished) {
                ++g_totals.hangs;
                ADD_FAILURE() << scenario.name << ", " << where << ": the call did not come back within "
                              << kCallBound << " ms";
                continue;
            }
            if (faulted.record.failures == 0)
                break; // no call left to fail
            std::string failedName;
            for (const fault::Call &call : faulted.record.calls) {
                if (call.failed) {
                    failedName = call.row->name;
                    break;
                }
            }
            where += " (" + failedName + ")";
            sweep.Check(where, faulted, world.installation.Directory());
            sweep.CheckStrays(where, faulted.record);
            sweep.CheckBalance(where);

            ClearLeftovers(world);
            if (scenario.family == Family::Cookie)
                PrepareCookie(instance, world);
            Observed clean = Call(instance, world, [] { fault::StartRecording(); });
            if (!clean.finished) {
                ++g_totals.hangs;
                ADD_FAILURE() << scenario.name << ", " << where << ": the next clean run hangs";
                continue;
            }
            sweep.CheckClean(where, clean);
            sweep.CheckStrays(where + ", clean run", clean.record);
            sweep.CheckBalance(where + ", clean run");
        }
    }
    std::printf("fault: %-58s %3u imported calls in a clean run\n", scenario.name, calls);
}

class Summary : public ::testing::Environment {
public:
    void TearDown() override
    {
        std::string internal;
        for (const std::string &name : g_totals.internalReached)
            internal += " " + name;
        std::printf("fault injection (%d-bit): %zu call sites reached, %u calls failed in %u runs; "
                    "hangs %u, crashes 0, leaks %u, engines on partial scripts %u, mismatches %u\n",
                    static_cast<int>(sizeof(void *) * 8), fault::Sites().size(), g_totals.failed, g_totals.runs,
                    g_totals.hangs, g_totals.leaks, g_totals.partialEngines, g_totals.mismatches);
        if (!internal.empty())
            std::printf("fault: runtime internals reached during calls:%s\n", internal.c_str());
    }
};

[[maybe_unused]] const auto *const g_summary = ::testing::AddGlobalTestEnvironment(new Summary);

// A listener makes the DLL send its trace, which the hooks keep.
class TraceListener {
public:
    TraceListener()
        : section_(CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 4096, "DBWIN_BUFFER"))
    {
    }
    ~TraceListener()
    {
        if (section_ != nullptr)
            CloseHandle(section_);
    }

private:
    HANDLE section_;
};

TEST(FaultInjection, EveryImportHasARow)
{
#if defined(QRI_COVERAGE_BUILD)
    GTEST_SKIP() << "the coverage build's DLL also imports what gcc's counters write with";
#endif
    Instance instance;
    ASSERT_TRUE(instance.Dll().Loaded());
    std::string missing;
    for (const std::string &name : instance.Unknown())
        missing += " " + name;
    EXPECT_TRUE(missing.empty()) << "imports without a row in the hook table:" << missing;
}

TEST(FaultInjection, EveryImportedCallFailingInTurn)
{
    ASSERT_FALSE(qritest::RebootEventExists()) << "another process holds the reboot event";
    TraceListener listener;
    const char *only = std::getenv("QRI_FAULT_SCENARIO");
    for (const Scenario &scenario : kScenarios) {
        if (only != nullptr && std::string(scenario.name).find(only) == std::string::npos)
            continue;
        SCOPED_TRACE(scenario.name);
        auto start = std::chrono::steady_clock::now();
        SweepScenario(scenario);
        auto seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        std::printf("fault: %-58s swept in %.1f s\n", scenario.name, seconds);
    }
}

} // namespace
