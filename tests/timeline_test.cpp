// The capture client's timeline: which frame period each frame was captured
// in, from its arrival, as the writer places them (a frame once nothing still
// to come can move it), and the clock of the holds of the process.
#include <gtest/gtest.h>
#include <cmath>
#include <vector>
#include <random>
#include <windows.h>
#include "hold_clock.h"
#include "timeline.h"

namespace {

struct Arrival {
    double ms, estimate; // when the frame came, and its capture estimate
};

// Feeds the frames at their arrival to a writer that places each one from
// the time PlaceableFrom gives, as the writer thread does; all the rest at the end.
std::vector<long> Place(const std::vector<Arrival> &frames, size_t buffers, Timeline *placed = nullptr)
{
    Timeline t;
    StartTimeline(t, 40);
    std::vector<long> slots;
    std::vector<double> pending;
    size_t arrived = 0;
    for (double now = 0; now < frames.back().ms + 1000; now += 1) {
        while (arrived < frames.size() && frames[arrived].ms <= now)
            pending.push_back(frames[arrived++].estimate);
        while (!pending.empty() && PlaceableFrom(t, pending.data(), pending.size(), buffers) <= now) {
            slots.push_back(PlaceFrame(t, pending.data(), pending.size()));
            pending.erase(pending.begin());
        }
    }
    if (placed)
        *placed = t;
    return slots;
}

std::vector<Arrival> Arrivals(const std::vector<double> &ms)
{
    std::vector<Arrival> frames;
    for (double m : ms)
        frames.push_back({m, m});
    return frames;
}

TEST(Timeline, EachFrameGetsThePeriodItWasCapturedIn)
{
    const struct {
        const char *what;
        std::vector<Arrival> frames;
        std::vector<long> slots;
    } cases[] = {
        {"arrivals that jitter", Arrivals({0, 41, 79, 122, 160, 203}), {0, 1, 2, 3, 4, 5}},
        {"one frame late by more than half a period", Arrivals({0, 40, 105, 120, 160}), {0, 1, 2, 3, 4}},
        {"frames that arrive together after a pause", Arrivals({0, 40, 400, 400.1, 400.2, 400.3, 440}),
         {0, 1, 7, 8, 9, 10, 11}},
        {"a device silent for a while", Arrivals({0, 40, 400, 440}), {0, 1, 10, 11}},
        {"the first frame late", Arrivals({25, 40, 80, 120, 280, 320}), {0, 1, 2, 3, 7, 8}},
        // Held for a second after frame 1: the frame in flight came at the
        // end of the hold, its estimate the arrival less the hold.
        {"a frame that came after a hold of the process", {{0, 0}, {40, 40}, {1045, 45}, {1080, 1080}},
         {0, 1, 2, 27}},
        {"frames queued behind a slow writer", Arrivals({0, 40, 80, 120, 160, 200, 240, 280}),
         {0, 1, 2, 3, 4, 5, 6, 7}},
        // 27 ms earlier than the rest, the first frame reads as two periods
        // before the second; the rest keep their distances.
        {"a first frame earlier than the rest", Arrivals({0, 67, 107, 147, 187, 227, 267, 307, 427, 467}),
         {0, 2, 3, 4, 5, 6, 7, 8, 11, 12}},
    };
    for (const auto &c : cases)
        EXPECT_EQ(Place(c.frames, 4), c.slots) << c.what;
}

TEST(Timeline, TheFramesOfAHoldAreNotPlacedBeforeTheLastHasCome)
{
    // Four frames together: the first may not be placed before the others
    // have come, however long it waits, unless more came than the driver holds.
    Timeline t;
    StartTimeline(t, 40);
    double first[] = {0};
    EXPECT_EQ(PlaceFrame(t, first, 1), 0);
    double together[] = {400, 400.1};
    EXPECT_GT(PlaceableFrom(t, together, 2, 4), 400.1) << "a third of them may still come";
    EXPECT_EQ(PlaceableFrom(t, together, 2, 1), -HUGE_VAL) << "more than the driver's one buffer";
}

// Arrivals (ms) with the hold clock (ms held so far), and their estimates.
TEST(Timeline, AFrameAfterAHoldWasCapturedWhenItBeganAndThoseWithItDuringIt)
{
    const struct {
        const char *what;
        std::vector<std::pair<double, double>> arrivals;
        std::vector<double> estimates;
    } cases[] = {
        {"the frame in flight during a hold of a second", {{0, 0}, {40, 0}, {1045, 1000}, {1080, 1000}},
         {0, 40, 45, 1080}},
        {"three frames a device buffered during the hold", {{0, 0}, {1045, 1000}, {1045.1, 1000}, {1045.2, 1000}},
         {0, 45, 85, 125}},
        {"frames together without a hold", {{0, 0}, {400, 0}, {400.1, 0}}, {0, 400, 400.1}},
        {"no more frames of the hold than it lasted", {{0, 0}, {130, 100}, {130.1, 100}, {130.2, 100}, {130.3, 100}},
         {0, 30, 70, 110, 130.3}},
    };
    for (const auto &c : cases) {
        Estimates e;
        StartEstimates(e, 0);
        std::vector<double> got;
        for (const auto &a : c.arrivals)
            got.push_back(CaptureEstimate(e, a.first, a.second, 40));
        EXPECT_EQ(got, c.estimates) << c.what;
    }
}

// A minute of a device's frames, each delayed by up to 35 ms: the file plays
// as long as the frames took, within a frame, whatever the rate asked.
TEST(Timeline, ARecordingPlaysAsLongAsItTookWhenTheDeviceKeepsAnotherRate)
{
    for (double ratio : {1.0, 0.98, 1.02, 0.5}) {
        std::mt19937 random(7);
        std::exponential_distribution<double> delay(1.0 / 8);
        const double period = 40 / ratio;
        std::vector<Arrival> frames;
        for (int i = 0; i < 1500 * ratio; i++) {
            double at = i * period + std::min(delay(random), 35.0);
            frames.push_back({at, at});
        }
        Timeline t;
        std::vector<long> slots = Place(frames, 13, &t);
        double played = (slots.back() + 1) * t.period, took = frames.size() * period;
        EXPECT_NEAR(played, took, period) << "the device at " << ratio << " of the rate asked";
    }
}

TEST(HoldClock, OnlyAGapLongerThanAFewTicksCountsAsAHold)
{
    StartHoldClock();
    double now = NowMs(), held = HeldMs(now);
    EXPECT_EQ(HeldMs(now + 20), held) << "a tick late";
    double later = now + 20 + 1000;
    EXPECT_NEAR(HeldMs(later) - held, 1000 - 5, 0.001) << "a second without a tick, less the tick";
    StopHoldClock();
}

} // namespace
