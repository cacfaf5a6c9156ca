// Script text gathered in memory: whatever crosses the inline buffer, the
// heap growth or a single piece longer than either, the file receives the
// bytes that formatted output straight to the stream gave.
#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <string>

#include "support/script_file.h"

namespace {

// The formats come from the table; each takes one text and one number.
#pragma GCC diagnostic ignored "-Wformat-nonliteral"

TEST(ScriptText, FileGetsWhatTheFormatsSay)
{
    const std::string longValue(10000, 'v');
    struct Row {
        const char *name;
        int prints;
        const char *format; // one %s, then one %d
        std::string text;
    } rows[] = {
        {"short lines past the inline buffer and several growths", 3000, "\n\tset %s=%d", "Name"},
        {"one piece longer than the inline buffer", 3, "\n\tConnectionName  %s %d\n", longValue},
        {"a format the C library converts", 500, "\n\t%-12s|%5d", "pad"},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        qritest::ScriptFile script("generic part\r\n");
        std::string expected = "generic part\r\n";
        for (int i = 0; i < row.prints; ++i) {
            int number = i % 2 ? INT_MIN + i : i * 7919;
            script.Stream().Print(row.format, row.text.c_str(), number);
            std::string line(row.text.size() + 64, '\0');
            line.resize(static_cast<std::size_t>(
                std::snprintf(&line[0], line.size(), row.format, row.text.c_str(), number)));
            expected += qritest::Crlf(line);
        }
        EXPECT_EQ(script.Bytes(), expected);
    }
}

} // namespace
