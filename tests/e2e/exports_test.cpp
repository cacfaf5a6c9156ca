// The DLL as a host sees it: export table, image flags, imports, version
// resource and a load that touches nothing.
#include <gtest/gtest.h>

#include <windows.h>

#include <set>
#include <string>
#include <vector>

#include "support/plugin_dll.h"
#include "support/scratch.h"

namespace {

using qritest::PluginDll;

template <class T>
const T *At(HMODULE module, DWORD rva)
{
    return reinterpret_cast<const T *>(reinterpret_cast<const BYTE *>(module) + rva);
}

// The headers of this build's own bitness: the test and the DLL are built alike.
const IMAGE_NT_HEADERS *NtHeaders(HMODULE module)
{
    auto dos = At<IMAGE_DOS_HEADER>(module, 0);
    return At<IMAGE_NT_HEADERS>(module, static_cast<DWORD>(dos->e_lfanew));
}

constexpr WORD kMachine = sizeof(void *) == 4 ? IMAGE_FILE_MACHINE_I386 : IMAGE_FILE_MACHINE_AMD64;

TEST(ExportTable, SevenNamesWithAlphabeticalOrdinals)
{
    PluginDll dll;
    ASSERT_TRUE(dll.Loaded());
    HMODULE module = dll.Module();
    const IMAGE_DATA_DIRECTORY &entry =
        NtHeaders(module)->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
    auto exports = At<IMAGE_EXPORT_DIRECTORY>(module, entry.VirtualAddress);
    EXPECT_STREQ(At<char>(module, exports->Name), "QRIPLUGN.dll");
    EXPECT_EQ(exports->Base, 1u);
    ASSERT_EQ(exports->NumberOfFunctions, 7u);
    ASSERT_EQ(exports->NumberOfNames, 7u);

    const char *expected[] = {"RXPLUGIN_EnforcePolicy", "RXPLUGIN_EnforceTask",   "RXPLUGIN_FreeCookie",
                              "RXPLUGIN_GetProperties", "RXPLUGIN_GetTaskStatus", "RXPLUGIN_IsSoftwareInstalled",
                              "RXPLUGIN_StopTask"};
    auto names = At<DWORD>(module, exports->AddressOfNames);
    auto ordinals = At<WORD>(module, exports->AddressOfNameOrdinals);
    for (DWORD i = 0; i < 7; ++i) {
        EXPECT_STREQ(At<char>(module, names[i]), expected[i]);
        EXPECT_EQ(ordinals[i] + exports->Base, i + 1) << expected[i];
        EXPECT_EQ(reinterpret_cast<FARPROC>(GetProcAddress(module, MAKEINTRESOURCEA(i + 1))),
                  GetProcAddress(module, expected[i]))
            << "ordinal " << i + 1;
    }
}

TEST(Image, SystemImportsOnlyAndSecurityFlags)
{
    PluginDll dll;
    ASSERT_TRUE(dll.Loaded());
    HMODULE module = dll.Module();
    const IMAGE_NT_HEADERS *nt = NtHeaders(module);
    EXPECT_EQ(nt->FileHeader.Machine, kMachine);
    EXPECT_TRUE(nt->FileHeader.Characteristics & IMAGE_FILE_DLL);
    WORD flags = nt->OptionalHeader.DllCharacteristics;
    EXPECT_TRUE(flags & IMAGE_DLLCHARACTERISTICS_DYNAMIC_BASE);
    EXPECT_TRUE(flags & IMAGE_DLLCHARACTERISTICS_NX_COMPAT);

    const std::set<std::string> allowed = {"KERNEL32.DLL", "ADVAPI32.DLL", "USER32.DLL", "MSVCRT.DLL"};
    const IMAGE_DATA_DIRECTORY &entry = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    int count = 0;
    for (auto import = At<IMAGE_IMPORT_DESCRIPTOR>(module, entry.VirtualAddress); import->Name != 0; ++import) {
        std::string name = At<char>(module, import->Name);
        for (char &c : name)
            c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
        EXPECT_TRUE(allowed.count(name)) << "imports " << name;
        ++count;
    }
    EXPECT_GT(count, 0);
}

// The resource states the version that the header gives hosts.
TEST(Image, VersionResourceNamesTheDllAndTheHeadersVersion)
{
    std::string path = qritest::TestBinDirectory() + "\\QRIPLUGN.dll";
    DWORD ignored = 0;
    DWORD size = GetFileVersionInfoSizeA(path.c_str(), &ignored);
    ASSERT_GT(size, 0u);
    std::vector<char> info(size);
    ASSERT_TRUE(GetFileVersionInfoA(path.c_str(), 0, size, info.data()));
    VS_FIXEDFILEINFO *fixed = nullptr;
    UINT fixedSize = 0;
    ASSERT_TRUE(VerQueryValueA(info.data(), "\\", reinterpret_cast<void **>(&fixed), &fixedSize));
    EXPECT_EQ(fixed->dwFileType, static_cast<DWORD>(VFT_DLL));
    EXPECT_EQ(fixed->dwFileVersionMS, MAKELONG(QRIPLUGN_VERSION_MINOR, QRIPLUGN_VERSION_MAJOR));
    EXPECT_EQ(fixed->dwFileVersionLS, MAKELONG(0, QRIPLUGN_VERSION_PATCH));
    EXPECT_EQ(fixed->dwProductVersionMS, fixed->dwFileVersionMS);
    EXPECT_EQ(fixed->dwProductVersionLS, fixed->dwFileVersionLS);
    EXPECT_EQ(QRIPLUGN_VERSION_NUMBER,
              QRIPLUGN_VERSION_MAJOR * 10000 + QRIPLUGN_VERSION_MINOR * 100 + QRIPLUGN_VERSION_PATCH);
    std::string text = std::to_string(QRIPLUGN_VERSION_MAJOR) + "." + std::to_string(QRIPLUGN_VERSION_MINOR) + "." +
                       std::to_string(QRIPLUGN_VERSION_PATCH) + ".0";
    for (const char *name : {"FileVersion", "ProductVersion"}) {
        char *value = nullptr;
        UINT valueLength = 0;
        ASSERT_TRUE(VerQueryValueA(info.data(), (std::string("\\StringFileInfo\\040904E4\\") + name).c_str(),
                                   reinterpret_cast<void **>(&value), &valueLength))
            << name;
        EXPECT_EQ(std::string(value), text) << name;
    }
    char *original = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueA(info.data(), "\\StringFileInfo\\040904E4\\OriginalFilename",
                               reinterpret_cast<void **>(&original), &length));
    EXPECT_STREQ(original, "QRIPLUGN.dll");
    char *copyright = nullptr;
    ASSERT_TRUE(VerQueryValueA(info.data(), "\\StringFileInfo\\040904E4\\LegalCopyright",
                               reinterpret_cast<void **>(&copyright), &length));
    EXPECT_EQ(std::string(copyright).rfind("Copyright (C) ", 0), 0u) << copyright;
}

TEST(Exports, LoadingTouchesNothing)
{
    // With no installer key, loading and unloading must not create it.
    qritest::ScratchInstallerKey::DeleteKey();
    for (int round = 0; round < 3; ++round) {
        PluginDll dll;
        ASSERT_TRUE(dll.Loaded());
    }
    HKEY key = nullptr;
    EXPECT_NE(RegOpenKeyA(HKEY_LOCAL_MACHINE, qritest::kInstallerKey, &key), ERROR_SUCCESS);
}

} // namespace
