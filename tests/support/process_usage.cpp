// Handles and private memory of this process (see process_usage.h).
#include "process_usage.h"
#include <psapi.h>
#include <vector>

// NtQuerySystemInformation's SystemHandleInformation (16): every handle of
// every process. Wine answers GetProcessHandleCount with 0, but lists these.
struct SystemHandleEntry {
    ULONG ownerPid;
    BYTE objectType, flags;
    USHORT value;
    PVOID object;
    ULONG access;
};
struct SystemHandles {
    ULONG count;
    SystemHandleEntry entries[1];
};

static DWORD CountHandles()
{
    typedef LONG(WINAPI * QueryFn)(ULONG, PVOID, ULONG, PULONG);
    static const QueryFn query = reinterpret_cast<QueryFn>(
        reinterpret_cast<void *>(GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtQuerySystemInformation")));
    std::vector<BYTE> buffer(1 << 16);
    for (;;) {
        ULONG needed = 0;
        LONG status = query ? query(16, buffer.data(), static_cast<ULONG>(buffer.size()), &needed) : -1;
        if (status == static_cast<LONG>(0xC0000004)) { // STATUS_INFO_LENGTH_MISMATCH
            buffer.resize(buffer.size() * 2);
            continue;
        }
        if (status < 0)
            return 0;
        const SystemHandles *handles = reinterpret_cast<const SystemHandles *>(buffer.data());
        DWORD count = 0;
        for (ULONG i = 0; i < handles->count; i++)
            count += handles->entries[i].ownerPid == GetCurrentProcessId();
        return count;
    }
}

ProcessUsage MeasureProcess()
{
    ProcessUsage u = {};
    u.handles = CountHandles();
    // PagefileUsage is the private bytes; Wine leaves PrivateUsage at 0.
    PROCESS_MEMORY_COUNTERS counters = {};
    counters.cb = sizeof counters;
    if (GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters))
        u.privateBytes = counters.PagefileUsage;
    return u;
}
