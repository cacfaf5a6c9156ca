// Loading QRIPLUGN.dll and resolving its seven exports by name, as the
// integration guide tells an agent to.
#pragma once

#include <windows.h>

#include <string>

#include "qriplugn.h"

namespace qrihost {

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

// requested, or QRIPLUGN.dll beside qrihost.exe when empty. false, with one
// line on stderr, for a missing file, a file that is no loadable DLL or a DLL
// that lacks an export.
bool LoadPlugin(const std::string &requested, Plugin *plugin);

} // namespace qrihost
