// Script generator: copies the module's generic script over the target and
// appends the Options section and the update sites (or, for Master, the other
// policy scripts and the reboot settings).
#include "script/generator.h"

#include <windows.h>

#include <cstdio>
#include <cstring>

#include "common/system_error.h"
#include "common/text.h"
#include "common/trace.h"
#include "common/unique.h"
#include "registry/installer_key.h"
#include "script/option_tables.h"
#include "script/policy_script_names.h"
#include "script/reboot_settings.h"
#include "script/site_writers.h"

namespace qri {

char g_policyScriptNames[kPolicyScriptCount][kPathCapacity];

namespace {

const ScriptModule kScriptModules[] = {
    {RXPLUGIN_MODULE_AUTOUPDATE, "AutoUpdate.gen"}, {RXPLUGIN_MODULE_MSI, "MSI.gen"},
    {RXPLUGIN_MODULE_FENWA, "Fenwa.gen"},           {RXPLUGIN_MODULE_REPLICATE, "Replicate.gen"},
    {RXPLUGIN_MODULE_MASTER, "Master.gen"},
};

enum SiteSource { kUncSite = 1, kFtpSite = 2 };

const char *FileNameOf(const char *path)
{
    const char *lastBackslash = std::strrchr(path, '\\');
    return lastBackslash != nullptr ? lastBackslash + 1 : path;
}

// The section of one site: prefix and the decimal number, cut to fit as
// FormatBounded would cut it.
void MakeSiteSection(char *section, std::size_t capacity, const char *prefix, int number)
{
    char digits[16];
    char *first = digits + sizeof digits;
    *--first = '\0';
    do {
        *--first = static_cast<char>('0' + number % 10);
        number /= 10;
    } while (number != 0);
    std::size_t length = std::strlen(prefix);
    if (length >= capacity)
        length = capacity - 1;
    std::memcpy(section, prefix, length);
    CopyBounded(section + length, capacity - length, first);
}

// The site loop. 1 when every site was handled or there are none.
int WriteUpdateSites(ScriptText &script, const SettingSource &source, const char *moduleName, char *setting)
{
    char sitesGeneral[kSettingCapacity] = {};
    FormatBounded(sitesGeneral, sizeof sitesGeneral, "%s %s", moduleName, RXPLUGIN_SECTION_SITES_GENERAL);

    TraceReadingOption(RXPLUGIN_KEY_uNumberOfSites, sitesGeneral);
    if (!ReadTextSetting(source, sitesGeneral, RXPLUGIN_KEY_uNumberOfSites, setting)) {
        TraceF("\nOption %s under %s not found, can't continue", RXPLUGIN_KEY_uNumberOfSites, sitesGeneral);
        return 0;
    }
    int siteCount = ParseDecimal(setting);
    if (siteCount <= 0)
        return 1;

    // "<module> Update Site<n>": the part before the number is made once.
    char siteSection[kSettingCapacity];
    char sitePrefix[kSettingCapacity] = {};
    FormatBounded(sitePrefix, sizeof sitePrefix, "%s %s", moduleName, RXPLUGIN_SECTION_UPDATE_SITE);
    int connection = 0;
    // Wide enough that a count of INT_MAX still ends the loop.
    for (long long site = 1; site <= siteCount; ++site) {
        std::memset(siteSection, 0, sizeof siteSection);
        MakeSiteSection(siteSection, sizeof siteSection, sitePrefix, static_cast<int>(site));

        TraceReadingOption(RXPLUGIN_KEY_bSiteEnabled, siteSection);
        if (!ReadTextSetting(source, siteSection, RXPLUGIN_KEY_bSiteEnabled, setting))
            return 0;
        if (ParseDecimal(setting) == 0)
            continue;

        ++connection;
        script.Print("\n\n[%s_%d]", "Connection", connection);

        TraceReadingOption(RXPLUGIN_KEY_uUpdateFrom, siteSection);
        if (!ReadTextSetting(source, siteSection, RXPLUGIN_KEY_uUpdateFrom, setting))
            continue;
        int updateFrom = ParseDecimal(setting);
        if (ReadTextSetting(source, siteSection, RXPLUGIN_KEY_szSiteName, setting))
            script.Print("\n\tConnectionName  %s\n", setting);

        int goOn = 1;
        if (updateFrom == kFtpSite)
            goOn = WriteFtpSite(source, script, siteSection);
        else if (updateFrom == kUncSite)
            goOn = WriteUncSite(source, script, siteSection);
        if (goOn == 0)
            return 0;
    }
    return 1;
}

void TraceCopyError(const char *moduleName, const char *scriptPath)
{
    TraceF("\nError copying generic script for module %s into output file %s.", moduleName, scriptPath);
}

// The file and the system's reason, for every script the system did not take whole.
void TraceScriptNotWritten(const char *scriptPath, unsigned long error)
{
    TraceF("\nScript file %s not written, system error %lu", scriptPath, error);
}

// Hands the rest of the script to the file and closes it. The system's
// reason when any of it did not arrive, else 0; the stream is closed either way.
unsigned long FinishScript(ScriptText &out, UniqueStream &script)
{
    if (!out.Flush())
        return out.Error();
    ClearSystemError();
    // The C library holds the last part of the text until it is flushed:
    // that write, too, can find the disk full.
    if (std::fflush(script.get()) != 0 || std::ferror(script.get()) != 0) {
        unsigned long error = LastSystemError();
        return error != 0 ? error : ERROR_WRITE_FAULT;
    }
    ClearSystemError();
    if (std::fclose(script.release()) != 0) {
        unsigned long error = LastSystemError();
        return error != 0 ? error : ERROR_WRITE_FAULT;
    }
    return 0;
}

} // namespace

const ScriptModule *FindScriptModule(const char *moduleName)
{
    for (const ScriptModule &module : kScriptModules) {
        if (EqualsNoCaseAscii(moduleName, module.name))
            return &module;
    }
    return nullptr;
}

int CopyGenericScript(const char *moduleName, const char *scriptPath)
{
    const ScriptModule *module = FindScriptModule(moduleName);
    if (module == nullptr) {
        TraceCopyError(moduleName, scriptPath);
        return 0;
    }
    char directory[kPathCapacity];
    if (!GetInstallerDirectory(directory, sizeof directory)) {
        TraceF("\nLooking for %s in VESK install directory. Unable to get VESK installed directory\n",
               module->genericScript);
        TraceCopyError(moduleName, scriptPath);
        return 0;
    }
    char source[kPathCapacity];
    // A source path cut to fit would name another file: fail the copy instead.
    if (!FormatBounded(source, sizeof source, "%s\\%s", directory, module->genericScript)) {
        TraceCopyError(moduleName, scriptPath);
        return 0;
    }
    // Missing generic script, full disk, no access: no script.
    if (!CopyFileA(source, scriptPath, FALSE)) {
        unsigned long error = GetLastError();
        TraceCopyError(moduleName, scriptPath);
        TraceScriptNotWritten(scriptPath, error);
        return 0;
    }
    TraceF("\nSuccessfully copied generic script for module %s into output file %s.", moduleName, scriptPath);
    return 1;
}

int GenerateScript(const SettingSource &source, const char *moduleName, const char *scriptPath)
{
    if (!CopyGenericScript(moduleName, scriptPath)) {
        TraceF("\nError occured while opening the generic script. Please make sure you have a valid generic script "
               "file %s for %s",
               scriptPath, moduleName);
        return kGenerateNoGenericScript;
    }
    // Found, since the copy succeeded.
    const ScriptModule *module = FindScriptModule(moduleName);
    if (module == nullptr)
        return kGenerateFailed;

    int result = kGenerateFailed;
    unsigned long writeError = 0;
    {
        // Text mode: every line feed reaches the file as CR LF.
        ClearSystemError();
        UniqueStream script(std::fopen(scriptPath, "at"));
        // The generic part alone is not the script that the settings ask for.
        if (!script) {
            unsigned long error = LastSystemError();
            TraceF("\nFile %s could not be opened\n", scriptPath);
            TraceScriptNotWritten(scriptPath, error != 0 ? error : ERROR_OPEN_FAILED);
            Trace("\nError generating script");
            return kGenerateWriteFailed;
        }
        ScriptText out(script.get());
        out.Print("\n\n[%s]", "Options");
        out.Print("\n\tset ScriptName=%s", FileNameOf(scriptPath));

        char general[kSettingCapacity] = {};
        FormatBounded(general, sizeof general, "%s %s", module->name, RXPLUGIN_SECTION_GENERAL);
        TraceF("\nReading options under %s", general);

        if (source.taskReader != nullptr) {
            char taskName[kSettingCapacity] = {};
            unsigned long size = kSettingCapacity;
            if (source.taskReader(source.data, source.dataSize, RXPLUGIN_SECTION_TASK, RXPLUGIN_KEY_TaskName, taskName,
                                  RXPLUGIN_VALUE_TEXT, &size) != 0) {
                taskName[kSettingCapacity - 1] = '\0';
                out.Print("\n\tset TaskName=%s", taskName);
            }
        }

        char setting[kSettingCapacity] = {};
        WriteGeneralOptions(out, source, general, setting);
        WriteOptionGroups(out, source, general, setting);

        if (std::strcmp(module->name, RXPLUGIN_MODULE_MASTER) == 0) {
            out.Print("\n\tset MSIScriptName=\"%s\"", g_policyScriptNames[kMsiScript]);
            out.Print("\n\tset FNWScriptName=\"%s\"", g_policyScriptNames[kFenwaScript]);
            WriteRebootSettings(out, source.policyReader);
            result = kGenerated;
        } else if (WriteUpdateSites(out, source, module->name, setting)) {
            result = kGenerated;
        }
        writeError = FinishScript(out, script);
    }

    if (writeError != 0) {
        TraceScriptNotWritten(scriptPath, writeError);
        Trace("\nError generating script");
        return kGenerateWriteFailed;
    }
    if (result == kGenerated)
        Trace("\nScript generated successfully");
    else
        Trace("\nError generating script");
    return result;
}

} // namespace qri
