// How long the driver took to answer each message: a histogram for each
// message, kept by a schedule's child, handed to the campaign as text lines
// ("answers ...") and summed up over the whole campaign.
#ifndef FAULTS_ANSWER_TIMES_H
#define FAULTS_ANSWER_TIMES_H

#include <array>
#include <map>
#include <string>
#include <windows.h>

// Upper bounds of the buckets, in milliseconds; the last bucket has none.
constexpr std::array<double, 15> AnswerBounds = {0.1, 0.5, 1, 2, 5, 10, 20, 50, 100, 250, 500, 1000, 2000, 5000, 15000};

struct AnswerHistogram {
    std::array<unsigned, AnswerBounds.size() + 1> counts{};
    double maxMs = 0;
};
using AnswerTimes = std::map<UINT, AnswerHistogram>;

// In the child: one answer of `message`, from any thread.
void RecordAnswer(UINT message, double ms);
// The child's histograms as lines on stdout.
void PrintAnswerLines();

// In the campaign: adds a child's output lines to `total`.
void AddAnswerLines(const std::string &output, AnswerTimes &total);
// The distribution over the campaign: count, median, 99th percentile and
// maximum of each message.
void PrintAnswerTable(const AnswerTimes &total);

#endif
