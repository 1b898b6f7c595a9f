// vfwcheck's driver host: the driver loaded as the video-capture layer loads
// it (winmm), messages sent through winmm or straight to DriverProc, records
// placed flush against a no-access page, and the process's resource counts.
#ifndef VFWCHECK_HOST_H
#define VFWCHECK_HOST_H

#include "vfwdrv.h"

// The driver under test: a file, or an alias of the "Drivers32" list.
struct Target {
    WCHAR name[MAX_PATH];
    const WCHAR *section; // NULL for a file
};
extern Target Driver;

// The configuration-only instance that keeps the module loaded, and the
// module's DriverProc for identifiers that winmm never sends.
extern HDRVR ConfigInstance;
extern DRIVERPROC DriverEntry;
bool LoadDriver(const char *rule); // reports a failure under `rule`
void UnloadDriver();

const FOURCC FccVcap = mmioFOURCC('v', 'c', 'a', 'p');
const DWORD Untouched = 0xFFFFFFFF; // dwError before a DRV_OPEN

void FillOpenParms(VIDEO_OPEN_PARMS &parms, DWORD type, FOURCC fccType = FccVcap);
// OpenDriver with these open parameters (NULL: a configuration instance),
// and CloseDriver: every instance opens and closes here.
HDRVR OpenInstance(VIDEO_OPEN_PARMS *parms);
void CloseInstance(HDRVR instance);
// OpenDriver with open parameters of type `fccType` for a channel type.
HDRVR OpenChannel(DWORD type, VIDEO_OPEN_PARMS *parms, FOURCC fccType = FccVcap);
// A VIDEO_IN channel, or NULL with a failure reported under `rule`.
HDRVR OpenCaptureChannel(const char *rule);
DWORD Send(HDRVR instance, UINT message, LPARAM lParam1 = 0, LPARAM lParam2 = 0);
DWORD SendDirect(DWORD_PTR id, UINT message, LPARAM lParam1 = 0, LPARAM lParam2 = 0);

// --trace (trace.cpp): a line for each message sent to the driver, with its
// parameters, its answer, when it was sent and how long it took.
LONGLONG TraceClock();
void TraceMessage(const char *via, DWORD_PTR instance, UINT message, LPARAM lParam1, LPARAM lParam2, DWORD answer,
                  LONGLONG sent);

// A record of `size` bytes that ends `gap` bytes before a no-access page:
// the driver's first access beyond it faults and is reported under `rule` as
// an overrun of `what`. The record is zero-filled.
void *GuardedRecord(DWORD size, const char *rule, const char *what, DWORD gap = 0);
void FreeRecord(void *record);
// Decommits a guarded record's pages, as a client frees what it lent: any
// later access to them is reported under `rule` as an access to `what`.
void WithdrawRecord(void *record, const char *rule, const char *what);

// From here on a fault in any thread ends the child with a failure line: an
// overrun of a guarded record or an access to a withdrawn one under its rule,
// anything else as GROUP.crash, or under the rule named last.
void InstallFaultReport(const char *group);
void ReportCrashesAs(const char *rule);

struct Usage {
    DWORD handles;       // 0 where the system cannot count them
    SIZE_T privateBytes; // 0 where psapi.dll is missing
};
Usage MeasureUsage();
// Under `rule`: the private memory of `after` within `slack` of `before`, the
// message led by `when`; a warning where it was not measured.
void ExpectMemoryWithin(const char *rule, const char *when, const Usage &before, const Usage &after, SIZE_T slack);
DWORD ProcessCpuMs(); // user and kernel time of all threads

#endif
