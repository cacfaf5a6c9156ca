// A minimal management agent: lays out a demo installation (installer
// directory, generic scripts, the stand-in engine, the installer registry
// key), loads QRIPLUGN.dll from beside itself and drives every export once,
// printing what the plug-in reported and the scripts it wrote.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "qriplugn.h"

namespace {

constexpr const char kInstallerKey[] = "SOFTWARE\\Quorvane\\ZDR\\Shared Components\\QRI_FW";
constexpr const char kDemoDirectory[] = "C:\\QRIDemo\\Installer";

struct Setting {
    const char *section;
    const char *key;
    const char *value;
};

// The settings of one AutoUpdate task.
const Setting kTaskSettings[] = {
    {"Task", "TaskType", "vkAutoUpdateTask"},
    {"Task", "TaskName", "Nightly update"},
    {"AutoUpdate General", "bRenameExisting", "1"},
    {"AutoUpdate General", "bRetrieveOnly", "0"},
    {"AutoUpdate General", "bForceUpdate", "0"},
    {"AutoUpdate General", "bLogToFile", "1"},
    {"AutoUpdate General", "bExecAfterUpdate", "0"},
    {"AutoUpdate General", "bUpdateIfNewEngine", "1"},
    {"AutoUpdate General", "szLocalUnpackDir", "C:\\Temp\\Unpack\\"},
    {"AutoUpdate General", "szReplicationDirectory", ""},
    {"AutoUpdate General", "szLogFileName", "C:\\Logs\\update.log"},
    {"AutoUpdate General", "uMaxKiloBytes", "512"},
    {"AutoUpdate General", "bVerboseLogging", "0"},
    {"AutoUpdate Sites General", "uNumberOfSites", "2"},
    {"AutoUpdate Update Site1", "bSiteEnabled", "1"},
    {"AutoUpdate Update Site1", "uUpdateFrom", "2"},
    {"AutoUpdate Update Site1", "szSiteName", "Main mirror"},
    {"AutoUpdate Update Site1", "szFTPLocation", "mirrorhost\\pub\\updates\\"},
    {"AutoUpdate Update Site1", "bAnonymousLogin", "0"},
    {"AutoUpdate Update Site1", "szFTPUsername", "updater"},
    {"AutoUpdate Update Site1", "bProxy", "1"},
    {"AutoUpdate Update Site1", "szProxy", "proxyhost"},
    {"AutoUpdate Update Site1", "dwProxyPort", "800"},
    {"AutoUpdate Update Site2", "bSiteEnabled", "1"},
    {"AutoUpdate Update Site2", "uUpdateFrom", "1"},
    {"AutoUpdate Update Site2", "szSiteName", "Branch share"},
    {"AutoUpdate Update Site2", "szUNCLocation", "\\\\fileserver\\updates\\current\\"},
    {"AutoUpdate Update Site2", "bAnonymousLogin", "0"},
    {"AutoUpdate Update Site2", "szFTPUsername", "updater"},
    {"AutoUpdate Update Site2", "szRunAsDomain", "OFFICE"},
};

// The product's policy (and the agent's own reboot settings).
const Setting kPolicySettings[] = {
    {"Master General", "bLogToFile", "1"},
    {"Master General", "szLogFileName", "C:\\Logs\\master.log"},
    {"MSI General", "bForceUpdate", "1"},
    {"MSI Sites General", "uNumberOfSites", "1"},
    {"MSI Update Site1", "bSiteEnabled", "1"},
    {"MSI Update Site1", "uUpdateFrom", "1"},
    {"MSI Update Site1", "szSiteName", "Local depot"},
    {"MSI Update Site1", "szUNCLocation", "D:\\updates\\"},
    {"MSI Update Site1", "bAnonymousLogin", "1"},
    {"Fenwa Sites General", "uNumberOfSites", "0"},
    {"General", "ShowRebootUI", "1"},
    {"General", "RebootTimeOut", "300"},
};

template <std::size_t N>
int Answer(const Setting (&table)[N], const char *section, const char *key, void *buffer, int valueKind,
           unsigned long *size)
{
    for (const Setting &setting : table) {
        if (std::strcmp(setting.section, section) != 0 || std::strcmp(setting.key, key) != 0)
            continue;
        if (valueKind == RXPLUGIN_VALUE_NUMBER) {
            unsigned long number = std::strtoul(setting.value, nullptr, 10);
            std::memcpy(buffer, &number, 4);
        } else {
            std::snprintf(static_cast<char *>(buffer), *size, "%s", setting.value);
        }
        return 1;
    }
    return 0;
}

int RXPLUGIN_CALLBACK TaskReader(void *, unsigned long, const char *section, const char *key, void *buffer,
                                 int valueKind, unsigned long *size)
{
    return Answer(kTaskSettings, section, key, buffer, valueKind, size);
}

int RXPLUGIN_CALLBACK PolicyReader(const char *, const char *section, const char *key, void *buffer, int valueKind,
                                   unsigned long *size)
{
    return Answer(kPolicySettings, section, key, buffer, valueKind, size);
}

int RXPLUGIN_CALLBACK PrintProperty(void *, const char *section, const char *name, const void *data, int valueKind,
                                    unsigned long dataSize)
{
    if (valueKind == RXPLUGIN_VALUE_TEXT)
        std::printf("  [%s] %s = \"%s\" (%lu bytes)\n", section, name, static_cast<const char *>(data), dataSize);
    else
        std::printf("  [%s] %s = %lu\n", section, name, *static_cast<const unsigned long *>(data));
    return 1;
}

void WriteFile(const std::string &path, const std::string &text)
{
    if (FILE *out = std::fopen(path.c_str(), "wb")) {
        std::fwrite(text.data(), 1, text.size(), out);
        std::fclose(out);
    }
}

std::string ReadFile(const std::string &path)
{
    std::string text;
    if (FILE *in = std::fopen(path.c_str(), "rb")) {
        char chunk[4096];
        std::size_t got;
        while ((got = std::fread(chunk, 1, sizeof chunk, in)) > 0)
            text.append(chunk, got);
        std::fclose(in);
    }
    return text;
}

std::string OwnDirectory()
{
    char path[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, path, sizeof path - 1);
    std::string directory = path;
    return directory.substr(0, directory.find_last_of('\\'));
}

void SetText(HKEY key, const char *name, const char *value)
{
    RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE *>(value), static_cast<DWORD>(std::strlen(value) + 1));
}

