// Scratch resources for tests.
#include "support/scratch.h"

#include <gtest/gtest.h>

#include <cstdio>

namespace qritest {

ScratchInstallerKey::ScratchInstallerKey()
{
    DeleteKey();
    LONG status = RegCreateKeyExA(HKEY_LOCAL_MACHINE, kInstallerKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key_,
                                  nullptr);
    EXPECT_EQ(status, ERROR_SUCCESS) << "cannot create the installer key";
}

ScratchInstallerKey::~ScratchInstallerKey()
{
    if (key_ != nullptr)
        RegCloseKey(key_);
    DeleteKey();
}

void ScratchInstallerKey::DeleteKey()
{
    RegDeleteTreeA(HKEY_LOCAL_MACHINE, kInstallerKey);
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, kInstallerKey);
}

void ScratchInstallerKey::SetText(const std::string &name, const std::string &value)
{
    SetRaw(name, REG_SZ, std::string(value.c_str(), value.size() + 1));
}

void ScratchInstallerKey::SetDword(const std::string &name, DWORD value)
{
    SetRaw(name, REG_DWORD, std::string(reinterpret_cast<const char *>(&value), sizeof value));
}

void ScratchInstallerKey::SetRaw(const std::string &name, DWORD type, const std::string &bytes)
{
    LONG status = RegSetValueExA(key_, name.c_str(), 0, type, reinterpret_cast<const BYTE *>(bytes.data()),
                                 static_cast<DWORD>(bytes.size()));
    ASSERT_EQ(status, ERROR_SUCCESS) << "cannot set " << name;
}

bool ScratchInstallerKey::Has(const std::string &name) const
{
    return RegQueryValueExA(key_, name.c_str(), nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
}

DWORD ScratchInstallerKey::GetDword(const std::string &name, DWORD fallback) const
{
    DWORD value = 0;
    DWORD size = sizeof value;
    if (RegQueryValueExA(key_, name.c_str(), nullptr, nullptr, reinterpret_cast<BYTE *>(&value), &size) !=
        ERROR_SUCCESS)
        return fallback;
    return value;
}

void ScratchInstallerKey::Remove(const std::string &name)
{
    RegDeleteValueA(key_, name.c_str());
}

ScratchDir::ScratchDir(const std::string &prefix)
{
    char temp[MAX_PATH] = {};
    GetTempPathA(sizeof temp, temp);
    static unsigned counter = 0;
    for (;;) {
        char name[MAX_PATH];
        std::snprintf(name, sizeof name, "%s%s-%lu-%u", temp, prefix.c_str(), GetCurrentProcessId(), ++counter);
        if (CreateDirectoryA(name, nullptr)) {
            path_ = name;
            return;
        }
        if (GetLastError() != ERROR_ALREADY_EXISTS) {
            ADD_FAILURE() << "cannot create " << name << " error " << GetLastError();
            return;
        }
    }
}

ScratchDir::~ScratchDir()
{
    if (!path_.empty())
        RemoveTree(path_);
}

void RemoveTree(const std::string &path)
{
    WIN32_FIND_DATAA entry;
    HANDLE search = FindFirstFileA((path + "\\*").c_str(), &entry);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            std::string name = entry.cFileName;
            if (name == "." || name == "..")
                continue;
            std::string full = path + "\\" + name;
            if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                RemoveTree(full);
            else
                DeleteFileA(full.c_str());
        } while (FindNextFileA(search, &entry));
        FindClose(search);
    }
    RemoveDirectoryA(path.c_str());
}

void WriteFileBytes(const std::string &path, const std::string &bytes)
{
    FILE *out = std::fopen(path.c_str(), "wb");
    ASSERT_NE(out, nullptr) << "cannot write " << path;
    std::fwrite(bytes.data(), 1, bytes.size(), out);
    std::fclose(out);
}

std::string ReadFileBytes(const std::string &path)
{
    std::string bytes;
    FILE *in = std::fopen(path.c_str(), "rb");
    if (in == nullptr)
        return bytes;
    char chunk[4096];
    std::size_t got;
    while ((got = std::fread(chunk, 1, sizeof chunk, in)) > 0)
        bytes.append(chunk, got);
    std::fclose(in);
    return bytes;
}

bool PathExists(const std::string &path)
{
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::string TestBinDirectory()
{
    char path[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, path, sizeof path - 1);
    std::string directory = path;
    return directory.substr(0, directory.find_last_of('\\'));
}

void InstallStandinEngine(const std::string &directory, const std::string &fileName)
{
    std::string source = TestBinDirectory() + "\\standin_engine.exe";
    std::string target = directory + "\\" + fileName;
    ASSERT_TRUE(CopyFileA(source.c_str(), target.c_str(), FALSE)) << "cannot install " << target;
}

void SetStandinMode(const std::string &enginePath, const std::string &mode)
{
    WriteFileBytes(enginePath + ".mode", mode);
}

std::string WaitForStandinRecord(const std::string &enginePath, DWORD timeoutMs)
{
    std::string seen = enginePath + ".seen";
    DWORD start = GetTickCount();
    for (;;) {
        // The record is renamed into place whole, but under Wine it may not
        // open at the first try: read again rather than report it missing.
        std::string record = ReadFileBytes(seen);
        if (!record.empty())
            return record;
        if (GetTickCount() - start > timeoutMs)
            return "";
        Sleep(20);
    }
}

std::string RecordField(const std::string &record, const std::string &field)
{
    std::string marker = field + "=";
    std::size_t at = record.find(marker);
    if (at == std::string::npos)
        return "";
    at += marker.size();
    return record.substr(at, record.find('\n', at) - at);
}

InstallerFixture::InstallerFixture(const std::string &prefix) : directory(prefix)
{
    key.SetText("Installation Directory", directory.Path());
    for (const char *module : {"Master", "MSI", "Fenwa", "AutoUpdate", "Replicate"})
        WriteFileBytes(directory.Join(std::string(module) + ".gen"), GenericContent(module));
}

std::string InstallerFixture::GenericContent(const std::string &module)
{
    return "; " + module + " generic\r\n[Script]\r\n";
}

} // namespace qritest
