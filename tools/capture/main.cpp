// capture: records video from the Brightvane 7K42Q through its capture driver,
// as the system's video-capture layer drives it (winmm OpenDriver, DVM_*
// messages), into one OpenDML file or AVI 1.0 segments; optionally shows the
// live picture, the driver's own dialogs, and saves the first frame as a PNG.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>
#include "drivers.h"
#include "output.h"
#include "recorder.h"

static const char Usage[] =
    "usage: capture [options] OUT.avi | capture --list\n"
    "  --format rgb15|rgb24|yuv422  colour space (default: the driver's current one)\n"
    "  --size WxH                   frame size (default: the driver's current one)\n"
    "  --buffers N                  capture buffers (half a second of frames)\n"
    "  --fps RATE                   frame rate, such as 25 or 30000/1001 (our board's: its\n"
    "                               video standard; another driver's: 25)\n"
    "  --seconds S | --frames N     how long to capture (3 seconds); Enter, Ctrl+C or closing\n"
    "                               the preview stops sooner\n"
    "  --segment-mb N               AVI 1.0 files instead of one OpenDML file: a new one\n"
    "                               (OUT.001.avi, ...) before one reaches N MiB (at most 2047)\n"
    "  --preview                    show the live picture in a window\n"
    "  --dialog source|format       show the driver's Source or Format dialog first; OK keeps\n"
    "                               its settings (as the driver stores them)\n"
    "  --png FILE                   also save the first frame as a PNG\n"
    "  --driver FILE | --device N   the capture driver: a file (zentacap.dll), or the Nth\n"
    "                               installed one (see --list)\n"
    "  --list                       list the installed capture drivers\n"
    "  --stall-writer MS            the writer stops once for MS ms, after a second of frames\n"
    "                               (a disk that stalls)\n";

struct Options {
    DWORD format = 0, width = 0, height = 0, frames = 0, buffers = 0, segmentMb = 0, rate = 0, scale = 1,
          stallWriterMs = 0;
    double seconds = 3;
    int device = -1;
    bool list = false, preview = false;
    std::vector<DWORD> dialogs; // channel types, in the order asked
    const char *avi = NULL, *png = NULL, *driver = "zentacap.dll";
};

// "25", "30000/1001" or "29.97" as a rate and scale.
static bool ParseRate(const char *text, DWORD &rate, DWORD &scale)
{
    unsigned long n = 0, d = 1;
    char rest = 0;
    if (std::sscanf(text, "%lu/%lu%c", &n, &d, &rest) == 2 || std::sscanf(text, "%lu%c", &n, &rest) == 1) {
        rate = n;
        scale = d;
    } else {
        double fps = std::atof(text);
        rate = static_cast<DWORD>(fps * 1000 + 0.5);
        scale = 1000;
    }
    return rate > 0 && scale > 0 && rate <= 1000ull * scale && rate >= scale / 100;
}

static bool Parse(int argc, char **argv, Options &o)
{
    for (int i = 1; i < argc; i++) {
        const char *a = argv[i], *v = i + 1 < argc ? argv[i + 1] : NULL;
        if (!std::strcmp(a, "--list")) {
            o.list = true;
            continue;
        } else if (!std::strcmp(a, "--preview")) {
            o.preview = true;
            continue;
        } else if (!std::strcmp(a, "--format") && v) {
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
        } else if (!std::strcmp(a, "--segment-mb") && v) {
            o.segmentMb = std::strtoul(v, NULL, 10);
            if (o.segmentMb < 1 || o.segmentMb > SEGMENT_MB_MAX) return false;
        } else if (!std::strcmp(a, "--fps") && v) {
            if (!ParseRate(v, o.rate, o.scale)) return false;
        } else if (!std::strcmp(a, "--stall-writer") && v) {
            o.stallWriterMs = std::strtoul(v, NULL, 10);
        } else if (!std::strcmp(a, "--dialog") && v) {
            if (std::strcmp(v, "source") && std::strcmp(v, "format")) return false;
            o.dialogs.push_back(!std::strcmp(v, "source") ? VIDEO_EXTERNALIN : VIDEO_IN);
        } else if (!std::strcmp(a, "--png") && v) {
            o.png = v;
        } else if (!std::strcmp(a, "--driver") && v) {
            o.driver = v;
        } else if (!std::strcmp(a, "--device") && v) {
            o.device = std::atoi(v);
        } else if (a[0] != '-' && !o.avi) {
            o.avi = a;
            continue;
        } else {
            return false;
        }
        i++;
    }
    return o.list || (o.avi && o.buffers <= 1000);
}

