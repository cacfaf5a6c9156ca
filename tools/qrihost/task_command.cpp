// qrihost task: runs a task from its settings file, polls its status while
// asked to wait, stops it at the time-out or Ctrl+C, and always frees the cookie.
#include "commands.h"

#include <cstdio>

#include "files.h"
#include "show_scripts.h"

namespace qrihost {

namespace {

const char *TaskTypeOf(const SettingsFile &file)
{
    const qrihost::Setting *type = FindSetting(file, RXPLUGIN_SECTION_TASK, RXPLUGIN_KEY_TaskType);
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

} // namespace

int LoadTaskSettings(const Options &options, SettingsFile *task)
{
    std::string error;
    std::string path = options.arguments[0];
    // A bare file name that is not here may be one of the package's sample tasks.
    std::string samples = PackageSamples();
    if (!FileExists(path) && path.find_first_of("\\/:") == std::string::npos && !samples.empty() &&
        FileExists(samples + "\\tasks\\" + path)) {
        path = samples + "\\tasks\\" + path;
        Out("qrihost: no %s in the current folder; the package's %s is used\n", options.arguments[0].c_str(),
            path.c_str());
    }
    if (!LoadSettings(path, task, &error)) {
        Err("%s\n", error.c_str());
        return kBadSettings;
    }
    return kDone;
}

int RunTask(const Options &options, const Plugin &plugin, SettingsFile &settings, TraceView &trace)
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
    } else if (type == nullptr || (lstrcmpiA(type, RXPLUGIN_TASK_TYPE_AUTOUPDATE) != 0 &&
                                   lstrcmpiA(type, RXPLUGIN_TASK_TYPE_MIRROR) != 0)) {
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

} // namespace qrihost
