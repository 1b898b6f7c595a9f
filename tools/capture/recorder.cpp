// The stream loop: the driver's stream from its init to its fini. Headers
// rotate between the driver and the writer: each frame the driver hands back
// goes to the writer's queue in its own header, and a free header goes to
// the driver in its place. A stream ends as the documented contract has it:
// stop, reset, the driver's buffers back (or its end, where it declines the
// reset), fini; MM_DRVM_CLOSE may come at the stop or at the fini, and a
// header handed back empty holds no frame. Device failures end the run
// before a file exists; a device that stops delivering, a failed write or a
// refused buffer ends it with the file kept whole.
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <vector>
#include "drivers.h"
#include "hold_clock.h"
#include "preview.h"
#include "recorder.h"
#include "timeline.h"
#include "writer.h"

// How long a driver may take to hand back its buffers once told to stop.
static const double EndWatchdogMs = 10000;

// A header the driver handed back, with when it came.
struct Arrival {
    VIDEOHDR *header;
    double ms, heldMs;
};

// What the driver has handed back, in order, for the stream loop, and what it holds.
static struct HandedBack {
    CRITICAL_SECTION lock;
    std::vector<Arrival> arrivals; // a ring with room for every header
    size_t first, count;
    double lastMs, lastHeldMs;     // the latest frame's arrival
    HANDLE ready, closed, userStop, filesClosed;
    std::atomic<long> held{0};     // headers the driver holds
    std::atomic<long> late{0};     // times the streaming driver was left without a header
    std::atomic<bool> ending{false};
} Handed;

void StopRecording()
{
    if (Handed.userStop)
        SetEvent(Handed.userStop);
}

void AwaitFilesClosed()
{
    if (Handed.filesClosed)
        WaitForSingleObject(Handed.filesClosed, INFINITE);
}

// On the driver's capture thread: the arrival is stamped here, where it is
// nearest to the capture.
static void CALLBACK OnStream(HDRVR, UINT message, DWORD_PTR, DWORD_PTR param, DWORD_PTR)
{
    if (message == MM_DRVM_DATA) {
        VIDEOHDR *header = reinterpret_cast<VIDEOHDR *>(param);
        double now = NowMs(), held = HeldMs(now);
        if (--Handed.held == 0 && !Handed.ending)
            Handed.late++;
        EnterCriticalSection(&Handed.lock);
        if (Handed.count < Handed.arrivals.size())
            Handed.arrivals[(Handed.first + Handed.count++) % Handed.arrivals.size()] = {header, now, held};
        if (header->dwBytesUsed) {
            Handed.lastMs = now;
            Handed.lastHeldMs = held;
        }
        LeaveCriticalSection(&Handed.lock);
        SetEvent(Handed.ready);
    } else if (message == MM_DRVM_CLOSE) {
        SetEvent(Handed.closed);
    }
}

// How long the device has been silent while this process ran.
static double SilenceMs(double now)
{
    double held = HeldMs(now);
    EnterCriticalSection(&Handed.lock);
    double silence = now - Handed.lastMs - (held - Handed.lastHeldMs);
    LeaveCriticalSection(&Handed.lock);
    return silence;
}

static size_t Pending()
{
    EnterCriticalSection(&Handed.lock);
    size_t count = Handed.count;
    LeaveCriticalSection(&Handed.lock);
    return count;
}

static bool NextArrival(Arrival &a)
{
    EnterCriticalSection(&Handed.lock);
    bool any = Handed.count > 0;
    if (any) {
        a = Handed.arrivals[Handed.first];
        Handed.first = (Handed.first + 1) % Handed.arrivals.size();
        Handed.count--;
    }
    LeaveCriticalSection(&Handed.lock);
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
    header->dwBytesUsed = 0;
    if (Handed.held++ == 0) {
        // A driver that held no buffer owes a frame from now on.
        double now = NowMs(), held = HeldMs(now);
        EnterCriticalSection(&Handed.lock);
        Handed.lastMs = now;
        Handed.lastHeldMs = held;
        LeaveCriticalSection(&Handed.lock);
    }
    if (DWORD error = Send(driver, DVM_STREAM_ADDBUFFER, reinterpret_cast<LPARAM>(header), sizeof *header)) {
        Handed.held--;
        PrintDriverError(driver, "the driver refused a capture buffer", error);
        return false;
    }
    return true;
}

