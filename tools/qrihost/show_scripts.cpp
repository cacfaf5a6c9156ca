// --show-scripts: the installer directory before and after a call.
#include "show_scripts.h"

#include <windows.h>

#include <algorithm>

#include "console.h"

namespace qrihost {

namespace {

constexpr std::size_t kLongestScriptShown = 64 * 1024;

} // namespace

ScriptWatch WatchScripts(bool wanted)
{
    ScriptWatch watch;
    if (!wanted)
        return watch;
    watch.directory = InstallerDirectory();
    if (watch.directory.empty()) {
        Out("--show-scripts: no installer directory is registered; no scripts to show\n");
        return watch;
    }
    watch.active = true;
    watch.before = ListFiles(watch.directory);
    return watch;
}

void ShowNewScripts(const ScriptWatch &watch)
{
    if (!watch.active)
        return;
    std::vector<FileEntry> created;
    for (const FileEntry &file : ListFiles(watch.directory)) {
        bool old = std::any_of(watch.before.begin(), watch.before.end(),
                               [&](const FileEntry &earlier) { return lstrcmpiA(earlier.name.c_str(), file.name.c_str()) == 0; });
        if (!old)
            created.push_back(file);
    }
    std::sort(created.begin(), created.end(), [](const FileEntry &a, const FileEntry &b) {
        LONG order = CompareFileTime(&a.created, &b.created);
        return order != 0 ? order < 0 : a.name < b.name;
    });
    Out("\nscripts created by the call: %u\n", static_cast<unsigned>(created.size()));
    for (const FileEntry &file : created) {
        std::string path = watch.directory + "\\" + file.name;
        bool cut = false;
        std::string text = ReadWholeFile(path, kLongestScriptShown, &cut);
        std::string shown;
        for (std::size_t i = 0; i < text.size(); ++i) {
            if (!(text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n'))
                shown += text[i];
        }
        if (!shown.empty() && shown.back() != '\n')
            shown += '\n';
        Out("--- %s ---\n%s--- end of %s%s ---\n", path.c_str(), shown.c_str(), file.name.c_str(),
            cut ? ", cut after 64 KiB" : "");
    }
}

} // namespace qrihost
