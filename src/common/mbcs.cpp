// Multi-byte stepping through the ANSI code page.
#include "common/mbcs.h"

#include <windows.h>

#include <cstring>

namespace qri {

char *LastCharacter(char *text)
{
    return CharPrevA(text, text + std::strlen(text));
}

void TrimOneTrailing(char *text, char separator)
{
    if (*text == '\0')
        return;
    char *last = LastCharacter(text);
    if (*last == separator)
        *last = '\0';
}

} // namespace qri
