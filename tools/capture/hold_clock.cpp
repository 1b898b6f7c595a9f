// The clock of arrivals, and the time in which this process did not run
// (see hold_clock.h).
#include <windows.h>
#include "hold_clock.h"

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

// The lock lives as long as the process: a driver that never ended its
// stream may still call back, and stamp an arrival, after the recording.
void StartHoldClock()
{
    static bool made;
    if (!made)
        InitializeCriticalSection(&Clock.lock);
    made = true;
    EnterCriticalSection(&Clock.lock);
    Clock.lastTick = NowMs();
    Clock.held = 0;
    LeaveCriticalSection(&Clock.lock);
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
}
