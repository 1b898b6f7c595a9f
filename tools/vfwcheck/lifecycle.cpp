// Lifecycle: load and the configuration-only open, a channel open of every
// type and what a refusal must say, an open of the wrong type, closes, and a
// thousand open and close cycles that leave the process's handles and
// private memory where they were.
#include "check.h"
#include "host.h"

static const int Cycles = 1000, WarmUp = 20;
static const SIZE_T MemorySlack = 64 * 1024;

// VIDEO_OPEN_PARMS.dwError: the "Error value the driver should return to the
// client application if it fails the open". A refusal must set it; "should"
// makes a plain 0 (no reason given) a warning, an untouched field or an
// undocumented code a failure.
static void CheckRefusal(const char *what, const VIDEO_OPEN_PARMS &parms)
{
    if (parms.dwError == Untouched || (parms.dwError != DV_ERR_OK && !IsDocumentedCode(parms.dwError)))
        Fail("lifecycle.open-error", "%s refused: expected a DV_ERR_* code in dwError, got %s", what,
             parms.dwError == Untouched ? "dwError untouched" : CodeName(parms.dwError));
    else if (parms.dwError == DV_ERR_OK)
        Warn("lifecycle.open-error", "%s refused with dwError 0: the application learns no reason", what);
    else
        Pass("lifecycle.open-error", "%s refused with %s", what, CodeName(parms.dwError));
}

// Opens and closes every accepted channel type `count` times; false when an
// open that worked before is refused.
static bool OpenCloseCycles(const DWORD *types, int typeCount, int count)
{
    for (int i = 0; i < count; i++) {
        if (i % 10 == 0) // often enough for the watchdog, however slow an open
            Step("open and close cycle %d", i);
        HDRVR open[4] = {};
        for (int t = 0; t < typeCount; t++) {
            VIDEO_OPEN_PARMS parms;
            open[t] = OpenChannel(types[t], &parms);
            if (!open[t]) {
                Fail("lifecycle.cycles", "cycle %d: expected %s to open as before, got a refusal", i, ChannelName(types[t]));
                for (int c = 0; c < t; c++)
                    CloseInstance(open[c]);
                return false;
            }
        }
        for (int t = typeCount - 1; t >= 0; t--)
            CloseInstance(open[t]);
    }
    return true;
}

void CheckLifecycle()
{
    // A load that fails is reported as lifecycle.load.
    if (!LoadDriver("lifecycle.load"))
        return;

    // VIDEO_OPEN_PARMS.fccType "Must be 'vcap'".
    Step("DRV_OPEN with fccType 'junk'");
    VIDEO_OPEN_PARMS parms;
    HDRVR wrong = OpenChannel(VIDEO_IN, &parms, mmioFOURCC('j', 'u', 'n', 'k'));
    Expect(!wrong, "lifecycle.open-type", "DRV_OPEN of VIDEO_IN with fccType 'junk': expected a refusal, got %s",
           wrong ? "an instance" : "a refusal");
    if (wrong)
        CloseInstance(wrong);

    // "Each of the different capture channels will receive a separate
    // DRV_OPEN message"; a driver decides which it serves.
    DWORD accepted[4];
    HDRVR open[4];
    int count = 0;
    for (const ChannelType &t : ChannelTypes) {
        Step("DRV_OPEN %s", t.name);
        HDRVR channel = OpenChannel(t.flag, &parms);
        if (channel) {
            Pass("lifecycle.open", "%s opens", t.name);
            accepted[count] = t.flag;
            open[count++] = channel;
        } else if (t.flag == VIDEO_IN) {
            Fail("lifecycle.open", "expected VIDEO_IN, the channel that captures, to open, got a refusal (dwError %s)",
                 parms.dwError == Untouched ? "untouched" : CodeName(parms.dwError));
        } else {
            CheckRefusal(t.name, parms);
        }
    }
    // "It's up to you to decide if your device driver will support more than
    // one client simultaneously": a second open may go either way.
    Step("second DRV_OPEN of VIDEO_IN");
    if (HDRVR second = OpenChannel(VIDEO_IN, &parms)) {
        Pass("lifecycle.open-twice", "a second VIDEO_IN instance opens");
        CloseInstance(second);
    } else {
        CheckRefusal("a second VIDEO_IN open", parms);
    }
    for (int i = count - 1; i >= 0; i--)
        CloseInstance(open[i]);

    // DRV_CLOSE: "returns nonzero if its DriverProc successfully closes the
    // driver". winmm's CloseDriver hides the answer, so these go direct.
    for (int i = 0; i < count; i++) {
        Step("DRV_OPEN and DRV_CLOSE of %s, sent directly", ChannelName(accepted[i]));
        FillOpenParms(parms, accepted[i]);
        DWORD_PTR id = SendDirect(0, DRV_OPEN, 0, reinterpret_cast<LPARAM>(&parms));
        if (!id)
            Fail("lifecycle.close", "DRV_OPEN of %s sent directly: expected an instance as through OpenDriver, got 0",
                 ChannelName(accepted[i]));
        else if (DWORD closed = SendDirect(id, DRV_CLOSE))
            Pass("lifecycle.close", "DRV_CLOSE of a %s instance answers %lu", ChannelName(accepted[i]), closed);
        else
            Fail("lifecycle.close", "DRV_CLOSE of a %s instance: expected nonzero, got 0", ChannelName(accepted[i]));
    }

    Usage before = {}, after = {};
    if (count && OpenCloseCycles(accepted, count, WarmUp)) {
        before = MeasureUsage();
        if (OpenCloseCycles(accepted, count, Cycles)) {
            after = MeasureUsage();
            if (!before.handles)
                Warn("lifecycle.cycles-handles", "this system cannot count a process's handles");
            else
                Expect(after.handles == before.handles, "lifecycle.cycles-handles",
                       "%d open and close cycles: expected %lu handles as before, got %lu", Cycles, before.handles,
                       after.handles);
            char when[48];
            wsprintfA(when, "%d open and close cycles", Cycles);
            ExpectMemoryWithin("lifecycle.cycles-memory", when, before, after, MemorySlack);
        }
    }
    UnloadDriver();
}
