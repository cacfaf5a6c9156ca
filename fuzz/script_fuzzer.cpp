// Fuzz target: the option table walks and the update-site writers, fed by a
// fake reader that answers each read from the input and writing the script
// into a memory stream.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "common/setting_source.h"
#include "common/trace.h"
#include "script/option_tables.h"
#include "script/site_writers.h"

namespace {

const std::uint8_t *g_next;
const std::uint8_t *g_end;

// Fills the whole buffer with the field, repeated, and no terminator.
void Fill(char *buffer, std::size_t capacity, const std::uint8_t *field, std::size_t length)
{
    for (std::size_t i = 0; i < capacity; ++i)
        buffer[i] = length > 0 ? static_cast<char>(field[i % length]) : 'A';
}

// One answer: a tag byte, then a field up to the next line feed. Tag modulo 4:
// 0 not found; 1 not found, yet the buffer scribbled over (a reader that
// breaks its word); 2 found, the field as text, unterminated when it does not
// fit; 3 found, the buffer filled to its last byte without a terminator.
// The end of the input answers "not found".
int Answer(void *buffer, unsigned long *size)
{
    if (g_next >= g_end)
        return 0;
    int tag = (*g_next++ - '0') & 3;
    const std::uint8_t *field = g_next;
    const void *lineFeed = std::memchr(field, '\n', g_end - field);
    std::size_t length = lineFeed ? static_cast<const std::uint8_t *>(lineFeed) - field : g_end - field;
    g_next = field + length + (lineFeed ? 1 : 0);

    char *text = static_cast<char *>(buffer);
    std::size_t capacity = *size;
    switch (tag) {
    case 0:
        return 0;
    case 1:
        Fill(text, capacity, field, length);
        return 0;
    case 2:
        std::memcpy(text, field, length < capacity ? length : capacity);
        if (length < capacity)
            text[length] = '\0';
        return 1;
    default:
        Fill(text, capacity, field, length);
        return 1;
    }
}

int RXPLUGIN_CALLBACK TaskReader(void *, unsigned long, const char *, const char *, void *buffer, int,
                                 unsigned long *size)
{
    return Answer(buffer, size);
}

int RXPLUGIN_CALLBACK PolicyReader(const char *, const char *, const char *, void *buffer, int, unsigned long *size)
{
    return Answer(buffer, size);
}

} // namespace

// Input: a first line whose first byte chooses the readers (bit 0 task, bit 1
// policy), then the answers, consumed in read order by the two walks, an FTP
// site and a UNC site.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size < 1)
        return 0;
    // The stand-in channel always listens: every trace message is formatted.
    qri::DecideEnforcementTrace();
    char softwareId[] = "QRI1000";
    qri::SettingSource source = {};
    if (data[0] & 1)
        source.taskReader = TaskReader;
    if (data[0] & 2)
        source.policyReader = PolicyReader;
    source.data = softwareId;
    source.dataSize = source.policyReader == nullptr ? sizeof softwareId : 0;
    g_end = data + size;
    const void *lineFeed = std::memchr(data, '\n', size);
    g_next = lineFeed ? static_cast<const std::uint8_t *>(lineFeed) + 1 : g_end;

    char *streamText = nullptr;
    std::size_t streamSize = 0;
    FILE *stream = open_memstream(&streamText, &streamSize);
    if (stream == nullptr)
        std::abort();
    {
        qri::ScriptText script(stream);
        // The generation's setting buffer, exactly its capacity, carried from one walk to the next.
        char *setting = static_cast<char *>(std::calloc(qri::kSettingCapacity, 1));
        qri::WriteGeneralOptions(script, source, "AutoUpdate General", setting);
        qri::WriteOptionGroups(script, source, "AutoUpdate General", setting);
        std::free(setting);
        qri::WriteFtpSite(source, script, "AutoUpdate Update Site1");
        qri::WriteUncSite(source, script, "AutoUpdate Update Site2");
    }
    std::fclose(stream);
    std::free(streamText);
    return 0;
}
