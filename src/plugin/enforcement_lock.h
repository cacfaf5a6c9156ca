// One enforcement at a time in the whole process: the two enforcement exports
// share the trace buffer, the policy script names, dwProcessHandle and the
// remembered engine handle, and the agent may call them from any thread.
#pragma once

#include <windows.h>

namespace qri {

// Held for the whole of one enforcement. Callers on other threads wait for
// it; a call made again from inside the running enforcement on its own
// thread (a reader that calls back into an enforcement) does not wait and
// must do nothing. A holder that ends without releasing it (its thread ended
// or was terminated, or it was unwound past the export) does not keep it:
// the next caller takes it over.
class EnforcementLock {
public:
    EnforcementLock();
    ~EnforcementLock();
    EnforcementLock(const EnforcementLock &) = delete;
    EnforcementLock &operator=(const EnforcementLock &) = delete;

    // False for a nested call, or when the lock could not be made.
    bool Held() const { return held_; }

private:
    bool held_ = false;
    // Tells this enforcement's frame apart from whatever later reuses its
    // stack memory (see the lookup in the constructor).
    volatile unsigned long token_ = 0;
};

} // namespace qri
