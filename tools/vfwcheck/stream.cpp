// Stream: the sequence the capture layer sends (init, prepare, add, start,
// stop, reset, unprepare, fini) once for each callback type, every callback
// checked as it comes (callbacks.cpp); the error and position queries, the
// frame timing and a second instance while running; a stop that takes hold;
// a starved stream's processor time and dropped frames; DVM_FRAME; adds on
// channels that do not capture; and, last, the capture window's end of a
// stream stopped inside a read.
#include <vector>
#include "check.h"
#include "callbacks.h"
#include "host.h"

static const int Headers = 4;
static const DWORD Quiet = 1000;      // ms: a stopped stream is quiet by then
static const DWORD AskedUs = 40000;   // 25 frames a second, a rate every device of this kind gives
static const DWORD MinToleranceUs = 5000; // the timing tolerance: the larger of this and a fifth of the interval
static const DWORD Poison = 0xA5A5A5A4;
static const DWORD SlowFrameUs = 200000; // a read long enough to stop inside it
static const DWORD Linger = 2000;        // ms watched after the capture window's fini

// One for each callback type, then the starved stream and the capture window's.
static StreamClient Clients[CallbackKinds + 2];

// Documented declines, reported once for the whole group.
static bool PrepareDeclined, ResetDeclined;
static int FiniDropped = -1;

static bool EnoughData(const StreamClient &c) { return c.dataCount >= Settings.frames; }
static bool Closed(const StreamClient &c) { return c.closeSeen; }
static bool AllBack(const StreamClient &c) { return c.ownedCount == 0; }
static bool TwoFrames(const StreamClient &c) { return c.dataCount >= 2; }

static bool ValidTimeFormat(UINT type)
{
    return type == TIME_MS || type == TIME_SAMPLES || type == TIME_BYTES || type == TIME_SMPTE || type == TIME_MIDI ||
           type == TIME_TICKS;
}

static void CheckRunningQueries(HDRVR channel)
{
    // DVM_STREAM_GETERROR: an error code at lParam1, the frames dropped at lParam2.
    DWORD error = Untouched, dropped = Untouched;
    DWORD result = Send(channel, DVM_STREAM_GETERROR, reinterpret_cast<LPARAM>(&error), reinterpret_cast<LPARAM>(&dropped));
    if (result == DV_ERR_NOTSUPPORTED)
        Warn("stream.geterror", "declined (DV_ERR_NOTSUPPORTED): clients cannot learn of dropped frames");
    else
        Expect(result == DV_ERR_OK && IsDocumentedCode(error) && dropped != Untouched, "stream.geterror",
               "while running: expected DV_ERR_OK, a code and a count of dropped frames, got %s, code %lu, %lu dropped",
               CodeName(result), error, dropped);
    // DVM_STREAM_GETPOSITION: "If the driver cannot support the requested
    // format, it uses a format it can support, and places the format type in wType."
    MMTIME time = {};
    time.wType = TIME_MS;
    result = Send(channel, DVM_STREAM_GETPOSITION, reinterpret_cast<LPARAM>(&time), sizeof time);
    if (result == DV_ERR_NOTSUPPORTED)
        Warn("stream.position", "declined (DV_ERR_NOTSUPPORTED): clients time frames themselves");
    else
        Expect(result == DV_ERR_OK && ValidTimeFormat(time.wType), "stream.position",
               "while running: expected DV_ERR_OK and a TIME_* format, got %s and wType %u", CodeName(result), time.wType);
}

static bool IsOwned(const StreamClient &c, const VIDEOHDR *h)
{
    for (int i = 0; i < c.ownedCount; i++)
        if (c.owned[i] == h)
            return true;
    return false;
}

// A header the client holds (handed back), or NULL.
static VIDEOHDR *HeldHeader(const StreamClient &c)
{
    for (int i = 0; i < c.headerCount; i++)
        if (!IsOwned(c, c.headers[i]))
            return c.headers[i];
    return NULL;
}

