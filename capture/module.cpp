// zentacap: Video for Windows installable capture driver of the Brightvane
// 7K42Q. The module's entry point keeps its instance handle for resources.
#include "module.h"

HINSTANCE ModuleInstance;

/***********************************************************************
 *           DllMain
 */
BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID)
{
    if (reason == DLL_PROCESS_ATTACH)
        ModuleInstance = instance;
    return TRUE;
}
