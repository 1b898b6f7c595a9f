// Order: the stream messages out of their order, one misuse a child, each on
// the first VIDEO_IN instance of a freshly loaded driver: DVM_STREAM_START,
// DVM_STREAM_ADDBUFFER or DVM_STREAM_FINI before DVM_STREAM_INIT, the init
// twice, the same queued header added twice, the stop twice, a restart after
// a stop. Each must be refused with a documented code or handled harmlessly:
// no crash (reported under the misuse's rule), a refused header left as it
// was given and never touched again, no header back more often than it was
// added, nothing touched once the instance has closed, and a stream that
// still works.
#include <cstring>
#include "check.h"
#include "host.h"

static const int OrderHeaders = 5;
static const DWORD AskedUs = 40000;
static const DWORD Quiet = 1000;  // ms: a stopped stream is quiet by then
static const DWORD Linger = 300;  // ms watched once the instance has closed

static struct {
    HDRVR channel;
    VIDEOHDR *headers[OrderHeaders];
    BYTE *buffers[OrderHeaders];
    bool withdrawn[OrderHeaders];
    volatile LONG adds[OrderHeaders];  // accepted adds of each header
    volatile LONG backs[OrderHeaders]; // MM_DRVM_DATA of each header
    volatile LONG frames;              // MM_DRVM_DATA of headers added
    volatile LONG strangers;           // MM_DRVM_DATA of a header never added
} S;
static const char *Rule; // the misuse this child checks

static void CALLBACK OnData(HDRVR, UINT message, DWORD_PTR, DWORD_PTR param1, DWORD_PTR)
{
    if (message != MM_DRVM_DATA)
        return;
    for (int i = 0; i < OrderHeaders; i++) {
        if (S.headers[i] == reinterpret_cast<VIDEOHDR *>(param1)) {
            InterlockedIncrement(&S.backs[i]);
            InterlockedIncrement(&S.frames);
            return;
        }
    }
    InterlockedIncrement(&S.strangers);
}

static DWORD Init()
{
    VIDEO_STREAM_INIT_PARMS parms = {AskedUs, reinterpret_cast<DWORD_PTR>(OnData), 0, CALLBACK_FUNCTION,
                                     reinterpret_cast<DWORD_PTR>(S.channel)};
    return Send(S.channel, DVM_STREAM_INIT, reinterpret_cast<LPARAM>(&parms), sizeof parms);
}

static DWORD Add(int i)
{
    S.headers[i]->dwFlags = VHDR_PREPARED; // as the capture layer leaves it
    DWORD result = Send(S.channel, DVM_STREAM_ADDBUFFER, reinterpret_cast<LPARAM>(S.headers[i]), sizeof(VIDEOHDR));
    if (result == DV_ERR_OK)
        InterlockedIncrement(&S.adds[i]);
    return result;
}

// Until `count` headers have come back in all, or `ms` have gone by.
static bool WaitFrames(LONG count, DWORD ms)
{
    for (DWORD start = GetTickCount(), last = start; S.frames < count; Sleep(10)) {
        DWORD now = GetTickCount();
        if (now - start >= ms)
            return false;
        if (now - last >= 1000) {
            Step("%s: waiting for frames", Rule);
            last = now;
        }
    }
    return true;
}

// Decommits a header and its buffer: a later touch is reported under Rule.
static void Withdraw(int i, const char *when)
{
    if (S.withdrawn[i])
        return;
    char what[96];
    wsprintfA(what, "frame buffer #%d %s", i, when);
    WithdrawRecord(S.buffers[i], Rule, what);
    wsprintfA(what, "VIDEOHDR #%d %s", i, when);
    WithdrawRecord(S.headers[i], Rule, what);
    S.withdrawn[i] = true;
}

