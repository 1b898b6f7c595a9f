// The writer thread, its queue of frames in their headers (in arrival
// order, emptied in the same order) and the headers it has freed.
#include <algorithm>
#include <cstdio>
#include <vector>
#include "hold_clock.h"
#include "png.h"
#include "timeline.h"
#include "writer.h"

struct QueuedFrame {
    VIDEOHDR *header;
    DWORD bytes;
    double estimate;
};

static struct Writer {
    CRITICAL_SECTION lock;          // guards the queue, the free headers, finishing and counts
    WriterOptions options;
    std::vector<QueuedFrame> queue; // a ring: `count` frames from `first`
    DWORD first, count;
    std::vector<VIDEOHDR *> free;
    bool finishing;
    HANDLE queued, freed, thread;
    Output *out;
    BITMAPINFOHEADER header;
    WriterCounts counts;
} W;

void StartWriterQueue(const WriterOptions &o)
{
    W.options = o;
    W.queue.assign(o.headers, QueuedFrame{});
    W.free.clear();
    W.free.reserve(o.headers);
    InitializeCriticalSection(&W.lock);
    W.first = W.count = 0;
    W.finishing = false;
    W.counts = WriterCounts{0, 0, 0, ~0ull, false};
    W.queued = CreateEventA(NULL, FALSE, FALSE, NULL);
    W.freed = CreateEventA(NULL, FALSE, FALSE, NULL);
    W.thread = NULL;
}

void QueueFrame(VIDEOHDR *header, DWORD bytes, double estimate)
{
    EnterCriticalSection(&W.lock);
    W.queue[(W.first + W.count++) % W.queue.size()] = {header, bytes, estimate};
    LeaveCriticalSection(&W.lock);
    SetEvent(W.queued);
}

VIDEOHDR *TakeFreeHeader()
{
    EnterCriticalSection(&W.lock);
    VIDEOHDR *header = NULL;
    if (!W.free.empty()) {
        header = W.free.back();
        W.free.pop_back();
    }
    LeaveCriticalSection(&W.lock);
    return header;
}

void FreeHeader(VIDEOHDR *header)
{
    EnterCriticalSection(&W.lock);
    W.free.push_back(header);
    LeaveCriticalSection(&W.lock);
    SetEvent(W.freed);
}

HANDLE HeaderFreed()
{
    return W.freed;
}

WriterCounts CountWriter()
{
    EnterCriticalSection(&W.lock);
    WriterCounts counts = W.counts;
    LeaveCriticalSection(&W.lock);
    return counts;
}

// The frame into `slot`, after the empty frames of the periods before it;
// false once a write has failed.
static bool WriteFrame(long slot, const QueuedFrame &f)
{
    long position = W.counts.written + W.counts.empty;
    bool ok = true;
    while (ok && position < slot) {
        // A device that ran ahead of the writer leaves many: they go in runs,
        // a write each, so that a slow writer catches up rather than falls behind.
        DWORD run = static_cast<DWORD>(std::min<long>(slot - position, AVI_EMPTY_RUN));
        DWORD written = WriteOutputEmptyFrames(*W.out, run);
        ok = written == run;
        position += written;
        EnterCriticalSection(&W.lock);
        W.counts.empty += written;
        LeaveCriticalSection(&W.lock);
    }
    ok = ok && WriteOutputFrame(*W.out, f.header->lpData, f.bytes);
    EnterCriticalSection(&W.lock);
    W.counts.written += ok;
    W.counts.bytes = OutputBytes(*W.out);
    W.counts.freeBytes = W.out->freeBytes;
    LeaveCriticalSection(&W.lock);
    if (ok && W.counts.written == 1 && W.options.png && SaveFramePng(W.options.png, W.header, f.header->lpData))
        std::printf("capture: wrote %s\n", W.options.png);
    if (ok && W.options.stallMs && W.counts.written == static_cast<long>(1000 / W.options.periodMs + 0.5))
        Sleep(W.options.stallMs);
    return ok;
}

// The files' rate follows the timeline's period: the one asked, as its
// fraction, or the device's, in microseconds.
static void FollowRate(const Timeline &t, double &period)
{
    if (t.period == period)
        return;
    period = t.period;
    if (period == t.asked)
        SetOutputRate(*W.out, W.options.rate, W.options.scale);
    else
        SetOutputRate(*W.out, 1000000, static_cast<DWORD>(period * 1000 + 0.5));
}

static DWORD WINAPI Write(LPVOID)
{
    Timeline timeline;
    StartTimeline(timeline, W.options.periodMs);
    double period = timeline.period;
    std::vector<double> pending(W.queue.size());
    for (;;) {
        EnterCriticalSection(&W.lock);
        DWORD count = W.count, first = W.first;
        bool finishing = W.finishing, failed = W.counts.failed;
        for (DWORD i = 0; i < count; i++)
            pending[i] = W.queue[(first + i) % W.queue.size()].estimate;
        QueuedFrame oldest = W.queue[first % W.queue.size()];
        LeaveCriticalSection(&W.lock);
        if (!count) {
            if (finishing)
                return 0;
            WaitForSingleObject(W.queued, INFINITE);
            continue;
        }
        double from = PlaceableFrom(timeline, pending.data(), count, W.options.buffers), now = NowMs();
        if (!finishing && !failed && now < from) {
            WaitForSingleObject(W.queued, static_cast<DWORD>(from - now) + 1);
            continue;
        }
        long slot = PlaceFrame(timeline, pending.data(), count);
        FollowRate(timeline, period);
        // Once a write has failed nothing more is written: the file ends
        // with its last whole frame.
        bool ok = !failed && WriteFrame(slot, oldest);
        EnterCriticalSection(&W.lock);
        W.counts.failed = W.counts.failed || !ok;
        W.first = (W.first + 1) % W.queue.size();
        W.count--;
        W.free.push_back(oldest.header);
        LeaveCriticalSection(&W.lock);
        SetEvent(W.freed);
    }
}

bool StartWriter(Output *out, const BITMAPINFOHEADER &h)
{
    W.out = out;
    W.header = h;
    W.counts.freeBytes = out->freeBytes;
    W.thread = CreateThread(NULL, 0, Write, NULL, 0, NULL);
    if (!W.thread)
        std::fprintf(stderr, "capture: cannot start the writer (error %lu)\n", GetLastError());
    return W.thread != NULL;
}

void FinishWriter()
{
    EnterCriticalSection(&W.lock);
    W.finishing = true;
    LeaveCriticalSection(&W.lock);
    SetEvent(W.queued);
    if (W.thread) {
        WaitForSingleObject(W.thread, INFINITE);
        CloseHandle(W.thread);
    }
    CloseHandle(W.queued);
    CloseHandle(W.freed);
    DeleteCriticalSection(&W.lock);
}
