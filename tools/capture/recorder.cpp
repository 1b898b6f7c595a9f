// The recording loop: the driver's stream (init, buffers, start, stop, fini)
// into the AVI segments. Device failures end the run before a file exists;
// a device that stops delivering, a failed write or a refused buffer ends it
// with the file kept whole; frame periods that pass without a frame become
// empty frames, so the file plays as long as the recording took.
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <vector>
#include "drivers.h"
#include "png.h"
#include "preview.h"
#include "recorder.h"
#include "segments.h"

// The headers the driver hands back, in order, for the recording loop.
static struct Returned {
    CRITICAL_SECTION lock;
    std::vector<VIDEOHDR *> ring;  // one slot a buffer: never more are out
    size_t first, count;
    HANDLE ready, closed, userStop;
    std::atomic<long> held{0};     // headers the driver holds
    std::atomic<long> late{0};     // times the driver was left without a header
} Back;

void StopRecording()
{
    if (Back.userStop)
        SetEvent(Back.userStop);
}

static void CALLBACK OnStream(HDRVR, UINT message, DWORD_PTR, DWORD_PTR header, DWORD_PTR)
{
    if (message == MM_DRVM_DATA) {
        if (--Back.held == 0)
            Back.late++;
        EnterCriticalSection(&Back.lock);
        if (Back.count < Back.ring.size())
            Back.ring[(Back.first + Back.count++) % Back.ring.size()] = reinterpret_cast<VIDEOHDR *>(header);
        LeaveCriticalSection(&Back.lock);
        SetEvent(Back.ready);
    } else if (message == MM_DRVM_CLOSE) {
        SetEvent(Back.closed);
    }
}

// Headers handed back and not yet taken.
static size_t Returned()
{
    EnterCriticalSection(&Back.lock);
    size_t count = Back.count;
    LeaveCriticalSection(&Back.lock);
    return count;
}

static VIDEOHDR *NextReturned()
{
    VIDEOHDR *header = NULL;
    EnterCriticalSection(&Back.lock);
    if (Back.count) {
        header = Back.ring[Back.first];
        Back.first = (Back.first + 1) % Back.ring.size();
        Back.count--;
    }
    LeaveCriticalSection(&Back.lock);
    return header;
}

