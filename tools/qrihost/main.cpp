// qrihost: the reference management agent. Loads QRIPLUGN.dll, answers its
// readers from INI files, shows its trace live from the debug-output channel
// and runs one export per subcommand. Built against the ABI header alone.
#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "common/debug_output_listener.h"
#include "qriplugn.h"
#include "settings.h"

namespace {

// Exit status, documented in the README and in the usage text.
enum ExitStatus {
    kDone = 0,          // the call did what was asked
    kResultZero = 1,    // the export answered 0 (or a task started no engine)
    kUsage = 2,         // bad command line
    kUnusableDll = 3,   // the DLL cannot be loaded or lacks an export
    kBadSettings = 4,   // a settings file is unreadable or malformed
    kStopped = 5,       // a wait ended by time-out or Ctrl+C
    kSetupFailed = 6,   // demo-setup could not lay out the installation
};

constexpr const char kInstallerKey[] = "SOFTWARE\\Quorvane\\ZDR\\Shared Components\\QRI_FW";
constexpr const char kDefaultDemoDirectory[] = "C:\\QRIDemo\\Installer";
constexpr const char kTracePrefix[] = "trace| ";
constexpr DWORD kPollMs = 100;
constexpr std::size_t kLongestScriptShown = 64 * 1024;

const char kUsageText[] =
    "usage: qrihost [--dll PATH] [--quiet] [--show-scripts] COMMAND [ARGS]\n"
    "\n"
    "commands:\n"
    "  properties                      the installed product's properties (RXPLUGIN_GetProperties)\n"
    "  installed                       whether the base files are present (RXPLUGIN_IsSoftwareInstalled)\n"
    "  policy SOFTWARE_ID [--settings DIR] [--wait]\n"
    "                                  enforce DIR\\SOFTWARE_ID.ini (RXPLUGIN_EnforcePolicy)\n"
    "  task FILE.ini [--wait[=SECONDS]] run the task of FILE.ini (RXPLUGIN_EnforceTask)\n"
    "  demo-setup [DIR]                lay out a demo installation and its registry key\n"
    "\n"
    "  --dll PATH       QRIPLUGN.dll to load (default: beside qrihost.exe)\n"
    "  --quiet          do not show the plug-in's trace\n"
    "  --show-scripts   show the scripts the call created, path and text\n"
    "  COMMAND --help   help on one command\n"
    "\n"
    "exit status: 0 done, 1 the export answered 0, 2 usage error, 3 unusable DLL,\n"
    "             4 bad settings file, 5 wait stopped (time-out or Ctrl+C), 6 demo-setup failed\n";

const char kPropertiesHelp[] =
    "usage: qrihost [--dll PATH] [--quiet] properties\n"
    "\n"
    "Calls RXPLUGIN_GetProperties and prints every property the sink receives, in\n"
    "order, with its section, kind (text or number) and byte count.\n"
    "Exit 0 when the installer registry key was read, 1 when the export answered 0.\n";

const char kInstalledHelp[] =
    "usage: qrihost [--dll PATH] [--quiet] installed\n"
    "\n"
    "Calls RXPLUGIN_IsSoftwareInstalled and prints its answer in words.\n"
    "Exit 0 when every base file is present, 1 when the export answered 0.\n";

const char kPolicyHelp[] =
    "usage: qrihost [--dll PATH] [--quiet] [--show-scripts] policy SOFTWARE_ID [--settings DIR] [--wait]\n"
    "\n"
    "Calls RXPLUGIN_EnforcePolicy for SOFTWARE_ID with a reader that answers from\n"
    "DIR\\SOFTWARE_ID.ini (DIR defaults to the current directory). The reboot\n"
    "settings are read under the agent's own ID (Agent.ini beside qrihost.exe,\n"
    "section Agent, key SoftwareID, default oRXAgent1000) from DIR\\<that ID>.ini.\n"
    "  --settings DIR  the folder of the settings files\n"
    "  --wait          wait for the installer engine the enforcement started (the\n"
    "                  handle stored in dwProcessHandle) and print its exit code\n"
    "Exit 0 when the enforcement ran its course, 1 when it stopped early, 4 for a\n"
    "bad settings file, 5 when Ctrl+C ended the wait.\n";

const char kTaskHelp[] =
    "usage: qrihost [--dll PATH] [--quiet] [--show-scripts] task FILE.ini [--wait[=SECONDS]]\n"
    "\n"
    "Calls RXPLUGIN_EnforceTask with a reader that answers from FILE.ini (section\n"
    "Task, key TaskType vkAutoUpdateTask or vkMirrorSiteTask, and the module's\n"
    "sections). The task cookie is always freed.\n"
    "  --wait[=SECONDS]  poll RXPLUGIN_GetTaskStatus until the engine ends; after\n"
    "                    SECONDS, or on Ctrl+C, stop it with RXPLUGIN_StopTask\n"
    "Exit 0 when the engine was started (and, with --wait, ended), 1 when the export\n"
    "answered 0 or started no engine, 4 for a bad settings file, 5 when the task was\n"
    "stopped by the time-out or Ctrl+C.\n";

const char kDemoSetupHelp[] =
    "usage: qrihost demo-setup [DIR]\n"
    "\n"
    "Lays out a demo installation in DIR (default C:\\QRIDemo\\Installer): the five\n"
    "generic scripts, the stand-in engine (standin_engine.exe beside qrihost.exe)\n"
    "as QRI.exe (it runs for one second per start), and the installer registry key with Installation Directory, the\n"
    "product's properties, two base files and the installer run flags 1, 1, 0.\n"
    "Scripts of earlier runs (*.tmp) are removed. Exit 0 when done, 6 otherwise.\n";

// ---- output: the host's lines and the trace share stdout, one line at a time

CRITICAL_SECTION g_outputLock;
bool g_liveLineShown = false;
bool g_stdoutIsConsole = false;

void ClearLiveLineLocked()
{
    if (g_liveLineShown) {
        std::fputs("\r                                                                      \r", stdout);
        g_liveLineShown = false;
    }
}

void WriteV(FILE *stream, const char *format, va_list args)
{
    EnterCriticalSection(&g_outputLock);
    ClearLiveLineLocked();
    std::vfprintf(stream, format, args);
    std::fflush(stream);
    LeaveCriticalSection(&g_outputLock);
}

void Out(const char *format, ...) __attribute__((format(gnu_printf, 1, 2)));
void Out(const char *format, ...)
{
    va_list args;
    va_start(args, format);
    WriteV(stdout, format, args);
    va_end(args);
}

void Err(const char *format, ...) __attribute__((format(gnu_printf, 1, 2)));
void Err(const char *format, ...)
{
    va_list args;
    va_start(args, format);
    WriteV(stderr, format, args);
    va_end(args);
}

// A status line rewritten in place; only on a console, where \r works.
void ShowLiveLine(const char *text)
{
    if (!g_stdoutIsConsole)
        return;
    EnterCriticalSection(&g_outputLock);
    std::fprintf(stdout, "\r%-70.70s\r%s", "", text);
    std::fflush(stdout);
    g_liveLineShown = true;
    LeaveCriticalSection(&g_outputLock);
}

// One message of the debug-output channel: each of its lines with the
// prefix; line breaks at its ends are the plug-in's layout, not lines.
void PrintTrace(DWORD processId, const char *text, void *)
{
    if (processId != GetCurrentProcessId())
        return;
    std::string message = text;
    std::size_t begin = message.find_first_not_of("\r\n");
    if (begin == std::string::npos)
        return;
    std::size_t end = message.find_last_not_of("\r\n") + 1;
    message = message.substr(begin, end - begin);
    EnterCriticalSection(&g_outputLock);
    ClearLiveLineLocked();
    std::size_t at = 0;
    while (at <= message.size()) {
        std::size_t lineEnd = message.find('\n', at);
        if (lineEnd == std::string::npos)
            lineEnd = message.size();
        std::string line = message.substr(at, lineEnd - at);
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        std::fprintf(stdout, "%s%s\n", kTracePrefix, line.c_str());
        at = lineEnd + 1;
    }
    std::fflush(stdout);
    LeaveCriticalSection(&g_outputLock);
}

// ---- Ctrl+C during a wait

HANDLE g_interrupted = nullptr;

BOOL WINAPI OnConsoleControl(DWORD event)
{
    if (event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT) {
        SetEvent(g_interrupted);
        return TRUE;
    }
    return FALSE;
}

class CtrlCGuard {
public:
    CtrlCGuard() { SetConsoleCtrlHandler(OnConsoleControl, TRUE); }
    ~CtrlCGuard() { SetConsoleCtrlHandler(OnConsoleControl, FALSE); }
    CtrlCGuard(const CtrlCGuard &) = delete;
    CtrlCGuard &operator=(const CtrlCGuard &) = delete;
};

bool Interrupted()
{
    return WaitForSingleObject(g_interrupted, 0) == WAIT_OBJECT_0;
}

// ---- command line

struct Options {
    std::string command;
    std::vector<std::string> arguments;
    std::string dllPath;
    std::string settingsDir;
    bool settingsGiven = false;
    bool quiet = false;
    bool showScripts = false;
    bool help = false;
    bool wait = false;
    DWORD waitSeconds = 0; // 0: no limit
};

int UsageError(const char *format, ...) __attribute__((format(gnu_printf, 1, 2)));
int UsageError(const char *format, ...)
{
    char message[512];
    va_list args;
    va_start(args, format);
    std::vsnprintf(message, sizeof message, format, args);
    va_end(args);
    Err("qrihost: %s (qrihost --help for usage)\n", message);
    return kUsage;
}

// kDone, or the exit status of a usage error already reported.
int ParseCommandLine(int argc, char **argv, Options *options)
{
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--help" || arg == "-h" || arg == "/?") {
            options->help = true;
        } else if (arg == "--quiet") {
            options->quiet = true;
        } else if (arg == "--show-scripts") {
            options->showScripts = true;
        } else if (arg == "--dll" || arg == "--settings") {
            if (i + 1 >= argc)
                return UsageError("%s needs a path", arg.c_str());
            (arg == "--dll" ? options->dllPath : options->settingsDir) = argv[++i];
            options->settingsGiven = options->settingsGiven || arg == "--settings";
        } else if (arg.compare(0, 6, "--dll=") == 0) {
            options->dllPath = arg.substr(6);
        } else if (arg.compare(0, 11, "--settings=") == 0) {
            options->settingsDir = arg.substr(11);
            options->settingsGiven = true;
        } else if (arg == "--wait") {
            options->wait = true;
        } else if (arg.compare(0, 7, "--wait=") == 0) {
            unsigned long seconds = 0;
            std::string text = arg.substr(7);
            if (!qrihost::ParseNumber(text, &seconds) || text.find('-') != std::string::npos || seconds == 0 ||
                seconds > 86400)
                return UsageError("--wait=SECONDS takes a whole number of seconds from 1 to 86400, not \"%s\"",
                                  text.c_str());
            options->wait = true;
            options->waitSeconds = seconds;
        } else if (arg.size() > 1 && arg[0] == '-') {
            return UsageError("unknown option %s", arg.c_str());
        } else if (options->command.empty()) {
            options->command = arg;
        } else {
            options->arguments.push_back(arg);
        }
    }
    if (options->help)
        return kDone;
    if (options->command.empty())
        return UsageError("no command given");
    const std::string &command = options->command;
    std::size_t wanted = command == "policy" || command == "task" ? 1 : 0;
    if (command != "properties" && command != "installed" && command != "policy" && command != "task" &&
        command != "demo-setup")
        return UsageError("unknown command \"%s\"", command.c_str());
    if (command == "demo-setup") {
        if (options->arguments.size() > 1)
            return UsageError("demo-setup takes at most one directory");
    } else if (options->arguments.size() != wanted) {
        return UsageError(wanted == 1 ? "%s takes exactly one argument" : "%s takes no argument", command.c_str());
    }
    if (options->settingsGiven && command != "policy")
        return UsageError("--settings belongs to policy");
    if (options->wait && command != "policy" && command != "task")
        return UsageError("--wait belongs to policy and task");
    if (options->waitSeconds != 0 && command != "task")
        return UsageError("--wait=SECONDS belongs to task; policy waits with --wait");
    return kDone;
}

