// qrihost properties and qrihost installed: one query export each.
#include "commands.h"

namespace qrihost {

int RunProperties(const Plugin &plugin, TraceView &trace)
{
    int count = 0;
    Out("RXPLUGIN_GetProperties:\n");
    int result = plugin.GetProperties(&count, PrintProperty);
    trace.Flush();
    if (result != 0) {
        Out("result %d: the installer registry key was read; %d propert%s reported\n", result, count,
            count == 1 ? "y" : "ies");
        return kDone;
    }
    Out("result 0: nothing reported: the installer registry key cannot be opened\n");
    return kResultZero;
}

int RunInstalled(const Plugin &plugin, TraceView &trace)
{
    int result = plugin.IsSoftwareInstalled();
    trace.Flush();
    if (result != 0) {
        Out("RXPLUGIN_IsSoftwareInstalled: %d: installed: every base file of the product is present\n", result);
        return kDone;
    }
    Out("RXPLUGIN_IsSoftwareInstalled: 0: not installed: a base file is missing, or the installer registry key "
        "names none or cannot be read\n");
    return kResultZero;
}

} // namespace qrihost
