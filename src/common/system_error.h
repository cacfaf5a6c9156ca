// The calling thread's system error, behind two calls, so that code which
// writes files can say why a write failed and still be plain C++.
#pragma once

namespace qri {

// Forgets the last error, so that a failure that follows is not reported
// with the reason of an earlier, unrelated one.
void ClearSystemError();

// The reason of the last failed system call on this thread, 0 for none.
unsigned long LastSystemError();

} // namespace qri
