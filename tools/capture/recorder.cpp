// The stream loop: the driver's stream (init, buffers, start, stop, fini),
// each returned buffer copied into the writer's queue and handed back at
// once. Device failures end the run before a file exists; a device that
// stops delivering, a failed write or a refused buffer ends it with the file
// kept whole.
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <vector>
#include "drivers.h"
#include "preview.h"
#include "recorder.h"
#include "timeline.h"
#include "writer.h"

// A header the driver handed back, with when it came.
struct Arrival {
    VIDEOHDR *header;
    double ms, heldMs;
};

// The headers the driver hands back, in order, for the stream loop.
static struct Returned {
    CRITICAL_SECTION lock;
    std::vector<Arrival> ring;     // one slot a buffer: never more are out
    size_t first, count;
    double lastMs, lastHeldMs;     // the latest arrival
    HANDLE ready, closed, userStop;
    std::atomic<long> held{0};     // headers the driver holds
    std::atomic<long> late{0};     // times the driver was left without a header
} Back;

void StopRecording()
{
    if (Back.userStop)
        SetEvent(Back.userStop);
}

// On the driver's capture thread: the arrival is stamped here, where it is
// nearest to the capture.
static void CALLBACK OnStream(HDRVR, UINT message, DWORD_PTR, DWORD_PTR header, DWORD_PTR)
{
    if (message == MM_DRVM_DATA) {
        double now = NowMs(), held = HeldMs(now);
        if (--Back.held == 0)
            Back.late++;
        EnterCriticalSection(&Back.lock);
        if (Back.count < Back.ring.size())
            Back.ring[(Back.first + Back.count++) % Back.ring.size()] = {reinterpret_cast<VIDEOHDR *>(header), now,
                                                                         held};
        Back.lastMs = now;
        Back.lastHeldMs = held;
        LeaveCriticalSection(&Back.lock);
        SetEvent(Back.ready);
    } else if (message == MM_DRVM_CLOSE) {
        SetEvent(Back.closed);
    }
}

// How long the device has been silent while this process ran.
static double SilenceMs(double now)
{
    double held = HeldMs(now);
    EnterCriticalSection(&Back.lock);
    double silence = now - Back.lastMs - (held - Back.lastHeldMs);
    LeaveCriticalSection(&Back.lock);
    return silence;
}

static size_t Returned()
{
    EnterCriticalSection(&Back.lock);
    size_t count = Back.count;
    LeaveCriticalSection(&Back.lock);
    return count;
}

static bool NextReturned(Arrival &a)
{
    EnterCriticalSection(&Back.lock);
    bool any = Back.count > 0;
    if (any) {
        a = Back.ring[Back.first];
        Back.first = (Back.first + 1) % Back.ring.size();
        Back.count--;
    }
    LeaveCriticalSection(&Back.lock);
    return any;
}

// The processor time this process has used, the capture thread's included.
static double ProcessorMs()
{
    FILETIME created, exited, kernel, user;
    if (!GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user))
        return 0;
    auto ms = [](FILETIME t) { return ((static_cast<ULONGLONG>(t.dwHighDateTime) << 32) | t.dwLowDateTime) / 1e4; };
    return ms(kernel) + ms(user);
}

static DWORD Send(HDRVR driver, UINT message, LPARAM lParam1 = 0, LPARAM lParam2 = 0)
{
    return static_cast<DWORD>(SendDriverMessage(driver, message, lParam1, lParam2));
}

static bool AddBuffer(HDRVR driver, VIDEOHDR *header)
{
    header->dwFlags &= VHDR_PREPARED;
    if (Back.held++ == 0) {
        // A driver that held no buffer owes a frame from now on.
        double now = NowMs(), held = HeldMs(now);
        EnterCriticalSection(&Back.lock);
        Back.lastMs = now;
        Back.lastHeldMs = held;
        LeaveCriticalSection(&Back.lock);
    }
    if (DWORD error = Send(driver, DVM_STREAM_ADDBUFFER, reinterpret_cast<LPARAM>(header), sizeof *header)) {
        Back.held--;
        PrintDriverError(driver, "the driver refused a capture buffer", error);
        return false;
    }
    return true;
}

// Headers and buffers in one block, which a stream that never ends keeps.
static VIDEOHDR *AllocateBuffers(DWORD count, DWORD size)
{
    ULONGLONG headerBytes = (static_cast<ULONGLONG>(count) * sizeof(VIDEOHDR) + 15) & ~15ull;
    ULONGLONG total = headerBytes + static_cast<ULONGLONG>(count) * size;
    BYTE *block = total == static_cast<SIZE_T>(total)
                      ? static_cast<BYTE *>(VirtualAlloc(NULL, static_cast<SIZE_T>(total), MEM_COMMIT, PAGE_READWRITE))
                      : NULL;
    if (!block) {
        std::fprintf(stderr, "capture: no memory for %lu buffers of %lu bytes (%llu MB)\n", count, size, total >> 20);
        return NULL;
    }
    // Touched now, so that the stream's first frames do not wait for the pages.
    ZeroMemory(block, static_cast<SIZE_T>(total));
    VIDEOHDR *headers = reinterpret_cast<VIDEOHDR *>(block);
    for (DWORD i = 0; i < count; i++) {
        headers[i] = VIDEOHDR{};
        headers[i].lpData = block + headerBytes + static_cast<SIZE_T>(i) * size;
        headers[i].dwBufferLength = size;
    }
    return headers;
}

