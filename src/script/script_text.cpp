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

void ScriptText::Print(const char *format, ...)
{
    va_list args;
    va_start(args, format);
    va_list retry;
    va_copy(retry, args);
    int length = std::vsnprintf(data_ + size_, capacity_ - size_, format, args);
    va_end(args);
    if (length >= 0) {
        std::size_t needed = size_ + static_cast<std::size_t>(length) + 1;
        if (needed <= capacity_) {
            size_ = needed - 1;
        } else {
            if (!Grow(needed)) {
                // Out of memory: make room by writing out what is gathered.
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