static bool Open()
{
    if (!LoadDriver("order.load"))
        return false;
    S.channel = OpenCaptureChannel("order.open");
    BITMAPINFOHEADER h;
    DWORD size = S.channel && GetFormat(S.channel, &h) ? (h.biSizeImage ? h.biSizeImage : UncompressedSize(h)) : 0;
    if (S.channel && !size) {
        Fail("order.open", "expected the VIDEO_IN format to size the buffers, got none");
        CloseInstance(S.channel);
    }
    if (!size) {
        UnloadDriver();
        return false;
    }
    for (int i = 0; i < OrderHeaders; i++) {
        char what[48];
        wsprintfA(what, "VIDEOHDR #%d", i);
        S.headers[i] = static_cast<VIDEOHDR *>(GuardedRecord(sizeof(VIDEOHDR), Rule, what));
        wsprintfA(what, "frame buffer #%d", i);
        S.buffers[i] = static_cast<BYTE *>(GuardedRecord(size, Rule, what));
        S.headers[i]->lpData = S.buffers[i];
        S.headers[i]->dwBufferLength = size;
        S.headers[i]->dwUser = i;
    }
    return true;
}

// The end of any stream as the capture window ends one, then the close of
// the instance: nothing given to the driver is its own any more, and the
// pages are decommitted, so that a later touch is caught.
static void End()
{
    Send(S.channel, DVM_STREAM_STOP);
    Send(S.channel, DVM_STREAM_RESET);
    Send(S.channel, DVM_STREAM_FINI);
    CloseInstance(S.channel);
    for (int i = 0; i < OrderHeaders; i++)
        Withdraw(i, "once its instance had closed");
    Step("%s: the instance closed, its headers decommitted: watching for %lu ms", Rule, Linger);
    Sleep(Linger);
    if (S.strangers)
        Fail(Rule, "expected MM_DRVM_DATA only for headers added, got %ld for others", S.strangers);
    UnloadDriver();
}

// After the misuse, answered `answer`, a stream as the capture layer runs one
// must still work: an init (unless `initialised`), two headers, a start and
// a frame.
static void ExpectStreamAfter(const char *what, DWORD answer, bool initialised)
{
    DWORD init = initialised ? DV_ERR_OK : Init();
    if (init == DV_ERR_OK) {
        Add(0);
        Add(1);
    }
    LONG before = S.frames;
    DWORD start = init == DV_ERR_OK ? Send(S.channel, DVM_STREAM_START) : Untouched;
    bool frames = start == DV_ERR_OK && WaitFrames(before + 1, FrameWait(1));
    Expect(IsDocumentedCode(answer) && frames, Rule, "%s answered %s: expected a documented code and a stream to work "
           "after it, got DVM_STREAM_INIT %s, DVM_STREAM_START %s and %s", what, CodeName(answer),
           initialised ? "sent before" : CodeName(init), start == Untouched ? "not sent" : CodeName(start),
           frames ? "frames" : "no frame");
}

static void StartBeforeInit()
{
    Step("DVM_STREAM_START before DVM_STREAM_INIT");
    ExpectStreamAfter("DVM_STREAM_START before DVM_STREAM_INIT", Send(S.channel, DVM_STREAM_START), false);
}

static void AddBeforeInit()
{
    Step("DVM_STREAM_ADDBUFFER before DVM_STREAM_INIT");
    S.headers[2]->dwFlags = VHDR_PREPARED;
    VIDEOHDR given = *S.headers[2];
    DWORD answer = Add(2);
    if (answer != DV_ERR_OK) {
        // A refused header was never the driver's: it stays as it was given.
        Expect(!std::memcmp(&given, S.headers[2], sizeof given), Rule, "DVM_STREAM_ADDBUFFER before "
               "DVM_STREAM_INIT refused with %s: expected the header left as given, got dwFlags 0x%lX (given 0x%lX), "
               "dwBytesUsed %lu", CodeName(answer), S.headers[2]->dwFlags, given.dwFlags, S.headers[2]->dwBytesUsed);
        Withdraw(2, "refused by DVM_STREAM_ADDBUFFER before DVM_STREAM_INIT");
    }
    ExpectStreamAfter("DVM_STREAM_ADDBUFFER before DVM_STREAM_INIT", answer, false);
}

static void FiniBeforeInit()
{
    Step("DVM_STREAM_FINI before DVM_STREAM_INIT");
    ExpectStreamAfter("DVM_STREAM_FINI before DVM_STREAM_INIT", Send(S.channel, DVM_STREAM_FINI), false);
}

static void InitTwice()
{
    Step("DVM_STREAM_INIT twice");
    if (Init() != DV_ERR_OK)
        return; // the stream group judges a refused init
    ExpectStreamAfter("a second DVM_STREAM_INIT", Init(), true);
}

