// Answer times of the driver's messages (see answer_times.h).
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include "answer_times.h"
#include "vfwdrv.h"

// Answers come from the run's thread and from the capture thread's callbacks.
static struct Recorder {
    CRITICAL_SECTION lock;
    AnswerTimes times;
    Recorder() { InitializeCriticalSection(&lock); }
} Recorded;

void RecordAnswer(UINT message, double ms)
{
    size_t bucket = 0;
    while (bucket < AnswerBounds.size() && ms > AnswerBounds[bucket])
        bucket++;
    EnterCriticalSection(&Recorded.lock);
    AnswerHistogram &h = Recorded.times[message];
    h.counts[bucket]++;
    if (ms > h.maxMs)
        h.maxMs = ms;
    LeaveCriticalSection(&Recorded.lock);
}

// "answers MESSAGE MAX COUNT..." for each message answered.
void PrintAnswerLines()
{
    EnterCriticalSection(&Recorded.lock);
    for (const auto &entry : Recorded.times) {
        std::printf("answers 0x%X %.1f", entry.first, entry.second.maxMs);
        for (unsigned count : entry.second.counts)
            std::printf(" %u", count);
        std::printf("\n");
    }
    LeaveCriticalSection(&Recorded.lock);
    std::fflush(stdout);
}

void AddAnswerLines(const std::string &output, AnswerTimes &total)
{
    std::istringstream lines(output);
    std::string line;
    while (std::getline(lines, line)) {
        if (line.compare(0, 8, "answers ") != 0)
            continue;
        std::istringstream fields(line.substr(8));
        std::string message;
        double maxMs = 0;
        AnswerHistogram read;
        fields >> message >> maxMs;
        for (unsigned &count : read.counts)
            fields >> count;
        if (!fields)
            continue; // a line cut off by the child's end
        AnswerHistogram &h = total[static_cast<UINT>(std::strtoul(message.c_str(), NULL, 16))];
        for (size_t i = 0; i < h.counts.size(); i++)
            h.counts[i] += read.counts[i];
        if (maxMs > h.maxMs)
            h.maxMs = maxMs;
    }
}

static const char *MessageName(UINT message)
{
    static const struct { UINT message; const char *name; } Names[] = {
        {DRV_OPEN, "DRV_OPEN"}, {DRV_CLOSE, "DRV_CLOSE"}, {DRV_CONFIGURE, "DRV_CONFIGURE"},
        {DRV_INSTALL, "DRV_INSTALL"}, {DRV_REMOVE, "DRV_REMOVE"}, {DVM_FORMAT, "DVM_FORMAT"},
        {DVM_DIALOG, "DVM_DIALOG"}, {DVM_FRAME, "DVM_FRAME"}, {DVM_STREAM_ADDBUFFER, "DVM_STREAM_ADDBUFFER"},
        {DVM_STREAM_FINI, "DVM_STREAM_FINI"}, {DVM_STREAM_INIT, "DVM_STREAM_INIT"},
        {DVM_STREAM_START, "DVM_STREAM_START"}, {DVM_STREAM_STOP, "DVM_STREAM_STOP"},
    };
    for (const auto &n : Names)
        if (n.message == message)
            return n.name;
    return "other";
}

// The upper bound of the bucket that holds the answer at `fraction` of them.
static std::string Quantile(const AnswerHistogram &h, unsigned total, double fraction)
{
    unsigned seen = 0;
    for (size_t i = 0; i < h.counts.size(); i++) {
        seen += h.counts[i];
        if (seen && seen >= fraction * total) {
            char text[16];
            std::snprintf(text, sizeof text, i < AnswerBounds.size() ? "<= %g" : "> %g",
                          AnswerBounds[i < AnswerBounds.size() ? i : i - 1]);
            return text;
        }
    }
    return "-";
}

void PrintAnswerTable(const AnswerTimes &total)
{
    std::printf("answer times (ms): message, answers, median, 99th percentile, longest\n");
    for (const auto &entry : total) {
        unsigned count = 0;
        for (unsigned c : entry.second.counts)
            count += c;
        std::printf("  %-22s %7u  %-10s %-10s %8.1f\n", MessageName(entry.first), count,
                    Quantile(entry.second, count, 0.5).c_str(), Quantile(entry.second, count, 0.99).c_str(),
                    entry.second.maxMs);
    }
}
