// Operation tables of the class factory and the sheet extension.
#include "objects.h"
#include <prsht.h>
#include "panel.h"
#include "resource.h"

const CLSID CLSID_PanelExtension = {0x7546D600, 0xBBBE, 0x11D0, {0x92, 0x32, 0x00, 0x60, 0x97, 0x60, 0xA3, 0x5B}};

bool SameId(REFIID a, REFIID b)
{
    return memcmp(&a, &b, sizeof(IID)) == 0;
}

// PanelClassFactory

static HRESULT STDMETHODCALLTYPE FactoryQueryInterface(IClassFactory *self, REFIID iid, void **object)
{
    if (SameId(iid, IID_IClassFactory) || SameId(iid, IID_IUnknown)) {
        *object = self;
        reinterpret_cast<PanelClassFactory *>(self)->referenceCount++;
        return S_OK;
    }
    *object = NULL;
    return E_NOINTERFACE;
}

static ULONG STDMETHODCALLTYPE FactoryAddRef(IClassFactory *self)
{
    return static_cast<ULONG>(++reinterpret_cast<PanelClassFactory *>(self)->referenceCount);
}

static ULONG STDMETHODCALLTYPE FactoryRelease(IClassFactory *self)
{
    PanelClassFactory *factory = reinterpret_cast<PanelClassFactory *>(self);
    if (--factory->referenceCount > 0)
        return static_cast<ULONG>(factory->referenceCount);
    if (factory->objectCounter)
        --*factory->objectCounter;
    LocalFree(factory);
    return 0;
}

static HRESULT STDMETHODCALLTYPE FactoryCreateInstance(IClassFactory *self, IUnknown *outer, REFIID iid, void **object)
{
    PanelClassFactory *factory = reinterpret_cast<PanelClassFactory *>(self);
    if (outer)
        return CLASS_E_NOAGGREGATION;
    if (factory->interfaceFilter && !SameId(iid, *factory->interfaceFilter)) {
        *object = NULL;
        return E_NOINTERFACE;
    }
    return factory->createObject(NULL, iid, object);
}

static HRESULT STDMETHODCALLTYPE FactoryLockServer(IClassFactory *, BOOL)
{
    return E_NOTIMPL;
}

static const IClassFactoryVtbl FactoryOperations = {
    FactoryQueryInterface, FactoryAddRef, FactoryRelease, FactoryCreateInstance, FactoryLockServer,
};

// PanelExtension

static HRESULT STDMETHODCALLTYPE ExtensionQueryInterface(IShellPropSheetExt *self, REFIID iid, void **object)
{
    if (SameId(iid, IID_IShellPropSheetExt) || SameId(iid, IID_IUnknown)) {
        *object = self;
        reinterpret_cast<PanelExtension *>(self)->referenceCount++;
        return S_OK;
    }
    *object = NULL;
    return E_NOINTERFACE;
}

static ULONG STDMETHODCALLTYPE ExtensionAddRef(IShellPropSheetExt *self)
{
    return static_cast<ULONG>(++reinterpret_cast<PanelExtension *>(self)->referenceCount);
}

static ULONG STDMETHODCALLTYPE ExtensionRelease(IShellPropSheetExt *self)
{
    PanelExtension *extension = reinterpret_cast<PanelExtension *>(self);
    if (--extension->referenceCount > 0)
        return static_cast<ULONG>(extension->referenceCount);
    if (extension->key)
        RegCloseKey(extension->key);
    LocalFree(extension);
    ModuleObjectCount--;
    return 0;
}

// The adapter page: its template of this library, the first-version record.
static HRESULT STDMETHODCALLTYPE ExtensionAddPages(IShellPropSheetExt *, LPFNADDPROPSHEETPAGE addPage, LPARAM parameter)
{
    PROPSHEETPAGEA page = {};
    page.dwSize = PROPSHEETPAGEA_V1_SIZE;
    page.dwFlags = PSP_DEFAULT;
    page.hInstance = ModuleInstance;
    page.pszTemplate = MAKEINTRESOURCEA(IDD_PAGE);
    page.pfnDlgProc = PageDialogProc;
    HPROPSHEETPAGE handle = CreatePropertySheetPageA(&page);
    if (!handle)
        return E_OUTOFMEMORY;
    if (addPage(handle, parameter))
        return S_OK;
    DestroyPropertySheetPage(handle);
    return E_FAIL;
}

static HRESULT STDMETHODCALLTYPE ExtensionReplacePage(IShellPropSheetExt *, EXPPS, LPFNSVADDPROPSHEETPAGE, LPARAM)
{
    return S_OK;
}

static const IShellPropSheetExtVtbl ExtensionOperations = {
    ExtensionQueryInterface, ExtensionAddRef, ExtensionRelease, ExtensionAddPages, ExtensionReplacePage,
};

static HRESULT CreatePanelExtension(IUnknown *outer, REFIID iid, void **object)
{
    if (outer)
        return CLASS_E_NOAGGREGATION;
    PanelExtension *extension = static_cast<PanelExtension *>(LocalAlloc(LMEM_ZEROINIT, sizeof *extension));
    if (!extension)
        return E_OUTOFMEMORY;
    extension->operations = &ExtensionOperations;
    extension->referenceCount = 1;
    extension->key = NULL;
    ModuleObjectCount++;
    IShellPropSheetExt *self = reinterpret_cast<IShellPropSheetExt *>(extension);
    if (!SameId(iid, IID_IShellPropSheetExt)) {
        ExtensionRelease(self); // IID_IUnknown too: the caller asks for the sheet extension
        *object = NULL;
        return E_NOINTERFACE;
    }
    HRESULT result = ExtensionQueryInterface(self, iid, object);
    ExtensionRelease(self);
    return result;
}

PanelClassFactory *NewPanelClassFactory()
{
    PanelClassFactory *factory = static_cast<PanelClassFactory *>(LocalAlloc(LMEM_ZEROINIT, sizeof *factory));
    if (!factory)
        return NULL;
    factory->operations = &FactoryOperations;
    factory->referenceCount = 1;
    factory->createObject = CreatePanelExtension;
    factory->objectCounter = &ModuleObjectCount;
    factory->interfaceFilter = NULL; // CreateInstance goes straight to createObject
    ++ModuleObjectCount;
    return factory;
}