static double NowMs()
{
    static LARGE_INTEGER frequency;
    if (!frequency.QuadPart)
        QueryPerformanceFrequency(&frequency);
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return now.QuadPart * 1000.0 / frequency.QuadPart;
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
    header->dwFlags = 0;
    Back.held++;
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
    SIZE_T headerBytes = (count * sizeof(VIDEOHDR) + 15) & ~static_cast<SIZE_T>(15);
    BYTE *block = static_cast<BYTE *>(VirtualAlloc(NULL, headerBytes + static_cast<SIZE_T>(count) * size,
                                                   MEM_COMMIT, PAGE_READWRITE));
    if (!block) {
        std::fprintf(stderr, "capture: no memory for %lu buffers of %lu bytes\n", count, size);
        return NULL;
    }
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

struct Progress {
    long captured = 0, dropped = 0;
    long gapEnd = -1; // the slot of a frame that ended missed periods, until they are written
    bool failed = false;
};

// Empty frames, one for each period before `slot` not yet in the file.
static bool WriteEmptyUntil(AviSegments &segments, Progress &p, long slot, PreviewCounts &counts)
{
    for (long position = p.captured + p.dropped; position < slot; position++) {
        if (!WriteSegmentFrame(segments, NULL, 0)) {
            p.failed = true;
            return false;
        }
        counts.dropped = ++p.dropped;
    }
    return true;
}

// Writes the frame on the stream's clock, periods that passed without a frame
// as empty frames. A frame that ends such periods was most likely filled when
// they began (the client fell behind, and what the driver had filled comes at
// once), so it goes first and the empty frames come before the next frame, up
// to that frame's slot: the frames that arrive together fill the gap's slots.
static void WriteFrame(AviSegments &segments, Progress &p, const VIDEOHDR &header, long slot,
                       const RecordOptions &o, const BITMAPINFOHEADER &h, PreviewCounts &counts)
{
    if (p.gapEnd >= 0) {
        p.gapEnd = -1;
        if (!WriteEmptyUntil(segments, p, slot, counts))
            return;
    } else if (slot > p.captured + p.dropped) {
        p.gapEnd = slot;
    }
    if (!WriteSegmentFrame(segments, header.lpData, header.dwBytesUsed)) {
        p.failed = true;
        return;
    }
    counts.captured = ++p.captured;
    if (p.captured == 1 && o.png && SaveFramePng(o.png, h, header.lpData))
        std::printf("capture: wrote %s\n", o.png);
    if (o.preview)
        OfferPreviewFrame(header.lpData);
}

int Record(HDRVR driver, const RecordOptions &o, const BITMAPINFOHEADER &h)
{
    InitializeCriticalSection(&Back.lock);
    Back.ring.assign(o.buffers, NULL);
    Back.first = Back.count = 0;
    Back.ready = CreateEventA(NULL, FALSE, FALSE, NULL);
    Back.closed = CreateEventA(NULL, TRUE, FALSE, NULL);
    Back.userStop = CreateEventA(NULL, TRUE, FALSE, NULL);
    VIDEOHDR *headers = AllocateBuffers(o.buffers, h.biSizeImage);
    if (!headers || !StartStream(driver, o, headers))
        return 1;
    AviSegments segments;
    Progress p;
    PreviewCounts counts;
    p.failed = !StartSegments(segments, o.avi, o.segmentBytes, h, o.rate, o.scale);
    if (o.preview && !p.failed)
        StartPreview(h, &counts, Back.userStop);

    const double period = 1000.0 * o.scale / o.rate, stallMs = std::max(1000.0, 10 * period);
    const double start = NowMs();
    double lastFrame = start, firstFrame = -1, lastWritten = 0, stopTime = 0, lastReport = start;
    bool stopping = false, stalled = false, ended = true;
    for (;;) {
        double now = NowMs();
        if (!stopping) {
            bool done = p.failed || WaitForSingleObject(Back.userStop, 0) == WAIT_OBJECT_0 ||
                        (o.frames ? static_cast<DWORD>(p.captured) >= o.frames : now - start >= o.seconds * 1000);
            if (!done && WaitForSingleObject(Back.closed, 0) == WAIT_OBJECT_0 && !Returned()) {
                std::fprintf(stderr, "\ncapture: the driver ended the stream by itself after %ld frames\n",
                             p.captured);
                stalled = p.failed = done = true;
            }
            // Only a driver that holds buffers owes frames.
            if (!done && Back.held > 0 && now - lastFrame > stallMs) {
                std::fprintf(stderr, "\ncapture: the device stopped delivering frames after %ld frames "
                             "(none for %.1f s)\n", p.captured, (now - lastFrame) / 1000);
                stalled = p.failed = done = true;
            }
            if (done) {
                Send(driver, DVM_STREAM_STOP);
                stopping = true;
                stopTime = now;
            }
        }
        VIDEOHDR *header = NextReturned();
        if (!header && stopping) {
            // The close comes after the stream's last frame: look once more after seeing it.
            if (WaitForSingleObject(Back.closed, 0) == WAIT_OBJECT_0 && !(header = NextReturned()))
                break;
            if (!header && now - stopTime > 5000) {
                std::fprintf(stderr, "\ncapture: the driver did not end the stream\n");
                p.failed = true;
                ended = false;
                break;
            }
        }
        if (!header) {
            HANDLE waits[3] = {Back.ready, Back.closed, Back.userStop};
            WaitForMultipleObjects(stopping ? 2 : 3, waits, FALSE, 50); // the user's stop stays signalled
            continue;
        }
        lastFrame = now;
        if (!p.failed && (!o.frames || static_cast<DWORD>(p.captured) < o.frames)) {
            if (firstFrame < 0)
                firstFrame = now;
            WriteFrame(segments, p, *header, static_cast<long>((now - firstFrame) / period + 0.5), o, h, counts);
            lastWritten = now;
        }
        if (!stopping && !p.failed && !AddBuffer(driver, header))
            p.failed = true;
        if (now - lastReport >= 500) {
            lastReport = now;
            std::printf("\rframes %ld, dropped %ld, %.1f per second, buffers late %ld ", p.captured, p.dropped,
                        p.captured * 1000.0 / std::max(now - start, 1.0), Back.late.load());
            std::fflush(stdout);
        }
    }
    Send(driver, DVM_STREAM_FINI);
    StopPreview();
    if (p.gapEnd >= 0 && !p.failed)
        WriteEmptyUntil(segments, p, p.gapEnd + 1, counts); // the periods the last frame ended
    bool kept = CloseSegments(segments);
    // The time the frames cover, from the first frame's period to the last's.
    double covered = firstFrame < 0 ? 0 : (lastWritten - firstFrame + period) / 1000;
    std::printf("\rcapture: %ld frames captured, %ld dropped (written empty), %ld buffers late, %.3f s recorded, "
                "%.2f ms of processor time a frame%s\n",
                p.captured, p.dropped, Back.late.load(), covered, ProcessorMs() / std::max(p.captured, 1L),
                WaitForSingleObject(Back.userStop, 0) == WAIT_OBJECT_0 ? " (stopped)" : "");
    std::string files;
    for (const std::string &path : segments.paths)
        files += (files.empty() ? "" : ", ") + path;
    if (!p.failed && kept)
        std::printf("capture: wrote %s\n", files.c_str());
    else if (!files.empty())
        std::fprintf(stderr, "capture: the recording %s; %s %s\n", stalled ? "ended early" : "failed",
                     kept ? "the frames before it are in" : "what could be kept is in", files.c_str());
    if (ended)
        VirtualFree(headers, 0, MEM_RELEASE); // else the stream may still fill them
    return p.failed || !kept ? 1 : 0;
}
