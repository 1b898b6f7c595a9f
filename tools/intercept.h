// Interception of platform calls in a process: calls that Wine cannot
// honour, or that would block or end a test, are redirected to the test.
#ifndef INTERCEPT_H
#define INTERCEPT_H

#include <windows.h>

// Redirects `module`'s import of `function` from `dll` (name matched without
// regard to case) to `replacement`. Returns the address it replaced, or NULL
// when the module does not import that function.
void *PatchImport(HMODULE module, const char *dll, const char *function, void *replacement);

// Points the export entry of `function` in the loaded `exporter` at
// `replacement`: modules loaded afterwards, and GetProcAddress, bind to it.
// For calls a DLL makes while it loads. Returns the original address or NULL.
void *PatchExport(HMODULE exporter, const char *function, void *replacement);

// An import patch undone when it goes out of scope.
struct ImportPatch {
    ImportPatch(HMODULE module, const char *dll, const char *function, void *replacement)
        : module(module), dll(dll), function(function),
          original(PatchImport(module, dll, function, replacement)) {}
    ~ImportPatch() { if (original) PatchImport(module, dll, function, original); }
    ImportPatch(const ImportPatch &) = delete;
    ImportPatch &operator=(const ImportPatch &) = delete;
    HMODULE module;
    const char *dll, *function;
    void *original;
};

// An export patch undone when it goes out of scope.
struct ExportPatch {
    ExportPatch(HMODULE exporter, const char *function, void *replacement)
        : exporter(exporter), function(function),
          original(PatchExport(exporter, function, replacement)) {}
    ~ExportPatch() { if (original) PatchExport(exporter, function, original); }
    ExportPatch(const ExportPatch &) = delete;
    ExportPatch &operator=(const ExportPatch &) = delete;
    HMODULE exporter;
    const char *function;
    void *original;
};

#endif
