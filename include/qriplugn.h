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
#define RXPLUGIN_VALUE_NUMBER 1 /* exactly 4 bytes, a 32-bit unsigned number */

/* Buffer capacities that the plug-in announces through the size in/out. */
#define RXPLUGIN_SETTING_CAPACITY 1024u  /* every setting of a script generation */
#define RXPLUGIN_TASK_TYPE_CAPACITY 260u /* "Task" / "TaskType" */
#define RXPLUGIN_NUMBER_CAPACITY 4u      /* value kind RXPLUGIN_VALUE_NUMBER */

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
/* Ordinal 5. 0 while the task's process runs (and for a null cookie), -1 once it has ended. */
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
