// The driver host: loading through winmm as the video-capture layer does,
// the opens and closes and the two ways of sending a message (each traced
// with --trace), guarded records and the fault report.
#include <cstdio>
#include "check.h"
#include "host.h"
#define PSAPI_VERSION 1 // psapi.dll, as on Windows NT 4
#include <psapi.h>      // its record only: NT 4 has the DLL as a redistributable, loaded where present

Target Driver;
HDRVR ConfigInstance;
DRIVERPROC DriverEntry;

// Guarded records, looked up by the fault report.
struct GuardedEntry {
    BYTE *base;   // the allocation: record pages, then the no-access page
    BYTE *guard;
    BYTE *record;
    DWORD size;
    DWORD withdrawn; // GetTickCount when its pages were decommitted, else 0
    char rule[40];
    char what[96];
};
static GuardedEntry Records[512];
static HMODULE Module;
static WCHAR ModuleFile[MAX_PATH];
static int ExtraReferences; // our own, which keep the module loaded
static const DWORD Page = 4096; // x86
static const char *FaultGroup = "vfwcheck";
static const char *CrashRule; // where set, a crash is reported under it
static DWORD CheckerThread; // the thread that sends the messages

bool LoadDriver(const char *rule)
{
    ConfigInstance = OpenInstance(NULL);
    if (!ConfigInstance) {
        // DRV_OPEN "Returns nonzero if successful"; lParam2 is zero for an
        // open "only for configuration" (installable-driver DRV_OPEN).
        Fail(rule, "expected OpenDriver without open parameters to load the driver, got NULL");
        return false;
    }
    FARPROC proc = GetProcAddress(GetDriverModuleHandle(ConfigInstance), "DriverProc");
    DriverEntry = reinterpret_cast<DRIVERPROC>(reinterpret_cast<void *>(proc));
    if (!DriverEntry) {
        Fail(rule, "expected the module to export DriverProc, got no such export");
        CloseInstance(ConfigInstance);
        ConfigInstance = NULL;
        return false;
    }
    Module = GetDriverModuleHandle(ConfigInstance);
    GetModuleFileNameW(Module, ModuleFile, MAX_PATH);
    LoadLibraryW(ModuleFile);
    ExtraReferences = 1;
    return true;
}

void UnloadDriver()
{
    if (ConfigInstance)
        CloseInstance(ConfigInstance);
    ConfigInstance = NULL;
    DriverEntry = NULL;
    WCHAR file[MAX_PATH];
    for (; ExtraReferences > 0; ExtraReferences--)
        if (GetModuleFileNameW(Module, file, MAX_PATH))
            FreeLibrary(Module);
}

void FillOpenParms(VIDEO_OPEN_PARMS &parms, DWORD type, FOURCC fccType)
{
    parms = VIDEO_OPEN_PARMS{sizeof parms, fccType, 0, VIDEOAPIVERSION, type, Untouched, NULL, NULL, 0};
}

HDRVR OpenInstance(VIDEO_OPEN_PARMS *parms)
{
    static const bool wine = GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version") != NULL;
    LONGLONG sent = Settings.trace ? TraceClock() : 0;
    HDRVR instance = OpenDriver(Driver.name, Driver.section, reinterpret_cast<LPARAM>(parms));
    if (Settings.trace)
        TraceMessage("OpenDriver", 0, DRV_OPEN, 0, reinterpret_cast<LPARAM>(parms),
                     static_cast<DWORD>(reinterpret_cast<DWORD_PTR>(instance)), sent);
    // Wine's winmm frees the module twice after a refused DRV_OPEN; one more
    // reference of ours makes up for it.
    if (!instance && wine && Module) {
        LoadLibraryW(ModuleFile);
        ExtraReferences++;
    }
    return instance;
}

void CloseInstance(HDRVR instance)
{
    LONGLONG sent = Settings.trace ? TraceClock() : 0;
    DWORD result = static_cast<DWORD>(CloseDriver(instance, 0, 0));
    if (Settings.trace)
        TraceMessage("CloseDriver", reinterpret_cast<DWORD_PTR>(instance), DRV_CLOSE, 0, 0, result, sent);
}

