// The campaign's steps and invariants (see run.h). Every driver message goes
// through Call, which checks that its result is a documented one.
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <windows.h>
#include <psapi.h>
#include <tlhelp32.h>
#include "answer_times.h"
#include "client.h"
#include "intercept.h"
#include "process_usage.h"
#include "res/resource.h"
#include "run.h"
#include "stream_client.h"
#include "ui_script.h"
#include "vfwdrv.h"

static const char SettingsKey[] = "Software\\ORVANTA\\Multimedia\\Brightvane 7K42Q VideoIn";
static const char ParametersKey[] = "SYSTEM\\CurrentControlSet\\Services\\zentacap\\Parameters";
static const char PageKey[] = "System\\CurrentControlSet\\Services\\BV7K42Q\\Device0";
static const char *const SettingNames[15] = {"Format", "Width", "Height", "ScaleX", "ScaleY", "MirrorX", "MirrorY",
                                             "OffsetX", "OffsetY", "Source", "Hue", "Saturation", "Brightness",
                                             "Contrast", "DeviceName"};
static const char *const PageOptions[8] = {"EnableFastLine", "GlintDMA.Enabled", "GlintDMA.NumberOfBuffers",
                                           "GlintDMA.SizeOfBuffer", "3DExtensions.SupportGDISingle",
                                           "ExportSingleBufferedModes", "OpenGL.TextureCompression",
                                           "HardwareInformation.CurrentChipClockSpeed"};

// Failing system calls: each of the driver's imports below fails its next
// Budget[i] calls with ERROR_NOT_ENOUGH_MEMORY, as a low-resources simulation does.
static std::atomic<int> Budget[16];
static void *Real[16];
#define FAILING(i, type, name, params, args, failure)                                        \
    static type WINAPI Fail##name params                                                      \
    {                                                                                         \
        if (Budget[i] > 0) {                                                                  \
            Budget[i]--;                                                                      \
            SetLastError(ERROR_NOT_ENOUGH_MEMORY);                                            \
            return failure;                                                                   \
        }                                                                                     \
        return reinterpret_cast<type(WINAPI *) params>(Real[i]) args;                         \
    }
FAILING(0, HANDLE, CreateEventA, (LPSECURITY_ATTRIBUTES a, BOOL b, BOOL c, LPCSTR d), (a, b, c, d), NULL)
FAILING(1, HANDLE, CreateThread, (LPSECURITY_ATTRIBUTES a, SIZE_T b, LPTHREAD_START_ROUTINE c, LPVOID d, DWORD e,
        LPDWORD f), (a, b, c, d, e, f), NULL)
FAILING(2, LONG, RegOpenKeyExA, (HKEY a, LPCSTR b, DWORD c, REGSAM d, PHKEY e), (a, b, c, d, e), ERROR_OUTOFMEMORY)
FAILING(3, LONG, RegQueryValueExA, (HKEY a, LPCSTR b, LPDWORD c, LPDWORD d, LPBYTE e, LPDWORD f),
        (a, b, c, d, e, f), ERROR_OUTOFMEMORY)
FAILING(4, LONG, RegCreateKeyExA, (HKEY a, LPCSTR b, DWORD c, LPSTR d, DWORD e, REGSAM f, LPSECURITY_ATTRIBUTES g,
        PHKEY h, LPDWORD i), (a, b, c, d, e, f, g, h, i), ERROR_OUTOFMEMORY)
FAILING(5, LONG, RegSetValueExA, (HKEY a, LPCSTR b, DWORD c, DWORD d, const BYTE *e, DWORD f), (a, b, c, d, e, f),
        ERROR_OUTOFMEMORY)
FAILING(6, HANDLE, CreateFileA, (LPCSTR a, DWORD b, DWORD c, LPSECURITY_ATTRIBUTES d, DWORD e, DWORD f, HANDLE g),
        (a, b, c, d, e, f, g), INVALID_HANDLE_VALUE)
FAILING(7, BOOL, DeviceIoControl, (HANDLE a, DWORD b, LPVOID c, DWORD d, LPVOID e, DWORD f, LPDWORD g,
        LPOVERLAPPED h), (a, b, c, d, e, f, g, h), FALSE)
FAILING(8, BOOL, ReadFile, (HANDLE a, LPVOID b, DWORD c, LPDWORD d, LPOVERLAPPED e), (a, b, c, d, e), FALSE)
FAILING(9, INT_PTR, DialogBoxParamA, (HINSTANCE a, LPCSTR b, HWND c, DLGPROC d, LPARAM e), (a, b, c, d, e), -1)
// The text a thread asked for last, failing or not: the cause of the
// warning box it shows next.
static thread_local UINT AskedString;
static void *RealLoadString;
static int WINAPI LoadStringOf(HINSTANCE a, UINT b, LPSTR c, int d)
{
    AskedString = b;
    return reinterpret_cast<int(WINAPI *)(HINSTANCE, UINT, LPSTR, int)>(RealLoadString)(a, b, c, d);
}
FAILING(10, int, LoadStringA, (HINSTANCE a, UINT b, LPSTR c, int d), (a, b, c, d), 0)
FAILING(11, SC_HANDLE, OpenSCManagerA, (LPCSTR a, LPCSTR b, DWORD c), (a, b, c), NULL)
FAILING(12, SC_HANDLE, OpenServiceA, (SC_HANDLE a, LPCSTR b, DWORD c), (a, b, c), NULL)
FAILING(13, SC_HANDLE, CreateServiceA, (SC_HANDLE a, LPCSTR b, LPCSTR c, DWORD d, DWORD e, DWORD f, DWORD g,
        LPCSTR h, LPCSTR i, LPDWORD j, LPCSTR k, LPCSTR l, LPCSTR m), (a, b, c, d, e, f, g, h, i, j, k, l, m), NULL)
