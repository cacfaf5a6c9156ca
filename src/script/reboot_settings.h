// Reboot lines of the Master script, from the management agent's own policy.
#pragma once

#include <cstdio>

#include "qriplugn.h"

namespace qri {

constexpr const char kDefaultAgentSoftwareId[] = "oRXAgent1000";

void WriteRebootSettings(FILE *script, RXPLUGIN_PolicySettingReader policyReader);

// Agent.ini beside the executable of the current process; empty when that
// path does not fit its buffer.
void GetAgentIniPath(char *path, unsigned long capacity);

} // namespace qri
