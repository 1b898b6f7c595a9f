// A small capture driver for vfwcheck's tests: channels VIDEO_EXTERNALIN and
// VIDEO_IN, a 160 x 120 RGB 16 format, frames filled by a thread at the rate
// the stream asks for, timed in dwTimeCaptured and handed back through
// DriverCallback, as the documented contract has it; frames that find no
// buffer counted as dropped; a header already queued refused; a reset and a
// fini wait for the frame in progress, so nothing is touched once they have
// returned. Each frame begins with 'FIXT' and its number since the init, so
// that a recording tells which frames it holds. Built clean, and once for each FAULT_* define, which breaks one
// rule; and once with STOP_ENDS_STREAM, which departs from the contract only
// where it allows (MM_DRVM_OPEN at the start, MM_DRVM_CLOSE at the stop, no
// reset).
#include <cstring>
#include "vfwdrv.h"

extern "C" BOOL WINAPI DriverCallback(DWORD_PTR callback, DWORD flags, HDRVR device, DWORD message,
                                      DWORD_PTR instance, DWORD_PTR param1, DWORD_PTR param2);

static const DWORD ConfigId = 0xC0F, QueueSize = 64, FrameMs = 10, LongestFrameMs = 1000;
static const FOURCC Vcap = mmioFOURCC('v', 'c', 'a', 'p');

#ifdef FAULT_SIZE_IMAGE
static const DWORD ImageSlack = 4;
#else
static const DWORD ImageSlack = 0;
#endif
static BITMAPINFOHEADER Format = {sizeof(BITMAPINFOHEADER), 160, 120, 1, 16, BI_RGB, 160 * 120 * 2 + ImageSlack, 0, 0, 0, 0};
static bool ExternalInOpen, VideoInOpen;

static struct {
    CRITICAL_SECTION lock;
    CRITICAL_SECTION frame; // held by the thread while it fills a header
    HANDLE wake, thread;
    VIDEO_STREAM_INIT_PARMS parms;
    bool initialised, running, quit;
#ifdef FAULT_FINI_EARLY
    bool resetPending; // the thread hands the queue back
#endif
#ifdef FAULT_ADD_TWICE
    VIDEOHDR *looped; // added again while queued
#endif
    VIDEOHDR *queue[QueueSize];
    DWORD count, start, frameMs, served;
    VIDEOHDR *last; // the last header handed back
    bool starved;   // running with no buffer since starvedSince
    DWORD starvedSince, dropped;
} S;

static void Notify(UINT message, VIDEOHDR *h)
{
    DriverCallback(S.parms.dwCallback, HIWORD(S.parms.dwFlags), reinterpret_cast<HDRVR>(S.parms.hVideo), message,
                   S.parms.dwCallbackInst, reinterpret_cast<DWORD_PTR>(h), 0);
}

// Hands a header back, filled with a frame or (at a reset) empty.
static void HandBack(VIDEOHDR *h, bool frame)
{
    h->dwBytesUsed = frame ? Format.biSizeImage : 0;
    if (frame) {
        std::memset(h->lpData, 0x40, h->dwBytesUsed);
        const DWORD mark[2] = {mmioFOURCC('F', 'I', 'X', 'T'), S.served++};
        std::memcpy(h->lpData, mark, h->dwBytesUsed < sizeof mark ? h->dwBytesUsed : sizeof mark);
    }
#ifdef FAULT_STALE_BYTES
    if (frame)
        h->dwBytesUsed = 160 * 120 * 2; // the size of the format it opened with
#endif
#ifdef FAULT_TIME_IN_FRAMES
    h->dwTimeCaptured = (GetTickCount() - S.start) / S.frameMs; // frames, not milliseconds
#else
    h->dwTimeCaptured = GetTickCount() - S.start;
#endif
#if defined(FAULT_NO_DONE)
    h->dwFlags &= ~(VHDR_INQUEUE | VHDR_DONE);
#elif defined(FAULT_CLEAR_FLAGS)
    h->dwFlags = VHDR_DONE;
#else
    h->dwFlags = (h->dwFlags & ~VHDR_INQUEUE) | VHDR_DONE;
#endif
#ifdef FAULT_BYTES_USED
    h->dwBytesUsed = h->dwBufferLength + 16;
#endif
    S.last = h;
    Notify(MM_DRVM_DATA, h);
#ifdef FAULT_DOUBLE_DATA
    if (!frame)
        Notify(MM_DRVM_DATA, h);
#endif
}

