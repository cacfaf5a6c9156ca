// Listener on the debug-output channel: a 4096-byte section "DBWIN_BUFFER"
// (the writer's process ID, then the text), the auto-reset event
// "DBWIN_BUFFER_READY" that the listener sets when the section may be written
// and "DBWIN_DATA_READY" that the writer sets when it has written it.
#include "common/debug_output_listener.h"

#include <initializer_list>
#include <new>

namespace qritools {

namespace {

constexpr DWORD kSectionSize = 4096;

} // namespace

struct DebugOutputListener {
    DebugOutputCallback callback = nullptr;
    void *context = nullptr;
    HANDLE section = nullptr;
    char *view = nullptr;
    HANDLE bufferReady = nullptr;
    HANDLE dataReady = nullptr;
    HANDLE stopRequested = nullptr;
    HANDLE thread = nullptr;
};

namespace {

void Release(DebugOutputListener *listener)
{
    if (listener->view != nullptr)
        UnmapViewOfFile(listener->view);
    for (HANDLE handle : {listener->section, listener->bufferReady, listener->dataReady, listener->stopRequested,
                          listener->thread}) {
        if (handle != nullptr)
            CloseHandle(handle);
    }
    delete listener;
}

void Deliver(DebugOutputListener *listener)
{
    DWORD processId = 0;
    CopyMemory(&processId, listener->view, sizeof processId);
    // A writer may fill the section to its end: terminate it ourselves.
    listener->view[kSectionSize - 1] = '\0';
    listener->callback(processId, listener->view + sizeof processId, listener->context);
}

DWORD WINAPI Listen(void *parameter)
{
    auto *listener = static_cast<DebugOutputListener *>(parameter);
    HANDLE wakeUps[2] = {listener->dataReady, listener->stopRequested};
    SetEvent(listener->bufferReady);
    for (;;) {
        DWORD woken = WaitForMultipleObjects(2, wakeUps, FALSE, INFINITE);
        if (woken == WAIT_OBJECT_0) {
            Deliver(listener);
            SetEvent(listener->bufferReady);
            continue;
        }
        // Stopping: a message written just before still counts.
        if (WaitForSingleObject(listener->dataReady, 0) == WAIT_OBJECT_0)
            Deliver(listener);
        return 0;
    }
}

} // namespace

DebugOutputListener *StartDebugOutputListener(DebugOutputCallback callback, void *context, DWORD *error)
{
    DWORD ignored = 0;
    DWORD &failure = error != nullptr ? *error : ignored;
    failure = ERROR_SUCCESS;
    if (callback == nullptr) {
        failure = ERROR_INVALID_PARAMETER;
        return nullptr;
    }
    auto *listener = new (std::nothrow) DebugOutputListener;
    if (listener == nullptr) {
        failure = ERROR_NOT_ENOUGH_MEMORY;
        return nullptr;
    }
    listener->callback = callback;
    listener->context = context;
    SetLastError(ERROR_SUCCESS);
    listener->section =
        CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, kSectionSize, "DBWIN_BUFFER");
    if (listener->section != nullptr && GetLastError() == ERROR_ALREADY_EXISTS) {
        // Someone else listens; two listeners would steal each other's messages.
        failure = ERROR_ALREADY_EXISTS;
        Release(listener);
        return nullptr;
    }
    if (listener->section != nullptr)
        listener->view = static_cast<char *>(MapViewOfFile(listener->section, FILE_MAP_WRITE, 0, 0, kSectionSize));
    if (listener->view != nullptr) {
        listener->bufferReady = CreateEventA(nullptr, FALSE, FALSE, "DBWIN_BUFFER_READY");
        listener->dataReady = CreateEventA(nullptr, FALSE, FALSE, "DBWIN_DATA_READY");
        listener->stopRequested = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    }
    if (listener->bufferReady != nullptr && listener->dataReady != nullptr && listener->stopRequested != nullptr)
        listener->thread = CreateThread(nullptr, 0, Listen, listener, 0, nullptr);
    if (listener->thread == nullptr) {
        failure = GetLastError() != ERROR_SUCCESS ? GetLastError() : ERROR_GEN_FAILURE;
        Release(listener);
        return nullptr;
    }
    return listener;
}

void FlushDebugOutputListener(DebugOutputListener *listener, DWORD timeoutMs)
{
    if (listener == nullptr)
        return;
    // The listener sets "buffer ready" only after it handed the last message
    // on; take that signal and give it back for the next writer.
    if (WaitForSingleObject(listener->bufferReady, timeoutMs) == WAIT_OBJECT_0)
        SetEvent(listener->bufferReady);
}

void StopDebugOutputListener(DebugOutputListener *listener)
{
    if (listener == nullptr)
        return;
    FlushDebugOutputListener(listener, 1000);
    SetEvent(listener->stopRequested);
    WaitForSingleObject(listener->thread, 5000);
    Release(listener);
}

} // namespace qritools