static void CheckStop(StreamClient &c)
{
    EnterPhase(c, PhaseStop);
    DWORD start = GetTickCount();
    DWORD result = Send(c.channel, DVM_STREAM_STOP);
    DWORD returned = GetTickCount(), took = returned - start;
    EnterPhase(c, PhaseStopped);
    Expect(result == DV_ERR_OK && took < Quiet, "stream.stop", "%s callbacks: expected DV_ERR_OK within %lu ms, got %s "
           "after %lu ms", CallbackNames[c.kind], Quiet, CodeName(result), took);
    Pump(c, 300);
    // DVM_STREAM_STOP: "The driver retains its queue of empty buffers": one
    // added after the stop stays empty until a reset.
    if (VIDEOHDR *late = HeldHeader(c)) {
        if (AddHeader(c, late) == DV_ERR_OK) {
            Pump(c, 500);
            Expect(IsOwned(c, late), "stream.stop",
                   "%s callbacks: expected a header added after the stop kept empty, got it handed back",
                   CallbackNames[c.kind]);
        }
    }
    for (LONG i = 0; i < c.eventCount; i++) {
        const StreamEvent &e = c.events[i];
        if (e.message == MM_DRVM_DATA && e.time > returned + Quiet) {
            Fail("stream.stop", "%s callbacks: expected quiet within %lu ms of the stop, got MM_DRVM_DATA after %lu ms",
                 CallbackNames[c.kind], Quiet, e.time - returned);
            break;
        }
    }
}

// Headers never handed back are no longer the driver's after DVM_STREAM_FINI.
// The marks leave VHDR_DONE clear, so an event stream does not take them as
// handed back.
static void CheckNoWritesAfterFini(StreamClient &c)
{
    for (int i = 0; i < c.ownedCount; i++) {
        c.owned[i]->dwFlags = Poison;
        FillMemory(c.owned[i]->lpData, 16, 0xA5);
    }
    Pump(c, 200);
    for (int i = 0; i < c.ownedCount; i++) {
        const BYTE *data = c.owned[i]->lpData;
        bool untouched = c.owned[i]->dwFlags == Poison && data[0] == 0xA5 && data[15] == 0xA5;
        if (!Expect(untouched, "stream.after-fini", "%s callbacks: expected a header not handed back left alone after "
                    "DVM_STREAM_FINI, got it written", CallbackNames[c.kind]))
            break;
    }
}

static void CheckOpenClose(StreamClient &c)
{
    int opens = 0, closes = 0, openPhase = -1, closePhase = -1;
    for (LONG i = 0; i < c.eventCount; i++) {
        if (c.events[i].message == MM_DRVM_OPEN && opens++ == 0)
            openPhase = c.events[i].phase;
        if (c.events[i].message == MM_DRVM_CLOSE && closes++ == 0)
            closePhase = c.events[i].phase;
    }
    Expect(opens == 1 && closes == 1, "stream.open-close", "%s callbacks: expected one MM_DRVM_OPEN and one "
           "MM_DRVM_CLOSE in the stream, got %d and %d", CallbackNames[c.kind], opens, closes);
    // DVM_STREAM_INIT: "After the driver finishes initializing the VIDEO_IN
    // channel, it must send an MM_DRVM_OPEN callback message"; DVM_STREAM_FINI:
    // "After the driver has finished closing ..., it must send an MM_DRVM_CLOSE".
    if (c.kind == CallbackFunction && openPhase > PhaseInit)
        Warn("stream.open-timing", "MM_DRVM_OPEN comes with DVM_STREAM_START, not with DVM_STREAM_INIT where it is documented");
    if (c.kind == CallbackFunction && closePhase >= 0 && closePhase < PhaseFini)
        Warn("stream.close-timing", "MM_DRVM_CLOSE comes with DVM_STREAM_STOP, before DVM_STREAM_FINI where it is documented");
}

// A duration in microseconds as milliseconds with one decimal, in one of a
// few rotating buffers.
static const char *Ms(DWORD us)
{
    static char buffers[4][16];
    static int next;
    char *text = buffers[next++ & 3];
    wsprintfA(text, "%lu.%lu", us / 1000, us % 1000 / 100);
    return text;
}

static bool Near(DWORD a, DWORD b, DWORD tolerance)
{
    return (a > b ? a - b : b - a) <= tolerance;
}