HDRVR OpenChannel(DWORD type, VIDEO_OPEN_PARMS *parms, FOURCC fccType)
{
    FillOpenParms(*parms, type, fccType);
    return OpenInstance(parms);
}

HDRVR OpenCaptureChannel(const char *rule)
{
    VIDEO_OPEN_PARMS parms;
    HDRVR channel = OpenChannel(VIDEO_IN, &parms);
    if (!channel)
        Fail(rule, "expected an open VIDEO_IN channel to check, got a refusal (dwError %s)",
             parms.dwError == Untouched ? "untouched" : CodeName(parms.dwError));
    return channel;
}

DWORD Send(HDRVR instance, UINT message, LPARAM lParam1, LPARAM lParam2)
{
    LONGLONG sent = Settings.trace ? TraceClock() : 0;
    DWORD result = static_cast<DWORD>(SendDriverMessage(instance, message, lParam1, lParam2));
    if (Settings.trace)
        TraceMessage("SendDriverMessage", reinterpret_cast<DWORD_PTR>(instance), message, lParam1, lParam2, result, sent);
    if (message >= DVM_CONFIGURE_START)
        NoteCode(result);
    return result;
}

DWORD SendDirect(DWORD_PTR id, UINT message, LPARAM lParam1, LPARAM lParam2)
{
    LONGLONG sent = Settings.trace ? TraceClock() : 0;
    DWORD result = static_cast<DWORD>(DriverEntry(id, ConfigInstance, message, lParam1, lParam2));
    if (Settings.trace)
        TraceMessage("DriverProc", id, message, lParam1, lParam2, result, sent);
    if (message >= DVM_CONFIGURE_START)
        NoteCode(result);
    return result;
}

