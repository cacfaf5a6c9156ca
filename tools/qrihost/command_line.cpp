// qrihost's command line: parsing, the checks of which option belongs to
// which command, and the help texts.
#include "command_line.h"

#include <cstdarg>
#include <cstdio>

#include "console.h"
#include "settings.h"

namespace qrihost {

namespace {

const char kUsageText[] =
    "usage: qrihost [--dll PATH] [--quiet] [--show-scripts] COMMAND [ARGS]\n"
    "\n"
    "commands:\n"
    "  properties                      the installed product's properties (RXPLUGIN_GetProperties)\n"
    "  installed                       whether the base files are present (RXPLUGIN_IsSoftwareInstalled)\n"
    "  policy SOFTWARE_ID [--settings DIR] [--wait]\n"
    "                                  enforce DIR\\SOFTWARE_ID.ini (RXPLUGIN_EnforcePolicy)\n"
    "  task FILE.ini [--wait[=SECONDS]] run the task of FILE.ini (RXPLUGIN_EnforceTask)\n"
    "  demo-setup [DIR]                lay out a demo installation and its registry key\n"
    "\n"
    "  --dll PATH       QRIPLUGN.dll to load (default: beside qrihost.exe)\n"
    "  --quiet          do not show the plug-in's trace\n"
    "  --show-scripts   show the scripts the call created, path and text\n"
    "  COMMAND --help   help on one command\n"
    "\n"
    "exit status: 0 done, 1 the export answered 0, 2 usage error, 3 unusable DLL,\n"
    "             4 bad settings file, 5 wait stopped (time-out or Ctrl+C), 6 demo-setup failed\n";

const char kPropertiesHelp[] =
    "usage: qrihost [--dll PATH] [--quiet] properties\n"
    "\n"
    "Calls RXPLUGIN_GetProperties and prints every property the sink receives, in\n"
    "order, with its section, kind (text or number) and byte count.\n"
    "Exit 0 when the installer registry key was read, 1 when the export answered 0.\n";

const char kInstalledHelp[] =
    "usage: qrihost [--dll PATH] [--quiet] installed\n"
    "\n"
    "Calls RXPLUGIN_IsSoftwareInstalled and prints its answer in words.\n"
    "Exit 0 when every base file is present, 1 when the export answered 0.\n";

const char kPolicyHelp[] =
    "usage: qrihost [--dll PATH] [--quiet] [--show-scripts] policy SOFTWARE_ID [--settings DIR] [--wait]\n"
    "\n"
    "Calls RXPLUGIN_EnforcePolicy for SOFTWARE_ID with a reader that answers from\n"
    "DIR\\SOFTWARE_ID.ini (DIR defaults to the current directory, and run from an\n"
    "unpacked package to its samples\\settings when the file is not here). The reboot\n"
    "settings are read under the agent's own ID (Agent.ini beside qrihost.exe,\n"
    "section Agent, key SoftwareID, default oRXAgent1000) from DIR\\<that ID>.ini.\n"
    "  --settings DIR  the folder of the settings files\n"
    "  --wait          wait for the installer engine the enforcement started (the\n"
    "                  handle stored in dwProcessHandle) and print its exit code\n"
    "Exit 0 when the enforcement ran its course, 1 when it stopped early, 4 for a\n"
    "bad settings file, 5 when Ctrl+C ended the wait.\n";

const char kTaskHelp[] =
    "usage: qrihost [--dll PATH] [--quiet] [--show-scripts] task FILE.ini [--wait[=SECONDS]]\n"
    "\n"
    "Calls RXPLUGIN_EnforceTask with a reader that answers from FILE.ini (section\n"
    "Task, key TaskType vkAutoUpdateTask or vkMirrorSiteTask, and the module's\n"
    "sections; a bare file name that is not here is looked for in an unpacked\n"
    "package's samples\\tasks). The task cookie is always freed.\n"
    "  --wait[=SECONDS]  poll RXPLUGIN_GetTaskStatus until the engine ends; after\n"
    "                    SECONDS, or on Ctrl+C, stop it with RXPLUGIN_StopTask\n"
    "Exit 0 when the engine was started (and, with --wait, ended), 1 when the export\n"
    "answered 0 or started no engine, 4 for a bad settings file, 5 when the task was\n"
    "stopped by the time-out or Ctrl+C.\n";

const char kDemoSetupHelp[] =
    "usage: qrihost demo-setup [DIR]\n"
    "\n"
    "Lays out a demo installation in DIR (default C:\\QRIDemo\\Installer): the five\n"
    "generic scripts, the stand-in engine (standin_engine.exe beside qrihost.exe)\n"
    "as QRI.exe (it runs for one second per start: QRI.exe.mode holds \"sleep 1000\"),\n"
    "and the installer registry key with Installation Directory, the product's\n"
    "properties, two base files and the installer run flags 1, 1, 0.\n"
    "On 64-bit Windows the key is written in both registry views (SOFTWARE and\n"
    "SOFTWARE\\WOW6432Node), so that qrihost of either width finds it, and the\n"
    "32-bit qrihost keeps a QRI.exe that is already there (the 64-bit stand-in\n"
    "serves both widths). Scripts of earlier runs (*.tmp) are removed.\n"
    "Exit 0 when done, 6 otherwise.\n";

} // namespace

int UsageError(const char *format, ...)
{
    char message[512];
    va_list args;
    va_start(args, format);
    std::vsnprintf(message, sizeof message, format, args);
    va_end(args);
    Err("qrihost: %s (qrihost --help for usage)\n", message);
    return kUsage;
}

// kDone, or the exit status of a usage error already reported.
int ParseCommandLine(int argc, char **argv, Options *options)
{
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--help" || arg == "-h" || arg == "/?") {
            options->help = true;
        } else if (arg == "--quiet") {
            options->quiet = true;
        } else if (arg == "--show-scripts") {
            options->showScripts = true;
        } else if (arg == "--dll" || arg == "--settings") {
            if (i + 1 >= argc)
                return UsageError("%s needs a path", arg.c_str());
            (arg == "--dll" ? options->dllPath : options->settingsDir) = argv[++i];
            options->settingsGiven = options->settingsGiven || arg == "--settings";
        } else if (arg.compare(0, 6, "--dll=") == 0) {
            options->dllPath = arg.substr(6);
        } else if (arg.compare(0, 11, "--settings=") == 0) {
            options->settingsDir = arg.substr(11);
            options->settingsGiven = true;
        } else if (arg == "--wait") {
            options->wait = true;
        } else if (arg.compare(0, 7, "--wait=") == 0) {
            unsigned long seconds = 0;
            std::string text = arg.substr(7);
            if (!ParseNumber(text, &seconds) || text.find('-') != std::string::npos || seconds == 0 ||
                seconds > 86400)
                return UsageError("--wait=SECONDS takes a whole number of seconds from 1 to 86400, not \"%s\"",
                                  text.c_str());
            options->wait = true;
            options->waitSeconds = seconds;
        } else if (arg.size() > 1 && arg[0] == '-') {
            return UsageError("unknown option %s", arg.c_str());
        } else if (options->command.empty()) {
            options->command = arg;
        } else {
            options->arguments.push_back(arg);
        }
    }
    if (options->help)
        return kDone;
    if (options->command.empty())
        return UsageError("no command given");
    const std::string &command = options->command;
    std::size_t wanted = command == "policy" || command == "task" ? 1 : 0;
    if (command != "properties" && command != "installed" && command != "policy" && command != "task" &&
        command != "demo-setup")
        return UsageError("unknown command \"%s\"", command.c_str());
    if (command == "demo-setup") {
        if (options->arguments.size() > 1)
            return UsageError("demo-setup takes at most one directory");
    } else if (options->arguments.size() != wanted) {
        return UsageError(wanted == 1 ? "%s takes exactly one argument" : "%s takes no argument", command.c_str());
    }
    if (options->settingsGiven && command != "policy")
        return UsageError("--settings belongs to policy");
    if (options->wait && command != "policy" && command != "task")
        return UsageError("--wait belongs to policy and task");
    if (options->waitSeconds != 0 && command != "task")
        return UsageError("--wait=SECONDS belongs to task; policy waits with --wait");
    return kDone;
}

const char *HelpText(const std::string &command)
{
    return command == "properties"   ? kPropertiesHelp
           : command == "installed"  ? kInstalledHelp
           : command == "policy"     ? kPolicyHelp
           : command == "task"       ? kTaskHelp
           : command == "demo-setup" ? kDemoSetupHelp
                                     : kUsageText;
}

} // namespace qrihost