static VIDEOHDR *Dequeue()
{
#ifdef FAULT_OUT_OF_ORDER
    return S.queue[--S.count];
#else
    VIDEOHDR *h = S.queue[0];
#ifdef FAULT_ADD_TWICE
    if (h == S.looped)
        return h; // linked to itself, it never leaves the queue
#endif
    std::memmove(S.queue, S.queue + 1, --S.count * sizeof *S.queue);
    return h;
#endif
}

static bool Queued(const VIDEOHDR *h)
{
    for (DWORD i = 0; i < S.count; i++)
        if (S.queue[i] == h)
            return true;
    return false;
}

// The frames the device delivered while the running stream had no buffer:
// the time without one in whole frame periods. The lock is held.
static void CountDropped(bool starved)
{
    DWORD now = GetTickCount();
    if (S.starved) {
        DWORD periods = (now - S.starvedSince) / S.frameMs;
        S.dropped += periods;
        S.starvedSince += periods * S.frameMs;
    } else {
        S.starvedSince = now;
    }
    S.starved = starved;
}

static DWORD WINAPI CaptureThread(LPVOID)
{
    for (;;) {
        EnterCriticalSection(&S.frame);
        EnterCriticalSection(&S.lock);
        bool quit = S.quit;
#ifdef FAULT_BUSY_STARVED
        bool spin = S.running && !S.count;
#endif
        CountDropped(!quit && S.running && !S.count);
        VIDEOHDR *h = !quit && S.running && S.count ? Dequeue() : NULL;
#ifdef FAULT_FINI_EARLY
        // A reset or the end of the stream: the queue goes back after the
        // frame in progress, however long ago the message returned.
        VIDEOHDR *back[QueueSize];
        DWORD returned = 0;
        if (!h && (S.resetPending || quit)) {
            while (S.count)
                back[returned++] = Dequeue();
            S.resetPending = false;
        }
#endif
        LeaveCriticalSection(&S.lock);
        if (h) {
            Sleep(S.frameMs);
            HandBack(h, true);
        }
#ifdef FAULT_FINI_EARLY
        // Told at the fini, the thread ends the stream a second later: long
        // after the fini has answered, on a machine of any speed, and well
        // inside the checker's two seconds of watching.
        if (quit)
            Sleep(1000);
        for (DWORD i = 0; i < returned; i++)
            HandBack(back[i], false);
#endif
        LeaveCriticalSection(&S.frame);
        if (quit) {
#ifdef FAULT_FINI_EARLY
            Notify(MM_DRVM_CLOSE, NULL);
#endif
            return 0;
        }
#ifdef FAULT_BUSY_STARVED
        if (spin)
            continue;
#endif
        if (!h)
            WaitForSingleObject(S.wake, INFINITE);
    }
}

// A thread left to end the stream by itself is waited for before its
// handles go or are used again.
static void ReapThread()
{
    if (!S.thread)
        return;
    WaitForSingleObject(S.thread, INFINITE);
    CloseHandle(S.thread);
    CloseHandle(S.wake);
    S.thread = NULL;
}

#if defined(STOP_ENDS_STREAM) || !defined(FAULT_FINI_EARLY)
// Stops the stream and waits for the frame in progress; whether it ran.
static bool StopAfterFrame()
{
    EnterCriticalSection(&S.lock);
    bool ran = S.running;
    S.running = false;
    LeaveCriticalSection(&S.lock);
    EnterCriticalSection(&S.frame);
    LeaveCriticalSection(&S.frame);
    return ran;
}
#endif

