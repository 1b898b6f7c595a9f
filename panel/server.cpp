// qordexa: Display control panel page of the Brightvane 7K42Q (in-process COM server).
#include <windows.h>
#include <objbase.h>

// Module of every resource the page loads.
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
 *           DllGetClassObject
 */
extern "C" HRESULT WINAPI DllGetClassObject(REFCLSID, REFIID, LPVOID *object)
{
    *object = NULL;
    return CLASS_E_CLASSNOTAVAILABLE;
}

/***********************************************************************
 *           DllCanUnloadNow
 */
extern "C" HRESULT WINAPI DllCanUnloadNow(void)
{
    return S_OK;
}
