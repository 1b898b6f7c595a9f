// A capture client of one stream, as the capture layer is one: its guarded
// headers and buffers, a callback target of any type, the log of what came
// back, and the checks that every callback must pass.
#ifndef VFWCHECK_CALLBACKS_H
#define VFWCHECK_CALLBACKS_H

#include "vfwdrv.h"

enum CallbackKind { CallbackFunction, CallbackWindow, CallbackThread, CallbackEvent, CallbackKinds };
extern const char *const CallbackNames[CallbackKinds];

// Where the client is in the stream when a callback comes; each phase is
// entered just before its message is sent, PhaseEnded once DVM_STREAM_FINI
// has returned (the headers may be gone then, and are not looked at).
enum Phase { PhaseInit, PhaseStart, PhaseStop, PhaseStopped, PhaseReset, PhaseFini, PhaseEnded };

// For MM_DRVM_DATA of a header the client had added, also what the driver
// wrote: dwBytesUsed, and dwTimeCaptured (Untouched where it wrote none).
struct StreamEvent {
    UINT message;
    int phase;
    DWORD time;
    DWORD bytes, captured;
};

const int ClientHeaders = 8;
const int ClientEvents = 4096;

struct StreamClient {
    HDRVR channel;
    CallbackKind kind;
    DWORD imageSize;     // what dwBytesUsed must be (uncompressed formats), else 0
    DWORD frameUs;       // dwMicroSecPerFrame of DVM_STREAM_INIT, 0 for 40000
    bool readd;          // each header handed back is added again while running
    bool keepsAllowed;   // the device fails reads: a header it could not fill may stay with the driver
    volatile LONG phase;
    VIDEOHDR *headers[ClientHeaders];
    int headerCount;
    VIDEOHDR *owned[ClientHeaders]; // added and not yet handed back, in add order
    int ownedCount;
    StreamEvent events[ClientEvents];
    LONG eventCount, dataCount, signals;
    bool openSeen, closeSeen;
    unsigned reported;   // rules already reported in this stream
    CRITICAL_SECTION lock;
    HWND window;
    HANDLE event;
};

// Guarded headers with buffers of `bufferSize` bytes and the callback target.
// They stay allocated for the rest of the run, as a driver may still write
// into what it wrongly kept.
bool StartClient(StreamClient &c, HDRVR channel, CallbackKind kind, int headers, DWORD bufferSize, DWORD imageSize);
DWORD InitStream(StreamClient &c);
DWORD AddHeader(StreamClient &c, VIDEOHDR *header);
void EnterPhase(StreamClient &c, Phase phase);
// Delivers posted callbacks and looks at the headers of an event stream for
// `ms` milliseconds, or until `done` holds.
bool Pump(StreamClient &c, DWORD ms, bool (*done)(const StreamClient &) = NULL);
// Frees the headers, buffers and lock of a function-callback stream that
// ended cleanly (every header back, MM_DRVM_CLOSE seen): true when the client
// may go. Those of any other stay, as the driver may still write into them.
bool EndClient(StreamClient &c);

#endif
