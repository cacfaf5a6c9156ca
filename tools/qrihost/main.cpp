// qrihost: the reference management agent. Loads QRIPLUGN.dll, answers its
// readers from INI files, shows its trace live from the debug-output channel
// and runs one export per subcommand. Built against the ABI header alone.
#include <windows.h>

#include <cstdio>
#include <string>

#include "command_line.h"
#include "commands.h"
#include "console.h"
#include "plugin.h"
#include "readers.h"
#include "settings.h"

namespace qrihost {
namespace {

int Run(int argc, char **argv)
{
    Options options;
    int status = ParseCommandLine(argc, argv, &options);
    if (status != kDone)
        return status;
    if (options.help) {
        Out("%s", HelpText(options.command));
        return kDone;
    }
    if (options.command == "demo-setup")
        return RunDemoSetup(options);

    // Every settings file is read before the DLL is touched.
    PolicySettings policy;
    SettingsFile task;
    if (options.command == "policy")
        status = LoadPolicySettings(options, &policy);
    else if (options.command == "task")
        status = LoadTaskSettings(options, &task);
    if (status != kDone)
        return status;

    Plugin plugin;
    if (!LoadPlugin(options.dllPath, &plugin))
        return kUnusableDll;
    // The channel must exist before the first export: a quiet trace speaks
    // only when it finds a listener.
    TraceView trace;
    StartTrace(options.quiet, &trace);
    if (options.command == "properties")
        return RunProperties(plugin, trace);
    if (options.command == "installed")
        return RunInstalled(plugin, trace);
    if (options.command == "policy")
        return RunPolicy(options, plugin, policy, trace);
    return RunTask(options, plugin, task, trace);
}

} // namespace
} // namespace qrihost

int main(int argc, char **argv)
{
    qrihost::InitConsole();
    int status = qrihost::Run(argc, argv);
    std::fflush(stdout);
    return status;
}
