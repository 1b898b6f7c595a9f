// The capture times of the frames: the hold clock, and the frames' slots.
#include <algorithm>
#include <cmath>
#include <windows.h>
#include "timeline.h"

// A gap between ticks longer than HoldGapMs is a hold, less the tick itself.
static const double TickMs = 5, HoldGapMs = 30;

static struct HoldClock {
    CRITICAL_SECTION lock;
    double lastTick, held;
    HANDLE thread, stop;
} Clock;

double NowMs()
{
    static LARGE_INTEGER frequency;
    if (!frequency.QuadPart)
        QueryPerformanceFrequency(&frequency);
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return now.QuadPart * 1000.0 / frequency.QuadPart;
}

double HeldMs(double nowMs)
{
    EnterCriticalSection(&Clock.lock);
    if (nowMs > Clock.lastTick) {
        if (nowMs - Clock.lastTick > HoldGapMs)
            Clock.held += nowMs - Clock.lastTick - TickMs;
        Clock.lastTick = nowMs;
    }
    double held = Clock.held;
    LeaveCriticalSection(&Clock.lock);
    return held;
}

static DWORD WINAPI Tick(LPVOID)
{
    while (WaitForSingleObject(Clock.stop, static_cast<DWORD>(TickMs)) == WAIT_TIMEOUT)
        HeldMs(NowMs());
    return 0;
}

void StartHoldClock()
{
    InitializeCriticalSection(&Clock.lock);
    Clock.lastTick = NowMs();
    Clock.held = 0;
    timeBeginPeriod(1); // ticks of a few milliseconds, not the system's default of 10 or more
    Clock.stop = CreateEventA(NULL, TRUE, FALSE, NULL);
    Clock.thread = CreateThread(NULL, 0, Tick, NULL, 0, NULL);
    SetThreadPriority(Clock.thread, THREAD_PRIORITY_TIME_CRITICAL);
}

void StopHoldClock()
{
    SetEvent(Clock.stop);
    WaitForSingleObject(Clock.thread, INFINITE);
    CloseHandle(Clock.thread);
    CloseHandle(Clock.stop);
    timeEndPeriod(1);
    DeleteCriticalSection(&Clock.lock);
}

void StartTimeline(Timeline &t, double periodMs)
{
    t.period = periodMs;
    t.phase = 0;
    t.next = 0;
    t.started = false;
}

double CaptureEstimate(double arrivalMs, double heldMs, double previousHeldMs)
{
    return arrivalMs - (heldMs - previousHeldMs);
}

static long SlotOf(const Timeline &t, double estimate)
{
    return static_cast<long>(std::floor((estimate - t.phase) / t.period + 0.5));
}

// The slot the oldest frame gets from the frames known: no later than its
// own, nor than each later frame's less the frames between them.
static long Candidate(const Timeline &t, const double *estimates, size_t count)
{
    long slot = SlotOf(t, estimates[0]);
    for (size_t j = 1; j < count; j++) {
        long bound = SlotOf(t, estimates[j]) - static_cast<long>(j);
        if (bound < slot)
            slot = bound;
    }
    return slot < t.next ? t.next : slot;
}

// Before the first frame, the phase is the least delay among the first
// frames known, each counted a period after the one before.
static double FirstPhase(const Timeline &t, const double *estimates, size_t count)
{
    double phase = estimates[0];
    for (size_t j = 1; j < count; j++)
        phase = std::min(phase, estimates[j] - static_cast<double>(j) * t.period);
    return phase;
}

long PlaceFrame(Timeline &t, const double *estimates, size_t count)
{
    if (!t.started) {
        t.phase = FirstPhase(t, estimates, count);
        t.started = true;
    }
    long own = SlotOf(t, estimates[0]), slot = Candidate(t, estimates, count);
    // The phase follows the delay of the frames placed in their own slot, in
    // small steps (arrivals jitter): a first frame that came early or late
    // does not set it for good, nor does a device whose clock drifts from ours.
    if (slot == own)
        t.phase += (estimates[0] - t.phase - slot * t.period) / 16;
    t.next = slot + 1;
    return slot;
}

double PlaceableFrom(const Timeline &t, const double *estimates, size_t count, size_t buffers)
{
    // Frames that come later bound the oldest only while they could have
    // been captured before it: once the driver has handed back as many as
    // it holds after it, or that many periods have passed, none can.
    return count > buffers ? -HUGE_VAL : estimates[0] + (static_cast<double>(buffers) + 1) * t.period;
}