// ---- files and paths

std::string OwnDirectory()
{
    char path[MAX_PATH + 1] = {};
    DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
    path[length < MAX_PATH ? length : MAX_PATH] = '\0';
    std::string directory = path;
    std::size_t slash = directory.find_last_of('\\');
    return slash == std::string::npos ? std::string(".") : directory.substr(0, slash);
}

std::string ReadWholeFile(const std::string &path, std::size_t limit, bool *cut)
{
    std::string text;
    *cut = false;
    if (FILE *in = std::fopen(path.c_str(), "rb")) {
        char chunk[4096];
        std::size_t got = 0;
        while ((got = std::fread(chunk, 1, sizeof chunk, in)) > 0) {
            text.append(chunk, got);
            if (text.size() > limit) {
                text.resize(limit);
                *cut = true;
                break;
            }
        }
        std::fclose(in);
    }
    return text;
}

bool WriteWholeFile(const std::string &path, const std::string &text)
{
    FILE *out = std::fopen(path.c_str(), "wb");
    if (out == nullptr)
        return false;
    bool written = std::fwrite(text.data(), 1, text.size(), out) == text.size();
    return std::fclose(out) == 0 && written;
}

// The installer directory as registered, "" when it cannot be read.
std::string InstallerDirectory()
{
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kInstallerKey, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return "";
    char directory[MAX_PATH + 1] = {};
    DWORD size = MAX_PATH;
    DWORD type = 0;
    LONG status = RegQueryValueExA(key, "Installation Directory", nullptr, &type, reinterpret_cast<BYTE *>(directory),
                                   &size);
    RegCloseKey(key);
    if (status != ERROR_SUCCESS || type != REG_SZ)
        return "";
    directory[size < MAX_PATH ? size : MAX_PATH] = '\0';
    return directory;
}

