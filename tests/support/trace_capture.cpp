// Trace capture through the static library's internal sink.
#include "support/trace_capture.h"

#include "common/trace.h"

namespace qritest {

TraceCapture::TraceCapture()
{
    qri::SetTraceSink(&TraceCapture::Record, this);
}

TraceCapture::~TraceCapture()
{
    qri::SetTraceSink(nullptr, nullptr);
}

void TraceCapture::Record(const char *message, void *context)
{
    static_cast<TraceCapture *>(context)->messages_.push_back(message);
}

} // namespace qritest
