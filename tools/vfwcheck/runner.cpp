// Child runs: this program started again as "--child GROUP", its standard
// output read through a pipe and counted line by line. A child silent for
// longer than the watchdog allows (--watchdog: long enough for a driver in an
// emulated machine, where the stop and answer times have their own, shorter
// checks) is ended and reported as a hang; one that ends without saying it
// finished is reported as a crash.
#include <cstdio>
#include <cstdlib>
#include "check.h"
#include "runner.h"

static void TakeLine(ChildRun &run, const std::string &group, const std::string &line, DWORD at, bool keepSteps,
                     bool &finished, bool &crashed)
{
    if (line.compare(0, 5, "pass ") == 0 || line.compare(0, 5, "info ") == 0) {
        run.passes++;
        run.lines.push_back(ReportLine{line, at});
    } else if (line.compare(0, 5, "FAIL ") == 0) {
        if (!run.fails++)
            run.firstFailRule = line.substr(5, line.find(':') - 5);
        run.lines.push_back(ReportLine{line, at});
    } else if (line.compare(0, 5, "WARN ") == 0) {
        run.warnings++;
        run.lines.push_back(ReportLine{line, at});
    } else if (line.compare(0, 7, "@trace ") == 0) {
        std::printf("  trace %s: %s\n", group.c_str(), line.c_str() + 7);
        std::fflush(stdout);
    } else if (line.compare(0, 7, "@about ") == 0) {
        run.about.push_back(line.substr(7));
    } else if (line.compare(0, 6, "@step ") == 0) {
        run.lastStep = line.substr(6);
        if (keepSteps)
            run.steps.push_back(run.lastStep);
    } else if (line.compare(0, 6, "@code ") == 0) {
        run.codes.push_back(std::strtoul(line.c_str() + 6, NULL, 10));
    } else if (line == "@done") {
        finished = true;
    } else if (line == "@crashed") {
        crashed = true;
    } else if (line == "@skip") {
        run.skipped = true;
    }
}

static void Synthesize(ChildRun &run, const std::string &rule, const std::string &text, DWORD at)
{
    if (!run.fails++)
        run.firstFailRule = rule;
    run.lines.push_back(ReportLine{"FAIL " + rule + ": " + text, at});
}

ChildRun RunChild(const std::string &group, const std::string &arguments, bool keepSteps)
{
    const DWORD watchdog = Settings.watchdog, begun = GetTickCount();
    ChildRun run;
    char program[MAX_PATH];
    GetModuleFileNameA(NULL, program, MAX_PATH);
    // The run's settings go with every child.
    std::string command = std::string("\"") + program + "\" --child " + group + " " + arguments + " --frames " +
                          std::to_string(Settings.frames) + " --watchdog " + std::to_string(watchdog) +
                          (Settings.allFormats ? " --formats all" : "") + (Settings.trace ? " --trace" : "");
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, NULL, TRUE};
    HANDLE readEnd, writeEnd;
    if (!CreatePipe(&readEnd, &writeEnd, &inherit, 0)) {
        Synthesize(run, group + ".run", "expected a pipe to a child, got none", 0);
        return run;
    }
    SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
    HANDLE input = CreateFileA("NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, OPEN_EXISTING, 0, NULL);
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = input;
    startup.hStdOutput = writeEnd;
    startup.hStdError = writeEnd;
    PROCESS_INFORMATION process;
    BOOL started = CreateProcessA(NULL, &command[0], NULL, NULL, TRUE, 0, NULL, NULL, &startup, &process);
    CloseHandle(writeEnd);
    CloseHandle(input);
    if (!started) {
        CloseHandle(readEnd);
        Synthesize(run, group + ".run", "expected to start " + command + ", got an error", 0);
        return run;
    }

    bool finished = false, crashed = false, hung = false, lingered = false, ended = false, stopped = false;
    std::string pending;
    DWORD lastLine = GetTickCount();
    for (;;) {
        DWORD available = 0;
        if (!PeekNamedPipe(readEnd, NULL, 0, NULL, &available, NULL))
            break; // the child has gone and everything is read
        if (!available) {
            if (ended)
                break; // all it wrote before it ended is read
            if (WaitForSingleObject(process.hProcess, 0) == WAIT_OBJECT_0) {
                ended = true; // one more look for what it wrote last
                continue;
            }
            if (GetTickCount() - lastLine > watchdog) {
                TerminateProcess(process.hProcess, 1);
                // After its last check the child only exits: a stall there is the host's.
                lingered = finished;
                hung = !finished;
                break;
            }
            Sleep(5);
            continue;
        }
        char buffer[4096];
        DWORD got = 0;
        if (!ReadFile(readEnd, buffer, available < sizeof buffer ? available : sizeof buffer, &got, NULL))
            break;
        pending.append(buffer, got);
        lastLine = GetTickCount();
        for (size_t end; !stopped && (end = pending.find('\n')) != std::string::npos; pending.erase(0, end + 1)) {
            TakeLine(run, group, pending.substr(0, end), lastLine - begun, keepSteps, finished, crashed);
            stopped = Settings.stopAtFail && run.fails;
        }
        if (stopped) {
            // --exit-on-fail: the run ends with its first failure.
            TerminateProcess(process.hProcess, 1);
            finished = true;
            break;
        }
    }
    WaitForSingleObject(process.hProcess, watchdog);
    DWORD exitCode = 0;
    GetExitCodeProcess(process.hProcess, &exitCode);
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
    CloseHandle(readEnd);

    char text[96];
    DWORD at = GetTickCount() - begun;
    if (lingered) {
        run.warnings++;
        run.lines.push_back(ReportLine{"WARN " + group + ".exit: the child did not end within " +
                                       std::to_string(watchdog / 1000) + " s of its last check and was ended", at});
    }
    if (hung) {
        std::snprintf(text, sizeof text, "expected a sign of progress every %lu ms, got none", watchdog);
        Synthesize(run, group + ".hang", text, at);
    } else if (!finished && !crashed) {
        std::snprintf(text, sizeof text, "expected the run to finish, got an end with exit code 0x%08lX", exitCode);
        Synthesize(run, group + ".crash", text, at);
    }
    if (hung || crashed || !finished)
        run.lines.push_back(ReportLine{"  the last step: " + (run.lastStep.empty() ? std::string("(none)") : run.lastStep), at});
    return run;
}
