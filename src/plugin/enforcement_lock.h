// One enforcement at a time in the whole process: the two enforcement exports
// share the trace buffer, the policy script names, dwProcessHandle and the
// remembered engine handle, and the agent may call them from any thread.
#pragma once

#include <windows.h>

namespace qri {

// Held for the whole of one enforcement. Callers on other threads wait for
// it; a call made again on the thread that already holds it (a reader that
// calls back into an enforcement) does not wait and must do nothing.
class EnforcementLock {
public:
    EnforcementLock();
    ~EnforcementLock();
    EnforcementLock(const EnforcementLock &) = delete;
    EnforcementLock &operator=(const EnforcementLock &) = delete;

    // False for a nested call on the holding thread.
    bool Held() const { return held_; }

private:
    bool held_ = false;
};

// True while some thread holds the lock (a moment's answer).
bool EnforcementRunning();

} // namespace qri
