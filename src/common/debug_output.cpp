// Debug output through OutputDebugStringA; viewers announce themselves by the
// section they create to receive it.
#include "common/debug_output.h"

#include <windows.h>

namespace qri {

namespace {

constexpr char kDebugOutputSection[] = "DBWIN_BUFFER";

} // namespace

bool DebugOutputListened()
{
    if (IsDebuggerPresent())
        return true;
    // Failing to open it reads as nobody listening: the trace is best effort
    // and never changes a result.
    HANDLE section = OpenFileMappingA(FILE_MAP_READ, FALSE, kDebugOutputSection);
    if (section == nullptr)
        return false;
    CloseHandle(section); // harmless if it fails: nothing else holds it
    return true;
}

void SendToDebugOutput(const char *message)
{
    // No result: a message the system drops is lost, and nothing else.
    OutputDebugStringA(message);
}

} // namespace qri