// The timing of the frames handed back filled while the stream ran, over
// their mean interval. Measured on arrival against the rate asked, the rate
// is told as information; faster than asked is a failure (a client gets more
// frames than it asked for), slower is not, as a device may set its rate
// itself or a slow machine miss frames. dwTimeCaptured, the capture time in milliseconds, where the driver
// writes it: in every frame, rising, by dwMicroSecPerFrame or by the
// interval measured.
static void CheckTiming(StreamClient &c, DWORD askedUs)
{
    std::vector<StreamEvent> frames;
    EnterCriticalSection(&c.lock);
    for (LONG i = 0; i < c.eventCount; i++)
        if (c.events[i].message == MM_DRVM_DATA && c.events[i].phase == PhaseStart && c.events[i].bytes)
            frames.push_back(c.events[i]);
    LeaveCriticalSection(&c.lock);
    if (frames.size() < 3)
        return; // stream.data tells
    DWORD n = static_cast<DWORD>(frames.size()) - 1, tolerance = askedUs / 5 > MinToleranceUs ? askedUs / 5 : MinToleranceUs;
    DWORD arrivalUs = (frames[n].time - frames[0].time) * 1000 / n;
    DWORD perSecond = arrivalUs ? 100000000 / arrivalUs : 0; // hundredths
    if (arrivalUs + tolerance < askedUs)
        Fail("stream.rate", "%lu frames: expected one every %s ms, within %s ms, got one every %s ms (%lu.%02lu a second)",
             n + 1, Ms(askedUs), Ms(tolerance), Ms(arrivalUs), perSecond / 100, perSecond % 100);
    else if (arrivalUs > askedUs + tolerance)
        Info("stream.rate", "%lu frames: one every %s ms (%lu.%02lu a second) where %s ms was asked: the device sets its "
             "own rate (tolerance %s ms)", n + 1, Ms(arrivalUs), perSecond / 100, perSecond % 100, Ms(askedUs), Ms(tolerance));
    else
        Info("stream.rate", "%lu frames: one every %s ms (%lu.%02lu a second), %s ms asked, within %s ms", n + 1,
             Ms(arrivalUs), perSecond / 100, perSecond % 100, Ms(askedUs), Ms(tolerance));

    DWORD filled = 0, fall = 0;
    for (DWORD i = 0; i <= n; i++) {
        filled += frames[i].captured != Untouched;
        if (i && !fall && frames[i].captured <= frames[i - 1].captured)
            fall = i;
    }
    if (!filled) {
        Warn("stream.time-captured", "dwTimeCaptured never written: clients can time frames only on arrival");
        return;
    }
    DWORD stampUs = static_cast<DWORD>(static_cast<ULONGLONG>(frames[n].captured - frames[0].captured) * 1000 / n);
    char got[96];
    if (filled <= n)
        wsprintfA(got, "it written in %lu of %lu frames", filled, n + 1);
    else if (fall)
        wsprintfA(got, "%lu after %lu", frames[fall].captured, frames[fall - 1].captured);
    else
        wsprintfA(got, "a rise of %s ms a frame", Ms(stampUs));
    bool ok = filled > n && !fall && (Near(stampUs, askedUs, tolerance) || Near(stampUs, arrivalUs, tolerance));
    Expect(ok, "stream.time-captured", "%lu frames: expected dwTimeCaptured in each, rising by %s ms (dwMicroSecPerFrame) "
           "or by the %s ms measured, within %s ms, got %s", n + 1, Ms(askedUs), Ms(arrivalUs), Ms(tolerance), got);
}

static void CALLBACK IgnoreCallback(HDRVR, UINT, DWORD_PTR, DWORD_PTR, DWORD_PTR) {}

static LONG FramesWanted;
static bool FramesCame(const StreamClient &c) { return c.dataCount >= FramesWanted; }

