// vfwcheck: a conformance checker and fuzzer for Video for Windows capture
// drivers. The options, the header that describes the driver, the check
// groups in order, each in a child process, the shortening of a failing fuzz
// run, and the report (and its JUnit form).
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include "check.h"
#include "host.h"
#include "project_version.h"
#include "runner.h"

static const char Usage[] =
    "usage: vfwcheck [--driver FILE | --device N] [options]\n"
    "  --driver FILE      the capture driver, loaded as the video-capture layer loads it\n"
    "  --device N         the Nth installed capture driver (0: msvideo, 1: msvideo1, ...)\n"
    "  --only GROUPS      run only these groups (a comma list), --skip GROUPS all but these:\n"
    "                     lifecycle, format, stream, order, records, robustness, faults, queries, fuzz\n"
    "  --frames N         frames for each stream of the stream group (12)\n"
    "  --watchdog MS      ms a group may go without progress (15000); frames may take a third of it per 12\n"
    "  --formats all      also stream every size step and colour space the driver accepts\n"
    "  --fuzz STEPS       also send STEPS random messages, from seed S (1 unless --seed)\n"
    "  --exit-on-fail     stop at the first failure\n"
    "  --verbose          list the checks that pass as well; --no-warnings hides the warnings\n"
    "  --trace            print every message sent to the driver, its parameters, answer and time\n"
    "  --junit FILE       also write the report as JUnit XML\n"
    "  --version          print vfwcheck's version\n";

// The queries come last: they ask for the text of every code seen before.
// "records" and "order" run once for each of their rows.
static const char *const Groups[] = {"lifecycle", "format", "stream", "order", "records", "robustness", "faults",
                                     "queries"};
static const int ShortTail = 24, HalvingTrials = 16, ListedSteps = 40;

struct Options {
    const char *driver = NULL, *child = NULL, *codes = NULL, *steps = NULL, *only = NULL, *skip = NULL, *junit = NULL;
    int device = -1, row = -1;
    DWORD fuzz = 0, seed = 1;
    bool verbose = false, noWarnings = false, version = false;
};

// Whether `name` is in the comma list.
static bool Listed(const char *list, const char *name)
{
    size_t length = std::strlen(name);
    for (const char *p = list; p && *p; p += *p == ',') {
        size_t span = std::strcspn(p, ",");
        if (span == length && !std::strncmp(p, name, length))
            return true;
        p += span;
    }
    return false;
}

// Every name of the list a group (or fuzz).
static bool ValidGroups(const char *list)
{
    for (const char *p = list; p && *p; p += *p == ',') {
        size_t span = std::strcspn(p, ",");
        bool known = span == 4 && !std::strncmp(p, "fuzz", 4);
        for (const char *group : Groups)
            known = known || (span == std::strlen(group) && !std::strncmp(p, group, span));
        if (!known)
            return false;
        p += span;
    }
    return true;
}

static bool Selected(const Options &o, const char *group)
{
    return (!o.only || Listed(o.only, group)) && !Listed(o.skip, group);
}

