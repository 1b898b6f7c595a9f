// What this process holds: its handles and private memory, for the checks
// that many cycles leave them flat.
#ifndef PROCESS_USAGE_H
#define PROCESS_USAGE_H

#include <windows.h>

struct ProcessUsage {
    DWORD handles;
    SIZE_T privateBytes;
};

ProcessUsage MeasureProcess();

#endif
