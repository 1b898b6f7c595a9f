// qordexa: the Brightvane 7K42Q page of the Display control panel, an
// in-process COM server that loads only on the board's adapter.
#include "objects.h"
#include "panel.h"

HINSTANCE ModuleInstance;
LONG ModuleObjectCount;

/***********************************************************************
 *           DllMain
 */
extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID)
{
    if (reason != DLL_PROCESS_ATTACH)
        return TRUE;
    if (!ProbeAdapter())
        return FALSE; // not the board's adapter: the library refuses to load
    ModuleInstance = instance;
    OpenDriverKey();
    return TRUE;
}

/***********************************************************************
 *           DllGetClassObject
 */
extern "C" HRESULT WINAPI DllGetClassObject(REFCLSID clsid, REFIID iid, LPVOID *object)
{
    *object = NULL;
    if (!SameId(clsid, CLSID_PanelExtension))
        return CLASS_E_CLASSNOTAVAILABLE;
    if (!SameId(iid, IID_IClassFactory) && !SameId(iid, IID_IUnknown))
        return E_NOINTERFACE;
    PanelClassFactory *factory = NewPanelClassFactory();
    if (!factory)
        return E_OUTOFMEMORY;
    *object = factory;
    return S_OK;
}

/***********************************************************************
 *           DllCanUnloadNow
 */
extern "C" HRESULT WINAPI DllCanUnloadNow(void)
{
    return ModuleObjectCount == 0 ? S_OK : S_FALSE;
}