DWORD StoredProcessHandle()
{
    HKEY key = nullptr;
    DWORD value = 0;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kInstallerKey, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return 0;
    DWORD size = sizeof value;
    DWORD type = 0;
    if (RegQueryValueExA(key, "dwProcessHandle", nullptr, &type, reinterpret_cast<BYTE *>(&value), &size) !=
            ERROR_SUCCESS ||
        type != REG_DWORD || size != sizeof value)
        value = 0;
    RegCloseKey(key);
    return value;
}

struct FileEntry {
    std::string name;
    FILETIME created;
};

std::vector<FileEntry> ListFiles(const std::string &directory)
{
    std::vector<FileEntry> files;
    WIN32_FIND_DATAA entry;
    HANDLE search = FindFirstFileA((directory + "\\*").c_str(), &entry);
    if (search == INVALID_HANDLE_VALUE)
        return files;
    do {
        if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
            entry.cFileName[MAX_PATH - 1] = '\0';
            files.push_back({entry.cFileName, entry.ftCreationTime});
        }
    } while (FindNextFileA(search, &entry));
    FindClose(search);
    return files;
}

// What --show-scripts compares: the installer directory before the call.
struct ScriptWatch {
    bool active = false;
    std::string directory;
    std::vector<FileEntry> before;
};

