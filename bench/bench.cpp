// qribench: what a task enforcement of QRIPLUGN.dll costs beside the work it
// cannot avoid. The limit makes the same reader calls, names the script with
// GetTempFileNameA, copies the generic script and appends the same bytes in
// one WriteFile. Contenders run interleaved; each figure is a median.
//
// Generation: no engine is installed, so the DLL's CreateProcessA fails, and
// the limit makes the same failing CreateProcessA. End to end: the stand-in
// engine is installed and exits at once; both sides wait for it by polling
// at the same 1 ms cadence.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "common/debug_output_listener.h"
#include "bench_plugin.h"
#include "qriplugn.h"

namespace {

using qribench::kInstallerKey;

// ---- settings table, built before anything is measured -------------------

struct Settings {
    std::vector<std::string> store; // "section|key", then the value
    std::unordered_map<std::string_view, const std::string *> values;

    void Set(const std::string &section, const std::string &key, const std::string &value)
    {
        store.push_back(section + "|" + key);
        store.push_back(value);
    }
    void Index()
    {
        for (std::size_t i = 0; i + 1 < store.size(); i += 2)
            values[store[i]] = &store[i + 1];
    }
};

struct Read {
    std::string section;
    std::string key;
    int valueKind;
    unsigned long capacity;
};

Settings *g_settings = nullptr;
std::vector<Read> *g_recording = nullptr;

int RXPLUGIN_CALLBACK TableReader(void *, unsigned long, const char *section, const char *key, void *buffer,
                                  int valueKind, unsigned long *size)
{
    if (g_recording != nullptr)
        g_recording->push_back({section, key, valueKind, *size});
    char name[2048];
    int length = std::snprintf(name, sizeof name, "%s|%s", section, key);
    if (length < 0 || static_cast<std::size_t>(length) >= sizeof name)
        return 0;
    auto found = g_settings->values.find(std::string_view(name, static_cast<std::size_t>(length)));
    if (found == g_settings->values.end())
        return 0;
    const std::string &value = *found->second;
    if (value.size() + 1 > *size)
        return 0;
    std::memcpy(buffer, value.c_str(), value.size() + 1);
    return 1;
}

Settings AutoUpdateTask(int sites)
{
    Settings settings;
    settings.Set("Task", "TaskType", "vkAutoUpdateTask");
    settings.Set("Task", "TaskName", "Benchmark task");
    const char *general[][2] = {
        {"bRenameExisting", "1"},   {"bRetrieveOnly", "0"},       {"bForceUpdate", "0"},
        {"bLogToFile", "1"},        {"bLimitSize", "1"},          {"bExecAfterUpdate", "0"},
        {"bUpdateIfNewEngine", "1"}, {"szLocalUnpackDir", "C:\\Temp\\Unpack\\"},
        {"szReplicationDirectory", ""}, {"szLogFileName", "C:\\Logs\\update.log"},
        {"uMaxKiloBytes", "512"},   {"bVerboseLogging", "0"},
    };
    for (auto &row : general)
        settings.Set("AutoUpdate General", row[0], row[1]);
    settings.Set("AutoUpdate Sites General", "uNumberOfSites", std::to_string(sites));
    for (int site = 1; site <= sites; ++site) {
        std::string section = "AutoUpdate Update Site" + std::to_string(site);
        settings.Set(section, "bSiteEnabled", "1");
        settings.Set(section, "uUpdateFrom", "2");
        settings.Set(section, "szSiteName", "Mirror " + std::to_string(site));
        settings.Set(section, "szFTPLocation", "mirror" + std::to_string(site) + "\\pub\\updates\\");
        settings.Set(section, "bAnonymousLogin", "0");
        settings.Set(section, "szFTPUsername", "updater");
        settings.Set(section, "szFTPPassword", "secret");
        settings.Set(section, "bProxy", "1");
        settings.Set(section, "szProxy", "proxyhost");
        settings.Set(section, "dwProxyPort", "8080");
    }
    settings.Index();
    return settings;
}

// ---- the installation ----------------------------------------------------

struct Installation {
    std::string directory;
    std::string engine;
    std::string generic;
};

bool SetInstallerDirectory(const std::string &directory)
{
    HKEY key = nullptr;
    if (RegCreateKeyA(HKEY_LOCAL_MACHINE, kInstallerKey, &key) != ERROR_SUCCESS)
        return false;
    LONG status = RegSetValueExA(key, "Installation Directory", 0, REG_SZ,
                                 reinterpret_cast<const BYTE *>(directory.c_str()),
                                 static_cast<DWORD>(directory.size() + 1));
    RegCloseKey(key);
    return status == ERROR_SUCCESS;
}

bool Prepare(Installation &installation)
{
    char temp[MAX_PATH] = {};
    GetTempPathA(sizeof temp, temp);
    std::string base = std::string(temp) + "qribench";
    CreateDirectoryA(base.c_str(), nullptr);
    installation.directory = base + "\\Installer";
    CreateDirectoryA(installation.directory.c_str(), nullptr);
    installation.engine = installation.directory + "\\QRI.exe";
    installation.generic = installation.directory + "\\AutoUpdate.gen";
    DeleteFileA(installation.engine.c_str());
    FILE *generic = std::fopen(installation.generic.c_str(), "wb");
    if (generic == nullptr)
        return false;
    for (int line = 0; line < 40; ++line)
        std::fprintf(generic, "; generic AutoUpdate script, line %d of the engine's own part\r\n", line);
    std::fclose(generic);
    return SetInstallerDirectory(installation.directory);
}

void RemoveScripts(const Installation &installation)
{
    qribench::RemoveScripts(installation.directory);
}

std::string NewestScript(const Installation &installation)
{
    WIN32_FIND_DATAA entry;
    HANDLE search = FindFirstFileA((installation.directory + "\\UPD*.tmp").c_str(), &entry);
    if (search == INVALID_HANDLE_VALUE)
        return "";
    std::string name = installation.directory + "\\" + entry.cFileName;
    FindClose(search);
    return name;
}

std::string ReadAll(const std::string &path)
{
    std::string bytes;
    FILE *in = std::fopen(path.c_str(), "rb");
    if (in == nullptr)
        return bytes;
    char chunk[65536];
    std::size_t got;
    while ((got = std::fread(chunk, 1, sizeof chunk, in)) > 0)
        bytes.append(chunk, got);
    std::fclose(in);
    return bytes;
}

// ---- timing ----------------------------------------------------------------

double Now()
{
    static LARGE_INTEGER frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return f;
    }();
    LARGE_INTEGER counter;
    QueryPerformanceCounter(&counter);
    return static_cast<double>(counter.QuadPart) * 1000.0 / static_cast<double>(frequency.QuadPart);
}