// "It's up to you to decide if your device driver will support more than one
// client simultaneously": a second VIDEO_IN instance while this stream runs
// may be refused, and where it opens its set of the current format and its
// DVM_STREAM_INIT may be refused or work; none of it may disturb the stream
// that runs, whose frames keep coming.
static void CheckSecondInstance(StreamClient &c)
{
    Step("a second VIDEO_IN instance while the %s stream runs", CallbackNames[c.kind]);
    VIDEO_OPEN_PARMS parms;
    HDRVR second = OpenChannel(VIDEO_IN, &parms);
    char what[160] = "a second VIDEO_IN instance refused";
    bool documented = true;
    if (second) {
        std::vector<BYTE> record;
        DWORD get = GetFormatRecord(second, record);
        DWORD set = get == DV_ERR_OK ? SetFormatRecord(second, record) : get;
        VIDEO_STREAM_INIT_PARMS init = {AskedUs, reinterpret_cast<DWORD_PTR>(IgnoreCallback), 0, CALLBACK_FUNCTION,
                                        reinterpret_cast<DWORD_PTR>(second)};
        DWORD initialised = Send(second, DVM_STREAM_INIT, reinterpret_cast<LPARAM>(&init), sizeof init);
        DWORD fini = initialised == DV_ERR_OK ? Send(second, DVM_STREAM_FINI) : DV_ERR_OK;
        CloseInstance(second);
        documented = IsDocumentedCode(set) && IsDocumentedCode(initialised) && IsDocumentedCode(fini);
        wsprintfA(what, "a second VIDEO_IN instance opened, its set of the current format answered %s, its "
                  "DVM_STREAM_INIT %s", CodeName(set), CodeName(initialised));
    }
    FramesWanted = c.dataCount + 3;
    DWORD wait = FrameWait(3);
    LONG before = c.dataCount;
    bool going = Pump(c, wait, FramesCame);
    Expect(documented && going, "stream.second-instance", "%s: expected documented answers and the running stream's "
           "frames to keep coming, got %ld frames in %lu ms after it", what, c.dataCount - before, wait);
}

static void RunStream(HDRVR channel, CallbackKind kind, DWORD bufferSize, DWORD imageSize)
{
    StreamClient &c = Clients[kind];
    const char *name = CallbackNames[kind];
    Step("%s callbacks: DVM_STREAM_INIT", name);
    if (!StartClient(c, channel, kind, Headers, bufferSize, imageSize)) {
        Fail("stream.init", "%s callbacks: expected room for the buffers, got none", name);
        return;
    }
    c.readd = true;
    c.frameUs = AskedUs;
    DWORD result = InitStream(c);
    if (result != DV_ERR_OK) {
        // VIDEO_STREAM_INIT_PARMS names CALLBACK_WINDOW and CALLBACK_FUNCTION.
        if (kind == CallbackThread || kind == CallbackEvent)
            Warn("stream.init", "%s callbacks declined with %s (documented are window and function callbacks)", name,
                 CodeName(result));
        else
            Fail("stream.init", "%s callbacks: expected DV_ERR_OK, got %s", name, CodeName(result));
        return;
    }
    for (int i = 0; i < c.headerCount; i++) {
        // "If the driver returns DV_ERR_NOTSUPPORTED, then msvfw32.dll or
        // avicap32.dll will prepare the buffer."
        result = Send(channel, DVM_STREAM_PREPAREHEADER, reinterpret_cast<LPARAM>(c.headers[i]), sizeof(VIDEOHDR));
        PrepareDeclined = PrepareDeclined || result == DV_ERR_NOTSUPPORTED;
        if (result != DV_ERR_OK && result != DV_ERR_NOTSUPPORTED)
            Fail("stream.prepare", "%s callbacks: expected DV_ERR_OK or DV_ERR_NOTSUPPORTED, got %s", name, CodeName(result));
    }
    for (int i = 0; i < c.headerCount; i++) {
        result = AddHeader(c, c.headers[i]);
        Expect(result == DV_ERR_OK, "stream.add", "%s callbacks, header #%d: expected DV_ERR_OK, got %s", name, i,
               CodeName(result));
    }
    EnterPhase(c, PhaseStart);
    result = Send(channel, DVM_STREAM_START);
    Expect(result == DV_ERR_OK, "stream.start", "%s callbacks: expected DV_ERR_OK, got %s", name, CodeName(result));
    if (kind == CallbackFunction)
        CheckRunningQueries(channel);
    DWORD wait = FrameWait(Settings.frames);
    Expect(Pump(c, wait, EnoughData), "stream.data", "%s callbacks: expected %d headers handed back and added "
           "again within %lu ms, got %ld", name, Settings.frames, wait, c.dataCount);
    if (kind == CallbackFunction) {
        CheckTiming(c, AskedUs);
        CheckSecondInstance(c);
    }
    CheckStop(c);

    // DVM_STREAM_RESET: "For each unused buffer ... the driver must set
    // VHDR_DONE ... and then send an MM_DRVM_DATA callback message."
    EnterPhase(c, PhaseReset);
    result = Send(channel, DVM_STREAM_RESET);
    ResetDeclined = ResetDeclined || result == DV_ERR_NOTSUPPORTED;
    if (result == DV_ERR_OK)
        Expect(Pump(c, Quiet, AllBack), "stream.reset", "%s callbacks: expected every queued header back after the "
               "reset, got %d still queued", name, c.ownedCount);
    else if (result != DV_ERR_NOTSUPPORTED)
        Fail("stream.reset", "%s callbacks: expected DV_ERR_OK or DV_ERR_NOTSUPPORTED, got %s", name, CodeName(result));
    for (int i = 0; i < c.headerCount; i++) {
        // DV_ERR_STILLPLAYING: "the data buffer is still in the device driver's available queue".
        result = Send(channel, DVM_STREAM_UNPREPAREHEADER, reinterpret_cast<LPARAM>(c.headers[i]), sizeof(VIDEOHDR));
        if (result != DV_ERR_OK && result != DV_ERR_NOTSUPPORTED && result != DV_ERR_STILLPLAYING)
            Fail("stream.unprepare", "%s callbacks: expected DV_ERR_OK, DV_ERR_NOTSUPPORTED or DV_ERR_STILLPLAYING, got %s",
                 name, CodeName(result));
    }

    // DVM_STREAM_FINI: "If all the input buffers sent with DVM_STREAM_ADDBUFFER
    // haven't been returned to the client, the driver should fail the message."
    int outstanding = c.ownedCount;
    EnterPhase(c, PhaseFini);
    result = Send(channel, DVM_STREAM_FINI);
    if (!outstanding)
        Expect(result == DV_ERR_OK, "stream.fini", "%s callbacks, every header back: expected DV_ERR_OK, got %s", name,
               CodeName(result));
    else if (result == DV_ERR_OK)
        FiniDropped = outstanding;
    else if (ResetDeclined)
        Fail("stream.fini", "%s callbacks: refused with %d headers queued and no reset to get them back: the stream "
             "cannot end", name, outstanding);
    if (kind == CallbackEvent) {
        Expect(c.signals > 0, "stream.event", "event callbacks: expected the event signalled, got never");
    } else {
        Expect(Pump(c, Quiet, Closed), "stream.close", "%s callbacks: expected MM_DRVM_CLOSE within %lu ms of "
               "DVM_STREAM_FINI, got none", name, Quiet);
        Pump(c, 300); // anything after the close is reported as it comes
        CheckOpenClose(c);
    }
    CheckNoWritesAfterFini(c);
}

