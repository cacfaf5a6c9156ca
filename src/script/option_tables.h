// The two constant option tables of the Options section and their walks.
#pragma once

#include "common/setting_source.h"
#include "common/text.h"
#include "script/script_text.h"

namespace qri {

enum OptionType : int {
    kOptionEmpty = 0,
    kOptionSwitch = 1,
    kOptionText = 2,
    kOptionNumber = 3,
};

struct OptionRow {
    char key[kPathCapacity];
    char scriptVariable[kPathCapacity];
    int type;
};

constexpr int kGeneralOptionRows = 10;
constexpr int kOptionGroupRows = 9;
extern const OptionRow kGeneralOptions[kGeneralOptionRows];
extern const OptionRow kOptionGroups[kOptionGroupRows];

// setting is the generation's kSettingCapacity buffer.
void WriteGeneralOptions(ScriptText &script, const SettingSource &source, const char *generalSection, char *setting);
void WriteOptionGroups(ScriptText &script, const SettingSource &source, const char *generalSection, char *setting);

// Removes one trailing backslash, stepping back by the ANSI code page's rules.
void TrimTrailingBackslash(char *text);

// Sent before every option read of the generator, the tables and the site writers.
void TraceReadingOption(const char *key, const char *section);

// One text option into a kSettingCapacity buffer, between the reading message
// and, when it is missing, the not-found message. True when found.
bool ReadOption(const SettingSource &source, const char *section, const char *key, char *buffer);

} // namespace qri
