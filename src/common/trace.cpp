// Trace hook and the process-wide trace buffer.
#include "common/trace.h"

#include <atomic>
#include <cstdarg>

#include "common/debug_output.h"
#include "common/text.h"

namespace qri {

namespace {

char g_traceBuffer[kTraceBufferCapacity];
// Set by the enforcements under their lock; other calls only ever raise it
// while an enforcement runs (see LookForTraceListeners).
std::atomic<bool> g_listened{false};
TraceSink g_sink = nullptr;
void *g_sinkContext = nullptr;

} // namespace

void LookForTraceListeners(bool raiseOnly)
{
    bool listened = DebugOutputListened();
    if (listened || !raiseOnly)
        g_listened.store(listened, std::memory_order_relaxed);
}

void Trace(const char *message)
{
    if (g_listened.load(std::memory_order_relaxed))
        SendToDebugOutput(message);
    if (g_sink != nullptr)
        g_sink(message, g_sinkContext);
}

void TraceF(const char *format, ...)
{
    if (!g_listened.load(std::memory_order_relaxed) && g_sink == nullptr)
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
