// The one place that steps back through multi-byte text under the process's
// ANSI code page, so that a double-byte character whose second byte happens
// to be a separator is never mistaken for one.
#pragma once

namespace qri {

// The start of the last character of text (text itself when it is empty).
char *LastCharacter(char *text);

} // namespace qri
