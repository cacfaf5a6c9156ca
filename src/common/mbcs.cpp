// Multi-byte stepping through the ANSI code page.
#include "common/mbcs.h"

#include <windows.h>

#include <cstring>

namespace qri {

char *LastCharacter(char *text)
{
    // Cannot fail on a text in its own buffer; at worst it gives text itself,
    // and nothing is trimmed.
    return CharPrevA(text, text + std::strlen(text));
}

} // namespace qri
