// Marks a printf-like function so that its callers' formats are checked. The
// plug-in's formats are C99's (mingw-w64's own printf family), which gcc calls
// gnu_printf and clang, knowing only one kind, printf.
#pragma once

#if defined(__clang__)
#define QRI_PRINTF_FORMAT(format_index, first_argument) __attribute__((format(printf, format_index, first_argument)))
#else
#define QRI_PRINTF_FORMAT(format_index, first_argument) __attribute__((format(gnu_printf, format_index, first_argument)))
#endif
