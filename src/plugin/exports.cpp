// The seven exports of QRIPLUGN.dll. Each forwards to the subsystem that owns
// the work; nothing here may let an exception reach the host.
#include "qriplugn.h"

#include "common/trace.h"
#include "plugin/enforcement.h"
#include "plugin/enforcement_lock.h"
#include "registry/installer_key.h"

namespace {

struct PolicyArguments {
    const char *softwareId;
    RXPLUGIN_PolicySettingReader reader;
};

struct TaskArguments {
    void *taskData;
    unsigned long taskDataSize;
    RXPLUGIN_TaskSettingReader reader;
    RXPLUGIN_TaskCookie *cookie;
};

int EnforcePolicyHeld(void *context)
{
    auto *arguments = static_cast<PolicyArguments *>(context);
    qri::DecideEnforcementTrace();
    return qri::EnforcePolicy(arguments->softwareId, arguments->reader);
}

int EnforceTaskHeld(void *context)
{
    auto *arguments = static_cast<TaskArguments *>(context);
    qri::DecideEnforcementTrace();
    return qri::EnforceTask(arguments->taskData, arguments->taskDataSize, arguments->reader, arguments->cookie);
}

} // namespace

extern "C" {

// A nested enforcement (from a reader of the running one, on its thread or
// one of its fibers) returns 0 at once: it would otherwise wait for itself.
int RXPLUGIN_CALL RXPLUGIN_EnforcePolicy(const char *softwareId, RXPLUGIN_PolicySettingReader reader)
{
    PolicyArguments arguments = {softwareId, reader};
    return qri::RunHoldingEnforcementLock(EnforcePolicyHeld, &arguments);
}

int RXPLUGIN_CALL RXPLUGIN_EnforceTask(void *taskData, unsigned long taskDataSize, RXPLUGIN_TaskSettingReader reader,
                                       RXPLUGIN_TaskCookie *cookie)
{
    TaskArguments arguments = {taskData, taskDataSize, reader, cookie};
    return qri::RunHoldingEnforcementLock(EnforceTaskHeld, &arguments);
}

int RXPLUGIN_CALL RXPLUGIN_FreeCookie(RXPLUGIN_TaskCookie cookie)
{
    return qri::FreeCookie(cookie);
}

int RXPLUGIN_CALL RXPLUGIN_GetProperties(void *hostContext, RXPLUGIN_PropertySink sink)
{
    return qri::GetProperties(hostContext, sink);
}

int RXPLUGIN_CALL RXPLUGIN_GetTaskStatus(RXPLUGIN_TaskCookie cookie)
{
    return qri::GetTaskStatus(cookie);
}

int RXPLUGIN_CALL RXPLUGIN_IsSoftwareInstalled(void)
{
    return qri::IsSoftwareInstalled();
}

int RXPLUGIN_CALL RXPLUGIN_StopTask(RXPLUGIN_TaskCookie cookie)
{
    return qri::StopTask(cookie);
}

} // extern "C"