static void CheckStarved(HDRVR channel, DWORD bufferSize)
{
    StreamClient &c = Clients[CallbackKinds];
    Step("a started stream without buffers");
    StartClient(c, channel, CallbackFunction, 0, bufferSize, 0);
    c.frameUs = AskedUs;
    if (InitStream(c) != DV_ERR_OK)
        return; // reported by the function stream
    EnterPhase(c, PhaseStart);
    Send(channel, DVM_STREAM_START);
    DWORD started = GetTickCount();
    Sleep(200);
    DWORD cpu = ProcessCpuMs(), start = GetTickCount();
    Sleep(1000);
    DWORD used = ProcessCpuMs() - cpu, spent = GetTickCount() - start;
    Expect(used <= spent / 10, "stream.starved-cpu", "a started stream without buffers: expected under %lu ms of "
           "processor time in %lu ms, got %lu ms", spent / 10, spent, used);
    // DVM_STREAM_GETERROR: "If the driver has had to drop captured frames
    // because the client has not sent enough buffers to receive them, the
    // driver should return DV_ERR_NO_BUFFERS ... and should return the number
    // of dropped frames". Where it is declined, the running stream's check
    // has said so.
    DWORD error = Untouched, dropped = Untouched, starved = GetTickCount() - started;
    DWORD result = Send(channel, DVM_STREAM_GETERROR, reinterpret_cast<LPARAM>(&error), reinterpret_cast<LPARAM>(&dropped));
    if (result != DV_ERR_NOTSUPPORTED)
        Expect(result == DV_ERR_OK && IsDocumentedCode(error) && dropped && dropped <= starved, "stream.dropped",
               "%lu ms without buffers at a frame every %lu ms asked: expected DV_ERR_OK and 1 to %lu frames dropped, "
               "got %s, code %s and %lu dropped", starved, AskedUs / 1000, starved, CodeName(result), CodeName(error),
               dropped);
    EnterPhase(c, PhaseStop);
    start = GetTickCount();
    result = Send(channel, DVM_STREAM_STOP);
    DWORD took = GetTickCount() - start;
    Expect(result == DV_ERR_OK && took < Quiet, "stream.stop", "a starved stream: expected DV_ERR_OK within %lu ms, "
           "got %s after %lu ms", Quiet, CodeName(result), took);
    EnterPhase(c, PhaseFini);
    Send(channel, DVM_STREAM_FINI);
    Expect(Pump(c, Quiet, Closed), "stream.close", "a starved stream: expected MM_DRVM_CLOSE within %lu ms of the "
           "stop and fini, got none", Quiet);
}