ScriptWatch WatchScripts(bool wanted)
{
    ScriptWatch watch;
    if (!wanted)
        return watch;
    watch.directory = InstallerDirectory();
    if (watch.directory.empty()) {
        Out("--show-scripts: no installer directory is registered; no scripts to show\n");
        return watch;
    }
    watch.active = true;
    watch.before = ListFiles(watch.directory);
    return watch;
}

void ShowNewScripts(const ScriptWatch &watch)
{
    if (!watch.active)
        return;
    std::vector<FileEntry> created;
    for (const FileEntry &file : ListFiles(watch.directory)) {
        bool old = std::any_of(watch.before.begin(), watch.before.end(),
                               [&](const FileEntry &earlier) { return lstrcmpiA(earlier.name.c_str(), file.name.c_str()) == 0; });
        if (!old)
            created.push_back(file);
    }
    std::sort(created.begin(), created.end(), [](const FileEntry &a, const FileEntry &b) {
        LONG order = CompareFileTime(&a.created, &b.created);
        return order != 0 ? order < 0 : a.name < b.name;
    });
    Out("\nscripts created by the call: %u\n", static_cast<unsigned>(created.size()));
    for (const FileEntry &file : created) {
        std::string path = watch.directory + "\\" + file.name;
        bool cut = false;
        std::string text = ReadWholeFile(path, kLongestScriptShown, &cut);
        std::string shown;
        for (std::size_t i = 0; i < text.size(); ++i) {
            if (!(text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n'))
                shown += text[i];
        }
        if (!shown.empty() && shown.back() != '\n')
            shown += '\n';
        Out("--- %s ---\n%s--- end of %s%s ---\n", path.c_str(), shown.c_str(), file.name.c_str(),
            cut ? ", cut after 64 KiB" : "");
    }
}

// ---- the DLL

struct Plugin {
    HMODULE module = nullptr;
    PFN_RXPLUGIN_EnforcePolicy EnforcePolicy = nullptr;
    PFN_RXPLUGIN_EnforceTask EnforceTask = nullptr;
    PFN_RXPLUGIN_FreeCookie FreeCookie = nullptr;
    PFN_RXPLUGIN_GetProperties GetProperties = nullptr;
    PFN_RXPLUGIN_GetTaskStatus GetTaskStatus = nullptr;
    PFN_RXPLUGIN_IsSoftwareInstalled IsSoftwareInstalled = nullptr;
    PFN_RXPLUGIN_StopTask StopTask = nullptr;
};

template <class T>
bool Resolve(HMODULE module, const char *name, T *function, const std::string &path)
{
    *function = reinterpret_cast<T>(reinterpret_cast<void *>(GetProcAddress(module, name)));
    if (*function == nullptr) {
        Err("qrihost: %s is not a usable QRIPLUGN.dll: it has no export %s\n", path.c_str(), name);
        return false;
    }
    return true;
}

std::string SystemMessage(DWORD error)
{
    char text[256] = {};
    DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error, 0, text,
                                  sizeof text - 1, nullptr);
    text[length < sizeof text ? length : sizeof text - 1] = '\0';
    std::string message = text;
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r' || message.back() == '.' ||
                                message.back() == ' '))
        message.pop_back();
    return message.empty() ? "error " + std::to_string(error) : message + " (error " + std::to_string(error) + ")";
}

bool LoadPlugin(const std::string &requested, Plugin *plugin)
{
    std::string path = requested.empty() ? OwnDirectory() + "\\QRIPLUGN.dll" : requested;
    char full[MAX_PATH + 1] = {};
    DWORD length = GetFullPathNameA(path.c_str(), MAX_PATH, full, nullptr);
    if (length > 0 && length < MAX_PATH)
        path = full;
    DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        Err("qrihost: %s: no such file\n", path.c_str());
        return false;
    }
    // A file that is no DLL must fail here, not in a dialog box.
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
    plugin->module = LoadLibraryExA(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    if (plugin->module == nullptr) {
        Err("qrihost: %s cannot be loaded as a DLL: %s\n", path.c_str(), SystemMessage(GetLastError()).c_str());
        return false;
    }
    return Resolve(plugin->module, "RXPLUGIN_EnforcePolicy", &plugin->EnforcePolicy, path) &&
           Resolve(plugin->module, "RXPLUGIN_EnforceTask", &plugin->EnforceTask, path) &&
           Resolve(plugin->module, "RXPLUGIN_FreeCookie", &plugin->FreeCookie, path) &&
           Resolve(plugin->module, "RXPLUGIN_GetProperties", &plugin->GetProperties, path) &&
           Resolve(plugin->module, "RXPLUGIN_GetTaskStatus", &plugin->GetTaskStatus, path) &&
           Resolve(plugin->module, "RXPLUGIN_IsSoftwareInstalled", &plugin->IsSoftwareInstalled, path) &&
           Resolve(plugin->module, "RXPLUGIN_StopTask", &plugin->StopTask, path);
}

