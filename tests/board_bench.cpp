// Benchmark of the virtual board: how long the scene generator takes for one
// full frame, and how many full frames a second the free-running board
// delivers through Wine's device transport. Prints figures; asserts nothing.
#include <cstdio>
#include <vector>
#include "client.h"
#include "scene.h"

static double Seconds()
{
    static LARGE_INTEGER frequency;
    LARGE_INTEGER now;
    if (!frequency.QuadPart)
        QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&now);
    return (double)now.QuadPart / (double)frequency.QuadPart;
}

// Mean milliseconds to generate one 640 x 480 frame in the given format.
static double GenerationMs(uint32_t formatCode)
{
    const FormatParams format = {28, formatCode, 640, 480, 0, 0, 0, 0, 0, 0};
    const SourceParams source = {12, 0, 0, 64, 128, 64};
    ScenePalette palette;
    SceneMakePalette(&palette, &source);
    std::vector<uint8_t> frame(SceneFrameBytes(&format));
    const int frames = 300;
    double start = Seconds();
    for (int n = 0; n < frames; n++)
        SceneRender(&format, &palette, (uint32_t)n, frame.data(), (uint32_t)frame.size());
    return (Seconds() - start) * 1000.0 / frames;
}

// Full RGB 24 frames read per second from the free-running board for `seconds`.
static double ReadsPerSecond(double seconds)
{
    BoardFaults faults = {};
    faults.freeRunning = 1;
    if (!ResetBoard() || !SetBoardFaults(faults))
        return -1;
    HANDLE device = CreateFileA("\\\\.\\" BOARD_DEVICE_NAME, GENERIC_READ, 0, NULL, OPEN_EXISTING, 0, NULL);
    if (device == INVALID_HANDLE_VALUE)
        return -1;
    std::vector<uint8_t> frame(640 * 480 * 4);
    DWORD got;
    int reads = 0;
    double start = Seconds(), elapsed = 0;
    while (elapsed < seconds && ReadFile(device, frame.data(), (DWORD)frame.size(), &got, NULL)) {
        reads++;
        elapsed = Seconds() - start;
    }
    CloseHandle(device);
    ResetBoard();
    return elapsed > 0 ? reads / elapsed : -1;
}

int main()
{
    double rgb24 = GenerationMs(FORMAT_RGB24);
    std::printf("scene generation, 640x480: RGB 24 (32 bpp) %.3f ms, RGB 15 %.3f ms, YUV 422 %.3f ms\n",
                rgb24, GenerationMs(FORMAT_RGB15), GenerationMs(FORMAT_YUV422));
    double reads = ReadsPerSecond(3.0);
    if (reads < 0) {
        std::printf("free-running reads: the board is not running\n");
        return 1;
    }
    std::printf("free-running reads through Wine, 640x480x4: %.0f per second\n", reads);
    std::printf("generation alone would allow %.0f per second: transport share %.0f%% of a read\n",
                1000.0 / rgb24, 100.0 * (1.0 - reads * rgb24 / 1000.0));
    return 0;
}
