// The process-wide enforcement lock: a kernel mutex, made at the first
// enforcement and never closed. The system releases a mutex whose owning
// thread ends, however it ends, and tells the next owner so; a slim lock
// would stay taken for good. Who holds it is told by the thread and fiber
// that took it, never by where stacks lie: fibers' stacks lie anywhere, and
// an unwound frame's memory is soon someone else's.
#include "plugin/enforcement_lock.h"

namespace qri {

namespace {

HANDLE volatile g_mutex = nullptr;

// The running enforcement's hold: its ticket, 0 while none runs, and the
// thread and fiber that took it. Written by the mutex's owner, and by a
// holding fiber that ends on another thread (GiveBack).
LONG volatile g_ticket = 0;
LONG g_lastTicket = 0;
DWORD volatile g_ownerThread = 0;
void *volatile g_ownerFiber = nullptr;
// A thread that still owns the mutex for a hold that its fiber gave back on
// another thread; it lets go of that ownership at its next enforcement.
DWORD volatile g_strandedOn = 0;

HANDLE Mutex()
{
    HANDLE mutex = InterlockedCompareExchangePointer(&g_mutex, nullptr, nullptr);
    if (mutex != nullptr)
        return mutex;
    // Not inheritable: the engines are started with handle inheritance on.
    // Failing: this enforcement returns 0 at once; the next one tries again.
    HANDLE made = CreateMutexA(nullptr, FALSE, nullptr);
    if (made == nullptr)
        return nullptr;
    HANDLE earlier = InterlockedCompareExchangePointer(&g_mutex, made, nullptr);
    if (earlier == nullptr)
        return made;
    CloseHandle(made); // harmless if it fails: the first mutex is the lock
    return earlier;
}

void *CurrentFiber()
{
    // Cannot fail: it reads the thread's own record.
    if (!IsThreadAFiber())
        return nullptr;
    // gcc 12 takes the TEB read of mingw's GetCurrentFiber for an access
    // out of bounds.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Warray-bounds"
    return GetCurrentFiber();
#pragma GCC diagnostic pop
}

// Takes the lock and stores the hold's ticket in *hold; false for a call
// from the holding thread or fiber, or when the lock cannot be had.
bool Take(volatile LONG *hold)
{
    HANDLE mutex = Mutex();
    if (mutex == nullptr)
        return false;
    void *fiber = CurrentFiber();
    // WAIT_FAILED from either wait: 0 at once, nothing read.
    DWORD waited = WaitForSingleObject(mutex, 0);
    if (waited == WAIT_TIMEOUT) {
        // Another thread owns the mutex. The holder may still be this very
        // fiber, which took the lock there and was resumed here: it would
        // wait for itself.
        if (fiber != nullptr && g_ownerFiber == fiber && g_ticket != 0)
            return false;
        waited = WaitForSingleObject(mutex, INFINITE);
    }
    if (waited == WAIT_ABANDONED) {
        // The holder's thread ended inside an enforcement: its bookkeeping
        // means nothing any more.
        g_strandedOn = 0;
        InterlockedExchange(&g_ticket, 0);
    } else if (waited != WAIT_OBJECT_0) {
        return false;
    } else if (g_ticket != 0) {
        // A running enforcement, and the mutex is this thread's: the call
        // comes from inside it, on whichever fiber. Releasing a mutex that
        // this thread owns cannot fail, here or below.
        ReleaseMutex(mutex);
        return false;
    } else if (g_strandedOn == GetCurrentThreadId()) {
        g_strandedOn = 0;
        ReleaseMutex(mutex);
    }
    LONG ticket = ++g_lastTicket;
    if (ticket == 0)
        ticket = ++g_lastTicket;
    g_ownerThread = GetCurrentThreadId();
    g_ownerFiber = fiber;
    *hold = ticket;
    InterlockedExchange(&g_ticket, ticket);
    return true;
}

// Gives back the hold in *hold, if it is still the running one; once.
void GiveBack(volatile LONG *hold)
{
    LONG ticket = InterlockedExchange(hold, 0);
    // Not the running hold any more: its thread ended and another caller
    // has taken the lock since.
    if (ticket == 0 || g_ticket != ticket)
        return;
    DWORD owner = g_ownerThread;
    g_ownerFiber = nullptr;
    if (owner == GetCurrentThreadId()) {
        InterlockedExchange(&g_ticket, 0);
        ReleaseMutex(g_mutex);
        return;
    }
    // A fiber that took the lock on another thread ends here, and only that
    // thread can release the mutex. Other threads wait until it enforces
    // again or ends, as they would for a thread that holds the lock.
    g_strandedOn = owner;
    InterlockedCompareExchange(&g_ticket, 0, ticket);
}

struct Enforcement {
    EnforcementBody body;
    void *context;
};

int RunHeld(void *argument, volatile LONG *hold)
{
    auto *enforcement = static_cast<Enforcement *>(argument);
    if (!Take(hold))
        return 0;
    int result = enforcement->body(enforcement->context);
    GiveBack(hold);
    return result;
}

} // namespace

} // namespace qri

extern "C" {

// enforcement_frame.S
int qri_run_in_enforcement_frame(int (*step)(void *argument, volatile LONG *hold), void *argument);

// The handler of that frame, for every exception that passes it (on i386 also
// while a handler is being looked for). Gives the hold back when an unwind
// leaves the frame behind; the frame is never the target of one.
int qri_enforcement_frame_unwinding(const EXCEPTION_RECORD *record, volatile LONG *hold)
{
    if ((record->ExceptionFlags & (EXCEPTION_UNWINDING | EXCEPTION_EXIT_UNWIND)) != 0 &&
        (record->ExceptionFlags & EXCEPTION_TARGET_UNWIND) == 0)
        qri::GiveBack(hold);
    return ExceptionContinueSearch;
}

} // extern "C"

namespace qri {

int RunHoldingEnforcementLock(EnforcementBody body, void *context)
{
    Enforcement enforcement = {body, context};
    return qri_run_in_enforcement_frame(RunHeld, &enforcement);
}

} // namespace qri
