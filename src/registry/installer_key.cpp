// Installer directory lookup and the product property report.
#include "registry/installer_key.h"

#include "common/text.h"
#include "common/unique.h"

namespace qri {

namespace {

bool IsAsciiLetter(char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

bool IsSeparator(char c)
{
    return c == '\\' || c == '/';
}

// "X:\..." or "\\server\share...", with either separator in any mix, as every
// file function takes them: anything else would be taken relative to
// whatever the agent's current drive and directory happen to be.
bool IsAbsolutePath(const char *path)
{
    if (IsAsciiLetter(path[0]) && path[1] == ':' && IsSeparator(path[2]))
        return true;
    if (!IsSeparator(path[0]) || !IsSeparator(path[1]))
        return false;
    const char *server = path + 2;
    const char *separator = server;
    while (*separator != '\0' && !IsSeparator(*separator))
        ++separator;
    return separator != server && *separator != '\0' && separator[1] != '\0' && !IsSeparator(separator[1]);
}

} // namespace

bool GetInstallerDirectory(char *buffer, DWORD capacity)
{
    if (buffer == nullptr || capacity < kPathCapacity)
        return false;
    UniqueHkey key;
    // Either failing: no directory, and every caller stops with its failure result.
    if (RegOpenKeyA(HKEY_LOCAL_MACHINE, kInstallerKeyPath, key.put()) != ERROR_SUCCESS || !key)
        return false;
    DWORD size = capacity;
    LONG status =
        RegQueryValueExA(key.get(), kInstallationDirectoryValue, nullptr, nullptr, reinterpret_cast<BYTE *>(buffer), &size);
    if (status != ERROR_SUCCESS || size == 0)
        return false;
    // The registry does not add a zero that the writer left out.
    return TerminateWithin(buffer, capacity, size) && IsAbsolutePath(buffer);
}

int ReportProperty(void *hostContext, RXPLUGIN_PropertySink sink, HKEY key, const char *section, const char *name,
                   DWORD kind)
{
    DWORD capacity;
    int flag;
    if (kind == REG_SZ) {
        capacity = kPropertyTextCapacity;
        flag = RXPLUGIN_VALUE_TEXT;
    } else if (kind == REG_DWORD) {
        capacity = kPropertyNumberCapacity;
        flag = RXPLUGIN_VALUE_NUMBER;
    } else {
        return 0;
    }
    // One spare byte past the capacity, so that text handed to the sink is
    // always terminated even when it was stored without its zero.
    BYTE data[kPropertyTextCapacity + 1] = {};
    DWORD size = capacity;
    // A value that cannot be read is not reported; the others still are.
    if (key == nullptr || RegQueryValueExA(key, name, nullptr, nullptr, data, &size) != ERROR_SUCCESS || size == 0)
        return 0;
    data[size] = 0;
    return sink(hostContext, section, name, data, flag, size);
}

int GetProperties(void *hostContext, RXPLUGIN_PropertySink sink)
{
    if (hostContext == nullptr || sink == nullptr)
        return 0;
    UniqueHkey key;
    // Nothing reported, result 0.
    if (RegOpenKeyA(HKEY_LOCAL_MACHINE, kInstallerKeyPath, key.put()) != ERROR_SUCCESS || !key)
        return 0;
    static const char *const kReported[] = {kInstallationDirectoryValue, RXPLUGIN_INSTALLER_VALUE_PRODUCT_NAME,
                                            RXPLUGIN_INSTALLER_VALUE_PRODUCT_VERSION,
                                            RXPLUGIN_INSTALLER_VALUE_LANGUAGE};
    for (const char *name : kReported)
        ReportProperty(hostContext, sink, key.get(), RXPLUGIN_SECTION_GENERAL, name, REG_SZ);
    return 1;
}

} // namespace qri
