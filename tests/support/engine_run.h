// Helpers for tests that start the stand-in engine: an event it can wait on,
// ending a process by its handle, handle liveness, directory listings, and an
// installer directory with a long path.
#pragma once

#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "support/scratch.h"

namespace qritest {

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
inline bool FinishProcess(HANDLE process, DWORD timeoutMs = 10000)
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

// An installer directory whose path has exactly `length` characters (a padded
// subdirectory of a scratch directory), registered in a fresh installer key,
// with the five generic scripts and the stand-in engine as QRI.exe. Keep
// length at 247 or below: longer directories break temporary names under Wine.
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
        for (const char *module : {"Master", "MSI", "Fenwa", "AutoUpdate", "Replicate"})
            WriteFileBytes(directory_ + "\\" + module + ".gen", InstallerFixture::GenericContent(module));
        InstallStandinEngine(directory_);
    }
    const std::string &Directory() const { return directory_; }
    std::string Engine() const { return directory_ + "\\QRI.exe"; }

    ScratchInstallerKey key;

  private:
    ScratchDir base_;
    std::string directory_;
};

// The engine that a policy enforcement of this process started and stored
// in dwProcessHandle: waited for (ended when it hangs) and its handle closed,
// the stored value set back to 0. Nothing when the value is 0 or absent.
inline void EndStoredEngine(ScratchInstallerKey &key)
{
    DWORD value = key.GetDword("dwProcessHandle", 0);
    if (value == 0)
        return;
    HANDLE engine = reinterpret_cast<HANDLE>(static_cast<ULONG_PTR>(value));
    FinishProcess(engine);
    CloseHandle(engine);
    key.SetDword("dwProcessHandle", 0);
}

} // namespace qritest
