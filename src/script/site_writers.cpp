// Update-site writers.
#include "script/site_writers.h"

#include <cstring>

#include "common/text.h"
#include "script/option_tables.h"

namespace qri {

namespace {

// A missing password is not an error: the login goes on with an empty one.
void ReadPassword(const SettingSource &source, const char *section, char *buffer)
{
    if (!ReadOption(source, section, RXPLUGIN_KEY_szFTPPassword, buffer))
        buffer[0] = '\0';
}

} // namespace

int WriteFtpSite(const SettingSource &source, ScriptText &script, const char *siteSection)
{
    char first[kSettingCapacity] = {};
    char second[kSettingCapacity] = {};

    if (!ReadOption(source, siteSection, RXPLUGIN_KEY_szFTPLocation, first))
        return 0;
    for (char *c = first; *c != '\0'; ++c) {
        if (*c == '\\')
            *c = '/';
    }
    TrimOneTrailing(first, '/');
    const char *path = "";
    if (char *slash = std::strchr(first, '/')) {
        *slash = '\0';
        path = slash + 1;
    }
    script.Print("\n\tFTP %s, %s, passive", first, path);

    if (!ReadOption(source, siteSection, RXPLUGIN_KEY_bAnonymousLogin, second))
        return 0;
    if (ParseDecimal(second) == 0) {
        if (!ReadOption(source, siteSection, RXPLUGIN_KEY_szFTPUsername, first))
            return 0;
        ReadPassword(source, siteSection, second);
        script.Print("\n\tFTPUSER %s, %s ", first, second);
    }

    if (!ReadOption(source, siteSection, RXPLUGIN_KEY_bProxy, first))
        return 0;
    if (ParseDecimal(first) != 1)
        return 1;
    if (!ReadOption(source, siteSection, RXPLUGIN_KEY_szProxy, first))
        return 0;
    if (!ReadOption(source, siteSection, RXPLUGIN_KEY_dwProxyPort, second))
        return 0;
    script.Print("\n\tPROXY  %s:%d ", first, ParseDecimal(second));
    return 1;
}

int WriteUncSite(const SettingSource &source, ScriptText &script, const char *siteSection)
{
    char location[kSettingCapacity] = {};
    char user[kSettingCapacity] = {};
    char other[kSettingCapacity] = {};

    if (!ReadOption(source, siteSection, RXPLUGIN_KEY_szUNCLocation, location))
        return 0;
    TrimOneTrailing(location, '\\');
    if (location[0] == '\\' && location[1] == '\\')
        WriteUncLine(location, script);
    else
        WriteLocalLine(location, script);

    if (!ReadOption(source, siteSection, RXPLUGIN_KEY_bAnonymousLogin, other))
        return 0;
    if (ParseDecimal(other) != 0)
        return 1;

    // The location line is written; its buffer now holds the domain.
    char *domain = location;
    if (!ReadOption(source, siteSection, RXPLUGIN_KEY_szFTPUsername, user))
        return 0;
    if (!ReadOption(source, siteSection, RXPLUGIN_KEY_szRunAsDomain, domain))
        return 0;
    ReadPassword(source, siteSection, other);
    script.Print("\n\tUNCUSER %s, %s, %s", domain, user, other);
    return 1;
}

void WriteUncLine(char *location, ScriptText &script)
{
    char share[kSettingCapacity] = {};
    char path[kSettingCapacity] = {};
    if (char *separator = std::strchr(location + 2, '\\')) {
        *separator = '\0';
        CopyBounded(share, sizeof share, separator + 1);
        if (char *inShare = std::strchr(share, '\\')) {
            *inShare = '\0';
            CopyBounded(path, sizeof path, inShare + 1);
        }
    }
    script.Print("\n\tUNC %s, %s, %s", location + 2, share, path);
}

void WriteLocalLine(const char *location, ScriptText &script)
{
    script.Print("\n\tLOCAL %s", location);
}

} // namespace qri
