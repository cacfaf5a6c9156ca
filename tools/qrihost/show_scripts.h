// --show-scripts: the files that one call created in the installer
// directory, shown in the order made, path and text.
#pragma once

#include <string>
#include <vector>

#include "files.h"

namespace qrihost {

// What --show-scripts compares: the installer directory before the call.
struct ScriptWatch {
    bool active = false;
    std::string directory;
    std::vector<FileEntry> before;
};

ScriptWatch WatchScripts(bool wanted);
void ShowNewScripts(const ScriptWatch &watch);

} // namespace qrihost
