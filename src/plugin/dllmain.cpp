// Library entry: loading and unloading do no work of the plug-in's own
// (no callback, no registry, no file), so nothing runs under the loader lock.
#include <windows.h>

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID)
{
    return TRUE;
}
