// Import and export table patching (see intercept.h).
#include "intercept.h"

template <class T> static T *At(HMODULE module, DWORD rva)
{
    return reinterpret_cast<T *>(reinterpret_cast<BYTE *>(module) + rva);
}

static IMAGE_DATA_DIRECTORY Directory(HMODULE module, int entry)
{
    IMAGE_DOS_HEADER *dos = reinterpret_cast<IMAGE_DOS_HEADER *>(module);
    IMAGE_NT_HEADERS *nt = At<IMAGE_NT_HEADERS>(module, dos->e_lfanew);
    return nt->OptionalHeader.DataDirectory[entry];
}

static void WriteProtected(void *where, const void *value, SIZE_T size)
{
    DWORD old;
    VirtualProtect(where, size, PAGE_READWRITE, &old);
    CopyMemory(where, value, size);
    VirtualProtect(where, size, old, &old);
    FlushInstructionCache(GetCurrentProcess(), where, size);
}

void *PatchImport(HMODULE module, const char *dll, const char *function, void *replacement)
{
    IMAGE_DATA_DIRECTORY imports = Directory(module, IMAGE_DIRECTORY_ENTRY_IMPORT);
    if (!module || !imports.VirtualAddress)
        return NULL;
    for (IMAGE_IMPORT_DESCRIPTOR *d = At<IMAGE_IMPORT_DESCRIPTOR>(module, imports.VirtualAddress);
         d->Name; d++) {
        if (lstrcmpiA(At<char>(module, d->Name), dll) != 0 || !d->OriginalFirstThunk)
            continue;
        IMAGE_THUNK_DATA *names = At<IMAGE_THUNK_DATA>(module, d->OriginalFirstThunk);
        IMAGE_THUNK_DATA *slots = At<IMAGE_THUNK_DATA>(module, d->FirstThunk);
        for (; names->u1.AddressOfData; names++, slots++) {
            if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal))
                continue;
            IMAGE_IMPORT_BY_NAME *name = At<IMAGE_IMPORT_BY_NAME>(module, names->u1.AddressOfData);
            if (lstrcmpA(reinterpret_cast<char *>(name->Name), function) != 0)
                continue;
            void *original = reinterpret_cast<void *>(slots->u1.Function);
            WriteProtected(&slots->u1.Function, &replacement, sizeof replacement);
            return original;
        }
    }
    return NULL;
}

void *PatchExport(HMODULE exporter, const char *function, void *replacement)
{
    IMAGE_DATA_DIRECTORY exports = Directory(exporter, IMAGE_DIRECTORY_ENTRY_EXPORT);
    if (!exporter || !exports.VirtualAddress)
        return NULL;
    IMAGE_EXPORT_DIRECTORY *e = At<IMAGE_EXPORT_DIRECTORY>(exporter, exports.VirtualAddress);
    DWORD *names = At<DWORD>(exporter, e->AddressOfNames);
    WORD *ordinals = At<WORD>(exporter, e->AddressOfNameOrdinals);
    DWORD *functions = At<DWORD>(exporter, e->AddressOfFunctions);
    for (DWORD i = 0; i < e->NumberOfNames; i++) {
        if (lstrcmpA(At<char>(exporter, names[i]), function) != 0)
            continue;
        DWORD *entry = &functions[ordinals[i]];
        void *original = At<void>(exporter, *entry);
        // The loader adds the RVA to the module base modulo 2^32.
        DWORD rva = (DWORD)(reinterpret_cast<UINT_PTR>(replacement) - reinterpret_cast<UINT_PTR>(exporter));
        WriteProtected(entry, &rva, sizeof rva);
        return original;
    }
    return NULL;
}
