// Trace hook and the process-wide trace buffer.
#include "common/trace.h"

#include <windows.h>

#include <cstdarg>

#include "common/text.h"

namespace qri {

namespace {

char g_traceBuffer[kTraceBufferCapacity];
TraceSink g_sink = nullptr;
void *g_sinkContext = nullptr;

} // namespace

void Trace(const char *message)
{
    OutputDebugStringA(message);
    if (g_sink != nullptr)
        g_sink(message, g_sinkContext);
}

void TraceF(const char *format, ...)
{
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
