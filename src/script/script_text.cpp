// Script text gathered in memory, appended to the stream at once.
#include "script/script_text.h"

#include <cstdlib>
#include <cstring>

namespace qri {

ScriptText::~ScriptText()
{
    Flush();
    if (data_ != inline_)
        std::free(data_);
}

bool ScriptText::Grow(std::size_t needed)
{
    std::size_t capacity = capacity_;
    while (capacity < needed) {
        if (capacity > static_cast<std::size_t>(-1) / 2)
            return false;
        capacity *= 2;
    }
    char *grown = static_cast<char *>(std::malloc(capacity));
    if (grown == nullptr)
        return false;
    std::memcpy(grown, data_, size_);
    if (data_ != inline_)
        std::free(data_);
    data_ = grown;
    capacity_ = capacity;
    return true;
}

namespace {

// True when every conversion of format is one that Print does itself.
bool SimpleConversions(const char *format)
{
    for (const char *c = std::strchr(format, '%'); c != nullptr; c = std::strchr(c + 1, '%')) {
        if (c[1] == 's' || c[1] == 'd' || c[1] == '%')
            ++c;
        else if (c[1] == 'l' && c[2] == 'u')
            c += 2;
        else
            return false;
    }
    return true;
}

// Decimal digits of value at the end of a buffer; returns where they start.
char *Digits(unsigned long long value, char *end)
{
    do {
        *--end = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value != 0);
    return end;
}

} // namespace

void ScriptText::AppendGrowing(const char *text, std::size_t length)
{
    if (!Grow(size_ + length)) {
        // Out of memory: make room by writing out what is gathered.
        Flush();
        if (length > capacity_) {
            std::fwrite(text, 1, length, stream_);
            return;
        }
    }
    std::memcpy(data_ + size_, text, length);
    size_ += length;
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
            const char *literal = c;
            while (*c != '\0' && *c != '%')
                ++c;
            Append(literal, static_cast<std::size_t>(c - literal));
            continue;
        }
        char number[24];
        char *const end = number + sizeof number;
        if (c[1] == 's') {
            const char *text = va_arg(args, const char *);
            if (text == nullptr)
                text = "(null)";
            Append(text, std::strlen(text));
            c += 2;
        } else if (c[1] == 'd') {
            long long value = va_arg(args, int);
            char *first = Digits(static_cast<unsigned long long>(value < 0 ? -value : value), end);
            if (value < 0)
                *--first = '-';
            Append(first, static_cast<std::size_t>(end - first));
            c += 2;
        } else if (c[1] == 'l') {
            char *first = Digits(va_arg(args, unsigned long), end);
            Append(first, static_cast<std::size_t>(end - first));
            c += 3;
        } else {
            Append("%", 1);
            c += 2;
        }
    }
    va_end(args);
}

void ScriptText::PrintFormatted(const char *format, va_list args)
{
    va_list retry;
    va_copy(retry, args);
    int length = std::vsnprintf(data_ + size_, capacity_ - size_, format, args);
    if (length < 0) {
        // Not measurable here: let the stream format it, after what is gathered.
        Flush();
        std::vfprintf(stream_, format, retry);
    } else {
        std::size_t needed = size_ + static_cast<std::size_t>(length) + 1;
        if (needed <= capacity_) {
            size_ = needed - 1;
        } else {
            if (!Grow(needed)) {
                Flush();
                needed = static_cast<std::size_t>(length) + 1;
            }
            if (needed <= capacity_) {
                std::vsnprintf(data_ + size_, capacity_ - size_, format, retry);
                size_ = needed - 1;
            } else {
                std::vfprintf(stream_, format, retry);
            }
        }
    }
    va_end(retry);
}

bool ScriptText::Flush()
{
    if (size_ == 0)
        return true;
    std::size_t gathered = size_;
    size_ = 0;
    return std::fwrite(data_, 1, gathered, stream_) == gathered;
}

} // namespace qri
