// The stream client: callback targets of every type and what each callback
// must satisfy, checked the moment it arrives. Every rule is reported at most
// once per stream, so a broken driver gives one line per rule, not thousands.
#include "check.h"
#include "callbacks.h"
#include "host.h"

const char *const CallbackNames[CallbackKinds] = {"function", "window", "thread", "event"};

static const DWORD CallbackFlags[CallbackKinds] = {CALLBACK_FUNCTION, CALLBACK_WINDOW, CALLBACK_THREAD,
                                                   CALLBACK_EVENT};
static const DWORD_PTR UserCookie = 0x5C0F0000; // dwUser of header i is the cookie plus i

enum Rule { DataHeader, Order, Done, Flags, Bytes, OpenFirst, AfterClose, Readd };
static const char *const RuleNames[] = {"stream.data-header", "stream.order", "stream.done", "stream.flags",
                                        "stream.bytes", "stream.open-first", "stream.after-close", "stream.readd"};

static bool FirstTime(StreamClient &c, Rule rule)
{
    bool first = !(c.reported & (1u << rule));
    c.reported |= 1u << rule;
    return first;
}

// Keeps the add order of the others; the caller holds the lock.
static void RemoveOwned(StreamClient &c, const VIDEOHDR *h)
{
    int at = 0;
    while (at < c.ownedCount && c.owned[at] != h)
        at++;
    if (at == c.ownedCount)
        return;
    for (c.ownedCount--; at < c.ownedCount; at++)
        c.owned[at] = c.owned[at + 1];
}

static int HeaderIndex(const StreamClient &c, const VIDEOHDR *header)
{
    for (int i = 0; i < c.headerCount; i++)
        if (c.headers[i] == header)
            return i;
    return -1;
}

// The checks of one handed-back header, which is no longer the driver's.
static void CheckReturned(StreamClient &c, VIDEOHDR *h, int index)
{
    // DVM_STREAM_START: "the user-mode driver should set VHDR_DONE in the
    // dwFlags member ... and then send an MM_DRVM_DATA callback message".
    if (!(h->dwFlags & VHDR_DONE) && FirstTime(c, Done))
        Fail(RuleNames[Done], "%s callback, header #%d: expected VHDR_DONE set, got dwFlags 0x%08lX",
             CallbackNames[c.kind], index, h->dwFlags);
    // VIDEOHDR: the client supplies dwUser; VHDR_PREPARED is set by the
    // capture layer (DVM_STREAM_PREPAREHEADER), not the driver.
    if ((!(h->dwFlags & VHDR_PREPARED) || h->dwUser != UserCookie + index) && FirstTime(c, Flags))
        Fail(RuleNames[Flags], "header #%d: expected VHDR_PREPARED and dwUser 0x%08lX kept, got dwFlags 0x%08lX, "
             "dwUser 0x%08lX", index, static_cast<DWORD>(UserCookie + index), h->dwFlags, static_cast<DWORD>(h->dwUser));
    // VIDEOHDR: dwBytesUsed is the "number of bytes used in the buffer";
    // uncompressed frames fill the format's biSizeImage. A stop may hand
    // back one partly filled, a reset the unused ones empty.
    bool exact = c.imageSize && c.phase < PhaseStop;
    bool bytesOk = h->dwBytesUsed <= h->dwBufferLength && (!exact || h->dwBytesUsed == c.imageSize);
    if (!bytesOk && FirstTime(c, Bytes))
        Fail(RuleNames[Bytes], "header #%d: expected dwBytesUsed %s%lu, got %lu (buffer %lu bytes)", index,
             exact ? "" : "at most ", exact ? c.imageSize : h->dwBufferLength, h->dwBytesUsed, h->dwBufferLength);
}

