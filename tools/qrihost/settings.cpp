// INI parsing and answering for the reference agent. No Windows header: the
// rules are plain text handling.
#include "settings.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "qriplugn.h"

namespace qrihost {

namespace {

bool IsBlank(char c)
{
    return c == ' ' || c == '\t';
}

std::string Trim(const std::string &text)
{
    std::size_t begin = 0;
    std::size_t end = text.size();
    while (begin < end && IsBlank(text[begin]))
        ++begin;
    while (end > begin && IsBlank(text[end - 1]))
        --end;
    return text.substr(begin, end - begin);
}

char FoldAscii(char c)
{
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool SameName(const std::string &a, const char *b)
{
    std::size_t length = std::strlen(b);
    if (a.size() != length)
        return false;
    for (std::size_t i = 0; i < length; ++i) {
        if (FoldAscii(a[i]) != FoldAscii(b[i]))
            return false;
    }
    return true;
}

std::string Where(const std::string &path, int line)
{
    return path + ":" + std::to_string(line) + ": ";
}

} // namespace

bool ParseNumber(const std::string &text, unsigned long *number)
{
    std::string digits = Trim(text);
    bool negative = false;
    std::size_t at = 0;
    if (at < digits.size() && (digits[at] == '-' || digits[at] == '+')) {
        negative = digits[at] == '-';
        ++at;
    }
    if (at == digits.size())
        return false;
    unsigned long long magnitude = 0;
    for (; at < digits.size(); ++at) {
        if (digits[at] < '0' || digits[at] > '9')
            return false;
        magnitude = magnitude * 10 + static_cast<unsigned long long>(digits[at] - '0');
        if (magnitude > 0xFFFFFFFFull)
            return false;
    }
    if (negative && magnitude > 0x80000000ull)
        return false;
    unsigned long long value = negative ? (0x100000000ull - magnitude) & 0xFFFFFFFFull : magnitude;
    *number = static_cast<unsigned long>(value);
    return true;
}

bool ParseSettings(const std::string &path, const std::string &text, SettingsFile *file, std::string *error)
{
    file->path = path;
    file->settings.clear();
    std::string section;
    bool inSection = false;
    std::size_t at = 0;
    // A byte-order mark from an editor is not part of the first line.
    if (text.compare(0, 3, "\xEF\xBB\xBF") == 0)
        at = 3;
    int line = 0;
    while (at < text.size()) {
        ++line;
        std::size_t end = text.find('\n', at);
        if (end == std::string::npos)
            end = text.size();
        std::string raw = text.substr(at, end - at);
        at = end + 1;
        if (!raw.empty() && raw.back() == '\r')
            raw.pop_back();
        if (raw.size() > kLongestLine) {
            *error = Where(path, line) + "line longer than " + std::to_string(kLongestLine) + " characters";
            return false;
        }
        if (raw.find('\0') != std::string::npos) {
            *error = Where(path, line) + "NUL byte in the line";
            return false;
        }
        std::string content = Trim(raw);
        if (content.empty() || content[0] == ';' || content[0] == '#')
            continue;
        if (content[0] == '[') {
            std::size_t close = content.find(']');
            if (close == std::string::npos) {
                *error = Where(path, line) + "section header without ']'";
                return false;
            }
            if (close + 1 != content.size()) {
                *error = Where(path, line) + "text after the section header's ']'";
                return false;
            }
            section = Trim(content.substr(1, close - 1));
            if (section.empty()) {
                *error = Where(path, line) + "empty section name";
                return false;
            }
            inSection = true;
        } else {
            std::size_t equals = content.find('=');
            if (equals == std::string::npos) {
                *error = Where(path, line) + "expected key=value, [section] or a comment";
                return false;
            }
            Setting setting;
            setting.section = section;
            setting.key = Trim(content.substr(0, equals));
            setting.value = Trim(content.substr(equals + 1));
            setting.line = line;
            if (setting.key.empty()) {
                *error = Where(path, line) + "no key before '='";
                return false;
            }
            if (!inSection) {
                *error = Where(path, line) + "key " + setting.key + " before any [section]";
                return false;
            }
            if (const Setting *first = FindSetting(*file, section.c_str(), setting.key.c_str())) {
                *error = Where(path, line) + "duplicate key " + setting.key + " in [" + section + "] (first at line " +
                         std::to_string(first->line) + ")";
                return false;
            }
            file->settings.push_back(setting);
        }
    }
    return true;
}

bool LoadSettings(const std::string &path, SettingsFile *file, std::string *error)
{
    FILE *in = std::fopen(path.c_str(), "rb");
    if (in == nullptr) {
        *error = path + ": cannot be read: " + std::strerror(errno);
        return false;
    }
    std::string text;
    char chunk[4096];
    std::size_t got = 0;
    bool tooLarge = false;
    while ((got = std::fread(chunk, 1, sizeof chunk, in)) > 0) {
        text.append(chunk, got);
        if (text.size() > kLargestFile) {
            tooLarge = true;
            break;
        }
    }
    bool readError = std::ferror(in) != 0;
    std::fclose(in);
    if (tooLarge) {
        *error = path + ": larger than " + std::to_string(kLargestFile) + " bytes";
        return false;
    }
    if (readError) {
        *error = path + ": cannot be read";
        return false;
    }
    return ParseSettings(path, text, file, error);
}

const Setting *FindSetting(const SettingsFile &file, const char *section, const char *key)
{
    for (const Setting &setting : file.settings) {
        if (SameName(setting.section, section) && SameName(setting.key, key))
            return &setting;
    }
    return nullptr;
}

int AnswerSetting(const SettingsFile &file, const char *section, const char *key, void *buffer, int valueKind,
                  unsigned long *size, std::string *warning)
{
    warning->clear();
    if (section == nullptr || key == nullptr || buffer == nullptr || size == nullptr)
        return 0;
    const Setting *setting = FindSetting(file, section, key);
    if (setting == nullptr)
        return 0;
    std::string where = Where(file.path, setting->line) + setting->key + " in [" + setting->section + "]: ";
    unsigned long capacity = *size;
    if (valueKind == RXPLUGIN_VALUE_NUMBER) {
        unsigned long number = 0;
        if (capacity < 4) {
            *warning = where + "a number needs 4 bytes, " + std::to_string(capacity) + " offered; answered not found";
            return 0;
        }
        if (!ParseNumber(setting->value, &number)) {
            *warning = where + "\"" + setting->value + "\" is not a 32-bit decimal number; answered not found";
            return 0;
        }
        unsigned char bytes[4] = {static_cast<unsigned char>(number & 0xFF),
                                  static_cast<unsigned char>((number >> 8) & 0xFF),
                                  static_cast<unsigned char>((number >> 16) & 0xFF),
                                  static_cast<unsigned char>((number >> 24) & 0xFF)};
        std::memcpy(buffer, bytes, sizeof bytes);
        *size = 4;
        return 1;
    }
    if (valueKind != RXPLUGIN_VALUE_TEXT) {
        *warning = where + "value kind " + std::to_string(valueKind) + " is unknown; answered not found";
        return 0;
    }
    if (setting->value.size() + 1 > capacity) {
        *warning = where + "the value of " + std::to_string(setting->value.size()) + " characters does not fit the " +
                   std::to_string(capacity) + " bytes offered; answered not found";
        return 0;
    }
    std::memcpy(buffer, setting->value.c_str(), setting->value.size() + 1);
    *size = static_cast<unsigned long>(setting->value.size() + 1);
    return 1;
}

} // namespace qrihost
