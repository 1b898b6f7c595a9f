// The capture times of the frames: their estimates, and their slots.
#include <algorithm>
#include <cmath>
#include "timeline.h"

// Frames placed on their own before the device's period is told from the
// one asked; and the least difference told (a frame in about 33 minutes at
// 25 frames a second), below which the rate asked stays.
static const double FittedBeforeMeasured = 25, LeastDifference = 5e-4;

void StartEstimates(Estimates &e, double heldMs)
{
    e = Estimates{heldMs, 0, 0, 0};
}

double CaptureEstimate(Estimates &e, double arrivalMs, double heldMs, double periodMs)
{
    const double hold = heldMs - e.previousHeld;
    double estimate = arrivalMs - hold;
    if (hold > 0) {
        e.holdLeft = hold;
    } else if (e.holdLeft >= periodMs && arrivalMs - e.previousMs < periodMs / 2) {
        // It came with the frame before it, after a hold: the device captured it
        // a period after that one, while the process was held.
        estimate = std::min(estimate, e.previousEstimate + periodMs);
        e.holdLeft -= periodMs;
    } else {
        e.holdLeft = 0;
    }
    e.previousHeld = heldMs;
    e.previousMs = arrivalMs;
    e.previousEstimate = estimate;
    return estimate;
}

void StartTimeline(Timeline &t, double periodMs)
{
    t = Timeline{};
    t.asked = t.period = periodMs;
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

// A frame placed in its own slot joins the fit of estimate against slot: its
// slope is the device's period, told from the one asked where the two differ
// by more than the fit's uncertainty; the phase is the fit's at the period used.
static void Fit(Timeline &t, long slot, double estimate)
{
    const double n = ++t.fitted, dx = slot - t.meanSlot, dy = estimate - t.meanMs;
    t.meanSlot += dx / n;
    t.meanMs += dy / n;
    t.sxx += dx * (slot - t.meanSlot);
    t.sxy += dx * (estimate - t.meanMs);
    t.syy += dy * (estimate - t.meanMs);
    if (n < 2 || t.sxx <= 0)
        return;
    const double measured = t.sxy / t.sxx;
    const double residual = n > 2 ? std::max(t.syy - t.sxy * measured, 0.0) / (n - 2) : 0;
    const double uncertainty = std::sqrt(residual / t.sxx);
    const bool differs = n >= FittedBeforeMeasured &&
                         std::fabs(measured - t.asked) > std::max(4 * uncertainty, LeastDifference * t.asked);
    t.period = differs ? measured : t.asked;
    t.phase = t.meanMs - t.period * t.meanSlot;
}

long PlaceFrame(Timeline &t, const double *estimates, size_t count)
{
    if (!t.started) {
        t.phase = FirstPhase(t, estimates, count);
        t.started = true;
    }
    long own = SlotOf(t, estimates[0]), slot = Candidate(t, estimates, count);
    if (slot == own)
        Fit(t, slot, estimates[0]);
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
