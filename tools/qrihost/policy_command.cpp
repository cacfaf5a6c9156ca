// qrihost policy: enforces a product's policy from settings files and waits,
// if asked, for the engine whose handle the plug-in stored.
#include "commands.h"

#include <cstdio>

#include "files.h"
#include "show_scripts.h"

namespace qrihost {

namespace {

// The software ID names a file in DIR: no path of its own.
bool UsableSoftwareId(const std::string &id)
{
    return !id.empty() && id.size() < MAX_PATH && id.find_first_of("\\/:*?\"<>|") == std::string::npos && id != "." &&
           id != "..";
}

std::string AgentSoftwareId()
{
    std::string ini = OwnDirectory() + "\\" RXPLUGIN_AGENT_INI;
    char id[MAX_PATH] = {};
    GetPrivateProfileStringA(RXPLUGIN_AGENT_INI_SECTION, RXPLUGIN_AGENT_INI_KEY_SOFTWARE_ID, RXPLUGIN_DEFAULT_AGENT_ID,
                             id, sizeof id, ini.c_str());
    id[sizeof id - 1] = '\0';
    return id;
}


int WaitForEngine(DWORD handleValue)
{
    HANDLE engine = reinterpret_cast<HANDLE>(static_cast<ULONG_PTR>(handleValue));
    DWORD code = 0;
    if (handleValue == 0 || !GetExitCodeProcess(engine, &code)) {
        Out("--wait: dwProcessHandle (0x%lx) names no installer engine of this process: nothing to wait for\n",
            static_cast<unsigned long>(handleValue));
        return kDone;
    }
    CtrlCGuard ctrlC;
    DWORD started = GetTickCount();
    char line[128];
    while (WaitForSingleObject(engine, kPollMs) == WAIT_TIMEOUT) {
        if (Interrupted()) {
            Out("--wait: interrupted after %.1f s; the installer engine goes on running\n",
                (GetTickCount() - started) / 1000.0);
            return kStopped;
        }
        std::snprintf(line, sizeof line, "waiting for the installer engine: %.1f s", (GetTickCount() - started) / 1000.0);
        ShowLiveLine(line);
    }
    GetExitCodeProcess(engine, &code);
    Out("--wait: the installer engine ended after %.1f s with exit code %lu\n", (GetTickCount() - started) / 1000.0,
        static_cast<unsigned long>(code));
    return kDone;
}

} // namespace

int LoadPolicySettings(const Options &options, PolicySettings *policy)
{
    std::string error;
    policy->productId = options.arguments[0];
    if (!UsableSoftwareId(policy->productId))
        return UsageError("\"%s\" cannot be a software ID: it names the file SOFTWARE_ID.ini",
                          policy->productId.c_str());
    std::string directory = options.settingsDir.empty() ? "." : options.settingsDir;
    // Run from an unpacked package, the demo's settings are found without --settings.
    std::string samples = PackageSamples();
    if (options.settingsDir.empty() && !FileExists(JoinPath(directory, policy->productId + ".ini")) &&
        !samples.empty() && FileExists(JoinPath(samples + "\\settings", policy->productId + ".ini"))) {
        directory = samples + "\\settings";
        Out("qrihost: no %s.ini in the current folder; the package's %s is used\n", policy->productId.c_str(),
            directory.c_str());
    }
    if (!LoadSettings(JoinPath(directory, policy->productId + ".ini"), &policy->product, &error)) {
        Err("%s\n", error.c_str());
        return kBadSettings;
    }
    policy->agentId = AgentSoftwareId();
    std::string agentPath = JoinPath(directory, policy->agentId + ".ini");
    if (lstrcmpiA(policy->agentId.c_str(), policy->productId.c_str()) == 0) {
        // One file serves both IDs: the product's answers the agent's reads.
    } else if (GetFileAttributesA(agentPath.c_str()) == INVALID_FILE_ATTRIBUTES) {
        Err("qrihost: warning: no %s: the agent's reboot settings (ID %s) read as not found\n", agentPath.c_str(),
            policy->agentId.c_str());
    } else if (!LoadSettings(agentPath, &policy->agent, &error)) {
        Err("%s\n", error.c_str());
        return kBadSettings;
    } else {
        policy->agentLoaded = true;
    }
    return kDone;
}

int RunPolicy(const Options &options, const Plugin &plugin, PolicySettings &settings, TraceView &trace)
{
    ScriptWatch watch = WatchScripts(options.showScripts);
    AnswerPolicyFrom(&settings);
    int result = plugin.EnforcePolicy(settings.productId.c_str(), ReadPolicySetting);
    trace.Flush();
    AnswerPolicyFrom(nullptr);
    DWORD handleValue = StoredProcessHandle();
    if (result != 0)
        Out("RXPLUGIN_EnforcePolicy(\"%s\"): %d: the enforcement ran its course\n", settings.productId.c_str(), result);
    else
        Out("RXPLUGIN_EnforcePolicy(\"%s\"): 0: stopped early, see the trace\n", settings.productId.c_str());
    Out("dwProcessHandle: 0x%lx%s\n", static_cast<unsigned long>(handleValue),
        handleValue == 0 ? " (no installer engine recorded)" : "");
    ShowNewScripts(watch);
    if (result == 0)
        return kResultZero;
    return options.wait ? WaitForEngine(handleValue) : kDone;
}

} // namespace qrihost
