// Reboot lines of the Master script, from the management agent's own policy.
#pragma once

#include "qriplugn.h"
#include "script/script_text.h"

namespace qri {

constexpr const char kDefaultAgentSoftwareId[] = RXPLUGIN_DEFAULT_AGENT_ID;

void WriteRebootSettings(ScriptText &script, RXPLUGIN_PolicySettingReader policyReader);

// Agent.ini beside the executable of the current process; empty when that
// path does not fit its buffer.
void GetAgentIniPath(char *path, unsigned long capacity);

} // namespace qri
