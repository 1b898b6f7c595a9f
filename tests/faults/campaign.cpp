// faults: the seeded random fault campaign. The parent runs each schedule in
// a child process of its own (a crash there cannot take the report with it),
// watches it, runs a failing schedule once more to see that it fails again
// alone, shortens it to the steps that still fail the same way, and prints
// what to replay. Silent for schedules that pass; the figures come last.
//
//   faults [--schedules N] [--seed S] [--steps K] [--broken]
//   faults --replay "STEPS" [--broken]      one schedule, every step shown
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>
#include <windows.h>
#include "answer_times.h"
#include "run.h"
#include "schedule.h"

// A schedule's outcome, as the child reported it or as it ended. HARNESS: the
// schedule could not be run (its set-up or warm-up failed), no verdict.
enum Outcome { PASSED, INVARIANT, LEAK, CRASH, HANG, HARNESS, OUTCOMES };

struct Result {
    Outcome outcome;
    std::string what;
    unsigned stepsRun;
    std::string output;
};

// What a failure is, without the step it came at: a shorter schedule must
// fail with the same.
static std::string Signature(const Result &r)
{
    size_t colon = r.what.compare(0, 5, "step ") == 0 ? r.what.find("): ") : std::string::npos;
    return std::to_string(r.outcome) + (colon == std::string::npos ? r.what : r.what.substr(colon + 3));
}

static std::string Quote(const std::string &text)
{
    return "\"" + text + "\"";
}

// Runs one schedule in a child; a child silent for 60 s is a hang.
static Result RunChild(const std::vector<Step> &steps, bool broken)
{
    char self[MAX_PATH];
    GetModuleFileNameA(NULL, self, sizeof self);
    std::string line = Quote(self) + " --child " + Quote(ScheduleText(steps)) + (broken ? " --broken" : "");
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, NULL, TRUE};
    HANDLE readEnd, writeEnd;
    CreatePipe(&readEnd, &writeEnd, &inherit, 0);
    SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = startup.hStdError = writeEnd;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    PROCESS_INFORMATION child;
    if (!CreateProcessA(NULL, &line[0], NULL, NULL, TRUE, 0, NULL, NULL, &startup, &child)) {
        CloseHandle(readEnd);
        CloseHandle(writeEnd);
        return {HARNESS, "the child could not be started", 0, ""};
    }
    CloseHandle(writeEnd);
    // Lines come from a reader thread, so that silence can be timed.
    struct Reader {
        HANDLE pipe, line;
        CRITICAL_SECTION lock;
        std::string text;
        static DWORD WINAPI Run(LPVOID self)
        {
            Reader &r = *static_cast<Reader *>(self);
            char buffer[512];
            DWORD got;
            while (ReadFile(r.pipe, buffer, sizeof buffer, &got, NULL) && got) {
                EnterCriticalSection(&r.lock);
                r.text.append(buffer, got);
                LeaveCriticalSection(&r.lock);
                SetEvent(r.line);
            }
            SetEvent(r.line);
            return 0;
        }
    } reader;
    reader.pipe = readEnd;
    reader.line = CreateEventA(NULL, FALSE, FALSE, NULL);
    InitializeCriticalSection(&reader.lock);
    HANDLE thread = CreateThread(NULL, 0, Reader::Run, &reader, 0, NULL);
    bool hung = false;
    HANDLE waits[2] = {child.hProcess, reader.line};
    for (;;) {
        DWORD woke = WaitForMultipleObjects(2, waits, FALSE, 60000);
        if (woke == WAIT_OBJECT_0)
            break;
        if (woke == WAIT_TIMEOUT) {
            hung = true;
            TerminateProcess(child.hProcess, 3);
            break;
        }
    }
    WaitForSingleObject(child.hProcess, INFINITE);
    WaitForSingleObject(thread, 5000);
    DWORD status = 0;
    GetExitCodeProcess(child.hProcess, &status);
    CloseHandle(thread);
    CloseHandle(child.hThread);
    CloseHandle(child.hProcess);
    CloseHandle(readEnd);
    CloseHandle(reader.line);

    Result result = {PASSED, "", 0, reader.text};
    size_t at = 0;
    std::string last;
    while ((at = reader.text.find("step ", at)) != std::string::npos) {
        result.stepsRun = static_cast<unsigned>(std::strtoul(reader.text.c_str() + at + 5, NULL, 10));
        at += 5;
    }
    size_t failed = reader.text.find(status == 4 ? "HARNESS: " : "FAILED: ");
    if (failed != std::string::npos) {
        last = reader.text.substr(reader.text.find(' ', failed) + 1);
        last = last.substr(0, last.find('\n'));
    }
    if (hung || status == 3) {
        result.outcome = HANG;
        result.what = failed != std::string::npos ? last : "no answer within the watchdog's time";
    } else if (status >= 0xC0000000u) {
        char code[48];
        std::snprintf(code, sizeof code, "crash, exception 0x%08lX", status);
        result.outcome = CRASH;
        result.what = code;
    } else if (status == 4) {
        result.outcome = HARNESS;
        result.what = last;
    } else if (status != 0) {
        result.outcome = last.find("leak") == 0 ? LEAK : INVARIANT;
        result.what = last.empty() ? "failed" : last;
    }
    return result;
}

