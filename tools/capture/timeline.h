// When each frame was captured. The driver gives no capture time, so it is
// inferred from the frames' arrival in the stream's callback:
// - time in which this process did not run at all (a held or starved
//   client) tells nothing: a frame that arrives after such a hold was
//   captured as the hold began, as the device kept capturing, and the
//   frames that come with it were captured during the hold, a period apart.
//   A driver waits in its read for most of a period, so this is the likely
//   case; a read begun only after the hold brings a frame captured then,
//   which nothing but a capture time from the driver could tell;
// - other frames that arrive together were captured in the frame periods
//   before their arrival, one period apart;
// - a frame's slot is the device's frame period it was captured in, counted
//   from the first frame's. The slots are those of the rate asked until the
//   frames placed on their own show, beyond their jitter, that the device
//   keeps another: from then on they are the device's measured periods, so
//   that a recording plays as long as it took.
#ifndef CAPTURE_TIMELINE_H
#define CAPTURE_TIMELINE_H

#include <cstddef>

// The capture estimates of the frames as they arrive.
struct Estimates {
    double previousHeld;  // the hold clock at the last arrival
    double previousMs, previousEstimate;
    double holdLeft;      // of the last hold, the time its frames may still account for
};

void StartEstimates(Estimates &e, double heldMs);
// The capture estimate of a frame that arrived at `arrivalMs`, when the
// hold clock read `heldMs`, at a frame period of `periodMs`.
double CaptureEstimate(Estimates &e, double arrivalMs, double heldMs, double periodMs);

struct Timeline {
    double asked;    // ms: the frame period asked
    double period;   // ms: the slots' length, the device's once measured to differ
    double phase;    // when slot 0's frame would arrive without delay
    long next;       // the first slot not yet given
    bool started;
    // The frames placed in their own slot, estimate against slot: running
    // means and sums of the products of their deviations.
    double fitted, meanSlot, meanMs, sxx, sxy, syy;
};

void StartTimeline(Timeline &t, double periodMs);

// The slot of frame `estimates[0]`, the oldest not yet placed, given the
// estimates of those that came after it (`count` in all).
long PlaceFrame(Timeline &t, const double *estimates, size_t count);

// From when the oldest may be placed: once no frame still to come can have
// been captured before it. A driver that holds `buffers` buffers hands back
// at most that many together, so this is half a second after the frame's
// arrival at most.
double PlaceableFrom(const Timeline &t, const double *estimates, size_t count, size_t buffers);

#endif
