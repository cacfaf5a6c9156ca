// Full paths of the Master, MSI and Fenwa scripts of the last policy
// enforcement. Written by the policy enforcement, read by the generator
// while it writes the Master script.
#pragma once

#include "common/text.h"

namespace qri {

enum PolicyScript { kMasterScript = 0, kMsiScript = 1, kFenwaScript = 2, kPolicyScriptCount = 3 };

extern char g_policyScriptNames[kPolicyScriptCount][kPathCapacity];

} // namespace qri
