// The text appended to one script, gathered in memory and handed to the
// script's text-mode stream in one write: formatted output straight to the
// stream reaches the file a character at a time and is written out at every
// line feed.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <cstdio>
#include <cstring>

namespace qri {

class ScriptText {
public:
    // stream: open for appending, owned by the caller, outliving this object.
    explicit ScriptText(FILE *stream) : stream_(stream) {}
    // Whatever is still gathered goes to the stream.
    ~ScriptText();
    ScriptText(const ScriptText &) = delete;
    ScriptText &operator=(const ScriptText &) = delete;

    // Appends the formatted text whole, however long: the buffer grows, and
    // where memory runs out the text gathered so far is written first. The
    // conversions of the script forms (%s, %d, %lu, %%) are done here: the C
    // library's formatting measured as most of the generator's own work per
    // line. Any other format goes through vsnprintf.
    void Print(const char *format, ...) __attribute__((format(gnu_printf, 2, 3)));

    // Appends length bytes of text as they are.
    void Append(const char *text, std::size_t length)
    {
        if (length <= capacity_ - size_) {
            std::memcpy(data_ + size_, text, length);
            size_ += length;
        } else {
            AppendGrowing(text, length);
        }
    }

    // Hands everything gathered to the stream. False when it took less.
    bool Flush();

private:
    bool Grow(std::size_t needed);
    void AppendGrowing(const char *text, std::size_t length);
    void PrintFormatted(const char *format, va_list args);

    FILE *stream_;
    char inline_[8192];
    char *data_ = inline_;
    std::size_t size_ = 0;
    std::size_t capacity_ = sizeof inline_;
};

} // namespace qri