// The driver gets free headers until it holds `buffers`; false when it refused one.
static bool TopUp(HDRVR driver, long buffers)
{
    while (Handed.held < buffers) {
        VIDEOHDR *header = TakeFreeHeader();
        if (!header)
            return true;
        if (!AddBuffer(driver, header)) {
            FreeHeader(header);
            return false;
        }
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

// As the capture layer (un)prepares headers: by the driver, or marked here
// where the driver leaves it to the layer.
static bool Prepare(HDRVR driver, VIDEOHDR *headers, DWORD count, bool prepare)
{
    for (DWORD i = 0; i < count; i++) {
        DWORD error = Send(driver, prepare ? DVM_STREAM_PREPAREHEADER : DVM_STREAM_UNPREPAREHEADER,
                           reinterpret_cast<LPARAM>(&headers[i]), sizeof *headers);
        if (error == DV_ERR_NOTSUPPORTED)
            headers[i].dwFlags = prepare ? headers[i].dwFlags | VHDR_PREPARED : headers[i].dwFlags & ~VHDR_PREPARED;
        else if (error && prepare) {
            PrintDriverError(driver, "the driver refused to prepare a capture buffer", error);
            return false;
        }
    }
    return true;
}

// Init, the headers prepared, the driver's buffers and the writer's spare
// headers, and start; false (with the driver's reason) before any file exists.
static bool StartStream(HDRVR driver, const RecordOptions &o, VIDEOHDR *headers, DWORD count)
{
    VIDEO_STREAM_INIT_PARMS init = {static_cast<DWORD>(1000000.0 * o.scale / o.rate),
                                    reinterpret_cast<DWORD_PTR>(OnStream), 0, CALLBACK_FUNCTION,
                                    reinterpret_cast<DWORD_PTR>(driver)};
    if (DWORD error = Send(driver, DVM_STREAM_INIT, reinterpret_cast<LPARAM>(&init), sizeof init)) {
        PrintDriverError(driver, "the device cannot start a stream", error);
        return false;
    }
    bool started = Prepare(driver, headers, count, true);
    for (DWORD i = 0; started && i < count; i++)
        if (i < o.buffers)
            started = AddBuffer(driver, &headers[i]);
        else
            FreeHeader(&headers[i]);
    if (started) {
        if (DWORD error = Send(driver, DVM_STREAM_START)) {
            PrintDriverError(driver, "the device cannot start capturing", error);
            started = false;
        }
    }
    if (!started) {
        Send(driver, DVM_STREAM_RESET);
        Send(driver, DVM_STREAM_FINI);
    }
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

// The frames the stream loop has taken.
struct Taken {
    long queued = 0;
    double firstEstimate = -1, lastEstimate = 0;
    Estimates estimates;
};

// A header handed back: its frame to the writer's queue, or, empty (a reset's)
// or not wanted any more, back to the free headers.
static void Take(Taken &t, const Arrival &a, const RecordOptions &o, double period, bool wanted)
{
    DWORD bytes = std::min(a.header->dwBytesUsed, a.header->dwBufferLength);
    if (!bytes || !wanted || (o.frames && static_cast<DWORD>(t.queued) >= o.frames)) {
        FreeHeader(a.header);
        return;
    }
    double estimate = CaptureEstimate(t.estimates, a.ms, a.heldMs, period);
    if (t.firstEstimate < 0)
        t.firstEstimate = estimate;
    t.lastEstimate = estimate;
    if (o.preview)
        OfferPreviewFrame(a.header->lpData);
    QueueFrame(a.header, bytes, estimate);
    t.queued++;
}

// The stream's end: stop, reset, the buffers back, fini. False when the
// driver never gave its buffers back (then it may still fill them).
static bool EndStream(HDRVR driver, Taken &t, const RecordOptions &o, double period, bool wanted, VIDEOHDR *headers,
                      DWORD count)
{
    Handed.ending = true;
    Send(driver, DVM_STREAM_STOP);
    const bool reset = Send(driver, DVM_STREAM_RESET) == DV_ERR_OK;
    const double since = NowMs();
    bool back = false;
    for (;;) {
        // The frame in progress at the stop is a frame; what a reset hands back is empty.
        Arrival a;
        while (NextArrival(a))
            Take(t, a, o, period, wanted);
        back = reset ? Handed.held == 0 : WaitForSingleObject(Handed.closed, 0) == WAIT_OBJECT_0;
        if (back || NowMs() - since > EndWatchdogMs)
            break;
        HANDLE waits[2] = {Handed.ready, Handed.closed};
        WaitForMultipleObjects(2, waits, FALSE, 50);
    }
    if (!back)
        std::fprintf(stderr, "\ncapture: the driver did not hand back its buffers\n");
    Prepare(driver, headers, count, false);
    Send(driver, DVM_STREAM_FINI);
    Arrival a;
    while (NextArrival(a))
        Take(t, a, o, period, false);
    return back;
}

int Record(HDRVR driver, const RecordOptions &o, const BITMAPINFOHEADER &h)
{
    const double period = 1000.0 * o.scale / o.rate, stallMs = std::max(1000.0, 10 * period);
    const DWORD count = o.buffers + o.queue;
    InitializeCriticalSection(&Handed.lock);
    Handed.arrivals.assign(count, Arrival{});
    Handed.first = Handed.count = 0;
    Handed.ready = CreateEventA(NULL, FALSE, FALSE, NULL);
    Handed.closed = CreateEventA(NULL, TRUE, FALSE, NULL);
    Handed.userStop = CreateEventA(NULL, TRUE, FALSE, NULL);
    Handed.filesClosed = CreateEventA(NULL, TRUE, FALSE, NULL);
    VIDEOHDR *headers = AllocateBuffers(count, h.biSizeImage);
    if (!headers)
        return 1;
    StartWriterQueue({count, o.buffers, period, o.rate, o.scale, o.png, o.stallWriterMs});
    StartHoldClock();
    // The window is up before the first frame comes: its opening holds up nothing.
    PreviewCounts counts;
    if (o.preview)
        StartPreview(h, &counts, Handed.userStop);
    const double start = NowMs();
    if (!StartStream(driver, o, headers, count)) {
        StopPreview();
        StopHoldClock();
        FinishWriter();
        SetEvent(Handed.filesClosed);
        return 1;
    }
    Output out;
    Taken t;
    StartEstimates(t.estimates, HeldMs(start));
    bool failed = !StartOutput(out, o.avi, o.segmentBytes, h, o.rate, o.scale) || !StartWriter(&out, h);

    bool stalled = false;
    for (double lastReport = start;;) {
        double now = NowMs();
        failed = failed || CountWriter().failed;
        if (failed || WaitForSingleObject(Handed.userStop, 0) == WAIT_OBJECT_0 ||
            (o.frames ? static_cast<DWORD>(t.queued) >= o.frames : now - start >= o.seconds * 1000))
            break;
        if (WaitForSingleObject(Handed.closed, 0) == WAIT_OBJECT_0 && !Pending()) {
            std::fprintf(stderr, "\ncapture: the driver ended the stream by itself after %ld frames\n", t.queued);
            stalled = failed = true;
            break;
        }
        // Only a driver that holds buffers owes frames, and only while this process runs.
        double silence = SilenceMs(now);
        if (Handed.held > 0 && silence > stallMs) {
            std::fprintf(stderr, "\ncapture: the device stopped delivering frames after %ld frames (none for %.1f s)\n",
                         t.queued, silence / 1000);
            stalled = failed = true;
            break;
        }
        if (!TopUp(driver, static_cast<long>(o.buffers))) {
            failed = true;
            break;
        }
        Arrival a;
        if (NextArrival(a)) {
            Take(t, a, o, period, true);
        } else {
            // A driver short of headers waits for the writer to free one.
            HANDLE waits[3] = {Handed.ready, HeaderFreed(), Handed.userStop};
            WaitForMultipleObjects(3, waits, FALSE, 50);
        }
        if (now - lastReport >= 500) {
            lastReport = now;
            WriterCounts c = CountWriter();
            counts.captured = c.written;
            counts.dropped = c.empty;
            PrintProgress(c, now - start);
        }
    }
    bool ended = EndStream(driver, t, o, period, !failed, headers, count);
    StopPreview();
    StopHoldClock();
    FinishWriter();
    WriterCounts c = CountWriter();
    failed = failed || c.failed || !ended;
    bool closed = CloseOutput(out);
    SetEvent(Handed.filesClosed);
    bool kept = closed && CheckOutput(out);
    // The time the frames cover, from the first frame's period to the last's.
    double covered = t.firstEstimate < 0 ? 0 : (t.lastEstimate - t.firstEstimate + period) / 1000;
    std::printf("\rcapture: %ld frames captured, %ld dropped (written empty), %ld buffers late, %.3f s recorded, "
                "%.2f ms of processor time a frame%s\n",
                c.written, c.empty, Handed.late.load(), covered, ProcessorMs() / std::max(c.written, 1L),
                WaitForSingleObject(Handed.userStop, 0) == WAIT_OBJECT_0 ? " (stopped)" : "");
    std::string files;
    for (const std::string &path : out.paths)
        files += (files.empty() ? "" : ", ") + path;
    if (!failed && kept)
        std::printf("capture: wrote %s (%.1f MB)\n", files.c_str(), OutputBytes(out) / 1048576.0);
    else if (!files.empty())
        std::fprintf(stderr, "capture: the recording %s; %s %s\n", stalled ? "ended early" : "failed",
                     kept ? "the frames before it are in" : "what could be kept is in", files.c_str());
    if (ended)
        VirtualFree(headers, 0, MEM_RELEASE); // else the driver may still fill them
    return failed || !kept ? 1 : 0;
}