static void Record(StreamClient &c, UINT message, VIDEOHDR *h)
{
    bool readd = false;
    EnterCriticalSection(&c.lock);
    StreamEvent *event = c.eventCount < ClientEvents ? &c.events[c.eventCount++] : NULL;
    if (event)
        *event = StreamEvent{message, static_cast<int>(c.phase), GetTickCount(), 0, Untouched};
    if (c.phase == PhaseEnded) {
        LeaveCriticalSection(&c.lock);
        return;
    }
    // MM_DRVM_CLOSE ends the stream: "nothing arrives after the close".
    if (c.closeSeen && FirstTime(c, AfterClose))
        Fail(RuleNames[AfterClose], "%s callback: expected nothing after MM_DRVM_CLOSE, got message 0x%X",
             CallbackNames[c.kind], message);
    if (message == MM_DRVM_OPEN) {
        // DVM_STREAM_INIT: the driver "must send an MM_DRVM_OPEN callback message".
        if ((c.openSeen || c.dataCount) && FirstTime(c, OpenFirst))
            Fail(RuleNames[OpenFirst], "%s callback: expected one MM_DRVM_OPEN before any data, got one after %ld "
                 "MM_DRVM_DATA%s", CallbackNames[c.kind], c.dataCount, c.openSeen ? " and a first MM_DRVM_OPEN" : "");
        c.openSeen = true;
    } else if (message == MM_DRVM_CLOSE) {
        c.closeSeen = true;
    } else if (message == MM_DRVM_DATA) {
        if (!c.openSeen && c.kind != CallbackEvent && FirstTime(c, OpenFirst))
            Fail(RuleNames[OpenFirst], "%s callback: expected MM_DRVM_OPEN before the first MM_DRVM_DATA, got data first",
                 CallbackNames[c.kind]);
        int at = -1;
        for (int i = 0; i < c.ownedCount; i++)
            if (c.owned[i] == h)
                at = i;
        int index = HeaderIndex(c, h);
        if (at < 0) {
            // MM_DRVM_DATA: "The VIDEOHDR structure was received along with a
            // DVM_STREAM_ADDBUFFER message"; each add comes back once.
            if (FirstTime(c, DataHeader))
                Fail(RuleNames[DataHeader], "%s callback: expected a header added and not yet handed back, got %s %p",
                     CallbackNames[c.kind], index < 0 ? "an unknown header" : "a header already handed back", h);
        } else {
            // DVM_STREAM_START: "Data buffers should be filled and returned to
            // the client in the order they are received from the client."
            if (at > 0 && !c.keepsAllowed && FirstTime(c, Order))
                Fail(RuleNames[Order], "expected header #%d (the oldest added) back first, got header #%d",
                     HeaderIndex(c, c.owned[0]), index);
            RemoveOwned(c, h);
            CheckReturned(c, h, index);
            if (event) {
                event->bytes = h->dwBytesUsed;
                event->captured = h->dwTimeCaptured;
            }
            readd = c.readd && c.phase < PhaseStop;
            if (readd) {
                h->dwFlags = VHDR_PREPARED;
                h->dwTimeCaptured = Untouched;
                c.owned[c.ownedCount++] = h;
            }
        }
        c.dataCount++;
    }
    LeaveCriticalSection(&c.lock);
    if (!readd)
        return;
    // The capture layer adds each buffer again from inside its callback.
    DWORD result = Send(c.channel, DVM_STREAM_ADDBUFFER, reinterpret_cast<LPARAM>(h), sizeof *h);
    if (result != DV_ERR_OK) {
        EnterCriticalSection(&c.lock);
        if (FirstTime(c, Readd))
            Fail(RuleNames[Readd], "%s callback: expected an add from inside the callback to work, got %s",
                 CallbackNames[c.kind], CodeName(result));
        RemoveOwned(c, h);
        LeaveCriticalSection(&c.lock);
    }
}

static void CALLBACK OnFunction(HDRVR, UINT message, DWORD_PTR instance, DWORD_PTR param1, DWORD_PTR)
{
    Record(*reinterpret_cast<StreamClient *>(instance), message, reinterpret_cast<VIDEOHDR *>(param1));
}

// Window callbacks arrive posted: wParam the driver handle, lParam the header.
static LRESULT CALLBACK OnWindow(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message >= MM_DRVM_OPEN && message <= MM_DRVM_DATA) {
        Record(*reinterpret_cast<StreamClient *>(GetWindowLongPtrA(window, GWLP_USERDATA)), message,
               reinterpret_cast<VIDEOHDR *>(lParam));
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

bool StartClient(StreamClient &c, HDRVR channel, CallbackKind kind, int headers, DWORD bufferSize, DWORD imageSize)
{
    ZeroMemory(&c, sizeof c);
    c.channel = channel;
    c.kind = kind;
    c.imageSize = imageSize;
    InitializeCriticalSection(&c.lock);
    for (int i = 0; i < headers && i < ClientHeaders; i++) {
        VIDEOHDR *h = static_cast<VIDEOHDR *>(GuardedRecord(sizeof(VIDEOHDR), "stream.header", "VIDEOHDR"));
        if (!h)
            return false;
        h->lpData = static_cast<LPBYTE>(GuardedRecord(bufferSize, "stream.buffer", "frame buffer"));
        h->dwBufferLength = bufferSize;
        h->dwUser = UserCookie + i;
        c.headers[c.headerCount++] = h;
        if (!h->lpData)
            return false;
    }
    if (kind == CallbackWindow) {
        WNDCLASSA windowClass = {};
        windowClass.lpfnWndProc = OnWindow;
        windowClass.hInstance = GetModuleHandleA(NULL);
        windowClass.lpszClassName = "vfwcheck callbacks";
        RegisterClassA(&windowClass); // fails harmlessly once registered
        c.window = CreateWindowExA(0, windowClass.lpszClassName, "", 0, 0, 0, 0, 0, NULL, NULL, windowClass.hInstance, NULL);
        SetWindowLongPtrA(c.window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&c));
    } else if (kind == CallbackEvent) {
        c.event = CreateEventA(NULL, FALSE, FALSE, NULL);
    } else if (kind == CallbackThread) {
        MSG msg;
        PeekMessageA(&msg, NULL, 0, 0, PM_NOREMOVE); // this thread has its queue
    }
    return true;
}

