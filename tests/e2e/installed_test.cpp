// RXPLUGIN_IsSoftwareInstalled through the real DLL: base-file values of the
// installer key against the entries of the installer directory.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "support/plugin_dll.h"
#include "support/scratch.h"

namespace {

using qritest::InstallerFixture;
using qritest::TextValues;
using IsSoftwareInstalled = qritest::PluginTest;

void AddFile(InstallerFixture &installer, const std::string &name)
{
    qritest::WriteFileBytes(installer.directory.Join(name), "base");
}

TEST_F(IsSoftwareInstalled, EveryBaseFileValueMustNameAnEntry)
{
    struct Case {
        const char *name;
        qritest::Arrange arrange;
        int expected;
    } cases[] = {
        {"no values besides the directory", TextValues({}), 1},
        {"other values only", TextValues({{"Product Name", "Product"}, {"MSI_Installer_Run", "1"}}), 1},
        {"existing file",
         [](InstallerFixture &i) {
             AddFile(i, "core.dll");
             i.key.SetText("Base:core", "core.dll");
         },
         1},
        {"missing file", TextValues({{"Base:core", "core.dll"}}), 0},
        {"one of two missing",
         [](InstallerFixture &i) {
             AddFile(i, "a.dll");
             i.key.SetText("Base:a", "a.dll");
             i.key.SetText("Base:b", "b.dll");
         },
         0},
        {"BASE: in capitals", TextValues({{"BASE:core", "core.dll"}}), 0},
        {"base: in small letters", TextValues({{"base:core", "core.dll"}}), 0},
        {"bAsE: mixed", TextValues({{"bAsE:", "core.dll"}}), 0},
        {"Base: after the first character", TextValues({{"xBase:core", "core.dll"}}), 1},
        {"Base without colon", TextValues({{"Basecore", "core.dll"}}), 1},
        {"subdirectory",
         [](InstallerFixture &i) {
             CreateDirectoryA(i.directory.Join("lib").c_str(), nullptr);
             i.key.SetText("Base:lib", "lib");
         },
         1},
        {"file in a subdirectory",
         [](InstallerFixture &i) {
             CreateDirectoryA(i.directory.Join("lib").c_str(), nullptr);
             qritest::WriteFileBytes(i.directory.Join("lib\\x.dll"), "x");
             i.key.SetText("Base:x", "lib\\x.dll");
         },
         1},
        {"wildcard that matches", TextValues({{"Base:gen", "*.gen"}}), 1},
        {"wildcard that matches nothing", TextValues({{"Base:dll", "*.dll"}}), 0},
        {"data stored as REG_EXPAND_SZ",
         [](InstallerFixture &i) { i.key.SetRaw("Base:gen", REG_EXPAND_SZ, std::string("Master.gen", 11)); }, 1},
        // Names enumerate in order under Wine: "A..." comes before "Base:...".
        {"over-long data ends the scan before a missing file",
         TextValues({{"A long", std::string(300, 'x')}, {"Base:core", "core.dll"}}), 1},
        {"261 bytes of data end the scan", TextValues({{"A long", std::string(260, 'x')}, {"Base:core", "core.dll"}}),
         1},
        {"260 bytes of data do not end the scan",
         TextValues({{"A long", std::string(259, 'x')}, {"Base:core", "core.dll"}}), 0},
        {"over-long name ends the scan", TextValues({{"A" + std::string(299, 'n'), "x"}, {"Base:core", "core.dll"}}),
         1},
        {"missing file before over-long data",
         TextValues({{"Base:core", "core.dll"}, {"Base:long", std::string(300, 'x')}}), 0},
        {"binary data without its zero",
         [](InstallerFixture &i) {
             AddFile(i, "core.dll");
             i.key.SetText("A filler", std::string(200, 'z'));
             i.key.SetRaw("Base:core", REG_BINARY, "core.dll");
         },
         1},
        {"path too long for its buffer",
         [](InstallerFixture &i) { i.key.SetText("Base:long", std::string(259 - i.directory.Path().size(), 'f')); }, 0},
    };
    for (const Case &c : cases) {
        InstallerFixture installer;
        c.arrange(installer);
        EXPECT_EQ(dll.IsSoftwareInstalled(), c.expected) << c.name;
    }
}

TEST_F(IsSoftwareInstalled, NotInstalledWithoutKeyOrDirectory)
{
    qritest::ScratchInstallerKey::DeleteKey();
    EXPECT_EQ(dll.IsSoftwareInstalled(), 0) << "key absent";

    qritest::ScratchInstallerKey key;
    EXPECT_EQ(dll.IsSoftwareInstalled(), 0) << "empty key";
    key.SetText("Base:core", "core.dll");
    EXPECT_EQ(dll.IsSoftwareInstalled(), 0) << "directory value missing";
}

} // namespace
