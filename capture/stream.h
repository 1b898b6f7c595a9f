// Stream engine: queued buffers filled by one capture thread, and single frames.
#ifndef STREAM_H
#define STREAM_H

#include "vfwdrv.h"
#include "device.h"

#define STREAM_RING_SLOTS 1000

enum StreamState {
    STREAM_IDLE,        // no DVM_STREAM_INIT since the session began or the last DVM_STREAM_FINI
    STREAM_INITIALISED, // parameters kept, no thread
    STREAM_RUNNING,     // the capture thread reads into the queued headers
    STREAM_STOPPING,    // the thread is told to end (it may have ended already)
};

// One stream of the session. Every field is guarded by the engine's one
// lock (stream.cpp), the capture thread's included.
struct CaptureStream {
    VIDEOHDR *ring[STREAM_RING_SLOTS];
    DWORD queuedCount;                  // headers added since the ring was last emptied: the head
    DWORD readCount;                    // of those, the ones the thread is done with: the tail
    StreamState state;
    VIDEO_STREAM_INIT_PARMS streamInit; // the client's parameters and callback
    HANDLE thread;                      // the capture thread, until a waiter has seen it end
    DWORD threadId;
    HANDLE threadDevice;                // the thread's own handle of the device, closed as it ends
    DWORD generation;                   // threads made: which one `thread` is
};

// The engine's lock: made when the library loads, deleted when it unloads.
void InitStreamEngine();
void EndStreamEngine();

// DVM_STREAM_* for the stream on `device`.
DWORD HandleStreamMessage(CaptureStream &stream, HANDLE device, UINT message, LPARAM lParam1, LPARAM lParam2);
// DVM_FRAME: one frame read on the caller's thread.
DWORD CaptureSingleFrame(HANDLE device, VIDEOHDR *header, DWORD size);

// Ends a running stream and waits until its thread has gone; on that thread
// itself (a last close from a callback) only tells it to end.
void EndStream(CaptureStream &stream);
// A new session: the headers and callback of the last one, whose client may
// have freed them since its last close, are forgotten.
void ForgetStream(CaptureStream &stream);

#endif