// The shortest schedule found that still fails the same way: the steps after
// the failing one go, then each step that the failure does not need.
static std::vector<Step> Shorten(std::vector<Step> steps, const Result &failure, bool broken)
{
    if (failure.stepsRun && failure.stepsRun < steps.size())
        steps.resize(failure.stepsRun);
    int runs = 0;
    for (size_t i = 0; i < steps.size() && runs < 40 && steps.size() > 1; runs++) {
        std::vector<Step> fewer = steps;
        fewer.erase(fewer.begin() + static_cast<long>(i));
        if (Signature(RunChild(fewer, broken)) == Signature(failure))
            steps = fewer;
        else
            i++;
    }
    return steps;
}

// The child: one schedule, its steps printed as they run, then its figures
// and the verdict.
static int RunOne(const std::string &text, bool broken)
{
    std::vector<Step> steps;
    if (!ParseSchedule(text, steps)) {
        std::printf("HARNESS: the schedule does not parse\n");
        return 4;
    }
    ScheduleResult r = RunSchedule(steps, broken);
    PrintAnswerLines();
    if (!r.harness.empty()) {
        std::printf("HARNESS: %s\n", r.harness.c_str());
        std::fflush(stdout);
        return 4;
    }
    std::printf("usage %lu %lu %lu %lu\n", r.before.handles, r.after.handles,
                static_cast<unsigned long>(r.before.privateBytes), static_cast<unsigned long>(r.after.privateBytes));
    std::printf(r.broke.empty() ? "schedule passed\n" : "FAILED: %s\n", r.broke.c_str());
    std::fflush(stdout);
    return r.broke.empty() ? 0 : 1;
}

// Handles and private memory over the campaign: the most any schedule grew
// them, from the end of its warm-up to its end.
struct UsageFigures {
    long handleGrowth = 0, memoryGrowthKb = 0;
    unsigned long mostHandles = 0, mostMemoryKb = 0;
};

static void AddUsage(const std::string &output, UsageFigures &figures)
{
    size_t at = output.find("\nusage ");
    unsigned long handles[2], bytes[2];
    if (at == std::string::npos ||
        std::sscanf(output.c_str() + at + 7, "%lu %lu %lu %lu", &handles[0], &handles[1], &bytes[0], &bytes[1]) != 4)
        return;
    figures.handleGrowth = std::max(figures.handleGrowth, static_cast<long>(handles[1] - handles[0]));
    figures.memoryGrowthKb = std::max(figures.memoryGrowthKb, (static_cast<long>(bytes[1]) - static_cast<long>(bytes[0])) / 1024);
    figures.mostHandles = std::max(figures.mostHandles, handles[1]);
    figures.mostMemoryKb = std::max(figures.mostMemoryKb, bytes[1] / 1024);
}

