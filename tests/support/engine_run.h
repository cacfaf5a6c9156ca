// Helpers for tests of task and policy enforcement: installer directories
// with the stand-in engine (also with a long path), the reboot event and the
// stored engine handle, an event the engine can wait on, ending a process by
// its handle, handle liveness and directory listings.
#pragma once

#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "support/scratch.h"

namespace qritest {

constexpr char kRebootEvent[] = "{5C0E93A7-41B2-4F6D-9A3E-D27B6C18F4A5}";
constexpr char kSoftwareId[] = "oProduct1000";
constexpr char kProcessHandle[] = "dwProcessHandle";
// A value that names no handle of this process (checked where used).
constexpr DWORD kMadeUpHandle = 0x0badf00c;

inline HANDLE AsHandle(DWORD value)
{
    return reinterpret_cast<HANDLE>(static_cast<ULONG_PTR>(value));
}

inline bool RebootEventExists()
{
    HANDLE event = OpenEventA(SYNCHRONIZE, FALSE, kRebootEvent);
    if (event == nullptr)
        return false;
    CloseHandle(event);
    return true;
}

// Values of the stored engine handle that name no engine this process
// started. Only a DWORD can name one, and only a handle value is reset.
struct StoredValue {
    const char *name;
    DWORD type;
    std::string bytes; // empty: absent
    bool reset;
};

inline std::vector<StoredValue> StoredValuesOfNoEngine()
{
    return {
        {"absent", REG_NONE, "", false},
        {"DWORD 0", REG_DWORD, std::string(4, '\0'), false},
        {"made-up handle value", REG_DWORD, std::string(reinterpret_cast<const char *>(&kMadeUpHandle), 4), true},
        {"two bytes", REG_BINARY, std::string("\x0c\xf0", 2), false},
        {"eight bytes", REG_BINARY, std::string("\x0c\xf0\xad\x0b\x00\x00\x00\x00", 8), false},
        {"text", REG_SZ, std::string("12345678", 9), false},
    };
}

// The command line the engine is started with.
inline std::string EngineCommandLine(const std::string &directory, const std::string &scriptPath)
{
    return directory + "\\QRI.exe /SCRIPT \"" + scriptPath + "\"";
}

// A manual-reset event with a name unique to this process, for
// SetStandinMode(engine, "wait " + Name()). Set when it goes, so that no
// engine outlives the test waiting on it.
class ReleaseEvent {
  public:
    ReleaseEvent()
    {
        static unsigned counter = 0;
        char name[64];
        std::snprintf(name, sizeof name, "qri-release-%lu-%u", GetCurrentProcessId(), ++counter);
        name_ = name;
        handle_ = CreateEventA(nullptr, TRUE, FALSE, name);
    }
    ~ReleaseEvent()
    {
        if (handle_ != nullptr) {
            SetEvent(handle_);
            CloseHandle(handle_);
        }
    }
    ReleaseEvent(const ReleaseEvent &) = delete;
    ReleaseEvent &operator=(const ReleaseEvent &) = delete;

    const std::string &Name() const { return name_; }
    std::string WaitMode() const { return "wait " + name_; }
    bool Valid() const { return handle_ != nullptr; }
    void Set() { SetEvent(handle_); }

  private:
    std::string name_;
    HANDLE handle_ = nullptr;
};

// Waits for the process to end; ends it when it does not within timeoutMs.
// True when it ended on its own.
inline bool FinishProcess(HANDLE process, DWORD timeoutMs = 60000)
{
    if (WaitForSingleObject(process, timeoutMs) == WAIT_OBJECT_0)
        return true;
    TerminateProcess(process, 1);
    WaitForSingleObject(process, timeoutMs);
    return false;
}

// GetProcessHandleCount says nothing under Wine; this fails once a handle is closed.
inline bool HandleIsOpen(HANDLE handle)
{
    DWORD flags = 0;
    return GetHandleInformation(handle, &flags) != FALSE;
}

// Names (not paths) of the entries of directory that match pattern, sorted.
inline std::vector<std::string> ListFiles(const std::string &directory, const std::string &pattern = "*")
{
    std::vector<std::string> names;
    WIN32_FIND_DATAA entry;
    HANDLE search = FindFirstFileA((directory + "\\" + pattern).c_str(), &entry);
    if (search == INVALID_HANDLE_VALUE)
        return names;
    do {
        std::string name = entry.cFileName;
        if (name != "." && name != "..")
            names.push_back(name);
    } while (FindNextFileA(search, &entry));
    FindClose(search);
    std::sort(names.begin(), names.end());
    return names;
}

// The names of after that before does not hold, in after's order.
inline std::vector<std::string> Added(const std::vector<std::string> &before, const std::vector<std::string> &after)
{
    std::vector<std::string> added;
    for (const std::string &name : after) {
        bool known = false;
        for (const std::string &old : before)
            known = known || old == name;
        if (!known)
            added.push_back(name);
    }
    return added;
}

// The full path of the one entry of directory that matches pattern.
inline std::string OnlyFile(const std::string &directory, const std::string &pattern)
{
    std::vector<std::string> names = ListFiles(directory, pattern);
    EXPECT_EQ(names.size(), 1u) << pattern;
    return names.empty() ? "" : directory + "\\" + names[0];
}

// The Windows temporary directory without its trailing backslash.
inline std::string TempDirectory()
{
    char temp[MAX_PATH] = {};
    GetTempPathA(sizeof temp, temp);
    std::string path = temp;
    if (!path.empty() && path.back() == '\\')
        path.pop_back();
    return path;
}

// A stand-in engine at "<temp>\\<name>.exe": what an installer directory
// "<temp>\\<name> dir..." would start if its path were split at the blank.
// Removed with its record.
class PrefixDecoy {
  public:
    explicit PrefixDecoy(const std::string &name) : path_(TempDirectory() + "\\" + name + ".exe")
    {
        DeleteFileA((path_ + ".seen").c_str());
        InstallStandinEngine(TempDirectory(), name + ".exe");
    }
    ~PrefixDecoy()
    {
        DeleteFileA(path_.c_str());
        DeleteFileA((path_ + ".seen").c_str());
    }
    PrefixDecoy(const PrefixDecoy &) = delete;
    PrefixDecoy &operator=(const PrefixDecoy &) = delete;