// The second add is sent with the header as the driver left it.
static void AddTwice()
{
    Step("the same queued header added twice");
    if (Init() != DV_ERR_OK || Add(0) != DV_ERR_OK)
        return;
    DWORD again = Send(S.channel, DVM_STREAM_ADDBUFFER, reinterpret_cast<LPARAM>(S.headers[0]), sizeof(VIDEOHDR));
    if (again == DV_ERR_OK)
        InterlockedIncrement(&S.adds[0]);
    Send(S.channel, DVM_STREAM_START);
    WaitFrames(S.adds[0], FrameWait(S.adds[0]));
    Sleep(Quiet / 2); // a header handed back more often comes by then
    LONG backs = S.backs[0], adds = S.adds[0];
    if (!IsDocumentedCode(again) || backs < 1 || backs > adds)
        Fail(Rule, "a header added again while queued (answered %s): expected it back once for each accepted add "
             "(%ld), got it back %ld times", CodeName(again), adds, backs);
    else if (again == DV_ERR_OK)
        Warn(Rule, "a header added again while queued is accepted and handed back %ld times, filled again after the "
             "client had it back", backs);
    else
        Pass(Rule, "a header added again while queued is refused with %s and handed back once", CodeName(again));
}

// A stream of four headers that has delivered a frame and has been stopped
// for a while; false when it does not initialise.
static bool RunThenStop()
{
    if (Init() != DV_ERR_OK)
        return false;
    for (int i = 0; i < 4; i++)
        Add(i);
    Send(S.channel, DVM_STREAM_START);
    WaitFrames(1, FrameWait(1));
    Send(S.channel, DVM_STREAM_STOP);
    Sleep(Quiet);
    return true;
}

static void StopTwice()
{
    Step("DVM_STREAM_STOP twice");
    if (!RunThenStop())
        return;
    LONG before = S.frames;
    DWORD again = Send(S.channel, DVM_STREAM_STOP);
    Sleep(Quiet / 2);
    Expect(IsDocumentedCode(again) && S.frames == before, Rule, "a second DVM_STREAM_STOP, %lu ms after the first: "
           "expected a documented code and no frame after it, got %s and %ld frames in %lu ms", Quiet,
           CodeName(again), S.frames - before, Quiet / 2);
}

// DVM_STREAM_STOP: "The driver retains its queue of empty buffers": a start
// after it fills them, or is refused.
static void Restart()
{
    Step("DVM_STREAM_START after DVM_STREAM_STOP");
    if (!RunThenStop())
        return;
    DWORD late = Add(4);
    LONG queued = 0, before = S.frames;
    for (int i = 0; i < OrderHeaders; i++)
        queued += S.adds[i] - S.backs[i];
    DWORD again = Send(S.channel, DVM_STREAM_START);
    if (again != DV_ERR_OK)
        Expect(IsDocumentedCode(again), Rule, "DVM_STREAM_START after a stop: expected DV_ERR_OK or a documented "
               "refusal, got %s", CodeName(again));
    else if (queued <= 0)
        Info(Rule, "DVM_STREAM_START after a stop answered DV_ERR_OK with no header queued (the add after the stop "
             "answered %s): not judged", CodeName(late));
    else
        Expect(WaitFrames(before + 1, FrameWait(1)), Rule, "DVM_STREAM_START after a stop answered DV_ERR_OK: expected "
               "the %ld headers still queued filled, got none in %lu ms", queued, FrameWait(1));
}

struct OrderCheck {
    const char *rule;
    void (*run)();
};

static const OrderCheck Checks[] = {
    {"order.start-before-init", StartBeforeInit}, {"order.add-before-init", AddBeforeInit},
    {"order.fini-before-init", FiniBeforeInit}, {"order.init-twice", InitTwice}, {"order.add-twice", AddTwice},
    {"order.stop-twice", StopTwice}, {"order.restart", Restart}};

const int OrderCheckCount = sizeof Checks / sizeof *Checks;

void CheckOrder(int row)
{
    if (row < 0 || row >= OrderCheckCount)
        return;
    Rule = Checks[row].rule;
    ReportCrashesAs(Rule);
    if (!Open())
        return;
    Checks[row].run();
    End();
}