int main(int argc, char **argv)
{
    unsigned schedules = 20, length = 20;
    unsigned long long seed = 1;
    bool broken = false;
    for (int i = 1; i < argc; i++) {
        const char *a = argv[i], *v = i + 1 < argc ? argv[i + 1] : "";
        if (!std::strcmp(a, "--broken")) broken = true;
        else if (!std::strcmp(a, "--schedules")) schedules = std::strtoul(argv[++i < argc ? i : 0], NULL, 10);
        else if (!std::strcmp(a, "--seed")) seed = std::strtoull(argv[++i < argc ? i : 0], NULL, 10);
        else if (!std::strcmp(a, "--steps")) length = std::strtoul(argv[++i < argc ? i : 0], NULL, 10);
        else if (!std::strcmp(a, "--child") || !std::strcmp(a, "--replay")) {
            bool hasBroken = i + 2 < argc && !std::strcmp(argv[i + 2], "--broken");
            return RunOne(v, broken || hasBroken);
        } else {
            std::fprintf(stderr, "usage: faults [--schedules N] [--seed S] [--steps K] [--broken]\n"
                                 "       faults --replay \"STEPS\" [--broken]\n");
            return 2;
        }
    }
    unsigned failed = 0, steps = 0, counts[OUTCOMES] = {};
    AnswerTimes answers;
    UsageFigures usage;
    DWORD start = GetTickCount();
    const char *const replay = broken ? " --broken" : "";
    for (unsigned index = 0; index < schedules; index++) {
        std::vector<Step> schedule = MakeSchedule(seed, index, length);
        Result result = RunChild(schedule, broken);
        steps += result.stepsRun;
        counts[result.outcome]++;
        AddAnswerLines(result.output, answers);
        AddUsage(result.output, usage);
        if (result.outcome == PASSED)
            continue;
        failed++;
        std::printf("schedule %u of seed %llu FAILED: %s\n", index, seed, result.what.c_str());
        // A failure that needs what an earlier schedule left would not come back alone.
        Result again = result.outcome == HARNESS ? result : RunChild(schedule, broken);
        if (Signature(again) != Signature(result)) {
            std::printf("  replayed alone it %s; the whole schedule:\n  wine faults.exe --replay %s%s\n",
                        again.outcome == PASSED ? "passed" : ("failed otherwise: " + again.what).c_str(),
                        Quote(ScheduleText(schedule)).c_str(), replay);
        } else {
            std::vector<Step> shortest = result.outcome == HARNESS ? schedule : Shorten(schedule, result, broken);
            std::printf("  steps: %s\n  replay: wine faults.exe --replay %s%s\n", ScheduleText(shortest).c_str(),
                        Quote(ScheduleText(shortest)).c_str(), replay);
        }
        std::fflush(stdout);
    }
    std::printf("fault campaign, seed %llu: %u schedules, %u steps, %.0f s; %u crashes, %u hangs, %u leaks, "
                "%u invariant breaks, %u harness errors\n", seed, schedules, steps, (GetTickCount() - start) / 1000.0,
                counts[CRASH], counts[HANG], counts[LEAK], counts[INVARIANT], counts[HARNESS]);
    PrintAnswerTable(answers);
    std::printf("usage: a schedule grew the handles by at most %ld and private memory by at most %ld KiB; "
                "at most %lu handles and %lu KiB\n", usage.handleGrowth, usage.memoryGrowthKb, usage.mostHandles,
                usage.mostMemoryKb);
    std::printf("%u passed, %u failed\n", schedules - failed, failed);
    return failed ? 1 : 0;
}
