// Script text gathered in memory, appended to the stream a chunk at a time.
#include "script/script_text.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "common/system_error.h"

namespace qri {

namespace {

// True when every conversion of format is one that Print does itself.
bool SimpleConversions(const char *format)
{
    for (const char *c = format; *c != '\0'; ++c) {
        if (*c != '%')
            continue;
        if (c[1] == 's' || c[1] == 'd' || c[1] == '%')
            ++c;
        else if (c[1] == 'l' && c[2] == 'u')
            c += 2;
        else
            return false;
    }
    return true;
}

// Decimal digits of value, terminated, ending at end; returns where they start.
char *Digits(unsigned long long value, char *end)
{
    *--end = '\0';
    do {
        *--end = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value != 0);
    return end;
}

// The system's codes for the two reasons errno can tell.
constexpr unsigned long kDiskFull = 112;
constexpr unsigned long kWriteFault = 29;

} // namespace

// malloc failing is harmless: the fallback buffer gives the same bytes in
// smaller hand-overs.
ScriptText::ScriptText(FILE *stream) : stream_(stream), data_(static_cast<char *>(std::malloc(kChunkSize)))
{
    capacity_ = data_ != nullptr ? kChunkSize : sizeof fallback_;
    if (data_ == nullptr)
        data_ = fallback_;
}

ScriptText::~ScriptText()
{
    Flush();
    if (data_ != fallback_)
        std::free(data_);
}

void ScriptText::Print(const char *format, ...)
{
    va_list args;
    va_start(args, format);
    if (!SimpleConversions(format)) {
        PrintFormatted(format, args);
        va_end(args);
        return;
    }
    for (const char *c = format; *c != '\0';) {
        if (*c != '%') {
            Put(*c++);
            continue;
        }
        char number[24];
        const char *piece;
        if (c[1] == 's') {
            piece = va_arg(args, const char *);
            if (piece == nullptr)
                piece = "(null)";
            c += 2;
        } else if (c[1] == 'd') {
            long long value = va_arg(args, int);
            char *first = Digits(static_cast<unsigned long long>(value < 0 ? -value : value), number + sizeof number);
            if (value < 0)
                *--first = '-';
            piece = first;
            c += 2;
        } else if (c[1] == 'l') {
            piece = Digits(va_arg(args, unsigned long), number + sizeof number);
            c += 3;
        } else {
            piece = "%";
            c += 2;
        }
        while (*piece != '\0')
            Put(*piece++);
    }
    va_end(args);
}

void ScriptText::PrintFormatted(const char *format, va_list args)
{
    va_list retry;
    va_copy(retry, args);
    int length = std::vsnprintf(data_ + size_, capacity_ - size_, format, args);
    if (length >= 0 && static_cast<std::size_t>(length) < capacity_ - size_) {
        size_ += static_cast<std::size_t>(length);
    } else {
        // Longer than the room left, or not measurable: the stream formats
        // it, after what is gathered.
        Flush();
        ClearSystemError();
        errno = 0;
        // A negative count: the stream took some unknown part of the text.
        if (std::vfprintf(stream_, format, retry) < 0)
            Failed();
    }
    va_end(retry);
}

void ScriptText::Failed()
{
    if (failed_)
        return;
    failed_ = true;
    // The C library leaves the system's reason in the thread's last error; a
    // failure of its own (a stream in error already) leaves only errno.
    error_ = LastSystemError();
    if (error_ == 0)
        error_ = errno == ENOSPC ? kDiskFull : kWriteFault;
}

bool ScriptText::Flush()
{
    if (size_ != 0) {
        std::size_t gathered = size_;
        size_ = 0;
        ClearSystemError();
        errno = 0;
        // A short count: the rest of the script would follow a hole.
        if (std::fwrite(data_, 1, gathered, stream_) != gathered)
            Failed();
    }
    // Text that the C library formatted itself fails only here.
    if (std::ferror(stream_) != 0)
        Failed();
    return !failed_;
}

} // namespace qri
