// One schedule run in this process against zentacap.dll, the virtual board,
// the registry and, for the page, panelhost.exe; with the campaign's
// invariants checked after every step.
#ifndef FAULTS_RUN_H
#define FAULTS_RUN_H

#include <string>
#include <vector>
#include "process_usage.h"
#include "schedule.h"

struct ScheduleResult {
    std::string broke;        // empty when every invariant held; else what broke, and at which step
    std::string harness;      // why the schedule could not be run at all (set up, warm-up)
    ProcessUsage before, after; // after the warm-up, and after the last step
};

// `broken` makes the driver's wait for its capture thread return at once, as
// a build with that fault would (after the warm-up, which runs the whole build).
ScheduleResult RunSchedule(const std::vector<Step> &steps, bool broken);

#endif
