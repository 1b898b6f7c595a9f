// How long a test waits for what must come: a watchdog for the slowest
// machine the suite runs on (software emulation on two cores with the other
// core busy). Running out of it is reported as a hang, never as a verdict on
// the machine's speed: tests ask for counts of events, not counts in a time.
#ifndef WATCHDOG_H
#define WATCHDOG_H

#include <windows.h>

constexpr DWORD HangMs = 180000;

// Polls `condition` every 10 ms until it holds; false once `ms` have passed.
template <class Condition> bool Eventually(Condition condition, DWORD ms = HangMs)
{
    const DWORD deadline = GetTickCount() + ms;
    while (!condition()) {
        if (static_cast<LONG>(GetTickCount() - deadline) >= 0)
            return false;
        Sleep(10);
    }
    return true;
}

#endif