void *GuardedRecord(DWORD size, const char *rule, const char *what, DWORD gap)
{
    DWORD span = (size + gap + Page - 1) / Page * Page;
    BYTE *base = static_cast<BYTE *>(VirtualAlloc(NULL, span + Page, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
    if (!base)
        return NULL;
    DWORD old;
    VirtualProtect(base + span, Page, PAGE_NOACCESS, &old);
    for (GuardedEntry &e : Records) {
        if (e.base)
            continue;
        e.base = base;
        e.guard = base + span;
        e.record = e.guard - gap - size;
        e.size = size;
        e.withdrawn = 0;
        lstrcpynA(e.rule, rule, sizeof e.rule);
        lstrcpynA(e.what, what, sizeof e.what);
        return e.record;
    }
    VirtualFree(base, 0, MEM_RELEASE);
    return NULL;
}

void FreeRecord(void *record)
{
    for (GuardedEntry &e : Records) {
        if (e.base && e.record == record) {
            VirtualFree(e.base, 0, MEM_RELEASE);
            e.base = NULL;
            return;
        }
    }
}

void WithdrawRecord(void *record, const char *rule, const char *what)
{
    for (GuardedEntry &e : Records) {
        if (e.base && e.record == record) {
            lstrcpynA(e.rule, rule, sizeof e.rule);
            lstrcpynA(e.what, what, sizeof e.what);
            e.withdrawn = GetTickCount() | 1; // never 0
            VirtualFree(e.base, e.guard - e.base, MEM_DECOMMIT);
            return;
        }
    }
}

// The last word of a child that faulted: which record was overrun or touched
// once withdrawn, or the exception; then the process ends at once, without
// running the driver's detach code again.
static LONG WINAPI ReportFault(EXCEPTION_POINTERS *info)
{
    const EXCEPTION_RECORD *r = info->ExceptionRecord;
    const char *access = r->NumberParameters && r->ExceptionInformation[0] ? "write" : "read";
    BYTE *address = r->NumberParameters >= 2 ? reinterpret_cast<BYTE *>(r->ExceptionInformation[1]) : NULL;
    bool reported = false;
    for (const GuardedEntry &e : Records) {
        if (r->ExceptionCode != EXCEPTION_ACCESS_VIOLATION || !e.base)
            continue;
        if (e.withdrawn && address >= e.base && address < e.guard + Page)
            Fail(e.rule, "expected no access to the %s, got a %s at offset %ld in it %lu ms after its pages were "
                 "decommitted, on %s", e.what, access, static_cast<long>(address - e.record),
                 GetTickCount() - e.withdrawn,
                 GetCurrentThreadId() == CheckerThread ? "the checker's own thread" : "another thread (the driver's)");
        else if (!e.withdrawn && address >= e.guard && address < e.guard + Page)
            Fail(e.rule, "expected no access beyond the %lu-byte %s, got a %s %lu bytes past its end", e.size,
                 e.what, access, static_cast<DWORD>(address - (e.record + e.size)));
        else
            continue;
        reported = true;
        break;
    }
    if (!reported) {
        char rule[48];
        std::snprintf(rule, sizeof rule, "%s.crash", FaultGroup);
        Fail(CrashRule ? CrashRule : rule, "expected the driver to survive, got exception 0x%08lX at %p",
             r->ExceptionCode, r->ExceptionAddress);
    }
    Emit("@crashed");
    TerminateProcess(GetCurrentProcess(), r->ExceptionCode);
    return EXCEPTION_CONTINUE_SEARCH;
}

void InstallFaultReport(const char *group)
{
    FaultGroup = group;
    CheckerThread = GetCurrentThreadId();
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
    SetUnhandledExceptionFilter(ReportFault);
}

void ReportCrashesAs(const char *rule)
{
    CrashRule = rule;
}

static Usage ReadUsage()
{
    typedef BOOL(WINAPI * HandleCountFn)(HANDLE, PDWORD);
    // Not on Windows NT 4: the handle count is then left out (0).
    static const HandleCountFn handleCount = reinterpret_cast<HandleCountFn>(
        reinterpret_cast<void *>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "GetProcessHandleCount")));
    typedef BOOL(WINAPI * MemoryInfoFn)(HANDLE, PPROCESS_MEMORY_COUNTERS, DWORD);
    // Without psapi.dll the private bytes are left out (0).
    static const HMODULE psapi = LoadLibraryA("psapi.dll");
    static const MemoryInfoFn memoryInfo = psapi ? reinterpret_cast<MemoryInfoFn>(
        reinterpret_cast<void *>(GetProcAddress(psapi, "GetProcessMemoryInfo"))) : NULL;
    Usage u = {};
    if (handleCount)
        handleCount(GetCurrentProcess(), &u.handles);
    PROCESS_MEMORY_COUNTERS counters = {};
    counters.cb = sizeof counters;
    if (memoryInfo && memoryInfo(GetCurrentProcess(), &counters, sizeof counters))
        u.privateBytes = counters.PagefileUsage; // the private bytes
    return u;
}

// Threads that end with a driver's last close free their stacks some time
// later (on a slow machine, seconds later), so the figures are read once
// they have held still for half a second, or after five seconds.
void ExpectMemoryWithin(const char *rule, const char *when, const Usage &before, const Usage &after, SIZE_T slack)
{
    if (!before.privateBytes || !after.privateBytes)
        Warn(rule, "private memory not measured (psapi.dll is missing)");
    else
        Expect(after.privateBytes <= before.privateBytes + slack, rule, "%s: expected private memory within %lu KiB "
               "of %lu KiB, got %lu KiB", when, static_cast<DWORD>(slack / 1024),
               static_cast<DWORD>(before.privateBytes / 1024), static_cast<DWORD>(after.privateBytes / 1024));
}

Usage MeasureUsage()
{
    Usage u = ReadUsage();
    for (DWORD still = 0, waited = 0; still < 500 && waited < 5000; waited += 100) {
        Sleep(100);
        Usage next = ReadUsage();
        still = next.handles == u.handles && next.privateBytes == u.privateBytes ? still + 100 : 0;
        u = next;
    }
    return u;
}

DWORD ProcessCpuMs()
{
    FILETIME created, exited, kernel, user;
    if (!GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user))
        return 0;
    ULONGLONG k = (static_cast<ULONGLONG>(kernel.dwHighDateTime) << 32) | kernel.dwLowDateTime;
    ULONGLONG u = (static_cast<ULONGLONG>(user.dwHighDateTime) << 32) | user.dwLowDateTime;
    return static_cast<DWORD>((k + u) / 10000);
}
