// Option tables: which settings of a module's General section become set
// lines of the Options section, and how.
#include "script/option_tables.h"

#include <cstring>

#include "common/trace.h"

namespace qri {

const OptionRow kGeneralOptions[kGeneralOptionRows] = {
    {"bRenameExisting", "BackupDats", kOptionSwitch},
    {"bRetrieveOnly", "RetrieveOnly", kOptionSwitch},
    {"bForceUpdate", "ForceUpdate", kOptionSwitch},
    {"bLogToFile", "LogToFile", kOptionSwitch},
    {"bLimitSize", "LimitSize", kOptionSwitch},
    {"bExecAfterUpdate", "RunProgram", kOptionSwitch},
    {"bUpdateIfNewEngine", "DoEngine", kOptionSwitch},
    {"szLocalUnpackDir", "LocalUnpackDir", kOptionText},
    {"szReplicationDirectory", "ReplicationDirectory", kOptionText},
    {"", "", kOptionEmpty},
};

// Each group: its controlling switch, its members, an empty row. A second
// empty row right after a closing one ends the table.
const OptionRow kOptionGroups[kOptionGroupRows] = {
    {"bLogToFile", "LogToFile", kOptionSwitch},
    {"szLogFileName", "LogFileName", kOptionText},
    {"uMaxKiloBytes", "MaxKiloBytes", kOptionNumber},
    {"bVerboseLogging", "LogVerbose", kOptionSwitch},
    {"", "", kOptionEmpty},
    {"bExecAfterUpdate", "RunProgram", kOptionSwitch},
    {"szShellScript", "ProgramToRun", kOptionText},
    {"", "", kOptionEmpty},
    {"", "", kOptionEmpty},
};

namespace {

bool GroupRowEmpty(int index)
{
    return index >= kOptionGroupRows || kOptionGroups[index].key[0] == '\0';
}

void WriteOptionLine(ScriptText &script, const OptionRow &row, const char *value)
{
    switch (row.type) {
    case kOptionSwitch:
        script.Print("\n\tset %s=%s", row.scriptVariable, ParseDecimal(value) != 0 ? "TRUE" : "FALSE");
        break;
    case kOptionText:
        script.Print("\n\tset %s=%s", row.scriptVariable, value);
        break;
    case kOptionNumber:
        script.Print("\n\tset %s=%d", row.scriptVariable, ParseDecimal(value));
        break;
    default:
        break;
    }
}

} // namespace

void TraceReadingOption(const char *key, const char *section)
{
    TraceF("\nReading option %s under %s", key, section);
}

bool ReadOption(const SettingSource &source, const char *section, const char *key, char *buffer)
{
    TraceReadingOption(key, section);
    if (ReadTextSetting(source, section, key, buffer))
        return true;
    TraceF("\nOption %s under %s not found", key, section);
    return false;
}

void TrimTrailingBackslash(char *text)
{
    TrimOneTrailing(text, '\\');
}

void WriteGeneralOptions(ScriptText &script, const SettingSource &source, const char *generalSection, char *setting)
{
    for (int index = 0; index < kGeneralOptionRows && kGeneralOptions[index].key[0] != '\0'; ++index) {
        const OptionRow &row = kGeneralOptions[index];
        std::memset(setting, 0, kSettingCapacity);
        if (!ReadOption(source, generalSection, row.key, setting))
            continue;
        if (row.type == kOptionText)
            TrimTrailingBackslash(setting);
        WriteOptionLine(script, row, setting);
    }
}

void WriteOptionGroups(ScriptText &script, const SettingSource &source, const char *generalSection, char *setting)
{
    int index = 0;
    for (;;) {
        if (GroupRowEmpty(index) && GroupRowEmpty(index + 1))
            return;
        if (index >= kOptionGroupRows)
            return;
        const OptionRow &row = kOptionGroups[index];
        if (row.key[0] == '\0') {
            ++index;
            continue;
        }
        // The controlling read keeps whatever the buffer held before.
        if (!ReadOption(source, generalSection, row.key, setting) || row.type != kOptionSwitch ||
            ParseDecimal(setting) != 1) {
            ++index;
            continue;
        }
        // Group on: from the switch itself (read a second time) to the empty row.
        int member = index;
        for (; !GroupRowEmpty(member); ++member) {
            const OptionRow &memberRow = kOptionGroups[member];
            std::memset(setting, 0, kSettingCapacity);
            if (ReadOption(source, generalSection, memberRow.key, setting))
                WriteOptionLine(script, memberRow, setting);
        }
        index = member + 1;
    }
}

} // namespace qri