double Median(std::vector<double> samples)
{
    std::sort(samples.begin(), samples.end());
    std::size_t n = samples.size();
    return n % 2 ? samples[n / 2] : (samples[n / 2 - 1] + samples[n / 2]) / 2;
}

// ---- contenders --------------------------------------------------------------

struct Case {
    Settings settings;
    std::vector<Read> reads;
    std::string appended; // the bytes the DLL appended to the generic script
};

PFN_RXPLUGIN_EnforceTask g_enforceTask = nullptr;
PFN_RXPLUGIN_GetTaskStatus g_getTaskStatus = nullptr;
PFN_RXPLUGIN_FreeCookie g_freeCookie = nullptr;
int g_taskData = 0;

// Through the DLL; with an engine installed, waits for it as an agent polls.
double RunDll(Case &c, bool waitForEngine)
{
    g_settings = &c.settings;
    RXPLUGIN_TaskCookie cookie = nullptr;
    double start = Now();
    g_enforceTask(&g_taskData, sizeof g_taskData, TableReader, &cookie);
    if (waitForEngine && cookie != nullptr) {
        while (g_getTaskStatus(cookie) == 0)
            Sleep(1);
    }
    double elapsed = Now() - start;
    if (cookie != nullptr)
        g_freeCookie(cookie);
    return elapsed;
}

