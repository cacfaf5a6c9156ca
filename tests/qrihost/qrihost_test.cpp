// The reference agent's own behaviour: its settings parser and readers, and
// the command lines, settings files and DLLs it refuses.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstring>
#include <string>

#include "qriplugn.h"
#include "settings.h"
#include "support/scratch.h"

namespace {

using qrihost::AnswerSetting;
using qrihost::ParseSettings;
using qrihost::SettingsFile;

struct ParseCase {
    const char *name;
    const char *text;
    const char *error; // "" when the text parses
};

const ParseCase kParseCases[] = {
    {"comments blanks and trimming", "; a comment\r\n# another\n\n  [ A ]  \n k1 = v 1 \nk2=\n", ""},
    {"byte-order mark", "\xEF\xBB\xBF[A]\nk=v\n", ""},
    {"no line break at the end", "[A]\nk=v", ""},
    {"same key in two sections", "[A]\nk=1\n[B]\nk=2\n", ""},
    {"duplicate key", "[A]\nk=1\n\nK = 2\n", "s.ini:4: duplicate key K in [A] (first at line 2)"},
    {"duplicate across a reopened section", "[A]\nk=1\n[B]\n[a]\nk=2\n", "s.ini:5: duplicate key k"},
    {"line without =", "[A]\njust words\n", "s.ini:2: expected key=value"},
    {"section without ]", "[A\n", "s.ini:1: section header without ']'"},
    {"text after ]", "[A] x\n", "s.ini:1: text after the section header's ']'"},
    {"empty section name", "[ ]\n", "s.ini:1: empty section name"},
    {"no key", "[A]\n=v\n", "s.ini:2: no key before '='"},
    {"key before any section", "k=v\n", "s.ini:1: key k before any [section]"},
    {"line too long", "[A]\nk=xxxx", "s.ini:2: line longer than 4095 characters"},
};

TEST(QrihostSettings, ParsesOrNamesFileLineAndFault)
{
    for (const ParseCase &row : kParseCases) {
        std::string text = row.text;
        if (std::strcmp(row.name, "line too long") == 0)
            text.append(qrihost::kLongestLine, 'x');
        SettingsFile file;
        std::string error;
        bool parsed = ParseSettings("s.ini", text, &file, &error);
        EXPECT_EQ(parsed, row.error[0] == '\0') << row.name << ": " << error;
        if (!parsed) {
            EXPECT_EQ(error.compare(0, std::strlen(row.error), row.error), 0) << row.name << ": " << error;
        }
    }
    SettingsFile file;
    std::string error;
    ASSERT_TRUE(ParseSettings("s.ini", kParseCases[0].text, &file, &error));
    ASSERT_EQ(file.settings.size(), 2u);
    EXPECT_EQ(file.settings[0].section, "A");
    EXPECT_EQ(file.settings[0].key, "k1");
    EXPECT_EQ(file.settings[0].value, "v 1");
    EXPECT_EQ(file.settings[0].line, 5);
    EXPECT_EQ(file.settings[1].value, "");
}

struct AnswerCase {
    const char *name;
    const char *key;
    int valueKind;
    unsigned long capacity;
    int found;
    const char *bytes;     // expected content (text with its zero, or 4 number bytes)
    std::size_t byteCount; // 0 when nothing may be written
    const char *warning;   // start of the warning, "" for none
};

const char kAnswerText[] = "[General]\n"
                           "name=abcdef\n"
                           "empty=\n"
                           "minus=-1\n"
                           "timeout= 300 \n"
                           "top=4294967295\n"
                           "over=4294967296\n"
                           "words=12abc\n";

const AnswerCase kAnswerCases[] = {
    {"text fits exactly", "name", RXPLUGIN_VALUE_TEXT, 7, 1, "abcdef", 7, ""},
    {"text one byte short", "name", RXPLUGIN_VALUE_TEXT, 6, 0, "", 0,
     "a.ini:2: name in [General]: the value of 6 characters does not fit the 6 bytes offered"},
    {"empty text", "empty", RXPLUGIN_VALUE_TEXT, 1, 1, "", 1, ""},
    {"missing key", "absent", RXPLUGIN_VALUE_TEXT, 16, 0, "", 0, ""},
    {"missing section", "name", RXPLUGIN_VALUE_TEXT, 16, 0, "", 0, ""},
    {"minus one", "minus", RXPLUGIN_VALUE_NUMBER, 4, 1, "\xff\xff\xff\xff", 4, ""},
    {"number with blanks", "timeout", RXPLUGIN_VALUE_NUMBER, 4, 1, "\x2c\x01\x00\x00", 4, ""},
    {"largest number", "top", RXPLUGIN_VALUE_NUMBER, 4, 1, "\xff\xff\xff\xff", 4, ""},
    {"number too large", "over", RXPLUGIN_VALUE_NUMBER, 4, 0, "", 0, "a.ini:7: over in [General]: \"4294967296\""},
    {"not a number", "words", RXPLUGIN_VALUE_NUMBER, 4, 0, "", 0, "a.ini:8: words in [General]: \"12abc\""},
    {"number without room", "minus", RXPLUGIN_VALUE_NUMBER, 3, 0, "", 0, "a.ini:4: minus in [General]: a number"},
    {"unknown kind", "name", 7, 16, 0, "", 0, "a.ini:2: name in [General]: value kind 7"},
};

TEST(QrihostSettings, AnswersWithinTheCapacityOffered)
{
    SettingsFile file;
    std::string error;
    ASSERT_TRUE(ParseSettings("a.ini", kAnswerText, &file, &error)) << error;
    for (const AnswerCase &row : kAnswerCases) {
        unsigned char buffer[32];
        std::memset(buffer, 0xbd, sizeof buffer);
        unsigned long size = row.capacity;
        std::string warning = "stale";
        const char *section = std::strcmp(row.name, "missing section") == 0 ? "Other" : "general";
        int found = AnswerSetting(file, section, row.key, buffer, row.valueKind, &size, &warning);
        EXPECT_EQ(found, row.found) << row.name;
        EXPECT_EQ(std::memcmp(buffer, row.bytes, row.byteCount), 0) << row.name;
        // Nothing past what was written, and never past the capacity.
        for (std::size_t i = row.byteCount; i < sizeof buffer; ++i)
            ASSERT_EQ(buffer[i], 0xbd) << row.name << ": byte " << i;
        EXPECT_EQ(warning.compare(0, std::strlen(row.warning), row.warning), 0) << row.name << ": " << warning;
        if (row.warning[0] == '\0') {
            EXPECT_EQ(warning, "") << row.name;
        }
    }
}

// Runs qrihost.exe with arguments; its exit status, and what it wrote to
// standard output and standard error together in *output.
DWORD RunQrihost(const std::string &arguments, const std::string &outputPath, std::string *output)
{
    std::string commandLine = "\"" + qritest::TestBinDirectory() + "\\qrihost.exe\" " + arguments;
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    HANDLE out = CreateFileA(outputPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
    EXPECT_NE(out, INVALID_HANDLE_VALUE);
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = out;
    startup.hStdError = out;
    PROCESS_INFORMATION process = {};
    std::string mutableLine = commandLine;
    BOOL started = CreateProcessA(nullptr, &mutableLine[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                                  &process);
    CloseHandle(out);
    EXPECT_TRUE(started) << commandLine;
    if (!started)
        return 0xdeadbeef;
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD status = 0xdeadbeef;
    GetExitCodeProcess(process.hProcess, &status);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    *output = qritest::ReadFileBytes(outputPath);
    return status;
}

struct CommandCase {
    const char *arguments; // $D stands for the scratch directory
    DWORD status;
    const char *output; // a part of the output
};

const CommandCase kCommandCases[] = {
    {"", 2, "no command given"},
    {"frobnicate", 2, "unknown command \"frobnicate\""},
    {"properties extra", 2, "properties takes no argument"},
    {"task", 2, "task takes exactly one argument"},
    {"--wait installed", 2, "--wait belongs to policy and task"},
    {"--settings $D properties", 2, "--settings belongs to policy"},
    {"task $D\\good.ini --wait=0", 2, "--wait=SECONDS takes"},
    {"policy a\\b", 2, "cannot be a software ID"},
    {"--bogus installed", 2, "unknown option --bogus"},
    {"task --help", 0, "usage: qrihost"},
    {"task $D\\absent.ini", 4, "absent.ini: cannot be read"},
    // Settings are read before the DLL is even looked for.
    {"--dll $D\\absent.dll task $D\\bad.ini", 4, "bad.ini:3: expected key=value"},
    {"policy P1 --settings $D", 4, "P1.ini:3: duplicate key k"},
    {"--dll $D\\absent.dll installed", 3, "absent.dll: no such file"},
    {"--dll $D\\good.ini installed", 3, "cannot be loaded as a DLL"},
    {"--dll $BIN\\six_exports.dll installed", 3, "six_exports.dll is not a usable QRIPLUGN.dll: it has no export "
                                                 "RXPLUGIN_StopTask"},
};

std::string Expand(std::string text, const std::string &directory)
{
    for (std::size_t at; (at = text.find("$D")) != std::string::npos;)
        text.replace(at, 2, directory);
    for (std::size_t at; (at = text.find("$BIN")) != std::string::npos;)
        text.replace(at, 4, qritest::TestBinDirectory());
    return text;
}

TEST(QrihostCommandLine, RefusesWithItsDocumentedExitStatus)
{
    qritest::ScratchDir directory("qrihost");
    qritest::WriteFileBytes(directory.Join("good.ini"), "[Task]\r\nTaskType=vkAutoUpdateTask\r\n");
    qritest::WriteFileBytes(directory.Join("bad.ini"), "[Task]\r\nTaskType=x\r\nnonsense\r\n");
    qritest::WriteFileBytes(directory.Join("P1.ini"), "[A]\nk=1\nk=2\n");
    for (const CommandCase &row : kCommandCases) {
        std::string arguments = Expand(row.arguments, directory.Path());
        std::string output;
        DWORD status = RunQrihost(arguments, directory.Join("output.txt"), &output);
        EXPECT_EQ(status, row.status) << arguments << "\n" << output;
        EXPECT_NE(output.find(Expand(row.output, directory.Path())), std::string::npos) << arguments << "\n"
                                                                                          << output;
    }
}

} // namespace
