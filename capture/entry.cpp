// zentacap: Video for Windows installable capture driver of the Brightvane 7K42Q.
#include <windows.h>
#include <mmsystem.h>

// Module of every resource the driver loads.
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

/***********************************************************************
 *           DriverProc
 */
extern "C" LRESULT WINAPI DriverProc(DWORD_PTR driverId, HDRVR driver, UINT message,
                                     LPARAM lParam1, LPARAM lParam2)
{
    return DefDriverProc(driverId, driver, message, lParam1, lParam2);
}
