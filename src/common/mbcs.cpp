// Multi-byte stepping through the ANSI code page.
#include "common/mbcs.h"

#include <windows.h>

#include <cstring>

namespace qri {

char *LastCharacter(char *text)
{
    return CharPrevA(text, text + std::strlen(text));
}

} // namespace qri
