// vfwcheck: a conformance checker and fuzzer for Video for Windows capture
// drivers. The options, the check groups in order, each in a child process,
// the shortening of a failing fuzz run, and the report.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include "check.h"
#include "host.h"
#include "runner.h"

static const char Usage[] =
    "usage: vfwcheck [--driver FILE | --device N] [--fuzz STEPS] [--seed S] [--verbose]\n"
    "  --driver FILE  the capture driver, loaded as the video-capture layer loads it\n"
    "  --device N     the Nth installed capture driver (0: msvideo, 1: msvideo1, ...)\n"
    "  --fuzz STEPS   also send STEPS random messages, from seed S (1 unless --seed)\n"
    "  --verbose      list the checks that pass as well\n";

// The queries come last: they ask for the text of every code seen before.
// "records" runs once for each of its rows.
static const char *const Groups[] = {"lifecycle", "format", "stream", "records", "robustness", "faults", "queries"};
static const int ShortTail = 24, HalvingTrials = 16, ListedSteps = 40;

struct Options {
    const char *driver = NULL, *child = NULL, *codes = NULL, *steps = NULL;
    int device = -1, row = -1;
    DWORD fuzz = 0, seed = 1;
    bool verbose = false;
};

static bool Parse(int argc, char **argv, Options &o)
{
    for (int i = 1; i < argc; i++) {
        const char *a = argv[i], *v = i + 1 < argc ? argv[i + 1] : NULL;
        if (!std::strcmp(a, "--verbose")) {
            o.verbose = true;
            continue;
        }
        if (!v)
            return false;
        if (!std::strcmp(a, "--driver"))
            o.driver = v;
        else if (!std::strcmp(a, "--device"))
            o.device = std::atoi(v);
        else if (!std::strcmp(a, "--fuzz"))
            o.fuzz = std::strtoul(v, NULL, 10);
        else if (!std::strcmp(a, "--seed"))
            o.seed = std::strtoul(v, NULL, 10);
        else if (!std::strcmp(a, "--child"))
            o.child = v;
        else if (!std::strcmp(a, "--codes"))
            o.codes = v;
        else if (!std::strcmp(a, "--steps"))
            o.steps = v;
        else if (!std::strcmp(a, "--row"))
            o.row = std::atoi(v);
        else
            return false;
        i++;
    }
    return (o.driver != NULL) != (o.device >= 0) && o.device < 10;
}

static int RunGroup(const Options &o)
{
    InstallFaultReport(o.child);
    std::string group = o.child;
    if (group == "lifecycle") {
        CheckLifecycle();
    } else if (group == "format") {
        CheckFormat();
    } else if (group == "stream") {
        CheckStream();
    } else if (group == "records") {
        CheckRecords(o.row);
    } else if (group == "robustness") {
        CheckRobustness();
    } else if (group == "faults") {
        CheckBoardFaults();
    } else if (group == "queries") {
        std::vector<DWORD> codes;
        for (const char *p = o.codes; p && *p; p += *p == ',') {
            char *end;
            codes.push_back(std::strtoul(p, &end, 10));
            p = end;
        }
        CheckQueries(codes);
    } else if (group == "fuzz") {
        RunFuzz(o.fuzz, o.seed, o.steps);
    } else {
        return 2;
    }
    Emit("@done");
    return 0;
}

static void Print(const char *group, const ChildRun &run)
{
    if (run.skipped && !run.passes && !run.fails)
        std::printf("%s: not run (no fault injection device)\n", group);
    else if (run.warnings)
        std::printf("%s: %d passed, %d failed, %d warnings\n", group, run.passes, run.fails, run.warnings);
    else
        std::printf("%s: %d passed, %d failed\n", group, run.passes, run.fails);
    for (const std::string &line : run.lines)
        std::printf("  %s\n", line.c_str());
    std::fflush(stdout);
}

static void Merge(ChildRun &into, const ChildRun &run)
{
    into.passes += run.passes;
    into.fails += run.fails;
    into.warnings += run.warnings;
    into.lines.insert(into.lines.end(), run.lines.begin(), run.lines.end());
    into.codes.insert(into.codes.end(), run.codes.begin(), run.codes.end());
}

static std::string Join(const std::vector<DWORD> &steps)
{
    std::string list;
    for (size_t i = 0; i < steps.size(); i++) {
        size_t j = i;
        while (j + 1 < steps.size() && steps[j + 1] == steps[j] + 1)
            j++;
        list += (list.empty() ? "" : ",") + std::to_string(steps[i]);
        if (j > i)
            list += "-" + std::to_string(steps[j]);
        i = j;
    }
    return list;
}

static std::string FuzzArguments(const std::string &target, const Options &o, DWORD last, const std::string &list)
{
    std::string arguments = target + " --fuzz " + std::to_string(last) + " --seed " + std::to_string(o.seed);
    return list.empty() ? arguments : arguments + " --steps " + list;
}

static bool StillFails(const std::string &target, const Options &o, const std::string &rule, DWORD last,
                       const std::vector<DWORD> &steps)
{
    ChildRun run = RunChild("fuzz", FuzzArguments(target, o, last, Join(steps)), false, false);
    return run.fails && run.firstFailRule == rule;
}