static int ListDrivers()
{
    std::vector<InstalledDriver> drivers = ListCaptureDrivers();
    if (drivers.empty())
        std::printf("capture: no capture drivers are installed\n");
    for (const InstalledDriver &d : drivers)
        std::printf("%d  %-14s %s\n", d.slot, d.file.c_str(), d.description.c_str());
    return 0;
}

// Closing the console, logging off and shutting down end the process as soon
// as this returns: it returns once the recording's files are closed.
static BOOL WINAPI OnConsoleControl(DWORD event)
{
    StopRecording();
    if (event == CTRL_CLOSE_EVENT || event == CTRL_LOGOFF_EVENT || event == CTRL_SHUTDOWN_EVENT)
        AwaitFilesClosed();
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

// The driver's own dialog of a channel through DVM_DIALOG; the Source dialog
// needs its own channel, opened beside the capture channel.
static bool ShowDriverDialog(HDRVR capture, const std::string &file, DWORD channel)
{
    HDRVR driver = channel == VIDEO_IN ? capture : OpenCaptureChannel(file, channel);
    if (!driver)
        return false;
    DWORD error = static_cast<DWORD>(SendDriverMessage(driver, DVM_DIALOG, 0, VIDEO_DLG_QUERY));
    if (!error)
        error = static_cast<DWORD>(SendDriverMessage(driver, DVM_DIALOG, 0, 0));
    if (error)
        PrintDriverError(driver, channel == VIDEO_IN ? "no Format dialog" : "no Source dialog", error);
    if (driver != capture)
        CloseDriver(driver, 0, 0);
    return !error;
}

static DWORD SendFormat(HDRVR driver, DWORD flags, BITMAPINFOHEADER *h)
{
    VIDEOCONFIGPARMS parms = {NULL, h, sizeof *h, NULL, 0};
    return static_cast<DWORD>(SendDriverMessage(driver, DVM_FORMAT, flags, reinterpret_cast<LPARAM>(&parms)));
}

static bool NegotiateFormat(HDRVR driver, const Options &o, BITMAPINFOHEADER &h)
{
    if (DWORD error = SendFormat(driver, VIDEO_CONFIGURE_GET | VIDEO_CONFIGURE_CURRENT, &h)) {
        PrintDriverError(driver, "cannot read the capture format", error);
        return false;
    }
    if (!o.format && !o.width)
        return true;
    BITMAPINFOHEADER want = h;
    DWORD format = o.format ? o.format : h.biCompression == BI_RGB ? (h.biBitCount == 32 ? 3 : 2) : 1;
    if (o.width) {
        want.biWidth = static_cast<LONG>(o.width);
        want.biHeight = static_cast<LONG>(o.height);
    }
    want.biCompression = format == 1 ? mmioFOURCC('Y', 'U', 'Y', '2') : BI_RGB;
    want.biBitCount = format == 3 ? 32 : 16;
    ULONGLONG bytes = (want.biBitCount * static_cast<ULONGLONG>(o.width ? o.width : want.biWidth) + 31) / 32 * 4 *
                      (o.height ? o.height : static_cast<ULONGLONG>(want.biHeight));
    if (bytes > 0xFFFFFFFFull) {
        std::fprintf(stderr, "capture: frames of %lu x %lu do not fit in a buffer\n", o.width, o.height);
        return false;
    }
    want.biSizeImage = static_cast<DWORD>(bytes);
    if (DWORD error = SendFormat(driver, VIDEO_CONFIGURE_SET, &want)) {
        PrintDriverError(driver, "format refused (the Format dialog, --dialog format, sets size and zoom)", error);
        return false;
    }
    if (DWORD error = SendFormat(driver, VIDEO_CONFIGURE_GET | VIDEO_CONFIGURE_CURRENT, &h)) {
        PrintDriverError(driver, "cannot read the capture format", error);
        return false;
    }
    return true;
}

// Our board's rate is that of the user's video standard: 29.97 for
// NTSC-first labels, else 25. Another driver's is not known: 25.
static void FrameRate(const std::string &file, DWORD *rate, DWORD *scale)
{
    DWORD standard = 0, size = sizeof standard, type = 0;
    HKEY key;
    *rate = 25;
    *scale = 1;
    size_t slash = file.find_last_of("\\/:");
    if (lstrcmpiA(file.c_str() + (slash == std::string::npos ? 0 : slash + 1), "zentacap.dll"))
        return;
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

int main(int argc, char **argv)
{
    Options o;
    if (!Parse(argc, argv, o)) {
        std::fputs(Usage, stderr);
        return 2;
    }
    if (o.list)
        return ListDrivers();
    std::string file = o.driver;
    if (o.device >= 0 && !DriverOfSlot(o.device, file))
        return 1;
    SetConsoleCtrlHandler(OnConsoleControl, TRUE);
    CloseHandle(CreateThread(NULL, 0, WatchInput, NULL, 0, NULL));

    HDRVR driver = OpenCaptureChannel(file, VIDEO_IN);
    if (!driver)
        return 1;
    int result = 1;
    bool dialogsShown = true;
    for (DWORD channel : o.dialogs)
        dialogsShown = dialogsShown && ShowDriverDialog(driver, file, channel);
    BITMAPINFOHEADER h;
    if (dialogsShown && NegotiateFormat(driver, o, h)) {
        // biSizeImage may be 0 for BI_RGB: the size follows from the rest.
        if (h.biSizeImage == 0 && h.biCompression == BI_RGB)
            h.biSizeImage = (h.biBitCount * static_cast<DWORD>(h.biWidth) + 31) / 32 * 4 *
                            static_cast<DWORD>(h.biHeight < 0 ? -h.biHeight : h.biHeight);
        RecordOptions r = {o.buffers, 0, o.frames, o.seconds, static_cast<ULONGLONG>(o.segmentMb) << 20, o.avi,
                           o.png, o.preview, o.rate, o.scale, o.stallWriterMs};
        if (!o.rate)
            FrameRate(file, &r.rate, &r.scale);
        // Half a second of frames by default. The writer has headers of its
        // own for the frames it waits to place (as many as the buffers) and a
        // second more.
        DWORD halfSecond = static_cast<DWORD>((r.rate + 2ull * r.scale - 1) / (2ull * r.scale));
        if (!r.buffers)
            r.buffers = halfSecond < 2 ? 2 : halfSecond;
        r.queue = r.buffers + 2 * (r.buffers > halfSecond ? r.buffers : halfSecond);
        std::printf("capture: %ld x %ld, %s, %lu bytes a frame, %.3f frames a second, %lu buffers\n", h.biWidth,
                    h.biHeight,
                    h.biCompression == BI_RGB ? (h.biBitCount == 32 ? "RGB 24 (32 bits)" : "RGB 15") : "YUV 422",
                    h.biSizeImage, static_cast<double>(r.rate) / r.scale, r.buffers);
        if (h.biSizeImage == 0)
            std::fprintf(stderr, "capture: the driver reports frames of 0 bytes\n");
        else
            result = Record(driver, r, h);
    }
    CloseDriver(driver, 0, 0);
    return result;
}
