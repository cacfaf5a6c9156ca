// qrihost's commands. Settings files are read before the DLL is loaded, so
// that a bad file ends the run before any export is called.
#pragma once

#include "command_line.h"
#include "console.h"
#include "plugin.h"
#include "readers.h"
#include "settings.h"

namespace qrihost {

// How often a wait looks at the engine.
constexpr DWORD kPollMs = 100;

int RunProperties(const Plugin &plugin, TraceView &trace);
int RunInstalled(const Plugin &plugin, TraceView &trace);

// kDone, or the exit status of the error already reported.
int LoadPolicySettings(const Options &options, PolicySettings *policy);
int RunPolicy(const Options &options, const Plugin &plugin, PolicySettings &settings, TraceView &trace);

int LoadTaskSettings(const Options &options, SettingsFile *task);
int RunTask(const Options &options, const Plugin &plugin, SettingsFile &settings, TraceView &trace);

int RunDemoSetup(const Options &options);

} // namespace qrihost
