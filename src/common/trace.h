// The trace hook: every diagnostic message of the plug-in goes through
// Trace(). In the DLL it reaches OutputDebugStringA, but only while someone
// can see it (a debugger, or a debug-output viewer listening on the system's
// debug-output channel): each message sent costs a raised exception and a
// round trip to the system whether anyone listens or not. Tests of the static
// library can also capture every message through a sink.
#pragma once

#include <cstddef>

#include "common/printf_format.h"

namespace qri {

// Capacity of the process-wide trace buffer, terminating zero included.
constexpr std::size_t kTraceBufferCapacity = 260;

// Whether a debugger or a debug-output viewer is there now. Each call decides
// once, at its start, whether it sends, and keeps to that.
bool TraceListened();

// The running enforcement's decision. Made by the enforcement itself at its
// start while it holds the enforcement lock, so no other call can change it;
// Trace() and TraceF() send by it and are for enforcements only.
void DecideEnforcementTrace();

void Trace(const char *message);

// Formats into the process-wide trace buffer (cut to fit) and sends it; does
// not even format when nothing would receive the message.
void TraceF(const char *format, ...) QRI_PRINTF_FORMAT(1, 2);

// For calls that run outside the enforcement lock: they carry their own
// decision (from TraceListened) and never touch the enforcement's.
void TraceSend(bool send, const char *message);

// Read-only view of the process-wide trace buffer, for tests.
const char *TraceBuffer();

// Tests only: receives every message, whether or not it was sent to the
// debug output. Not exported from the DLL.
using TraceSink = void (*)(const char *message, void *context);
void SetTraceSink(TraceSink sink, void *context);

} // namespace qri
