// Trace hook and the process-wide trace buffer.
#include "common/trace.h"

#include <cstdarg>

#include "common/debug_output.h"
#include "common/text.h"

namespace qri {

namespace {

char g_traceBuffer[kTraceBufferCapacity];
// Written and read only by the enforcement that holds the enforcement lock.
bool g_enforcementSends = false;
TraceSink g_sink = nullptr;
void *g_sinkContext = nullptr;

} // namespace

bool TraceListened()
{
    return DebugOutputListened();
}

void DecideEnforcementTrace()
{
    g_enforcementSends = DebugOutputListened();
}

void TraceSend(bool send, const char *message)
{
    if (send)
        SendToDebugOutput(message);
    if (g_sink != nullptr)
        g_sink(message, g_sinkContext);
}

void Trace(const char *message)
{
    TraceSend(g_enforcementSends, message);
}

void TraceF(const char *format, ...)
{
    if (!g_enforcementSends && g_sink == nullptr)
        return;
    va_list args;
    va_start(args, format);
    FormatBoundedV(g_traceBuffer, sizeof g_traceBuffer, format, args);
    va_end(args);
    Trace(g_traceBuffer);
}

const char *TraceBuffer()
{
    return g_traceBuffer;
}

void SetTraceSink(TraceSink sink, void *context)
{
    g_sink = sink;
    g_sinkContext = context;
}

} // namespace qri
