/*
 * agent.c - the smallest whole agent of QRIPLUGN.dll: loads the DLL that lies
 * beside the program, resolves the seven exports by name, runs an AutoUpdate
 * task whose settings a reader answers from a table, polls the task until its
 * engine ends (stopping it after 30 s) and frees the cookie.
 *
 * Build from the package's top folder into a folder of your own, and put the
 * DLL of the same width beside it (64-bit; for 32-bit i686-w64-mingw32-gcc and bin/):
 *   mkdir -p ../agent-try
 *   x86_64-w64-mingw32-gcc -Wall -Wextra -Iinclude -o ../agent-try/agent.exe samples/agent.c
 *   cp x64/bin/QRIPLUGN.dll ../agent-try/
 * Run it on a machine with an installer directory (qrihost demo-setup makes one).
 * Exit status: 0 the engine ran and ended, 1 no engine started, 2 a task that
 * was stopped, 3 the DLL cannot be used.
 */
#include <windows.h>

#include <stdio.h>
#include <string.h>

#include "qriplugn.h"

/* The task's settings: section, key, value, as the plug-in asks for them; the
   header names every section and key. */
#define GENERAL RXPLUGIN_MODULE_AUTOUPDATE " " RXPLUGIN_SECTION_GENERAL
#define SITES_GENERAL RXPLUGIN_MODULE_AUTOUPDATE " " RXPLUGIN_SECTION_SITES_GENERAL
#define SITE_1 RXPLUGIN_MODULE_AUTOUPDATE " " RXPLUGIN_SECTION_UPDATE_SITE "1"
struct Setting {
    const char *section;
    const char *key;
    const char *value;
};

static const struct Setting kNightlyUpdate[] = {
    {RXPLUGIN_SECTION_TASK, RXPLUGIN_KEY_TaskType, RXPLUGIN_TASK_TYPE_AUTOUPDATE},
    {RXPLUGIN_SECTION_TASK, RXPLUGIN_KEY_TaskName, "Sample agent"},
    {GENERAL, RXPLUGIN_KEY_bLogToFile, "0"},
    {SITES_GENERAL, RXPLUGIN_KEY_uNumberOfSites, "1"},
    {SITE_1, RXPLUGIN_KEY_bSiteEnabled, "1"},
    {SITE_1, RXPLUGIN_KEY_uUpdateFrom, "2"},
    {SITE_1, RXPLUGIN_KEY_szSiteName, "Main mirror"},
    {SITE_1, RXPLUGIN_KEY_szFTPLocation, "mirrorhost\\pub\\updates"},
    {SITE_1, RXPLUGIN_KEY_bAnonymousLogin, "1"},
    {SITE_1, RXPLUGIN_KEY_bProxy, "0"},
};

/* What the agent passes as task data; the plug-in hands it back to the reader. */
struct Task {
    const struct Setting *settings;
    size_t count;
};

struct Plugin {
    HMODULE module;
    PFN_RXPLUGIN_EnforcePolicy EnforcePolicy;
    PFN_RXPLUGIN_EnforceTask EnforceTask;
    PFN_RXPLUGIN_FreeCookie FreeCookie;
    PFN_RXPLUGIN_GetProperties GetProperties;
    PFN_RXPLUGIN_GetTaskStatus GetTaskStatus;
    PFN_RXPLUGIN_IsSoftwareInstalled IsSoftwareInstalled;
    PFN_RXPLUGIN_StopTask StopTask;
};

/* GetProcAddress gives a FARPROC; void (*)(void) converts to every PFN_ type
   without -Wcast-function-type. */
typedef void (*AnyFunction)(void);

static AnyFunction Resolve(HMODULE module, const char *name)
{
    return (AnyFunction)GetProcAddress(module, name);
}

