// faults: the seeded random fault campaign. The parent runs each schedule in
// a child process of its own (a crash there cannot take the report with it),
// watches it, shortens a failing schedule to the steps that still fail, and
// prints what to replay. Silent for schedules that pass.
//
//   faults [--schedules N] [--seed S] [--steps K] [--broken]
//   faults --replay "STEPS" [--broken]      one schedule, every step shown
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>
#include <windows.h>
#include "run.h"
#include "schedule.h"

// A schedule's outcome, as the child reported it or as it ended.
enum Outcome { PASSED, INVARIANT, LEAK, CRASH, HANG };

struct Result {
    Outcome outcome;
    std::string what;
    unsigned stepsRun;
};

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
        return {CRASH, "the child could not be started", 0};
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

    Result result = {PASSED, "", 0};
    size_t at = 0;
    std::string last;
    while ((at = reader.text.find("step ", at)) != std::string::npos) {
        result.stepsRun = static_cast<unsigned>(std::strtoul(reader.text.c_str() + at + 5, NULL, 10));
        at += 5;
    }
    size_t failed = reader.text.find("FAILED: ");
    if (failed != std::string::npos) {
        last = reader.text.substr(failed + 8);
        last = last.substr(0, last.find('\n'));
    }
    if (hung || status == 3) {
        result = {HANG, failed != std::string::npos ? last : "no answer within the watchdog's time", result.stepsRun};
    } else if (status >= 0xC0000000u) {
        char code[48];
        std::snprintf(code, sizeof code, "crash, exception 0x%08lX", status);
        result = {CRASH, code, result.stepsRun};
    } else if (status != 0) {
        result = {last.find("leak") == 0 ? LEAK : INVARIANT, last.empty() ? "failed" : last, result.stepsRun};
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
        if (RunChild(fewer, broken).outcome == failure.outcome)
            steps = fewer;
        else
            i++;
    }
    return steps;
}

// The child: one schedule, its steps printed as they run, the verdict last.
static int RunOne(const std::string &text, bool broken)
{
    std::vector<Step> steps;
    if (!ParseSchedule(text, steps)) {
        std::printf("FAILED: the schedule does not parse\n");
        return 1;
    }
    std::string broke = RunSchedule(steps, broken);
    std::printf(broke.empty() ? "schedule passed\n" : "FAILED: %s\n", broke.c_str());
    std::fflush(stdout);
    return broke.empty() ? 0 : 1;
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
    unsigned failed = 0, steps = 0, counts[5] = {};
    DWORD start = GetTickCount();
    for (unsigned index = 0; index < schedules; index++) {
        std::vector<Step> schedule = MakeSchedule(seed, index, length);
        Result result = RunChild(schedule, broken);
        steps += result.stepsRun;
        counts[result.outcome]++;
        if (result.outcome == PASSED)
            continue;
        failed++;
        std::vector<Step> shortest = Shorten(schedule, result, broken);
        std::printf("schedule %u of seed %llu FAILED: %s\n  steps: %s\n  replay: wine faults.exe --replay %s%s\n",
                    index, seed, result.what.c_str(), ScheduleText(shortest).c_str(),
                    Quote(ScheduleText(shortest)).c_str(), broken ? " --broken" : "");
        std::fflush(stdout);
    }
    std::printf("fault campaign, seed %llu: %u schedules, %u steps, %.0f s; %u crashes, %u hangs, %u leaks, "
                "%u invariant breaks\n", seed, schedules, steps, (GetTickCount() - start) / 1000.0, counts[CRASH],
                counts[HANG], counts[LEAK], counts[INVARIANT]);
    std::printf("%u passed, %u failed\n", schedules - failed, failed);
    return failed ? 1 : 0;
}
