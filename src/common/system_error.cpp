// The thread's last error as the system keeps it.
#include "common/system_error.h"

#include <windows.h>

namespace qri {

void ClearSystemError()
{
    SetLastError(ERROR_SUCCESS); // cannot fail
}

unsigned long LastSystemError()
{
    return GetLastError();
}

} // namespace qri
