// zentacap: Video for Windows installable capture driver of the Brightvane
// 7K42Q. The module's entry point keeps its instance handle for resources
// and makes the stream engine's lock.
#include "module.h"
#include "stream.h"

HINSTANCE ModuleInstance;

/***********************************************************************
 *           DllMain
 */
extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved)
{
    if (reason == DLL_PROCESS_ATTACH) {
        ModuleInstance = instance;
        InitStreamEngine();
    } else if (reason == DLL_PROCESS_DETACH && !reserved) {
        EndStreamEngine(); // unloaded, not ending with the process: no thread of ours is left
    }
    return TRUE;
}
