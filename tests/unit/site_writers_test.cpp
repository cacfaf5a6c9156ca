// Update-site writers: FTP, UNC and local site lines with their logins and
// proxy, checked byte for byte in a text-mode script file.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <utility>
#include <vector>

#include "script/site_writers.h"
#include "support/fake_host.h"
#include "support/script_file.h"
#include "support/trace_capture.h"

namespace {

using qritest::Crlf;
using qritest::FakeSettings;
using qritest::NotFoundMessage;
using qritest::ReadingMessage;
using qritest::ScriptFile;
using qritest::TraceCapture;

constexpr char kSite[] = "AutoUpdate Update Site2";

using Settings = std::vector<std::pair<std::string, std::string>>;

enum class Writer { Ftp, Unc };

struct SiteOutcome {
    int result;
    std::string text;
    std::vector<std::string> messages;
    std::vector<std::string> keys; // keys read, in order
};

SiteOutcome RunWriter(Writer writer, FakeSettings &settings, const qri::SettingSource &source)
{
    ScriptFile script;
    TraceCapture trace;
    SiteOutcome out;
    out.result = writer == Writer::Ftp ? qri::WriteFtpSite(source, script.Stream(), kSite)
                                       : qri::WriteUncSite(source, script.Stream(), kSite);
    out.text = script.Bytes();
    out.messages = trace.Messages();
    for (const qritest::ReadCall &call : settings.Calls()) {
        EXPECT_EQ(call.section, kSite) << call.key;
        EXPECT_EQ(call.valueKind, RXPLUGIN_VALUE_TEXT) << call.key;
        EXPECT_EQ(call.capacity, qri::kSettingCapacity) << call.key;
        out.keys.push_back(call.key);
    }
    return out;
}

SiteOutcome RunWriter(Writer writer, const Settings &values)
{
    FakeSettings settings;
    for (const auto &value : values)
        settings.Set(kSite, value.first, value.second);
    return RunWriter(writer, settings, qritest::TaskSource(settings));
}

Settings Without(Settings values, const std::string &key)
{
    for (auto it = values.begin(); it != values.end(); ++it) {
        if (it->first == key) {
            values.erase(it);
            break;
        }
    }
    return values;
}

Settings With(Settings values, const std::string &key, const std::string &value)
{
    values = Without(values, key);
    values.push_back({key, value});
    return values;
}

std::vector<std::string> MessagesFor(const std::vector<std::string> &keys, const std::set<std::string> &missing)
{
    std::vector<std::string> messages;
    for (const std::string &key : keys) {
        messages.push_back(ReadingMessage(key, kSite));
        if (missing.count(key) != 0)
            messages.push_back(NotFoundMessage(key, kSite));
    }
    return messages;
}

const Settings kAnonymousFtp = {{"bAnonymousLogin", "1"}, {"bProxy", "0"}};
const Settings kAnonymousUnc = {{"bAnonymousLogin", "1"}};

TEST(FtpSite, UserWithoutPasswordAndAProxy)
{
    SiteOutcome out = RunWriter(Writer::Ftp, {{"szFTPLocation", "mirrorhost\\pub\\updates\\"},
                                              {"bAnonymousLogin", "0"},
                                              {"szFTPUsername", "updater"},
                                              {"bProxy", "1"},
                                              {"szProxy", "proxyhost"},
                                              {"dwProxyPort", "800"}});
    EXPECT_EQ(out.result, 1);
    EXPECT_EQ(out.text, "\r\n\tFTP mirrorhost, pub/updates, passive"
                        "\r\n\tFTPUSER updater,  "
                        "\r\n\tPROXY  proxyhost:800 ");
    EXPECT_EQ(out.messages,
              (std::vector<std::string>{ReadingMessage("szFTPLocation", kSite),
                                        ReadingMessage("bAnonymousLogin", kSite),
                                        ReadingMessage("szFTPUsername", kSite), ReadingMessage("szFTPPassword", kSite),
                                        NotFoundMessage("szFTPPassword", kSite), ReadingMessage("bProxy", kSite),
                                        ReadingMessage("szProxy", kSite), ReadingMessage("dwProxyPort", kSite)}));
}

TEST(UncSite, UserAndDomainWithoutPassword)
{
    SiteOutcome out = RunWriter(Writer::Unc, {{"szUNCLocation", "\\\\fileserver\\updates\\current\\"},
                                              {"bAnonymousLogin", "0"},
                                              {"szFTPUsername", "updater"},
                                              {"szRunAsDomain", "OFFICE"}});
    EXPECT_EQ(out.result, 1);
    EXPECT_EQ(out.text, "\r\n\tUNC fileserver, updates, current"
                        "\r\n\tUNCUSER OFFICE, updater, ");
    const std::vector<std::string> keys = {"szUNCLocation", "bAnonymousLogin", "szFTPUsername", "szRunAsDomain",
                                           "szFTPPassword"};
    EXPECT_EQ(out.keys, keys);
    EXPECT_EQ(out.messages, MessagesFor(keys, {"szFTPPassword"}));
}

TEST(FtpSite, LocationIsSplitIntoHostAndPath)
{
    struct Case {
        const char *location;
        const char *line;
    } cases[] = {
        {"mirrorhost", "FTP mirrorhost, , passive"},
        {"mirrorhost/", "FTP mirrorhost, , passive"},
        {"mirrorhost//pub//", "FTP mirrorhost, /pub/, passive"},
        {"\\\\mirrorhost\\pub", "FTP , /mirrorhost/pub, passive"},
        {"ftp://mirrorhost/pub", "FTP ftp:, /mirrorhost/pub, passive"},
        {"mirrorhost\\pub\\updates\\", "FTP mirrorhost, pub/updates, passive"},
        {"mirrorhost\\pub/updates\\x", "FTP mirrorhost, pub/updates/x, passive"},
        {"mirrorhost\\\\", "FTP mirrorhost, , passive"},
        {"mirrorhost/pub\\\\", "FTP mirrorhost, pub/, passive"},
        {"/", "FTP , , passive"},
        {"", "FTP , , passive"},
        {"user@host:21/dir", "FTP user@host:21, dir, passive"},
    };
    for (const Case &c : cases) {
        SiteOutcome out = RunWriter(Writer::Ftp, With(kAnonymousFtp, "szFTPLocation", c.location));
        EXPECT_EQ(out.result, 1) << "'" << c.location << "'";
        EXPECT_EQ(out.text, std::string("\r\n\t") + c.line) << "'" << c.location << "'";
    }
}

TEST(UncSite, LocationGivesAUncOrALocalLine)
{
    struct Case {
        const char *location;
        const char *line;
    } cases[] = {
        {"\\\\fileserver\\updates\\current\\", "UNC fileserver, updates, current"},
        {"\\\\fileserver\\updates\\current\\x86", "UNC fileserver, updates, current\\x86"},
        {"\\\\fileserver\\updates\\current\\x86\\", "UNC fileserver, updates, current\\x86"},
        {"\\\\fileserver\\updates", "UNC fileserver, updates, "},
        {"\\\\fileserver\\updates\\", "UNC fileserver, updates, "},
        {"\\\\fileserver", "UNC fileserver, , "},
        {"\\\\fileserver\\", "UNC fileserver, , "},
        {"\\\\fileserver\\updates\\\\", "UNC fileserver, updates, "},
        {"\\\\fileserver\\\\updates", "UNC fileserver, , updates"},
        {"\\\\fileserver/updates", "UNC fileserver/updates, , "},
        {"D:\\updates\\", "LOCAL D:\\updates"},
        {"D:\\updates\\\\", "LOCAL D:\\updates\\"},
        {"D:\\", "LOCAL D:"},
        {"//fileserver/updates", "LOCAL //fileserver/updates"},
        {"\\fileserver\\updates", "LOCAL \\fileserver\\updates"},
        {"\\/fileserver", "LOCAL \\/fileserver"},
        {"updates", "LOCAL updates"},
        {"", "LOCAL "},
    };
    for (const Case &c : cases) {
        SiteOutcome out = RunWriter(Writer::Unc, With(kAnonymousUnc, "szUNCLocation", c.location));
        EXPECT_EQ(out.result, 1) << "'" << c.location << "'";
        EXPECT_EQ(out.text, std::string("\r\n\t") + c.line) << "'" << c.location << "'";
    }
}

// Any non-zero login switch means anonymous; only 0 (or text without digits)
// asks for the user.
TEST(SiteLogin, OnlyZeroAsksForTheUser)
{
    struct Case {
        const char *value;
        bool user;
    } cases[] = {
        {"0", true},  {"", true},   {"TRUE", true}, {"no", true},  {" 0", true},
        {"-0", true}, {"1", false}, {"2", false},   {"-1", false}, {" 3 users", false},
    };
    for (const Case &c : cases) {
        const Settings credentials = {{"bAnonymousLogin", c.value},
                                      {"szFTPUsername", "updater"},
                                      {"szFTPPassword", "secret"},
                                      {"szRunAsDomain", "OFFICE"}};
        SiteOutcome ftp = RunWriter(Writer::Ftp, With(With(credentials, "szFTPLocation", "host"), "bProxy", "0"));
        SiteOutcome unc = RunWriter(Writer::Unc, With(credentials, "szUNCLocation", "\\\\srv\\share"));
        EXPECT_EQ(ftp.result, 1) << "FTP '" << c.value << "'";
        EXPECT_EQ(unc.result, 1) << "UNC '" << c.value << "'";
        if (c.user) {
            EXPECT_EQ(ftp.text, "\r\n\tFTP host, , passive\r\n\tFTPUSER updater, secret ") << "'" << c.value << "'";
            EXPECT_EQ(ftp.keys, (std::vector<std::string>{"szFTPLocation", "bAnonymousLogin", "szFTPUsername",
                                                          "szFTPPassword", "bProxy"}))
                << "'" << c.value << "'";
            EXPECT_EQ(unc.text, "\r\n\tUNC srv, share, \r\n\tUNCUSER OFFICE, updater, secret") << "'" << c.value << "'";
            EXPECT_EQ(unc.keys, (std::vector<std::string>{"szUNCLocation", "bAnonymousLogin", "szFTPUsername",
                                                          "szRunAsDomain", "szFTPPassword"}))
                << "'" << c.value << "'";
        } else {
            EXPECT_EQ(ftp.text, "\r\n\tFTP host, , passive") << "'" << c.value << "'";
            EXPECT_EQ(ftp.keys, (std::vector<std::string>{"szFTPLocation", "bAnonymousLogin", "bProxy"}))
                << "'" << c.value << "'";
            EXPECT_EQ(unc.text, "\r\n\tUNC srv, share, ") << "'" << c.value << "'";
            EXPECT_EQ(unc.keys, (std::vector<std::string>{"szUNCLocation", "bAnonymousLogin"}))
                << "'" << c.value << "'";
        }
    }
}

// The login switch's "0" must not come back as the password when the
// password setting is missing.
TEST(SiteLogin, MissingPasswordIsEmpty)
{
    SiteOutcome ftp =
        RunWriter(Writer::Ftp,
                  {{"szFTPLocation", "host"}, {"bAnonymousLogin", "0"}, {"szFTPUsername", "updater"}, {"bProxy", "0"}});
    EXPECT_EQ(ftp.result, 1);
    EXPECT_EQ(ftp.text, "\r\n\tFTP host, , passive\r\n\tFTPUSER updater,  ");

    SiteOutcome unc = RunWriter(Writer::Unc, {{"szUNCLocation", "\\\\srv\\share"},
                                              {"bAnonymousLogin", "0"},
                                              {"szFTPUsername", "updater"},
                                              {"szRunAsDomain", "OFFICE"}});
    EXPECT_EQ(unc.result, 1);
    EXPECT_EQ(unc.text, "\r\n\tUNC srv, share, \r\n\tUNCUSER OFFICE, updater, ");

    SiteOutcome empty = RunWriter(Writer::Unc, {{"szUNCLocation", "D:\\u"},
                                                {"bAnonymousLogin", "0"},
                                                {"szFTPUsername", ""},
                                                {"szRunAsDomain", ""},
                                                {"szFTPPassword", ""}});
    EXPECT_EQ(empty.result, 1);
    EXPECT_EQ(empty.text, "\r\n\tLOCAL D:\\u\r\n\tUNCUSER , , ");
}

TEST(UncSite, LocalSiteStillNeedsAndWritesTheUser)
{
    SiteOutcome out = RunWriter(Writer::Unc, {{"szUNCLocation", "D:\\updates\\"},
                                              {"bAnonymousLogin", "0"},
                                              {"szFTPUsername", "updater"},
                                              {"szRunAsDomain", "OFFICE"},
                                              {"szFTPPassword", "secret"}});
    EXPECT_EQ(out.result, 1);
    EXPECT_EQ(out.text, "\r\n\tLOCAL D:\\updates\r\n\tUNCUSER OFFICE, updater, secret");

    SiteOutcome noDomain = RunWriter(Writer::Unc, {{"szUNCLocation", "D:\\updates\\"},
                                                   {"bAnonymousLogin", "0"},
                                                   {"szFTPUsername", "updater"},
                                                   {"szFTPPassword", "secret"}});
    EXPECT_EQ(noDomain.result, 0);
    EXPECT_EQ(noDomain.text, "\r\n\tLOCAL D:\\updates");
}

TEST(FtpSite, OnlyProxySwitchOneWritesTheProxy)
{
    struct Case {
        const char *value;
        bool proxy;
    } cases[] = {
        {"1", true},  {" 1", true},  {"+1", true},   {"1 (on)", true}, {"0", false},
        {"2", false}, {"-1", false}, {"yes", false}, {"", false},      {"11", false},
    };
    for (const Case &c : cases) {
        SiteOutcome out = RunWriter(Writer::Ftp, {{"szFTPLocation", "host"},
                                                  {"bAnonymousLogin", "1"},
                                                  {"bProxy", c.value},
                                                  {"szProxy", "proxyhost"},
                                                  {"dwProxyPort", "8080"}});
        EXPECT_EQ(out.result, 1) << "'" << c.value << "'";
        if (c.proxy) {
            EXPECT_EQ(out.text, "\r\n\tFTP host, , passive\r\n\tPROXY  proxyhost:8080 ") << "'" << c.value << "'";
            EXPECT_EQ(out.keys, (std::vector<std::string>{"szFTPLocation", "bAnonymousLogin", "bProxy", "szProxy",
                                                          "dwProxyPort"}))
                << "'" << c.value << "'";
        } else {
            EXPECT_EQ(out.text, "\r\n\tFTP host, , passive") << "'" << c.value << "'";
            EXPECT_EQ(out.keys, (std::vector<std::string>{"szFTPLocation", "bAnonymousLogin", "bProxy"}))
                << "'" << c.value << "'";
        }
    }
}

TEST(FtpSite, PortIsWrittenAsParsed)
{
    struct Case {
        const char *port;
        const char *proxy;
        const char *written;
    } cases[] = {
        {"800", "proxyhost", "proxyhost:800 "},
        {"8080abc", "proxyhost", "proxyhost:8080 "},
        {"abc", "proxyhost", "proxyhost:0 "},
        {"", "proxyhost", "proxyhost:0 "},
        {" -5", "proxyhost", "proxyhost:-5 "},
        {"\t+21", "proxyhost", "proxyhost:21 "},
        {"80", "", ":80 "},
        {"3128", "proxy.example:99", "proxy.example:99:3128 "},
    };
    for (const Case &c : cases) {
        SiteOutcome out = RunWriter(Writer::Ftp, {{"szFTPLocation", "host"},
                                                  {"bAnonymousLogin", "1"},
                                                  {"bProxy", "1"},
                                                  {"szProxy", c.proxy},
                                                  {"dwProxyPort", c.port}});
        EXPECT_EQ(out.result, 1) << "'" << c.port << "'";
        EXPECT_EQ(out.text, std::string("\r\n\tFTP host, , passive\r\n\tPROXY  ") + c.written) << "'" << c.port << "'";
    }
}

// A missing setting: the lines written so far stay, the writer's result
// tells the generator whether to go on, and nothing after it is read.
TEST(FtpSite, MissingSettings)
{
    const Settings full = {{"szFTPLocation", "mirrorhost\\pub"},
                           {"bAnonymousLogin", "0"},
                           {"szFTPUsername", "updater"},
                           {"szFTPPassword", "secret"},
                           {"bProxy", "1"},
                           {"szProxy", "proxyhost"},
                           {"dwProxyPort", "800"}};
    const std::vector<std::string> allKeys = {"szFTPLocation", "bAnonymousLogin", "szFTPUsername", "szFTPPassword",
                                              "bProxy",        "szProxy",         "dwProxyPort"};
    const std::string ftp = "\n\tFTP mirrorhost, pub, passive";
    const std::string user = "\n\tFTPUSER updater, secret ";
    struct Case {
        const char *missing;
        std::string text;
        int result;
        std::size_t keysRead;
    } cases[] = {
        {"szFTPLocation", "", 0, 1},
        {"bAnonymousLogin", ftp, 0, 2},
        {"szFTPUsername", ftp, 0, 3},
        {"szFTPPassword", ftp + "\n\tFTPUSER updater,  \n\tPROXY  proxyhost:800 ", 1, 7},
        {"bProxy", ftp + user, 0, 5},
        {"szProxy", ftp + user, 0, 6},
        {"dwProxyPort", ftp + user, 0, 7},
    };
    SiteOutcome complete = RunWriter(Writer::Ftp, full);
    EXPECT_EQ(complete.result, 1);
    EXPECT_EQ(complete.text, Crlf(ftp + user + "\n\tPROXY  proxyhost:800 "));
    EXPECT_EQ(complete.keys, allKeys);
    for (const Case &c : cases) {
        SiteOutcome out = RunWriter(Writer::Ftp, Without(full, c.missing));
        std::vector<std::string> keys(allKeys.begin(), allKeys.begin() + c.keysRead);
        EXPECT_EQ(out.result, c.result) << c.missing;
        EXPECT_EQ(out.text, Crlf(c.text)) << c.missing;
        EXPECT_EQ(out.keys, keys) << c.missing;
        EXPECT_EQ(out.messages, MessagesFor(keys, {c.missing})) << c.missing;
    }
}

TEST(UncSite, MissingSettings)
{
    const Settings full = {{"szUNCLocation", "\\\\fileserver\\updates"},
                           {"bAnonymousLogin", "0"},
                           {"szFTPUsername", "updater"},
                           {"szRunAsDomain", "OFFICE"},
                           {"szFTPPassword", "secret"}};
    const std::vector<std::string> allKeys = {"szUNCLocation", "bAnonymousLogin", "szFTPUsername", "szRunAsDomain",
                                              "szFTPPassword"};
    const std::string unc = "\n\tUNC fileserver, updates, ";
    struct Case {
        const char *missing;
        std::string text;
        int result;
        std::size_t keysRead;
    } cases[] = {
        {"szUNCLocation", "", 0, 1},
        {"bAnonymousLogin", unc, 0, 2},
        {"szFTPUsername", unc, 0, 3},
        {"szRunAsDomain", unc, 0, 4},
        {"szFTPPassword", unc + "\n\tUNCUSER OFFICE, updater, ", 1, 5},
    };
    SiteOutcome complete = RunWriter(Writer::Unc, full);
    EXPECT_EQ(complete.result, 1);
    EXPECT_EQ(complete.text, Crlf(unc + "\n\tUNCUSER OFFICE, updater, secret"));
    EXPECT_EQ(complete.keys, allKeys);
    for (const Case &c : cases) {
        SiteOutcome out = RunWriter(Writer::Unc, Without(full, c.missing));
        std::vector<std::string> keys(allKeys.begin(), allKeys.begin() + c.keysRead);
        EXPECT_EQ(out.result, c.result) << c.missing;
        EXPECT_EQ(out.text, Crlf(c.text)) << c.missing;
        EXPECT_EQ(out.keys, keys) << c.missing;
        EXPECT_EQ(out.messages, MessagesFor(keys, {c.missing})) << c.missing;
    }
}

TEST(SiteWriters, SourceIsPassedToEveryRead)
{
    const Settings ftp = {{"szFTPLocation", "host"}, {"bAnonymousLogin", "0"}, {"szFTPUsername", "u"},
                          {"bProxy", "1"},           {"szProxy", "p"},         {"dwProxyPort", "1"}};
    const Settings unc = {{"szUNCLocation", "\\\\s\\x"},
                          {"bAnonymousLogin", "0"},
                          {"szFTPUsername", "u"},
                          {"szRunAsDomain", "d"},
                          {"szFTPPassword", "p"}};
    for (Writer writer : {Writer::Ftp, Writer::Unc}) {
        const char *name = writer == Writer::Ftp ? "FTP" : "UNC";
        const Settings &values = writer == Writer::Ftp ? ftp : unc;
        {
            FakeSettings settings;
            for (const auto &value : values)
                settings.Set(kSite, value.first, value.second);
            SiteOutcome out = RunWriter(writer, settings, qritest::TaskSource(settings, 99));
            EXPECT_EQ(out.result, 1) << name;
            for (const qritest::ReadCall &call : settings.Calls()) {
                EXPECT_EQ(call.reader, "task") << name << " " << call.key;
                EXPECT_EQ(call.taskData, settings.TaskData()) << name << " " << call.key;
                EXPECT_EQ(call.taskDataSize, 99u) << name << " " << call.key;
            }
        }
        {
            FakeSettings settings;
            for (const auto &value : values)
                settings.Set(kSite, value.first, value.second, "SW-PRODUCT");
            char softwareId[] = "SW-PRODUCT";
            SiteOutcome out = RunWriter(writer, settings, qritest::PolicySource(softwareId));
            EXPECT_EQ(out.result, 1) << name;
            for (const qritest::ReadCall &call : settings.Calls()) {
                EXPECT_EQ(call.reader, "policy") << name << " " << call.key;
                EXPECT_EQ(call.softwareId, "SW-PRODUCT") << name << " " << call.key;
            }
        }
    }
}

TEST(SiteWriters, SettingSourceWithBothReadersStopsAtTheLocation)
{
    FakeSettings settings;
    settings.Set(kSite, "szFTPLocation", "host");
    settings.Set(kSite, "szUNCLocation", "D:\\u");
    const qri::SettingSource both = {FakeSettings::TaskReader, FakeSettings::PolicyReader, settings.TaskData(), 0};
    for (Writer writer : {Writer::Ftp, Writer::Unc}) {
        SiteOutcome out = RunWriter(writer, settings, both);
        EXPECT_EQ(out.result, 0);
        EXPECT_EQ(out.text, "");
        EXPECT_EQ(out.messages.size(), 2u);
    }
    EXPECT_TRUE(settings.Calls().empty());
}

TEST(SiteWriters, UnterminatedTextStaysWithinItsBuffer)
{
    const std::string full(qri::kSettingCapacity - 1, 'x');
    {
        FakeSettings settings;
        settings.SetUnterminated(kSite, "szFTPLocation");
        settings.SetUnterminated(kSite, "szFTPUsername");
        settings.SetUnterminated(kSite, "szFTPPassword");
        settings.Set(kSite, "bAnonymousLogin", "0");
        settings.Set(kSite, "bProxy", "1");
        settings.SetUnterminated(kSite, "szProxy");
        settings.Set(kSite, "dwProxyPort", "21");
        SiteOutcome out = RunWriter(Writer::Ftp, settings, qritest::TaskSource(settings));
        EXPECT_EQ(out.result, 1);
        EXPECT_EQ(out.text, "\r\n\tFTP " + full + ", , passive\r\n\tFTPUSER " + full + ", " + full + " \r\n\tPROXY  " +
                                full + ":21 ");
    }
    {
        FakeSettings settings;
        settings.SetUnterminated(kSite, "szUNCLocation");
        settings.Set(kSite, "bAnonymousLogin", "0");
        settings.SetUnterminated(kSite, "szFTPUsername");
        settings.SetUnterminated(kSite, "szRunAsDomain");
        settings.SetUnterminated(kSite, "szFTPPassword");
        SiteOutcome out = RunWriter(Writer::Unc, settings, qritest::TaskSource(settings));
        EXPECT_EQ(out.result, 1);
        EXPECT_EQ(out.text, "\r\n\tLOCAL " + full + "\r\n\tUNCUSER " + full + ", " + full + ", " + full);
    }
}

TEST(UncSite, LongShareAndPathAreKeptWhole)
{
    // The location fills the setting buffer; share and path are copied out
    // of it into buffers of their own.
    std::string share(500, 's');
    std::string path(qri::kSettingCapacity - 1 - 2 - 3 - 1 - share.size() - 1, 'p');
    std::string location = "\\\\srv\\" + share + "\\" + path;
    ASSERT_EQ(location.size(), qri::kSettingCapacity - 1);
    SiteOutcome out = RunWriter(Writer::Unc, With(kAnonymousUnc, "szUNCLocation", location));
    EXPECT_EQ(out.result, 1);
    EXPECT_EQ(out.text, "\r\n\tUNC srv, " + share + ", " + path);
}

TEST(SiteLines, UncAndLocalLineWritersOnTheirOwn)
{
    struct Case {
        const char *location;
        bool unc;
        const char *line;
    } cases[] = {
        {"\\\\fileserver\\updates\\current\\x86", true, "\r\n\tUNC fileserver, updates, current\\x86"},
        {"\\\\fileserver", true, "\r\n\tUNC fileserver, , "},
        {"\\\\", true, "\r\n\tUNC , , "},
        {"D:\\updates\\", false, "\r\n\tLOCAL D:\\updates\\"},
        {"", false, "\r\n\tLOCAL "},
    };
    for (const Case &c : cases) {
        ScriptFile script;
        char location[qri::kSettingCapacity] = {};
        std::string text = c.location;
        text.copy(location, text.size());
        if (c.unc)
            qri::WriteUncLine(location, script.Stream());
        else
            qri::WriteLocalLine(location, script.Stream());
        EXPECT_EQ(script.Bytes(), c.line) << "'" << c.location << "'";
    }
}

} // namespace