FAILING(14, BOOL, StartServiceA, (SC_HANDLE a, DWORD b, LPCSTR *c), (a, b, c), FALSE)
FAILING(15, BOOL, ControlService, (SC_HANDLE a, DWORD b, LPSERVICE_STATUS c), (a, b, c), FALSE)

static const struct { const char *dll; void *replacement; } Failing[16] = {
    {"kernel32.dll", (void *)FailCreateEventA}, {"kernel32.dll", (void *)FailCreateThread},
    {"advapi32.dll", (void *)FailRegOpenKeyExA}, {"advapi32.dll", (void *)FailRegQueryValueExA},
    {"advapi32.dll", (void *)FailRegCreateKeyExA}, {"advapi32.dll", (void *)FailRegSetValueExA},
    {"kernel32.dll", (void *)FailCreateFileA}, {"kernel32.dll", (void *)FailDeviceIoControl},
    {"kernel32.dll", (void *)FailReadFile}, {"user32.dll", (void *)FailDialogBoxParamA},
    {"user32.dll", (void *)FailLoadStringA}, {"advapi32.dll", (void *)FailOpenSCManagerA},
    {"advapi32.dll", (void *)FailOpenServiceA}, {"advapi32.dll", (void *)FailCreateServiceA},
    {"advapi32.dll", (void *)FailStartServiceA}, {"advapi32.dll", (void *)FailControlService},
};

// Warning boxes the driver shows, answered with OK at once: each with the
// string the driver asked for (its cause, whether or not the text loaded).
struct Box {
    UINT cause;
    std::string text;
};
static CRITICAL_SECTION BoxLock;
static std::vector<Box> Boxes;

static int WINAPI AnswerBox(HWND, LPCSTR text, LPCSTR, UINT)
{
    EnterCriticalSection(&BoxLock);
    Boxes.push_back({AskedString, text ? text : ""});
    LeaveCriticalSection(&BoxLock);
    return IDOK;
}

// The deliberately broken build: the wait for the capture thread returns at
// once, the look that follows finds it ended, and reads take 3 s (less than a
// stop may take), so that a thread outlives the close that ended it.
static DWORD WINAPI SkipWait(DWORD, const HANDLE *, BOOL, DWORD, DWORD)
{
    return WAIT_OBJECT_0;
}

static void *RealWait;

static DWORD WINAPI SkipLook(HANDLE object, DWORD ms)
{
    return ms ? reinterpret_cast<DWORD(WINAPI *)(HANDLE, DWORD)>(RealWait)(object, ms) : WAIT_OBJECT_0;
}

static void *RealSlowRead;

static BOOL WINAPI SlowRead(HANDLE a, LPVOID b, DWORD c, LPDWORD d, LPOVERLAPPED e)
{
    Sleep(3000);
    return reinterpret_cast<BOOL(WINAPI *)(HANDLE, LPVOID, DWORD, LPDWORD, LPOVERLAPPED)>(RealSlowRead)(a, b, c, d, e);
}

// What the run knows of the driver and the board between steps.
static struct Run {
    HMODULE module;
    DRIVERPROC proc;
    std::vector<std::unique_ptr<ImportPatch>> patches;
    bool open[5];             // instances 1 and 4 the driver gave out
    BoardFaults faults;
    bool installFailed;       // the last DRV_INSTALL failed: DRV_CONFIGURE shows no dialog
    bool warmedUp;            // the warm-up is over: the last close is checked
    std::string broke;        // the first invariant that did not hold
} R;

static void Broke(const char *format, const std::string &detail = "")
{
    if (R.broke.empty())
        R.broke = format + (detail.empty() ? "" : ": " + detail);
}

// Documented answers: Video for Windows codes for DVM_*, the installable-
// driver results for the DRV_* messages the host sends.
static bool Documented(UINT message, LRESULT result)
{
    switch (message) {
    case DRV_OPEN: return result == 0 || result == 1 || result == 4 || result == 9999;
    case DRV_CLOSE: return result == 0 || result == 1;
    case DRV_CONFIGURE: case DRV_INSTALL: case DRV_REMOVE:
        return result == DRVCNF_CANCEL || result == DRVCNF_OK || result == DRVCNF_RESTART;
    }
    return result >= DV_ERR_OK && result <= DV_ERR_LASTERROR;
}

// Every message is timed for the campaign's figures. One from the run's own
// thread unanswered for 20 s (45 s for the modal dialogs, which the script
// closes) ends the run as a hang: watchdogs for the slowest machine, far
// beyond the longest answers measured under emulation (1.5 s and 3.6 s),
// and within the campaign's own minute of silence.
static DWORD MainThread;
static std::atomic<DWORD> MessageDeadline; // tick count; 0 while none is under way
static std::atomic<UINT> MessageNumber;

