// When each frame was captured. The driver gives no capture time, so it is
// inferred from the frames' arrival in the stream's callback:
// - time in which this process did not run at all (a held or starved
//   client) tells nothing: a frame that arrives after such a hold was
//   captured no later than the hold began, as the device kept capturing;
// - frames that arrive together were captured in the frame periods before
//   their arrival, one period apart;
// - a frame's slot is the frame period it was captured in, counted from the
//   first frame's; arrivals come late, never early, and the frame clock's
//   phase follows the arrivals of the frames placed on their own.
#ifndef CAPTURE_TIMELINE_H
#define CAPTURE_TIMELINE_H

#include <cstddef>

// The clock of arrivals and holds: milliseconds of the performance counter.
double NowMs();

// Measures the time in which the process did not run: a thread that ticks
// every few milliseconds at the highest priority, and any caller, count a
// gap between ticks of more than a few ticks as a hold.
void StartHoldClock();
void StopHoldClock();
// Milliseconds of holds up to now (it counts a hold that has just ended).
double HeldMs(double nowMs);

struct Timeline {
    double period;   // ms
    double phase;    // when slot 0's frame would arrive without delay
    long next;       // the first slot not yet given
    bool started;
};

void StartTimeline(Timeline &t, double periodMs);

// The capture estimate of a frame: its arrival less the holds since the
// previous frame's arrival (given as the HeldMs at both arrivals).
double CaptureEstimate(double arrivalMs, double heldMs, double previousHeldMs);

// The slot of frame `estimates[0]`, the oldest not yet placed, given the
// estimates of those that came after it (`count` in all).
long PlaceFrame(Timeline &t, const double *estimates, size_t count);

// From when the oldest may be placed: once no frame still to come can have
// been captured before it. A driver that holds `buffers` buffers hands back
// at most that many together, so this is half a second after the frame's
// arrival at most.
double PlaceableFrom(const Timeline &t, const double *estimates, size_t count, size_t buffers);

#endif