DWORD InitStream(StreamClient &c)
{
    DWORD_PTR target = c.kind == CallbackFunction ? reinterpret_cast<DWORD_PTR>(OnFunction)
                     : c.kind == CallbackWindow   ? reinterpret_cast<DWORD_PTR>(c.window)
                     : c.kind == CallbackThread   ? GetCurrentThreadId()
                                                  : reinterpret_cast<DWORD_PTR>(c.event);
    VIDEO_STREAM_INIT_PARMS parms = {c.frameUs ? c.frameUs : 40000, target, reinterpret_cast<DWORD_PTR>(&c),
                                     CallbackFlags[c.kind], reinterpret_cast<DWORD_PTR>(c.channel)};
    c.phase = PhaseInit;
    return Send(c.channel, DVM_STREAM_INIT, reinterpret_cast<LPARAM>(&parms), sizeof parms);
}

DWORD AddHeader(StreamClient &c, VIDEOHDR *h)
{
    h->dwFlags = VHDR_PREPARED; // as the capture layer leaves it
    h->dwTimeCaptured = Untouched; // a driver that times its frames writes it
    EnterCriticalSection(&c.lock);
    c.owned[c.ownedCount++] = h;
    LeaveCriticalSection(&c.lock);
    DWORD result = Send(c.channel, DVM_STREAM_ADDBUFFER, reinterpret_cast<LPARAM>(h), sizeof *h);
    if (result != DV_ERR_OK) {
        EnterCriticalSection(&c.lock);
        RemoveOwned(c, h);
        LeaveCriticalSection(&c.lock);
    }
    return result;
}

void EnterPhase(StreamClient &c, Phase phase)
{
    Pump(c, 0); // what was posted before belongs to the phase before
    c.phase = phase;
}

// An event stream tells nothing but that something happened: a header whose
// VHDR_DONE is set is taken as handed back, oldest first.
static void CollectDone(StreamClient &c)
{
    while (c.ownedCount && (c.owned[0]->dwFlags & VHDR_DONE))
        Record(c, MM_DRVM_DATA, c.owned[0]);
}

bool Pump(StreamClient &c, DWORD ms, bool (*done)(const StreamClient &))
{
    DWORD start = GetTickCount(), lastStep = start;
    for (;;) {
        MSG msg;
        while (PeekMessageA(&msg, NULL, 0, 0, PM_REMOVE)) {
            if (!msg.hwnd && msg.message >= MM_DRVM_OPEN && msg.message <= MM_DRVM_DATA)
                Record(c, msg.message, reinterpret_cast<VIDEOHDR *>(msg.lParam));
            else
                DispatchMessageA(&msg);
        }
        if (c.kind == CallbackEvent && c.phase != PhaseEnded)
            CollectDone(c);
        if (done && done(c))
            return true;
        DWORD now = GetTickCount();
        if (now - start >= ms)
            return false;
        if (now - lastStep >= 1000) {
            Step("waiting for the %s stream", CallbackNames[c.kind]);
            lastStep = now;
        }
        if (MsgWaitForMultipleObjects(c.event ? 1 : 0, &c.event, FALSE, 10, QS_ALLINPUT) == WAIT_OBJECT_0 && c.event)
            c.signals++;
    }
}

bool EndClient(StreamClient &c)
{
    if (c.ownedCount || !c.closeSeen)
        return false;
    for (int i = 0; i < c.headerCount; i++) {
        FreeRecord(c.headers[i]->lpData);
        FreeRecord(c.headers[i]);
    }
    c.headerCount = 0;
    DeleteCriticalSection(&c.lock);
    return true;
}