static bool Parse(int argc, char **argv, Options &o)
{
    for (int i = 1; i < argc; i++) {
        const char *a = argv[i], *v = i + 1 < argc ? argv[i + 1] : NULL;
        bool *flag = !std::strcmp(a, "--verbose")        ? &o.verbose
                   : !std::strcmp(a, "--no-warnings")    ? &o.noWarnings
                   : !std::strcmp(a, "--version")        ? &o.version
                   : !std::strcmp(a, "--exit-on-fail")   ? &Settings.stopAtFail
                   : !std::strcmp(a, "--trace")          ? &Settings.trace
                                                         : NULL;
        if (flag) {
            *flag = true;
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
        else if (!std::strcmp(a, "--frames"))
            Settings.frames = std::atoi(v);
        else if (!std::strcmp(a, "--watchdog"))
            Settings.watchdog = std::strtoul(v, NULL, 10);
        else if (!std::strcmp(a, "--formats") && !std::strcmp(v, "all"))
            Settings.allFormats = true;
        else if (!std::strcmp(a, "--only") && ValidGroups(v))
            o.only = v;
        else if (!std::strcmp(a, "--skip") && ValidGroups(v))
            o.skip = v;
        else if (!std::strcmp(a, "--junit"))
            o.junit = v;
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
    // A stream's timing needs three frames; a watchdog under a second leaves no time for one.
    return o.version || ((o.driver != NULL) != (o.device >= 0) && o.device < 10 && Settings.frames >= 3 &&
                         Settings.watchdog >= 1000);
}

static int RunGroup(const Options &o)
{
    InstallFaultReport(o.child);
    std::string group = o.child;
    if (group == "about") {
        DescribeDriver();
    } else if (group == "lifecycle") {
        CheckLifecycle();
    } else if (group == "format") {
        CheckFormat();
    } else if (group == "stream") {
        CheckStream();
    } else if (group == "order") {
        CheckOrder(o.row);
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

// The group's counts, then its lines: failures, information and the
// runner's own always, warnings unless --no-warnings, passes with --verbose.
static void Print(const Options &o, const char *group, const ChildRun &run)
{
    if (run.skipped && !run.passes && !run.fails)
        std::printf("%s: not run (no fault injection device)\n", group);
    else if (run.warnings)
        std::printf("%s: %d passed, %d failed, %d warnings\n", group, run.passes, run.fails, run.warnings);
    else
        std::printf("%s: %d passed, %d failed\n", group, run.passes, run.fails);
    for (const ReportLine &line : run.lines) {
        bool pass = !line.text.compare(0, 5, "pass "), warning = !line.text.compare(0, 5, "WARN ");
        if ((!pass || o.verbose) && (!warning || !o.noWarnings))
            std::printf("  %s\n", line.text.c_str());
    }
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

static int Rows(const char *group)
{
    return !std::strcmp(group, "records") ? SizedRecordCount : !std::strcmp(group, "order") ? OrderCheckCount : 0;
}

// A group's run, its rows each in a child of its own, merged.
static ChildRun RunGroupChildren(const char *group, const std::string &arguments)
{
    int rows = Rows(group);
    ChildRun run = RunChild(group, rows ? arguments + " --row 0" : arguments, false);
    for (int row = 1; row < rows && !(Settings.stopAtFail && run.fails); row++)
        Merge(run, RunChild(group, arguments + " --row " + std::to_string(row), false));
    return run;
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
    ChildRun run = RunChild("fuzz", FuzzArguments(target, o, last, Join(steps)), false);
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
            run.lines.push_back(ReportLine{"seed " + std::to_string(o.seed) + ": vfwcheck " + target + " --fuzz " +
                                           std::to_string(o.fuzz) + " --seed " + std::to_string(o.seed), 0});
        return;
    }
    std::printf("fuzz: step %lu failed; shortening the steps that reproduce it\n", last);
    std::fflush(stdout);
    std::vector<DWORD> steps = Shorten(target, o, run.firstFailRule, last);
    ChildRun replay = RunChild("fuzz", FuzzArguments(target, o, last, Join(steps)), true);
    DWORD at = run.lines.empty() ? 0 : run.lines.back().at;
    run.lines.push_back(ReportLine{"seed " + std::to_string(o.seed) + ", " + std::to_string(steps.size()) + " of " +
                                   std::to_string(last) + " steps reproduce it: vfwcheck " +
                                   FuzzArguments(target, o, last, Join(steps)), at});
    int listed = 0;
    for (const std::string &step : replay.steps)
        if (listed++ < ListedSteps)
            run.lines.push_back(ReportLine{"  step " + step, at});
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

// The header: the target, then the driver as a child described it.
static std::vector<std::string> PrintHeader(const std::string &name, const std::string &target)
{
    std::printf("vfwcheck %s: %s\n", PROJECT_VERSION_TEXT, name.c_str());
    ChildRun about = RunChild("about", target, false);
    for (const std::string &line : about.about)
        std::printf("  %s\n", line.c_str());
    for (const ReportLine &line : about.lines)
        if (!line.text.compare(0, 5, "FAIL "))
            std::printf("  not described: %s\n", line.text.c_str());
    std::fflush(stdout);
    return about.about;
}

int main(int argc, char **argv)
{
    Options o;
    if (!Parse(argc, argv, o)) {
        std::fputs(Usage, stderr);
        return 2;
    }
    if (o.version) {
        std::printf("vfwcheck %s\n", PROJECT_VERSION_TEXT);
        return 0;
    }
    std::string name, target;
    bool found = DescribeTarget(o, name, target);
    if (o.child)
        return RunGroup(o);
    if (!found) {
        std::fprintf(stderr, "vfwcheck: no capture driver is installed as %s\n", name.c_str());
        return 2;
    }
    std::vector<std::string> about = PrintHeader(name, target);
    std::vector<GroupResult> results;
    int passes = 0, fails = 0, warnings = 0;
    std::string codes, notRun;
    for (const char *group : Groups) {
        if (Settings.stopAtFail && fails)
            break;
        if (!Selected(o, group)) {
            notRun += (notRun.empty() ? "" : ", ") + std::string(group);
            continue;
        }
        std::string arguments = target;
        if (!std::strcmp(group, "queries") && !codes.empty())
            arguments += " --codes " + codes;
        GroupResult result = {group, ChildRun(), {}, 0};
        GetLocalTime(&result.started);
        DWORD start = GetTickCount();
        result.run = RunGroupChildren(group, arguments);
        result.ms = GetTickCount() - start;
        ChildRun &run = result.run;
        for (DWORD code : run.codes)
            if (("," + codes + ",").find("," + std::to_string(code) + ",") == std::string::npos)
                codes += (codes.empty() ? "" : ",") + std::to_string(code);
        // The error texts are asked for the codes the groups before gave.
        if (!std::strcmp(group, "queries") && !notRun.empty())
            run.lines.push_back(ReportLine{"note: error texts only for the codes of the groups run; not run: " + notRun,
                                           run.lines.empty() ? 0 : run.lines.back().at});
        Print(o, group, run);
        passes += run.passes;
        fails += run.fails;
        warnings += run.warnings;
        results.push_back(result);
    }
    if (o.fuzz && Selected(o, "fuzz") && !(Settings.stopAtFail && fails)) {
        GroupResult result = {"fuzz", ChildRun(), {}, 0};
        GetLocalTime(&result.started);
        DWORD start = GetTickCount();
        result.run = RunChild("fuzz", FuzzArguments(target, o, o.fuzz, ""), false);
        ReportFuzz(target, o, result.run);
        result.ms = GetTickCount() - start;
        Print(o, "fuzz", result.run);
        passes += result.run.passes;
        fails += result.run.fails;
        warnings += result.run.warnings;
        results.push_back(result);
    }
    if (Settings.stopAtFail && fails)
        std::printf("stopped at the first failure (--exit-on-fail)\n");
    if (warnings)
        std::printf("%d passed, %d failed, %d warnings\n", passes, fails, warnings);
    else
        std::printf("%d passed, %d failed\n", passes, fails);
    if (o.junit && !WriteJUnit(o.junit, results, about)) {
        std::fprintf(stderr, "vfwcheck: cannot write %s\n", o.junit);
        return 2;
    }
    return fails ? 1 : 0;
}
