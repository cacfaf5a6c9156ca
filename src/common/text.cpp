// Bounded text handling shared by the subsystems.
#include "common/text.h"

#include <climits>
#include <cstdio>
#include <cstring>

#include "common/mbcs.h"

namespace qri {

namespace {

bool IsSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

char FoldAscii(char c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

} // namespace

int ParseDecimal(const char *text)
{
    if (text == nullptr)
        return 0;
    while (IsSpace(*text))
        ++text;
    bool negative = false;
    if (*text == '+' || *text == '-')
        negative = (*text++ == '-');
    long long value = 0;
    for (; *text >= '0' && *text <= '9'; ++text) {
        value = value * 10 + (*text - '0');
        if (value > static_cast<long long>(INT_MAX) + 1)
            value = static_cast<long long>(INT_MAX) + 1;
    }
    if (negative)
        return static_cast<int>(-value);
    return value > INT_MAX ? INT_MAX : static_cast<int>(value);
}

bool EqualsNoCaseAscii(const char *a, const char *b)
{
    for (; *a != '\0' && *b != '\0'; ++a, ++b) {
        if (FoldAscii(*a) != FoldAscii(*b))
            return false;
    }
    return *a == *b;
}

bool StartsWithNoCaseAscii(const char *text, const char *prefix)
{
    for (; *prefix != '\0'; ++text, ++prefix) {
        if (*text == '\0' || FoldAscii(*text) != FoldAscii(*prefix))
            return false;
    }
    return true;
}

bool CopyBounded(char *dest, std::size_t capacity, const char *source)
{
    if (capacity == 0)
        return false;
    std::size_t length = std::strlen(source);
    bool fits = length < capacity;
    if (!fits)
        length = capacity - 1;
    std::memcpy(dest, source, length);
    dest[length] = '\0';
    return fits;
}

bool FormatBoundedV(char *dest, std::size_t capacity, const char *format, va_list args)
{
    if (capacity == 0)
        return false;
    // A negative count reads as "does not fit": every caller has that path.
    int written = std::vsnprintf(dest, capacity, format, args);
    dest[capacity - 1] = '\0';
    return written >= 0 && static_cast<std::size_t>(written) < capacity;
}

bool FormatBounded(char *dest, std::size_t capacity, const char *format, ...)
{
    va_list args;
    va_start(args, format);
    bool fits = FormatBoundedV(dest, capacity, format, args);
    va_end(args);
    return fits;
}

bool TerminateWithin(char *buffer, std::size_t capacity, std::size_t used)
{
    if (capacity == 0)
        return false;
    if (used < capacity) {
        buffer[used] = '\0';
        return true;
    }
    // Full buffer: acceptable only when its own last byte already ends the text.
    return buffer[capacity - 1] == '\0';
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
