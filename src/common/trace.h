// The trace hook: every diagnostic message of the plug-in goes through
// Trace(). In the DLL it reaches OutputDebugStringA, but only while someone
// can see it (a debugger, or a debug-output viewer listening on the system's
// debug-output channel): each message sent costs a raised exception and a
// round trip to the system whether anyone listens or not. Tests of the static
// library can also capture every message through a sink.
#pragma once

#include <cstddef>

namespace qri {

// Capacity of the process-wide trace buffer, terminating zero included.
constexpr std::size_t kTraceBufferCapacity = 260;

// Looks, once per export call, for a debugger or a debug-output viewer; until
// the next look, messages are sent only when one was there. A call that runs
// beside an enforcement passes raiseOnly: it may turn sending on, never off,
// so that it cannot silence the enforcement's messages.
void LookForTraceListeners(bool raiseOnly = false);

void Trace(const char *message);

// Formats into the process-wide trace buffer (cut to fit) and sends it; does
// not even format when nothing would receive the message.
void TraceF(const char *format, ...) __attribute__((format(gnu_printf, 1, 2)));

// Read-only view of the process-wide trace buffer, for tests.
const char *TraceBuffer();

// Tests only: receives every message, whether or not it was sent to the
// debug output. Not exported from the DLL.
using TraceSink = void (*)(const char *message, void *context);
void SetTraceSink(TraceSink sink, void *context);

} // namespace qri
