// The recording's AVI files. AVIFile writes AVI 1.0, which the players of
// NT 4's time read reliably up to 1 GiB and which Wine's AVIFile cannot read
// back past 2 GiB: every file stays under the segment size, and the recording
// continues in the next one (OUT.avi, OUT.001.avi, OUT.002.avi, ...), each a
// complete AVI with its own index.
#ifndef CAPTURE_SEGMENTS_H
#define CAPTURE_SEGMENTS_H

#include <string>
#include <vector>
#include <windows.h>
#include <vfw.h>

// The largest segment: Wine's AVIFile loses what lies past 2 GiB.
const ULONGLONG SEGMENT_MB_MAX = 2047;

struct AviSegments {
    std::string stem, extension;     // "C:\out\OUT", ".avi"
    ULONGLONG limitBytes;
    BITMAPINFOHEADER header;
    DWORD rate, scale;
    std::vector<std::string> paths;  // every file started, the open one last
    PAVIFILE file;
    PAVISTREAM stream;
    LONG position;                   // frames in the open file, empty ones included
    ULONGLONG dataBytes;             // its chunks so far
};

// Creates the first file. Each returns false after saying which file and why.
bool StartSegments(AviSegments &s, const char *path, ULONGLONG limitBytes, const BITMAPINFOHEADER &h,
                   DWORD rate, DWORD scale);
// One frame; `bytes` 0 writes an empty frame (a dropped one, by AVI convention).
bool WriteSegmentFrame(AviSegments &s, const void *data, DWORD bytes);
// Closes the open file and reads it back: true when it holds every frame written.
bool CloseSegments(AviSegments &s);

#endif
