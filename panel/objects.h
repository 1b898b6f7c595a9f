// The two COM objects: records whose first field is the operation table.
#ifndef OBJECTS_H
#define OBJECTS_H

#include <windows.h>
#include <objbase.h>
#include <shlobj.h>

// {7546D600-BBBE-11D0-9232-00609760A35B}
extern const CLSID CLSID_PanelExtension;

// Identifiers compare over their 16 bytes.
bool SameId(REFIID a, REFIID b);

typedef HRESULT (*CreateObjectFn)(IUnknown *outer, REFIID iid, void **object);

struct PanelClassFactory {
    const IClassFactoryVtbl *operations;
    LONG referenceCount;
    CreateObjectFn createObject;
    LONG *objectCounter;
    const IID *interfaceFilter;
};

struct PanelExtension {
    const IShellPropSheetExtVtbl *operations;
    LONG referenceCount;
    HKEY key;
};

// A new factory (reference count 1), or NULL when memory is short.
PanelClassFactory *NewPanelClassFactory(CreateObjectFn createObject, LONG *objectCounter, const IID *interfaceFilter);
HRESULT CreatePanelExtension(IUnknown *outer, REFIID iid, void **object);

#endif