/* Loads QRIPLUGN.dll by full path and resolves all seven exports; 0 on failure. */
static int LoadPlugin(const char *path, struct Plugin *plugin)
{
    memset(plugin, 0, sizeof *plugin);
    plugin->module = LoadLibraryA(path);
    if (plugin->module == NULL)
        return 0;
    plugin->EnforcePolicy = (PFN_RXPLUGIN_EnforcePolicy)Resolve(plugin->module, "RXPLUGIN_EnforcePolicy");
    plugin->EnforceTask = (PFN_RXPLUGIN_EnforceTask)Resolve(plugin->module, "RXPLUGIN_EnforceTask");
    plugin->FreeCookie = (PFN_RXPLUGIN_FreeCookie)Resolve(plugin->module, "RXPLUGIN_FreeCookie");
    plugin->GetProperties = (PFN_RXPLUGIN_GetProperties)Resolve(plugin->module, "RXPLUGIN_GetProperties");
    plugin->GetTaskStatus = (PFN_RXPLUGIN_GetTaskStatus)Resolve(plugin->module, "RXPLUGIN_GetTaskStatus");
    plugin->IsSoftwareInstalled =
        (PFN_RXPLUGIN_IsSoftwareInstalled)Resolve(plugin->module, "RXPLUGIN_IsSoftwareInstalled");
    plugin->StopTask = (PFN_RXPLUGIN_StopTask)Resolve(plugin->module, "RXPLUGIN_StopTask");
    if (plugin->EnforcePolicy && plugin->EnforceTask && plugin->FreeCookie && plugin->GetProperties &&
        plugin->GetTaskStatus && plugin->IsSoftwareInstalled && plugin->StopTask)
        return 1;
    FreeLibrary(plugin->module);
    plugin->module = NULL;
    return 0;
}

/* The task reader: text from the table, within the capacity offered. */
static int RXPLUGIN_CALLBACK ReadTaskSetting(void *taskData, unsigned long taskDataSize, const char *section,
                                             const char *key, void *buffer, int valueKind, unsigned long *size)
{
    const struct Task *task = (const struct Task *)taskData;
    size_t i;
    if (taskDataSize != sizeof *task || valueKind != RXPLUGIN_VALUE_TEXT)
        return 0;
    for (i = 0; i < task->count; ++i) {
        const struct Setting *setting = &task->settings[i];
        if (lstrcmpiA(setting->section, section) == 0 && lstrcmpiA(setting->key, key) == 0) {
            size_t length = strlen(setting->value);
            if (length >= *size)
                return 0; /* does not fit: better "not found" than cut */
            memcpy(buffer, setting->value, length + 1);
            return 1;
        }
    }
    return 0;
}

int main(void)
{
    char path[MAX_PATH];
    char *name;
    struct Plugin plugin;
    struct Task task = {kNightlyUpdate, sizeof kNightlyUpdate / sizeof kNightlyUpdate[0]};
    RXPLUGIN_TaskCookie cookie = NULL;
    DWORD waited = 0;
    int result;
    int status = 0;

    /* The DLL beside this program, by full path. */
    DWORD length = GetModuleFileNameA(NULL, path, sizeof path);
    if (length == 0 || length >= sizeof path || (name = strrchr(path, '\\')) == NULL ||
        (size_t)(name + 1 - path) + sizeof "QRIPLUGN.dll" > sizeof path)
        return 3;
    memcpy(name + 1, "QRIPLUGN.dll", sizeof "QRIPLUGN.dll");
    if (!LoadPlugin(path, &plugin)) {
        fprintf(stderr, "agent: %s cannot be loaded or lacks an export\n", path);
        return 3;
    }

    /* The cookie is set only when an engine started: null before, test after. */
    result = plugin.EnforceTask(&task, sizeof task, ReadTaskSetting, &cookie);
    if (cookie == NULL) {
        printf("RXPLUGIN_EnforceTask: %d, no engine started (see the trace)\n", result);
        FreeLibrary(plugin.module);
        return 1;
    }
    printf("RXPLUGIN_EnforceTask: %d, the engine runs\n", result);

    while (plugin.GetTaskStatus(cookie) == RXPLUGIN_TASK_RUNNING && waited < 30000) {
        Sleep(100);
        waited += 100;
    }
    if (plugin.GetTaskStatus(cookie) == RXPLUGIN_TASK_RUNNING) {
        plugin.StopTask(cookie);
        printf("stopped after %lu ms\n", (unsigned long)waited);
        status = 2;
    } else {
        printf("the engine ended after about %lu ms\n", (unsigned long)waited);
    }
    /* Exactly once, ended or not; the engine's handles go with it. */
    plugin.FreeCookie(cookie);
    FreeLibrary(plugin.module);
    return status;
}
