// A script stream for tests of the writers that append to an open script:
// opened for appending in text mode, as the generator opens its scripts, so
// that the bytes read back are the bytes a generated script would hold; and
// the setting sources and checks those tests share.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "common/setting_source.h"
#include "script/script_text.h"
#include "support/fake_host.h"
#include "support/scratch.h"
#include "support/trace_capture.h"

namespace qritest {

class ScriptFile {
public:
    explicit ScriptFile(const std::string &initial = "")
        : path_(dir_.Join("script.tmp")), stream_(Open(path_, initial)), text_(stream_)
    {
    }
    ~ScriptFile() { Close(); }
    ScriptFile(const ScriptFile &) = delete;
    ScriptFile &operator=(const ScriptFile &) = delete;

    qri::ScriptText &Stream() { return text_; }
    // Hands the text to the stream, closes it and returns the file's bytes.
    std::string Bytes()
    {
        Close();
        return ReadFileBytes(path_);
    }

private:
    static FILE *Open(const std::string &path, const std::string &initial)
    {
        WriteFileBytes(path, initial);
        return std::fopen(path.c_str(), "at");
    }
    void Close()
    {
        if (stream_ == nullptr)
            return;
        text_.Flush();
        std::fclose(stream_);
        stream_ = nullptr;
    }

    ScratchDir dir_{"script"};
    std::string path_;
    FILE *stream_ = nullptr;
    qri::ScriptText text_;
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

using SettingValues = std::vector<std::pair<std::string, std::string>>;

// Sets every (key, value) under section.
inline void SetAll(FakeSettings &settings, const std::string &section, const SettingValues &values,
                   const std::string &softwareId = "")
{
    for (const auto &value : values)
        settings.Set(section, value.first, value.second, softwareId);
}

// A value for each row of the general option table but bLimitSize, and the
// lines they give.
inline const SettingValues kGeneralOptionValues = {{"bRenameExisting", "1"},
                                                   {"bRetrieveOnly", "0"},
                                                   {"bForceUpdate", "0"},
                                                   {"bLogToFile", "1"},
                                                   {"bExecAfterUpdate", "0"},
                                                   {"bUpdateIfNewEngine", "1"},
                                                   {"szLocalUnpackDir", "C:\\Temp\\Unpack\\"},
                                                   {"szReplicationDirectory", ""}};
constexpr char kGeneralOptionLines[] = "\r\n\tset BackupDats=TRUE"
                                       "\r\n\tset RetrieveOnly=FALSE"
                                       "\r\n\tset ForceUpdate=FALSE"
                                       "\r\n\tset LogToFile=TRUE"
                                       "\r\n\tset RunProgram=FALSE"
                                       "\r\n\tset DoEngine=TRUE"
                                       "\r\n\tset LocalUnpackDir=C:\\Temp\\Unpack"
                                       "\r\n\tset ReplicationDirectory=";

// Every read went to the task reader with the settings' task data and dataSize.
inline void ExpectTaskReads(const FakeSettings &settings, unsigned long dataSize)
{
    ASSERT_FALSE(settings.Calls().empty());
    for (const ReadCall &call : settings.Calls()) {
        EXPECT_EQ(call.reader, "task") << call.key;
        EXPECT_EQ(call.taskData, static_cast<const void *>(&settings)) << call.key;
        EXPECT_EQ(call.taskDataSize, dataSize) << call.key;
    }
}

// Every read went to the policy reader for softwareId.
inline void ExpectPolicyReads(const FakeSettings &settings, const std::string &softwareId)
{
    ASSERT_FALSE(settings.Calls().empty());
    for (const ReadCall &call : settings.Calls()) {
        EXPECT_EQ(call.reader, "policy") << call.key;
        EXPECT_EQ(call.softwareId, softwareId) << call.key;
    }
}

// What a script writer left: its result, the script's bytes, the trace, and
// the keys it read in order.
struct WriterOutcome {
    int result = 0;
    std::string text;
    Messages messages;
    std::vector<std::string> keys;
};

// Runs write(stream) on a fresh script with the trace captured. Every read
// must ask for text of the full setting capacity under section.
template <class Write>
WriterOutcome RunOnScript(const FakeSettings &settings, const std::string &section, Write write)
{
    ScriptFile script;
    TraceCapture trace;
    WriterOutcome out;
    out.result = write(script.Stream());
    out.text = script.Bytes();
    out.messages = trace.Messages();
    for (const ReadCall &call : settings.Calls()) {
        EXPECT_EQ(call.section, section) << call.key;
        EXPECT_EQ(call.valueKind, RXPLUGIN_VALUE_TEXT) << call.key;
        EXPECT_EQ(call.capacity, qri::kSettingCapacity) << call.key;
        out.keys.push_back(call.key);
    }
    return out;
}

} // namespace qritest
