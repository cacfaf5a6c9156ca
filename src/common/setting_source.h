// Where the settings of one script generation come from: the task reader of
// a task enforcement or the policy reader of a policy enforcement, never both.
#pragma once

#include <cstddef>

#include "qriplugn.h"

namespace qri {

struct SettingSource {
    RXPLUGIN_TaskSettingReader taskReader;
    RXPLUGIN_PolicySettingReader policyReader;
    void *data;             // task data, or the software ID for the policy reader
    unsigned long dataSize; // task data size; 0 with the policy reader
};

// Capacity of the setting buffers of a generation.
constexpr std::size_t kSettingCapacity = RXPLUGIN_SETTING_CAPACITY;

// Calls whichever single reader is set; 0 without calling anything when both
// or neither are. The caller sets *size to the buffer's capacity.
int ReadSetting(RXPLUGIN_TaskSettingReader taskReader, RXPLUGIN_PolicySettingReader policyReader, void *data,
                unsigned long dataSize, const char *section, const char *key, void *buffer, int valueKind,
                unsigned long *size);

// One text setting into a kSettingCapacity buffer, size set just before the
// read; the text is terminated within the buffer whatever the reader wrote.
// True when found.
bool ReadTextSetting(const SettingSource &source, const char *section, const char *key, char *buffer);

} // namespace qri