// The reads that the DLL made, made again in the same order.
void ReplayReads(Case &c)
{
    g_settings = &c.settings;
    char buffer[1024];
    for (const Read &read : c.reads) {
        unsigned long size = read.capacity;
        TableReader(&g_taskData, sizeof g_taskData, read.section.c_str(), read.key.c_str(), buffer, read.valueKind,
                    &size);
    }
}

double RunReads(Case &c)
{
    double start = Now();
    ReplayReads(c);
    return Now() - start;
}

double RunLimit(Case &c, const Installation &installation, bool waitForEngine)
{
    double start = Now();
    ReplayReads(c);
    char script[MAX_PATH] = {};
    GetTempFileNameA(installation.directory.c_str(), "UPD", 0, script);
    CopyFileA(installation.generic.c_str(), script, FALSE);
    HANDLE file = CreateFileA(script, FILE_APPEND_DATA, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    DWORD written = 0;
    WriteFile(file, c.appended.data(), static_cast<DWORD>(c.appended.size()), &written, nullptr);
    CloseHandle(file);
    std::string commandLine = installation.engine + " /SCRIPT \"" + script + "\"";
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (CreateProcessA(installation.engine.c_str(), &commandLine[0], nullptr, nullptr, TRUE, 0, nullptr,
                       installation.directory.c_str(), &startup, &process)) {
        DWORD code = STILL_ACTIVE;
        while (waitForEngine && GetExitCodeProcess(process.hProcess, &code) && code == STILL_ACTIVE)
            Sleep(1);
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
    }
    return Now() - start;
}

// One DLL run that records the reads and the appended bytes.
bool Calibrate(Case &c, const Installation &installation)
{
    RemoveScripts(installation);
    std::vector<Read> reads;
    g_recording = &reads;
    RunDll(c, false);
    g_recording = nullptr;
    std::string script = NewestScript(installation);
    std::string bytes = ReadAll(script);
    std::string generic = ReadAll(installation.generic);
    RemoveScripts(installation);
    if (script.empty() || bytes.compare(0, generic.size(), generic) != 0)
        return false;
    c.reads = std::move(reads);
    c.appended = bytes.substr(generic.size());
    return true;
}

struct Figures {
    double dll = 0, limit = 0, reads = 0, listened = 0;
};

std::size_t g_messages = 0;

void CountMessage(DWORD processId, const char *, void *)
{
    if (processId == GetCurrentProcessId())
        ++g_messages;
}

Figures Measure(Case &c, const Installation &installation, int rounds, bool waitForEngine, bool withListener)
{
    std::vector<double> dll, limit, reads, listened;
    for (int round = 0; round < rounds; ++round) {
        dll.push_back(RunDll(c, waitForEngine));
        RemoveScripts(installation);
        limit.push_back(RunLimit(c, installation, waitForEngine));
        RemoveScripts(installation);
        reads.push_back(RunReads(c));
        if (withListener && round < 5) {
            qritools::DebugOutputListener *listener = qritools::StartDebugOutputListener(CountMessage, nullptr, nullptr);
            if (listener != nullptr) {
                listened.push_back(RunDll(c, waitForEngine));
                qritools::StopDebugOutputListener(listener);
            }
            RemoveScripts(installation);
        }
    }
    Figures figures;
    figures.dll = Median(dll);
    figures.limit = Median(limit);
    figures.reads = Median(reads);
    figures.listened = listened.empty() ? 0 : Median(listened);
    return figures;
}

} // namespace