// ---- the readers

struct PolicySettings {
    std::string productId;
    qrihost::SettingsFile product;
    std::string agentId;
    qrihost::SettingsFile agent;
    bool agentLoaded = false;
};

// The policy reader has no context argument: the one enforcement of this run.
PolicySettings *g_policy = nullptr;

void ReportWarning(const std::string &warning)
{
    if (!warning.empty())
        Err("qrihost: warning: %s\n", warning.c_str());
}

int RXPLUGIN_CALLBACK ReadPolicySetting(const char *softwareId, const char *section, const char *key, void *buffer,
                                        int valueKind, unsigned long *size)
{
    if (g_policy == nullptr || softwareId == nullptr)
        return 0;
    std::string warning;
    if (lstrcmpiA(softwareId, g_policy->productId.c_str()) == 0) {
        int found = qrihost::AnswerSetting(g_policy->product, section, key, buffer, valueKind, size, &warning);
        ReportWarning(warning);
        return found;
    }
    if (g_policy->agentLoaded && lstrcmpiA(softwareId, g_policy->agentId.c_str()) == 0) {
        int found = qrihost::AnswerSetting(g_policy->agent, section, key, buffer, valueKind, size, &warning);
        ReportWarning(warning);
        return found;
    }
    return 0;
}

int RXPLUGIN_CALLBACK ReadTaskSetting(void *taskData, unsigned long taskDataSize, const char *section, const char *key,
                                      void *buffer, int valueKind, unsigned long *size)
{
    if (taskData == nullptr || taskDataSize != sizeof(qrihost::SettingsFile))
        return 0;
    std::string warning;
    int found = qrihost::AnswerSetting(*static_cast<const qrihost::SettingsFile *>(taskData), section, key, buffer,
                                       valueKind, size, &warning);
    ReportWarning(warning);
    return found;
}

int RXPLUGIN_CALLBACK PrintProperty(void *hostContext, const char *section, const char *name, const void *data,
                                    int valueKind, unsigned long dataSize)
{
    if (hostContext != nullptr)
        ++*static_cast<int *>(hostContext);
    const char *sectionText = section != nullptr ? section : "";
    const char *nameText = name != nullptr ? name : "";
    if (data == nullptr) {
        Out("  [%.259s] %.259s: no data (%lu bytes)\n", sectionText, nameText, dataSize);
    } else if (valueKind == RXPLUGIN_VALUE_NUMBER && dataSize >= 4) {
        unsigned long number = 0;
        std::memcpy(&number, data, 4);
        Out("  [%.259s] %.259s = %lu (number, %lu bytes)\n", sectionText, nameText, number, dataSize);
    } else {
        // Only the bytes the sink was given, up to the first zero.
        const char *text = static_cast<const char *>(data);
        std::size_t length = 0;
        while (length < dataSize && text[length] != '\0')
            ++length;
        Out("  [%.259s] %.259s = \"%.*s\" (%s, %lu bytes)\n", sectionText, nameText, static_cast<int>(length), text,
            valueKind == RXPLUGIN_VALUE_TEXT ? "text" : "kind unknown", dataSize);
    }
    return 1;
}

// ---- the trace while an export runs

struct TraceView {
    qritools::DebugOutputListener *listener = nullptr;
    ~TraceView() { qritools::StopDebugOutputListener(listener); }
    void Flush() { qritools::FlushDebugOutputListener(listener, 2000); }
};

void StartTrace(bool quiet, TraceView *view)
{
    if (quiet)
        return;
    DWORD error = 0;
    view->listener = qritools::StartDebugOutputListener(PrintTrace, nullptr, &error);
    if (view->listener == nullptr) {
        Err("qrihost: warning: the trace is not shown: %s\n",
            error == ERROR_ALREADY_EXISTS ? "another debug-output listener is running"
                                          : SystemMessage(error).c_str());
    }
}

// ---- subcommands

int RunProperties(const Plugin &plugin, TraceView &trace)
{
    int count = 0;
    Out("RXPLUGIN_GetProperties:\n");
    int result = plugin.GetProperties(&count, PrintProperty);
    trace.Flush();
    if (result != 0) {
        Out("result %d: the installer registry key was read; %d propert%s reported\n", result, count,
            count == 1 ? "y" : "ies");
        return kDone;
    }
    Out("result 0: nothing reported: the installer registry key cannot be opened\n");
    return kResultZero;
}

