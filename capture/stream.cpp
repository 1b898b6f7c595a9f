// Stream engine: the client's headers queued in a ring, filled straight from
// the device by one capture thread and handed back through DriverCallback;
// and single frames on the caller's thread.
//
// One critical section guards the stream's record. The capture thread takes
// it briefly around each frame: take the header, read without the lock,
// advance, call back. An uncontended critical section makes no kernel call,
// and an add signals the thread only when it found the ring empty, so the
// frame path makes none either. One auto-reset event wakes the thread: a
// header added to an empty ring, or a stop. A stream is ended by EndStream
// alone: it stops the thread and waits for it on a handle of its own.
#include "stream.h"
#include "module.h"
#include "warnings.h"

extern "C" BOOL WINAPI DriverCallback(DWORD_PTR callback, DWORD flags, HDRVR device, DWORD message,
                                      DWORD_PTR instance, DWORD_PTR param1, DWORD_PTR param2);

static CRITICAL_SECTION StreamLock;
static HANDLE WakeEvent;             // made with the lock, for the library's life
static BOOL FrameMemoryWarningShown; // from the out-of-storage warning until the next good read

void InitStreamEngine()
{
    InitializeCriticalSection(&StreamLock);
    WakeEvent = CreateEventA(NULL, FALSE, FALSE, NULL);
}

void EndStreamEngine()
{
    if (WakeEvent)
        CloseHandle(WakeEvent);
    DeleteCriticalSection(&StreamLock);
}

// A header must reach at least up to dwFlags, the last field the engine writes.
static const DWORD HeaderSizeUsed = offsetof(VIDEOHDR, dwFlags) + sizeof(DWORD);

// One frame into the header's buffer; a read that fails for want of memory
// gives a zero-filled frame and warns once.
static BOOL ReadFrame(HANDLE device, VIDEOHDR *header)
{
    BOOL read = ReadFile(device, header->lpData, header->dwBufferLength, &header->dwBytesUsed, NULL);
    if (!read && GetLastError() != ERROR_NOT_ENOUGH_MEMORY)
        return FALSE;
    // Once per run of such failures; the frame becomes a zero-filled one.
    EnterCriticalSection(&StreamLock);
    BOOL warn = !read && !FrameMemoryWarningShown;
    FrameMemoryWarningShown = !read;
    LeaveCriticalSection(&StreamLock);
    if (warn)
        ShowDriverWarning(IDS_NO_STORAGE);
    if (!read)
        ZeroMemory(header->lpData, header->dwBufferLength);
    header->dwFlags |= VHDR_DONE;
    return TRUE;
}

// The lock is held.
static bool OnCaptureThread(const CaptureStream &s)
{
    return s.thread && GetCurrentThreadId() == s.threadId;
}

// The lock is held: the client's headers and callback are no longer the engine's.
static void ForgetRing(CaptureStream &s)
{
    s.queuedCount = s.readCount = 0;
}

static DWORD WINAPI CaptureThreadProc(LPVOID param)
{
    CaptureStream &s = *static_cast<CaptureStream *>(param);
    EnterCriticalSection(&StreamLock);
    const VIDEO_STREAM_INIT_PARMS p = s.streamInit;
    const HANDLE device = s.threadDevice;
    LeaveCriticalSection(&StreamLock);
    const DWORD type = HIWORD(p.dwFlags);
    const HDRVR video = reinterpret_cast<HDRVR>(p.hVideo);

    DriverCallback(p.dwCallback, type, video, MM_DRVM_OPEN, p.dwCallbackInst, 0, 0);
    EnterCriticalSection(&StreamLock);
    while (s.state == STREAM_RUNNING) {
        if (s.readCount == s.queuedCount) {
            LeaveCriticalSection(&StreamLock);
            WaitForSingleObject(WakeEvent, INFINITE);
            EnterCriticalSection(&StreamLock);
            continue;
        }
        VIDEOHDR *header = s.ring[s.readCount % STREAM_RING_SLOTS];
        LeaveCriticalSection(&StreamLock);
        BOOL read = ReadFrame(device, header);
        EnterCriticalSection(&StreamLock);
        s.readCount++; // the slot is free again
        LeaveCriticalSection(&StreamLock);
        if (read)
            DriverCallback(p.dwCallback, type, video, MM_DRVM_DATA, p.dwCallbackInst, reinterpret_cast<DWORD_PTR>(header), 0);
        EnterCriticalSection(&StreamLock);
    }
    // A DVM_STREAM_FINI from a callback has taken the callback back.
    const bool finished = s.state == STREAM_IDLE;
    LeaveCriticalSection(&StreamLock);
    CloseDeviceHandle(device);
    if (!finished)
        DriverCallback(p.dwCallback, type, video, MM_DRVM_CLOSE, p.dwCallbackInst, 0, 0);
    // The thread's own reference: a last close from its callback may have
    // released the host's, and the code after it is the library's.
    FreeLibraryAndExitThread(ModuleInstance, 0);
}

