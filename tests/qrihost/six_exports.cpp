// A DLL that looks like the plug-in but lacks RXPLUGIN_StopTask, for the
// agent's refusal of an incomplete DLL.
extern "C" {
__declspec(dllexport) int RXPLUGIN_EnforcePolicy() { return 0; }
__declspec(dllexport) int RXPLUGIN_EnforceTask() { return 0; }
__declspec(dllexport) int RXPLUGIN_FreeCookie() { return 1; }
__declspec(dllexport) int RXPLUGIN_GetProperties() { return 0; }
__declspec(dllexport) int RXPLUGIN_GetTaskStatus() { return 0; }
__declspec(dllexport) int RXPLUGIN_IsSoftwareInstalled() { return 0; }
}
