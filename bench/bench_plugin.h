// What the two measuring programs share: the installer key, loading the DLL
// from beside the program, and removing the scripts an installation gathers.
#pragma once

#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace qribench {

constexpr char kInstallerKey[] = "SOFTWARE\\Quorvane\\ZDR\\Shared Components\\QRI_FW";

// The folder of this program, where the build puts the DLL and the stand-in engine.
inline std::string ProgramFolder()
{
    char self[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, self, sizeof self - 1);
    const char *slash = std::strrchr(self, '\\');
    return slash != nullptr ? std::string(static_cast<const char *>(self), slash) : std::string(".");
}

// QRIPLUGN.dll from `folder`; null, with a line saying why, when it does not load.
inline HMODULE LoadPlugin(const char *program, const std::string &folder)
{
    HMODULE dll = LoadLibraryA((folder + "\\QRIPLUGN.dll").c_str());
    if (dll == nullptr)
        std::printf("%s: cannot load %s\\QRIPLUGN.dll (error %lu)\n", program, folder.c_str(), GetLastError());
    return dll;
}

template <class Function>
Function Export(HMODULE dll, const char *name)
{
    return reinterpret_cast<Function>(reinterpret_cast<void *>(GetProcAddress(dll, name)));
}

// Deletes the scripts (*.tmp) in the installer directory.
inline void RemoveScripts(const std::string &directory)
{
    WIN32_FIND_DATAA entry;
    HANDLE search = FindFirstFileA((directory + "\\*.tmp").c_str(), &entry);
    if (search == INVALID_HANDLE_VALUE)
        return;
    do
        DeleteFileA((directory + "\\" + entry.cFileName).c_str());
    while (FindNextFileA(search, &entry));
    FindClose(search);
}

} // namespace qribench