// Waits for a thread, or (NULL) pauses briefly, still answering messages
// sent to this thread, so that a callback that sends one cannot deadlock the two.
static void AwaitThread(HANDLE thread)
{
    const DWORD count = thread ? 1 : 0;
    while (MsgWaitForMultipleObjects(count, &thread, FALSE, thread ? INFINITE : 10, QS_SENDMESSAGE) ==
           WAIT_OBJECT_0 + count) {
        MSG msg;
        PeekMessageA(&msg, NULL, 0, 0, PM_NOREMOVE);
    }
}

void EndStream(CaptureStream &s)
{
    for (;;) {
        EnterCriticalSection(&StreamLock);
        if (s.state == STREAM_RUNNING)
            s.state = STREAM_STOPPING;
        if (!s.thread || OnCaptureThread(s)) {
            LeaveCriticalSection(&StreamLock);
            SetEvent(WakeEvent);
            return;
        }
        // A handle of this waiter's own: another may close the record's, or
        // a message handled meanwhile start the next thread.
        const DWORD generation = s.generation;
        HANDLE own = NULL;
        DuplicateHandle(GetCurrentProcess(), s.thread, GetCurrentProcess(), &own, SYNCHRONIZE, FALSE, 0);
        LeaveCriticalSection(&StreamLock);
        SetEvent(WakeEvent);
        AwaitThread(own); // without a handle to spare, a pause before looking again
        if (own)
            CloseHandle(own);
        EnterCriticalSection(&StreamLock);
        if (s.thread && s.generation == generation && WaitForSingleObject(s.thread, 0) == WAIT_OBJECT_0) {
            CloseHandle(s.thread);
            s.thread = NULL;
            if (s.state == STREAM_STOPPING)
                s.state = STREAM_INITIALISED;
        }
        LeaveCriticalSection(&StreamLock);
    }
}

// Ends the stream and returns holding the lock with no capture thread left;
// false (the lock held) on the capture thread itself, which cannot wait for itself.
static bool LockEnded(CaptureStream &s)
{
    for (;;) {
        EnterCriticalSection(&StreamLock);
        if (!s.thread)
            return true;
        if (OnCaptureThread(s))
            return false;
        LeaveCriticalSection(&StreamLock);
        EndStream(s);
    }
}

void ForgetStream(CaptureStream &s)
{
    LockEnded(s); // a thread still ending after the last close
    ForgetRing(s);
    s.streamInit = VIDEO_STREAM_INIT_PARMS{};
    s.state = STREAM_IDLE;
    LeaveCriticalSection(&StreamLock);
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
    // At most a ring's worth outstanding: the slot to fill has been read.
    const bool room = s.queuedCount - s.readCount < STREAM_RING_SLOTS;
    // A thread that found the ring empty waits for this one, unless the add
    // comes from its own callback.
    const bool wake = room && s.queuedCount == s.readCount && s.state == STREAM_RUNNING && !OnCaptureThread(s);
    if (room)
        s.ring[s.queuedCount++ % STREAM_RING_SLOTS] = header;
    LeaveCriticalSection(&StreamLock);
    if (wake)
        SetEvent(WakeEvent);
    return room ? DV_ERR_OK : DV_ERR_NO_BUFFERS;
}

static DWORD InitStream(CaptureStream &s, HANDLE device, const VIDEO_STREAM_INIT_PARMS *parms, DWORD size)
{
    if (!parms)
        return DV_ERR_PARAM1;
    if (size < sizeof *parms)
        return DV_ERR_PARAM2;
    if (!LockEnded(s)) { // the old stream ends first, with its MM_DRVM_CLOSE
        LeaveCriticalSection(&StreamLock);
        return DV_ERR_STILLPLAYING; // from its own callback: stop first
    }
    ForgetRing(s);
    s.streamInit = *parms;
    s.state = STREAM_INITIALISED;
    LeaveCriticalSection(&StreamLock);
    return RestartVideo(device) ? DV_ERR_OK : DV_ERR_NONSPECIFIC;
}