static DWORD AnswerLimitMs(UINT message)
{
    return message == DRV_CONFIGURE || message == DVM_DIALOG ? 45000 : 20000;
}

static double Milliseconds(const LARGE_INTEGER &from)
{
    LARGE_INTEGER now, frequency;
    QueryPerformanceCounter(&now);
    QueryPerformanceFrequency(&frequency);
    return (now.QuadPart - from.QuadPart) * 1000.0 / frequency.QuadPart;
}

static LRESULT WINAPI TimedProc(DWORD_PTR id, HDRVR driver, UINT message, LPARAM p1, LPARAM p2)
{
    const bool watched = GetCurrentThreadId() == MainThread;
    UINT outerNumber = MessageNumber;
    DWORD outerDeadline = 0;
    if (watched) {
        MessageNumber = message;
        outerDeadline = MessageDeadline.exchange((GetTickCount() + AnswerLimitMs(message)) | 1);
    }
    LARGE_INTEGER start;
    QueryPerformanceCounter(&start);
    LRESULT result = R.proc(id, driver, message, p1, p2);
    RecordAnswer(message, Milliseconds(start));
    if (watched) {
        MessageDeadline = outerDeadline;
        MessageNumber = outerNumber;
    }
    return result;
}

static DWORD WINAPI Watchdog(LPVOID)
{
    for (;; Sleep(100)) {
        DWORD deadline = MessageDeadline;
        UINT message = MessageNumber;
        // A signed difference: a deadline still ahead never reads as long past
        // (Wine's tick count moves in steps of up to 16 ms). The same deadline
        // still standing: the message read belongs to it.
        if (deadline && static_cast<LONG>(GetTickCount() - deadline) > 0 && MessageDeadline == deadline) {
            std::printf("FAILED: hang: message 0x%X unanswered for %lu s\n", message, AnswerLimitMs(message) / 1000);
            std::fflush(stdout);
            TerminateProcess(GetCurrentProcess(), 3);
        }
    }
}

static LRESULT Call(DWORD_PTR id, UINT message, LPARAM p1 = 0, LPARAM p2 = 0)
{
    LRESULT result = TimedProc(id, reinterpret_cast<HDRVR>(0x4321), message, p1, p2);
    if (!Documented(message, result)) {
        char detail[64];
        std::snprintf(detail, sizeof detail, "message 0x%X answered %ld", message, static_cast<long>(result));
        Broke("an undocumented result", detail);
    }
    return result;
}

static void WriteRaw(HKEY root, const char *path, const char *name, DWORD type, const void *data, DWORD size)
{
    HKEY key;
    if (RegCreateKeyExA(root, path, 0, NULL, 0, KEY_WRITE, NULL, &key, NULL) == ERROR_SUCCESS) {
        RegSetValueExA(key, name, 0, type, static_cast<const BYTE *>(data), size);
        RegCloseKey(key);
    }
}

static void RestoreDeviceName()
{
    WriteRaw(HKEY_LOCAL_MACHINE, ParametersKey, "DeviceName", REG_SZ, BOARD_DEVICE_NAME, sizeof BOARD_DEVICE_NAME);
}

// The reads still to fail, as the board counts them down: a later step that
// sets other faults does not arm them again.
static void SyncReadFaults()
{
    BoardStatus status = {};
    if (GetBoardStatus(&status))
        R.faults.failReads = status.faults.failReads;
}

static void SetFaults()
{
    SyncReadFaults();
    SetBoardFaults(R.faults);
}

// Reads that will fail for want of memory, the board's or ReadFile's own
// (FailingCalls[8]): only they may bring the out-of-storage warning.
static bool StorageFaultArmed()
{
    BoardStatus status = {};
    return Budget[8] > 0 || (GetBoardStatus(&status) && status.faults.failReads &&
                             status.faults.failStatus == static_cast<int32_t>(0xC0000017));
}

// Threads of this process that started in zentacap.dll: its capture threads.
static DWORD DriverThreads()
{
    typedef LONG(WINAPI * QueryFn)(HANDLE, ULONG, PVOID, ULONG, PULONG);
    static const QueryFn query = reinterpret_cast<QueryFn>(
        reinterpret_cast<void *>(GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtQueryInformationThread")));
    MODULEINFO image = {};
    GetModuleInformation(GetCurrentProcess(), R.module, &image, sizeof image);
    const BYTE *first = static_cast<const BYTE *>(image.lpBaseOfDll), *end = first + image.SizeOfImage;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    THREADENTRY32 entry = {};
    entry.dwSize = sizeof entry;
    DWORD count = 0;
    for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry)) {
        if (entry.th32OwnerProcessID != GetCurrentProcessId())
            continue;
        HANDLE thread = OpenThread(THREAD_QUERY_INFORMATION, FALSE, entry.th32ThreadID);
        const BYTE *start = NULL; // ThreadQuerySetWin32StartAddress (9)
        if (thread && query && query(thread, 9, &start, sizeof start, NULL) >= 0)
            count += start >= first && start < end;
        if (thread)
            CloseHandle(thread);
    }
    CloseHandle(snapshot);
    return count;
}

