// Update-site lines of one Connection section: FTP sites, UNC shares and
// local directories, with their logins and proxy.
#pragma once

#include <cstdio>

#include "common/setting_source.h"

namespace qri {

// 1: the site is done, go on; 0: a setting that the site needs is missing.
int WriteFtpSite(const SettingSource &source, FILE *script, const char *siteSection);
int WriteUncSite(const SettingSource &source, FILE *script, const char *siteSection);

// location begins with two backslashes; it is cut in place after the server name.
void WriteUncLine(char *location, FILE *script);
void WriteLocalLine(const char *location, FILE *script);

} // namespace qri