// DVM_FRAME: "For the VIDEO_IN channel, the driver transfers data from the
// device's frame buffer into the specified buffer", before it returns.
static void CheckFrame(HDRVR channel, DWORD bufferSize, DWORD imageSize)
{
    Step("DVM_FRAME");
    VIDEOHDR *h = static_cast<VIDEOHDR *>(GuardedRecord(sizeof(VIDEOHDR), "stream.frame", "VIDEOHDR (DVM_FRAME)"));
    h->lpData = static_cast<LPBYTE>(GuardedRecord(bufferSize, "stream.frame", "frame buffer (DVM_FRAME)"));
    h->dwBufferLength = bufferSize;
    FillMemory(h->lpData, bufferSize, 0xA5);
    DWORD result = Send(channel, DVM_FRAME, reinterpret_cast<LPARAM>(h), sizeof *h);
    if (result == DV_ERR_NOTSUPPORTED) {
        Warn("stream.frame", "declined (DV_ERR_NOTSUPPORTED): no single frames");
        return;
    }
    bool written = false;
    for (DWORD i = 0; i < bufferSize && !written; i++)
        written = h->lpData[i] != 0xA5;
    Expect(result == DV_ERR_OK && written && h->dwBytesUsed <= bufferSize && (!imageSize || h->dwBytesUsed == imageSize),
           "stream.frame", "expected DV_ERR_OK, a frame in the buffer and dwBytesUsed %lu, got %s, %s, dwBytesUsed %lu",
           imageSize ? imageSize : bufferSize, CodeName(result), written ? "a frame" : "the buffer untouched",
           h->dwBytesUsed);
    // Into half the buffer, flush against the guard: an error, or no more than fits.
    h->dwBufferLength = bufferSize / 2;
    h->dwBytesUsed = 0;
    h->lpData = static_cast<LPBYTE>(GuardedRecord(h->dwBufferLength, "stream.frame", "half-size frame buffer (DVM_FRAME)"));
    result = Send(channel, DVM_FRAME, reinterpret_cast<LPARAM>(h), sizeof *h);
    Expect(result != DV_ERR_OK || h->dwBytesUsed <= h->dwBufferLength, "stream.frame", "into half the image's size: "
           "expected an error or at most %lu bytes, got %s and %lu bytes", h->dwBufferLength, CodeName(result),
           h->dwBytesUsed);
}

