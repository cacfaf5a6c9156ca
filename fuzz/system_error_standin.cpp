// Native stand-in for the thread's system error, for the fuzz build only.
#include "common/system_error.h"

#include <cerrno>

namespace qri {

void ClearSystemError()
{
    errno = 0;
}

unsigned long LastSystemError()
{
    return static_cast<unsigned long>(errno);
}

} // namespace qri
