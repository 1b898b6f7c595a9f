// The driver's module: every string, dialog, bitmap and cursor is loaded from it.
#ifndef MODULE_H
#define MODULE_H

#include <windows.h>

extern HINSTANCE ModuleInstance;

#endif
