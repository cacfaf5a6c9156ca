// Update-site lines of one Connection section: FTP sites, UNC shares and
// local directories, with their logins and proxy.
#pragma once

#include "common/setting_source.h"
#include "script/script_text.h"

namespace qri {

// 1: the site is done, go on; 0: a setting that the site needs is missing.
int WriteFtpSite(const SettingSource &source, ScriptText &script, const char *siteSection);
int WriteUncSite(const SettingSource &source, ScriptText &script, const char *siteSection);

// location begins with two backslashes; it is cut in place after the server name.
void WriteUncLine(char *location, ScriptText &script);
void WriteLocalLine(const char *location, ScriptText &script);

} // namespace qri
