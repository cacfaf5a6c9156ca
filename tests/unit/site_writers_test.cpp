// Update-site writers: FTP, UNC and local site lines with their logins and
// proxy, checked byte for byte in a text-mode script file.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "script/site_writers.h"
#include "support/fake_host.h"
#include "support/script_file.h"
#include "support/trace_capture.h"

namespace {

using qritest::Crlf;
using qritest::FakeSettings;
using qritest::ScriptFile;
using qritest::WriterOutcome;

constexpr char kSite[] = "AutoUpdate Update Site2";

using Settings = qritest::SettingValues;

enum class Writer { Ftp, Unc };

WriterOutcome RunWriter(Writer writer, const FakeSettings &settings, const qri::SettingSource &source)
{
    return qritest::RunOnScript(settings, kSite, [&](qri::ScriptText &stream) {
        return writer == Writer::Ftp ? qri::WriteFtpSite(source, stream, kSite)
                                     : qri::WriteUncSite(source, stream, kSite);
    });
}

WriterOutcome RunWriter(Writer writer, const Settings &values)
{
    FakeSettings settings;
    qritest::SetAll(settings, kSite, values);
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

const Settings kAnonymousFtp = {{"bAnonymousLogin", "1"}, {"bProxy", "0"}};
const Settings kAnonymousUnc = {{"bAnonymousLogin", "1"}};

struct LocationCase {
    const char *location;
    const char *line;
};

// Each location on an anonymous site without a proxy gives exactly its line.
void ExpectLocationLines(Writer writer, const std::vector<LocationCase> &cases)
{
    const char *key = writer == Writer::Ftp ? "szFTPLocation" : "szUNCLocation";
    for (const LocationCase &c : cases) {
        SCOPED_TRACE("'" + std::string(c.location) + "'");
        WriterOutcome out =
            RunWriter(writer, With(writer == Writer::Ftp ? kAnonymousFtp : kAnonymousUnc, key, c.location));
        EXPECT_EQ(out.result, 1);
        EXPECT_EQ(out.text, std::string("\r\n\t") + c.line);
    }
}

TEST(FtpSite, LocationIsSplitIntoHostAndPath)
{
    const std::vector<LocationCase> cases = {
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
    ExpectLocationLines(Writer::Ftp, cases);
}

TEST(UncSite, LocationGivesAUncOrALocalLine)
{
    const std::vector<LocationCase> cases = {
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
    ExpectLocationLines(Writer::Unc, cases);
}

TEST(FtpSite, UserWithoutPasswordAndAProxy)
{
    WriterOutcome out = RunWriter(Writer::Ftp, {{"szFTPLocation", "mirrorhost\\pub\\updates\\"},
                                                {"bAnonymousLogin", "0"},
                                                {"szFTPUsername", "updater"},
                                                {"bProxy", "1"},
                                                {"szProxy", "proxyhost"},
                                                {"dwProxyPort", "800"}});
    EXPECT_EQ(out.result, 1);
    EXPECT_EQ(out.text, "\r\n\tFTP mirrorhost, pub/updates, passive"
                        "\r\n\tFTPUSER updater,  "
                        "\r\n\tPROXY  proxyhost:800 ");
    EXPECT_EQ(out.messages, qritest::ReadMessages(kSite,
                                                  {"szFTPLocation", "bAnonymousLogin", "szFTPUsername", "szFTPPassword",
                                                   "bProxy", "szProxy", "dwProxyPort"},
                                                  {"szFTPPassword"}));
}

TEST(UncSite, UserAndDomainWithoutPassword)
{
    WriterOutcome out = RunWriter(Writer::Unc, {{"szUNCLocation", "\\\\fileserver\\updates\\current\\"},
                                                {"bAnonymousLogin", "0"},
                                                {"szFTPUsername", "updater"},
                                                {"szRunAsDomain", "OFFICE"}});
    EXPECT_EQ(out.result, 1);
    EXPECT_EQ(out.text, "\r\n\tUNC fileserver, updates, current"
                        "\r\n\tUNCUSER OFFICE, updater, ");
    const std::vector<std::string> keys = {"szUNCLocation", "bAnonymousLogin", "szFTPUsername", "szRunAsDomain",
                                           "szFTPPassword"};
    EXPECT_EQ(out.keys, keys);
    EXPECT_EQ(out.messages, qritest::ReadMessages(kSite, keys, {"szFTPPassword"}));
}

// The login switch's "0" must not come back as the password when the
// password setting is missing.
TEST(SiteLogin, MissingPasswordIsEmpty)
{
    WriterOutcome ftp =
        RunWriter(Writer::Ftp,
                  {{"szFTPLocation", "host"}, {"bAnonymousLogin", "0"}, {"szFTPUsername", "updater"}, {"bProxy", "0"}});
    EXPECT_EQ(ftp.result, 1);
    EXPECT_EQ(ftp.text, "\r\n\tFTP host, , passive\r\n\tFTPUSER updater,  ");

    WriterOutcome unc = RunWriter(Writer::Unc, {{"szUNCLocation", "\\\\srv\\share"},
                                                {"bAnonymousLogin", "0"},
                                                {"szFTPUsername", "updater"},
                                                {"szRunAsDomain", "OFFICE"}});
    EXPECT_EQ(unc.result, 1);
    EXPECT_EQ(unc.text, "\r\n\tUNC srv, share, \r\n\tUNCUSER OFFICE, updater, ");

    WriterOutcome empty = RunWriter(Writer::Unc, {{"szUNCLocation", "D:\\u"},
                                                  {"bAnonymousLogin", "0"},
                                                  {"szFTPUsername", ""},
                                                  {"szRunAsDomain", ""},
                                                  {"szFTPPassword", ""}});
    EXPECT_EQ(empty.result, 1);
    EXPECT_EQ(empty.text, "\r\n\tLOCAL D:\\u\r\n\tUNCUSER , , ");
}

TEST(UncSite, LocalSiteStillNeedsAndWritesTheUser)
{
    WriterOutcome out = RunWriter(Writer::Unc, {{"szUNCLocation", "D:\\updates\\"},
                                                {"bAnonymousLogin", "0"},
                                                {"szFTPUsername", "updater"},
                                                {"szRunAsDomain", "OFFICE"},
                                                {"szFTPPassword", "secret"}});
    EXPECT_EQ(out.result, 1);
    EXPECT_EQ(out.text, "\r\n\tLOCAL D:\\updates\r\n\tUNCUSER OFFICE, updater, secret");

    WriterOutcome noDomain = RunWriter(Writer::Unc, {{"szUNCLocation", "D:\\updates\\"},
                                                     {"bAnonymousLogin", "0"},
                                                     {"szFTPUsername", "updater"},
                                                     {"szFTPPassword", "secret"}});
    EXPECT_EQ(noDomain.result, 0);
    EXPECT_EQ(noDomain.text, "\r\n\tLOCAL D:\\updates");
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
        SCOPED_TRACE("'" + std::string(c.value) + "'");
        const Settings credentials = {{"bAnonymousLogin", c.value},
                                      {"szFTPUsername", "updater"},
                                      {"szFTPPassword", "secret"},
                                      {"szRunAsDomain", "OFFICE"}};
        WriterOutcome ftp = RunWriter(Writer::Ftp, With(With(credentials, "szFTPLocation", "host"), "bProxy", "0"));
        WriterOutcome unc = RunWriter(Writer::Unc, With(credentials, "szUNCLocation", "\\\\srv\\share"));
        EXPECT_EQ(ftp.result, 1) << "FTP";
        EXPECT_EQ(unc.result, 1) << "UNC";
        if (c.user) {
            EXPECT_EQ(ftp.text, "\r\n\tFTP host, , passive\r\n\tFTPUSER updater, secret ");
            EXPECT_EQ(ftp.keys, (std::vector<std::string>{"szFTPLocation", "bAnonymousLogin", "szFTPUsername",
                                                          "szFTPPassword", "bProxy"}));
            EXPECT_EQ(unc.text, "\r\n\tUNC srv, share, \r\n\tUNCUSER OFFICE, updater, secret");
            EXPECT_EQ(unc.keys, (std::vector<std::string>{"szUNCLocation", "bAnonymousLogin", "szFTPUsername",
                                                          "szRunAsDomain", "szFTPPassword"}));
        } else {
            EXPECT_EQ(ftp.text, "\r\n\tFTP host, , passive");
            EXPECT_EQ(ftp.keys, (std::vector<std::string>{"szFTPLocation", "bAnonymousLogin", "bProxy"}));
            EXPECT_EQ(unc.text, "\r\n\tUNC srv, share, ");
            EXPECT_EQ(unc.keys, (std::vector<std::string>{"szUNCLocation", "bAnonymousLogin"}));
        }
    }
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
        SCOPED_TRACE("'" + std::string(c.value) + "'");
        WriterOutcome out = RunWriter(Writer::Ftp, {{"szFTPLocation", "host"},
                                                    {"bAnonymousLogin", "1"},
                                                    {"bProxy", c.value},
                                                    {"szProxy", "proxyhost"},
                                                    {"dwProxyPort", "8080"}});
        EXPECT_EQ(out.result, 1);
        if (c.proxy) {
            EXPECT_EQ(out.text, "\r\n\tFTP host, , passive\r\n\tPROXY  proxyhost:8080 ");
            EXPECT_EQ(out.keys, (std::vector<std::string>{"szFTPLocation", "bAnonymousLogin", "bProxy", "szProxy",
                                                          "dwProxyPort"}));
        } else {
            EXPECT_EQ(out.text, "\r\n\tFTP host, , passive");
            EXPECT_EQ(out.keys, (std::vector<std::string>{"szFTPLocation", "bAnonymousLogin", "bProxy"}));
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
        SCOPED_TRACE("'" + std::string(c.port) + "'");
        WriterOutcome out = RunWriter(Writer::Ftp, {{"szFTPLocation", "host"},
                                                    {"bAnonymousLogin", "1"},
                                                    {"bProxy", "1"},
                                                    {"szProxy", c.proxy},
                                                    {"dwProxyPort", c.port}});
        EXPECT_EQ(out.result, 1);
        EXPECT_EQ(out.text, std::string("\r\n\tFTP host, , passive\r\n\tPROXY  ") + c.written);
    }
}

struct MissingCase {
    const char *missing;
    std::string text; // plain line feeds
    int result;
    std::size_t keysRead;
};

// A missing setting: the lines written so far stay, the writer's result
// tells the generator whether to go on, and nothing after it is read. `full`
// lists every setting in the order the writer reads them.
void ExpectMissingSettings(Writer writer, const Settings &full, const std::string &complete,
                           const std::vector<MissingCase> &cases)
{
    std::vector<std::string> allKeys;
    for (const auto &value : full)
        allKeys.push_back(value.first);
    WriterOutcome whole = RunWriter(writer, full);
    EXPECT_EQ(whole.result, 1);
    EXPECT_EQ(whole.text, Crlf(complete));
    EXPECT_EQ(whole.keys, allKeys);
    for (const MissingCase &c : cases) {
        SCOPED_TRACE(c.missing);
        WriterOutcome out = RunWriter(writer, Without(full, c.missing));
        std::vector<std::string> keys(allKeys.begin(), allKeys.begin() + c.keysRead);
        EXPECT_EQ(out.result, c.result);
        EXPECT_EQ(out.text, Crlf(c.text));
        EXPECT_EQ(out.keys, keys);
        EXPECT_EQ(out.messages, qritest::ReadMessages(kSite, keys, {c.missing}));
    }
}

TEST(FtpSite, MissingSettings)
{
    const Settings full = {{"szFTPLocation", "mirrorhost\\pub"},
                           {"bAnonymousLogin", "0"},
                           {"szFTPUsername", "updater"},
                           {"szFTPPassword", "secret"},
                           {"bProxy", "1"},
                           {"szProxy", "proxyhost"},
                           {"dwProxyPort", "800"}};
    const std::string ftp = "\n\tFTP mirrorhost, pub, passive";
    const std::string user = "\n\tFTPUSER updater, secret ";
    const std::vector<MissingCase> cases = {
        {"szFTPLocation", "", 0, 1},
        {"bAnonymousLogin", ftp, 0, 2},
        {"szFTPUsername", ftp, 0, 3},
        {"szFTPPassword", ftp + "\n\tFTPUSER updater,  \n\tPROXY  proxyhost:800 ", 1, 7},
        {"bProxy", ftp + user, 0, 5},
        {"szProxy", ftp + user, 0, 6},
        {"dwProxyPort", ftp + user, 0, 7},
    };
    ExpectMissingSettings(Writer::Ftp, full, ftp + user + "\n\tPROXY  proxyhost:800 ", cases);
}

TEST(UncSite, MissingSettings)
{
    const Settings full = {{"szUNCLocation", "\\\\fileserver\\updates"},
                           {"bAnonymousLogin", "0"},
                           {"szFTPUsername", "updater"},
                           {"szRunAsDomain", "OFFICE"},
                           {"szFTPPassword", "secret"}};
    const std::string unc = "\n\tUNC fileserver, updates, ";
    const std::vector<MissingCase> cases = {
        {"szUNCLocation", "", 0, 1},
        {"bAnonymousLogin", unc, 0, 2},
        {"szFTPUsername", unc, 0, 3},
        {"szRunAsDomain", unc, 0, 4},
        {"szFTPPassword", unc + "\n\tUNCUSER OFFICE, updater, ", 1, 5},
    };
    ExpectMissingSettings(Writer::Unc, full, unc + "\n\tUNCUSER OFFICE, updater, secret", cases);
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
        SCOPED_TRACE(writer == Writer::Ftp ? "FTP" : "UNC");
        const Settings &values = writer == Writer::Ftp ? ftp : unc;
        {
            FakeSettings settings;
            qritest::SetAll(settings, kSite, values);
            EXPECT_EQ(RunWriter(writer, settings, qritest::TaskSource(settings, 99)).result, 1);
            qritest::ExpectTaskReads(settings, 99);
        }
        {
            FakeSettings settings;
            qritest::SetAll(settings, kSite, values, "SW-PRODUCT");
            char softwareId[] = "SW-PRODUCT";
            EXPECT_EQ(RunWriter(writer, settings, qritest::PolicySource(softwareId)).result, 1);
            qritest::ExpectPolicyReads(settings, "SW-PRODUCT");
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
        WriterOutcome out = RunWriter(writer, settings, both);
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
        WriterOutcome out = RunWriter(Writer::Ftp, settings, qritest::TaskSource(settings));
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
        WriterOutcome out = RunWriter(Writer::Unc, settings, qritest::TaskSource(settings));
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
    WriterOutcome out = RunWriter(Writer::Unc, With(kAnonymousUnc, "szUNCLocation", location));
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
