// capture: records video from the Brightvane 7K42Q through its capture driver,
// as the system's video-capture layer drives it (winmm OpenDriver, DVM_*
// messages), into an AVI file written with AVIFile; optionally saves the
// first frame as a PNG.
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <vector>
#include "vfwdrv.h"
#include "png.h"

static const char Usage[] =
    "usage: capture [options] OUT.avi\n"
    "  --format rgb15|rgb24|yuv422  colour space (default: the driver's current one)\n"
    "  --size WxH                   frame size (default: the driver's current one)\n"
    "  --buffers N                  capture buffers (4)\n"
    "  --seconds S | --frames N     how long to capture (3 seconds); Ctrl+C or Enter stops sooner\n"
    "  --png FILE                   also save the first frame as a PNG\n"
    "  --driver FILE                the capture driver (zentacap.dll)\n";

struct Options {
    DWORD format = 0, width = 0, height = 0, buffers = 4, frames = 0;
    double seconds = 3;
    const char *avi = NULL, *png = NULL, *driver = "zentacap.dll";
};

static bool Parse(int argc, char **argv, Options &o)
{
    for (int i = 1; i < argc; i++) {
        const char *a = argv[i], *v = i + 1 < argc ? argv[i + 1] : NULL;
        if (!std::strcmp(a, "--format") && v) {
            o.format = !std::strcmp(v, "rgb15") ? 2 : !std::strcmp(v, "rgb24") ? 3 : !std::strcmp(v, "yuv422") ? 1 : 0;
            if (!o.format) return false;
        } else if (!std::strcmp(a, "--size") && v) {
            if (std::sscanf(v, "%lux%lu", &o.width, &o.height) != 2) return false;
        } else if (!std::strcmp(a, "--buffers") && v) {
            o.buffers = std::strtoul(v, NULL, 10);
        } else if (!std::strcmp(a, "--seconds") && v) {
            o.seconds = std::atof(v);
        } else if (!std::strcmp(a, "--frames") && v) {
            o.frames = std::strtoul(v, NULL, 10);
        } else if (!std::strcmp(a, "--png") && v) {
            o.png = v;
        } else if (!std::strcmp(a, "--driver") && v) {
            o.driver = v;
        } else if (a[0] != '-' && !o.avi) {
            o.avi = a;
            continue;
        } else {
            return false;
        }
        i++;
    }
    return o.avi && o.buffers > 0 && o.buffers <= 1000;
}

// The frames the driver has handed back, in order, for the main thread.
static struct Returned {
    CRITICAL_SECTION lock;
    std::deque<VIDEOHDR *> headers;
    HANDLE ready, closed;
    std::atomic<long> queued{0}; // headers the driver holds
    std::atomic<long> late{0};   // times the driver was left without a header
} Back;

static std::atomic<bool> Interrupted{false};

static BOOL WINAPI OnConsoleControl(DWORD)
{
    Interrupted = true;
    SetEvent(Back.ready);
    return TRUE;
}

// Enter on the standard input ends a recording too (a line, not the end of
// the input): under Wine a Ctrl+C signal may end the process before the
// console handler runs.
static DWORD WINAPI WatchInput(LPVOID)
{
    int c;
    while ((c = std::getchar()) != EOF)
        if (c == '\n')
            return OnConsoleControl(CTRL_C_EVENT);
    return 0;
}

static void CALLBACK OnStream(HDRVR, UINT message, DWORD_PTR, DWORD_PTR header, DWORD_PTR)
{
    if (message == MM_DRVM_DATA) {
        if (--Back.queued == 0)
            Back.late++;
        EnterCriticalSection(&Back.lock);
        Back.headers.push_back(reinterpret_cast<VIDEOHDR *>(header));
        LeaveCriticalSection(&Back.lock);
        SetEvent(Back.ready);
    } else if (message == MM_DRVM_CLOSE) {
        SetEvent(Back.closed);
    }
}

