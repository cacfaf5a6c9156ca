// Fake management agent callbacks.
#include "support/fake_host.h"

#include <cstdlib>
#include <cstring>

namespace qritest {

namespace {
FakeSettings *g_currentSettings = nullptr;
PropertyRecorder *g_currentRecorder = nullptr;
} // namespace

FakeSettings::FakeSettings() : previous_(g_currentSettings)
{
    g_currentSettings = this;
}

FakeSettings::~FakeSettings()
{
    g_currentSettings = previous_;
}

void FakeSettings::Set(const std::string &section, const std::string &key, const std::string &value,
                       const std::string &softwareId)
{
    values_[{softwareId, section, key}] = value;
}

void FakeSettings::Remove(const std::string &section, const std::string &key, const std::string &softwareId)
{
    values_.erase({softwareId, section, key});
}

void FakeSettings::SetUnterminated(const std::string &section, const std::string &key)
{
    unterminated_[{section, key}] = true;
}

std::vector<std::string> FakeSettings::ReadKeys() const
{
    std::vector<std::string> keys;
    for (const ReadCall &call : calls_)
        keys.push_back(call.section + "/" + call.key);
    return keys;
}

int FakeSettings::Answer(const std::string &softwareId, const char *section, const char *key, void *buffer,
                         int valueKind, unsigned long *size)
{
    if (unterminated_.count({section, key}) != 0) {
        std::memset(buffer, 'x', *size);
        return foundResult_;
    }
    auto found = values_.find({softwareId, section, key});
    if (found == values_.end())
        found = values_.find({"", section, key});
    if (found == values_.end())
        return 0;
    const std::string &value = found->second;
    if (valueKind == RXPLUGIN_VALUE_NUMBER) {
        unsigned long number = std::strtoul(value.c_str(), nullptr, 0);
        if (value.size() > 0 && value[0] == '-')
            number = static_cast<unsigned long>(std::strtol(value.c_str(), nullptr, 0));
        unsigned int bits = static_cast<unsigned int>(number);
        std::memcpy(buffer, &bits, sizeof bits);
        return foundResult_;
    }
    std::size_t length = value.size() < *size ? value.size() : *size - 1;
    std::memcpy(buffer, value.data(), length);
    static_cast<char *>(buffer)[length] = '\0';
    return foundResult_;
}

int RXPLUGIN_CALLBACK FakeSettings::TaskReader(void *taskData, unsigned long taskDataSize, const char *section,
                                               const char *key, void *buffer, int valueKind, unsigned long *size)
{
    FakeSettings *self = static_cast<FakeSettings *>(taskData);
    self->calls_.push_back({"task", "", taskData, taskDataSize, section, key, valueKind, *size});
    return self->Answer("", section, key, buffer, valueKind, size);
}

int RXPLUGIN_CALLBACK FakeSettings::PolicyReader(const char *softwareId, const char *section, const char *key,
                                                 void *buffer, int valueKind, unsigned long *size)
{
    FakeSettings *self = g_currentSettings;
    self->calls_.push_back({"policy", softwareId, nullptr, 0, section, key, valueKind, *size});
    return self->Answer(softwareId, section, key, buffer, valueKind, size);
}

PropertyRecorder::PropertyRecorder() : previous_(g_currentRecorder)
{
    g_currentRecorder = this;
}

PropertyRecorder::~PropertyRecorder()
{
    g_currentRecorder = previous_;
}

int RXPLUGIN_CALLBACK PropertyRecorder::Sink(void *hostContext, const char *section, const char *name,
                                             const void *data, int valueKind, unsigned long dataSize)
{
    g_currentRecorder->reports.push_back({hostContext, section, name,
                                          std::string(static_cast<const char *>(data), dataSize), valueKind,
                                          dataSize});
    return 1;
}

} // namespace qritest
