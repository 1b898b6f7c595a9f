// The clock of the frames' arrivals, and the holds of this process: time in
// which it did not run at all (a held or starved client), which tells
// nothing of when a frame was captured.
#ifndef CAPTURE_HOLD_CLOCK_H
#define CAPTURE_HOLD_CLOCK_H

// Milliseconds of the performance counter.
double NowMs();

// Measures the time in which the process did not run: a thread that ticks
// every few milliseconds at the highest priority, and any caller, count a
// gap between ticks of more than a few ticks as a hold.
void StartHoldClock();
void StopHoldClock();
// Milliseconds of holds up to now (it counts a hold that has just ended).
double HeldMs(double nowMs);

#endif
