/*
 * qriplugn.h - host-side interface of the installer plug-in QRIPLUGN.dll.
 *
 * A management agent loads the DLL, looks the seven exports up by name and
 * calls them with the callbacks below. Include this header from C or C++;
 * it needs no other header.
 */
#ifndef QRIPLUGN_H
#define QRIPLUGN_H

#ifdef __cplusplus
extern "C" {
#endif

/*
 * Version of this header and of the QRIPLUGN.dll it comes with; the DLL's
 * version resource (FileVersion, ProductVersion) holds the same numbers.
 * QRIPLUGN_VERSION_NUMBER is major * 10000 + minor * 100 + patch, for #if.
 */
#define QRIPLUGN_VERSION_MAJOR 1
#define QRIPLUGN_VERSION_MINOR 0
#define QRIPLUGN_VERSION_PATCH 0
#define QRIPLUGN_VERSION_NUMBER \
    (QRIPLUGN_VERSION_MAJOR * 10000 + QRIPLUGN_VERSION_MINOR * 100 + QRIPLUGN_VERSION_PATCH)

/* Exports: arguments on the stack, the caller removes them. */
#define RXPLUGIN_CALL __cdecl
/* Host callbacks: arguments on the stack, the callee removes them. */
#define RXPLUGIN_CALLBACK __stdcall

/* Value kinds passed to the readers and to the property sink. */
#define RXPLUGIN_VALUE_TEXT 0   /* zero-terminated single-byte text */
#define RXPLUGIN_VALUE_NUMBER 1 /* exactly 4 bytes, a 32-bit number read as unsigned: -1 is 0xFFFFFFFF */

/* Buffer capacities that the plug-in announces through the size in/out. */
#define RXPLUGIN_SETTING_CAPACITY 1024u  /* every setting of a script generation */
#define RXPLUGIN_TASK_TYPE_CAPACITY 260u /* "Task" / "TaskType" */
#define RXPLUGIN_NUMBER_CAPACITY 4u      /* value kind RXPLUGIN_VALUE_NUMBER */

/*
 * The names of the contract, as the plug-in itself uses them. Texts are plain
 * single-byte strings; names compared "ignoring case" fold only A to Z.
 */

/* Installer registry key, under HKEY_LOCAL_MACHINE, in the registry view of
   the DLL's width (a 32-bit DLL on 64-bit Windows: WOW6432Node). */
#define RXPLUGIN_INSTALLER_KEY "SOFTWARE\\Quorvane\\ZDR\\Shared Components\\QRI_FW"
/* Its values: REG_SZ written by the installer's setup, except the last. */
#define RXPLUGIN_INSTALLER_VALUE_DIRECTORY "Installation Directory" /* absolute, at most 259 characters */
#define RXPLUGIN_INSTALLER_VALUE_PRODUCT_NAME "Product Name"
#define RXPLUGIN_INSTALLER_VALUE_PRODUCT_VERSION "szProductVer"
#define RXPLUGIN_INSTALLER_VALUE_LANGUAGE "Language"
#define RXPLUGIN_INSTALLER_VALUE_MSI_RUN "MSI_Installer_Run" /* the three run flags: decimal text */
#define RXPLUGIN_INSTALLER_VALUE_UNINSTALLER_RUN "Universal_Uninstaller_Run"
#define RXPLUGIN_INSTALLER_VALUE_OAS_RUN "OAS_Installer_Run"
#define RXPLUGIN_INSTALLER_VALUE_BASE_PREFIX "Base:" /* "Base:<anything>", prefix in any case */
#define RXPLUGIN_INSTALLER_VALUE_PROCESS_HANDLE "dwProcessHandle" /* REG_DWORD, written by the plug-in */

/* Named manual-reset event: while it is set, RXPLUGIN_EnforcePolicy does nothing. */
#define RXPLUGIN_REBOOT_EVENT_NAME "{5C0E93A7-41B2-4F6D-9A3E-D27B6C18F4A5}"

/* Results of RXPLUGIN_GetTaskStatus. */
#define RXPLUGIN_TASK_RUNNING 0 /* the task's engine runs (also: a null cookie) */
#define RXPLUGIN_TASK_ENDED (-1) /* it has ended, or its status could not be read */

/* Section "Task" of the task reader: the task type (capacity
   RXPLUGIN_TASK_TYPE_CAPACITY), one of the two values below compared ignoring
   case, and the task's name (capacity RXPLUGIN_SETTING_CAPACITY). */
#define RXPLUGIN_SECTION_TASK "Task"
#define RXPLUGIN_KEY_TaskType "TaskType"
#define RXPLUGIN_KEY_TaskName "TaskName"
#define RXPLUGIN_TASK_TYPE_AUTOUPDATE "vkAutoUpdateTask" /* module AutoUpdate */
#define RXPLUGIN_TASK_TYPE_MIRROR "vkMirrorSiteTask"     /* module Replicate */

/* Script modules: Master, MSI and Fenwa for a policy, one of the others for a task. */
#define RXPLUGIN_MODULE_MASTER "Master"
#define RXPLUGIN_MODULE_MSI "MSI"
#define RXPLUGIN_MODULE_FENWA "Fenwa"
#define RXPLUGIN_MODULE_AUTOUPDATE "AutoUpdate"
#define RXPLUGIN_MODULE_REPLICATE "Replicate"

/*
 * Sections of a module's settings: "<module> General", "<module> Sites
 * General" and "<module> Update Site<n>" (n from 1, in decimal), as the
 * formats below give them, e.g. "AutoUpdate Update Site1". "General" alone is
 * also the section of the agent's own reboot settings and of every property
 * that RXPLUGIN_GetProperties reports.
 */
#define RXPLUGIN_SECTION_GENERAL "General"
#define RXPLUGIN_SECTION_SITES_GENERAL "Sites General"
#define RXPLUGIN_SECTION_UPDATE_SITE "Update Site"
#define RXPLUGIN_SECTION_MODULE_GENERAL_FORMAT "%s " RXPLUGIN_SECTION_GENERAL             /* module */
#define RXPLUGIN_SECTION_MODULE_SITES_GENERAL_FORMAT "%s " RXPLUGIN_SECTION_SITES_GENERAL /* module */
#define RXPLUGIN_SECTION_MODULE_UPDATE_SITE_FORMAT "%s " RXPLUGIN_SECTION_UPDATE_SITE "%d" /* module, n */

/* Keys, each RXPLUGIN_KEY_ and the key's own name. All are asked for as text
   (RXPLUGIN_VALUE_TEXT), numbers and switches as decimal text. */
/* "<module> General" */
#define RXPLUGIN_KEY_bRenameExisting "bRenameExisting"
#define RXPLUGIN_KEY_bRetrieveOnly "bRetrieveOnly"
#define RXPLUGIN_KEY_bForceUpdate "bForceUpdate"
#define RXPLUGIN_KEY_bLogToFile "bLogToFile"
#define RXPLUGIN_KEY_bLimitSize "bLimitSize"
#define RXPLUGIN_KEY_bExecAfterUpdate "bExecAfterUpdate"
#define RXPLUGIN_KEY_bUpdateIfNewEngine "bUpdateIfNewEngine"
#define RXPLUGIN_KEY_bVerboseLogging "bVerboseLogging"
#define RXPLUGIN_KEY_szLocalUnpackDir "szLocalUnpackDir"
#define RXPLUGIN_KEY_szReplicationDirectory "szReplicationDirectory"
#define RXPLUGIN_KEY_szLogFileName "szLogFileName"
#define RXPLUGIN_KEY_szShellScript "szShellScript"
#define RXPLUGIN_KEY_uMaxKiloBytes "uMaxKiloBytes"
/* "<module> Sites General" (not Master) */
#define RXPLUGIN_KEY_uNumberOfSites "uNumberOfSites"
/* "<module> Update Site<n>" (not Master) */
#define RXPLUGIN_KEY_bSiteEnabled "bSiteEnabled"
#define RXPLUGIN_KEY_uUpdateFrom "uUpdateFrom" /* 1 a share or local directory, 2 FTP */
#define RXPLUGIN_KEY_szSiteName "szSiteName"
#define RXPLUGIN_KEY_szFTPLocation "szFTPLocation"
#define RXPLUGIN_KEY_szUNCLocation "szUNCLocation"
#define RXPLUGIN_KEY_bAnonymousLogin "bAnonymousLogin"
#define RXPLUGIN_KEY_szFTPUsername "szFTPUsername"
#define RXPLUGIN_KEY_szRunAsDomain "szRunAsDomain"
#define RXPLUGIN_KEY_szFTPPassword "szFTPPassword"
#define RXPLUGIN_KEY_bProxy "bProxy"
#define RXPLUGIN_KEY_szProxy "szProxy"
#define RXPLUGIN_KEY_dwProxyPort "dwProxyPort"

/*
 * The reboot settings: section "General" of the agent's own policy, read with
 * the policy reader under the agent's software ID as RXPLUGIN_VALUE_NUMBER
 * (4 bytes, unsigned). The ID is key "SoftwareID" of section "Agent" in
 * Agent.ini beside the agent's executable, RXPLUGIN_DEFAULT_AGENT_ID without it.
 */
#define RXPLUGIN_KEY_ShowRebootUI "ShowRebootUI"   /* non-zero: PromptForReboot=TRUE */
#define RXPLUGIN_KEY_RebootTimeOut "RebootTimeOut" /* seconds, or RXPLUGIN_REBOOT_TIMEOUT_NONE */
#define RXPLUGIN_REBOOT_TIMEOUT_NONE 0xFFFFFFFFUL  /* -1 as 4 bytes: no automatic reboot */
#define RXPLUGIN_AGENT_INI "Agent.ini"
#define RXPLUGIN_AGENT_INI_SECTION "Agent"
#define RXPLUGIN_AGENT_INI_KEY_SOFTWARE_ID "SoftwareID"
#define RXPLUGIN_DEFAULT_AGENT_ID "oRXAgent1000"

/*
 * Reads one policy setting of one software product.
 *   softwareId  zero-terminated, valid for the call: the ID the host passed to
 *               RXPLUGIN_EnforcePolicy, or the agent's own ID from Agent.ini
 *               (at most 259 characters) for the reboot settings
 *   section,key zero-terminated, owned by the plug-in, valid for the call
 *   buffer      writable, *size bytes: 1024 for settings of a script, 260 for
 *               the task type (so text of at most 1023 or 259 characters),
 *               4 for value kind RXPLUGIN_VALUE_NUMBER
 *   size        in: capacity of buffer in bytes; the plug-in does not read it back
 * Returns non-zero when the setting exists and its value is in buffer (text
 * terminated within the capacity, or 4 bytes), 0 when it does not exist.
 */
typedef int(RXPLUGIN_CALLBACK *RXPLUGIN_PolicySettingReader)(const char *softwareId, const char *section,
                                                             const char *key, void *buffer, int valueKind,
                                                             unsigned long *size);

/*
 * Reads one setting of the scheduled task being run. taskData and taskDataSize
 * come back exactly as the host passed them to RXPLUGIN_EnforceTask; the rest
 * is as for the policy reader.
 */
typedef int(RXPLUGIN_CALLBACK *RXPLUGIN_TaskSettingReader)(void *taskData, unsigned long taskDataSize,
                                                           const char *section, const char *key, void *buffer,
                                                           int valueKind, unsigned long *size);

/*
 * Receives one property of the installed product. data lives only for the
 * call; dataSize is the byte count as stored (text: including its zero).
 * The plug-in ignores the result.
 */
typedef int(RXPLUGIN_CALLBACK *RXPLUGIN_PropertySink)(void *hostContext, const char *section, const char *name,
                                                      const void *data, int valueKind, unsigned long dataSize);

/* A running task's record; opaque to the host, owned by it until freed. */
typedef void *RXPLUGIN_TaskCookie;

/* Ordinal 1. softwareId non-empty. 1: ran its course or all installed; 0: stopped early. */
int RXPLUGIN_CALL RXPLUGIN_EnforcePolicy(const char *softwareId, RXPLUGIN_PolicySettingReader reader);
/* Ordinal 2. The cookie is stored in *cookie only when the installer engine started. */
int RXPLUGIN_CALL RXPLUGIN_EnforceTask(void *taskData, unsigned long taskDataSize, RXPLUGIN_TaskSettingReader reader,
                                       RXPLUGIN_TaskCookie *cookie);
/* Ordinal 3. Closes the cookie's handles and releases it; 1, also for a null cookie. */
int RXPLUGIN_CALL RXPLUGIN_FreeCookie(RXPLUGIN_TaskCookie cookie);
/* Ordinal 4. Reports the installed product's properties to sink under "General". */
int RXPLUGIN_CALL RXPLUGIN_GetProperties(void *hostContext, RXPLUGIN_PropertySink sink);
/* Ordinal 5. RXPLUGIN_TASK_RUNNING (0) while the task's process runs (and for a null cookie),
   RXPLUGIN_TASK_ENDED (-1) once it has ended. */
int RXPLUGIN_CALL RXPLUGIN_GetTaskStatus(RXPLUGIN_TaskCookie cookie);
/* Ordinal 6. Non-zero when every base file of the installed product is present. */
int RXPLUGIN_CALL RXPLUGIN_IsSoftwareInstalled(void);
/* Ordinal 7. Ends the task's process; the cookie stays valid until freed. Always 1. */
int RXPLUGIN_CALL RXPLUGIN_StopTask(RXPLUGIN_TaskCookie cookie);

/* Pointer types for hosts that resolve the exports with GetProcAddress. */
typedef int(RXPLUGIN_CALL *PFN_RXPLUGIN_EnforcePolicy)(const char *, RXPLUGIN_PolicySettingReader);
typedef int(RXPLUGIN_CALL *PFN_RXPLUGIN_EnforceTask)(void *, unsigned long, RXPLUGIN_TaskSettingReader,
                                                     RXPLUGIN_TaskCookie *);
typedef int(RXPLUGIN_CALL *PFN_RXPLUGIN_FreeCookie)(RXPLUGIN_TaskCookie);
typedef int(RXPLUGIN_CALL *PFN_RXPLUGIN_GetProperties)(void *, RXPLUGIN_PropertySink);
typedef int(RXPLUGIN_CALL *PFN_RXPLUGIN_GetTaskStatus)(RXPLUGIN_TaskCookie);
typedef int(RXPLUGIN_CALL *PFN_RXPLUGIN_IsSoftwareInstalled)(void);
typedef int(RXPLUGIN_CALL *PFN_RXPLUGIN_StopTask)(RXPLUGIN_TaskCookie);

#ifdef __cplusplus
}
#endif

#endif /* QRIPLUGN_H */
