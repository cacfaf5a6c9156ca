// One enforcement at a time in the whole process: the two enforcement exports
// share the trace buffer, the policy script names, dwProcessHandle and the
// remembered engine handle, and the agent may call them from any thread.
#pragma once

#include <windows.h>

namespace qri {

using EnforcementBody = int (*)(void *context);

// Runs body(context) holding the process-wide enforcement lock and returns
// its result. Callers on other threads wait for it. A call from the thread
// that holds it, on any of that thread's fibers (a reader that calls back
// into an enforcement, or switches to a fiber that does), returns 0 without
// running body: it would wait for itself. The lock is given back when body
// returns, when an unwind passes the frame body runs in (a longjmp out of a
// reader, a structured exception caught outside the export), and when the
// holder's thread ends.
int RunHoldingEnforcementLock(EnforcementBody body, void *context);

} // namespace qri