// Scripts of earlier demo runs are cleared so that each run starts alike.
void RemoveOldScripts(const std::string &directory)
{
    WIN32_FIND_DATAA entry;
    HANDLE search = FindFirstFileA((directory + "\\*.tmp").c_str(), &entry);
    if (search == INVALID_HANDLE_VALUE)
        return;
    do {
        DeleteFileA((directory + "\\" + entry.cFileName).c_str());
    } while (FindNextFileA(search, &entry));
    FindClose(search);
}

bool PrepareInstallation()
{
    CreateDirectoryA("C:\\QRIDemo", nullptr);
    CreateDirectoryA(kDemoDirectory, nullptr);
    std::string directory = kDemoDirectory;
    RemoveOldScripts(directory);
    for (const char *module : {"Master", "MSI", "Fenwa", "AutoUpdate", "Replicate"})
        WriteFile(directory + "\\" + module + ".gen", std::string("; generic ") + module + " script\r\n[Script]\r\n");
    std::string engine = directory + "\\QRI.exe";
    if (!CopyFileA((OwnDirectory() + "\\standin_engine.exe").c_str(), engine.c_str(), FALSE)) {
        std::printf("cannot install the stand-in engine as %s\n", engine.c_str());
        return false;
    }
    WriteFile(engine + ".mode", "exit 0");

    RegDeleteTreeA(HKEY_LOCAL_MACHINE, kInstallerKey);
    HKEY key = nullptr;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, kInstallerKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr) !=
        ERROR_SUCCESS) {
        std::printf("cannot create HKLM\\%s\n", kInstallerKey);
        return false;
    }
    SetText(key, "Installation Directory", kDemoDirectory);
    SetText(key, "Product Name", "ZDR Shared Components");
    SetText(key, "szProductVer", "1.0.0");
    SetText(key, "Language", "0409");
    SetText(key, "Base:Engine", "QRI.exe");
    SetText(key, "Base:Master", "Master.gen");
    SetText(key, "MSI_Installer_Run", "1");
    SetText(key, "Universal_Uninstaller_Run", "1");
    SetText(key, "OAS_Installer_Run", "0");
    RegCloseKey(key);
    return true;
}

