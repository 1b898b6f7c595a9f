// The writer thread. Headers rotate between the driver and the writer: the
// stream loop queues each frame the driver hands back as it is, in its
// header, and gives the driver a free header in its place; the writer places
// the queued frames on the timeline, writes the empty frames of the periods
// in which nothing was captured, each frame straight from its buffer, and
// every change of file, then frees the header. No write holds up a buffer,
// and no frame is copied.
#ifndef CAPTURE_WRITER_H
#define CAPTURE_WRITER_H

#include "output.h"
#include "vfwdrv.h"

struct WriterOptions {
    DWORD headers;        // all there are, the driver's included: the most the queue holds
    DWORD buffers;        // the driver's (the most it hands back together)
    double periodMs;      // the frame period asked
    DWORD rate, scale;    // the same as a fraction, for the files while the device keeps it
    const char *png;      // the first frame as a PNG, or NULL
    DWORD stallMs;        // a stop after the first second of frames: a stalling disk, for trials
};

// What the writer has done so far.
struct WriterCounts {
    long written, empty;  // captured frames written; empty frames before them
    ULONGLONG bytes, freeBytes;
    bool failed;          // a write failed: nothing more is written
};

void StartWriterQueue(const WriterOptions &o);
// Starts the thread, writing into `out`, which it owns until FinishWriter;
// false (with a message) when it cannot.
bool StartWriter(Output *out, const BITMAPINFOHEADER &h);
// Queues a frame of `bytes` in its header, with its capture estimate.
void QueueFrame(VIDEOHDR *header, DWORD bytes, double estimate);
// A header the writer is done with, or NULL while none is.
VIDEOHDR *TakeFreeHeader();
// A header that holds no frame goes back to the free ones.
void FreeHeader(VIDEOHDR *header);
// Signalled whenever the writer frees a header.
HANDLE HeaderFreed();
WriterCounts CountWriter();
// Writes what is queued, then ends the thread.
void FinishWriter();

#endif
