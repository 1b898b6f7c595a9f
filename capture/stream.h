// Stream engine: queued buffers filled by one capture thread, and single frames.
#ifndef STREAM_H
#define STREAM_H

#include <atomic>
#include "vfwdrv.h"
#include "device.h"

#define STREAM_RING_SLOTS 1000

// One stream of the session: the client's headers and the capture thread.
// What the host's threads and the capture thread share is atomic or ordered
// by queuedCount and completedCount (stream.cpp).
struct CaptureStream {
    VIDEOHDR *ring[STREAM_RING_SLOTS];
    std::atomic<LONG> queuedCount;       // headers added since DVM_STREAM_INIT
    VIDEO_STREAM_INIT_PARMS streamInit;
    std::atomic<HANDLE> stopEvent;       // the capture thread's, 0 until it exists and once closed

    // Kept so that a stop always reaches the one capture thread and the
    // ring never overruns:
    HANDLE captureThread;                // until it has been waited for
    DWORD captureThreadId;
    HANDLE threadDevice;                 // the device the capture thread reads
    std::atomic<HANDLE> wakeEvent;       // wakes a thread waiting for a header
    std::atomic<LONG> completedCount;    // the thread's finished cycles since DVM_STREAM_INIT
    std::atomic<LONG> stopRequested;     // DVM_STREAM_STOP, even before the event exists
    std::atomic<LONG> threadWaiting;     // the thread waits for a header: adds wake it
    BOOL threadClosesDevice;             // released from inside a callback
};

// The engine's lock: made when the library loads, deleted when it unloads.
void InitStreamEngine();
void EndStreamEngine();

// DVM_STREAM_* for the stream on `device`.
DWORD HandleStreamMessage(CaptureStream &stream, HANDLE device, UINT message, LPARAM lParam1, LPARAM lParam2);
// DVM_FRAME: one frame read on the caller's thread.
DWORD CaptureSingleFrame(HANDLE device, VIDEOHDR *header, DWORD size);

// Stops the capture thread and waits until it has ended. FALSE when called
// on that thread itself: it then closes its device as it ends.
BOOL EndCaptureThread(CaptureStream &stream);
// A new session: the headers and callback of the last one, whose client may
// have freed them since its last close, are forgotten.
void ForgetStream(CaptureStream &stream);

#endif
