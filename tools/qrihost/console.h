// qrihost's console: its own lines and the plug-in's live trace share stdout
// one line at a time, a status line is rewritten in place, and Ctrl+C ends a
// wait instead of the program.
#pragma once

#include <windows.h>

#include <string>

#include "common/debug_output_listener.h"
#include "common/printf_format.h"

namespace qrihost {

// Once, before anything is written.
void InitConsole();

void Out(const char *format, ...) QRI_PRINTF_FORMAT(1, 2);
void Err(const char *format, ...) QRI_PRINTF_FORMAT(1, 2);

// A status line rewritten in place; only on a console, where \r works.
void ShowLiveLine(const char *text);

// The system's text for an error code, with the code.
std::string SystemMessage(DWORD error);

// Ctrl+C and Ctrl+Break set the interrupted flag while a guard lives.
class CtrlCGuard {
public:
    CtrlCGuard();
    ~CtrlCGuard();
    CtrlCGuard(const CtrlCGuard &) = delete;
    CtrlCGuard &operator=(const CtrlCGuard &) = delete;
};

bool Interrupted();

// The trace while an export runs: this process's debug-output messages.
struct TraceView {
    qritools::DebugOutputListener *listener = nullptr;
    ~TraceView() { qritools::StopDebugOutputListener(listener); }
    void Flush() { qritools::FlushDebugOutputListener(listener, 2000); }
};

// Starts listening unless quiet; a channel owned by another listener is a warning.
void StartTrace(bool quiet, TraceView *view);

} // namespace qrihost