static DWORD StartStream(CaptureStream &s, HANDLE device)
{
    EnterCriticalSection(&StreamLock);
    const StreamState state = s.state;
    const bool own = OnCaptureThread(s);
    LeaveCriticalSection(&StreamLock);
    if (state == STREAM_IDLE)
        return DV_ERR_NONSPECIFIC; // no DVM_STREAM_INIT since the last DVM_STREAM_FINI
    if (state == STREAM_RUNNING)
        return DV_ERR_OK; // already streaming: one capture thread at a time
    if (own)
        return DV_ERR_STILLPLAYING; // from a callback of the stream that ends

    // The thread holds a reference to the library and a handle of the device
    // of its own until it ends, whatever the session does meanwhile.
    char path[MAX_PATH];
    HANDLE threadDevice;
    if (!WakeEvent || !GetModuleFileNameA(ModuleInstance, path, sizeof path) || !LoadLibraryA(path))
        return DV_ERR_NOMEM;
    if (!DuplicateHandle(GetCurrentProcess(), device, GetCurrentProcess(), &threadDevice, 0, FALSE,
                         DUPLICATE_SAME_ACCESS)) {
        FreeLibrary(ModuleInstance);
        return DV_ERR_NOMEM;
    }
    DWORD result = DV_ERR_OK;
    HANDLE started = NULL;
    if (!LockEnded(s)) // a stopping thread ends before the next starts
        result = DV_ERR_STILLPLAYING;
    else if (s.state != STREAM_INITIALISED) // another thread of the host started or finished it meanwhile
        result = s.state == STREAM_RUNNING ? DV_ERR_OK : DV_ERR_NONSPECIFIC;
    else if (!(started = CreateThread(NULL, 0, CaptureThreadProc, &s, CREATE_SUSPENDED, &s.threadId)))
        result = DV_ERR_NOMEM; // no thread, no stream: the start failed
    if (started) {
        s.thread = started;
        s.threadDevice = threadDevice;
        s.generation++;
        s.state = STREAM_RUNNING;
    }
    LeaveCriticalSection(&StreamLock);
    // A suspended thread cannot end: its handle stays the record's until resumed.
    if (started) {
        ResumeThread(started);
    } else {
        CloseDeviceHandle(threadDevice);
        FreeLibrary(ModuleInstance);
    }
    return result;
}

// Whether `header` is queued and not yet read; the lock is held.
static bool Queued(const CaptureStream &s, const VIDEOHDR *header)
{
    for (DWORD n = s.readCount; n != s.queuedCount; n++)
        if (s.ring[n % STREAM_RING_SLOTS] == header)
            return true;
    return false;
}

DWORD HandleStreamMessage(CaptureStream &s, HANDLE device, UINT message, LPARAM lParam1, LPARAM lParam2)
{
    switch (message) {
    case DVM_STREAM_ADDBUFFER:
        return AddBuffer(s, reinterpret_cast<VIDEOHDR *>(lParam1), static_cast<DWORD>(lParam2));
    case DVM_STREAM_INIT:
        return InitStream(s, device, reinterpret_cast<const VIDEO_STREAM_INIT_PARMS *>(lParam1),
                          static_cast<DWORD>(lParam2));
    case DVM_STREAM_START:
        return StartStream(s, device);
    case DVM_STREAM_STOP:
        EnterCriticalSection(&StreamLock);
        if (s.state == STREAM_RUNNING)
            s.state = STREAM_STOPPING;
        LeaveCriticalSection(&StreamLock);
        SetEvent(WakeEvent);
        return DV_ERR_OK;
    case DVM_STREAM_RESET:
    case DVM_STREAM_FINI:
        // The host frees its headers next, and after a fini its callback: the
        // stream has ended and forgotten them before the answer. From a
        // callback the thread ends when the callback returns.
        if (!LockEnded(s) && s.state == STREAM_RUNNING)
            s.state = STREAM_STOPPING;
        ForgetRing(s);
        if (message == DVM_STREAM_FINI) {
            s.streamInit = VIDEO_STREAM_INIT_PARMS{};
            s.state = STREAM_IDLE;
        }
        LeaveCriticalSection(&StreamLock);
        SetEvent(WakeEvent);
        return message == DVM_STREAM_FINI ? DV_ERR_OK : DV_ERR_NOTSUPPORTED;
    case DVM_STREAM_UNPREPAREHEADER: {
        // A header the engine still holds, or may be reading after a stop,
        // is the host's again only once the stream has ended.
        EnterCriticalSection(&StreamLock);
        const bool held = s.thread && (s.state == STREAM_STOPPING || Queued(s, reinterpret_cast<VIDEOHDR *>(lParam1)));
        LeaveCriticalSection(&StreamLock);
        if (held)
            EndStream(s);
        return DV_ERR_NOTSUPPORTED;
    }
    }
    return DV_ERR_NOTSUPPORTED;
}

DWORD CaptureSingleFrame(HANDLE device, VIDEOHDR *header, DWORD size)
{
    if (DWORD error = CheckHeader(header, size))
        return error;
    return ReadFrame(device, header) ? DV_ERR_OK : DV_ERR_NONSPECIFIC;
}
