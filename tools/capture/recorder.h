// A recording: the driver's stream into the AVI segments, until the count
// or time is reached, the user stops it, or something fails.
#ifndef CAPTURE_RECORDER_H
#define CAPTURE_RECORDER_H

#include "vfwdrv.h"

struct RecordOptions {
    DWORD buffers;
    DWORD frames;          // 0: until the time is up
    double seconds;
    ULONGLONG segmentBytes;
    const char *avi, *png;
    bool preview;
    DWORD rate, scale;     // the stream's nominal frame rate
};

// 0 when the recording ended as asked (the user's stop included), else 1.
int Record(HDRVR driver, const RecordOptions &o, const BITMAPINFOHEADER &h);

// The user's stop (Enter, Ctrl+C, the preview's close) reaches the recording.
void StopRecording();

#endif
