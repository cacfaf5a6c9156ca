// Task enforcement: one script for an AutoUpdate or mirror task, the
// installer engine started on it, and the task cookie that tracks the engine.
#include <cstring>

#include "common/setting_source.h"
#include "common/text.h"
#include "common/trace.h"
#include "plugin/enforcement.h"
#include "registry/installer_key.h"
#include "script/generator.h"

namespace qri {

namespace {

struct TaskKind {
    const char *taskType;
    const char *module;
    const char *scriptPrefix;
    const char *message;
};

const TaskKind kTaskKinds[] = {
    {RXPLUGIN_TASK_TYPE_AUTOUPDATE, RXPLUGIN_MODULE_AUTOUPDATE, "UPD", "Generate script for AutoUpdate Task"},
    {RXPLUGIN_TASK_TYPE_MIRROR, RXPLUGIN_MODULE_REPLICATE, "REP", "Generate script for Mirror Task"},
};

PROCESS_INFORMATION *AsProcess(RXPLUGIN_TaskCookie cookie)
{
    return static_cast<PROCESS_INFORMATION *>(cookie);
}

} // namespace

int EnforceTask(void *taskData, unsigned long taskDataSize, RXPLUGIN_TaskSettingReader reader,
                RXPLUGIN_TaskCookie *cookieLocation)
{
    // Without a cookie location there is nowhere to hand the engine over to.
    if (taskData == nullptr || taskDataSize == 0 || reader == nullptr || cookieLocation == nullptr)
        return 0;

    char taskType[RXPLUGIN_TASK_TYPE_CAPACITY] = {};
    unsigned long size = RXPLUGIN_TASK_TYPE_CAPACITY;
    int typeRead = reader(taskData, taskDataSize, RXPLUGIN_SECTION_TASK, RXPLUGIN_KEY_TaskType, taskType,
                          RXPLUGIN_VALUE_TEXT, &size);
    if (typeRead == 0)
        return 0;
    taskType[sizeof taskType - 1] = '\0';

    const TaskKind *kind = nullptr;
    for (const TaskKind &candidate : kTaskKinds) {
        if (EqualsNoCaseAscii(taskType, candidate.taskType)) {
            kind = &candidate;
            break;
        }
    }
    if (kind == nullptr)
        return typeRead;

    char directory[kPathCapacity];
    if (!GetInstallerDirectory(directory, sizeof directory))
        return 0;
    Trace(kind->message);

    char scriptPath[kPathCapacity];
    if (!MakeScriptName(directory, kind->scriptPrefix, scriptPath))
        return 1;

    SettingSource source = {reader, nullptr, taskData, taskDataSize};
    // Settings that were not found still give a script to run; bytes that
    // never reached the disk do not. The useless file goes too: it holds
    // what little room a full disk has left.
    if (ScriptUnusable(GenerateScript(source, kind->module, scriptPath))) {
        RemoveScript(scriptPath);
        return 0;
    }

    // Failing: 1 with no engine and the script left, as when no process starts.
    auto *cookie = static_cast<PROCESS_INFORMATION *>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY,
                                                                 sizeof(PROCESS_INFORMATION)));
    if (cookie == nullptr)
        return 1;
    char commandLine[kCommandLineCapacity];
    if (FormatEngineCommandLine(commandLine, sizeof commandLine, directory, scriptPath) &&
        StartEngine(directory, commandLine, cookie)) {
        *cookieLocation = cookie;
        return 1;
    }
    HeapFree(GetProcessHeap(), 0, cookie); // failing leaks 16 bytes, nothing worse
    return 1;
}

int GetTaskStatus(RXPLUGIN_TaskCookie cookie)
{
    if (cookie == nullptr)
        return RXPLUGIN_TASK_RUNNING;
    DWORD exitCode = 0;
    // Failing leaves 0: the task reads as ended, and the agent stops polling.
    GetExitCodeProcess(AsProcess(cookie)->hProcess, &exitCode);
    return exitCode == STILL_ACTIVE ? RXPLUGIN_TASK_RUNNING : RXPLUGIN_TASK_ENDED;
}

int StopTask(RXPLUGIN_TaskCookie cookie)
{
    if (cookie != nullptr)
        // Failing (it ended already, or no access): still 1; the status tells.
        TerminateProcess(AsProcess(cookie)->hProcess, 0);
    return 1;
}

int FreeCookie(RXPLUGIN_TaskCookie cookie)
{
    if (cookie != nullptr) {
        PROCESS_INFORMATION *process = AsProcess(cookie);
        // Failures leave nothing to undo: the cookie is gone either way.
        CloseHandle(process->hThread);
        CloseHandle(process->hProcess);
        HeapFree(GetProcessHeap(), 0, process);
    }
    return 1;
}

} // namespace qri