static VIDEOHDR *NextReturned()
{
    EnterCriticalSection(&Back.lock);
    VIDEOHDR *header = NULL;
    if (!Back.headers.empty()) {
        header = Back.headers.front();
        Back.headers.pop_front();
    }
    LeaveCriticalSection(&Back.lock);
    return header;
}

// A driver message text: the driver's own where it has one.
static void PrintDriverError(HDRVR driver, const char *what, DWORD error)
{
    char text[256] = "";
    VIDEO_GETERRORTEXT_PARMS parms = {error, text, sizeof text};
    if (SendDriverMessage(driver, DVM_GETERRORTEXT, reinterpret_cast<LPARAM>(&parms), 0) != DV_ERR_OK) {
        const char *meaning = error == DV_ERR_BADFORMAT ? "the device cannot capture this format at its current zoom"
                            : error == DV_ERR_SIZEFIELD ? "a record of the wrong size"
                            : error == DV_ERR_NONSPECIFIC ? "the device refused the request"
                            : "";
        std::snprintf(text, sizeof text, "Video for Windows error %lu%s%s", error, *meaning ? ": " : "", meaning);
    }
    std::fprintf(stderr, "capture: %s: %s\n", what, text);
}

static HDRVR OpenCaptureChannel(const Options &o)
{
    WCHAR path[MAX_PATH];
    MultiByteToWideChar(CP_ACP, 0, o.driver, -1, path, MAX_PATH);
    VIDEO_OPEN_PARMS open = {sizeof open, mmioFOURCC('v', 'c', 'a', 'p'), 0, 0x0300, VIDEO_IN, ~0u, NULL, NULL, 0};
    HDRVR driver = OpenDriver(path, NULL, reinterpret_cast<LPARAM>(&open));
    if (driver)
        return driver;
    if (open.dwError == ~0u) {
        std::fprintf(stderr, "capture: driver not found: %s could not be loaded as a capture driver\n", o.driver);
    } else {
        // No channel is open to ask; the driver's own text comes from its string table.
        char text[256] = "the capture device was not detected";
        if (HMODULE module = LoadLibraryExA(o.driver, NULL, LOAD_LIBRARY_AS_DATAFILE)) {
            LoadStringA(module, 101, text, sizeof text);
            FreeLibrary(module);
        }
        std::fprintf(stderr, "capture: device not detected (error %lu): %s\n", open.dwError, text);
    }
    return NULL;
}

static bool NegotiateFormat(HDRVR driver, const Options &o, BITMAPINFOHEADER &h)
{
    VIDEOCONFIGPARMS get = {NULL, &h, sizeof h, NULL, 0};
    DWORD error = (DWORD)SendDriverMessage(driver, DVM_FORMAT, VIDEO_CONFIGURE_GET | VIDEO_CONFIGURE_CURRENT,
                                           reinterpret_cast<LPARAM>(&get));
    if (error) {
        PrintDriverError(driver, "cannot read the capture format", error);
        return false;
    }
    if (o.format || o.width) {
        BITMAPINFOHEADER want = h;
        DWORD format = o.format ? o.format : h.biCompression == BI_RGB ? (h.biBitCount == 32 ? 3 : 2) : 1;
        if (o.width) {
            want.biWidth = (LONG)o.width;
            want.biHeight = (LONG)o.height;
        }
        want.biCompression = format == 1 ? mmioFOURCC('Y', 'U', 'Y', '2') : BI_RGB;
        want.biBitCount = format == 3 ? 32 : 16;
        want.biSizeImage = (want.biBitCount * (DWORD)want.biWidth + 31) / 32 * 4 * (DWORD)want.biHeight;
        VIDEOCONFIGPARMS set = {NULL, &want, sizeof want, NULL, 0};
        error = (DWORD)SendDriverMessage(driver, DVM_FORMAT, VIDEO_CONFIGURE_SET, reinterpret_cast<LPARAM>(&set));
        if (error) {
            PrintDriverError(driver, "format refused", error);
            return false;
        }
        SendDriverMessage(driver, DVM_FORMAT, VIDEO_CONFIGURE_GET | VIDEO_CONFIGURE_CURRENT, reinterpret_cast<LPARAM>(&get));
    }
    return true;
}

