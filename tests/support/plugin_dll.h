// The real QRIPLUGN.dll, loaded from beside the test program and called only
// through the ABI header's pointer types.
#pragma once

#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "qriplugn.h"
#include "support/scratch.h"

namespace qritest {

class PluginDll {
public:
    PluginDll()
    {
        module_ = LoadLibraryA((TestBinDirectory() + "\\QRIPLUGN.dll").c_str());
        if (module_ == nullptr)
            return;
        EnforcePolicy = Resolve<PFN_RXPLUGIN_EnforcePolicy>("RXPLUGIN_EnforcePolicy");
        EnforceTask = Resolve<PFN_RXPLUGIN_EnforceTask>("RXPLUGIN_EnforceTask");
        FreeCookie = Resolve<PFN_RXPLUGIN_FreeCookie>("RXPLUGIN_FreeCookie");
        GetProperties = Resolve<PFN_RXPLUGIN_GetProperties>("RXPLUGIN_GetProperties");
        GetTaskStatus = Resolve<PFN_RXPLUGIN_GetTaskStatus>("RXPLUGIN_GetTaskStatus");
        IsSoftwareInstalled = Resolve<PFN_RXPLUGIN_IsSoftwareInstalled>("RXPLUGIN_IsSoftwareInstalled");
        StopTask = Resolve<PFN_RXPLUGIN_StopTask>("RXPLUGIN_StopTask");
    }
    ~PluginDll()
    {
        if (module_ != nullptr)
            FreeLibrary(module_);
    }
    PluginDll(const PluginDll &) = delete;
    PluginDll &operator=(const PluginDll &) = delete;

    HMODULE Module() const { return module_; }
    bool Loaded() const
    {
        return module_ != nullptr && EnforcePolicy && EnforceTask && FreeCookie && GetProperties && GetTaskStatus &&
               IsSoftwareInstalled && StopTask;
    }

    PFN_RXPLUGIN_EnforcePolicy EnforcePolicy = nullptr;
    PFN_RXPLUGIN_EnforceTask EnforceTask = nullptr;
    PFN_RXPLUGIN_FreeCookie FreeCookie = nullptr;
    PFN_RXPLUGIN_GetProperties GetProperties = nullptr;
    PFN_RXPLUGIN_GetTaskStatus GetTaskStatus = nullptr;
    PFN_RXPLUGIN_IsSoftwareInstalled IsSoftwareInstalled = nullptr;
    PFN_RXPLUGIN_StopTask StopTask = nullptr;

private:
    template <class T>
    T Resolve(const char *name)
    {
        return reinterpret_cast<T>(reinterpret_cast<void *>(GetProcAddress(module_, name)));
    }
    HMODULE module_ = nullptr;
};

// For tests of the DLL: loaded before each test, which stops there when it is not.
class PluginTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(dll.Loaded()); }
    PluginDll dll;
};

} // namespace qritest
