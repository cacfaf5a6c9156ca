// The trace hook: every diagnostic message of the plug-in goes through
// Trace(). In the DLL it reaches OutputDebugStringA, where an operator sees it
// with a debug-output viewer; tests of the static library can also capture it.
#pragma once

#include <cstddef>

namespace qri {

// Capacity of the process-wide trace buffer, terminating zero included.
constexpr std::size_t kTraceBufferCapacity = 260;

void Trace(const char *message);

// Formats into the process-wide trace buffer (cut to fit) and sends it.
void TraceF(const char *format, ...) __attribute__((format(gnu_printf, 1, 2)));

// Read-only view of the process-wide trace buffer, for tests.
const char *TraceBuffer();

// Tests only: receives every message after it went to the debugger output.
// Not exported from the DLL.
using TraceSink = void (*)(const char *message, void *context);
void SetTraceSink(TraceSink sink, void *context);

} // namespace qri
