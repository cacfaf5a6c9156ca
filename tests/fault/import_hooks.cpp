// The hooks and the table of every function the DLL imports.
#include "fault/import_hooks.h"

#include <cerrno>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace fault {

namespace {

bool g_recording = false;
bool g_armed = false;
Mode g_mode = Mode::Transient;
unsigned g_target = 0;
unsigned g_count = 0;
const Row *g_failing = nullptr; // persistent mode: the function that keeps failing
Record g_record;
Ledger g_live;
std::map<const Row *, int> g_ordinals;
std::set<std::pair<const Row *, const void *>> g_sites;
std::string g_crashContext;

Row &RowNamed(const char *name)
{
    for (Row &row : Table()) {
        if (std::strcmp(row.name, name) == 0)
            return row;
    }
    std::fprintf(stderr, "fault: no row for hook %s\n", name);
    std::abort();
}

// Counts an injectable call and says whether it fails.
bool Enter(const Row &row, const void *site, std::string tag = {})
{
    if (!g_recording)
        return false;
    g_sites.insert({&row, site});
    bool fail = false;
    if (g_armed) {
        ++g_count;
        if (g_count == g_target) {
            fail = true;
            g_failing = &row;
        } else if (g_mode == Mode::Persistent && g_failing == &row) {
            fail = true;
        }
    }
    g_record.calls.push_back({&row, site, std::move(tag), ++g_ordinals[&row], fail});
    if (fail)
        ++g_record.failures;
    return fail;
}

void Reach(const Row &row, const void *site)
{
    if (!g_recording)
        return;
    g_sites.insert({&row, site});
    if (row.kind == Kind::Internal)
        g_record.internalReached.insert(row.name);
}

std::uintptr_t Bits(const void *value)
{
    return reinterpret_cast<std::uintptr_t>(value);
}

void Opened(const char *kind, const void *value, const Row &row, const void *site)
{
    g_live[{kind, Bits(value)}] = {row.name, site};
}

// Memory freed that was taken before the hooks went in is no stray.
void Closed(const char *kind, const void *value)
{
    if (g_live.erase({kind, Bits(value)}) == 0 && g_recording && std::strcmp(kind, "memory") != 0) {
        char text[64];
        std::snprintf(text, sizeof text, "%s %p", kind, value);
        g_record.strayCloses.push_back(text);
    }
}

std::string OpenerOf(const void *handle)
{
    auto found = g_live.find({"handle", Bits(handle)});
    return found != g_live.end() ? found->second.opener : "other";
}

template <class T>
T Failed(T value, DWORD error)
{
    SetLastError(error);
    return value;
}

// As the C library fails when the system call beneath it does: the system's
// reason in the last error, errno mapped from it, and a failed write leaves
// the stream's error flag for ferror.
template <class T>
T CrtFailed(T value, DWORD systemError, int error, FILE *stream = nullptr)
{
    if (stream != nullptr)
        stream->_flag |= _IOERR;
    SetLastError(systemError);
    errno = error;
    return value;
}

void Crashed(const char *how)
{
    std::fprintf(stderr, "fault: CRASH (%s) while %s\n", how, g_crashContext.c_str());
    std::fflush(stderr);
}

LONG CALLBACK FatalException(EXCEPTION_POINTERS *exception)
{
    switch (exception->ExceptionRecord->ExceptionCode) {
    case EXCEPTION_ACCESS_VIOLATION:
    case EXCEPTION_ILLEGAL_INSTRUCTION:
    case EXCEPTION_INT_DIVIDE_BY_ZERO:
    case EXCEPTION_PRIV_INSTRUCTION:
    case EXCEPTION_STACK_OVERFLOW:
    case 0xC0000409: // fail fast
        Crashed("exception");
        break;
    default:
        break;
    }
    return EXCEPTION_CONTINUE_SEARCH;
}

// Reads every script beside the one the engine is started on.
std::map<std::string, std::string> ScriptsBeside(const std::string &commandLine)
{
    std::map<std::string, std::string> scripts;
    std::size_t start = commandLine.find("/SCRIPT \"");
    if (start == std::string::npos)
        return scripts;
    start += 9;
    std::string script = commandLine.substr(start, commandLine.find('"', start) - start);
    std::string directory = script.substr(0, script.rfind('\\'));
    WIN32_FIND_DATAA entry;
    HANDLE search = FindFirstFileA((directory + "\\*.tmp").c_str(), &entry);
    if (search == INVALID_HANDLE_VALUE)
        return scripts;
    do {
        std::string bytes;
        if (FILE *in = std::fopen((directory + "\\" + entry.cFileName).c_str(), "rb")) {
            char chunk[4096];
            std::size_t got;
            while ((got = std::fread(chunk, 1, sizeof chunk, in)) > 0)
                bytes.append(chunk, got);
            std::fclose(in);
        }
        scripts[entry.cFileName] = bytes;
    } while (FindNextFileA(search, &entry));
    FindClose(search);
    return scripts;
}

} // namespace