// Frame rate of the user's video standard: 29.97 for NTSC-first labels, else 25.
static void FrameRate(DWORD *rate, DWORD *scale)
{
    DWORD standard = 0, size = sizeof standard, type = 0;
    HKEY key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\ORVANTA\\Multimedia\\Brightvane 7K42Q VideoIn", 0,
                      KEY_QUERY_VALUE, &key) == ERROR_SUCCESS) {
        if (RegQueryValueExA(key, "Source", NULL, &type, reinterpret_cast<BYTE *>(&standard), &size) != ERROR_SUCCESS ||
            type != REG_DWORD)
            standard = 0;
        RegCloseKey(key);
    }
    bool ntsc = standard == 1 || standard == 3;
    *rate = ntsc ? 30000 : 25;
    *scale = ntsc ? 1001 : 1;
}

static PAVISTREAM CreateVideoStream(PAVIFILE file, const BITMAPINFOHEADER &h)
{
    AVISTREAMINFOA info = {};
    info.fccType = streamtypeVIDEO;
    info.fccHandler = h.biCompression == BI_RGB ? mmioFOURCC('D', 'I', 'B', ' ') : h.biCompression;
    FrameRate(&info.dwRate, &info.dwScale);
    info.dwSuggestedBufferSize = h.biSizeImage;
    SetRect(&info.rcFrame, 0, 0, h.biWidth, h.biHeight);
    lstrcpyA(info.szName, "Brightvane 7K42Q VideoIn");
    PAVISTREAM stream = NULL;
    if (AVIFileCreateStreamA(file, &stream, &info) != 0)
        return NULL;
    if (AVIStreamSetFormat(stream, 0, const_cast<BITMAPINFOHEADER *>(&h), sizeof h) != 0) {
        AVIStreamRelease(stream);
        return NULL;
    }
    return stream;
}

