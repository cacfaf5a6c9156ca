// Script names and the start of the installer engine, shared by both
// enforcements.
#include <cstring>

#include "common/text.h"
#include "common/trace.h"
#include "plugin/enforcement.h"

namespace qri {

bool MakeScriptName(const char *installerDirectory, const char *prefix, char *path)
{
    // A temporary name needs 14 characters of MAX_PATH beside its directory;
    // some systems crash or write an unterminated name for a longer one. They
    // may also report success without writing at all, so the buffer is
    // cleared first and checked afterwards.
    std::memset(path, 0, kPathCapacity);
    // Failing: no script and no engine; the caller's result does not change.
    if (std::strlen(installerDirectory) > kLongestScriptDirectory ||
        GetTempFileNameA(installerDirectory, prefix, 0, path) == 0 || path[0] == '\0' ||
        path[kPathCapacity - 1] != '\0') {
        path[0] = '\0';
        TraceF("Unable to create a %s script file in %s", prefix, installerDirectory);
        return false;
    }
    return true;
}

void RemoveScript(const char *path)
{
    if (path[0] == '\0')
        return;
    // Nothing else can be done about it: the enforcement fails already.
    if (!DeleteFileA(path))
        TraceF("Unable to remove the script %s, error %lu", path, static_cast<unsigned long>(GetLastError()));
}

bool FormatEngineCommandLine(char *line, std::size_t capacity, const char *installerDirectory,
                             const char *scriptPath)
{
    return FormatBounded(line, capacity, "%s\\%s %s \"%s\"", installerDirectory, kEngineFileName, kScriptSwitch,
                         scriptPath);
}

bool StartEngine(const char *installerDirectory, char *commandLine, PROCESS_INFORMATION *process)
{
    // The engine is named by its full path so that a directory with blanks
    // cannot make the system run a program at a prefix of the line instead.
    char engine[kPathCapacity + sizeof kEngineFileName];
    if (!FormatBounded(engine, sizeof engine, "%s\\%s", installerDirectory, kEngineFileName)) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return false;
    }
    STARTUPINFOA startup;
    std::memset(&startup, 0, sizeof startup);
    startup.cb = sizeof startup;
    // Failing: no engine; the caller traces or not, and its result does not change.
    return CreateProcessA(engine, commandLine, nullptr, nullptr, TRUE, 0, nullptr, installerDirectory, &startup,
                          process) != FALSE;
}

} // namespace qri