// Init, the buffers and start; false (with the driver's reason) before any file exists.
static bool StartStream(HDRVR driver, const RecordOptions &o, VIDEOHDR *headers)
{
    VIDEO_STREAM_INIT_PARMS init = {static_cast<DWORD>(1000000.0 * o.scale / o.rate),
                                    reinterpret_cast<DWORD_PTR>(OnStream), 0, CALLBACK_FUNCTION,
                                    reinterpret_cast<DWORD_PTR>(driver)};
    if (DWORD error = Send(driver, DVM_STREAM_INIT, reinterpret_cast<LPARAM>(&init), sizeof init)) {
        PrintDriverError(driver, "the device cannot start a stream", error);
        return false;
    }
    bool started = true;
    // As the capture layer prepares headers: by the driver, or marked here
    // where the driver leaves it to the layer.
    for (DWORD i = 0; started && i < o.buffers; i++) {
        DWORD error = Send(driver, DVM_STREAM_PREPAREHEADER, reinterpret_cast<LPARAM>(&headers[i]), sizeof *headers);
        if (error == DV_ERR_NOTSUPPORTED)
            headers[i].dwFlags |= VHDR_PREPARED;
        else if (error)
            PrintDriverError(driver, "the driver refused to prepare a capture buffer", error);
        started = !error || error == DV_ERR_NOTSUPPORTED;
    }
    for (DWORD i = 0; started && i < o.buffers; i++)
        started = AddBuffer(driver, &headers[i]);
    if (started) {
        if (DWORD error = Send(driver, DVM_STREAM_START)) {
            PrintDriverError(driver, "the device cannot start capturing", error);
            started = false;
        }
    }
    if (!started)
        Send(driver, DVM_STREAM_FINI);
    return started;
}

static void PrintDuration(char *text, size_t size, double seconds)
{
    unsigned long s = static_cast<unsigned long>(seconds);
    std::snprintf(text, size, "%lu:%02lu:%02lu", s / 3600, s / 60 % 60, s % 60);
}

// Elapsed time, frames, dropped, MB written, data rate, free space, time left.
static void PrintProgress(const WriterCounts &c, double elapsedMs)
{
    double seconds = std::max(elapsedMs / 1000, 0.001), rate = c.bytes / seconds;
    char elapsed[24], left[24] = "-";
    PrintDuration(elapsed, sizeof elapsed, seconds);
    if (rate > 0 && c.freeBytes != ~0ull)
        PrintDuration(left, sizeof left, c.freeBytes / rate);
    std::printf("\r%s  frames %ld, dropped %ld, %.1f MB, %.2f MB/s, %.1f GB free, %s left ", elapsed, c.written,
                c.empty, c.bytes / 1048576.0, rate / 1048576.0,
                c.freeBytes == ~0ull ? 0.0 : c.freeBytes / 1073741824.0, left);
    std::fflush(stdout);
}

// The recording's state in the stream loop.
struct Loop {
    long queued = 0;
    double firstEstimate = -1, lastEstimate = 0, previousHeld = 0;
    bool failed = false;
};

// Copies a returned frame into the writer's queue (the slot is free).
static void QueueArrival(Loop &l, const Arrival &a, BYTE *slot, const RecordOptions &o)
{
    double estimate = CaptureEstimate(a.ms, a.heldMs, l.previousHeld);
    l.previousHeld = a.heldMs;
    if (l.firstEstimate < 0)
        l.firstEstimate = estimate;
    l.lastEstimate = estimate;
    DWORD bytes = std::min(a.header->dwBytesUsed, a.header->dwBufferLength);
    CopyMemory(slot, a.header->lpData, bytes);
    QueueFrame(bytes, estimate);
    l.queued++;
    if (o.preview)
        OfferPreviewFrame(a.header->lpData);
}