// Each hook: the row, the real function of the same type, the return address.
#define HOOK(name)                                                                                                     \
    static Row &row = RowNamed(#name);                                                                                 \
    const auto real = reinterpret_cast<decltype(&::name)>(row.original);                                               \
    const void *const site = __builtin_return_address(0)

// ADVAPI32

BOOL WINAPI H_InitializeSecurityDescriptor(PSECURITY_DESCRIPTOR descriptor, DWORD revision)
{
    HOOK(InitializeSecurityDescriptor);
    if (Enter(row, site))
        return Failed(FALSE, ERROR_INVALID_PARAMETER);
    return real(descriptor, revision);
}

BOOL WINAPI H_SetSecurityDescriptorDacl(PSECURITY_DESCRIPTOR descriptor, BOOL present, PACL dacl, BOOL defaulted)
{
    HOOK(SetSecurityDescriptorDacl);
    if (Enter(row, site))
        return Failed(FALSE, ERROR_INVALID_PARAMETER);
    return real(descriptor, present, dacl, defaulted);
}

LONG WINAPI H_RegCloseKey(HKEY key)
{
    HOOK(RegCloseKey);
    bool fail = Enter(row, site);
    LONG status = real(key);
    if (status == ERROR_SUCCESS)
        Closed("key", key);
    return fail ? ERROR_INVALID_HANDLE : status;
}

LONG WINAPI H_RegEnumValueA(HKEY key, DWORD index, LPSTR name, LPDWORD nameSize, LPDWORD reserved, LPDWORD type,
                            LPBYTE data, LPDWORD dataSize)
{
    HOOK(RegEnumValueA);
    if (Enter(row, site))
        return ERROR_ACCESS_DENIED;
    return real(key, index, name, nameSize, reserved, type, data, dataSize);
}

LONG WINAPI H_RegOpenKeyA(HKEY parent, LPCSTR subKey, PHKEY result)
{
    HOOK(RegOpenKeyA);
    if (Enter(row, site)) {
        *result = nullptr;
        return ERROR_ACCESS_DENIED;
    }
    LONG status = real(parent, subKey, result);
    if (status == ERROR_SUCCESS)
        Opened("key", *result, row, site);
    return status;
}

LONG WINAPI H_RegOpenKeyExA(HKEY parent, LPCSTR subKey, DWORD options, REGSAM access, PHKEY result)
{
    HOOK(RegOpenKeyExA);
    if (Enter(row, site)) {
        *result = nullptr;
        return ERROR_ACCESS_DENIED;
    }
    LONG status = real(parent, subKey, options, access, result);
    if (status == ERROR_SUCCESS)
        Opened("key", *result, row, site);
    return status;
}

LONG WINAPI H_RegQueryValueExA(HKEY key, LPCSTR name, LPDWORD reserved, LPDWORD type, LPBYTE data, LPDWORD size)
{
    HOOK(RegQueryValueExA);
    if (Enter(row, site, name != nullptr ? name : "(default)"))
        return ERROR_ACCESS_DENIED;
    return real(key, name, reserved, type, data, size);
}

LONG WINAPI H_RegSetValueExA(HKEY key, LPCSTR name, DWORD reserved, DWORD type, const BYTE *data, DWORD size)
{
    HOOK(RegSetValueExA);
    // Storing an engine and resetting the stored value are different sites.
    bool zero = type == REG_DWORD && size == 4 && data != nullptr && std::memcmp(data, "\0\0\0\0", 4) == 0;
    if (Enter(row, site, std::string(name != nullptr ? name : "") + (zero ? "=0" : "=value")))
        return ERROR_ACCESS_DENIED;
    return real(key, name, reserved, type, data, size);
}

// KERNEL32

BOOL WINAPI H_CloseHandle(HANDLE handle)
{
    HOOK(CloseHandle);
    bool fail = Enter(row, site, OpenerOf(handle));
    BOOL closed = real(handle);
    if (closed)
        Closed("handle", handle);
    return fail ? Failed(FALSE, ERROR_INVALID_HANDLE) : closed;
}

BOOL WINAPI H_CopyFileA(LPCSTR from, LPCSTR to, BOOL failIfExists)
{
    HOOK(CopyFileA);
    if (Enter(row, site))
        return Failed(FALSE, ERROR_DISK_FULL);
    return real(from, to, failIfExists);
}

BOOL WINAPI H_DeleteFileA(LPCSTR path)
{
    HOOK(DeleteFileA);
    if (Enter(row, site))
        return Failed(FALSE, ERROR_ACCESS_DENIED);
    return real(path);
}

HANDLE WINAPI H_CreateEventA(LPSECURITY_ATTRIBUTES attributes, BOOL manual, BOOL initial, LPCSTR name)
{
    HOOK(CreateEventA);
    if (Enter(row, site))
        return Failed<HANDLE>(nullptr, ERROR_ACCESS_DENIED);
    HANDLE event = real(attributes, manual, initial, name);
    if (event != nullptr)
        Opened("handle", event, row, site);
    return event;
}

HANDLE WINAPI H_CreateMutexA(LPSECURITY_ATTRIBUTES attributes, BOOL owned, LPCSTR name)
{
    HOOK(CreateMutexA);
    if (Enter(row, site))
        return Failed<HANDLE>(nullptr, ERROR_NOT_ENOUGH_MEMORY);
    HANDLE mutex = real(attributes, owned, name);
    if (mutex != nullptr)
        Opened("handle", mutex, row, site);
    return mutex;
}

BOOL WINAPI H_CreateProcessA(LPCSTR application, LPSTR commandLine, LPSECURITY_ATTRIBUTES processAttributes,
                             LPSECURITY_ATTRIBUTES threadAttributes, BOOL inherit, DWORD flags, LPVOID environment,
                             LPCSTR directory, LPSTARTUPINFOA startup, LPPROCESS_INFORMATION process)
{
    HOOK(CreateProcessA);
    if (Enter(row, site))
        return Failed(FALSE, ERROR_ACCESS_DENIED);
    // What the engine will read is what is on disk now.
    std::string line = commandLine != nullptr ? commandLine : "";
    std::map<std::string, std::string> scripts = ScriptsBeside(line);
    BOOL started = real(application, commandLine, processAttributes, threadAttributes, inherit, flags, environment,
                        directory, startup, process);
    if (started) {
        Opened("handle", process->hProcess, row, site);
        Opened("handle", process->hThread, row, site);
        HANDLE own = nullptr;
        DuplicateHandle(GetCurrentProcess(), process->hProcess, GetCurrentProcess(), &own, 0, FALSE,
                        DUPLICATE_SAME_ACCESS);
        g_record.launches.push_back({line, scripts, own, process->hProcess});
    }
    return started;
}

BOOL WINAPI H_FindClose(HANDLE search)
{
    HOOK(FindClose);
    bool fail = Enter(row, site);
    BOOL closed = real(search);
    if (closed)
        Closed("find", search);
    return fail ? Failed(FALSE, ERROR_INVALID_HANDLE) : closed;
}

HANDLE WINAPI H_FindFirstFileA(LPCSTR pattern, LPWIN32_FIND_DATAA found)
{
    HOOK(FindFirstFileA);
    if (Enter(row, site))
        return Failed(INVALID_HANDLE_VALUE, ERROR_ACCESS_DENIED);
    HANDLE search = real(pattern, found);
    if (search != INVALID_HANDLE_VALUE)
        Opened("find", search, row, site);
    return search;
}

BOOL WINAPI H_GetExitCodeProcess(HANDLE process, LPDWORD code)
{
    HOOK(GetExitCodeProcess);
    if (Enter(row, site))
        return Failed(FALSE, ERROR_ACCESS_DENIED);
    return real(process, code);
}

DWORD WINAPI H_GetModuleFileNameA(HMODULE module, LPSTR path, DWORD capacity)
{
    HOOK(GetModuleFileNameA);
    if (Enter(row, site))
        return Failed<DWORD>(0, ERROR_ACCESS_DENIED);
    return real(module, path, capacity);
}

DWORD WINAPI H_GetPrivateProfileStringA(LPCSTR section, LPCSTR key, LPCSTR fallback, LPSTR text, DWORD capacity,
                                        LPCSTR file)
{
    HOOK(GetPrivateProfileStringA);
    if (Enter(row, site)) {
        if (text != nullptr && capacity > 0)
            text[0] = '\0';
        return Failed<DWORD>(0, ERROR_FILE_NOT_FOUND);
    }
    return real(section, key, fallback, text, capacity, file);
}

UINT WINAPI H_GetTempFileNameA(LPCSTR directory, LPCSTR prefix, UINT unique, LPSTR path)
{
    HOOK(GetTempFileNameA);
    if (Enter(row, site))
        return Failed<UINT>(0, ERROR_DISK_FULL);
    UINT made = real(directory, prefix, unique, path);
    if (made != 0 && g_recording)
        g_record.tempNames.push_back(path);
    return made;
}

LPVOID WINAPI H_HeapAlloc(HANDLE heap, DWORD flags, SIZE_T size)
{
    HOOK(HeapAlloc);
    if (Enter(row, site))
        return Failed<LPVOID>(nullptr, ERROR_NOT_ENOUGH_MEMORY);
    LPVOID block = real(heap, flags, size);
    if (block != nullptr)
        Opened("heap", block, row, site);
    return block;
}

BOOL WINAPI H_HeapFree(HANDLE heap, DWORD flags, LPVOID block)
{
    HOOK(HeapFree);
    bool fail = Enter(row, site);
    BOOL freed = real(heap, flags, block);
    if (freed)
        Closed("heap", block);
    return fail ? Failed(FALSE, ERROR_INVALID_PARAMETER) : freed;
}

HANDLE WINAPI H_OpenEventA(DWORD access, BOOL inherit, LPCSTR name)
{
    HOOK(OpenEventA);
    if (Enter(row, site))
        return Failed<HANDLE>(nullptr, ERROR_ACCESS_DENIED);
    HANDLE event = real(access, inherit, name);
    if (event != nullptr)
        Opened("handle", event, row, site);
    return event;
}

HANDLE WINAPI H_OpenFileMappingA(DWORD access, BOOL inherit, LPCSTR name)
{
    HOOK(OpenFileMappingA);
    if (Enter(row, site))
        return Failed<HANDLE>(nullptr, ERROR_ACCESS_DENIED);
    HANDLE section = real(access, inherit, name);
    if (section != nullptr)
        Opened("handle", section, row, site);
    return section;
}

// The trace is kept here and goes nowhere else.
void WINAPI H_OutputDebugStringA(LPCSTR message)
{
    HOOK(OutputDebugStringA);
    (void)real;
    Reach(row, site);
    if (g_recording)
        g_record.trace.push_back(message != nullptr ? message : "");
}

BOOL WINAPI H_TerminateProcess(HANDLE process, UINT code)
{
    HOOK(TerminateProcess);
    if (Enter(row, site))
        return Failed(FALSE, ERROR_ACCESS_DENIED);
    return real(process, code);
}

DWORD WINAPI H_WaitForSingleObject(HANDLE handle, DWORD timeout)
{
    HOOK(WaitForSingleObject);
    if (Enter(row, site, OpenerOf(handle)))
        return Failed<DWORD>(WAIT_FAILED, ERROR_INVALID_HANDLE);
    return real(handle, timeout);
}

// msvcrt

FILE *__cdecl H_fopen(const char *path, const char *mode)
{
    HOOK(fopen);
    if (Enter(row, site))
        return CrtFailed<FILE *>(nullptr, ERROR_ACCESS_DENIED, EACCES);
    FILE *stream = real(path, mode);
    if (stream != nullptr)
        Opened("stream", stream, row, site);
    return stream;
}

int __cdecl H_fclose(FILE *stream)
{
    HOOK(fclose);
    bool fail = Enter(row, site);
    int closed = real(stream);
    Closed("stream", stream);
    return fail ? CrtFailed(EOF, ERROR_DISK_FULL, ENOSPC) : closed;
}

int __cdecl H_fflush(FILE *stream)
{
    HOOK(fflush);
    if (Enter(row, site))
        return CrtFailed(EOF, ERROR_DISK_FULL, ENOSPC, stream);
    return real(stream);
}

// A full disk takes part of the text.
size_t __cdecl H_fwrite(const void *data, size_t size, size_t count, FILE *stream)
{
    HOOK(fwrite);
    if (Enter(row, site)) {
        std::size_t taken = count / 2 > 0 ? real(data, size, count / 2, stream) : 0;
        return CrtFailed(taken, ERROR_DISK_FULL, ENOSPC, stream);
    }
    return real(data, size, count, stream);
}

int __cdecl H_fputc(int c, FILE *stream)
{
    HOOK(fputc);
    if (Enter(row, site))
        return CrtFailed(EOF, ERROR_DISK_FULL, ENOSPC, stream);
    return real(c, stream);
}

int __cdecl H_vfprintf(FILE *stream, const char *format, va_list args)
{
    HOOK(vfprintf);
    if (Enter(row, site))
        return CrtFailed(-1, ERROR_DISK_FULL, ENOSPC, stream);
    return real(stream, format, args);
}

void *__cdecl H_malloc(size_t size)
{
    HOOK(malloc);
    if (Enter(row, site))
        return CrtFailed<void *>(nullptr, ERROR_NOT_ENOUGH_MEMORY, ENOMEM);
    void *block = real(size);
    if (block != nullptr)
        Opened("memory", block, row, site);
    return block;
}

void *__cdecl H_calloc(size_t count, size_t size)
{
    HOOK(calloc);
    if (Enter(row, site))
        return CrtFailed<void *>(nullptr, ERROR_NOT_ENOUGH_MEMORY, ENOMEM);
    void *block = real(count, size);
    if (block != nullptr)
        Opened("memory", block, row, site);
    return block;
}

void *__cdecl H_realloc(void *old, size_t size)
{
    HOOK(realloc);
    if (Enter(row, site))
        return CrtFailed<void *>(nullptr, ERROR_NOT_ENOUGH_MEMORY, ENOMEM);
    void *block = real(old, size);
    if (block != nullptr || size == 0) {
        if (old != nullptr)
            Closed("memory", old);
        if (block != nullptr)
            Opened("memory", block, row, site);
    }
    return block;
}

void __cdecl H_free(void *block)
{
    HOOK(free);
    Reach(row, site);
    if (block != nullptr)
        Closed("memory", block);
    real(block);
}

// Runtime internals: passed through, noted when reached during a call.
#define INTERNAL(ret, conv, name, params, args)                                                                        \
    ret conv H_##name params                                                                                           \
    {                                                                                                                  \
        static Row &row = RowNamed(#name);                                                                             \
        Reach(row, __builtin_return_address(0));                                                                       \
        return reinterpret_cast<ret(conv *) params>(row.original) args;                                                \
    }

using Initializer = void(__cdecl *)();
INTERNAL(LPVOID, WINAPI, TlsGetValue, (DWORD index), (index))
INTERNAL(BOOL, WINAPI, VirtualProtect, (LPVOID address, SIZE_T size, DWORD protect, PDWORD old),
         (address, size, protect, old))
INTERNAL(SIZE_T, WINAPI, VirtualQuery, (LPCVOID address, PMEMORY_BASIC_INFORMATION info, SIZE_T size),
         (address, info, size))
INTERNAL(int, WINAPI, MultiByteToWideChar,
         (UINT page, DWORD flags, LPCCH text, int length, LPWSTR wide, int capacity),
         (page, flags, text, length, wide, capacity))
INTERNAL(int, WINAPI, WideCharToMultiByte,
         (UINT page, DWORD flags, LPCWCH wide, int length, LPSTR text, int capacity, LPCCH fallback, LPBOOL used),
         (page, flags, wide, length, text, capacity, fallback, used))
INTERNAL(BOOL, WINAPI, IsDBCSLeadByteEx, (UINT page, BYTE c), (page, c))
INTERNAL(int, __cdecl, ___lc_codepage_func, (), ())
INTERNAL(int, __cdecl, ___mb_cur_max_func, (), ())
INTERNAL(FILE *, __cdecl, __iob_func, (), ())
INTERNAL(void, __cdecl, _initterm, (Initializer * first, Initializer *last), (first, last))
INTERNAL(void, __cdecl, _lock, (int which), (which))
INTERNAL(void, __cdecl, _unlock, (int which), (which))
INTERNAL(struct lconv *, __cdecl, localeconv, (), ())
INTERNAL(int, __cdecl, atoi, (const char *text), (text))
INTERNAL(char *, __cdecl, setlocale, (int category, const char *locale), (category, locale))
INTERNAL(HMODULE, WINAPI, GetModuleHandleA, (LPCSTR name), (name))
INTERNAL(HMODULE, WINAPI, GetModuleHandleW, (LPCWSTR name), (name))
INTERNAL(HMODULE, WINAPI, LoadLibraryA, (LPCSTR name), (name))
INTERNAL(BOOL, WINAPI, FreeLibrary, (HMODULE module), (module))
INTERNAL(FARPROC, WINAPI, GetProcAddress, (HMODULE module, LPCSTR name), (module, name))

void __cdecl H__amsg_exit(int code)
{
    static Row &row = RowNamed("_amsg_exit");
    Crashed("_amsg_exit");
    reinterpret_cast<void(__cdecl *)(int)>(row.original)(code);
}

void __cdecl H_abort()
{
    static Row &row = RowNamed("abort");
    Crashed("abort");
    reinterpret_cast<void(__cdecl *)()>(row.original)();
}

#define ROW(dll, name, kind, failure) {dll, #name, reinterpret_cast<void *>(&H_##name), Kind::kind, failure, nullptr}
#define PLAIN(dll, name, why) {dll, #name, nullptr, Kind::CannotFail, why, nullptr}

std::vector<Row> &Table()
{
    static std::vector<Row> table = {
        ROW("ADVAPI32", InitializeSecurityDescriptor, Fails, "FALSE, ERROR_INVALID_PARAMETER"),
        ROW("ADVAPI32", RegCloseKey, Releases, "closes, returns ERROR_INVALID_HANDLE"),
        ROW("ADVAPI32", RegEnumValueA, Fails, "ERROR_ACCESS_DENIED"),
        ROW("ADVAPI32", RegOpenKeyA, Fails, "ERROR_ACCESS_DENIED, no key"),
        ROW("ADVAPI32", RegOpenKeyExA, Fails, "ERROR_ACCESS_DENIED, no key"),
        ROW("ADVAPI32", RegQueryValueExA, Fails, "ERROR_ACCESS_DENIED"),
        ROW("ADVAPI32", RegSetValueExA, Fails, "ERROR_ACCESS_DENIED"),
        ROW("ADVAPI32", SetSecurityDescriptorDacl, Fails, "FALSE, ERROR_INVALID_PARAMETER"),
        ROW("KERNEL32", CloseHandle, Releases, "closes, FALSE, ERROR_INVALID_HANDLE"),
        ROW("KERNEL32", CopyFileA, Fails, "FALSE, ERROR_DISK_FULL, target untouched"),
        ROW("KERNEL32", CreateEventA, Fails, "NULL, ERROR_ACCESS_DENIED"),
        ROW("KERNEL32", CreateMutexA, Fails, "NULL, ERROR_NOT_ENOUGH_MEMORY"),
        ROW("KERNEL32", CreateProcessA, Fails, "FALSE, ERROR_ACCESS_DENIED"),
        ROW("KERNEL32", DeleteFileA, Fails, "FALSE, ERROR_ACCESS_DENIED"),
        ROW("KERNEL32", FindClose, Releases, "closes, FALSE, ERROR_INVALID_HANDLE"),
        ROW("KERNEL32", FindFirstFileA, Fails, "INVALID_HANDLE_VALUE, ERROR_ACCESS_DENIED"),
        ROW("KERNEL32", GetExitCodeProcess, Fails, "FALSE, ERROR_ACCESS_DENIED"),
        ROW("KERNEL32", GetModuleFileNameA, Fails, "0, ERROR_ACCESS_DENIED"),
        ROW("KERNEL32", GetPrivateProfileStringA, Fails, "0 and empty text, ERROR_FILE_NOT_FOUND"),
        ROW("KERNEL32", GetTempFileNameA, Fails, "0, ERROR_DISK_FULL, no file"),
        ROW("KERNEL32", HeapAlloc, Fails, "NULL, ERROR_NOT_ENOUGH_MEMORY"),
        ROW("KERNEL32", HeapFree, Releases, "frees, FALSE, ERROR_INVALID_PARAMETER"),
        ROW("KERNEL32", OpenEventA, Fails, "NULL, ERROR_ACCESS_DENIED"),
        ROW("KERNEL32", OpenFileMappingA, Fails, "NULL, ERROR_ACCESS_DENIED"),
        ROW("KERNEL32", OutputDebugStringA, Counted, "void: the message is recorded"),
        ROW("KERNEL32", TerminateProcess, Fails, "FALSE, ERROR_ACCESS_DENIED"),
        ROW("KERNEL32", WaitForSingleObject, Fails, "WAIT_FAILED, ERROR_INVALID_HANDLE"),
        ROW("KERNEL32", TlsGetValue, Internal, "runtime internal, not injected"),
        ROW("KERNEL32", VirtualProtect, Internal, "runtime internal, not injected"),
        ROW("KERNEL32", VirtualQuery, Internal, "runtime internal, not injected"),
        ROW("KERNEL32", MultiByteToWideChar, Internal, "runtime internal, not injected"),
        ROW("KERNEL32", WideCharToMultiByte, Internal, "runtime internal, not injected"),
        ROW("KERNEL32", IsDBCSLeadByteEx, Internal, "runtime internal, not injected"),
        // The 32-bit runtime registers its unwind tables through these at load and unload.
        ROW("KERNEL32", GetModuleHandleA, Internal, "runtime internal, not injected"),
        ROW("KERNEL32", GetModuleHandleW, Internal, "runtime internal, not injected"),
        ROW("KERNEL32", LoadLibraryA, Internal, "runtime internal, not injected"),
        ROW("KERNEL32", FreeLibrary, Internal, "runtime internal, not injected"),
        ROW("KERNEL32", GetProcAddress, Internal, "runtime internal, not injected"),
        PLAIN("KERNEL32", DeleteCriticalSection, "void"),
        PLAIN("KERNEL32", EnterCriticalSection, "void"),
        PLAIN("KERNEL32", InitializeCriticalSection, "void"),
        PLAIN("KERNEL32", LeaveCriticalSection, "void"),
        PLAIN("KERNEL32", GetLastError, "cannot fail"),
        PLAIN("KERNEL32", SetLastError, "void"),
        PLAIN("KERNEL32", GetProcessHeap, "cannot fail once the process runs"),
        PLAIN("KERNEL32", IsDebuggerPresent, "cannot fail"),
        PLAIN("KERNEL32", ReleaseMutex, "cannot fail for the owner"),
        PLAIN("KERNEL32", Sleep, "void"),
        PLAIN("KERNEL32", GetCurrentThreadId, "cannot fail"),
        PLAIN("KERNEL32", GetCurrentProcessId, "cannot fail"),
        PLAIN("KERNEL32", IsThreadAFiber, "cannot fail"),
        PLAIN("USER32", CharPrevA, "cannot fail"),
        ROW("msvcrt", fopen, Fails, "NULL, ERROR_ACCESS_DENIED, errno EACCES"),
        ROW("msvcrt", fclose, Releases, "closes, EOF, ERROR_DISK_FULL, errno ENOSPC"),
        ROW("msvcrt", fflush, Fails, "EOF, error flag, ERROR_DISK_FULL, errno ENOSPC"),
        ROW("msvcrt", fwrite, Fails, "half the count written, error flag, ERROR_DISK_FULL, errno ENOSPC"),
        ROW("msvcrt", fputc, Fails, "EOF, error flag, ERROR_DISK_FULL, errno ENOSPC"),
        ROW("msvcrt", vfprintf, Fails, "-1, error flag, ERROR_DISK_FULL, errno ENOSPC"),
        ROW("msvcrt", malloc, Fails, "NULL, ERROR_NOT_ENOUGH_MEMORY, errno ENOMEM"),
        ROW("msvcrt", calloc, Fails, "NULL, ERROR_NOT_ENOUGH_MEMORY, errno ENOMEM"),
        ROW("msvcrt", realloc, Fails, "NULL, block kept, ERROR_NOT_ENOUGH_MEMORY, errno ENOMEM"),
        ROW("msvcrt", free, Counted, "void: counted"),
        ROW("msvcrt", ___lc_codepage_func, Internal, "runtime internal, not injected"),
        ROW("msvcrt", ___mb_cur_max_func, Internal, "runtime internal, not injected"),
        ROW("msvcrt", __iob_func, Internal, "runtime internal, not injected"),
        ROW("msvcrt", _amsg_exit, Internal, "runtime internal: ends the process"),
        ROW("msvcrt", _initterm, Internal, "runtime internal, not injected"),
        ROW("msvcrt", _lock, Internal, "runtime internal, not injected"),
        ROW("msvcrt", _unlock, Internal, "runtime internal, not injected"),
        ROW("msvcrt", abort, Internal, "ends the process"),
        ROW("msvcrt", localeconv, Internal, "runtime internal, not injected"),
        ROW("msvcrt", atoi, Internal, "runtime internal, not injected"),
        ROW("msvcrt", setlocale, Internal, "runtime internal, not injected"),
        // Data, not functions: the slot holds the variable's address.
        PLAIN("msvcrt", __mb_cur_max, "data"),
        PLAIN("msvcrt", _iob, "data"),
        PLAIN("msvcrt", _errno, "cannot fail"),
        PLAIN("msvcrt", ferror, "cannot fail"),
        PLAIN("msvcrt", memcpy, "cannot fail"),
        PLAIN("msvcrt", memset, "cannot fail"),
        PLAIN("msvcrt", strchr, "cannot fail"),
        PLAIN("msvcrt", strcmp, "cannot fail"),
        PLAIN("msvcrt", strerror, "cannot fail"),
        PLAIN("msvcrt", strlen, "cannot fail"),
        PLAIN("msvcrt", strncmp, "cannot fail"),
        PLAIN("msvcrt", strrchr, "cannot fail"),
        PLAIN("msvcrt", wcslen, "cannot fail"),
    };
    return table;
}

std::vector<std::string> HookImports(HMODULE module)
{
    static PVOID handler = AddVectoredExceptionHandler(1, FatalException);
    (void)handler;
    std::vector<std::string> unknown;
    auto *base = reinterpret_cast<BYTE *>(module);
    auto *nt = reinterpret_cast<IMAGE_NT_HEADERS *>(base + reinterpret_cast<IMAGE_DOS_HEADER *>(base)->e_lfanew);
    const IMAGE_DATA_DIRECTORY &imports = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    for (auto *d = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR *>(base + imports.VirtualAddress); d->Name != 0; ++d) {
        std::string dll = reinterpret_cast<const char *>(base + d->Name);
        std::string stem = dll.substr(0, dll.find('.'));
        auto *names = reinterpret_cast<IMAGE_THUNK_DATA *>(base + (d->OriginalFirstThunk != 0 ? d->OriginalFirstThunk
                                                                                                : d->FirstThunk));
        auto *slots = reinterpret_cast<IMAGE_THUNK_DATA *>(base + d->FirstThunk);
        std::size_t count = 0;
        while (names[count].u1.AddressOfData != 0)
            ++count;
        // One change of protection per imported DLL: each costs a server call under Wine.
        DWORD old = 0;
        VirtualProtect(slots, count * sizeof *slots, PAGE_READWRITE, &old);
        for (std::size_t i = 0; i < count; ++i) {
            if (IMAGE_SNAP_BY_ORDINAL(names[i].u1.Ordinal)) {
                unknown.push_back(dll + "!#" + std::to_string(IMAGE_ORDINAL(names[i].u1.Ordinal)));
                continue;
            }
            const char *name = reinterpret_cast<const char *>(
                reinterpret_cast<IMAGE_IMPORT_BY_NAME *>(base + names[i].u1.AddressOfData)->Name);
            Row *match = nullptr;
            for (Row &row : Table()) {
                if (std::strcmp(row.name, name) == 0 && _stricmp(row.dll, stem.c_str()) == 0)
                    match = &row;
            }
            if (match == nullptr) {
                unknown.push_back(dll + "!" + name);
            } else if (match->hook != nullptr) {
                match->original = reinterpret_cast<void *>(slots[i].u1.Function);
                slots[i].u1.Function = reinterpret_cast<ULONG_PTR>(match->hook);
            }
        }
        VirtualProtect(slots, count * sizeof *slots, old, &old);
    }
    return unknown;
}

void StartRecording()
{
    g_record = Record();
    g_ordinals.clear();
    g_armed = false;
    g_failing = nullptr;
    g_count = 0;
    g_recording = true;
}

void Arm(Mode mode, unsigned k)
{
    StartRecording();
    g_mode = mode;
    g_target = k;
    g_armed = true;
}

void StopRecording()
{
    g_recording = false;
    g_armed = false;
}

Record &Current()
{
    return g_record;
}

Ledger &Live()
{
    return g_live;
}

const std::set<std::pair<const Row *, const void *>> &Sites()
{
    return g_sites;
}

void SetCrashContext(const std::string &context)
{
    g_crashContext = context;
}

} // namespace fault