// The script path is the quoted part of the engine's command line.
std::string ScriptFromEngineRecord()
{
    std::string record = ReadFile(std::string(kDemoDirectory) + "\\QRI.exe.seen");
    std::size_t open = record.find('"');
    std::size_t close = record.find('"', open + 1);
    if (open == std::string::npos || close == std::string::npos)
        return "";
    return record.substr(open + 1, close - open - 1);
}

void ShowEngineRun(const char *what)
{
    std::string record = ReadFile(std::string(kDemoDirectory) + "\\QRI.exe.seen");
    std::printf("\n%s: the installer engine saw\n%s", what, record.c_str());
    std::string script = ScriptFromEngineRecord();
    std::printf("\n--- %s ---\n%s\n--- end of script ---\n", script.c_str(), ReadFile(script).c_str());
}

template <class T>
T Resolve(HMODULE module, const char *name)
{
    return reinterpret_cast<T>(reinterpret_cast<void *>(GetProcAddress(module, name)));
}

} // namespace

int main()
{
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    if (!PrepareInstallation())
        return 1;
    std::printf("Demo installation in %s, registered under HKLM\\%s\n", kDemoDirectory, kInstallerKey);

    HMODULE plugin = LoadLibraryA((OwnDirectory() + "\\QRIPLUGN.dll").c_str());
    if (plugin == nullptr) {
        std::printf("cannot load QRIPLUGN.dll (error %lu)\n", GetLastError());
        return 1;
    }
    auto getProperties = Resolve<PFN_RXPLUGIN_GetProperties>(plugin, "RXPLUGIN_GetProperties");
    auto isInstalled = Resolve<PFN_RXPLUGIN_IsSoftwareInstalled>(plugin, "RXPLUGIN_IsSoftwareInstalled");
    auto enforceTask = Resolve<PFN_RXPLUGIN_EnforceTask>(plugin, "RXPLUGIN_EnforceTask");
    auto taskStatus = Resolve<PFN_RXPLUGIN_GetTaskStatus>(plugin, "RXPLUGIN_GetTaskStatus");
    auto freeCookie = Resolve<PFN_RXPLUGIN_FreeCookie>(plugin, "RXPLUGIN_FreeCookie");
    auto enforcePolicy = Resolve<PFN_RXPLUGIN_EnforcePolicy>(plugin, "RXPLUGIN_EnforcePolicy");

    std::printf("\nRXPLUGIN_GetProperties:\n");
    int context = 0;
    std::printf("  result %d\n", getProperties(&context, PrintProperty));
    std::printf("\nRXPLUGIN_IsSoftwareInstalled: %d\n", isInstalled());

    int taskData = 0;
    RXPLUGIN_TaskCookie cookie = nullptr;
    int result = enforceTask(&taskData, sizeof taskData, TaskReader, &cookie);
    std::printf("\nRXPLUGIN_EnforceTask (AutoUpdate task): result %d, cookie %s\n", result,
                cookie != nullptr ? "stored" : "not stored");
    if (cookie != nullptr) {
        for (int tries = 0; tries < 500 && taskStatus(cookie) == 0; ++tries)
            Sleep(20);
        std::printf("RXPLUGIN_GetTaskStatus: %d (the engine has ended)\n", taskStatus(cookie));
        freeCookie(cookie);
        ShowEngineRun("AutoUpdate task");
    }

    result = enforcePolicy("DEMO1000", PolicyReader);
    std::printf("\nRXPLUGIN_EnforcePolicy: result %d\n", result);
    HKEY key = nullptr;
    DWORD handleValue = 0;
    DWORD size = sizeof handleValue;
    if (RegOpenKeyA(HKEY_LOCAL_MACHINE, kInstallerKey, &key) == ERROR_SUCCESS) {
        RegQueryValueExA(key, "dwProcessHandle", nullptr, nullptr, reinterpret_cast<BYTE *>(&handleValue), &size);
        RegCloseKey(key);
    }
    std::printf("dwProcessHandle = 0x%lx\n", handleValue);
    if (handleValue != 0) {
        // The stored value is a handle of this process: wait for that engine.
        WaitForSingleObject(reinterpret_cast<HANDLE>(static_cast<ULONG_PTR>(handleValue)), 10000);
        ShowEngineRun("Policy enforcement");
    }
    FreeLibrary(plugin);
    return 0;
}
