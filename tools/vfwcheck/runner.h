// The parent's side: a group run in a child process of this program, its
// report lines read back under a watchdog, so that a crash or a hang of the
// driver ends one group and not the report.
#ifndef VFWCHECK_RUNNER_H
#define VFWCHECK_RUNNER_H

#include <string>
#include <vector>
#include <windows.h>

struct ChildRun {
    int passes = 0, fails = 0, warnings = 0;
    bool skipped = false;
    std::string firstFailRule; // the rule of the first failure
    std::string lastStep;      // the step that was running when it ended
    std::vector<std::string> lines; // FAIL and WARN lines, pass lines too when verbose
    std::vector<std::string> steps; // every step, when kept
    std::vector<DWORD> codes;  // error codes the driver answered
};

// Runs "vfwcheck --child GROUP ..." with `arguments` after --child.
ChildRun RunChild(const std::string &group, const std::string &arguments, bool verbose, bool keepSteps);

#endif