int Record(HDRVR driver, const RecordOptions &o, const BITMAPINFOHEADER &h)
{
    const double period = 1000.0 * o.scale / o.rate, stallMs = std::max(1000.0, 10 * period);
    InitializeCriticalSection(&Back.lock);
    Back.ring.assign(o.buffers, Arrival{});
    Back.first = Back.count = 0;
    Back.ready = CreateEventA(NULL, FALSE, FALSE, NULL);
    Back.closed = CreateEventA(NULL, TRUE, FALSE, NULL);
    Back.userStop = CreateEventA(NULL, TRUE, FALSE, NULL);
    WriterOptions w = {o.queue, h.biSizeImage, o.buffers, period, o.png, o.stallWriterMs};
    if (!AllocateWriter(w))
        return 1;
    VIDEOHDR *headers = AllocateBuffers(o.buffers, h.biSizeImage);
    if (!headers) {
        FinishWriter();
        return 1;
    }
    StartHoldClock();
    // The window is up before the first frame comes: its opening holds up nothing.
    PreviewCounts counts;
    if (o.preview)
        StartPreview(h, &counts, Back.userStop);
    const double start = NowMs();
    if (!StartStream(driver, o, headers)) {
        StopPreview();
        StopHoldClock();
        FinishWriter();
        return 1;
    }
    Output out;
    Loop l;
    l.previousHeld = HeldMs(start);
    l.failed = !StartOutput(out, o.avi, o.segmentBytes, h, o.rate, o.scale) || !StartWriter(&out, h);

    double stopTime = 0, lastReport = start;
    bool stopping = false, stalled = false, ended = true;
    for (;;) {
        double now = NowMs();
        l.failed = l.failed || CountWriter().failed;
        if (!stopping) {
            bool done = l.failed || WaitForSingleObject(Back.userStop, 0) == WAIT_OBJECT_0 ||
                        (o.frames ? static_cast<DWORD>(l.queued) >= o.frames : now - start >= o.seconds * 1000);
            if (!done && WaitForSingleObject(Back.closed, 0) == WAIT_OBJECT_0 && !Returned()) {
                std::fprintf(stderr, "\ncapture: the driver ended the stream by itself after %ld frames\n", l.queued);
                stalled = l.failed = done = true;
            }
            // Only a driver that holds buffers owes frames, and only while this process runs.
            double silence = SilenceMs(now);
            if (!done && Back.held > 0 && silence > stallMs) {
                std::fprintf(stderr, "\ncapture: the device stopped delivering frames after %ld frames "
                             "(none for %.1f s)\n", l.queued, silence / 1000);
                stalled = l.failed = done = true;
            }
            if (done) {
                Send(driver, DVM_STREAM_STOP);
                stopping = true;
                stopTime = now;
            }
        }
        BYTE *slot = Returned() ? FreeSlot() : NULL;
        Arrival a = {};
        bool got = slot && NextReturned(a);
        bool closed = WaitForSingleObject(Back.closed, 0) == WAIT_OBJECT_0;
        if (!got && stopping) {
            // The close comes after the stream's last frame: look once more after seeing it.
            if (closed && !Returned())
                break;
            if (!closed && now - stopTime > 5000) {
                std::fprintf(stderr, "\ncapture: the driver did not end the stream\n");
                l.failed = true;
                ended = false;
                break;
            }
        }
        if (!got) {
            // A full queue waits for the writer; the close and the user's stop stay signalled.
            HANDLE waits[3] = {Returned() ? SlotFreed() : Back.ready, Back.closed, Back.userStop};
            WaitForMultipleObjects(closed ? 1 : stopping ? 2 : 3, waits, FALSE, 50);
            continue;
        }
        if (!l.failed && (!o.frames || static_cast<DWORD>(l.queued) < o.frames))
            QueueArrival(l, a, slot, o);
        if (!stopping && !l.failed && !AddBuffer(driver, a.header))
            l.failed = true;
        if (now - lastReport >= 500) {
            lastReport = now;
            WriterCounts c = CountWriter();
            counts.captured = c.written;
            counts.dropped = c.empty;
            PrintProgress(c, now - start);
        }
    }
    Send(driver, DVM_STREAM_FINI);
    StopPreview();
    StopHoldClock();
    FinishWriter();
    WriterCounts c = CountWriter();
    l.failed = l.failed || c.failed;
    bool kept = CloseOutput(out);
    // The time the frames cover, from the first frame's period to the last's.
    double covered = l.firstEstimate < 0 ? 0 : (l.lastEstimate - l.firstEstimate + period) / 1000;
    std::printf("\rcapture: %ld frames captured, %ld dropped (written empty), %ld buffers late, %.3f s recorded, "
                "%.2f ms of processor time a frame%s\n",
                c.written, c.empty, Back.late.load(), covered, ProcessorMs() / std::max(c.written, 1L),
                WaitForSingleObject(Back.userStop, 0) == WAIT_OBJECT_0 ? " (stopped)" : "");
    std::string files;
    for (const std::string &path : out.paths)
        files += (files.empty() ? "" : ", ") + path;
    if (!l.failed && kept)
        std::printf("capture: wrote %s (%.1f MB)\n", files.c_str(), OutputBytes(out) / 1048576.0);
    else if (!files.empty())
        std::fprintf(stderr, "capture: the recording %s; %s %s\n", stalled ? "ended early" : "failed",
                     kept ? "the frames before it are in" : "what could be kept is in", files.c_str());
    if (ended)
        VirtualFree(headers, 0, MEM_RELEASE); // else the stream may still fill them
    return l.failed || !kept ? 1 : 0;
}
