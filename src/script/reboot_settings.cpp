// Reboot settings: the agent's software ID comes from Agent.ini beside the
// agent's executable, the two values from the agent's own policy.
#include "script/reboot_settings.h"

#include <windows.h>

#include <cstring>

#include "common/text.h"

namespace qri {

namespace {

constexpr DWORD kNoAutomaticReboot = RXPLUGIN_REBOOT_TIMEOUT_NONE;

} // namespace

void GetAgentIniPath(char *path, unsigned long capacity)
{
    std::memset(path, 0, capacity);
    // Failing, or cut: no Agent.ini to read, so the default ID stands.
    DWORD length = GetModuleFileNameA(nullptr, path, capacity);
    if (length == 0 || length >= capacity) {
        path[0] = '\0';
        return;
    }
    char *lastBackslash = std::strrchr(path, '\\');
    if (lastBackslash == nullptr)
        return;
    std::size_t room = capacity - static_cast<std::size_t>(lastBackslash + 1 - path);
    if (!CopyBounded(lastBackslash + 1, room, RXPLUGIN_AGENT_INI))
        path[0] = '\0';
}

void WriteRebootSettings(ScriptText &script, RXPLUGIN_PolicySettingReader policyReader)
{
    char iniPath[kPathCapacity];
    GetAgentIniPath(iniPath, sizeof iniPath);

    // An executable path that leaves no room for "Agent.ini" names no file we
    // could read: the default ID stands, as for a missing Agent.ini.
    char agentSoftwareId[kPathCapacity] = {};
    // It gives the default itself when the file cannot be read; an empty
    // answer only makes the reader find neither value, so both stay 0.
    if (iniPath[0] != '\0')
        GetPrivateProfileStringA(RXPLUGIN_AGENT_INI_SECTION, RXPLUGIN_AGENT_INI_KEY_SOFTWARE_ID,
                                 kDefaultAgentSoftwareId, agentSoftwareId, sizeof agentSoftwareId, iniPath);
    else
        CopyBounded(agentSoftwareId, sizeof agentSoftwareId, kDefaultAgentSoftwareId);
    agentSoftwareId[kPathCapacity - 1] = '\0';

    DWORD showRebootUi = 0;
    DWORD rebootTimeOut = 0;
    if (policyReader != nullptr) {
        // A value that was not found stays 0, whatever the reader left in it.
        unsigned long size = RXPLUGIN_NUMBER_CAPACITY;
        if (policyReader(agentSoftwareId, RXPLUGIN_SECTION_GENERAL, RXPLUGIN_KEY_ShowRebootUI, &showRebootUi,
                         RXPLUGIN_VALUE_NUMBER, &size) == 0)
            showRebootUi = 0;
        size = RXPLUGIN_NUMBER_CAPACITY;
        if (policyReader(agentSoftwareId, RXPLUGIN_SECTION_GENERAL, RXPLUGIN_KEY_RebootTimeOut, &rebootTimeOut,
                         RXPLUGIN_VALUE_NUMBER, &size) == 0)
            rebootTimeOut = 0;
    }

    bool automatic = rebootTimeOut != kNoAutomaticReboot;
    script.Print("\n\tset PromptForReboot       =%s", showRebootUi != 0 ? "TRUE" : "FALSE");
    script.Print("\n\tset AutomaticReboot       =%s", automatic ? "TRUE" : "FALSE");
    script.Print("\n\tset AutomaticRebootTimeout=%lu", static_cast<unsigned long>(automatic ? rebootTimeOut : 0));
}

} // namespace qri
