// qrihost demo-setup: a demo installation that the plug-in can run against,
// with the stand-in engine as QRI.exe and the installer registry key.
#include "commands.h"

#include <cstring>

#include "files.h"

namespace qrihost {

namespace {

constexpr const char kDefaultDemoDirectory[] = "C:\\QRIDemo\\Installer";

bool SetText(HKEY key, const char *name, const char *value)
{
    return RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE *>(value),
                          static_cast<DWORD>(std::strlen(value) + 1)) == ERROR_SUCCESS;
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
    if (!CopyFileA(standin.c_str(), engine.c_str(), FALSE)) {
        Err("qrihost: demo-setup: cannot copy %s to %s: %s\n", standin.c_str(), engine.c_str(),
            SystemMessage(GetLastError()).c_str());
        return kSetupFailed;
    }
    // Like a real engine, the stand-in takes a moment, so waits can be seen.
    WriteWholeFile(engine + ".mode", "sleep 1000");

    RegDeleteTreeA(HKEY_LOCAL_MACHINE, kInstallerKey);
    HKEY key = nullptr;
    LONG status =
        RegCreateKeyExA(HKEY_LOCAL_MACHINE, kInstallerKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr);
    if (status != ERROR_SUCCESS) {
        Err("qrihost: demo-setup: cannot create HKLM\\%s: %s\n", kInstallerKey,
            SystemMessage(static_cast<DWORD>(status)).c_str());
        return kSetupFailed;
    }
    bool written = SetText(key, "Installation Directory", directory.c_str()) &&
                   SetText(key, "Product Name", "ZDR Shared Components") && SetText(key, "szProductVer", "1.0.0") &&
                   SetText(key, "Language", "0409") && SetText(key, "Base:Engine", "QRI.exe") &&
                   SetText(key, "Base:Master", "Master.gen") && SetText(key, "MSI_Installer_Run", "1") &&
                   SetText(key, "Universal_Uninstaller_Run", "1") && SetText(key, "OAS_Installer_Run", "0");
    RegCloseKey(key);
    if (!written) {
        Err("qrihost: demo-setup: cannot write the values of HKLM\\%s\n", kInstallerKey);
        return kSetupFailed;
    }
    Out("demo installation in %s (generic scripts, QRI.exe = the stand-in engine), registered under HKLM\\%s\n",
        directory.c_str(), kInstallerKey);
    return kDone;
}

} // namespace qrihost
