// Benchmarks of the stream engine (figures, not tests): frames a second
// through the driver against a raw ReadFile loop on the same device in the
// same run, stop latency, the processor time of a starved stream, and private
// memory over 10,000 frames. --driver FILE benchmarks another build of the
// driver; --requests only streams frames and names the threads, for a count
// of their wineserver requests in Wine's +server trace (scripts/bench.sh).
#include <algorithm>
#include <cstdio>
#include <cstring>
#include "client.h"
#include "stream_client.h"
#include <psapi.h>

static const char SettingsKey[] = "Software\\ORVANTA\\Multimedia\\Brightvane 7K42Q VideoIn";

static double Seconds()
{
    LARGE_INTEGER now, frequency;
    QueryPerformanceCounter(&now);
    QueryPerformanceFrequency(&frequency);
    return (double)now.QuadPart / (double)frequency.QuadPart;
}

struct Format {
    const char *name;
    DWORD code, width, height, scale, bytes;
};

static void Store(const Format &f)
{
    HKEY key;
    RegCreateKeyExA(HKEY_CURRENT_USER, SettingsKey, 0, NULL, 0, KEY_WRITE, NULL, &key, NULL);
    const struct { const char *name; DWORD value; } values[] = {
        {"Format", f.code}, {"Width", f.width}, {"Height", f.height}, {"ScaleX", f.scale},
        {"ScaleY", f.scale}, {"OffsetX", 0}, {"OffsetY", 0}, {"Source", 0}};
    for (const auto &v : values)
        RegSetValueExA(key, v.name, 0, REG_DWORD, reinterpret_cast<const BYTE *>(&v.value), 4);
    RegCloseKey(key);
}

static void Pace(bool freeRunning)
{
    BoardFaults faults = {};
    faults.freeRunning = freeRunning;
    SetBoardFaults(faults);
}

// Frames a second of a ReadFile loop straight on the device, into `buffers`
// buffers in turn.
static double RawRate(const Format &f, double seconds, int buffers, long *reads = NULL)
{
    HANDLE device = CreateFileA("\\\\.\\" BOARD_DEVICE_NAME, GENERIC_READ, 0, NULL, OPEN_EXISTING, 0, NULL);
    FormatParams format = {28, f.code, f.width, f.height, (uint8_t)f.scale, (uint8_t)f.scale, 0, 0, 0, 0};
    DWORD got;
    DeviceIoControl(device, IOCTL_SET_FORMAT, &format, sizeof format, NULL, 0, &got, NULL);
    std::vector<std::vector<BYTE>> frame(buffers, std::vector<BYTE>(f.bytes, 0xEE));
    long frames = 0;
    double start = Seconds(), elapsed = 0;
    while (elapsed < seconds && ReadFile(device, frame[frames % buffers].data(), f.bytes, &got, NULL)) {
        frames++;
        elapsed = Seconds() - start;
    }
    CloseHandle(device);
    Sleep(300); // Wine delivers the close late; let it arrive before the driver opens
    if (reads)
        *reads = frames;
    return frames / elapsed;
}

static const char *DriverFile = "zentacap.dll";

struct Driver {
    HMODULE module = LoadLibraryA(DriverFile);
    DRIVERPROC proc = reinterpret_cast<DRIVERPROC>(reinterpret_cast<void *>(GetProcAddress(module, "DriverProc")));
    bool Open()
    {
        VIDEO_OPEN_PARMS open = {sizeof open, mmioFOURCC('v', 'c', 'a', 'p'), 0, 0, VIDEO_IN, 0, 0, 0, 0};
        return proc && proc(0, NULL, DRV_OPEN, 0, reinterpret_cast<LPARAM>(&open)) == VIDEO_IN;
    }
    ~Driver()
    {
        if (proc) proc(VIDEO_IN, NULL, DRV_CLOSE, 0, 0);
        FreeLibrary(module);
        Sleep(300);
    }
};

