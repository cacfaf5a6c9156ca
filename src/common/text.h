// Bounded text handling shared by the subsystems: decimal parsing, ASCII
// case folding, bounded copies and formats, and termination of text that
// arrives from outside. Nothing here needs <windows.h>.
#pragma once

#include <cstdarg>
#include <cstddef>

#include "common/printf_format.h"

namespace qri {

// Capacity, terminating zero included, of every path and name buffer.
constexpr std::size_t kPathCapacity = 260;

// Leading white space, an optional sign, then decimal digits up to the first
// other character; 0 when there are none. Saturates instead of overflowing.
int ParseDecimal(const char *text);

// Compare folding only the ASCII letters A to Z.
bool EqualsNoCaseAscii(const char *a, const char *b);
bool StartsWithNoCaseAscii(const char *text, const char *prefix);

// Copies as much of source as fits and always terminates. Returns false when
// source was cut.
bool CopyBounded(char *dest, std::size_t capacity, const char *source);

// vsnprintf that always terminates. Returns false when the text was cut.
bool FormatBounded(char *dest, std::size_t capacity, const char *format, ...)
    QRI_PRINTF_FORMAT(3, 4);
bool FormatBoundedV(char *dest, std::size_t capacity, const char *format, va_list args);

// Text that a reader or the registry left in buffer (capacity bytes, of which
// `used` were written) gets a terminating zero inside the buffer. Returns
// false when the data fills the whole buffer without one, so it cannot be
// terminated without losing its last character.
bool TerminateWithin(char *buffer, std::size_t capacity, std::size_t used);

// Removes the last character when it is `separator`; one character only,
// found by the ANSI code page's multi-byte rules (LastCharacter).
void TrimOneTrailing(char *text, char separator);

} // namespace qri
