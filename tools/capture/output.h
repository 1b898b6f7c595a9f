// The recording's files. By default one OpenDML file of any length; with a
// segment size, whole AVI 1.0 files that each stay under it (OUT.avi,
// OUT.001.avi, OUT.002.avi, ...), for readers that know only AVI 1.0.
// Each file is read back through its own indexes once the recording has ended.
#ifndef CAPTURE_OUTPUT_H
#define CAPTURE_OUTPUT_H

#include <string>
#include <vector>
#include "avi_writer.h"

// The largest segment: an AVI 1.0 file's sizes are 32-bit and signed for many readers.
const ULONGLONG SEGMENT_MB_MAX = 2047;

struct Output {
    std::string stem, extension;     // "C:\out\OUT", ".avi"
    ULONGLONG segmentBytes;          // 0: one OpenDML file
    BITMAPINFOHEADER header;
    DWORD rate, scale;
    std::vector<std::string> paths;  // every file started, the open one last
    std::vector<DWORD> frames;       // the frames of each closed file
    AviWriter avi;
    ULONGLONG closedBytes;           // the closed files' sizes
    ULONGLONG freeBytes;             // on the files' disk, when last asked
    ULONGLONG askedAt;               // the files' bytes then
};

// Creates the first file. Each returns false after saying which file and why.
bool StartOutput(Output &o, const char *path, ULONGLONG segmentBytes, const BITMAPINFOHEADER &h, DWORD rate,
                 DWORD scale);
// One frame; `bytes` 0 writes an empty frame.
bool WriteOutputFrame(Output &o, const void *data, DWORD bytes);
// `count` empty frames, at most AVI_EMPTY_RUN, written at once where they fit;
// the number written, less than `count` after a failure.
DWORD WriteOutputEmptyFrames(Output &o, DWORD count);
// The frame rate of the open file and of those still to come.
void SetOutputRate(Output &o, DWORD rate, DWORD scale);
// Closes the open file.
bool CloseOutput(Output &o);
// Reads every closed file back: true when each holds every frame written to it.
bool CheckOutput(const Output &o);
// Bytes in all the files so far.
ULONGLONG OutputBytes(const Output &o);

#endif
