// A script stream for tests of the writers that append to an open script:
// opened for appending in text mode, as the generator opens its scripts, so
// that the bytes read back are the bytes a generated script would hold.
#pragma once

#include <cstdio>
#include <string>

#include "plugin/setting_source.h"
#include "support/fake_host.h"
#include "support/scratch.h"

namespace qritest {

class ScriptFile {
public:
    explicit ScriptFile(const std::string &initial = "") : path_(dir_.Join("script.tmp"))
    {
        WriteFileBytes(path_, initial);
        stream_ = std::fopen(path_.c_str(), "at");
    }
    ~ScriptFile() { Close(); }
    ScriptFile(const ScriptFile &) = delete;
    ScriptFile &operator=(const ScriptFile &) = delete;

    FILE *Stream() const { return stream_; }
    // Closes the stream and returns the file's bytes.
    std::string Bytes()
    {
        Close();
        return ReadFileBytes(path_);
    }

private:
    void Close()
    {
        if (stream_ != nullptr)
            std::fclose(stream_);
        stream_ = nullptr;
    }

    ScratchDir dir_{"script"};
    std::string path_;
    FILE *stream_ = nullptr;
};

// Expected file text written with plain line feeds: each reaches the file as
// CR LF through the text-mode stream.
inline std::string Crlf(const std::string &text)
{
    std::string out;
    for (char c : text) {
        if (c == '\n')
            out += '\r';
        out += c;
    }
    return out;
}

inline qri::SettingSource TaskSource(FakeSettings &settings, unsigned long dataSize = 4321)
{
    return {FakeSettings::TaskReader, nullptr, settings.TaskData(), dataSize};
}

// softwareId must outlive the source.
inline qri::SettingSource PolicySource(char *softwareId)
{
    return {nullptr, FakeSettings::PolicyReader, softwareId, 0};
}

// The two messages around every option read.
inline std::string ReadingMessage(const std::string &key, const std::string &section)
{
    return "\nReading option " + key + " under " + section;
}

inline std::string NotFoundMessage(const std::string &key, const std::string &section)
{
    return "\nOption " + key + " under " + section + " not found";
}

} // namespace qritest