    const std::string &Path() const { return path_; }
    bool Ran() const { return PathExists(path_ + ".seen"); }

  private:
    std::string path_;
};

// InstallerFixture with the stand-in engine as QRI.exe.
struct EngineInstallation {
    explicit EngineInstallation(const std::string &prefix = "inst") : installer(prefix)
    {
        InstallStandinEngine(Directory());
    }
    const std::string &Directory() const { return installer.directory.Path(); }
    std::string Join(const std::string &name) const { return installer.directory.Join(name); }
    std::string Engine() const { return Join("QRI.exe"); }
    ScratchInstallerKey &Key() { return installer.key; }
    // The stored engine handle value, 0xdeadbeef when absent.
    DWORD Stored() const { return installer.key.GetDword(kProcessHandle); }
    std::vector<std::string> Scripts() const { return ListFiles(Directory(), "*.tmp"); }
    // The three installer run flags; nullptr leaves a flag out.
    void SetFlags(const char *msi, const char *uninstaller, const char *oas)
    {
        const char *names[] = {"MSI_Installer_Run", "Universal_Uninstaller_Run", "OAS_Installer_Run"};
        const char *values[] = {msi, uninstaller, oas};
        for (int i = 0; i < 3; ++i) {
            if (values[i] != nullptr)
                installer.key.SetText(names[i], values[i]);
            else
                installer.key.Remove(names[i]);
        }
    }

    InstallerFixture installer;
};

// An installation whose run flags leave something to install, as policy
// enforcement needs before it generates anything.
struct PolicyInstallation : EngineInstallation {
    explicit PolicyInstallation(const std::string &prefix = "qpol") : EngineInstallation(prefix)
    {
        SetFlags("1", "1", "0");
    }
};

// An installer directory whose path has exactly `length` characters (a padded
// subdirectory of a scratch directory), registered in a fresh installer key,
// with the five generic scripts and the stand-in engine as QRI.exe wherever
// their paths fit in MAX_PATH.
class LongInstallerFixture {
  public:
    explicit LongInstallerFixture(std::size_t length) : base_("ql")
    {
        std::size_t used = base_.Path().size() + 1;
        if (length <= used) {
            ADD_FAILURE() << "scratch directory " << base_.Path() << " too long for " << length;
            return;
        }
        directory_ = base_.Join(std::string(length - used, 'd'));
        if (!CreateDirectoryA(directory_.c_str(), nullptr)) {
            ADD_FAILURE() << "cannot create " << directory_ << " error " << GetLastError();
            return;
        }
        key.SetText("Installation Directory", directory_);
        for (const char *module : {"Master", "MSI", "Fenwa", "AutoUpdate", "Replicate"}) {
            if (Fits(std::string(module) + ".gen"))
                WriteFileBytes(directory_ + "\\" + module + ".gen", InstallerFixture::GenericContent(module));
        }
        if (Fits("QRI.exe.seen"))
            InstallStandinEngine(directory_);
    }
    const std::string &Directory() const { return directory_; }
    std::string Engine() const { return directory_ + "\\QRI.exe"; }

    ScratchInstallerKey key;

  private:
    bool Fits(const std::string &name) const { return directory_.size() + 1 + name.size() < MAX_PATH; }

    ScratchDir base_;
    std::string directory_;
};

// The engine that a policy enforcement of this process started and stored
// in dwProcessHandle: waited for (ended when it hangs) and its handle closed,
// the stored value set back to 0. Nothing when the value is 0 or absent.
inline void EndStoredEngine(ScratchInstallerKey &key)
{
    DWORD value = key.GetDword(kProcessHandle, 0);
    if (value == 0)
        return;
    FinishProcess(AsHandle(value));
    CloseHandle(AsHandle(value));
    key.SetDword(kProcessHandle, 0);
}

} // namespace qritest
