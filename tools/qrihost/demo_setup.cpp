// qrihost demo-setup: a demo installation that the plug-in can run against,
// with the stand-in engine as QRI.exe and the installer registry key.
#include "commands.h"

#include <cstring>
#include <string>

#include "files.h"

namespace qrihost {

namespace {

constexpr const char kDefaultDemoDirectory[] = "C:\\QRIDemo\\Installer";

bool SetText(HKEY key, const char *name, const char *value)
{
    return RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE *>(value),
                          static_cast<DWORD>(std::strlen(value) + 1)) == ERROR_SUCCESS;
}

bool OnWindows64()
{
#ifdef _WIN64
    return true;
#else
    BOOL wow64 = FALSE;
    return IsWow64Process(GetCurrentProcess(), &wow64) && wow64;
#endif
}

// The key as regedit shows it in one registry view.
std::string KeyPathInView(REGSAM view)
{
    std::string path = std::string("HKLM\\") + kInstallerKey;
    if (view == KEY_WOW64_32KEY)
        path.insert(std::strlen("HKLM\\SOFTWARE\\"), "WOW6432Node\\");
    return path;
}

// A fresh key in one view: whatever an earlier setup left there goes.
bool WriteInstallerKey(REGSAM view, const std::string &directory)
{
    HKEY key = nullptr;
    LONG status = RegCreateKeyExA(HKEY_LOCAL_MACHINE, kInstallerKey, 0, nullptr, 0, KEY_ALL_ACCESS | view, nullptr,
                                  &key, nullptr);
    if (status != ERROR_SUCCESS) {
        Err("qrihost: demo-setup: cannot create %s: %s\n", KeyPathInView(view).c_str(),
            SystemMessage(static_cast<DWORD>(status)).c_str());
        return false;
    }
    RegDeleteTreeA(key, nullptr);
    bool written = SetText(key, RXPLUGIN_INSTALLER_VALUE_DIRECTORY, directory.c_str()) &&
                   SetText(key, RXPLUGIN_INSTALLER_VALUE_PRODUCT_NAME, "ZDR Shared Components") &&
                   SetText(key, RXPLUGIN_INSTALLER_VALUE_PRODUCT_VERSION, "1.0.0") &&
                   SetText(key, RXPLUGIN_INSTALLER_VALUE_LANGUAGE, "0409") &&
                   SetText(key, RXPLUGIN_INSTALLER_VALUE_BASE_PREFIX "Engine", "QRI.exe") &&
                   SetText(key, RXPLUGIN_INSTALLER_VALUE_BASE_PREFIX "Master", "Master.gen") &&
                   SetText(key, RXPLUGIN_INSTALLER_VALUE_MSI_RUN, "1") &&
                   SetText(key, RXPLUGIN_INSTALLER_VALUE_UNINSTALLER_RUN, "1") &&
                   SetText(key, RXPLUGIN_INSTALLER_VALUE_OAS_RUN, "0");
    RegCloseKey(key);
    if (!written)
        Err("qrihost: demo-setup: cannot write the values of %s\n", KeyPathInView(view).c_str());
    return written;
}

bool MakeDirectories(const std::string &path)
{
    for (std::size_t at = path.find('\\', 3); at != std::string::npos; at = path.find('\\', at + 1))
        CreateDirectoryA(path.substr(0, at).c_str(), nullptr);
    return CreateDirectoryA(path.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS;
}

} // namespace

int RunDemoSetup(const Options &options)
{
    std::string directory = options.arguments.empty() ? kDefaultDemoDirectory : options.arguments[0];
    char full[MAX_PATH + 1] = {};
    DWORD length = GetFullPathNameA(directory.c_str(), MAX_PATH, full, nullptr);
    // The plug-in reads at most 259 characters, and the engine's command line
    // holds the directory twice.
    if (length == 0 || length > 100) {
        Err("qrihost: demo-setup: %s: not a usable directory path (at most 100 characters)\n", directory.c_str());
        return kSetupFailed;
    }
    directory = full;
    while (directory.size() > 3 && directory.back() == '\\')
        directory.pop_back();
    if (!MakeDirectories(directory)) {
        Err("qrihost: demo-setup: cannot create %s: %s\n", directory.c_str(), SystemMessage(GetLastError()).c_str());
        return kSetupFailed;
    }
    // Scripts of earlier runs go, so that each demo starts alike.
    for (const FileEntry &file : ListFiles(directory)) {
        std::size_t dot = file.name.rfind('.');
        if (dot != std::string::npos && lstrcmpiA(file.name.c_str() + dot, ".tmp") == 0)
            DeleteFileA((directory + "\\" + file.name).c_str());
    }
    for (const char *module : {"Master", "MSI", "Fenwa", "AutoUpdate", "Replicate"}) {
        std::string text = std::string("; generic ") + module + " script of the demo installation\r\n[Script]\r\n";
        if (!WriteWholeFile(directory + "\\" + module + ".gen", text)) {
            Err("qrihost: demo-setup: cannot write %s\\%s.gen\n", directory.c_str(), module);
            return kSetupFailed;
        }
    }
    std::string engine = directory + "\\QRI.exe";
    std::string standin = OwnDirectory() + "\\standin_engine.exe";
    bool windows64 = OnWindows64();
#ifdef _WIN64
    bool keepEngine = false;
#else
    // On 64-bit Windows the 64-bit demo's stand-in serves the plug-ins of
    // both widths; the 32-bit one only takes an empty place.
    bool keepEngine = windows64 && FileExists(engine);
#endif
    if (!keepEngine && !CopyFileA(standin.c_str(), engine.c_str(), FALSE)) {
        Err("qrihost: demo-setup: cannot copy %s to %s: %s\n", standin.c_str(), engine.c_str(),
            SystemMessage(GetLastError()).c_str());
        return kSetupFailed;
    }
    // Like a real engine, the stand-in takes a moment, so waits can be seen.
    WriteWholeFile(engine + ".mode", "sleep 1000");

    // A plug-in reads the key in the registry view of its own width: on
    // 64-bit Windows both views get it, so qrihost of either width finds it.
#ifdef _WIN64
    REGSAM ownView = KEY_WOW64_64KEY;
#else
    REGSAM ownView = windows64 ? KEY_WOW64_32KEY : 0;
#endif
    if (!WriteInstallerKey(ownView, directory))
        return kSetupFailed;
    std::string registered = KeyPathInView(ownView);
    if (windows64) {
        REGSAM otherView = ownView == KEY_WOW64_64KEY ? KEY_WOW64_32KEY : KEY_WOW64_64KEY;
        if (!WriteInstallerKey(otherView, directory))
            return kSetupFailed;
        registered = KeyPathInView(KEY_WOW64_64KEY) + " (64-bit view) and " + KeyPathInView(KEY_WOW64_32KEY) +
                     " (32-bit view)";
    }
    Out("demo installation in %s (generic scripts, QRI.exe = %s), registered under %s\n", directory.c_str(),
        keepEngine ? "the stand-in engine already there, kept" : "the stand-in engine", registered.c_str());
    return kDone;
}

} // namespace qrihost
