// The contract's names in the ABI header: each macro is the text that hosts
// and installers rely on, the plug-in's own constants are the header's, and
// the header compiled as C89 gives the same texts.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdio>
#include <string>

#include "plugin/enforcement.h"
#include "qriplugn.h"
#include "registry/installer_key.h"
#include "script/reboot_settings.h"
#include "unit/header_c89.h"

namespace {

constexpr bool SameText(const char *a, const char *b)
{
    while (*a != '\0' && *a == *b) {
        ++a;
        ++b;
    }
    return *a == *b;
}

// Every text macro of the header with the contract's own text for it.
#define QRI_CONTRACT_TEXTS(X)                                                                                    \
    X(RXPLUGIN_INSTALLER_KEY, "SOFTWARE\\Quorvane\\ZDR\\Shared Components\\QRI_FW")                             \
    X(RXPLUGIN_INSTALLER_VALUE_DIRECTORY, "Installation Directory")                                             \
    X(RXPLUGIN_INSTALLER_VALUE_PRODUCT_NAME, "Product Name")                                                    \
    X(RXPLUGIN_INSTALLER_VALUE_PRODUCT_VERSION, "szProductVer")                                                 \
    X(RXPLUGIN_INSTALLER_VALUE_LANGUAGE, "Language")                                                            \
    X(RXPLUGIN_INSTALLER_VALUE_MSI_RUN, "MSI_Installer_Run")                                                    \
    X(RXPLUGIN_INSTALLER_VALUE_UNINSTALLER_RUN, "Universal_Uninstaller_Run")                                    \
    X(RXPLUGIN_INSTALLER_VALUE_OAS_RUN, "OAS_Installer_Run")                                                    \
    X(RXPLUGIN_INSTALLER_VALUE_BASE_PREFIX, "Base:")                                                            \
    X(RXPLUGIN_INSTALLER_VALUE_PROCESS_HANDLE, "dwProcessHandle")                                               \
    X(RXPLUGIN_REBOOT_EVENT_NAME, "{5C0E93A7-41B2-4F6D-9A3E-D27B6C18F4A5}")                                     \
    X(RXPLUGIN_SECTION_TASK, "Task")                                                                            \
    X(RXPLUGIN_KEY_TaskType, "TaskType")                                                                        \
    X(RXPLUGIN_KEY_TaskName, "TaskName")                                                                        \
    X(RXPLUGIN_TASK_TYPE_AUTOUPDATE, "vkAutoUpdateTask")                                                        \
    X(RXPLUGIN_TASK_TYPE_MIRROR, "vkMirrorSiteTask")                                                            \
    X(RXPLUGIN_MODULE_MASTER, "Master")                                                                         \
    X(RXPLUGIN_MODULE_MSI, "MSI")                                                                               \
    X(RXPLUGIN_MODULE_FENWA, "Fenwa")                                                                           \
    X(RXPLUGIN_MODULE_AUTOUPDATE, "AutoUpdate")                                                                 \
    X(RXPLUGIN_MODULE_REPLICATE, "Replicate")                                                                   \
    X(RXPLUGIN_SECTION_GENERAL, "General")                                                                      \
    X(RXPLUGIN_SECTION_SITES_GENERAL, "Sites General")                                                          \
    X(RXPLUGIN_SECTION_UPDATE_SITE, "Update Site")                                                              \
    X(RXPLUGIN_SECTION_MODULE_GENERAL_FORMAT, "%s General")                                                     \
    X(RXPLUGIN_SECTION_MODULE_SITES_GENERAL_FORMAT, "%s Sites General")                                         \
    X(RXPLUGIN_SECTION_MODULE_UPDATE_SITE_FORMAT, "%s Update Site%d")                                           \
    X(RXPLUGIN_KEY_bRenameExisting, "bRenameExisting")                                                          \
    X(RXPLUGIN_KEY_bRetrieveOnly, "bRetrieveOnly")                                                              \
    X(RXPLUGIN_KEY_bForceUpdate, "bForceUpdate")                                                                \
    X(RXPLUGIN_KEY_bLogToFile, "bLogToFile")                                                                    \
    X(RXPLUGIN_KEY_bLimitSize, "bLimitSize")                                                                    \
    X(RXPLUGIN_KEY_bExecAfterUpdate, "bExecAfterUpdate")                                                        \
    X(RXPLUGIN_KEY_bUpdateIfNewEngine, "bUpdateIfNewEngine")                                                    \
    X(RXPLUGIN_KEY_bVerboseLogging, "bVerboseLogging")                                                          \
    X(RXPLUGIN_KEY_szLocalUnpackDir, "szLocalUnpackDir")                                                        \
    X(RXPLUGIN_KEY_szReplicationDirectory, "szReplicationDirectory")                                            \
    X(RXPLUGIN_KEY_szLogFileName, "szLogFileName")                                                              \
    X(RXPLUGIN_KEY_szShellScript, "szShellScript")                                                              \
    X(RXPLUGIN_KEY_uMaxKiloBytes, "uMaxKiloBytes")                                                              \
    X(RXPLUGIN_KEY_uNumberOfSites, "uNumberOfSites")                                                            \
    X(RXPLUGIN_KEY_bSiteEnabled, "bSiteEnabled")                                                                \
    X(RXPLUGIN_KEY_uUpdateFrom, "uUpdateFrom")                                                                  \
    X(RXPLUGIN_KEY_szSiteName, "szSiteName")                                                                    \
    X(RXPLUGIN_KEY_szFTPLocation, "szFTPLocation")                                                              \
    X(RXPLUGIN_KEY_szUNCLocation, "szUNCLocation")                                                              \
    X(RXPLUGIN_KEY_bAnonymousLogin, "bAnonymousLogin")                                                          \
    X(RXPLUGIN_KEY_szFTPUsername, "szFTPUsername")                                                              \
    X(RXPLUGIN_KEY_szRunAsDomain, "szRunAsDomain")                                                              \
    X(RXPLUGIN_KEY_szFTPPassword, "szFTPPassword")                                                              \
    X(RXPLUGIN_KEY_bProxy, "bProxy")                                                                            \
    X(RXPLUGIN_KEY_szProxy, "szProxy")                                                                          \
    X(RXPLUGIN_KEY_dwProxyPort, "dwProxyPort")                                                                  \
    X(RXPLUGIN_KEY_ShowRebootUI, "ShowRebootUI")                                                                \
    X(RXPLUGIN_KEY_RebootTimeOut, "RebootTimeOut")                                                              \
    X(RXPLUGIN_AGENT_INI, "Agent.ini")                                                                          \
    X(RXPLUGIN_AGENT_INI_SECTION, "Agent")                                                                      \
    X(RXPLUGIN_AGENT_INI_KEY_SOFTWARE_ID, "SoftwareID")                                                         \
    X(RXPLUGIN_DEFAULT_AGENT_ID, "oRXAgent1000")

// A changed macro would silently change what the plug-in reads and writes.
#define QRI_PIN(name, text) static_assert(SameText(name, text), #name " is no longer " #text);
QRI_CONTRACT_TEXTS(QRI_PIN)
#undef QRI_PIN

static_assert(RXPLUGIN_TASK_RUNNING == 0 && RXPLUGIN_TASK_ENDED == -1, "task status values");
static_assert(static_cast<DWORD>(RXPLUGIN_REBOOT_TIMEOUT_NONE) == static_cast<DWORD>(-1), "-1 as 4 bytes");

// The plug-in's own names are the header's.
static_assert(SameText(qri::kRebootEventName, RXPLUGIN_REBOOT_EVENT_NAME), "reboot event");
static_assert(SameText(qri::kInstallerKeyPath, RXPLUGIN_INSTALLER_KEY), "installer key");
static_assert(SameText(qri::kInstallationDirectoryValue, RXPLUGIN_INSTALLER_VALUE_DIRECTORY), "directory value");
static_assert(SameText(qri::kProcessHandleValue, RXPLUGIN_INSTALLER_VALUE_PROCESS_HANDLE), "process handle value");
static_assert(SameText(qri::kDefaultAgentSoftwareId, RXPLUGIN_DEFAULT_AGENT_ID), "default agent ID");

struct ContractText {
    const char *name;
    const char *text;
};

#define QRI_ROW(name, text) {#name, text},
const ContractText kContractTexts[] = {QRI_CONTRACT_TEXTS(QRI_ROW)};
#undef QRI_ROW

TEST(HeaderConstants, CompiledAsC89TheyAreTheSameTexts)
{
    std::size_t rows = 0;
    for (const QriHeaderText *row = qri_c89_texts; row->name != nullptr; ++row, ++rows) {
        const ContractText *pinned = nullptr;
        for (const ContractText &candidate : kContractTexts) {
            if (std::string(candidate.name) == row->name)
                pinned = &candidate;
        }
        ASSERT_NE(pinned, nullptr) << row->name << " is not pinned here";
        EXPECT_STREQ(row->value, pinned->text) << row->name;
    }
    EXPECT_EQ(rows, sizeof kContractTexts / sizeof kContractTexts[0]);
    EXPECT_EQ(qri_c89_task_running, RXPLUGIN_TASK_RUNNING);
    EXPECT_EQ(qri_c89_task_ended, RXPLUGIN_TASK_ENDED);
    EXPECT_EQ(qri_c89_reboot_timeout_none, 0xFFFFFFFFul);
}

TEST(HeaderConstants, SectionFormatsGiveTheSectionsThePluginAsksFor)
{
    // The generator tests pin the sections that the plug-in asks for.
    char section[64];
    std::snprintf(section, sizeof section, RXPLUGIN_SECTION_MODULE_GENERAL_FORMAT, RXPLUGIN_MODULE_AUTOUPDATE);
    EXPECT_STREQ(section, "AutoUpdate General");
    std::snprintf(section, sizeof section, RXPLUGIN_SECTION_MODULE_SITES_GENERAL_FORMAT, RXPLUGIN_MODULE_REPLICATE);
    EXPECT_STREQ(section, "Replicate Sites General");
    std::snprintf(section, sizeof section, RXPLUGIN_SECTION_MODULE_UPDATE_SITE_FORMAT, RXPLUGIN_MODULE_MSI, 12);
    EXPECT_STREQ(section, "MSI Update Site12");
}

} // namespace
