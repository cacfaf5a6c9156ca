// Option tables: which settings of a module's General section become set
// lines of the Options section, and how.
#include "script/option_tables.h"

#include <cstring>

#include "common/trace.h"

namespace qri {

const OptionRow kGeneralOptions[kGeneralOptionRows] = {
    {RXPLUGIN_KEY_bRenameExisting, "BackupDats", kOptionSwitch},
    {RXPLUGIN_KEY_bRetrieveOnly, "RetrieveOnly", kOptionSwitch},
    {RXPLUGIN_KEY_bForceUpdate, "ForceUpdate", kOptionSwitch},
    {RXPLUGIN_KEY_bLogToFile, "LogToFile", kOptionSwitch},
    {RXPLUGIN_KEY_bLimitSize, "LimitSize", kOptionSwitch},
    {RXPLUGIN_KEY_bExecAfterUpdate, "RunProgram", kOptionSwitch},
    {RXPLUGIN_KEY_bUpdateIfNewEngine, "DoEngine", kOptionSwitch},
    {RXPLUGIN_KEY_szLocalUnpackDir, "LocalUnpackDir", kOptionText},
    {RXPLUGIN_KEY_szReplicationDirectory, "ReplicationDirectory", kOptionText},
    {"", "", kOptionEmpty},
};

// Each group: its controlling switch, its members, an empty row. A second
// empty row right after a closing one ends the table.
const OptionRow kOptionGroups[kOptionGroupRows] = {
    {RXPLUGIN_KEY_bLogToFile, "LogToFile", kOptionSwitch},
    {RXPLUGIN_KEY_szLogFileName, "LogFileName", kOptionText},
    {RXPLUGIN_KEY_uMaxKiloBytes, "MaxKiloBytes", kOptionNumber},
    {RXPLUGIN_KEY_bVerboseLogging, "LogVerbose", kOptionSwitch},
    {"", "", kOptionEmpty},
    {RXPLUGIN_KEY_bExecAfterUpdate, "RunProgram", kOptionSwitch},
    {RXPLUGIN_KEY_szShellScript, "ProgramToRun", kOptionText},
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