// DVM_STREAM_ADDBUFFER: "For this message, the driver should only accept
// VIDEO_IN." The capture layer sends it nowhere else: a warning.
static void CheckOtherChannels(DWORD bufferSize)
{
    for (const ChannelType &t : ChannelTypes) {
        if (t.flag == VIDEO_IN)
            continue;
        Step("DRV_OPEN %s, then DVM_STREAM_ADDBUFFER on it", t.name);
        VIDEO_OPEN_PARMS parms;
        HDRVR other = OpenChannel(t.flag, &parms);
        if (!other)
            continue;
        VIDEOHDR *h = static_cast<VIDEOHDR *>(GuardedRecord(sizeof(VIDEOHDR), "stream.header", "VIDEOHDR"));
        h->lpData = static_cast<LPBYTE>(GuardedRecord(bufferSize, "stream.buffer", "frame buffer"));
        h->dwBufferLength = bufferSize;
        h->dwFlags = VHDR_PREPARED;
        DWORD result = Send(other, DVM_STREAM_ADDBUFFER, reinterpret_cast<LPARAM>(h), sizeof *h);
        // A refusal leaves the header as the client gave it.
        if (result == DV_ERR_OK)
            Warn("stream.other-channel", "DVM_STREAM_ADDBUFFER on %s is accepted (documented for VIDEO_IN only)", t.name);
        else
            Expect(IsDocumentedCode(result) && h->dwFlags == VHDR_PREPARED, "stream.other-channel",
                   "DVM_STREAM_ADDBUFFER on %s: expected a documented refusal that leaves dwFlags VHDR_PREPARED, "
                   "got %s and dwFlags 0x%lX", t.name, CodeName(result), h->dwFlags);
        CloseInstance(other);
    }
}

// When the last MM_DRVM_DATA came, and the time since the one before (0 with
// fewer than two).
static void LastFrames(StreamClient &c, DWORD &last, DWORD &interval)
{
    DWORD times[2] = {};
    int found = 0;
    EnterCriticalSection(&c.lock);
    for (LONG i = c.eventCount - 1; i >= 0 && found < 2; i--)
        if (c.events[i].message == MM_DRVM_DATA)
            times[found++] = c.events[i].time;
    LeaveCriticalSection(&c.lock);
    last = times[0];
    interval = found == 2 ? times[0] - times[1] : 0;
}

// Every header handed back is added again, so a running driver is always
// filling one: half a frame after the last came back, with no other since,
// it is inside the next read rather than between two.
static void WaitInsideRead(StreamClient &c)
{
    for (int tries = 0; tries < 8; tries++) {
        LONG seen = c.dataCount;
        DWORD last, interval;
        LastFrames(c, last, interval);
        DWORD half = (interval ? interval : SlowFrameUs / 1000) / 2, since = GetTickCount() - last;
        if (since < half)
            Sleep(half - since);
        if (c.dataCount == seen)
            return;
    }
}

static const char *CallbackMessageName(UINT message)
{
    return message == MM_DRVM_DATA ? "MM_DRVM_DATA" : message == MM_DRVM_CLOSE ? "MM_DRVM_CLOSE"
         : message == MM_DRVM_OPEN ? "MM_DRVM_OPEN" : message == MM_DRVM_ERROR ? "MM_DRVM_ERROR" : "a callback";
}

