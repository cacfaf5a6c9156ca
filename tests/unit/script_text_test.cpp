// Script text gathered in memory: across chunk boundaries, and for pieces
// longer than a chunk, the file receives the bytes that formatted output
// straight to the stream gave.
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
    const std::string longValue(40000, 'v'); // longer than a chunk
    struct Row {
        const char *name;
        int prints;
        const char *format; // one %s, then one %d
        std::string text;
    } rows[] = {
        {"short lines across several chunks", 10000, "\n\tset %s=%d", "Name"},
        {"pieces longer than a chunk", 3, "\n\tConnectionName  %s %d\n", longValue},
        {"formats the C library converts, across chunks", 3000, "\n\t%-12s|%5d", "pad"},
        {"formats the C library converts, longer than a chunk", 2, "\n\t%-12s|%5d", longValue},
        // Mostly one byte each: one of them fills a chunk exactly.
        {"formats the C library converts, to the last byte of a chunk", 100000, "%.0s%x", ""},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        qritest::ScriptFile script("generic part\r\n");
        std::string expected = "generic part\r\n";
        for (int i = 0; i < row.prints; ++i) {
            int number = i % 3 ? i % 10 : INT_MIN + i;
            script.Stream().Print(row.format, row.text.c_str(), number);
            std::string line(row.text.size() + 64, '\0');
            line.resize(static_cast<std::size_t>(
                std::snprintf(&line[0], line.size(), row.format, row.text.c_str(), number)));
            expected += qritest::Crlf(line);
        }
        EXPECT_EQ(script.Bytes(), expected);
    }
}

// A stream that takes nothing (opened for reading): whichever hand-over
// fails, Flush reports it from then on, with a reason.
TEST(ScriptText, HandOverThatFailsIsReported)
{
    const std::string longValue(40000, 'v');
    struct Row {
        const char *name;
        int prints;
        const char *format;
        const std::string &text;
    } rows[] = {
        {"the last part, at Flush", 1, "\n\tset %s=%d", "Name"},
        {"a chunk, in the middle", 10000, "\n\tset %s=%d", "Name"},
        {"a piece the C library formats", 1, "\n\t%-12s|%5d", longValue},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        qritest::ScratchDir dir("readonly");
        std::string path = dir.Join("script.tmp");
        qritest::WriteFileBytes(path, "generic part\r\n");
        FILE *stream = std::fopen(path.c_str(), "rb");
        ASSERT_NE(stream, nullptr);
        {
            qri::ScriptText text(stream);
            for (int i = 0; i < row.prints; ++i)
                text.Print(row.format, row.text.c_str(), i);
            EXPECT_FALSE(text.Flush());
            EXPECT_FALSE(text.Flush()) << "a failure is not forgotten";
            EXPECT_NE(text.Error(), 0u);
        }
        std::fclose(stream);
    }
}

} // namespace