int RunInstalled(const Plugin &plugin, TraceView &trace)
{
    int result = plugin.IsSoftwareInstalled();
    trace.Flush();
    if (result != 0) {
        Out("RXPLUGIN_IsSoftwareInstalled: %d: installed: every base file of the product is present\n", result);
        return kDone;
    }
    Out("RXPLUGIN_IsSoftwareInstalled: 0: not installed: a base file is missing, or the installer registry key "
        "names none or cannot be read\n");
    return kResultZero;
}

// The software ID names a file in DIR: no path of its own.
bool UsableSoftwareId(const std::string &id)
{
    return !id.empty() && id.size() < MAX_PATH && id.find_first_of("\\/:*?\"<>|") == std::string::npos && id != "." &&
           id != "..";
}

std::string AgentSoftwareId()
{
    std::string ini = OwnDirectory() + "\\Agent.ini";
    char id[MAX_PATH] = {};
    GetPrivateProfileStringA("Agent", "SoftwareID", "oRXAgent1000", id, sizeof id, ini.c_str());
    id[sizeof id - 1] = '\0';
    return id;
}

std::string JoinPath(const std::string &directory, const std::string &name)
{
    if (directory.empty())
        return name;
    char last = directory.back();
    return last == '\\' || last == '/' ? directory + name : directory + "\\" + name;
}

int WaitForEngine(DWORD handleValue)
{
    HANDLE engine = reinterpret_cast<HANDLE>(static_cast<ULONG_PTR>(handleValue));
    DWORD code = 0;
    if (handleValue == 0 || !GetExitCodeProcess(engine, &code)) {
        Out("--wait: dwProcessHandle (0x%lx) names no installer engine of this process: nothing to wait for\n",
            static_cast<unsigned long>(handleValue));
        return kDone;
    }
    CtrlCGuard ctrlC;
    DWORD started = GetTickCount();
    char line[128];
    while (WaitForSingleObject(engine, kPollMs) == WAIT_TIMEOUT) {
        if (Interrupted()) {
            Out("--wait: interrupted after %.1f s; the installer engine goes on running\n",
                (GetTickCount() - started) / 1000.0);
            return kStopped;
        }
        std::snprintf(line, sizeof line, "waiting for the installer engine: %.1f s", (GetTickCount() - started) / 1000.0);
        ShowLiveLine(line);
    }
    GetExitCodeProcess(engine, &code);
    Out("--wait: the installer engine ended after %.1f s with exit code %lu\n", (GetTickCount() - started) / 1000.0,
        static_cast<unsigned long>(code));
    return kDone;
}

int RunPolicy(const Options &options, const Plugin &plugin, PolicySettings &settings, TraceView &trace)
{
    ScriptWatch watch = WatchScripts(options.showScripts);
    g_policy = &settings;
    int result = plugin.EnforcePolicy(settings.productId.c_str(), ReadPolicySetting);
    trace.Flush();
    g_policy = nullptr;
    DWORD handleValue = StoredProcessHandle();
    if (result != 0)
        Out("RXPLUGIN_EnforcePolicy(\"%s\"): %d: the enforcement ran its course\n", settings.productId.c_str(), result);
    else
        Out("RXPLUGIN_EnforcePolicy(\"%s\"): 0: stopped early, see the trace\n", settings.productId.c_str());
    Out("dwProcessHandle: 0x%lx%s\n", static_cast<unsigned long>(handleValue),
        handleValue == 0 ? " (no installer engine recorded)" : "");
    ShowNewScripts(watch);
    if (result == 0)
        return kResultZero;
    return options.wait ? WaitForEngine(handleValue) : kDone;
}

const char *TaskTypeOf(const qrihost::SettingsFile &file)
{
    const qrihost::Setting *type = qrihost::FindSetting(file, "Task", "TaskType");
    return type != nullptr ? type->value.c_str() : nullptr;
}

int WaitForTask(const Options &options, const Plugin &plugin, RXPLUGIN_TaskCookie cookie)
{
    CtrlCGuard ctrlC;
    DWORD started = GetTickCount();
    DWORD limitMs = options.waitSeconds * 1000;
    char line[128];
    const char *why = nullptr;
    while (plugin.GetTaskStatus(cookie) == 0) {
        DWORD elapsed = GetTickCount() - started;
        if (Interrupted())
            why = "interrupted (Ctrl+C)";
        else if (limitMs != 0 && elapsed >= limitMs)
            why = "time is up";
        if (why != nullptr)
            break;
        if (limitMs != 0)
            std::snprintf(line, sizeof line, "task running: %.1f s of %lu s", elapsed / 1000.0,
                          static_cast<unsigned long>(options.waitSeconds));
        else
            std::snprintf(line, sizeof line, "task running: %.1f s", elapsed / 1000.0);
        ShowLiveLine(line);
        Sleep(kPollMs);
    }
    double seconds = (GetTickCount() - started) / 1000.0;
    if (why == nullptr) {
        Out("RXPLUGIN_GetTaskStatus: -1: the task ended after %.1f s\n", seconds);
        return kDone;
    }
    int stopped = plugin.StopTask(cookie);
    Out("%s after %.1f s: RXPLUGIN_StopTask: %d: the installer engine was told to end\n", why, seconds, stopped);
    // Ending takes a moment; the status says when it is over.
    for (int tries = 0; tries < 50 && plugin.GetTaskStatus(cookie) == 0; ++tries)
        Sleep(kPollMs);
    Out("RXPLUGIN_GetTaskStatus: %d: %s\n", plugin.GetTaskStatus(cookie),
        plugin.GetTaskStatus(cookie) != 0 ? "the task has ended" : "the task still runs");
    return kStopped;
}

