// A recording: the driver's stream into the recording's files, until the
// count or time is reached, the user stops it, or something fails.
#ifndef CAPTURE_RECORDER_H
#define CAPTURE_RECORDER_H

#include "vfwdrv.h"

struct RecordOptions {
    DWORD buffers;         // the driver's
    DWORD queue;           // headers beyond the driver's: frames the writer may hold besides
    DWORD frames;          // 0: until the time is up
    double seconds;
    ULONGLONG segmentBytes; // 0: one OpenDML file
    const char *avi, *png;
    bool preview;
    DWORD rate, scale;     // the stream's nominal frame rate
    DWORD stallWriterMs;   // the writer stops once for as long (trials of a stalling disk)
};

// 0 when the recording ended as asked (the user's stop included), else 1.
int Record(HDRVR driver, const RecordOptions &o, const BITMAPINFOHEADER &h);

// The user's stop (Enter, Ctrl+C, the preview's close) reaches the recording.
void StopRecording();
// Returns once the recording's files are closed (at once where none is open).
void AwaitFilesClosed();

#endif
