// Native stand-in for the debug-output channel, for the fuzz build only: it
// always listens, so every trace message is formatted as in a watched DLL,
// and reads each message to its end before dropping it.
#include "common/debug_output.h"

#include <cstring>

namespace qri {

namespace {

volatile std::size_t g_lastLength;

} // namespace

bool DebugOutputListened()
{
    return true;
}

void SendToDebugOutput(const char *message)
{
    g_lastLength = std::strlen(message);
}

} // namespace qri
