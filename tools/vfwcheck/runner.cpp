// Child runs: this program started again as "--child GROUP", its standard
// output read through a pipe and counted line by line. A child silent for
// longer than the watchdog allows is ended and reported as a hang; one that
// ends without saying it finished is reported as a crash.
#include <cstdio>
#include <cstdlib>
#include "runner.h"

// ms without a line: long enough for a driver in an emulated machine, where
// the stop and answer times have their own, shorter checks
static const DWORD Watchdog = 15000;

static void TakeLine(ChildRun &run, const std::string &line, bool verbose, bool keepSteps, bool &finished, bool &crashed)
{
    if (line.compare(0, 5, "pass ") == 0) {
        run.passes++;
        if (verbose)
            run.lines.push_back(line);
    } else if (line.compare(0, 5, "FAIL ") == 0) {
        if (!run.fails++)
            run.firstFailRule = line.substr(5, line.find(':') - 5);
        run.lines.push_back(line);
    } else if (line.compare(0, 5, "WARN ") == 0) {
        run.warnings++;
        run.lines.push_back(line);
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

static void Synthesize(ChildRun &run, const std::string &rule, const std::string &text)
{
    if (!run.fails++)
        run.firstFailRule = rule;
    run.lines.push_back("FAIL " + rule + ": " + text);
}

ChildRun RunChild(const std::string &group, const std::string &arguments, bool verbose, bool keepSteps)
{
    ChildRun run;
    char program[MAX_PATH];
    GetModuleFileNameA(NULL, program, MAX_PATH);
    std::string command = std::string("\"") + program + "\" --child " + group + " " + arguments;
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, NULL, TRUE};
    HANDLE readEnd, writeEnd;
    if (!CreatePipe(&readEnd, &writeEnd, &inherit, 0)) {
        Synthesize(run, group + ".run", "expected a pipe to a child, got none");
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
        Synthesize(run, group + ".run", "expected to start " + command + ", got an error");
        return run;
    }

    bool finished = false, crashed = false, hung = false, lingered = false, ended = false;
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
            if (GetTickCount() - lastLine > Watchdog) {
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
        for (size_t end; (end = pending.find('\n')) != std::string::npos; pending.erase(0, end + 1))
            TakeLine(run, pending.substr(0, end), verbose, keepSteps, finished, crashed);
        lastLine = GetTickCount();
    }
    WaitForSingleObject(process.hProcess, Watchdog);
    DWORD exitCode = 0;
    GetExitCodeProcess(process.hProcess, &exitCode);
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
    CloseHandle(readEnd);

    char text[96];
    if (lingered) {
        run.warnings++;
        run.lines.push_back("WARN " + group + ".exit: the child did not end within " + std::to_string(Watchdog / 1000) +
                            " s of its last check and was ended");
    }
    if (hung) {
        std::snprintf(text, sizeof text, "expected a sign of progress every %lu ms, got none", Watchdog);
        Synthesize(run, group + ".hang", text);
    } else if (!finished && !crashed) {
        std::snprintf(text, sizeof text, "expected the run to finish, got an end with exit code 0x%08lX", exitCode);
        Synthesize(run, group + ".crash", text);
    }
    if (hung || crashed || !finished)
        run.lines.push_back("  the last step: " + (run.lastStep.empty() ? std::string("(none)") : run.lastStep));
    return run;
}
