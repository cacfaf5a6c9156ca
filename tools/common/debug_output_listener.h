// A listener on the system's debug-output channel, as debug-output viewers
// are: it owns the "DBWIN_BUFFER" section and its two events, so every
// OutputDebugStringA of any process in the session reaches its callback.
#pragma once

#include <windows.h>

namespace qritools {

// Called on the listener's own thread, once per message, in order. text is
// terminated within the section and lives only for the call.
using DebugOutputCallback = void (*)(DWORD processId, const char *text, void *context);

struct DebugOutputListener;

// Creates the section and the events, then starts the listener thread. Null
// when another listener already owns the channel or a resource cannot be made;
// *error (may be null) then holds the system error (ERROR_ALREADY_EXISTS for
// another listener).
DebugOutputListener *StartDebugOutputListener(DebugOutputCallback callback, void *context, DWORD *error);

// Returns once every message written before the call has been handed to the
// callback (or after timeoutMs). Call it from the thread that wrote them.
void FlushDebugOutputListener(DebugOutputListener *listener, DWORD timeoutMs);

// Delivers what is pending, ends the thread and releases everything. Null is fine.
void StopDebugOutputListener(DebugOutputListener *listener);

} // namespace qritools
