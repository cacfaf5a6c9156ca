// qrihost's console output, the live trace lines and Ctrl+C during a wait.
#include "console.h"

#include <fcntl.h>
#include <io.h>

#include <cstdarg>
#include <cstdio>

namespace qrihost {

namespace {

constexpr const char kTracePrefix[] = "trace| ";

CRITICAL_SECTION g_outputLock;
bool g_liveLineShown = false;
bool g_stdoutIsConsole = false;

void ClearLiveLineLocked()
{
    if (g_liveLineShown) {
        std::fputs("\r                                                                      \r", stdout);
        g_liveLineShown = false;
    }
}

void WriteV(FILE *stream, const char *format, va_list args)
{
    EnterCriticalSection(&g_outputLock);
    ClearLiveLineLocked();
    std::vfprintf(stream, format, args);
    std::fflush(stream);
    LeaveCriticalSection(&g_outputLock);
}

// One message of the debug-output channel: each of its lines with the
// prefix; line breaks at its ends are the plug-in's layout, not lines.
void PrintTrace(DWORD processId, const char *text, void *)
{
    if (processId != GetCurrentProcessId())
        return;
    std::string message = text;
    std::size_t begin = message.find_first_not_of("\r\n");
    if (begin == std::string::npos)
        return;
    std::size_t end = message.find_last_not_of("\r\n") + 1;
    message = message.substr(begin, end - begin);
    EnterCriticalSection(&g_outputLock);
    ClearLiveLineLocked();
    std::size_t at = 0;
    while (at <= message.size()) {
        std::size_t lineEnd = message.find('\n', at);
        if (lineEnd == std::string::npos)
            lineEnd = message.size();
        std::string line = message.substr(at, lineEnd - at);
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        std::fprintf(stdout, "%s%s\n", kTracePrefix, line.c_str());
        at = lineEnd + 1;
    }
    std::fflush(stdout);
    LeaveCriticalSection(&g_outputLock);
}

HANDLE g_interrupted = nullptr;

BOOL WINAPI OnConsoleControl(DWORD event)
{
    if (event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT) {
        SetEvent(g_interrupted);
        return TRUE;
    }
    return FALSE;
}

} // namespace

void InitConsole()
{
    InitializeCriticalSection(&g_outputLock);
    g_interrupted = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    DWORD mode = 0;
    g_stdoutIsConsole = GetConsoleMode(GetStdHandle(STD_OUTPUT_HANDLE), &mode) != 0;
    // Lines end in \n alone on every stream, as on the Linux side of Wine.
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
}

void Out(const char *format, ...)
{
    va_list args;
    va_start(args, format);
    WriteV(stdout, format, args);
    va_end(args);
}

void Err(const char *format, ...)
{
    va_list args;
    va_start(args, format);
    WriteV(stderr, format, args);
    va_end(args);
}

void ShowLiveLine(const char *text)
{
    if (!g_stdoutIsConsole)
        return;
    EnterCriticalSection(&g_outputLock);
    std::fprintf(stdout, "\r%-70.70s\r%s", "", text);
    std::fflush(stdout);
    g_liveLineShown = true;
    LeaveCriticalSection(&g_outputLock);
}

CtrlCGuard::CtrlCGuard()
{
    SetConsoleCtrlHandler(OnConsoleControl, TRUE);
}

CtrlCGuard::~CtrlCGuard()
{
    SetConsoleCtrlHandler(OnConsoleControl, FALSE);
}

bool Interrupted()
{
    return WaitForSingleObject(g_interrupted, 0) == WAIT_OBJECT_0;
}

std::string SystemMessage(DWORD error)
{
    char text[256] = {};
    DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error, 0, text,
                                  sizeof text - 1, nullptr);
    text[length < sizeof text ? length : sizeof text - 1] = '\0';
    std::string message = text;
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r' || message.back() == '.' ||
                                message.back() == ' '))
        message.pop_back();
    return message.empty() ? "error " + std::to_string(error) : message + " (error " + std::to_string(error) + ")";
}

void StartTrace(bool quiet, TraceView *view)
{
    if (quiet)
        return;
    DWORD error = 0;
    view->listener = qritools::StartDebugOutputListener(PrintTrace, nullptr, &error);
    if (view->listener == nullptr) {
        Err("qrihost: warning: the trace is not shown: %s\n",
            error == ERROR_ALREADY_EXISTS ? "another debug-output listener is running"
                                          : SystemMessage(error).c_str());
    }
}

} // namespace qrihost