static SIZE_T PrivateBytes()
{
    PROCESS_MEMORY_COUNTERS_EX c = {};
    c.cb = sizeof c;
    GetProcessMemoryInfo(GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS *>(&c), sizeof c);
    return c.PrivateUsage;
}

// The thread that last called back, the capture thread.
static DWORD CaptureThreadId;
static void CALLBACK NoteThread(HDRVR, UINT message, DWORD_PTR client, DWORD_PTR header, DWORD_PTR)
{
    CaptureThreadId = GetCurrentThreadId();
    StreamClient &c = *reinterpret_cast<StreamClient *>(client);
    if (message == MM_DRVM_DATA) {
        c.dataCount++;
        c.Add(reinterpret_cast<VIDEOHDR *>(header));
    }
}

// Reads of a plain loop on a thread of their own, and frames of a stream:
// each thread named, so that its requests can be counted in a trace.
static long RawReadCount;
static DWORD WINAPI RawReads(LPVOID format)
{
    RawRate(*static_cast<const Format *>(format), 2, 4, &RawReadCount);
    return 0;
}

static void NameRequestThreads(const Format &f)
{
    DWORD raw;
    HANDLE thread = CreateThread(NULL, 0, RawReads, const_cast<Format *>(&f), 0, &raw);
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
    Store(f);
    Driver driver;
    if (!driver.Open())
        return;
    StreamClient client(driver.proc, VIDEO_IN, 4, f.bytes);
    client.Init(CALLBACK_FUNCTION, reinterpret_cast<DWORD_PTR>(NoteThread));
    client.AddAll();
    client.Send(DVM_STREAM_START);
    Eventually([&] { return client.dataCount >= 2000; });
    client.Send(DVM_STREAM_STOP);
    std::printf("raw reader %04lx %ld reads, capture thread %04lx %ld frames\n", raw, RawReadCount, CaptureThreadId,
                client.dataCount.load());
}

// Frames a second through the driver, the client re-adding in its callback.
static double DriverRate(const Format &f, double seconds, long *frames = NULL, SIZE_T *memoryGrowth = NULL)
{
    Store(f);
    Driver driver;
    if (!driver.Open())
        return -1;
    StreamClient client(driver.proc, VIDEO_IN, 4, f.bytes);
    client.readdInCallback = true;
    client.Init();
    client.AddAll();
    client.Send(DVM_STREAM_START);
    client.WaitForData(100, 60000); // warmed up
    SIZE_T before = PrivateBytes();
    long first = client.dataCount;
    double start = Seconds();
    if (frames)
        client.WaitForData(first + *frames, 900000); // under emulation 10,000 frames take minutes
    else
        Sleep((DWORD)(seconds * 1000));
    long done = client.dataCount - first;
    double elapsed = Seconds() - start;
    if (frames)
        *frames = done;
    if (memoryGrowth)
        *memoryGrowth = PrivateBytes() - before;
    client.Send(DVM_STREAM_STOP);
    client.WaitForClose(2000);
    return done / elapsed;
}

// Milliseconds from DVM_STREAM_STOP to MM_DRVM_CLOSE in live mode.
static void StopLatency(double *mean, double *worst)
{
    Format f = {"160x120 RGB 15", 2, 160, 120, 2, 38400};
    Store(f);
    Driver driver;
    driver.Open();
    double total = 0;
    *worst = 0;
    const int runs = 10;
    for (int i = 0; i < runs; i++) {
        StreamClient client(driver.proc, VIDEO_IN, 4, f.bytes);
        client.readdInCallback = true;
        client.Init();
        client.AddAll();
        client.Send(DVM_STREAM_START);
        client.WaitForData(3 + i % 3, 5000);
        Sleep(7 * i % 40); // stop at different points of the frame time
        double start = Seconds();
        client.Send(DVM_STREAM_STOP);
        client.WaitForClose(5000);
        double ms = (Seconds() - start) * 1000;
        total += ms;
        if (ms > *worst) *worst = ms;
    }
    *mean = total / runs;
}

