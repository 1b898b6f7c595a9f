// One schedule run in this process against zentacap.dll, the virtual board,
// the registry and, for the page, panelhost.exe; with the campaign's
// invariants checked after every step.
#ifndef FAULTS_RUN_H
#define FAULTS_RUN_H

#include <string>
#include <vector>
#include "schedule.h"

// Empty when every invariant held after every step; else what broke, with
// the number of the step. `broken` makes the driver's wait for its capture
// thread return at once, as a build with that fault would.
std::string RunSchedule(const std::vector<Step> &steps, bool broken);

#endif