static void EndThread()
{
    EnterCriticalSection(&S.lock);
    S.quit = true;
    S.running = false;
    LeaveCriticalSection(&S.lock);
    SetEvent(S.wake);
    ReapThread();
    S.initialised = false;
#ifndef STOP_ENDS_STREAM
    Notify(MM_DRVM_CLOSE, NULL);
#endif
#ifdef FAULT_DATA_AFTER_CLOSE
    if (S.last)
        Notify(MM_DRVM_DATA, S.last);
#endif
}

static DWORD StreamMessage(UINT message, LPARAM lParam1, LPARAM lParam2)
{
    VIDEOHDR *h = reinterpret_cast<VIDEOHDR *>(lParam1);
    switch (message) {
    case DVM_STREAM_INIT:
        if (static_cast<DWORD>(lParam2) < sizeof S.parms)
            return DV_ERR_PARAM2;
#ifdef FAULT_INIT_TWICE
        if (S.initialised) {
            EndThread(); // the stream ends, and none is made
            return DV_ERR_OK;
        }
#endif
        if (S.initialised || S.running)
            return DV_ERR_STILLPLAYING;
        ReapThread();
        S.parms = *reinterpret_cast<VIDEO_STREAM_INIT_PARMS *>(lParam1);
#ifdef FAULT_FAST_FRAMES
        S.frameMs = 1; // far faster than asked, on any machine
#else
        S.frameMs = S.parms.dwMicroSecPerFrame < 1000 ? FrameMs : S.parms.dwMicroSecPerFrame / 1000;
#endif
        if (S.frameMs > LongestFrameMs)
            S.frameMs = LongestFrameMs;
        S.count = S.dropped = S.served = 0;
        S.running = S.quit = S.starved = false;
        S.last = NULL;
        S.wake = CreateEventA(NULL, FALSE, FALSE, NULL);
        S.thread = CreateThread(NULL, 0, CaptureThread, NULL, 0, NULL);
        S.initialised = true;
#ifndef STOP_ENDS_STREAM
        Notify(MM_DRVM_OPEN, NULL);
#endif
        return DV_ERR_OK;
    case DVM_STREAM_FINI:
        if (!S.initialised) {
#ifdef FAULT_FINI_UNINIT
            S.initialised = true; // flips the stream's state instead of clearing it
#endif
            return DV_ERR_OK;
        }
#ifdef STOP_ENDS_STREAM
        S.count = 0; // the queue is dropped
#endif
#ifdef FAULT_FINI_EARLY
        // The thread is told to end the stream and left to it.
        EnterCriticalSection(&S.lock);
        S.quit = true;
        S.running = false;
        LeaveCriticalSection(&S.lock);
        SetEvent(S.wake);
        S.initialised = false;
#else
        if (S.count)
            return DV_ERR_STILLPLAYING;
        EndThread();
#endif
        return DV_ERR_OK;
    case DVM_STREAM_GETERROR: {
        // The count starts again from 0 once it has been read.
        EnterCriticalSection(&S.lock);
        if (S.initialised)
            CountDropped(S.starved);
#ifdef FAULT_NO_DROPS
        S.dropped = 0; // no frame is ever told as dropped
#endif
        *reinterpret_cast<DWORD *>(lParam1) = S.dropped ? DV_ERR_NO_BUFFERS : DV_ERR_OK;
        *reinterpret_cast<DWORD *>(lParam2) = S.dropped;
        S.dropped = 0;
        LeaveCriticalSection(&S.lock);
        return DV_ERR_OK;
    }
    case DVM_STREAM_GETPOSITION: {
        if (static_cast<DWORD>(lParam2) < sizeof(MMTIME))
            return DV_ERR_PARAM2;
        MMTIME *time = reinterpret_cast<MMTIME *>(lParam1);
        time->wType = TIME_MS;
        time->u.ms = S.running ? GetTickCount() - S.start : 0;
        return DV_ERR_OK;
    }
    }
#ifdef FAULT_ADD_UNINIT
    if (message == DVM_STREAM_ADDBUFFER)
        h->dwFlags |= VHDR_INQUEUE; // marked queued before the stream is looked at
#endif
    if (!S.initialised) {
#ifdef FAULT_START_UNINIT
        if (message == DVM_STREAM_START) {
            S.running = true; // with no stream to run
            return DV_ERR_OK;
        }
#endif
        return DV_ERR_NONSPECIFIC;
    }
#if !defined(STOP_ENDS_STREAM) && !defined(FAULT_FINI_EARLY)
    if (message == DVM_STREAM_RESET)
        StopAfterFrame(); // the frame in progress is handed back before the queue
#endif
#ifdef STOP_ENDS_STREAM
    // The stop ends the stream: the frame in progress is finished and the
    // close sent before it answers, so that a fini sent at once cannot
    // overtake the close.
    const bool closing = message == DVM_STREAM_STOP && StopAfterFrame();
#endif
    DWORD result = DV_ERR_OK;
    VIDEOHDR *back[QueueSize];
    DWORD returned = 0;
    UINT notify = 0;
    EnterCriticalSection(&S.lock);
    switch (message) {
    case DVM_STREAM_ADDBUFFER:
        if (static_cast<DWORD>(lParam2) < sizeof *h)
            result = DV_ERR_PARAM2;
        else if (!h->lpData || h->dwBufferLength < Format.biSizeImage)
            result = DV_ERR_PARAM1;
        else if (!(h->dwFlags & VHDR_PREPARED))
            result = DV_ERR_UNPREPARED;
        else if (S.count == QueueSize)
            result = DV_ERR_NO_BUFFERS;
#ifdef FAULT_ADD_TWICE
        else if (Queued(h))
            S.looped = h;
#else
        else if (Queued(h))
            result = DV_ERR_STILLPLAYING; // "still in the device driver's available queue"
#endif
        else {
            h->dwFlags = (h->dwFlags | VHDR_INQUEUE) & ~VHDR_DONE;
            S.queue[S.count++] = h;
        }
        break;
    case DVM_STREAM_START:
#ifdef STOP_ENDS_STREAM
        notify = S.running ? 0 : MM_DRVM_OPEN;
#endif
        S.running = true;
        S.start = GetTickCount();
        break;
    case DVM_STREAM_STOP:
#if defined(FAULT_STOP_TOGGLES)
        S.running = !S.running; // a second stop starts the stream again
#elif !defined(FAULT_IGNORE_STOP)
        S.running = false;
#endif
#ifdef FAULT_RESTART_DEAF
        S.quit = true; // the thread ends with the stop, and no start makes another
#endif
        break;
#ifndef STOP_ENDS_STREAM
    case DVM_STREAM_RESET:
        S.running = false;
#ifdef FAULT_ADD_TWICE
        S.looped = NULL;
#endif
#if defined(FAULT_FINI_EARLY)
        S.resetPending = true;
#elif !defined(FAULT_RESET_KEEPS)
        while (S.count)
            back[returned++] = Dequeue();
#endif
        break;
#endif
    default: // prepare and unprepare: the capture layer's fallback does it
        result = DV_ERR_NOTSUPPORTED;
    }
    LeaveCriticalSection(&S.lock);
#ifdef STOP_ENDS_STREAM
    if (closing)
        notify = MM_DRVM_CLOSE;
#endif
    if (notify)
        Notify(notify, NULL);
    SetEvent(S.wake);
    for (DWORD i = 0; i < returned; i++)
        HandBack(back[i], false);
    return result;
}

