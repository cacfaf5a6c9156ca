// The script generator: one installer script from the settings of one script
// module, starting from the module's generic script.
#pragma once

#include "common/setting_source.h"

namespace qri {

enum GenerateResult : int {
    kGenerateFailed = 0,
    kGenerated = 1,
    // The generic script could not be copied: the file holds no generic part
    // and the installer engine must not run on it.
    kGenerateNoGenericScript = -1,
    // The system took less than the whole script (a full disk, a failed
    // open, write, flush or close): the engine must not run on it either.
    kGenerateWriteFailed = -2,
};

// The script file is useless: no engine may run on it.
constexpr bool ScriptUnusable(int generateResult)
{
    return generateResult < 0;
}

// scriptPath: a temporary file in the installer directory, replaced by the
// generic script and then appended to.
int GenerateScript(const SettingSource &source, const char *moduleName, const char *scriptPath);

// 1 when the module's generic script was copied over scriptPath, else 0.
int CopyGenericScript(const char *moduleName, const char *scriptPath);

struct ScriptModule {
    const char *name;
    const char *genericScript;
};

// The module whose name equals moduleName without regard to case, in the
// order AutoUpdate, MSI, Fenwa, Replicate, Master; null for any other name.
const ScriptModule *FindScriptModule(const char *moduleName);

} // namespace qri
