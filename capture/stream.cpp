// Stream engine: the client's headers queued in a ring, filled straight from
// the device by one capture thread and handed back through DriverCallback;
// and single frames on the caller's thread.
//
// What the host's threads and the capture thread share is atomic or ordered
// by queuedCount (a slot is written before the add is published) and
// completedCount (a slot is reused only after the thread has finished with it).
// Under Wine every event operation is a round trip to the wineserver, so the
// frame path uses none: the thread polls the stop flag that DVM_STREAM_STOP
// sets beside signalling the event, and adds signal only a waiting thread.
#include "stream.h"
#include "module.h"
#include "warnings.h"

extern "C" BOOL WINAPI DriverCallback(DWORD_PTR callback, DWORD flags, HDRVR device, DWORD message,
                                      DWORD_PTR instance, DWORD_PTR param1, DWORD_PTR param2);

// 1 from the out-of-storage warning until the next good read.
static std::atomic<LONG> FrameMemoryWarningShown;

// Adds come from the host's threads and from callbacks on the capture thread.
// The same lock orders a stop's signals before the thread closes its events:
// a closed handle, whose value the host may hold next, is never signalled.
static CRITICAL_SECTION StreamLock;

void InitStreamEngine()
{
    InitializeCriticalSection(&StreamLock);
}

void EndStreamEngine()
{
    DeleteCriticalSection(&StreamLock);
}

// A header must reach at least up to dwFlags, the last field the engine writes.
static const DWORD HeaderSizeUsed = offsetof(VIDEOHDR, dwFlags) + sizeof(DWORD);

// One frame into the header's buffer; a read that fails for want of memory
// gives a zero-filled frame and warns once.
static BOOL ReadFrame(HANDLE device, VIDEOHDR *header)
{
    if (ReadFile(device, header->lpData, header->dwBufferLength, &header->dwBytesUsed, NULL)) {
        FrameMemoryWarningShown.store(0);
    } else if (GetLastError() == ERROR_NOT_ENOUGH_MEMORY) {
        // Once per run of such failures; the frame becomes a zero-filled one.
        if (FrameMemoryWarningShown.exchange(1) == 0)
            ShowDriverWarning(IDS_NO_STORAGE);
        ZeroMemory(header->lpData, header->dwBufferLength);
    } else {
        return FALSE;
    }
    header->dwFlags |= VHDR_DONE;
    return TRUE;
}

static bool OnCaptureThread(const CaptureStream &s)
{
    return s.captureThread && GetCurrentThreadId() == s.captureThreadId;
}

static bool CaptureThreadRunning(const CaptureStream &s)
{
    return s.captureThread && WaitForSingleObject(s.captureThread, 0) != WAIT_OBJECT_0;
}

static void RequestStop(CaptureStream &s)
{
    s.stopRequested.store(1);
    EnterCriticalSection(&StreamLock);
    if (HANDLE stop = s.stopEvent.load())
        SetEvent(stop);
    if (HANDLE wake = s.wakeEvent.load())
        SetEvent(wake);
    LeaveCriticalSection(&StreamLock);
}

// Takes the event out of the record under the lock, then closes it.
static void CloseStreamEvent(std::atomic<HANDLE> &field)
{
    EnterCriticalSection(&StreamLock);
    HANDLE event = field.exchange(NULL);
    LeaveCriticalSection(&StreamLock);
    if (event)
        CloseHandle(event);
}

// Waits for the capture thread to end, still answering messages sent to this
// thread so that a callback that sends one cannot deadlock the two.
static void JoinCaptureThread(CaptureStream &s)
{
    while (MsgWaitForMultipleObjects(1, &s.captureThread, FALSE, INFINITE, QS_SENDMESSAGE) == WAIT_OBJECT_0 + 1) {
        MSG msg;
        PeekMessageA(&msg, NULL, 0, 0, PM_NOREMOVE);
    }
    CloseHandle(s.captureThread);
    s.captureThread = NULL;
}

