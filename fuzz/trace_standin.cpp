// Native stand-in for the trace hook, for the fuzz build only: messages are
// formatted into a buffer of the trace capacity exactly as in the DLL, read
// to their end as the debugger output would read them, and dropped.
#include "common/trace.h"

#include <cstdarg>
#include <cstring>

#include "common/text.h"

namespace qri {

namespace {

char g_traceBuffer[kTraceBufferCapacity];
TraceSink g_sink = nullptr;
void *g_sinkContext = nullptr;
volatile std::size_t g_lastLength;

} // namespace

void LookForTraceListeners(bool)
{
}

void Trace(const char *message)
{
    g_lastLength = std::strlen(message);
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
