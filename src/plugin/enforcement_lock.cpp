// The process-wide enforcement lock: a kernel mutex, made at the first
// enforcement and never closed. The system releases a mutex whose owning
// thread ends, however it ends, and tells the next owner so; a slim lock
// would stay taken for good.
#include "plugin/enforcement_lock.h"

#include <cstdint>

namespace qri {

namespace {

HANDLE volatile g_mutex = nullptr;

// Touched only by the thread that owns the mutex.
// The outermost enforcement of the owner, in its own stack frame; null when
// the owner took the mutex afresh.
const EnforcementLock *g_outermost = nullptr;
unsigned long g_outermostToken = 0;
unsigned long g_entries = 0;

HANDLE Mutex()
{
    HANDLE mutex = InterlockedCompareExchangePointer(&g_mutex, nullptr, nullptr);
    if (mutex != nullptr)
        return mutex;
    // Not inheritable: the engines are started with handle inheritance on.
    HANDLE made = CreateMutexA(nullptr, FALSE, nullptr);
    if (made == nullptr)
        return nullptr;
    HANDLE earlier = InterlockedCompareExchangePointer(&g_mutex, made, nullptr);
    if (earlier == nullptr)
        return made;
    CloseHandle(made);
    return earlier;
}

} // namespace

EnforcementLock::EnforcementLock()
{
    HANDLE mutex = Mutex();
    if (mutex == nullptr)
        return;
    DWORD waited = WaitForSingleObject(mutex, INFINITE);
    if (waited != WAIT_OBJECT_0 && waited != WAIT_ABANDONED)
        return;
    // WAIT_ABANDONED: the previous owner's thread ended inside an
    // enforcement; its bookkeeping means nothing any more.
    if (waited == WAIT_OBJECT_0 && g_outermost != nullptr) {
        // This thread owned the mutex already. It is nested only when the
        // outermost enforcement is still running on its stack: that frame
        // lies above this one and still holds its token. Otherwise that
        // enforcement was unwound past its export and left one ownership
        // behind, which is given up here.
        auto here = reinterpret_cast<std::uintptr_t>(this);
        auto outer = reinterpret_cast<std::uintptr_t>(g_outermost);
        if (here < outer && g_outermost->token_ == g_outermostToken) {
            ReleaseMutex(mutex);
            return;
        }
        ReleaseMutex(mutex);
    }
    if (++g_entries == 0)
        ++g_entries;
    token_ = g_entries;
    g_outermostToken = token_;
    g_outermost = this;
    held_ = true;
}

EnforcementLock::~EnforcementLock()
{
    if (!held_)
        return;
    token_ = 0;
    g_outermost = nullptr;
    ReleaseMutex(g_mutex);
}

} // namespace qri