BOOL EndCaptureThread(CaptureStream &s)
{
    if (OnCaptureThread(s)) {
        RequestStop(s);
        s.threadClosesDevice = TRUE;
        return FALSE;
    }
    if (s.captureThread) {
        RequestStop(s);
        JoinCaptureThread(s);
    }
    CloseStreamEvent(s.wakeEvent);
    return TRUE;
}

void ForgetStream(CaptureStream &s)
{
    if (s.captureThread && !OnCaptureThread(s))
        JoinCaptureThread(s); // a thread still ending after the last close
    s.queuedCount.store(0);
    s.completedCount.store(0);
    s.streamInit = VIDEO_STREAM_INIT_PARMS{};
}

// Waits, without using the processor, until header number n has been added;
// false when the stream is to stop instead.
static bool WaitForHeader(CaptureStream &s, LONG n, HANDLE stop)
{
    HANDLE events[2] = {stop, s.wakeEvent.load()};
    while (s.queuedCount.load() <= n) {
        if (s.stopRequested.load())
            return false;
        // Announce the wait, then look again: an add either sees the
        // announcement and signals, or is seen here.
        s.threadWaiting.store(1);
        DWORD woke = s.queuedCount.load() > n ? WAIT_OBJECT_0 + 1 : WaitForMultipleObjects(2, events, FALSE, INFINITE);
        s.threadWaiting.store(0);
        if (woke != WAIT_OBJECT_0 + 1)
            return false; // the stop event, or a wait that failed
    }
    return true;
}

static DWORD WINAPI CaptureThreadProc(LPVOID param)
{
    CaptureStream &s = *static_cast<CaptureStream *>(param);
    const DWORD_PTR callback = s.streamInit.dwCallback, instance = s.streamInit.dwCallbackInst;
    const DWORD type = HIWORD(s.streamInit.dwFlags);
    const HDRVR video = reinterpret_cast<HDRVR>(s.streamInit.hVideo);
    const HANDLE device = s.threadDevice;

    DriverCallback(callback, type, video, MM_DRVM_OPEN, instance, 0, 0);
    HANDLE stop = CreateEventA(NULL, FALSE, FALSE, NULL);
    s.stopEvent.store(stop);
    for (LONG n = s.completedCount.load(); WaitForHeader(s, n, stop); n++) {
        VIDEOHDR *header = s.ring[n % STREAM_RING_SLOTS];
        BOOL read = ReadFrame(device, header);
        s.completedCount.store(n + 1, std::memory_order_release); // the slot is free again
        if (read)
            DriverCallback(callback, type, video, MM_DRVM_DATA, instance, reinterpret_cast<DWORD_PTR>(header), 0);
        if (s.stopRequested.load())
            break;
    }
    CloseStreamEvent(s.stopEvent);
    DriverCallback(callback, type, video, MM_DRVM_CLOSE, instance, 0, 0);
    if (s.threadClosesDevice) {
        CloseDeviceHandle(device);
        CloseStreamEvent(s.wakeEvent);
    }
    // The thread's own reference: a last close from its callback may have
    // released the host's, and the code after it is the library's.
    FreeLibraryAndExitThread(ModuleInstance, 0);
}

// The record's size is tested before any of its fields is read: a shorter
// record may end where readable memory ends.
static DWORD CheckHeader(const VIDEOHDR *header, DWORD size)
{
    if (!header)
        return DV_ERR_PARAM1;
    if (size < HeaderSizeUsed)
        return DV_ERR_PARAM2;
    return header->lpData ? DV_ERR_OK : DV_ERR_PARAM1;
}

static DWORD AddBuffer(CaptureStream &s, VIDEOHDR *header, DWORD size)
{
    if (DWORD error = CheckHeader(header, size))
        return error;
    EnterCriticalSection(&StreamLock);
    DWORD result = DV_ERR_NO_BUFFERS;
    LONG queued = s.queuedCount.load(std::memory_order_relaxed);
    // At most a ring's worth outstanding: the slot to fill has been read.
    if (queued - s.completedCount.load(std::memory_order_acquire) < STREAM_RING_SLOTS) {
        s.ring[queued % STREAM_RING_SLOTS] = header;
        s.queuedCount.store(queued + 1); // sequentially consistent with threadWaiting
        result = DV_ERR_OK;
    }
    HANDLE wake = s.wakeEvent.load();
    if (result == DV_ERR_OK && wake && s.threadWaiting.load())
        SetEvent(wake);
    LeaveCriticalSection(&StreamLock);
    return result;
}