static DWORD HandleFormat(DWORD flags, VIDEOCONFIGPARMS *parms)
{
    if (flags & VIDEO_CONFIGURE_QUERYSIZE) {
        *parms->lpdwReturn = sizeof Format;
        return DV_ERR_OK;
    }
    if (flags & VIDEO_CONFIGURE_QUERY)
        return DV_ERR_OK;
    BITMAPINFOHEADER *h = static_cast<BITMAPINFOHEADER *>(parms->lpData1);
    if (flags & VIDEO_CONFIGURE_GET) {
#ifdef FAULT_SHORT_FORMAT
        std::memcpy(h, &Format, sizeof Format);
#endif
        if (parms->dwSize1 < sizeof Format)
            return DV_ERR_SIZEFIELD;
        *h = Format;
        return DV_ERR_OK;
    }
    if (!(flags & VIDEO_CONFIGURE_SET))
        return DV_ERR_FLAGS;
    if (parms->dwSize1 < sizeof Format)
        return DV_ERR_SIZEFIELD;
    if (h->biSize < sizeof Format || h->biPlanes != 1 || h->biCompression != BI_RGB || h->biBitCount != 16 ||
        h->biWidth < 8 || h->biWidth > 640 || h->biWidth % 4 || h->biHeight < 8 || h->biHeight > 480)
        return DV_ERR_BADFORMAT;
#ifndef FAULT_SET_IGNORED
    Format.biWidth = h->biWidth;
    Format.biHeight = h->biHeight;
    Format.biSizeImage = h->biWidth * h->biHeight * 2;
#endif
    return DV_ERR_OK;
}