int RunTask(const Options &options, const Plugin &plugin, qrihost::SettingsFile &settings, TraceView &trace)
{
    ScriptWatch watch = WatchScripts(options.showScripts);
    RXPLUGIN_TaskCookie cookie = nullptr;
    int result = plugin.EnforceTask(&settings, sizeof settings, ReadTaskSetting, &cookie);
    trace.Flush();
    const char *type = TaskTypeOf(settings);
    int status = kDone;
    if (result == 0) {
        Out("RXPLUGIN_EnforceTask: 0: nothing was done: no task type, or no installer directory; see the trace\n");
        status = kResultZero;
    } else if (cookie != nullptr) {
        Out("RXPLUGIN_EnforceTask: %d: the installer engine was started on the task's script\n", result);
    } else if (type == nullptr || (lstrcmpiA(type, "vkAutoUpdateTask") != 0 && lstrcmpiA(type, "vkMirrorSiteTask") != 0)) {
        Out("RXPLUGIN_EnforceTask: %d: the task type \"%s\" is neither vkAutoUpdateTask nor vkMirrorSiteTask: "
            "nothing was done\n",
            result, type != nullptr ? type : "");
        status = kResultZero;
    } else {
        Out("RXPLUGIN_EnforceTask: %d: the script was written, but the installer engine did not start\n", result);
        status = kResultZero;
    }
    ShowNewScripts(watch);
    if (cookie == nullptr)
        return status;
    if (options.wait)
        status = WaitForTask(options, plugin, cookie);
    Out("RXPLUGIN_FreeCookie: %d\n", plugin.FreeCookie(cookie));
    return status;
}

// ---- demo-setup

bool SetText(HKEY key, const char *name, const char *value)
{
    return RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE *>(value),
                          static_cast<DWORD>(std::strlen(value) + 1)) == ERROR_SUCCESS;
}

