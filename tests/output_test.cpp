// The capture client's files: empty frames, which a device that ran ahead of
// the writer leaves in runs, go in one write a run; the files are those that
// writing them one by one makes, byte for byte, across segments.
#include <gtest/gtest.h>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>
#include <windows.h>
#include "output.h"

namespace {

const DWORD FrameBytes = 160 * 120 * 2; // RGB 15 at 160 x 120, as the client's small tests record

// Each real frame is followed by a run of this many empty ones, in turn.
const DWORD Runs[] = {0, 1, 7, AVI_EMPTY_RUN, 45, 300, 2, AVI_EMPTY_RUN, 0, 129};

std::string Stem(const char *name)
{
    char folder[MAX_PATH];
    GetTempPathA(sizeof folder, folder);
    return std::string(folder) + "output_test_" + name;
}

std::string Contents(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Writes 60 frames, each after its run of empty ones, in runs or one by one.
// The files' paths; each file is read back through its indexes.
std::vector<std::string> Record(const char *name, ULONGLONG segmentBytes, bool inRuns)
{
    BITMAPINFOHEADER h = {sizeof h, 160, 120, 1, 16, BI_RGB, FrameBytes, 0, 0, 0, 0};
    std::vector<BYTE> frame(FrameBytes, 0x5a);
    Output o;
    EXPECT_TRUE(StartOutput(o, (Stem(name) + ".avi").c_str(), segmentBytes, h, 25, 1));
    for (int i = 0; i < 60; i++) {
        DWORD run = Runs[i % (sizeof Runs / sizeof Runs[0])];
        if (inRuns) {
            EXPECT_EQ(run, WriteOutputEmptyFrames(o, run));
        }
        for (DWORD k = 0; !inRuns && k < run; k++)
            EXPECT_TRUE(WriteOutputFrame(o, NULL, 0));
        EXPECT_TRUE(WriteOutputFrame(o, frame.data(), FrameBytes));
    }
    EXPECT_TRUE(CloseOutput(o));
    EXPECT_TRUE(CheckOutput(o));
    return o.paths;
}

TEST(Output, EmptyFramesInRunsMakeTheSameFilesAsOneByOne)
{
    const struct {
        const char *what;
        ULONGLONG segmentBytes;
        size_t files;
    } cases[] = {
        {"one OpenDML file", 0, 1},
        // 27 frames of 38,408 bytes fill a segment, and the runs' 4 KiB chunks
        // and index entries move each segment's end.
        {"segments of 1 MiB", 1 << 20, 3},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<std::string> runs = Record("runs", c.segmentBytes, true);
        std::vector<std::string> single = Record("single", c.segmentBytes, false);
        EXPECT_EQ(c.files, runs.size());
        ASSERT_EQ(single.size(), runs.size());
        for (size_t i = 0; i < runs.size(); i++) {
            EXPECT_TRUE(Contents(runs[i]) == Contents(single[i])) << runs[i] << " differs from " << single[i];
            DeleteFileA(runs[i].c_str());
            DeleteFileA(single[i].c_str());
        }
    }
}

} // namespace
