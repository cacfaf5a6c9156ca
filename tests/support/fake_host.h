// A fake management agent for tests: setting readers that answer from a
// table and record every call, and a property sink that records every report.
// All callbacks use the host calling convention of the ABI header.
#pragma once

#include <map>
#include <string>
#include <tuple>
#include <vector>

#include "qriplugn.h"

namespace qritest {

struct ReadCall {
    std::string reader;  // "task" or "policy"
    std::string softwareId; // policy reader: its first argument
    const void *taskData;   // task reader: its first argument
    unsigned long taskDataSize;
    std::string section;
    std::string key;
    int valueKind;
    unsigned long capacity; // *size on entry
};

// Settings answered by the readers. Values are text; a read with value kind 1
// gets the text parsed as a 32-bit number. Only one instance is current at a
// time: the policy reader has no context pointer, so it answers from the
// newest live instance.
class FakeSettings {
public:
    FakeSettings();
    ~FakeSettings();
    FakeSettings(const FakeSettings &) = delete;
    FakeSettings &operator=(const FakeSettings &) = delete;

    // softwareId "" answers for every software ID.
    void Set(const std::string &section, const std::string &key, const std::string &value,
             const std::string &softwareId = "");
    void Remove(const std::string &section, const std::string &key, const std::string &softwareId = "");
    // Makes the reader fill the whole buffer with 'x' and no terminating zero.
    void SetUnterminated(const std::string &section, const std::string &key);
    // What a reader returns for a found setting (default 1).
    void SetFoundResult(int result) { foundResult_ = result; }

    const std::vector<ReadCall> &Calls() const { return calls_; }
    // "section/key" of every call, in order.
    std::vector<std::string> ReadKeys() const;
    void ClearCalls() { calls_.clear(); }

    // Task data to pass with the task reader: it points at this instance.
    void *TaskData() { return this; }

    static int RXPLUGIN_CALLBACK TaskReader(void *taskData, unsigned long taskDataSize, const char *section,
                                            const char *key, void *buffer, int valueKind, unsigned long *size);
    static int RXPLUGIN_CALLBACK PolicyReader(const char *softwareId, const char *section, const char *key,
                                              void *buffer, int valueKind, unsigned long *size);

private:
    int Answer(const std::string &softwareId, const char *section, const char *key, void *buffer, int valueKind,
               unsigned long *size);

    std::map<std::tuple<std::string, std::string, std::string>, std::string> values_;
    std::map<std::pair<std::string, std::string>, bool> unterminated_;
    std::vector<ReadCall> calls_;
    int foundResult_ = 1;
    FakeSettings *previous_;
};

struct PropertyReport {
    void *context;
    std::string section;
    std::string name;
    std::string data; // the reported bytes, dataSize of them
    int valueKind;
    unsigned long dataSize;
};

class PropertyRecorder {
public:
    PropertyRecorder();
    ~PropertyRecorder();
    std::vector<PropertyReport> reports;
    static int RXPLUGIN_CALLBACK Sink(void *hostContext, const char *section, const char *name, const void *data,
                                      int valueKind, unsigned long dataSize);

private:
    PropertyRecorder *previous_;
};

} // namespace qritest
