// Schedules: generation from a seed, and their text form (see schedule.h).
#include <cstdio>
#include <cstring>
#include "schedule.h"

static const char *const KindNames[STEP_KINDS] = {
    "open", "close", "format-get", "format-set", "stream", "frame", "dialog", "install", "absent",
    "fail-reads", "refuse", "pace", "setting", "syscall", "contend", "page",
};

const char *const FailingCalls[] = {
    "CreateEventA", "CreateThread", "RegOpenKeyExA", "RegQueryValueExA", "RegCreateKeyExA", "RegSetValueExA",
    "CreateFileA", "DeviceIoControl", "ReadFile", "DialogBoxParamA", "LoadStringA", "OpenSCManagerA",
    "OpenServiceA", "CreateServiceA", "StartServiceA", "ControlService",
};
const int FailingCallCount = sizeof FailingCalls / sizeof *FailingCalls;

// splitmix64: the same numbers for the same seed on every machine.
struct Random {
    uint64_t state;
    uint64_t Next()
    {
        uint64_t z = (state += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    int Below(int n) { return static_cast<int>(Next() % static_cast<uint64_t>(n)); }
    int Pick(std::initializer_list<int> values) { return values.begin()[Below(static_cast<int>(values.size()))]; }
};

// Host operations come most often; faults of every other kind in between.
static Step RandomStep(Random &r)
{
    static const int Weights[STEP_KINDS] = {6, 5, 3, 4, 6, 2, 2, 1, 1, 2, 1, 1, 3, 3, 1, 1};
    int total = 0;
    for (int w : Weights)
        total += w;
    int pick = r.Below(total), kind = 0;
    while (pick >= Weights[kind])
        pick -= Weights[kind++];
    Step s = {kind, 0, 0, 0};
    switch (kind) {
    case STEP_OPEN: s.a = r.Pick({1, 4, 4, 2, 8}); break;
    case STEP_CLOSE: s.a = r.Pick({1, 4, 4, 2}); break;
    case STEP_FORMAT_GET: s.a = r.Pick({40, 40, 44, 20, 0}); break;
    case STEP_FORMAT_SET:
        s.a = r.Pick({80, 160, 320, 640, 700, 0, 78, 642});
        s.b = r.Pick({60, 120, 240, 480, 500, 0, 59});
        s.c = r.Below(5);
        break;
    case STEP_STREAM: s.a = 1 + r.Below(8); s.b = r.Below(3); s.c = r.Below(400) * 3 + r.Below(3); break;
    case STEP_FRAME: s.a = r.Below(3); break;
    case STEP_DIALOG: s.a = r.Below(3); s.b = r.Below(2); break;
    case STEP_INSTALL: s.a = r.Below(2); break;
    case STEP_ABSENT: s.a = r.Below(2); break;
    case STEP_FAIL_READS: s.a = 1 + r.Below(20); s.b = r.Below(2); break;
    case STEP_REFUSE: s.a = r.Below(4); break;
    case STEP_PACE: s.a = r.Below(2); break;
    case STEP_SETTING: s.a = r.Below(15); s.b = r.Below(6); break;
    case STEP_SYSCALL: s.a = r.Below(FailingCallCount); s.b = 1 + r.Below(3); break;
    case STEP_CONTEND: s.a = r.Below(2); break;
    case STEP_PAGE: s.a = r.Below(9); s.b = r.Below(4); break;
    }
    return s;
}

std::vector<Step> MakeSchedule(uint64_t seed, unsigned index, unsigned length)
{
    Random r = {seed * 1000003ull + index};
    std::vector<Step> steps;
    for (unsigned i = 0; i < length; i++)
        steps.push_back(RandomStep(r));
    return steps;
}

std::string StepText(const Step &s)
{
    char text[64];
    std::snprintf(text, sizeof text, "%s %d %d %d", KindNames[s.kind], s.a, s.b, s.c);
    return text;
}

std::string ScheduleText(const std::vector<Step> &steps)
{
    std::string text;
    for (const Step &s : steps)
        text += (text.empty() ? "" : "; ") + StepText(s);
    return text;
}

bool ParseSchedule(const std::string &text, std::vector<Step> &steps)
{
    steps.clear();
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find(';', start);
        std::string item = text.substr(start, end == std::string::npos ? std::string::npos : end - start);
        start = end == std::string::npos ? text.size() : end + 1;
        char name[32];
        Step s = {-1, 0, 0, 0};
        if (std::sscanf(item.c_str(), " %31s %d %d %d", name, &s.a, &s.b, &s.c) != 4)
            return false;
        for (int k = 0; k < STEP_KINDS; k++)
            if (!std::strcmp(name, KindNames[k]))
                s.kind = k;
        if (s.kind < 0)
            return false;
        steps.push_back(s);
    }
    return true;
}
