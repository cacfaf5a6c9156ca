// qrihost's readers and property sink: every answer within the capacity that
// the plug-in offers, and a warning for a value that cannot be given.
#include "readers.h"

#include <windows.h>

#include <cstring>

#include "console.h"

namespace qrihost {

namespace {

PolicySettings *g_policy = nullptr;

void ReportWarning(const std::string &warning)
{
    if (!warning.empty())
        Err("qrihost: warning: %s\n", warning.c_str());
}


} // namespace

void AnswerPolicyFrom(PolicySettings *settings)
{
    g_policy = settings;
}

int RXPLUGIN_CALLBACK ReadPolicySetting(const char *softwareId, const char *section, const char *key, void *buffer,
                                        int valueKind, unsigned long *size)
{
    if (g_policy == nullptr || softwareId == nullptr)
        return 0;
    std::string warning;
    if (lstrcmpiA(softwareId, g_policy->productId.c_str()) == 0) {
        int found = AnswerSetting(g_policy->product, section, key, buffer, valueKind, size, &warning);
        ReportWarning(warning);
        return found;
    }
    if (g_policy->agentLoaded && lstrcmpiA(softwareId, g_policy->agentId.c_str()) == 0) {
        int found = AnswerSetting(g_policy->agent, section, key, buffer, valueKind, size, &warning);
        ReportWarning(warning);
        return found;
    }
    return 0;
}

int RXPLUGIN_CALLBACK ReadTaskSetting(void *taskData, unsigned long taskDataSize, const char *section, const char *key,
                                      void *buffer, int valueKind, unsigned long *size)
{
    if (taskData == nullptr || taskDataSize != sizeof(SettingsFile))
        return 0;
    std::string warning;
    int found = AnswerSetting(*static_cast<const SettingsFile *>(taskData), section, key, buffer,
                                       valueKind, size, &warning);
    ReportWarning(warning);
    return found;
}

int RXPLUGIN_CALLBACK PrintProperty(void *hostContext, const char *section, const char *name, const void *data,
                                    int valueKind, unsigned long dataSize)
{
    if (hostContext != nullptr)
        ++*static_cast<int *>(hostContext);
    const char *sectionText = section != nullptr ? section : "";
    const char *nameText = name != nullptr ? name : "";
    if (data == nullptr) {
        Out("  [%.259s] %.259s: no data (%lu bytes)\n", sectionText, nameText, dataSize);
    } else if (valueKind == RXPLUGIN_VALUE_NUMBER && dataSize >= 4) {
        unsigned long number = 0;
        std::memcpy(&number, data, 4);
        Out("  [%.259s] %.259s = %lu (number, %lu bytes)\n", sectionText, nameText, number, dataSize);
    } else {
        // Only the bytes the sink was given, up to the first zero.
        const char *text = static_cast<const char *>(data);
        std::size_t length = 0;
        while (length < dataSize && text[length] != '\0')
            ++length;
        Out("  [%.259s] %.259s = \"%.*s\" (%s, %lu bytes)\n", sectionText, nameText, static_cast<int>(length), text,
            valueKind == RXPLUGIN_VALUE_TEXT ? "text" : "kind unknown", dataSize);
    }
    return 1;
}

} // namespace qrihost
