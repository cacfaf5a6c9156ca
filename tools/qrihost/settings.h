// Settings files of the reference agent: INI text as a person writes it,
// parsed once before any export runs, then answered to the plug-in's readers
// within the capacity that each read offers.
#pragma once

#include <string>
#include <vector>

namespace qrihost {

struct Setting {
    std::string section;
    std::string key;
    std::string value;
    int line = 0;
};

struct SettingsFile {
    std::string path;
    std::vector<Setting> settings;
};

// Longest line and largest file taken; anything longer is an error.
constexpr std::size_t kLongestLine = 4095;
constexpr std::size_t kLargestFile = 1024 * 1024;

// Parses text as the content of path. false with "path:line: what is wrong"
// in *error for a malformed line or a duplicate key.
bool ParseSettings(const std::string &path, const std::string &text, SettingsFile *file, std::string *error);

// Reads and parses path; an unreadable file is an error like a malformed line.
bool LoadSettings(const std::string &path, SettingsFile *file, std::string *error);

// Null when the file has no such key. Section and key ignore ASCII case, as
// profile files do.
const Setting *FindSetting(const SettingsFile &file, const char *section, const char *key);

// Answers one read of the plug-in: value kind 0 writes the text terminated
// within *size bytes, kind 1 writes a 4-byte number from decimal text (-1 is
// all bits set). Returns 1 when written, 0 for "not found". A value that
// exists but cannot be answered (too long, not a number, an unknown kind) is
// "not found" too, with "path:line: why" in *warning; *warning is left empty
// otherwise.
int AnswerSetting(const SettingsFile &file, const char *section, const char *key, void *buffer, int valueKind,
                  unsigned long *size, std::string *warning);

// Decimal text with an optional sign, blanks around it allowed, from
// -2147483648 to 4294967295; false for anything else.
bool ParseNumber(const std::string &text, unsigned long *number);

} // namespace qrihost
