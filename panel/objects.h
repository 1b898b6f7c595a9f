// The two COM objects: records whose first field is the operation table.
// Their reference counts are plain numbers: the server is registered as
// apartment-threaded, so COM calls each object on the thread that made it.
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

// A new factory of PanelExtension objects (reference count 1), counted in
// ModuleObjectCount; NULL when memory is short.
PanelClassFactory *NewPanelClassFactory();

#endif