// Streams into the AVI until the frame count or time is reached or Ctrl+C.
static int Record(HDRVR driver, const Options &o, const BITMAPINFOHEADER &h, PAVISTREAM stream)
{
    std::vector<std::vector<BYTE>> buffers(o.buffers, std::vector<BYTE>(h.biSizeImage));
    std::vector<VIDEOHDR> headers(o.buffers);
    VIDEO_STREAM_INIT_PARMS init = {0, reinterpret_cast<DWORD_PTR>(OnStream), 0, CALLBACK_FUNCTION,
                                    reinterpret_cast<DWORD_PTR>(driver)};
    if (DWORD error = (DWORD)SendDriverMessage(driver, DVM_STREAM_INIT, reinterpret_cast<LPARAM>(&init), sizeof init))
        PrintDriverError(driver, "the device did not restart its video", error);
    for (DWORD i = 0; i < o.buffers; i++) {
        headers[i] = VIDEOHDR{};
        headers[i].lpData = buffers[i].data();
        headers[i].dwBufferLength = h.biSizeImage;
        Back.queued++;
        SendDriverMessage(driver, DVM_STREAM_ADDBUFFER, reinterpret_cast<LPARAM>(&headers[i]), sizeof headers[i]);
    }
    SendDriverMessage(driver, DVM_STREAM_START, 0, 0);
    DWORD start = GetTickCount(), lastReport = start, limitMs = (DWORD)(o.seconds * 1000);
    long written = 0;
    bool stopping = false, failed = false;
    for (;;) {
        if (!stopping && (Interrupted || (o.frames ? (DWORD)written >= o.frames : GetTickCount() - start >= limitMs))) {
            SendDriverMessage(driver, DVM_STREAM_STOP, 0, 0);
            stopping = true;
        }
        VIDEOHDR *header = NextReturned();
        if (!header) {
            HANDLE waits[2] = {Back.ready, Back.closed};
            DWORD woke = WaitForMultipleObjects(2, waits, FALSE, 1000);
            if (woke == WAIT_OBJECT_0 + 1 && !(header = NextReturned()))
                break;
            if (woke == WAIT_TIMEOUT && stopping) {
                std::fprintf(stderr, "\ncapture: the driver did not end the stream\n");
                failed = true;
                break;
            }
            continue;
        }
        if ((!o.frames || (DWORD)written < o.frames) && !failed) {
            if (AVIStreamWrite(stream, written, 1, header->lpData, header->dwBytesUsed, AVIIF_KEYFRAME, NULL, NULL)) {
                std::fprintf(stderr, "\ncapture: cannot write to %s\n", o.avi);
                failed = true;
                Interrupted = true;
            } else if (written++ == 0 && o.png && SaveFramePng(o.png, h, static_cast<BYTE *>(header->lpData))) {
                std::printf("capture: wrote %s\n", o.png);
            }
        }
        if (!stopping) {
            header->dwFlags = 0;
            Back.queued++;
            SendDriverMessage(driver, DVM_STREAM_ADDBUFFER, reinterpret_cast<LPARAM>(header), sizeof *header);
        }
        DWORD now = GetTickCount();
        if (now - lastReport >= 500) {
            lastReport = now;
            std::printf("\rframes %ld, %.1f per second, buffers late %ld ", written,
                        written * 1000.0 / (now - start ? now - start : 1), Back.late.load());
            std::fflush(stdout);
        }
    }
    SendDriverMessage(driver, DVM_STREAM_FINI, 0, 0);
    DWORD elapsed = GetTickCount() - start;
    std::printf("\rframes %ld, %.1f per second, buffers late %ld%s\n", written,
                written * 1000.0 / (elapsed ? elapsed : 1), Back.late.load(), Interrupted ? " (stopped)" : "");
    return failed ? 1 : 0;
}

int main(int argc, char **argv)
{
    Options o;
    if (!Parse(argc, argv, o)) {
        std::fputs(Usage, stderr);
        return 2;
    }
    InitializeCriticalSection(&Back.lock);
    Back.ready = CreateEventA(NULL, FALSE, FALSE, NULL);
    Back.closed = CreateEventA(NULL, TRUE, FALSE, NULL);
    SetConsoleCtrlHandler(OnConsoleControl, TRUE);
    CloseHandle(CreateThread(NULL, 0, WatchInput, NULL, 0, NULL));

    HDRVR driver = OpenCaptureChannel(o);
    if (!driver)
        return 1;
    int result = 1;
    BITMAPINFOHEADER h;
    if (NegotiateFormat(driver, o, h)) {
        std::printf("capture: %ld x %ld, %s, %lu bytes a frame\n", h.biWidth, h.biHeight,
                    h.biCompression == BI_RGB ? (h.biBitCount == 32 ? "RGB 24 (32 bits)" : "RGB 15") : "YUV 422",
                    h.biSizeImage);
        AVIFileInit();
        PAVIFILE file = NULL;
        if (AVIFileOpenA(&file, o.avi, OF_CREATE | OF_WRITE, NULL) != 0) {
            std::fprintf(stderr, "capture: cannot create %s\n", o.avi);
        } else {
            if (PAVISTREAM stream = CreateVideoStream(file, h)) {
                result = Record(driver, o, h, stream);
                AVIStreamRelease(stream);
            } else {
                std::fprintf(stderr, "capture: cannot add a video stream to %s\n", o.avi);
            }
            AVIFileRelease(file);
            if (!result)
                std::printf("capture: wrote %s\n", o.avi);
        }
        AVIFileExit();
    }
    CloseDriver(driver, 0, 0);
    return result;
}
