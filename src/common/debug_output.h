// The system's debug-output channel, behind the two calls that the trace
// needs from it, so that the rest of the trace is plain C++.
#pragma once

namespace qri {

// A debugger is attached, or a debug-output viewer has its section open.
bool DebugOutputListened();

void SendToDebugOutput(const char *message);

} // namespace qri
