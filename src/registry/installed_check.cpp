// The installed-software check: every base-file value of the installer
// registry key must name an existing entry of the installer directory.
#include <windows.h>

#include "common/text.h"
#include "common/trace.h"
#include "common/unique.h"
#include "registry/installer_key.h"

namespace qri {

namespace {

constexpr DWORD kCheckAccess = KEY_READ | KEY_WRITE; // 0x2001F
constexpr char kBasePrefix[] = RXPLUGIN_INSTALLER_VALUE_BASE_PREFIX;
// Room for the not-found text around a directory and a relative path of up
// to 259 characters each, so that the message is never cut.
constexpr std::size_t kNotFoundMessageCapacity = 2 * kPathCapacity + 64;

// The message names the joined path "directory\relative", also when that
// path was too long to search.
void TraceNotFound(bool traceSends, const char *installerDirectory, const char *relativePath, DWORD error)
{
    char message[kNotFoundMessageCapacity];
    FormatBounded(message, sizeof message, "Non : didn't find %s\\%s (%lu)", installerDirectory, relativePath,
                  static_cast<unsigned long>(error));
    TraceSend(traceSends, message);
}

// True when the base file exists; otherwise sends the not-found message.
bool BaseFilePresent(bool traceSends, const char *installerDirectory, const char *relativePath)
{
    char path[kPathCapacity];
    if (!FormatBounded(path, sizeof path, "%s\\%s", installerDirectory, relativePath)) {
        TraceNotFound(traceSends, installerDirectory, relativePath, ERROR_FILENAME_EXCED_RANGE);
        return false;
    }
    WIN32_FIND_DATAA found;
    // Failing, for whatever reason: the file counts as missing, with the reason in the message.
    UniqueFindHandle search(FindFirstFileA(path, &found));
    if (!search) {
        DWORD error = GetLastError();
        TraceNotFound(traceSends, installerDirectory, relativePath, error);
        return false;
    }
    return true;
}

} // namespace

int CheckBaseFiles(const char *installerDirectory, bool traceSends)
{
    UniqueHkey key;
    // Failing: 0 with its message.
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kInstallerKeyPath, 0, kCheckAccess, key.put()) != ERROR_SUCCESS) {
        TraceSend(traceSends, "No : can't open HKLM\\" RXPLUGIN_INSTALLER_KEY);
        return 0;
    }
    int result = 1;
    for (DWORD index = 0;; ++index) {
        char name[kPathCapacity];
        // One spare byte so that data stored without its zero can be terminated.
        char data[kPathCapacity + 1];
        DWORD nameCapacity = kPathCapacity;
        DWORD dataSize = kPathCapacity;
        DWORD type = 0;
        LONG status = RegEnumValueA(key.get(), index, name, &nameCapacity, nullptr, &type,
                                    reinterpret_cast<BYTE *>(data), &dataSize);
        // The end of the values, or one too large for the buffers, ends the
        // scan as it stands. Any other failure leaves the answer unknown,
        // and an unknown answer is not "installed".
        if (status != ERROR_SUCCESS) {
            if (status != ERROR_NO_MORE_ITEMS && status != ERROR_MORE_DATA && result != 0) {
                char message[kPathCapacity];
                FormatBounded(message, sizeof message, "No : can't read the values of HKLM\\%s (%ld)", kInstallerKeyPath,
                              status);
                TraceSend(traceSends, message);
                result = 0;
            }
            break;
        }
        if (result == 0)
            break;
        name[kPathCapacity - 1] = '\0';
        data[dataSize <= kPathCapacity ? dataSize : kPathCapacity] = '\0';
        if (StartsWithNoCaseAscii(name, kBasePrefix) && !BaseFilePresent(traceSends, installerDirectory, data))
            result = 0;
    }
    return result;
}

int IsSoftwareInstalled()
{
    // Runs beside enforcements without their lock: decides for itself.
    bool traceSends = TraceListened();
    TraceSend(traceSends, "IsSoftwareInstalled");
    char directory[kPathCapacity];
    if (!GetInstallerDirectory(directory, sizeof directory)) {
        TraceSend(traceSends, "No : can't get path from registry");
        return 0;
    }
    return CheckBaseFiles(directory, traceSends);
}

} // namespace qri
