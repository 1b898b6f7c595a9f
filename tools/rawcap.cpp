// rawcap: reads frames straight from the virtual board's video device, without
// the capture driver, and saves the last one as a PNG. The baseline for the
// driver's benchmarks and a way to look at the scene.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>
#include "board.h"
#include "png.h"

static const char Usage[] =
    "usage: rawcap [options] OUT.png\n"
    "  --format rgb15|rgb24|yuv422   colour space (rgb24)\n"
    "  --size WxH                    frame size (640x480)\n"
    "  --zoom X Y                    zoom steps 0..3 (0 0)\n"
    "  --offset X Y                  window origin in units of 4 pixels (0 0)\n"
    "  --mirror X Y                  flips 0/1 (0 0)\n"
    "  --brightness N                decoder brightness 0..255 (128)\n"
    "  --frames N                    frames to read (1)\n";

struct Options {
    FormatParams format = {28, FORMAT_RGB24, 640, 480, 0, 0, 0, 0, 0, 0};
    SourceParams source = {12, 0, 0, 64, 128, 64};
    unsigned frames = 1;
    const char *out = NULL;
};

static bool Parse(int argc, char **argv, Options &o)
{
    for (int i = 1; i < argc; i++) {
        const char *a = argv[i];
        bool one = i + 1 < argc, two = i + 2 < argc;
        if (!std::strcmp(a, "--format") && one) {
            const char *v = argv[++i];
            o.format.formatCode = !std::strcmp(v, "rgb15") ? FORMAT_RGB15
                                : !std::strcmp(v, "yuv422") ? FORMAT_YUV422
                                : !std::strcmp(v, "rgb24") ? FORMAT_RGB24 : 0;
            if (!o.format.formatCode) return false;
        } else if (!std::strcmp(a, "--size") && one) {
            if (std::sscanf(argv[++i], "%ux%u", &o.format.width, &o.format.height) != 2) return false;
        } else if (!std::strcmp(a, "--zoom") && two) {
            o.format.scaleX = (uint8_t)std::atoi(argv[++i]);
            o.format.scaleY = (uint8_t)std::atoi(argv[++i]);
        } else if (!std::strcmp(a, "--offset") && two) {
            o.format.offsetX = (uint32_t)std::atoi(argv[++i]);
            o.format.offsetY = (uint32_t)std::atoi(argv[++i]);
        } else if (!std::strcmp(a, "--mirror") && two) {
            o.format.mirrorX = (uint8_t)std::atoi(argv[++i]);
            o.format.mirrorY = (uint8_t)std::atoi(argv[++i]);
        } else if (!std::strcmp(a, "--brightness") && one) {
            o.source.brightness = (uint8_t)std::atoi(argv[++i]);
        } else if (!std::strcmp(a, "--frames") && one) {
            o.frames = (unsigned)std::atoi(argv[++i]);
        } else if (a[0] != '-' && !o.out) {
            o.out = a;
        } else {
            return false;
        }
    }
    return o.out && o.frames > 0;
}

// The device path from the kernel service's "DeviceName", as the capture driver finds it.
static bool DevicePath(char *path, DWORD size)
{
    char name[22] = "";
    DWORD length = sizeof name - 1, type = 0;
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Services\\zentacap\\Parameters",
                      0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
        return false;
    LONG error = RegQueryValueExA(key, "DeviceName", NULL, &type, (BYTE *)name, &length);
    RegCloseKey(key);
    if (error != ERROR_SUCCESS || type != REG_SZ)
        return false;
    std::snprintf(path, size, "\\\\.\\%s", name);
    return true;
}

static bool Request(HANDLE device, DWORD code, const void *record, DWORD length, const char *what)
{
    DWORD returned;
    if (DeviceIoControl(device, code, const_cast<void *>(record), length, NULL, 0, &returned, NULL))
        return true;
    std::fprintf(stderr, "rawcap: the board refused %s (error %lu)\n", what, GetLastError());
    return false;
}

int main(int argc, char **argv)
{
    Options o;
    char path[32];
    if (!Parse(argc, argv, o)) {
        std::fputs(Usage, stderr);
        return 2;
    }
    if (!DevicePath(path, sizeof path)) {
        std::fprintf(stderr, "rawcap: the board is not installed (no DeviceName); run boardctl install\n");
        return 1;
    }
    HANDLE device = CreateFileA(path, GENERIC_READ, 0, NULL, OPEN_EXISTING, 0, NULL);
    if (device == INVALID_HANDLE_VALUE) {
        std::fprintf(stderr, "rawcap: cannot open %s (error %lu); is the board started?\n", path, GetLastError());
        return 1;
    }
    int result = 1;
    if (Request(device, IOCTL_SET_SOURCE, &o.source, sizeof o.source, "the source") &&
        Request(device, IOCTL_SET_FORMAT, &o.format, sizeof o.format, "the format") &&
        Request(device, IOCTL_RESTART_VIDEO, NULL, 0, "the restart")) {
        BITMAPINFOHEADER header = {};
        header.biSize = sizeof header;
        header.biWidth = (LONG)o.format.width;
        header.biHeight = (LONG)o.format.height;
        header.biPlanes = 1;
        header.biBitCount = (WORD)(o.format.formatCode == FORMAT_RGB24 ? 32 : 16);
        header.biCompression = o.format.formatCode == FORMAT_YUV422 ? 0x32595559u : (DWORD)BI_RGB;
        header.biSizeImage = (header.biBitCount * header.biWidth + 31) / 32 * 4 * header.biHeight;
        std::vector<BYTE> frame(header.biSizeImage);
        DWORD start = GetTickCount(), got = 0;
        unsigned n = 0;
        for (; n < o.frames; n++)
            if (!ReadFile(device, frame.data(), (DWORD)frame.size(), &got, NULL)) {
                std::fprintf(stderr, "rawcap: read %u failed (error %lu)\n", n, GetLastError());
                break;
            }
        DWORD elapsed = GetTickCount() - start;
        std::printf("rawcap: %u frames of %lu bytes in %lu ms\n", n, (unsigned long)got, elapsed);
        if (n == o.frames && SaveFramePng(o.out, header, frame.data())) {
            std::printf("rawcap: wrote %s\n", o.out);
            result = 0;
        }
    }
    CloseHandle(device);
    return result;
}