// Wine delivers a device handle's close late, later still on a loaded
// machine: the board's count of openers gets there within this watchdog.
// (A capture thread, in contrast, is gone when the last close returns.)
static const DWORD LateCloseMs = 30000;

static BITMAPINFOHEADER FormatHeader(DWORD width, DWORD height, int code)
{
    BITMAPINFOHEADER h = {};
    h.biSize = sizeof h;
    h.biWidth = static_cast<LONG>(width);
    h.biHeight = static_cast<LONG>(height);
    h.biPlanes = 1;
    h.biBitCount = code == 3 ? 32 : code == 0 ? 24 : 16;
    h.biCompression = code == 1 ? mmioFOURCC('Y', 'U', 'Y', '2') : code == 4 ? mmioFOURCC('M', 'J', 'P', 'G') : BI_RGB;
    h.biSizeImage = (h.biBitCount * width + 31) / 32 * 4 * height;
    return h;
}

static DWORD SendFormat(DWORD flags, BITMAPINFOHEADER *h, DWORD size)
{
    VIDEOCONFIGPARMS parms = {NULL, h, size, NULL, 0};
    return static_cast<DWORD>(Call(VIDEO_IN, DVM_FORMAT, flags, reinterpret_cast<LPARAM>(&parms)));
}

static DWORD FrameBytes()
{
    BITMAPINFOHEADER h = {};
    return R.open[4] && SendFormat(VIDEO_CONFIGURE_GET | VIDEO_CONFIGURE_CURRENT, &h, sizeof h) == DV_ERR_OK &&
           h.biSizeImage && h.biSizeImage <= 640 * 480 * 4 ? h.biSizeImage : 640 * 480 * 4;
}

static void Open(int type)
{
    VIDEO_OPEN_PARMS open = {sizeof open, mmioFOURCC('v', 'c', 'a', 'p'), 0, 0x0300, static_cast<DWORD>(type),
                             0xDEADBEEF, NULL, NULL, 0};
    bool wasOpen = (type == 1 || type == 4) && R.open[type];
    LRESULT id = Call(0, DRV_OPEN, 0, reinterpret_cast<LPARAM>(&open));
    if (id == 1 || id == 4) {
        if (id != type || wasOpen)
            Broke("an open gave out the wrong or a busy instance");
        R.open[id] = true;
    } else if (id == 0 && wasOpen && open.dwError != 0) {
        Broke("the open of a busy channel set dwError");
    } else if (id == 0 && !wasOpen && (type == 1 || type == 4) && open.dwError != DV_ERR_NOTDETECTED) {
        Broke("a refused open did not say DV_ERR_NOTDETECTED");
    }
}

static void Close(int id)
{
    if (!R.open[id])
        return; // a host closes only what it opened
    if (Call(id, DRV_CLOSE) != 1)
        Broke("the close of an open channel did not answer 1");
    R.open[id] = false;
    // The last close waits for the capture thread: none may be left to end later.
    if (R.warmedUp && !R.open[1] && !R.open[4] && !Eventually([] { return DriverThreads() == 0; }, 500))
        Broke("a thread of the driver still runs after the last close");
}

// The stream's own contract, read from its client's record of callbacks.
static void CheckStream(StreamClient &client, bool started)
{
    std::vector<StreamEvent> events = client.Events();
    if (!started) {
        if (!events.empty())
            Broke("callbacks from a stream that did not start");
        return;
    }
    if (events.empty() || events.front().message != MM_DRVM_OPEN || events.back().message != MM_DRVM_CLOSE)
        Broke("the stream did not begin with MM_DRVM_OPEN and end with MM_DRVM_CLOSE");
    std::vector<VIDEOHDR *> added = client.Added();
    for (size_t i = 0; i < events.size(); i++) {
        if (i + 1 < events.size() && events[i].message == MM_DRVM_CLOSE)
            Broke("a callback after MM_DRVM_CLOSE");
        if (events[i].message != MM_DRVM_DATA)
            continue;
        long adds = 0, returns = 0;
        for (VIDEOHDR *h : added)
            adds += h == events[i].header;
        for (size_t j = 0; j <= i; j++)
            returns += events[j].message == MM_DRVM_DATA && events[j].header == events[i].header;
        if (returns > adds)
            Broke("a header handed back more often than it was added");
    }
    Sleep(100);
    if (client.Events().size() != events.size())
        Broke("a callback after MM_DRVM_CLOSE");
}

static DWORD WINAPI StopFromAnotherThread(LPVOID client)
{
    static_cast<StreamClient *>(client)->Send(DVM_STREAM_STOP);
    return 0;
}

