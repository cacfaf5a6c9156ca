// The callbacks that qrihost hands to the plug-in: the policy and task readers
// answering from settings files, and the property sink that prints.
#pragma once

#include <string>

#include "qriplugn.h"
#include "settings.h"

namespace qrihost {

struct PolicySettings {
    std::string productId;
    SettingsFile product;
    std::string agentId;
    SettingsFile agent;
    bool agentLoaded = false;
};

// The policy reader has no context argument: it answers from the settings
// set here, for the one enforcement of this run (null: nothing is found).
void AnswerPolicyFrom(PolicySettings *settings);

int RXPLUGIN_CALLBACK ReadPolicySetting(const char *softwareId, const char *section, const char *key, void *buffer,
                                        int valueKind, unsigned long *size);
// The task data is the SettingsFile itself, its size sizeof(SettingsFile).
int RXPLUGIN_CALLBACK ReadTaskSetting(void *taskData, unsigned long taskDataSize, const char *section, const char *key,
                                      void *buffer, int valueKind, unsigned long *size);
// hostContext: an int counting the properties received.
int RXPLUGIN_CALLBACK PrintProperty(void *hostContext, const char *section, const char *name, const void *data,
                                    int valueKind, unsigned long dataSize);

} // namespace qrihost