// The failing step alone; else the shortest tail before it that still fails
// with the same rule, found by halving; then, in a short tail, each step
// left out in turn where the failure stays.
static std::vector<DWORD> Shorten(const std::string &target, const Options &o, const std::string &rule, DWORD last)
{
    std::vector<DWORD> steps(1, last);
    if (StillFails(target, o, rule, last, steps))
        return steps;
    DWORD keep = 1, drop = last; // keep..last fails, drop..last does not
    for (int trial = 0; trial < HalvingTrials && drop - keep > 1; trial++) {
        DWORD middle = keep + (drop - keep) / 2;
        steps.clear();
        for (DWORD i = middle; i <= last; i++)
            steps.push_back(i);
        (StillFails(target, o, rule, last, steps) ? keep : drop) = middle;
    }
    steps.clear();
    for (DWORD i = keep; i <= last; i++)
        steps.push_back(i);
    for (size_t i = 0; steps.size() <= ShortTail && i + 1 < steps.size();) {
        DWORD left = steps[i];
        steps.erase(steps.begin() + i);
        if (!StillFails(target, o, rule, last, steps))
            steps.insert(steps.begin() + i++, left);
    }
    return steps;
}

static void ReportFuzz(const std::string &target, const Options &o, ChildRun &run)
{
    // A leak shows at the end, not at a step: the seed alone reproduces it.
    DWORD last = std::strtoul(run.lastStep.c_str(), NULL, 10);
    if (!run.fails || !last || run.firstFailRule.find("leak") != std::string::npos) {
        if (run.fails)
            run.lines.push_back("seed " + std::to_string(o.seed) + ": vfwcheck " + target + " --fuzz " +
                                std::to_string(o.fuzz) + " --seed " + std::to_string(o.seed));
        return;
    }
    std::printf("fuzz: step %lu failed; shortening the steps that reproduce it\n", last);
    std::fflush(stdout);
    std::vector<DWORD> steps = Shorten(target, o, run.firstFailRule, last);
    ChildRun replay = RunChild("fuzz", FuzzArguments(target, o, last, Join(steps)), false, true);
    run.lines.push_back("seed " + std::to_string(o.seed) + ", " + std::to_string(steps.size()) + " of " +
                        std::to_string(last) + " steps reproduce it: vfwcheck " + FuzzArguments(target, o, last, Join(steps)));
    int listed = 0;
    for (const std::string &step : replay.steps)
        if (listed++ < ListedSteps)
            run.lines.push_back("  step " + step);
}

// The display name of the target and the arguments that name it to a child.
static bool DescribeTarget(const Options &o, std::string &name, std::string &arguments)
{
    if (o.driver) {
        name = o.driver;
        arguments = std::string("--driver \"") + o.driver + "\"";
        MultiByteToWideChar(CP_ACP, 0, o.driver, -1, Driver.name, MAX_PATH);
        return true;
    }
    char alias[16], file[MAX_PATH] = "";
    std::snprintf(alias, sizeof alias, o.device ? "msvideo%d" : "msvideo", o.device);
    MultiByteToWideChar(CP_ACP, 0, alias, -1, Driver.name, MAX_PATH);
    Driver.section = L"Drivers32";
    arguments = "--device " + std::to_string(o.device);
    HKEY key;
    DWORD size = sizeof file, type = 0;
    if (!RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Windows NT\\CurrentVersion\\Drivers32", 0,
                       KEY_QUERY_VALUE, &key)) {
        if (RegQueryValueExA(key, alias, NULL, &type, reinterpret_cast<BYTE *>(file), &size) || type != REG_SZ)
            file[0] = '\0';
        RegCloseKey(key);
    }
    name = std::string(alias) + " (" + file + ")";
    return file[0] != '\0';
}

int main(int argc, char **argv)
{
    Options o;
    if (!Parse(argc, argv, o)) {
        std::fputs(Usage, stderr);
        return 2;
    }
    std::string name, target;
    bool found = DescribeTarget(o, name, target);
    if (o.child)
        return RunGroup(o);
    if (!found) {
        std::fprintf(stderr, "vfwcheck: no capture driver is installed as %s\n", name.c_str());
        return 2;
    }
    std::printf("vfwcheck: %s\n", name.c_str());
    int passes = 0, fails = 0, warnings = 0;
    std::string codes;
    for (const char *group : Groups) {
        std::string arguments = target;
        if (!std::strcmp(group, "queries") && !codes.empty())
            arguments += " --codes " + codes;
        ChildRun run = RunChild(group, arguments + (std::strcmp(group, "records") ? "" : " --row 0"), o.verbose, false);
        for (int row = 1; !std::strcmp(group, "records") && row < SizedRecordCount; row++)
            Merge(run, RunChild(group, arguments + " --row " + std::to_string(row), o.verbose, false));
        for (DWORD code : run.codes)
            if (("," + codes + ",").find("," + std::to_string(code) + ",") == std::string::npos)
                codes += (codes.empty() ? "" : ",") + std::to_string(code);
        Print(group, run);
        passes += run.passes;
        fails += run.fails;
        warnings += run.warnings;
    }
    if (o.fuzz) {
        ChildRun run = RunChild("fuzz", FuzzArguments(target, o, o.fuzz, ""), o.verbose, false);
        ReportFuzz(target, o, run);
        Print("fuzz", run);
        passes += run.passes;
        fails += run.fails;
        warnings += run.warnings;
    }
    if (warnings)
        std::printf("%d passed, %d failed, %d warnings\n", passes, fails, warnings);
    else
        std::printf("%d passed, %d failed\n", passes, fails);
    return fails ? 1 : 0;
}
