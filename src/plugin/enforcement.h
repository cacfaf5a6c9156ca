// Task and policy enforcement: the two ways the installer engine is started.
#pragma once

#include <windows.h>

#include <cstddef>

#include "qriplugn.h"

namespace qri {

constexpr const char kEngineFileName[] = "QRI.exe";
constexpr const char kScriptSwitch[] = "/SCRIPT";
constexpr const char kRebootEventName[] = RXPLUGIN_REBOOT_EVENT_NAME;

int EnforceTask(void *taskData, unsigned long taskDataSize, RXPLUGIN_TaskSettingReader reader,
                RXPLUGIN_TaskCookie *cookieLocation);
int GetTaskStatus(RXPLUGIN_TaskCookie cookie);
int StopTask(RXPLUGIN_TaskCookie cookie);
int FreeCookie(RXPLUGIN_TaskCookie cookie);

int EnforcePolicy(const char *softwareId, RXPLUGIN_PolicySettingReader reader);

// Longest installer directory in which GetTempFileNameA can name a file.
constexpr std::size_t kLongestScriptDirectory = MAX_PATH - 14;

// Makes an empty, uniquely named script file in the installer directory.
// False when no name could be made (also for a directory longer than
// kLongestScriptDirectory); path is then empty.
bool MakeScriptName(const char *installerDirectory, const char *prefix, char *path);

// Deletes a script that no engine may run; a failure is only traced.
void RemoveScript(const char *path);

// The engine's command line: <dir>\QRI.exe /SCRIPT "<script>", the program's
// own path unquoted. False when it does not fit.
bool FormatEngineCommandLine(char *line, std::size_t capacity, const char *installerDirectory,
                             const char *scriptPath);

// Starts the installer engine of installerDirectory with commandLine, handles
// inherited and the installer directory as the working directory.
bool StartEngine(const char *installerDirectory, char *commandLine, PROCESS_INFORMATION *process);

// Longest command line that a 259-character directory and script path give,
// so the line is never cut.
constexpr std::size_t kCommandLineCapacity =
    (260 - 1) + sizeof "\\" - 1 + sizeof kEngineFileName - 1 + sizeof " " - 1 + sizeof kScriptSwitch - 1 +
    sizeof " \"" - 1 + (260 - 1) + sizeof "\"";

} // namespace qri
