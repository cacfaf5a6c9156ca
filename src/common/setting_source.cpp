// The setting-read adapter.
#include "common/setting_source.h"

namespace qri {

int ReadSetting(RXPLUGIN_TaskSettingReader taskReader, RXPLUGIN_PolicySettingReader policyReader, void *data,
                unsigned long dataSize, const char *section, const char *key, void *buffer, int valueKind,
                unsigned long *size)
{
    if (taskReader != nullptr && policyReader == nullptr)
        return taskReader(data, dataSize, section, key, buffer, valueKind, size);
    if (policyReader != nullptr && taskReader == nullptr)
        return policyReader(static_cast<const char *>(data), section, key, buffer, valueKind, size);
    return 0;
}

bool ReadTextSetting(const SettingSource &source, const char *section, const char *key, char *buffer)
{
    unsigned long size = kSettingCapacity;
    int found = ReadSetting(source.taskReader, source.policyReader, source.data, source.dataSize, section, key,
                            buffer, RXPLUGIN_VALUE_TEXT, &size);
    // A faulty reader may leave the text unterminated; never read past the buffer.
    buffer[kSettingCapacity - 1] = '\0';
    return found != 0;
}

} // namespace qri
