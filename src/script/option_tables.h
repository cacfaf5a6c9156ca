// The two constant option tables of the Options section and their walks.
#pragma once

#include <cstdio>

#include "common/text.h"
#include "plugin/setting_source.h"

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
void WriteGeneralOptions(FILE *script, const SettingSource &source, const char *generalSection, char *setting);
void WriteOptionGroups(FILE *script, const SettingSource &source, const char *generalSection, char *setting);

// Removes one trailing backslash, stepping back by the ANSI code page's rules.
void TrimTrailingBackslash(char *text);

// The two messages around every option read of the tables and site writers.
void TraceReadingOption(const char *key, const char *section);
void TraceOptionNotFound(const char *key, const char *section);

} // namespace qri