static void Stream(const Step &s)
{
    int channel = R.open[4] ? 4 : R.open[1] ? 1 : 0;
    if (!channel)
        return;
    DWORD bytes = s.b == 0 ? FrameBytes() : s.b == 1 ? FrameBytes() / 2 : 16;
    int ms = s.c / 3, how = s.c % 3;
    StreamClient client(TimedProc, channel, s.a, bytes);
    client.readdInCallback = true;
    DWORD init = client.Init();
    if (init != DV_ERR_OK && init != DV_ERR_NONSPECIFIC)
        Broke("DVM_STREAM_INIT answered neither 0 nor a refused restart");
    for (VIDEOHDR &h : client.headers)
        if (!Documented(DVM_STREAM_ADDBUFFER, client.Add(&h)))
            Broke("an undocumented result of DVM_STREAM_ADDBUFFER");
    DWORD start = client.Send(DVM_STREAM_START);
    if (start != DV_ERR_OK && start != DV_ERR_NOMEM)
        Broke("DVM_STREAM_START answered neither 0 nor DV_ERR_NOMEM");
    Sleep(ms);
    if (how == 2) {
        // The last close ends a running stream; the channels open again after it.
        bool was[5] = {false, R.open[1], false, false, R.open[4]};
        Close(1);
        Close(4);
        if (start == DV_ERR_OK && !client.WaitForClose(AnswerLimitMs(DVM_STREAM_STOP)))
            Broke("the last close did not end the running stream");
        for (int id : {1, 4})
            if (was[id])
                Open(id);
    } else {
        if (how == 1) {
            HANDLE thread = CreateThread(NULL, 0, StopFromAnotherThread, &client, 0, NULL);
            WaitForSingleObject(thread, INFINITE);
            CloseHandle(thread);
        } else {
            client.Send(DVM_STREAM_STOP);
        }
        if (start == DV_ERR_OK && !client.WaitForClose(AnswerLimitMs(DVM_STREAM_STOP)))
            Broke("hang: a stopped stream did not end");
        Call(channel, DVM_STREAM_FINI);
    }
    CheckStream(client, start == DV_ERR_OK);
}

static void Frame(const Step &s)
{
    if (!R.open[4])
        return;
    std::vector<BYTE> buffer(s.a == 0 ? FrameBytes() : s.a == 1 ? FrameBytes() / 2 : 16);
    VIDEOHDR h = {};
    h.lpData = buffer.data();
    h.dwBufferLength = static_cast<DWORD>(buffer.size());
    if (Call(4, DVM_FRAME, reinterpret_cast<LPARAM>(&h), sizeof h) == DV_ERR_OK &&
        (!(h.dwFlags & VHDR_DONE) || h.dwBytesUsed > h.dwBufferLength))
        Broke("a single frame came back without VHDR_DONE or with more bytes than its buffer");
}

// Stored settings stay inside the ranges that loading clamps them to.
static void CheckStoredRanges()
{
    static const struct { const char *name; DWORD low, high; } Ranges[] = {
        {"Width", 80, 640}, {"Height", 60, 480}, {"ScaleX", 0, 3}, {"ScaleY", 0, 3}, {"MirrorX", 0, 1},
        {"MirrorY", 0, 1}, {"OffsetX", 0, 159}, {"OffsetY", 0, 119}};
    HKEY key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, SettingsKey, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
        return;
    for (const auto &range : Ranges) {
        DWORD value = 0, type = 0, size = sizeof value;
        if (RegQueryValueExA(key, range.name, NULL, &type, reinterpret_cast<BYTE *>(&value), &size) == ERROR_SUCCESS &&
            type == REG_DWORD && (value < range.low || value > range.high))
            Broke("a stored setting outside its range", range.name);
    }
    RegCloseKey(key);
}

static void Dialog(const Step &s)
{
    static const char *const Captions[3] = {"Brightvane 7K42Q VideoIn Source", "Brightvane 7K42Q VideoIn Format",
                                            "Brightvane 7K42Q VideoIn"};
    int channel = s.a == 0 ? 1 : 4;
    bool opened = s.a < 2 && !R.open[channel];
    if (opened)
        Open(channel);
    if (s.a < 2 && !R.open[channel])
        return;
    if (s.a == 2 && R.installFailed) {
        // After a DRV_INSTALL that failed, DRV_CONFIGURE shows nothing.
        if (Call(0, DRV_CONFIGURE) != DRVCNF_OK)
            Broke("DRV_CONFIGURE after a failed installation did not answer 1");
        return;
    }
    int dialogFailures = Budget[9];
    bool closed = RunModal([&] {
        if (s.a == 2)
            Call(0, DRV_CONFIGURE);
        else
            Call(channel, DVM_DIALOG, 0, 0);
    }, {[&] {
        // The Settings and About dialogs end only through OK.
        for (HWND dialog : {FindDialog(Captions[s.a]), FindDialog("Brightvane 7K42Q VideoIn Settings"),
                            FindDialog("Brightvane 7K42Q VideoIn About")})
            if (dialog) {
                SendClick(dialog, s.b || s.a == 2 ? IDOK : IDCANCEL);
                return true;
            }
        return false;
    }}, AnswerLimitMs(DVM_DIALOG));
    if (!closed && dialogFailures == Budget[9])
        Broke("a dialog did not appear or did not close");
    if (opened)
        Close(channel);
    // What the Format dialog's OK stores is the driver's; the campaign's own
    // hostile values are not.
    if (s.a == 1 && s.b && closed)
        CheckStoredRanges();
}

static void Install(const Step &s)
{
    if (R.open[1] || R.open[4])
        return; // a driver in use is not removed
    SyncReadFaults(); // the board restarts in its power-on state
    LRESULT result = Call(0, s.a ? DRV_REMOVE : DRV_INSTALL);
    if (!s.a)
        R.installFailed = result != DRVCNF_OK;
    RegisterBoard();
    StartBoard();
    RestoreDeviceName();
    SetBoardFaults(R.faults);
}

