// A streaming client of zentacap for tests and benchmarks: its own headers
// and buffers, a function callback that records every callback and can add
// each returned header again, as capture applications do. A client that goes
// while its stream may still run (a test ended by an assertion) stops and
// ends that stream first, so the driver never touches its freed record.
#ifndef STREAM_CLIENT_H
#define STREAM_CLIENT_H

#include <atomic>
#include <vector>
#include "vfwdrv.h"
#include "watchdog.h"

struct StreamEvent {
    UINT message;
    VIDEOHDR *header;
    DWORD flags;      // the header's flags when it came back
    DWORD bytesUsed;
};

class StreamClient {
public:
    static constexpr DWORD ClientFlags = VHDR_PREPARED; // set by the client on every add
    static constexpr DWORD TimeMark = 0x7157;          // in dwTimeCaptured, never to change

    StreamClient(DRIVERPROC proc, DWORD channel, size_t buffers, DWORD bufferSize);
    ~StreamClient();

    DWORD Init(DWORD callbackFlags = CALLBACK_FUNCTION, DWORD_PTR callback = 0);
    DWORD Add(VIDEOHDR *header);
    DWORD AddAll();
    DWORD Send(UINT message, LPARAM lParam1 = 0, LPARAM lParam2 = 0);

    // Until `count` frames have come back, or MM_DRVM_CLOSE has; false after `ms`.
    bool WaitForData(long count, DWORD ms = HangMs);
    bool WaitForClose(DWORD ms = HangMs);
    std::vector<StreamEvent> Events();
    std::vector<VIDEOHDR *> Added();
    void Forget(); // empties both records, keeping their memory

    std::vector<VIDEOHDR> headers;
    std::vector<std::vector<BYTE>> buffers;
    std::atomic<bool> readdInCallback{false};
    std::atomic<long> dataCount{0};

private:
    static void CALLBACK Callback(HDRVR, UINT message, DWORD_PTR instance, DWORD_PTR p1, DWORD_PTR);

    DRIVERPROC proc;
    DWORD channel;
    CRITICAL_SECTION lock;
    HANDLE closed, data;
    bool initialised = false; // a DVM_STREAM_INIT was sent: a stream may run
    std::vector<StreamEvent> events;
    std::vector<VIDEOHDR *> added;
};

#endif
