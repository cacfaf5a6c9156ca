// qrisoak: many enforcements in one process, to show that nothing piles up.
// 20,000 task enforcements (cookie freed once the engine has ended) and
// 5,000 policy enforcements (the engine waited for, so that the next one
// resets and closes the stored handle), interleaved four to one. The
// process's handle count and private bytes are printed at the start, after
// 10 % and at the end; the exit status is 1 when either grew after the first
// 10 % by more than its allowance (README, "Soak").
#include <windows.h>

#include <psapi.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "bench_plugin.h"
#include "qriplugn.h"

namespace {

using qribench::kInstallerKey;
constexpr int kSteps = 5000;      // each: four task enforcements and one policy enforcement
constexpr int kTasksPerStep = 4;
constexpr int kCleanEvery = 100;  // steps between removals of the scripts made
// What "flat" allows after the first 10 %.
constexpr long kHandleAllowance = 8;
constexpr long long kPrivateBytesAllowance = 1024 * 1024;

PFN_RXPLUGIN_EnforceTask g_enforceTask;
PFN_RXPLUGIN_EnforcePolicy g_enforcePolicy;
PFN_RXPLUGIN_GetTaskStatus g_getTaskStatus;
PFN_RXPLUGIN_FreeCookie g_freeCookie;

// One FTP site and every general option: a script of the usual kind.
int Answer(const char *section, const char *key, void *buffer, unsigned long *size)
{
    struct Setting {
        const char *section; // "*" matches every section
        const char *key;
        const char *value;
    };
    static const Setting kSettings[] = {
        {"Task", "TaskType", "vkAutoUpdateTask"},
        {"Task", "TaskName", "Soak task"},
        {"*", "uNumberOfSites", "1"},
        {"*", "bSiteEnabled", "1"},
        {"*", "uUpdateFrom", "2"},
        {"*", "szSiteName", "Mirror"},
        {"*", "szFTPLocation", "mirror\\pub\\updates\\"},
        {"*", "szFTPUsername", "updater"},
        {"*", "szFTPPassword", "secret"},
        {"*", "bProxy", "1"},
        {"*", "szProxy", "proxyhost"},
        {"*", "dwProxyPort", "8080"},
        {"*", "bLogToFile", "1"},
        {"*", "szLogFileName", "C:\\Logs\\update.log"},
        {"*", "uMaxKiloBytes", "512"},
    };
    for (const Setting &setting : kSettings) {
        if ((std::strcmp(setting.section, "*") != 0 && std::strcmp(setting.section, section) != 0) ||
            std::strcmp(setting.key, key) != 0)
            continue;
        std::size_t length = std::strlen(setting.value);
        if (length + 1 > *size)
            return 0;
        std::memcpy(buffer, setting.value, length + 1);
        return 1;
    }
    return 0;
}

int RXPLUGIN_CALLBACK TaskReader(void *, unsigned long, const char *section, const char *key, void *buffer, int,
                                 unsigned long *size)
{
    return Answer(section, key, buffer, size);
}

int RXPLUGIN_CALLBACK PolicyReader(const char *, const char *section, const char *key, void *buffer, int,
                                   unsigned long *size)
{
    return Answer(section, key, buffer, size);
}

struct Installation {
    std::string directory;
};

bool SetText(HKEY key, const char *name, const std::string &text)
{
    return RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE *>(text.c_str()),
                          static_cast<DWORD>(text.size() + 1)) == ERROR_SUCCESS;
}

bool Prepare(Installation &installation, const std::string &bin)
{
    char temp[MAX_PATH] = {};
    GetTempPathA(sizeof temp, temp);
    std::string base = std::string(temp) + "qrisoak";
    CreateDirectoryA(base.c_str(), nullptr);
    installation.directory = base + "\\Installer";
    CreateDirectoryA(installation.directory.c_str(), nullptr);
    for (const char *module : {"Master", "MSI", "Fenwa", "AutoUpdate"}) {
        FILE *generic = std::fopen((installation.directory + "\\" + module + ".gen").c_str(), "wb");
        if (generic == nullptr)
            return false;
        std::fprintf(generic, "; generic %s script\r\n", module);
        std::fclose(generic);
    }
    if (!CopyFileA((bin + "\\standin_engine.exe").c_str(), (installation.directory + "\\QRI.exe").c_str(), FALSE))
        return false;
    HKEY key = nullptr;
    if (RegCreateKeyA(HKEY_LOCAL_MACHINE, kInstallerKey, &key) != ERROR_SUCCESS)
        return false;
    bool written = SetText(key, "Installation Directory", installation.directory) &&
                   SetText(key, "MSI_Installer_Run", "1") && SetText(key, "Universal_Uninstaller_Run", "1") &&
                   SetText(key, "OAS_Installer_Run", "0");
    RegDeleteValueA(key, "dwProcessHandle");
    RegCloseKey(key);
    return written;
}

void RemoveScripts(const Installation &installation)
{
    qribench::RemoveScripts(installation.directory);
}

// ---- what is measured --------------------------------------------------------

// Where the system does not report a figure (Wine gives 0 for both), it is
// counted instead: the handle values in use, and the committed private pages.
struct Sample {
    DWORD reportedHandles = 0; // GetProcessHandleCount
    long probedHandles = 0;    // handle values that GetHandleInformation accepts
    long long reportedBytes = 0; // PrivateUsage of GetProcessMemoryInfo
    long long walkedBytes = 0;   // committed MEM_PRIVATE regions, by VirtualQuery
    long Handles() const { return reportedHandles != 0 ? static_cast<long>(reportedHandles) : probedHandles; }
    long long PrivateBytes() const { return reportedBytes != 0 ? reportedBytes : walkedBytes; }
};

