// Scratch resources for tests: the installer registry key created fresh and
// deleted afterwards, temporary directories, files, and the stand-in engine.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace qritest {

constexpr const char kInstallerKey[] = "SOFTWARE\\Quorvane\\ZDR\\Shared Components\\QRI_FW";

// Deletes any leftover installer key, creates it empty, deletes it with all
// its values on destruction.
class ScratchInstallerKey {
public:
    ScratchInstallerKey();
    ~ScratchInstallerKey();
    ScratchInstallerKey(const ScratchInstallerKey &) = delete;
    ScratchInstallerKey &operator=(const ScratchInstallerKey &) = delete;

    void SetText(const std::string &name, const std::string &value); // REG_SZ with its zero
    void SetDword(const std::string &name, DWORD value);
    void SetRaw(const std::string &name, DWORD type, const std::string &bytes);
    bool Has(const std::string &name) const;
    // The DWORD stored under name; fallback when absent.
    DWORD GetDword(const std::string &name, DWORD fallback = 0xdeadbeef) const;
    void Remove(const std::string &name);

    // Deletes the whole key now (for "key absent" cases).
    static void DeleteKey();

private:
    HKEY key_ = nullptr;
};

// A new directory under the Windows temporary directory, removed with its
// content on destruction. prefix keeps paths recognisable; extra may hold
// blanks or pad the length.
class ScratchDir {
public:
    explicit ScratchDir(const std::string &prefix = "qri");
    ~ScratchDir();
    ScratchDir(const ScratchDir &) = delete;
    ScratchDir &operator=(const ScratchDir &) = delete;

    const std::string &Path() const { return path_; }
    std::string Join(const std::string &name) const { return path_ + "\\" + name; }

private:
    std::string path_;
};

void RemoveTree(const std::string &path);
void WriteFileBytes(const std::string &path, const std::string &bytes);
std::string ReadFileBytes(const std::string &path);
bool PathExists(const std::string &path);
std::string TestBinDirectory();

// Copies the stand-in engine into directory as QRI.exe (or as fileName).
void InstallStandinEngine(const std::string &directory, const std::string &fileName = "QRI.exe");
// "exit N" or "wait EVENTNAME": what the engine at enginePath does after it started.
void SetStandinMode(const std::string &enginePath, const std::string &mode);
// Waits up to timeoutMs for "<enginePath>.seen" and returns it, "" when none came.
// The default bound is generous: a process start in an emulated guest is slow.
std::string WaitForStandinRecord(const std::string &enginePath, DWORD timeoutMs = 60000);
// The value of "field=" in a record ("commandline" or "cwd").
std::string RecordField(const std::string &record, const std::string &field);

// The installer directory that the five generic scripts and the engine live
// in, registered in a fresh installer key.
class InstallerFixture {
public:
    explicit InstallerFixture(const std::string &prefix = "inst");
    ScratchInstallerKey key;
    ScratchDir directory;
    // Generic script content written for each module: "<module> generic\r\n".
    static std::string GenericContent(const std::string &module);
};

using Arrange = std::function<void(InstallerFixture &)>;

// An arrangement that stores each (name, text) in the installer key, in order.
inline Arrange TextValues(const std::vector<std::pair<std::string, std::string>> &values)
{
    return [values](InstallerFixture &installer) {
        for (const auto &value : values)
            installer.key.SetText(value.first, value.second);
    };
}

} // namespace qritest
