// Native stand-in for the ANSI code page stepping, for the fuzz build only.
// It follows code page 932's lead bytes and steps the way CharPrevA does
// (forward from the start), so double-byte characters reach the trimming.
#include "common/mbcs.h"

#include <cstring>

namespace qri {

namespace {

bool IsLeadByte(char c)
{
    unsigned char byte = static_cast<unsigned char>(c);
    return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
}

} // namespace

char *LastCharacter(char *text)
{
    char *end = text + std::strlen(text);
    char *last = text;
    while (*last != '\0') {
        // A lead byte right before the terminator is a character of its own.
        char *next = last + ((IsLeadByte(*last) && last[1] != '\0') ? 2 : 1);
        if (next >= end)
            break;
        last = next;
    }
    return last;
}

} // namespace qri
