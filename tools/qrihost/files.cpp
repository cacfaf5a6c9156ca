// qrihost's files, paths and reads of the installer registry key.
#include "files.h"

#include <cstdio>

namespace qrihost {

std::string OwnDirectory()
{
    char path[MAX_PATH + 1] = {};
    DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
    path[length < MAX_PATH ? length : MAX_PATH] = '\0';
    std::string directory = path;
    std::size_t slash = directory.find_last_of('\\');
    return slash == std::string::npos ? std::string(".") : directory.substr(0, slash);
}

std::string ReadWholeFile(const std::string &path, std::size_t limit, bool *cut)
{
    std::string text;
    *cut = false;
    if (FILE *in = std::fopen(path.c_str(), "rb")) {
        char chunk[4096];
        std::size_t got = 0;
        while ((got = std::fread(chunk, 1, sizeof chunk, in)) > 0) {
            text.append(chunk, got);
            if (text.size() > limit) {
                text.resize(limit);
                *cut = true;
                break;
            }
        }
        std::fclose(in);
    }
    return text;
}

bool WriteWholeFile(const std::string &path, const std::string &text)
{
    FILE *out = std::fopen(path.c_str(), "wb");
    if (out == nullptr)
        return false;
    bool written = std::fwrite(text.data(), 1, text.size(), out) == text.size();
    return std::fclose(out) == 0 && written;
}

// The installer directory as registered, "" when it cannot be read.
std::string InstallerDirectory()
{
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kInstallerKey, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return "";
    char directory[MAX_PATH + 1] = {};
    DWORD size = MAX_PATH;
    DWORD type = 0;
    LONG status = RegQueryValueExA(key, "Installation Directory", nullptr, &type, reinterpret_cast<BYTE *>(directory),
                                   &size);
    RegCloseKey(key);
    if (status != ERROR_SUCCESS || type != REG_SZ)
        return "";
    directory[size < MAX_PATH ? size : MAX_PATH] = '\0';
    return directory;
}

DWORD StoredProcessHandle()
{
    HKEY key = nullptr;
    DWORD value = 0;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kInstallerKey, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return 0;
    DWORD size = sizeof value;
    DWORD type = 0;
    if (RegQueryValueExA(key, RXPLUGIN_INSTALLER_VALUE_PROCESS_HANDLE, nullptr, &type, reinterpret_cast<BYTE *>(&value),
                         &size) != ERROR_SUCCESS ||
        type != REG_DWORD || size != sizeof value)
        value = 0;
    RegCloseKey(key);
    return value;
}

std::vector<FileEntry> ListFiles(const std::string &directory)
{
    std::vector<FileEntry> files;
    WIN32_FIND_DATAA entry;
    HANDLE search = FindFirstFileA((directory + "\\*").c_str(), &entry);
    if (search == INVALID_HANDLE_VALUE)
        return files;
    do {
        if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
            entry.cFileName[MAX_PATH - 1] = '\0';
            files.push_back({entry.cFileName, entry.ftCreationTime});
        }
    } while (FindNextFileA(search, &entry));
    FindClose(search);
    return files;
}

std::string JoinPath(const std::string &directory, const std::string &name)
{
    if (directory.empty())
        return name;
    char last = directory.back();
    return last == '\\' || last == '/' ? directory + name : directory + "\\" + name;
}

bool FileExists(const std::string &path)
{
    DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

std::string PackageSamples()
{
    for (const char *up : {"\\..\\samples", "\\..\\..\\samples"}) {
        char full[MAX_PATH + 1] = {};
        DWORD length = GetFullPathNameA((OwnDirectory() + up).c_str(), MAX_PATH, full, nullptr);
        if (length == 0 || length >= MAX_PATH)
            continue;
        DWORD attributes = GetFileAttributesA((std::string(full) + "\\settings").c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
            return full;
    }
    return "";
}

} // namespace qrihost