static void Setting(const Step &s)
{
    const char *name = SettingNames[s.a];
    if (s.a == 14) {
        static const struct { DWORD type; const char *text; DWORD size; } Forms[6] = {
            {REG_NONE, NULL, 0}, {REG_EXPAND_SZ, BOARD_DEVICE_NAME, sizeof BOARD_DEVICE_NAME}, {REG_SZ, "", 1},
            {REG_SZ, "ZentacapVideo0ZentacapVideo0", 29}, {REG_SZ, "ZentacapVideo0ZentacapV", 22},
            {REG_SZ, BOARD_DEVICE_NAME, sizeof BOARD_DEVICE_NAME}};
        if (Forms[s.b].type == REG_NONE) {
            HKEY key;
            if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, ParametersKey, 0, KEY_SET_VALUE, &key) == ERROR_SUCCESS) {
                RegDeleteValueA(key, name);
                RegCloseKey(key);
            }
        } else {
            WriteRaw(HKEY_LOCAL_MACHINE, ParametersKey, name, Forms[s.b].type, Forms[s.b].text, Forms[s.b].size);
        }
        return;
    }
    static const BYTE Long[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    static const DWORD Low = 0x80000000, High = 0xFFFFFFFF;
    switch (s.b) {
    case 0: {
        HKEY key;
        if (RegOpenKeyExA(HKEY_CURRENT_USER, SettingsKey, 0, KEY_SET_VALUE, &key) == ERROR_SUCCESS) {
            RegDeleteValueA(key, name);
            RegCloseKey(key);
        }
        break;
    }
    case 1: WriteRaw(HKEY_CURRENT_USER, SettingsKey, name, REG_SZ, "12", 3); break;
    case 2: WriteRaw(HKEY_CURRENT_USER, SettingsKey, name, REG_DWORD, Long, 2); break;
    case 3: WriteRaw(HKEY_CURRENT_USER, SettingsKey, name, REG_DWORD, Long, 8); break;
    case 4: WriteRaw(HKEY_CURRENT_USER, SettingsKey, name, REG_DWORD, &Low, 4); break;
    default: WriteRaw(HKEY_CURRENT_USER, SettingsKey, name, REG_DWORD, &High, 4); break;
    }
}

// A program of the build, waited for; its exit status, or -1 when it hung.
static long RunProgram(const std::string &line, DWORD ms, DWORD killAfterMs = 0)
{
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process;
    std::string command = line;
    if (!CreateProcessA(NULL, &command[0], NULL, NULL, FALSE, CREATE_NO_WINDOW, NULL, NULL, &startup, &process))
        return -2;
    DWORD status = 0;
    if (killAfterMs && WaitForSingleObject(process.hProcess, killAfterMs) == WAIT_TIMEOUT) {
        TerminateProcess(process.hProcess, 9);
        WaitForSingleObject(process.hProcess, INFINITE);
        status = 9;
    } else if (WaitForSingleObject(process.hProcess, ms) == WAIT_TIMEOUT) {
        TerminateProcess(process.hProcess, 9);
        status = static_cast<DWORD>(-1);
    } else {
        GetExitCodeProcess(process.hProcess, &status);
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return static_cast<long>(status);
}

static std::string TempFile(const char *name)
{
    char folder[MAX_PATH];
    GetTempPathA(sizeof folder, folder);
    return std::string(folder) + name;
}

// A crash of a program ends it with an exception code.
static bool Crashed(long status)
{
    return static_cast<DWORD>(status) >= 0xC0000000u;
}

static void Contend(const Step &s)
{
    std::string avi = "\"" + TempFile("contend.avi") + "\"";
    std::string record = "capture.exe --format rgb15 --size 160x120 ";
    // The clients record on a working board with the stored settings cleared:
    // a stored zoom of 3 leaves no room for their 160 x 120.
    RestoreDeviceName();
    RegDeleteKeyA(HKEY_CURRENT_USER, SettingsKey);
    R.faults = BoardFaults{};
    R.faults.freeRunning = 1;
    SetBoardFaults(R.faults);
    if (s.a == 0) {
        // A second client while this one streams: it ends, whatever it is told.
        StreamClient client(TimedProc, R.open[4] ? 4 : 1, 2, FrameBytes());
        bool streaming = (R.open[4] || R.open[1]) && client.Init() == DV_ERR_OK && client.AddAll() == DV_ERR_OK &&
                         client.Send(DVM_STREAM_START) == DV_ERR_OK;
        long status = RunProgram(record + "--frames 5 " + avi, 30000);
        if (status == -1 || Crashed(status))
            Broke("a second client hung or crashed");
        if (streaming) {
            client.Send(DVM_STREAM_STOP);
            if (!client.WaitForClose(AnswerLimitMs(DVM_STREAM_STOP)))
                Broke("hang: a stopped stream did not end");
            Call(R.open[4] ? 4 : 1, DVM_STREAM_FINI);
        }
        return;
    }
    // A client killed mid-stream; the next one must work.
    Close(1);
    Close(4);
    RunProgram(record + "--seconds 60 " + avi, 30000, 2000);
    if (!Eventually([] { BoardStatus status = {}; return GetBoardStatus(&status) && status.openers == 0; }, LateCloseMs))
        Broke("a killed client's device stayed open");
    long status = RunProgram(record + "--frames 3 " + avi, 30000);
    if (status != 0)
        Broke("the client after a killed one did not work", std::to_string(status));
    DeleteFileA(TempFile("contend.avi").c_str());
}

static void Page(const Step &s)
{
    if (s.a == 8) {
        RegDeleteKeyA(HKEY_LOCAL_MACHINE, PageKey);
    } else {
        static const BYTE Bytes[16] = {};
        if (s.b == 0) WriteRaw(HKEY_LOCAL_MACHINE, PageKey, PageOptions[s.a], REG_SZ, "64", 3);
        if (s.b == 1) WriteRaw(HKEY_LOCAL_MACHINE, PageKey, PageOptions[s.a], REG_DWORD, Bytes, 1);
        if (s.b == 2) WriteRaw(HKEY_LOCAL_MACHINE, PageKey, PageOptions[s.a], REG_BINARY, Bytes, 16);
        if (s.b == 3) {
            HKEY key;
            if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, PageKey, 0, KEY_SET_VALUE, &key) == ERROR_SUCCESS) {
                RegDeleteValueA(key, PageOptions[s.a]);
                RegCloseKey(key);
            }
        }
    }
    long status = RunProgram("panelhost.exe --screenshot \"" + TempFile("page.png") + "\"", 30000);
    if (status == -1 || Crashed(status))
        Broke("the page hung or crashed on hostile options", std::to_string(status));
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, PageKey);
}