// Processor time of the process while a started stream has no header, in % of one core.
static double StarvedCpu()
{
    Driver driver;
    driver.Open();
    StreamClient client(driver.proc, VIDEO_IN, 1, 16);
    client.Init();
    client.Send(DVM_STREAM_START);
    Sleep(100);
    FILETIME created, exited, kernel0, user0, kernel1, user1;
    GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel0, &user0);
    double start = Seconds();
    Sleep(2000);
    GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel1, &user1);
    double elapsed = Seconds() - start;
    auto ticks = [](FILETIME t) { return (double)(((ULONGLONG)t.dwHighDateTime << 32) | t.dwLowDateTime); };
    double used = (ticks(kernel1) - ticks(kernel0) + ticks(user1) - ticks(user0)) / 1e7;
    client.Send(DVM_STREAM_STOP);
    client.WaitForClose(2000);
    return 100.0 * used / elapsed;
}

static double Median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

int main(int argc, char **argv)
{
    if (!ResetBoard()) {
        std::printf("the board is not running\n");
        return 1;
    }
    for (int i = 1; i + 1 < argc; i++)
        if (!std::strcmp(argv[i], "--driver"))
            DriverFile = argv[i + 1];
    if (argc > 1 && !std::strcmp(argv[argc - 1], "--requests")) {
        Pace(true);
        NameRequestThreads({"160x120 RGB 15", 2, 160, 120, 2, 160 * 120 * 2});
        ResetBoard();
        return 0;
    }
    const Format formats[] = {{"640x480 RGB 24 (32 bits)", 3, 640, 480, 0, 640 * 480 * 4},
                              {"160x120 RGB 15", 2, 160, 120, 2, 160 * 120 * 2}};
    Pace(true);
    for (const Format &f : formats) {
        // Interleaved rounds, each giving its own ratios, as the two cores are
        // shared with the wineserver and the board's driver host: the median
        // and the spread of seven tell how far one figure can be trusted.
        std::vector<double> raw, rawFour, through, toOne, toFour;
        for (int round = 0; round < 7; round++) {
            raw.push_back(RawRate(f, 2, 1));
            rawFour.push_back(RawRate(f, 2, 4));
            through.push_back(DriverRate(f, 2));
            toOne.push_back(through.back() / raw.back());
            toFour.push_back(through.back() / rawFour.back());
        }
        auto spread = [](const std::vector<double> &v) { return *std::max_element(v.begin(), v.end()) -
                                                                *std::min_element(v.begin(), v.end()); };
        std::printf("free-running %s, medians of 7 rounds: raw ReadFile into 1 buffer %.0f frames/s, into 4 in turn\n"
                    "  %.0f frames/s; through the driver with 4 buffers %.0f frames/s: ratio %.3f (spread %.3f) to\n"
                    "  1 buffer, %.3f (spread %.3f) to 4\n",
                    f.name, Median(raw), Median(rawFour), Median(through), Median(toOne), spread(toOne),
                    Median(toFour), spread(toFour));
    }
    long frames = 10000;
    SIZE_T growth = 0;
    DriverRate(formats[1], 0, &frames, &growth);
    std::printf("private memory over %ld frames: %+ld bytes\n", frames, (long)growth);
    double cpu = StarvedCpu();
    std::printf("starved stream (no header queued) for 2 s: %.2f%% of one core\n", cpu);
    Pace(false);
    double mean, worst;
    StopLatency(&mean, &worst);
    std::printf("stop latency in live mode (frame time 40 ms): mean %.1f ms, worst %.1f ms\n", mean, worst);
    RegDeleteKeyA(HKEY_CURRENT_USER, SettingsKey);
    ResetBoard();
    return 0;
}