bool MakeDirectories(const std::string &path)
{
    for (std::size_t at = path.find('\\', 3); at != std::string::npos; at = path.find('\\', at + 1))
        CreateDirectoryA(path.substr(0, at).c_str(), nullptr);
    return CreateDirectoryA(path.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS;
}

int RunDemoSetup(const Options &options)
{
    std::string directory = options.arguments.empty() ? kDefaultDemoDirectory : options.arguments[0];
    char full[MAX_PATH + 1] = {};
    DWORD length = GetFullPathNameA(directory.c_str(), MAX_PATH, full, nullptr);
    // The plug-in reads at most 259 characters, and the engine's command line
    // holds the directory twice.
    if (length == 0 || length > 100) {
        Err("qrihost: demo-setup: %s: not a usable directory path (at most 100 characters)\n", directory.c_str());
        return kSetupFailed;
    }
    directory = full;
    while (directory.size() > 3 && directory.back() == '\\')
        directory.pop_back();
    if (!MakeDirectories(directory)) {
        Err("qrihost: demo-setup: cannot create %s: %s\n", directory.c_str(), SystemMessage(GetLastError()).c_str());
        return kSetupFailed;
    }
    // Scripts of earlier runs go, so that each demo starts alike.
    for (const FileEntry &file : ListFiles(directory)) {
        std::size_t dot = file.name.rfind('.');
        if (dot != std::string::npos && lstrcmpiA(file.name.c_str() + dot, ".tmp") == 0)
            DeleteFileA((directory + "\\" + file.name).c_str());
    }
    for (const char *module : {"Master", "MSI", "Fenwa", "AutoUpdate", "Replicate"}) {
        std::string text = std::string("; generic ") + module + " script of the demo installation\r\n[Script]\r\n";
        if (!WriteWholeFile(directory + "\\" + module + ".gen", text)) {
            Err("qrihost: demo-setup: cannot write %s\\%s.gen\n", directory.c_str(), module);
            return kSetupFailed;
        }
    }
    std::string engine = directory + "\\QRI.exe";
    std::string standin = OwnDirectory() + "\\standin_engine.exe";
    if (!CopyFileA(standin.c_str(), engine.c_str(), FALSE)) {
        Err("qrihost: demo-setup: cannot copy %s to %s: %s\n", standin.c_str(), engine.c_str(),
            SystemMessage(GetLastError()).c_str());
        return kSetupFailed;
    }
    // Like a real engine, the stand-in takes a moment, so waits can be seen.
    WriteWholeFile(engine + ".mode", "sleep 1000");

    RegDeleteTreeA(HKEY_LOCAL_MACHINE, kInstallerKey);
    HKEY key = nullptr;
    LONG status =
        RegCreateKeyExA(HKEY_LOCAL_MACHINE, kInstallerKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr);
    if (status != ERROR_SUCCESS) {
        Err("qrihost: demo-setup: cannot create HKLM\\%s: %s\n", kInstallerKey,
            SystemMessage(static_cast<DWORD>(status)).c_str());
        return kSetupFailed;
    }
    bool written = SetText(key, "Installation Directory", directory.c_str()) &&
                   SetText(key, "Product Name", "ZDR Shared Components") && SetText(key, "szProductVer", "1.0.0") &&
                   SetText(key, "Language", "0409") && SetText(key, "Base:Engine", "QRI.exe") &&
                   SetText(key, "Base:Master", "Master.gen") && SetText(key, "MSI_Installer_Run", "1") &&
                   SetText(key, "Universal_Uninstaller_Run", "1") && SetText(key, "OAS_Installer_Run", "0");
    RegCloseKey(key);
    if (!written) {
        Err("qrihost: demo-setup: cannot write the values of HKLM\\%s\n", kInstallerKey);
        return kSetupFailed;
    }
    Out("demo installation in %s (generic scripts, QRI.exe = the stand-in engine), registered under HKLM\\%s\n",
        directory.c_str(), kInstallerKey);
    return kDone;
}

int Run(int argc, char **argv)
{
    Options options;
    int status = ParseCommandLine(argc, argv, &options);
    if (status != kDone)
        return status;
    if (options.help) {
        const std::string &command = options.command;
        Out("%s", command == "properties"   ? kPropertiesHelp
                  : command == "installed"  ? kInstalledHelp
                  : command == "policy"     ? kPolicyHelp
                  : command == "task"       ? kTaskHelp
                  : command == "demo-setup" ? kDemoSetupHelp
                                            : kUsageText);
        return kDone;
    }
    if (options.command == "demo-setup")
        return RunDemoSetup(options);

    // Every settings file is read before the DLL is touched.
    PolicySettings policy;
    qrihost::SettingsFile task;
    std::string error;
    if (options.command == "policy") {
        policy.productId = options.arguments[0];
        if (!UsableSoftwareId(policy.productId))
            return UsageError("\"%s\" cannot be a software ID: it names the file SOFTWARE_ID.ini",
                              policy.productId.c_str());
        std::string directory = options.settingsDir.empty() ? "." : options.settingsDir;
        if (!qrihost::LoadSettings(JoinPath(directory, policy.productId + ".ini"), &policy.product, &error)) {
            Err("%s\n", error.c_str());
            return kBadSettings;
        }
        policy.agentId = AgentSoftwareId();
        std::string agentPath = JoinPath(directory, policy.agentId + ".ini");
        if (lstrcmpiA(policy.agentId.c_str(), policy.productId.c_str()) == 0) {
            // One file serves both IDs: the product's answers the agent's reads.
        } else if (GetFileAttributesA(agentPath.c_str()) == INVALID_FILE_ATTRIBUTES) {
            Err("qrihost: warning: no %s: the agent's reboot settings (ID %s) read as not found\n", agentPath.c_str(),
                policy.agentId.c_str());
        } else if (!qrihost::LoadSettings(agentPath, &policy.agent, &error)) {
            Err("%s\n", error.c_str());
            return kBadSettings;
        } else {
            policy.agentLoaded = true;
        }
    } else if (options.command == "task") {
        if (!qrihost::LoadSettings(options.arguments[0], &task, &error)) {
            Err("%s\n", error.c_str());
            return kBadSettings;
        }
    }

    Plugin plugin;
    if (!LoadPlugin(options.dllPath, &plugin))
        return kUnusableDll;
    // The channel must exist before the first export: a quiet trace speaks
    // only when it finds a listener.
    TraceView trace;
    StartTrace(options.quiet, &trace);
    if (options.command == "properties")
        return RunProperties(plugin, trace);
    if (options.command == "installed")
        return RunInstalled(plugin, trace);
    if (options.command == "policy")
        return RunPolicy(options, plugin, policy, trace);
    return RunTask(options, plugin, task, trace);
}

} // namespace

int main(int argc, char **argv)
{
    InitializeCriticalSection(&g_outputLock);
    g_interrupted = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    DWORD mode = 0;
    g_stdoutIsConsole = GetConsoleMode(GetStdHandle(STD_OUTPUT_HANDLE), &mode) != 0;
    // Lines end in \n alone on every stream, as on the Linux side of Wine.
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
    int status = Run(argc, argv);
    std::fflush(stdout);
    return status;
}