Sample Measure()
{
    Sample sample;
    GetProcessHandleCount(GetCurrentProcess(), &sample.reportedHandles);
    // Handle values are multiples of 4, the lowest free one given out first.
    for (ULONG_PTR value = 4; value < 0x40000; value += 4) {
        DWORD flags = 0;
        if (GetHandleInformation(reinterpret_cast<HANDLE>(value), &flags))
            ++sample.probedHandles;
    }
    PROCESS_MEMORY_COUNTERS_EX counters = {};
    counters.cb = sizeof counters;
    if (GetProcessMemoryInfo(GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS *>(&counters),
                             sizeof counters))
        sample.reportedBytes = static_cast<long long>(counters.PrivateUsage);
    MEMORY_BASIC_INFORMATION region;
    for (const char *address = nullptr;
         VirtualQuery(address, &region, sizeof region) == sizeof region && region.RegionSize != 0;
         address = static_cast<const char *>(region.BaseAddress) + region.RegionSize) {
        if (region.State == MEM_COMMIT && region.Type == MEM_PRIVATE)
            sample.walkedBytes += static_cast<long long>(region.RegionSize);
    }
    return sample;
}

void Print(const char *when, int tasks, int policies, const Sample &sample)
{
    std::printf("%-11s %5d tasks %4d policies: handles %4ld (reported %lu, counted %ld),"
                " private bytes %9lld (reported %lld, counted %lld)\n",
                when, tasks, policies, sample.Handles(), static_cast<unsigned long>(sample.reportedHandles),
                sample.probedHandles, sample.PrivateBytes(), sample.reportedBytes, sample.walkedBytes);
    std::fflush(stdout);
}

// ---- the enforcements --------------------------------------------------------

int g_taskData = 0;

bool EnforceTask()
{
    RXPLUGIN_TaskCookie cookie = nullptr;
    g_enforceTask(&g_taskData, sizeof g_taskData, TaskReader, &cookie);
    if (cookie == nullptr)
        return false;
    while (g_getTaskStatus(cookie) == 0)
        Sleep(1);
    g_freeCookie(cookie);
    return true;
}

// The engine that the enforcement started, waited for through the stored
// handle value, which is a handle of this process.
bool EnforcePolicy()
{
    if (g_enforcePolicy("QRISOAK", PolicyReader) != 1)
        return false;
    HKEY key = nullptr;
    DWORD stored = 0;
    DWORD size = sizeof stored;
    if (RegOpenKeyA(HKEY_LOCAL_MACHINE, kInstallerKey, &key) != ERROR_SUCCESS)
        return false;
    LONG status = RegQueryValueExA(key, "dwProcessHandle", nullptr, nullptr, reinterpret_cast<BYTE *>(&stored), &size);
    RegCloseKey(key);
    if (status != ERROR_SUCCESS || stored == 0)
        return false;
    return WaitForSingleObject(reinterpret_cast<HANDLE>(static_cast<ULONG_PTR>(stored)), 60000) == WAIT_OBJECT_0;
}

} // namespace

int main(int argc, char **argv)
{
    const char *build = argc > 1 ? argv[1] : "this";
    std::string bin = qribench::ProgramFolder();
    HMODULE dll = qribench::LoadPlugin("qrisoak", bin);
    if (dll == nullptr)
        return 2;
    g_enforceTask = qribench::Export<PFN_RXPLUGIN_EnforceTask>(dll, "RXPLUGIN_EnforceTask");
    g_enforcePolicy = qribench::Export<PFN_RXPLUGIN_EnforcePolicy>(dll, "RXPLUGIN_EnforcePolicy");
    g_getTaskStatus = qribench::Export<PFN_RXPLUGIN_GetTaskStatus>(dll, "RXPLUGIN_GetTaskStatus");
    g_freeCookie = qribench::Export<PFN_RXPLUGIN_FreeCookie>(dll, "RXPLUGIN_FreeCookie");
    Installation installation;
    if (!g_enforceTask || !g_enforcePolicy || !g_getTaskStatus || !g_freeCookie || !Prepare(installation, bin)) {
        std::printf("qrisoak: cannot prepare the installation\n");
        return 2;
    }

    std::printf("qrisoak: the %s build; %d task and %d policy enforcements, the stand-in engine run by each\n",
                build, kSteps * kTasksPerStep, kSteps);
    Sample start = Measure();
    Print("start", 0, 0, start);
    Sample settled;
    int failed = 0;
    for (int step = 1; step <= kSteps; ++step) {
        for (int task = 0; task < kTasksPerStep; ++task)
            failed += EnforceTask() ? 0 : 1;
        failed += EnforcePolicy() ? 0 : 1;
        if (step % kCleanEvery == 0)
            RemoveScripts(installation);
        if (step == kSteps / 10) {
            settled = Measure();
            Print("after 10 %", step * kTasksPerStep, step, settled);
        }
    }
    Sample end = Measure();
    Print("end", kSteps * kTasksPerStep, kSteps, end);
    RemoveScripts(installation);
    FreeLibrary(dll);

    long handleGrowth = end.Handles() - settled.Handles();
    long long byteGrowth = end.PrivateBytes() - settled.PrivateBytes();
    bool flat = handleGrowth <= kHandleAllowance && byteGrowth <= kPrivateBytesAllowance;
    std::printf("after the first 10 %%: handles %+ld (allowed %+ld), private bytes %+lld (allowed %+lld)\n",
                handleGrowth, kHandleAllowance, byteGrowth, kPrivateBytesAllowance);
    if (failed != 0)
        std::printf("%d enforcements did not run the engine\n", failed);
    std::printf("soak: %s\n", flat && failed == 0 ? "flat" : "NOT flat");
    return flat && failed == 0 ? 0 : 1;
}