static void RunStep(const Step &s)
{
    switch (s.kind) {
    case STEP_OPEN: Open(s.a); break;
    case STEP_CLOSE: Close(s.a); break;
    case STEP_FORMAT_GET:
        if (R.open[4]) {
            std::vector<BYTE> record(s.a + 1, 0x55);
            DWORD result = SendFormat(VIDEO_CONFIGURE_GET | VIDEO_CONFIGURE_CURRENT,
                                         reinterpret_cast<BITMAPINFOHEADER *>(record.data()), s.a);
            if ((result == DV_ERR_OK) != (s.a >= 40) || record[s.a] != 0x55)
                Broke("a format get wrote past its record or refused a whole one");
        }
        break;
    case STEP_FORMAT_SET:
        if (R.open[4]) {
            BITMAPINFOHEADER before = {}, set = FormatHeader(s.a, s.b, s.c), after = {};
            SendFormat(VIDEO_CONFIGURE_GET | VIDEO_CONFIGURE_CURRENT, &before, sizeof before);
            DWORD result = SendFormat(VIDEO_CONFIGURE_SET, &set, sizeof set);
            SendFormat(VIDEO_CONFIGURE_GET | VIDEO_CONFIGURE_CURRENT, &after, sizeof after);
            if (memcmp(&after, result == DV_ERR_OK ? &set : &before, sizeof after))
                Broke(result == DV_ERR_OK ? "a get did not give back what was set" : "a refused set changed the format");
        }
        break;
    case STEP_STREAM: Stream(s); break;
    case STEP_FRAME: Frame(s); break;
    case STEP_DIALOG: Dialog(s); break;
    case STEP_INSTALL: Install(s); break;
    case STEP_ABSENT: R.faults.absent = s.a; SetFaults(); break;
    case STEP_FAIL_READS:
        R.faults.failReads = s.a;
        R.faults.failStatus = s.b ? static_cast<int32_t>(0xC0000185) : static_cast<int32_t>(0xC0000017);
        SetBoardFaults(R.faults);
        break;
    case STEP_REFUSE:
        R.faults.refuseCode = s.a == 1 ? IOCTL_SET_FORMAT : s.a == 2 ? IOCTL_SET_SOURCE : s.a == 3 ? IOCTL_RESTART_VIDEO : 0;
        SetFaults();
        break;
    case STEP_PACE: R.faults.freeRunning = s.a; SetFaults(); break;
    case STEP_SETTING: Setting(s); break;
    case STEP_SYSCALL:
        Budget[s.a] = s.b;
        break;
    case STEP_CONTEND: Contend(s); break;
    case STEP_PAGE: Page(s); break;
    }
}

// After every step: warning boxes only where the design shows them (the
// out-of-storage one while such read failures were armed); with no channel
// open, no capture thread left and the device released.
static void CheckAfterStep(bool storageFault)
{
    EnterCriticalSection(&BoxLock);
    std::vector<Box> boxes;
    boxes.swap(Boxes);
    LeaveCriticalSection(&BoxLock);
    for (const Box &box : boxes) {
        if (!storageFault || box.cause != IDS_NO_STORAGE)
            Broke("a warning box where the design shows none", std::to_string(box.cause) + " " + box.text);
        else if (box.text.empty())
            Broke("a warning box with no text");
    }
    if (R.open[1] || R.open[4])
        return;
    if (!Eventually([] { return DriverThreads() == 0; }, 2000))
        Broke("a thread of the driver still runs after the last close");
    if (!Eventually([] { BoardStatus status = {}; return GetBoardStatus(&status) && status.openers == 0; }, LateCloseMs))
        Broke("the device is still open after the last close");
}

// Wine's own noise over a schedule (its server caches, GDI and the dialogs'
// first use): allowed on top of the usage measured after the warm-up.
static const DWORD HandleAllowance = 32;
static const SIZE_T PrivateAllowance = 2u << 20;