int main(int argc, char **argv)
{
    const char *build = argc > 1 ? argv[1] : "this";
    std::string bin = qribench::ProgramFolder();
    HMODULE dll = qribench::LoadPlugin("qribench", bin);
    if (dll == nullptr)
        return 1;
    g_enforceTask = qribench::Export<PFN_RXPLUGIN_EnforceTask>(dll, "RXPLUGIN_EnforceTask");
    g_getTaskStatus = qribench::Export<PFN_RXPLUGIN_GetTaskStatus>(dll, "RXPLUGIN_GetTaskStatus");
    g_freeCookie = qribench::Export<PFN_RXPLUGIN_FreeCookie>(dll, "RXPLUGIN_FreeCookie");
    Installation installation;
    if (!g_enforceTask || !g_getTaskStatus || !g_freeCookie || !Prepare(installation)) {
        std::printf("qribench: cannot prepare the installation\n");
        return 1;
    }

    Case small{AutoUpdateTask(1000), {}, {}};
    Case large{AutoUpdateTask(10000), {}, {}};
    Case typical{AutoUpdateTask(10), {}, {}};
    Case none{AutoUpdateTask(0), {}, {}};
    if (!Calibrate(small, installation) || !Calibrate(large, installation) || !Calibrate(typical, installation) ||
        !Calibrate(none, installation)) {
        std::printf("qribench: the DLL wrote no script to compare with\n");
        return 1;
    }

    std::printf("qribench: the %s build; AutoUpdate task, every FTP-site setting present; medians in ms\n", build);
    Figures at1k = Measure(small, installation, 21, false, true);
    std::size_t messages1k = g_messages / 5;
    Figures at10k = Measure(large, installation, 7, false, false);
    Figures at0 = Measure(none, installation, 21, false, false);

    // The engine for the end-to-end case: the stand-in, which exits at once.
    CopyFileA((bin + "\\standin_engine.exe").c_str(), installation.engine.c_str(), FALSE);
    Figures endToEnd = Measure(typical, installation, 21, true, false);
    DeleteFileA(installation.engine.c_str());
    DeleteFileA((installation.engine + ".seen").c_str());
    RemoveScripts(installation);

    double generation = at1k.dll / at1k.limit;
    double growth = (at10k.dll / at10k.limit) / generation;
    double enforceTask = endToEnd.dll / endToEnd.limit;
    std::printf("\n%-44s %10s %10s %10s %8s\n", "", "DLL", "limit", "reads", "ratio");
    std::printf("%-44s %10.2f %10.2f %10.2f %8.2f\n", "generation, 1,000 sites (nobody listening)", at1k.dll,
                at1k.limit, at1k.reads, generation);
    std::printf("%-44s %10.2f %10.2f %10.2f %8.2f\n", "generation, 10,000 sites (nobody listening)", at10k.dll,
                at10k.limit, at10k.reads, at10k.dll / at10k.limit);
    std::printf("%-44s %10.2f %10.2f %10.2f %8.2f\n", "generation, no site (what every call costs)", at0.dll,
                at0.limit, at0.reads, at0.dll / at0.limit);
    std::printf("%-44s %10.2f %10.2f %10.2f %8.2f\n", "enforce task end to end, 10 sites", endToEnd.dll,
                endToEnd.limit, endToEnd.reads, enforceTask);
    std::printf("%-44s %10.2f %10s %10s %8.2f\n", "generation, 1,000 sites, a viewer listening", at1k.listened, "",
                "", at1k.listened / at1k.limit);
    std::printf("  %zu reader calls and %zu script bytes at 1,000 sites; %zu trace messages a viewer receives\n",
                small.reads.size(), small.appended.size(), messages1k);
    std::printf("  growth: the 10,000-site ratio over the 1,000-site ratio\n\n");
    std::printf("ratios: generation=%.2f growth=%.2f enforce-task=%.2f\n", generation, growth, enforceTask);
    FreeLibrary(dll);
    return 0;
}
