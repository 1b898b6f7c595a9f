// Handles and private memory of this process (see process_usage.h).
#include "process_usage.h"
#include <psapi.h>

ProcessUsage MeasureProcess()
{
    ProcessUsage u = {};
    GetProcessHandleCount(GetCurrentProcess(), &u.handles);
    PROCESS_MEMORY_COUNTERS_EX counters = {};
    counters.cb = sizeof counters;
    GetProcessMemoryInfo(GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS *>(&counters), sizeof counters);
    u.privateBytes = counters.PrivateUsage;
    return u;
}