static DWORD InitStream(CaptureStream &s, HANDLE device, const VIDEO_STREAM_INIT_PARMS *parms, DWORD size)
{
    if (!parms)
        return DV_ERR_PARAM1;
    if (size < sizeof *parms)
        return DV_ERR_PARAM2;
    if (CaptureThreadRunning(s)) {
        if (OnCaptureThread(s))
            return DV_ERR_STILLPLAYING; // from its own callback: stop first
        RequestStop(s);
    }
    if (s.captureThread)
        JoinCaptureThread(s); // the old stream ends, with its MM_DRVM_CLOSE
    s.stopEvent.store(NULL);
    s.queuedCount.store(0);
    s.completedCount.store(0);
    s.streamInit = *parms;
    return RestartVideo(device) ? DV_ERR_OK : DV_ERR_NONSPECIFIC;
}

static DWORD StartStream(CaptureStream &s, HANDLE device)
{
    if (CaptureThreadRunning(s)) {
        if (!s.stopRequested.load() || OnCaptureThread(s))
            return DV_ERR_OK; // already streaming: one capture thread at a time
    }
    if (s.captureThread)
        JoinCaptureThread(s); // a stopping thread ends before the next starts
    if (!s.wakeEvent.load())
        s.wakeEvent.store(CreateEventA(NULL, FALSE, FALSE, NULL));
    if (!s.wakeEvent.load())
        return DV_ERR_NOMEM;
    s.stopRequested.store(0);
    s.threadClosesDevice = FALSE;
    s.threadDevice = device;
    // The capture thread holds a reference to the library until it ends.
    char path[MAX_PATH];
    if (!GetModuleFileNameA(ModuleInstance, path, sizeof path) || !LoadLibraryA(path))
        return DV_ERR_NOMEM;
    s.captureThread = CreateThread(NULL, 0, CaptureThreadProc, &s, 0, &s.captureThreadId);
    if (!s.captureThread)
        FreeLibrary(ModuleInstance);
    return s.captureThread ? DV_ERR_OK : DV_ERR_NOMEM; // no thread, no stream: the start failed
}

DWORD HandleStreamMessage(CaptureStream &s, HANDLE device, UINT message, LPARAM lParam1, LPARAM lParam2)
{
    switch (message) {
    case DVM_STREAM_ADDBUFFER:
        return AddBuffer(s, reinterpret_cast<VIDEOHDR *>(lParam1), static_cast<DWORD>(lParam2));
    case DVM_STREAM_FINI:
    case DVM_STREAM_RESET:
    case DVM_STREAM_UNPREPAREHEADER:
        // After a stop the host frees its buffers and headers next, as the
        // capture window does: the thread has ended before the answer.
        if (s.stopRequested.load() && s.captureThread && !OnCaptureThread(s))
            JoinCaptureThread(s);
        return message == DVM_STREAM_FINI ? DV_ERR_OK : DV_ERR_NOTSUPPORTED;
    case DVM_STREAM_INIT:
        return InitStream(s, device, reinterpret_cast<const VIDEO_STREAM_INIT_PARMS *>(lParam1),
                          static_cast<DWORD>(lParam2));
    case DVM_STREAM_START:
        return StartStream(s, device);
    case DVM_STREAM_STOP:
        RequestStop(s);
        return DV_ERR_OK;
    }
    return DV_ERR_NOTSUPPORTED;
}

DWORD CaptureSingleFrame(HANDLE device, VIDEOHDR *header, DWORD size)
{
    if (DWORD error = CheckHeader(header, size))
        return error;
    return ReadFrame(device, header) ? DV_ERR_OK : DV_ERR_NONSPECIFIC;
}
