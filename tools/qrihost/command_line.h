// qrihost's command line: the options, the commands and their help texts, and
// the exit status that every command ends with.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "common/printf_format.h"

namespace qrihost {

// Exit status, documented in the README and in the usage text.
enum ExitStatus {
    kDone = 0,          // the call did what was asked
    kResultZero = 1,    // the export answered 0 (or a task started no engine)
    kUsage = 2,         // bad command line
    kUnusableDll = 3,   // the DLL cannot be loaded or lacks an export
    kBadSettings = 4,   // a settings file is unreadable or malformed
    kStopped = 5,       // a wait ended by time-out or Ctrl+C
    kSetupFailed = 6,   // demo-setup could not lay out the installation
};

struct Options {
    std::string command;
    std::vector<std::string> arguments;
    std::string dllPath;
    std::string settingsDir;
    bool settingsGiven = false;
    bool quiet = false;
    bool showScripts = false;
    bool help = false;
    bool wait = false;
    DWORD waitSeconds = 0; // 0: no limit
};

// Reports a usage error on stderr and returns kUsage.
int UsageError(const char *format, ...) QRI_PRINTF_FORMAT(1, 2);

// kDone, or the exit status of a usage error already reported.
int ParseCommandLine(int argc, char **argv, Options *options);

// The help of one command, or the general usage for any other name.
const char *HelpText(const std::string &command);

} // namespace qrihost