static DWORD ErrorText(VIDEO_GETERRORTEXT_PARMS *parms)
{
    if (parms->dwError > DV_ERR_LASTERROR)
        return DV_ERR_BADERRNUM;
    char text[48];
    wsprintfA(text, "Capture error %lu.", parms->dwError);
#ifdef FAULT_ERRTEXT_OVERRUN
    std::strcpy(parms->lpText, text);
#else
    if (!parms->dwLength)
        return DV_ERR_SIZEFIELD;
    lstrcpynA(parms->lpText, text, parms->dwLength);
#endif
    return DV_ERR_OK;
}

static DWORD ChannelMessage(DWORD channel, UINT message, LPARAM lParam1, LPARAM lParam2)
{
    switch (message) {
    case DVM_GETVIDEOAPIVER:
#ifdef FAULT_API_VERSION
        *reinterpret_cast<DWORD *>(lParam1) = VIDEOAPIVERSION + 1;
#else
        *reinterpret_cast<DWORD *>(lParam1) = VIDEOAPIVERSION;
#endif
        return DV_ERR_OK;
    case DVM_GETERRORTEXT:
        return ErrorText(reinterpret_cast<VIDEO_GETERRORTEXT_PARMS *>(lParam1));
    case DVM_GET_CHANNEL_CAPS: {
#ifndef FAULT_CAPS_OVERRUN
        if (static_cast<DWORD>(lParam2) < sizeof(CHANNEL_CAPS))
            return DV_ERR_SIZEFIELD;
#endif
        CHANNEL_CAPS *caps = reinterpret_cast<CHANNEL_CAPS *>(lParam1);
        caps->dwFlags = 0;
        caps->dwSrcRectXMod = caps->dwSrcRectYMod = caps->dwSrcRectWidthMod = caps->dwSrcRectHeightMod = 1;
        caps->dwDstRectXMod = caps->dwDstRectYMod = caps->dwDstRectWidthMod = caps->dwDstRectHeightMod = 1;
#ifdef FAULT_RECT_CAPS
        caps->dwDstRectWidthMod = 3; // a step its own rectangles do not keep
#endif
        return DV_ERR_OK;
    }
    case DVM_SRC_RECT:
    case DVM_DST_RECT:
#ifdef FAULT_QUERY_CLAIMS
        if (lParam2 & VIDEO_CONFIGURE_QUERY)
            return DV_ERR_OK; // claims the set it refuses
#endif
        if (!(lParam2 & (VIDEO_CONFIGURE_GET | VIDEO_CONFIGURE_SET)))
            return DV_ERR_FLAGS;
        if (lParam2 & VIDEO_CONFIGURE_SET)
            return DV_ERR_NOTSUPPORTED;
        SetRect(reinterpret_cast<RECT *>(lParam1), 0, 0, Format.biWidth, Format.biHeight);
        return DV_ERR_OK;
    case DVM_DIALOG:
        return DV_ERR_NOTSUPPORTED; // no dialogs
    }
    if (channel != VIDEO_IN)
        return DV_ERR_NOTSUPPORTED;
    if (message == DVM_FORMAT)
        return HandleFormat(static_cast<DWORD>(lParam1), reinterpret_cast<VIDEOCONFIGPARMS *>(lParam2));
    if (message == DVM_FRAME) {
        VIDEOHDR *h = reinterpret_cast<VIDEOHDR *>(lParam1);
        if (static_cast<DWORD>(lParam2) < sizeof *h)
            return DV_ERR_PARAM2;
        if (!h->lpData || h->dwBufferLength < Format.biSizeImage)
            return DV_ERR_SIZEFIELD;
        std::memset(h->lpData, 0x40, Format.biSizeImage);
        h->dwBytesUsed = Format.biSizeImage;
        h->dwFlags |= VHDR_DONE;
        return DV_ERR_OK;
    }
    if (message >= DVM_STREAM_MSG_START && message <= DVM_STREAM_UNPREPAREHEADER)
        return StreamMessage(message, lParam1, lParam2);
#ifdef FAULT_UNKNOWN_ZERO
    return DV_ERR_OK;
#else
    return DV_ERR_NOTSUPPORTED;
#endif
}

