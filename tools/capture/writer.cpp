// The writer thread and its queue: a ring of frame slots filled by the
// stream loop in arrival order and emptied by the writer in the same order.
#include <cstdio>
#include <vector>
#include "png.h"
#include "timeline.h"
#include "writer.h"

static struct Writer {
    CRITICAL_SECTION lock;          // guards first, count, finishing and counts
    WriterOptions options;
    BYTE *block;                    // the slots' frames
    std::vector<DWORD> bytes;       // each slot's frame size
    std::vector<double> estimates;  // each slot's capture estimate
    DWORD first, count;             // the oldest queued slot, and how many are queued
    bool finishing;
    HANDLE queued, freed, thread;
    Output *out;
    BITMAPINFOHEADER header;
    WriterCounts counts;
} W;

bool AllocateWriter(const WriterOptions &o)
{
    W.options = o;
    ULONGLONG total = static_cast<ULONGLONG>(o.slots) * o.frameBytes;
    W.block = total == static_cast<SIZE_T>(total)
                  ? static_cast<BYTE *>(VirtualAlloc(NULL, static_cast<SIZE_T>(total), MEM_COMMIT, PAGE_READWRITE))
                  : NULL;
    if (!W.block) {
        std::fprintf(stderr, "capture: no memory for a queue of %lu frames of %lu bytes (%llu MB)\n", o.slots,
                     o.frameBytes, total >> 20);
        return false;
    }
    ZeroMemory(W.block, static_cast<SIZE_T>(total)); // touched before the stream starts
    W.bytes.assign(o.slots, 0);
    W.estimates.assign(o.slots, 0);
    InitializeCriticalSection(&W.lock);
    W.first = W.count = 0;
    W.finishing = false;
    W.counts = WriterCounts{0, 0, 0, ~0ull, false};
    W.queued = CreateEventA(NULL, FALSE, FALSE, NULL);
    W.freed = CreateEventA(NULL, FALSE, FALSE, NULL);
    W.thread = NULL;
    return true;
}

static BYTE *Slot(DWORD index)
{
    return W.block + static_cast<SIZE_T>(index % W.options.slots) * W.options.frameBytes;
}

BYTE *FreeSlot()
{
    EnterCriticalSection(&W.lock);
    BYTE *slot = W.count < W.options.slots ? Slot(W.first + W.count) : NULL;
    LeaveCriticalSection(&W.lock);
    return slot;
}

void QueueFrame(DWORD bytes, double estimate)
{
    EnterCriticalSection(&W.lock);
    DWORD index = (W.first + W.count) % W.options.slots;
    W.bytes[index] = bytes;
    W.estimates[index] = estimate;
    W.count++;
    LeaveCriticalSection(&W.lock);
    SetEvent(W.queued);
}

HANDLE SlotFreed()
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

// The frame of the oldest slot into `slot`, after the empty frames of the
// periods before it; false once a write has failed.
static bool WriteSlot(long slot, DWORD index)
{
    long position = W.counts.written + W.counts.empty;
    bool ok = true;
    for (; ok && position < slot; position++) {
        ok = WriteOutputFrame(*W.out, NULL, 0);
        EnterCriticalSection(&W.lock);
        W.counts.empty += ok;
        LeaveCriticalSection(&W.lock);
    }
    const BYTE *frame = Slot(index);
    ok = ok && WriteOutputFrame(*W.out, frame, W.bytes[index]);
    EnterCriticalSection(&W.lock);
    W.counts.written += ok;
    W.counts.bytes = OutputBytes(*W.out);
    W.counts.freeBytes = W.out->freeBytes;
    LeaveCriticalSection(&W.lock);
    if (ok && W.counts.written == 1 && W.options.png && SaveFramePng(W.options.png, W.header, frame))
        std::printf("capture: wrote %s\n", W.options.png);
    if (ok && W.options.stallMs && W.counts.written == static_cast<long>(1000 / W.options.periodMs + 0.5))
        Sleep(W.options.stallMs);
    return ok;
}

static DWORD WINAPI Write(LPVOID)
{
    Timeline timeline;
    StartTimeline(timeline, W.options.periodMs);
    std::vector<double> pending(W.options.slots);
    for (;;) {
        EnterCriticalSection(&W.lock);
        DWORD count = W.count, first = W.first;
        bool finishing = W.finishing, failed = W.counts.failed;
        for (DWORD i = 0; i < count; i++)
            pending[i] = W.estimates[(first + i) % W.options.slots];
        LeaveCriticalSection(&W.lock);
        if (!count) {
            if (finishing)
                return 0;
            WaitForSingleObject(W.queued, INFINITE);
            continue;
        }
        double from = PlaceableFrom(timeline, pending.data(), count, W.options.buffers), now = NowMs();
        if (!finishing && now < from) {
            WaitForSingleObject(W.queued, static_cast<DWORD>(from - now) + 1);
            continue;
        }
        long slot = PlaceFrame(timeline, pending.data(), count);
        bool ok = failed || WriteSlot(slot, first);
        EnterCriticalSection(&W.lock);
        W.counts.failed = !ok;
        W.first = (W.first + 1) % W.options.slots;
        W.count--;
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
    VirtualFree(W.block, 0, MEM_RELEASE);
    DeleteCriticalSection(&W.lock);
}
