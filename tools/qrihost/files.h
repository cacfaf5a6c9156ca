// qrihost's files, paths and the installer registry key as an agent sees
// them from outside the plug-in.
#pragma once

#include <windows.h>

#include <cstddef>
#include <string>
#include <vector>

#include "qriplugn.h"

namespace qrihost {

constexpr const char kInstallerKey[] = RXPLUGIN_INSTALLER_KEY;

// The folder of qrihost.exe.
std::string OwnDirectory();

std::string JoinPath(const std::string &directory, const std::string &name);

bool FileExists(const std::string &path);

// The release package's samples folder as seen from qrihost.exe (bin\..\samples
// or x64\bin\..\..\samples), "" outside the package.
std::string PackageSamples();

// At most limit bytes; *cut tells whether there was more.
std::string ReadWholeFile(const std::string &path, std::size_t limit, bool *cut);
bool WriteWholeFile(const std::string &path, const std::string &text);

struct FileEntry {
    std::string name;
    FILETIME created;
};

// The files (not folders) directly in directory.
std::vector<FileEntry> ListFiles(const std::string &directory);

// The installer directory as registered, "" when it cannot be read.
std::string InstallerDirectory();

// dwProcessHandle of the installer key, 0 when absent or not a REG_DWORD.
DWORD StoredProcessHandle();

} // namespace qrihost
