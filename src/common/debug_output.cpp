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
    HANDLE section = OpenFileMappingA(FILE_MAP_READ, FALSE, kDebugOutputSection);
    if (section == nullptr)
        return false;
    CloseHandle(section);
    return true;
}

void SendToDebugOutput(const char *message)
{
    OutputDebugStringA(message);
}

} // namespace qri
