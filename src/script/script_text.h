// The text appended to one script, gathered in memory and handed to the
// script's text-mode stream a large chunk at a time: formatted output straight
// to the stream reaches the file a character at a time and is written out at
// every line feed. The chunk is of fixed size and reused, never grown: memory
// that a process touches for the first time is dear (under Wine about 10 us a
// page), and a buffer grown to hold a whole script touches all of it.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <cstdio>

#include "common/printf_format.h"

namespace qri {

class ScriptText {
public:
    // stream: open for appending, owned by the caller, outliving this object.
    explicit ScriptText(FILE *stream);
    // Whatever is still gathered goes to the stream; whether it arrived is
    // known only to a Flush() called before.
    ~ScriptText();
    ScriptText(const ScriptText &) = delete;
    ScriptText &operator=(const ScriptText &) = delete;

    // Appends the formatted text whole, however long. The conversions of the
    // script forms (%s, %d, %lu, %%) are done here, a byte at a time, which
    // costs far less than the C library's formatting; any other format goes
    // through vsnprintf.
    void Print(const char *format, ...) QRI_PRINTF_FORMAT(2, 3);

    void Put(char c)
    {
        if (size_ == capacity_)
            Flush();
        data_[size_++] = c;
    }

    // Hands everything gathered to the stream. False when it took less, now
    // or at any earlier hand-over: a script with a hole is no script.
    bool Flush();

    // The system error of the first hand-over that failed; 0 when none did.
    unsigned long Error() const { return error_; }

    // Bytes gathered before they go to the stream (when the chunk could not
    // be allocated, the smaller fallback buffer inside the object).
    static constexpr std::size_t kChunkSize = 32768;

private:
    void PrintFormatted(const char *format, va_list args);
    void Failed();

    FILE *stream_;
    char fallback_[1024];
    char *data_;
    std::size_t size_ = 0;
    std::size_t capacity_;
    unsigned long error_ = 0;
    bool failed_ = false;
};

} // namespace qri