// What earlier schedules, tests or killed clients may have left: the board,
// the stored settings, the page's options and the files of the steps.
static std::string ResetState()
{
    RegisterBoard();
    StartBoard();
    if (!ResetBoard())
        return "the board does not answer";
    R.faults.freeRunning = 1;
    SetBoardFaults(R.faults);
    RestoreDeviceName();
    RegDeleteKeyA(HKEY_CURRENT_USER, SettingsKey);
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, PageKey);
    DeleteFileA(TempFile("contend.avi").c_str());
    DeleteFileA(TempFile("page.png").c_str());
    BoardStatus status = {};
    if (!Eventually([&] { return GetBoardStatus(&status) && status.openers == 0; }, LateCloseMs))
        return "the device was still open when the schedule began (" + std::to_string(status.openers) + " handles)";
    return "";
}

static void PatchImports(bool broken)
{
    for (int i = 0; i < FailingCallCount; i++) {
        R.patches.emplace_back(new ImportPatch(R.module, Failing[i].dll, FailingCalls[i], Failing[i].replacement));
        Real[i] = R.patches.back()->original;
        Budget[i] = 0;
    }
    R.patches.emplace_back(new ImportPatch(R.module, "user32.dll", "LoadStringA", (void *)LoadStringOf));
    RealLoadString = R.patches.back()->original;
    if (broken) {
        R.patches.emplace_back(new ImportPatch(R.module, "user32.dll", "MsgWaitForMultipleObjects", (void *)SkipWait));
        R.patches.emplace_back(new ImportPatch(R.module, "kernel32.dll", "WaitForSingleObject", (void *)SkipLook));
        RealWait = R.patches.back()->original;
        R.patches.emplace_back(new ImportPatch(R.module, "kernel32.dll", "ReadFile", (void *)SlowRead));
        RealSlowRead = R.patches.back()->original;
    }
}

ScheduleResult RunSchedule(const std::vector<Step> &steps, bool broken)
{
    ScheduleResult result;
    InitializeCriticalSection(&BoxLock);
    while (!R.patches.empty()) // undone in reverse: patches of one import stack
        R.patches.pop_back();
    R = Run{};
    if (!(result.harness = ResetState()).empty())
        return result;
    R.module = LoadLibraryA("zentacap.dll");
    R.proc = reinterpret_cast<DRIVERPROC>(reinterpret_cast<void *>(GetProcAddress(R.module, "DriverProc")));
    if (!R.proc) {
        result.harness = "zentacap.dll cannot be loaded";
        return result;
    }
    MainThread = GetCurrentThreadId();
    CloseHandle(CreateThread(NULL, 0, Watchdog, NULL, 0, NULL));
    R.patches.emplace_back(new ImportPatch(R.module, "user32.dll", "MessageBoxA", (void *)AnswerBox));

    // Warm-up, on the whole build: the first open, stream and dialog class
    // allocate what Wine keeps. Its failure is the harness's, not a verdict.
    RunStep({STEP_OPEN, 4, 0, 0});
    RunStep({STEP_STREAM, 2, 2, 30 * 3});
    RunStep({STEP_DIALOG, 1, 0, 0});
    RunStep({STEP_CLOSE, 4, 0, 0});
    EnterCriticalSection(&BoxLock);
    if (!Boxes.empty())
        Broke("a warning box", Boxes.front().text);
    Boxes.clear();
    LeaveCriticalSection(&BoxLock);
    if (!R.broke.empty()) {
        result.harness = "the warm-up failed: " + R.broke;
        return result;
    }
    PatchImports(broken);
    R.warmedUp = true;
    result.before = MeasureProcess();
    if (!result.before.handles || !result.before.privateBytes) {
        result.harness = "this system does not tell the process's handles and private memory";
        return result;
    }
    for (size_t i = 0; i < steps.size() && R.broke.empty(); i++) {
        std::printf("step %u: %s\n", static_cast<unsigned>(i + 1), StepText(steps[i]).c_str());
        std::fflush(stdout); // the campaign's watchdog reads these
        bool storageFault = StorageFaultArmed();
        RunStep(steps[i]);
        CheckAfterStep(storageFault || StorageFaultArmed());
        if (!R.broke.empty())
            R.broke = "step " + std::to_string(i + 1) + " (" + StepText(steps[i]) + "): " + R.broke;
    }
    std::fill(std::begin(Budget), std::end(Budget), 0);
    Close(1);
    Close(4);
    RestoreDeviceName();
    RegDeleteKeyA(HKEY_CURRENT_USER, SettingsKey);
    result.after = MeasureProcess();
    if (R.broke.empty() && (result.after.handles > result.before.handles + HandleAllowance ||
                            result.after.privateBytes > result.before.privateBytes + PrivateAllowance)) {
        char detail[96];
        std::snprintf(detail, sizeof detail, "leak: handles %lu to %lu, private bytes %lu to %lu",
                      result.before.handles, result.after.handles,
                      static_cast<unsigned long>(result.before.privateBytes),
                      static_cast<unsigned long>(result.after.privateBytes));
        R.broke = detail;
    }
    ResetBoard();
    result.broke = R.broke;
    return result;
}
