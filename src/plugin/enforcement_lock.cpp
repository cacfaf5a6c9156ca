// The process-wide enforcement lock: a slim reader/writer lock, which needs no
// initialisation at load, and the id of the thread that holds it.
#include "plugin/enforcement_lock.h"

namespace qri {

namespace {

SRWLOCK g_lock = SRWLOCK_INIT;
// Written only by the holder, so a thread can only ever find its own id here
// while it holds the lock.
volatile LONG g_holder = 0;

} // namespace

EnforcementLock::EnforcementLock()
{
    LONG self = static_cast<LONG>(GetCurrentThreadId());
    if (InterlockedCompareExchange(&g_holder, 0, 0) == self)
        return;
    AcquireSRWLockExclusive(&g_lock);
    InterlockedExchange(&g_holder, self);
    held_ = true;
}

bool EnforcementRunning()
{
    return InterlockedCompareExchange(&g_holder, 0, 0) != 0;
}

EnforcementLock::~EnforcementLock()
{
    if (!held_)
        return;
    InterlockedExchange(&g_holder, 0);
    ReleaseSRWLockExclusive(&g_lock);
}

} // namespace qri
