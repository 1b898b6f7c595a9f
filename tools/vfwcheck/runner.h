// The parent's side: a group run in a child process of this program, its
// report lines read back under a watchdog, so that a crash or a hang of the
// driver ends one group and not the report; and the JUnit report of a run.
#ifndef VFWCHECK_RUNNER_H
#define VFWCHECK_RUNNER_H

#include <string>
#include <vector>
#include <windows.h>

// A line of a child's report: "pass rule: ...", "FAIL rule: ...",
// "WARN rule: ...", "info rule: ..." (the checks), or one of the runner's own.
struct ReportLine {
    std::string text;
    DWORD at; // ms after the child started, when it came
};

struct ChildRun {
    int passes = 0, fails = 0, warnings = 0; // info lines count as passes
    bool skipped = false;
    std::string firstFailRule; // the rule of the first failure
    std::string lastStep;      // the step that was running when it ended
    std::vector<ReportLine> lines;
    std::vector<std::string> steps; // every step, when kept
    std::vector<std::string> about; // the header's "name: value" lines
    std::vector<DWORD> codes;  // error codes the driver answered
};

// Runs "vfwcheck --child GROUP ..." with `arguments` after --child; with
// --trace its trace lines are printed as they come, and with --exit-on-fail
// it is ended at its first failure.
ChildRun RunChild(const std::string &group, const std::string &arguments, bool keepSteps);

// One group of a run, for the JUnit report.
struct GroupResult {
    std::string name;
    ChildRun run;
    SYSTEMTIME started; // local time
    DWORD ms;
};

// A JUnit XML report: a testsuite for each group, a testcase for each check,
// failures as <failure>, warnings and information as properties of the
// suite, the header's lines as properties too. False when it cannot be written.
bool WriteJUnit(const char *file, const std::vector<GroupResult> &groups, const std::vector<std::string> &about);

#endif
