// A schedule of the fault campaign: a seeded random sequence of steps, each
// a host operation, a board fault, a hostile stored setting, a failing system
// call, a dialog, contention from another process or a hostile page option.
// A step is four numbers, so that a schedule prints and replays as text.
#ifndef FAULTS_SCHEDULE_H
#define FAULTS_SCHEDULE_H

#include <cstdint>
#include <string>
#include <vector>

enum StepKind {
    STEP_OPEN,        // a: channel type 1, 4, 2 or 8
    STEP_CLOSE,       // a: instance 1, 4 or 2
    STEP_FORMAT_GET,  // a: record size
    STEP_FORMAT_SET,  // a: width, b: height, c: colour code 0..4
    STEP_STREAM,      // a: buffers, b: buffer size choice, c: milliseconds x 3 + 0 stopped here, 1 from
                      // another thread, 2 the channel closed while it runs (and opened again)
    STEP_FRAME,       // a: buffer size choice
    STEP_DIALOG,      // a: 0 Source, 1 Format, 2 DRV_CONFIGURE; b: 1 OK, 0 Cancel
    STEP_INSTALL,     // a: 0 DRV_INSTALL, 1 DRV_REMOVE (the board's service is restored after it)
    STEP_ABSENT,      // a: 1 the device disappears, 0 it is back
    STEP_FAIL_READS,  // a: reads, b: 1 I/O error, 0 out of storage
    STEP_REFUSE,      // a: 0 none, 1 format, 2 source, 3 restart request
    STEP_PACE,        // a: 1 free-running, 0 live
    STEP_SETTING,     // a: value (0..13 the settings, 14 "DeviceName"), b: hostile form
    STEP_SYSCALL,     // a: system call, b: how many of its next calls fail
    STEP_CONTEND,     // a: 0 a second client beside a stream, 1 a client killed mid-stream, then one more
    STEP_PAGE,        // a: option, b: hostile form; the page is opened and closed
    STEP_KINDS
};

struct Step {
    int kind, a, b, c;
};

// Schedule `index` of the campaign with seed `seed`: always the same steps.
std::vector<Step> MakeSchedule(uint64_t seed, unsigned index, unsigned length);

std::string StepText(const Step &step);                // "format-set 700 60 2 0"
std::string ScheduleText(const std::vector<Step> &steps); // steps joined by "; "
bool ParseSchedule(const std::string &text, std::vector<Step> &steps);

// The system calls a STEP_SYSCALL can fail, in its `a` order.
extern const char *const FailingCalls[];
extern const int FailingCallCount;

#endif