static LRESULT Open(VIDEO_OPEN_PARMS *open)
{
    if (!open)
        return ConfigId;
#ifndef FAULT_ACCEPT_JUNK
    if (open->fccType != Vcap)
        return 0;
#endif
    bool *flag = open->dwFlags == VIDEO_IN ? &VideoInOpen : open->dwFlags == VIDEO_EXTERNALIN ? &ExternalInOpen : NULL;
#ifdef FAULT_SECOND_OPEN
    if (flag == &VideoInOpen)
        *flag = false; // a second VIDEO_IN opens as the same instance: its close ends the first
#endif
    if (flag && !*flag) {
        *flag = true;
        return open->dwFlags;
    }
#ifdef FAULT_OPEN_NO_ERROR
    (void)flag; // the caller's dwError stays as it was
#else
    open->dwError = flag ? DV_ERR_ALLOCATED : DV_ERR_NOTSUPPORTED;
#endif
    return 0;
}

/***********************************************************************
 *           DllMain
 *
 * The locks live as long as the module: a host may send DRV_FREE and
 * DRV_LOAD again while the module stays loaded.
 */
extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID)
{
    if (reason == DLL_PROCESS_ATTACH) {
        InitializeCriticalSection(&S.lock);
        InitializeCriticalSection(&S.frame);
    }
    return TRUE;
}

/***********************************************************************
 *           DriverProc
 */
extern "C" LRESULT WINAPI DriverProc(DWORD_PTR id, HDRVR driver, UINT message, LPARAM lParam1, LPARAM lParam2)
{
    switch (message) {
    case DRV_LOAD:
    case DRV_FREE:
    case DRV_ENABLE:
    case DRV_DISABLE:
        return 1;
    case DRV_QUERYCONFIGURE:
        return 0;
    case DRV_OPEN:
        return Open(reinterpret_cast<VIDEO_OPEN_PARMS *>(lParam2));
    case DRV_CLOSE:
        if (id == VIDEO_IN && VideoInOpen) {
            if (S.initialised)
                EndThread();
            ReapThread();
            VideoInOpen = false;
        } else if (id == VIDEO_EXTERNALIN && ExternalInOpen) {
            ExternalInOpen = false;
        } else if (id != ConfigId) {
            return 0;
        }
        return 1;
    }
#ifdef FAULT_CLOSED_ANSWERS
    bool open = id == VIDEO_IN || id == VIDEO_EXTERNALIN;
#else
    bool open = (id == VIDEO_IN && VideoInOpen) || (id == VIDEO_EXTERNALIN && ExternalInOpen);
#endif
    if (open)
        return ChannelMessage(static_cast<DWORD>(id), message, lParam1, lParam2);
    if (id == ConfigId && message < DVM_CONFIGURE_START)
        return DefDriverProc(id, driver, message, lParam1, lParam2);
    if (message == DVM_GETVIDEOAPIVER || message == DVM_GETERRORTEXT)
        return ChannelMessage(VIDEO_EXTERNALIN, message, lParam1, lParam2);
    return id == ConfigId ? DV_ERR_NOTSUPPORTED : DV_ERR_INVALHANDLE;
}