// The capture window (AVICap) ends a stream with DVM_STREAM_STOP,
// DVM_STREAM_RESET, DVM_STREAM_UNPREPAREHEADER for each header and
// DVM_STREAM_FINI, whatever they answer, and frees the headers and buffers
// as soon as the last returns. Stopped inside a read, the driver must be done
// with them by then: their pages are decommitted at once, so a touch faults
// (the host reports it under this rule), and no callback may follow.
static void CheckCaptureWindowOrder(DWORD bufferSize, DWORD imageSize)
{
    static const char Rule[] = "stream.capture-window-order";
    HDRVR channel = OpenCaptureChannel("stream.open");
    if (!channel)
        return;
    StreamClient &c = Clients[CallbackKinds + 1];
    Step("the capture window's stream: started, to be stopped inside a read");
    if (!StartClient(c, channel, CallbackFunction, Headers, bufferSize, imageSize)) {
        Fail(Rule, "expected room for the buffers, got none");
        CloseInstance(channel);
        return;
    }
    c.readd = true;
    c.frameUs = SlowFrameUs;
    if (DWORD result = InitStream(c)) {
        Warn(Rule, "not judged: DVM_STREAM_INIT for a frame every %lu ms answered %s", SlowFrameUs / 1000,
             CodeName(result));
        CloseInstance(channel);
        return;
    }
    VIDEOHDR *headers[Headers];
    BYTE *buffers[Headers];
    char names[2 * Headers][64];
    for (int i = 0; i < Headers; i++) {
        headers[i] = c.headers[i];
        buffers[i] = c.headers[i]->lpData;
        wsprintfA(names[2 * i], "frame buffer of header #%d once DVM_STREAM_FINI had returned", i);
        wsprintfA(names[2 * i + 1], "VIDEOHDR #%d once DVM_STREAM_FINI had returned", i);
        // The answers are the callback streams' to judge.
        Send(channel, DVM_STREAM_PREPAREHEADER, reinterpret_cast<LPARAM>(headers[i]), sizeof(VIDEOHDR));
    }
    for (int i = 0; i < Headers; i++)
        AddHeader(c, headers[i]);
    EnterPhase(c, PhaseStart);
    Send(channel, DVM_STREAM_START);
    bool running = Pump(c, FrameWait(2), TwoFrames);
    if (running)
        WaitInsideRead(c);
    else
        Fail(Rule, "expected a stream to stop inside a read, got %ld headers back in %lu ms", c.dataCount, FrameWait(2));

    Step("the capture window's end: DVM_STREAM_STOP inside a read, then RESET, UNPREPAREHEADER and FINI");
    EnterPhase(c, PhaseStop);
    Send(channel, DVM_STREAM_STOP);
    EnterPhase(c, PhaseReset);
    Send(channel, DVM_STREAM_RESET);
    for (int i = 0; i < Headers; i++)
        Send(channel, DVM_STREAM_UNPREPAREHEADER, reinterpret_cast<LPARAM>(headers[i]), sizeof(VIDEOHDR));
    EnterPhase(c, PhaseFini);
    Send(channel, DVM_STREAM_FINI);
    DWORD ended = GetTickCount();
    c.phase = PhaseEnded;
    for (int i = 0; i < Headers; i++) {
        WithdrawRecord(buffers[i], Rule, names[2 * i]);
        WithdrawRecord(headers[i], Rule, names[2 * i + 1]);
    }
    Step("DVM_STREAM_FINI returned, the headers and buffers decommitted: watching for %lu ms", Linger);
    if (running) {
        Pump(c, Linger);
        char got[64] = "none";
        bool late = false;
        EnterCriticalSection(&c.lock);
        for (LONG i = 0; i < c.eventCount && !late; i++) {
            if ((late = c.events[i].phase == PhaseEnded))
                wsprintfA(got, "%s %lu ms after", CallbackMessageName(c.events[i].message), c.events[i].time - ended);
        }
        LeaveCriticalSection(&c.lock);
        Expect(!late, Rule, "stopped inside a read: expected nothing touched and no callback for "
               "%lu ms once DVM_STREAM_FINI had returned, got %s", Linger, got);
    }
    CloseInstance(channel);
}

void CheckStream()
{
    if (!LoadDriver("stream.load"))
        return;
    HDRVR channel = OpenCaptureChannel("stream.open");
    BITMAPINFOHEADER h;
    if (!channel || !GetFormat(channel, &h)) {
        if (channel) {
            Fail("stream.open", "expected the VIDEO_IN format to size the buffers, got none");
            CloseInstance(channel);
        }
        UnloadDriver();
        return;
    }
    // "dwBytesUsed equals biSizeImage for uncompressed formats".
    DWORD imageSize = UncompressedSize(h) ? (h.biSizeImage ? h.biSizeImage : UncompressedSize(h)) : 0;
    DWORD bufferSize = h.biSizeImage ? h.biSizeImage : imageSize;
    for (int kind = 0; kind < CallbackKinds && bufferSize; kind++)
        RunStream(channel, static_cast<CallbackKind>(kind), bufferSize, imageSize);
    if (PrepareDeclined)
        Warn("stream.prepare", "declined (DV_ERR_NOTSUPPORTED): the capture layer prepares headers itself");
    if (ResetDeclined)
        Warn("stream.reset", "declined (DV_ERR_NOTSUPPORTED): headers still queued at a stop are never handed back");
    if (FiniDropped >= 0)
        Warn("stream.fini", "accepted with %d headers never handed back (documented: it should fail until all are back)",
             FiniDropped);
    if (bufferSize) {
        CheckStarved(channel, bufferSize);
        CheckFrame(channel, bufferSize, imageSize);
    }
    CloseInstance(channel);
    CheckOtherChannels(bufferSize ? bufferSize : 4096);
    // Last: what it withdraws stays withdrawn, and a touch ends the group.
    if (bufferSize)
        CheckCaptureWindowOrder(bufferSize, imageSize);
    UnloadDriver();
}
