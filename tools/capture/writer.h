// The writer thread. The stream loop copies each frame out of the driver's
// buffer into a queue slot and hands the buffer back at once; the writer
// places the queued frames on the timeline, writes the empty frames of the
// periods in which nothing was captured, the frames, and every change of
// file, so that no write ever holds up a buffer.
#ifndef CAPTURE_WRITER_H
#define CAPTURE_WRITER_H

#include "output.h"

struct WriterOptions {
    DWORD slots;          // frames the queue holds
    DWORD frameBytes;     // each slot's size
    DWORD buffers;        // the driver's buffers (the most it hands back together)
    double periodMs;
    const char *png;      // the first frame as a PNG, or NULL
    DWORD stallMs;        // a stop after the first second of frames: a stalling disk, for trials
};

// What the writer has done so far.
struct WriterCounts {
    long written, empty;  // captured frames written; empty frames before them
    ULONGLONG bytes, freeBytes;
    bool failed;
};

// Allocates the queue; false (with a message) when it does not fit in memory.
// FinishWriter releases it, whether or not the thread started.
bool AllocateWriter(const WriterOptions &o);
// Starts the thread, writing into `out`, which it owns until FinishWriter;
// false (with a message) when it cannot.
bool StartWriter(Output *out, const BITMAPINFOHEADER &h);
// A free slot to copy a frame into, or NULL while the queue is full.
BYTE *FreeSlot();
// Queues the frame copied into the slot FreeSlot gave, with its capture estimate.
void QueueFrame(DWORD bytes, double estimate);
// Signalled whenever the writer frees a slot.
HANDLE SlotFreed();
WriterCounts CountWriter();
// Writes what is queued, then ends the thread.
void FinishWriter();

#endif
