// The installer registry key: where the installer engine lives, the product's
// properties, the installer run flags and the base files.
#pragma once

#include <windows.h>

#include "qriplugn.h"

namespace qri {

// Under HKEY_LOCAL_MACHINE.
constexpr const char kInstallerKeyPath[] = RXPLUGIN_INSTALLER_KEY;

constexpr const char kInstallationDirectoryValue[] = RXPLUGIN_INSTALLER_VALUE_DIRECTORY;
constexpr const char kProcessHandleValue[] = RXPLUGIN_INSTALLER_VALUE_PROCESS_HANDLE;

// Capacities of the property reporter's buffers.
constexpr DWORD kPropertyTextCapacity = 6144;
constexpr DWORD kPropertyNumberCapacity = 4;

// Fills buffer with the installer directory (at most 259 characters). The
// capacity must be 260 or more; below that the registry is not touched.
// Text that is not an absolute path (drive letter, colon and separator, or
// two separators, a server, a separator and a share; backslashes and forward
// slashes alike) names no directory of the installer's: false.
bool GetInstallerDirectory(char *buffer, DWORD capacity);

// Reports one value of `key` to the sink. kind is REG_SZ or REG_DWORD; any
// other kind reports nothing. Returns the sink's result, 0 when nothing was
// reported.
int ReportProperty(void *hostContext, RXPLUGIN_PropertySink sink, HKEY key, const char *section, const char *name,
                   DWORD kind);

int GetProperties(void *hostContext, RXPLUGIN_PropertySink sink);

int IsSoftwareInstalled();
// traceSends: the calling export's own trace decision.
int CheckBaseFiles(const char *installerDirectory, bool traceSends);

} // namespace qri
