// Loading QRIPLUGN.dll by full path and resolving its exports.
#include "plugin.h"

#include "console.h"
#include "files.h"

namespace qrihost {

namespace {

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

} // namespace

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

} // namespace qrihost
