// Policy enforcement: unless the reboot event is set, the previous engine
// still runs or everything is installed, writes the Master, MSI and Fenwa
// scripts and starts the installer engine on the Master script.
#include <cstring>

#include "common/setting_source.h"
#include "common/text.h"
#include "common/trace.h"
#include "common/unique.h"
#include "plugin/enforcement.h"
#include "registry/installer_key.h"
#include "script/generator.h"
#include "script/policy_script_names.h"

namespace qri {

namespace {

struct PolicyScriptKind {
    const char *module;
    const char *scriptPrefix;
    const char *message;
};

const PolicyScriptKind kPolicyScripts[kPolicyScriptCount] = {
    {RXPLUGIN_MODULE_MASTER, "MAS", "Generate Master.qrs"},
    {RXPLUGIN_MODULE_MSI, "MSI", "Generate MSI.qrs"},
    {RXPLUGIN_MODULE_FENWA, "FNW", "Generate Fenwa.qrs"},
};

const char *const kRunFlags[] = {RXPLUGIN_INSTALLER_VALUE_MSI_RUN, RXPLUGIN_INSTALLER_VALUE_UNINSTALLER_RUN,
                                RXPLUGIN_INSTALLER_VALUE_OAS_RUN};

// Kept open for the life of the process: it keeps the named event in
// existence between enforcements and is inherited by the engines started.
HANDLE g_rebootEventCreationHandle = nullptr;

// The engine process handle that this process stored in dwProcessHandle; only
// this value may ever be closed when the stored value is reset.
HANDLE volatile g_storedEngineProcess = nullptr;

void CreateRebootEvent()
{
    SECURITY_DESCRIPTOR descriptor;
    // Present but null DACL: every process may open and set the event. When
    // that cannot be said, no event is made: one that others could not set
    // would hide a pending reboot. The open that follows fails, and so does
    // the enforcement.
    if (!InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION) ||
        !SetSecurityDescriptorDacl(&descriptor, TRUE, nullptr, FALSE))
        return;
    SECURITY_ATTRIBUTES attributes = {sizeof attributes, &descriptor, TRUE};
    // Never closed. While the first one is held the event exists, so a later
    // creation happens only when opening it failed for want of access.
    // Failing: as above.
    HANDLE created = CreateEventA(&attributes, TRUE, FALSE, kRebootEventName);
    if (g_rebootEventCreationHandle == nullptr)
        g_rebootEventCreationHandle = created;
    else if (created != nullptr)
        CloseHandle(created); // harmless if it fails: the first handle keeps the event
}

HANDLE OpenRebootEvent()
{
    // Failing: the caller creates it, and fails the enforcement when it still cannot open it.
    return OpenEventA(SYNCHRONIZE, FALSE, kRebootEventName);
}

// dwProcessHandle as stored; a missing, failed or short read counts as 0.
DWORD ReadStoredProcessHandle(HKEY key)
{
    DWORD value = 0;
    DWORD size = sizeof value;
    // Failing reads as no previous run, as a missing value does.
    if (RegQueryValueExA(key, kProcessHandleValue, nullptr, nullptr, reinterpret_cast<BYTE *>(&value), &size) !=
            ERROR_SUCCESS ||
        size != sizeof value)
        return 0;
    return value;
}

// Set while the last write of dwProcessHandle failed: the value may then name
// an engine that ended, or none while ours runs, and this process's memory
// of its engine is the better word until a write succeeds again.
bool g_storedValueStale = false;

bool WriteStoredProcessHandle(HKEY key, DWORD value)
{
    LONG status =
        RegSetValueExA(key, kProcessHandleValue, 0, REG_DWORD, reinterpret_cast<const BYTE *>(&value), sizeof value);
    g_storedValueStale = status != ERROR_SUCCESS;
    if (g_storedValueStale) {
        char failure[kPathCapacity];
        FormatBounded(failure, sizeof failure, "Failed to store the process handle, error %ld", status);
        Trace(failure);
    }
    return !g_storedValueStale;
}

// The value that names the previous run's engine: dwProcessHandle, or this
// process's own engine when that value could not be written.
DWORD PreviousRunValue(HKEY key)
{
    if (!g_storedValueStale)
        return ReadStoredProcessHandle(key);
    return static_cast<DWORD>(reinterpret_cast<ULONG_PTR>(g_storedEngineProcess));
}

// The handle of an ended run is closed only when it is the one this process
// stored, and never when the system said it is no handle at all. The handle
// is forgotten before it is closed: an enforcement whose thread is ended in
// between leaks it rather than leaving a closed value to be closed again.
void ForgetEndedRun(DWORD storedValue, bool queryFailedAsNoHandle)
{
    HANDLE stored = reinterpret_cast<HANDLE>(static_cast<ULONG_PTR>(storedValue));
    if (g_storedEngineProcess == nullptr || stored != g_storedEngineProcess)
        return;
    HANDLE ended = InterlockedExchangePointer(&g_storedEngineProcess, nullptr);
    if (!queryFailedAsNoHandle)
        CloseHandle(ended); // forgotten either way: nothing to undo
}

int ReadRunFlag(HKEY key, const char *name)
{
    // One spare byte: text stored without its zero is terminated safely.
    char text[kPathCapacity + 1] = {};
    DWORD size = kPathCapacity;
    // Failing reads as 0, as a missing flag does: the scripts are written.
    if (RegQueryValueExA(key, name, nullptr, nullptr, reinterpret_cast<BYTE *>(text), &size) != ERROR_SUCCESS)
        return 0;
    text[size <= kPathCapacity ? size : kPathCapacity] = '\0';
    return ParseDecimal(text);
}

// Steps from the reboot event on; the key and the directory are open and read.
int EnforceWithKey(HKEY key, const char *directory, const char *softwareId, RXPLUGIN_PolicySettingReader reader)
{
    Trace("Opening reboot event");
    UniqueHandle rebootEvent(OpenRebootEvent());
    if (!rebootEvent) {
        Trace("Creating reboot event");
        CreateRebootEvent();
        Trace("Opening reboot event (after creating it)");
        rebootEvent.reset(OpenRebootEvent());
        if (!rebootEvent)
            return 0;
    }
    // Only a set event stops the run; a failed test of a handle just opened
    // reads as not set.
    if (WaitForSingleObject(rebootEvent.get(), 0) == WAIT_OBJECT_0) {
        Trace("Reboot event is set. Quit policy enforcement.");
        return 0;
    }

    Trace("Get the process handle");
    DWORD storedValue = PreviousRunValue(key);
    if (storedValue != 0) {
        DWORD exitCode = 0;
        // Failing reads as ended: the value names no engine that could be waited for.
        BOOL queried = GetExitCodeProcess(reinterpret_cast<HANDLE>(static_cast<ULONG_PTR>(storedValue)), &exitCode);
        DWORD queryError = queried ? ERROR_SUCCESS : GetLastError();
        if (queried && exitCode == STILL_ACTIVE) {
            Trace("Previous Vesk is still running. Quit policy enforcement");
            return 0;
        }
        Trace("Reset the process handle");
        // Still named by the value: the handle stays open, so that the value
        // cannot come to name another process's handle.
        if (WriteStoredProcessHandle(key, 0))
            ForgetEndedRun(storedValue, queryError == ERROR_INVALID_HANDLE);
    }

    Trace("Get the status from the registry");
    bool allInstalled = true;
    for (const char *flag : kRunFlags) {
        if (ReadRunFlag(key, flag) == 0)
            allInstalled = false;
    }
    if (allInstalled) {
        Trace("Everything is installed, do not run VESK");
        return 1;
    }

    for (int script = 0; script < kPolicyScriptCount; ++script) {
        if (!MakeScriptName(directory, kPolicyScripts[script].scriptPrefix, g_policyScriptNames[script])) {
            // The names made before it are empty files that nothing will use.
            for (int made = 0; made < script; ++made)
                RemoveScript(g_policyScriptNames[made]);
            return 1;
        }
    }
    SettingSource source = {nullptr, reader, const_cast<char *>(softwareId), 0};
    for (int script = 0; script < kPolicyScriptCount; ++script) {
        Trace(kPolicyScripts[script].message);
        // The Master script names the other two: one lost script loses the
        // run, and all three go, as they hold what room is left.
        if (ScriptUnusable(GenerateScript(source, kPolicyScripts[script].module, g_policyScriptNames[script]))) {
            for (char *name : g_policyScriptNames)
                RemoveScript(name);
            return 0;
        }
    }

    Trace("Launching VESK");
    char commandLine[kCommandLineCapacity];
    bool lineFits =
        FormatEngineCommandLine(commandLine, sizeof commandLine, directory, g_policyScriptNames[kMasterScript]);
    Trace(commandLine);
    PROCESS_INFORMATION process = {};
    if (!lineFits)
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
    if (!lineFits || !StartEngine(directory, commandLine, &process)) {
        char failure[kPathCapacity];
        FormatBounded(failure, sizeof failure, "Failed to create the process, error %d",
                      static_cast<int>(GetLastError()));
        Trace(failure);
        return 1;
    }
    Trace("Store the process handle");
    // Remembered before it is stored and before the earlier one is closed, so
    // that an enforcement ended at any point here leaves nothing to close
    // twice. A handle remembered from an earlier launch is no longer named by
    // the registry (the stored value was reset or rewritten since), so
    // nothing else can reach it.
    HANDLE earlier = InterlockedExchangePointer(&g_storedEngineProcess, process.hProcess);
    // A failed write leaves the engine running and known to this process
    // only (PreviousRunValue): stopping an installer midway would be worse.
    WriteStoredProcessHandle(key, static_cast<DWORD>(reinterpret_cast<ULONG_PTR>(process.hProcess)));
    // Failures leave nothing to undo: both are forgotten either way.
    CloseHandle(process.hThread);
    if (earlier != nullptr)
        CloseHandle(earlier);
    return 1;
}

} // namespace

int EnforcePolicy(const char *softwareId, RXPLUGIN_PolicySettingReader reader)
{
    bool argumentsGiven = softwareId != nullptr && softwareId[0] != '\0' && reader != nullptr;
    Trace("Enforcing policies");
    if (!argumentsGiven)
        return 0;

    UniqueHkey key;
    // Failing: 0, nothing written and nothing started.
    if (RegOpenKeyA(HKEY_LOCAL_MACHINE, kInstallerKeyPath, key.put()) != ERROR_SUCCESS || !key)
        return 0;
    char directory[kPathCapacity];
    if (!GetInstallerDirectory(directory, sizeof directory))
        return 0;
    return EnforceWithKey(key.get(), directory, softwareId, reader);
}

} // namespace qri
