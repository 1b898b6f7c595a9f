// The virtual board through its device, as the capture driver meets it: real
// CreateFile, DeviceIoControl and ReadFile calls, observed through the
// board's journal and status.
#include <gtest/gtest.h>
#include <cstring>
#include <vector>
#include "client.h"
#include "scene.h"

namespace {

const int32_t StatusNoMemory = (int32_t)0xC0000017;
const int32_t StatusIoDeviceError = (int32_t)0xC0000185;

struct Device {
    HANDLE handle;
    Device() : handle(CreateFileA("\\\\.\\" BOARD_DEVICE_NAME, GENERIC_READ, 0, NULL, OPEN_EXISTING, 0, NULL)) {}
    ~Device() { if (handle != INVALID_HANDLE_VALUE) CloseHandle(handle); }
    bool Open() const { return handle != INVALID_HANDLE_VALUE; }

    // ERROR_SUCCESS or the request's Win32 error.
    DWORD Send(DWORD code, const void *input, DWORD length) const
    {
        DWORD returned;
        return DeviceIoControl(handle, code, const_cast<void *>(input), length, NULL, 0, &returned, NULL)
                   ? ERROR_SUCCESS : GetLastError();
    }
    DWORD Read(std::vector<uint8_t> &buffer, DWORD *got) const
    {
        *got = 0xFFFFFFFF;
        return ReadFile(handle, buffer.data(), (DWORD)buffer.size(), got, NULL) ? ERROR_SUCCESS : GetLastError();
    }
};

uint32_t Pixel32(const std::vector<uint8_t> &frame, uint32_t width, uint32_t height, uint32_t x, uint32_t y)
{
    size_t i = ((size_t)(height - 1 - y) * width + x) * 4;
    return (uint32_t)frame[i + 2] << 16 | (uint32_t)frame[i + 1] << 8 | frame[i];
}

BoardStatus Status()
{
    BoardStatus status = {};
    EXPECT_TRUE(GetBoardStatus(&status));
    return status;
}

class Board : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        ASSERT_EQ(RegisterBoard(), (DWORD)ERROR_SUCCESS);
        ASSERT_EQ(StartBoard(), (DWORD)ERROR_SUCCESS);
    }
    void SetUp() override
    {
        ASSERT_TRUE(ResetBoard());
        FreeRun();
    }
    void TearDown() override { ResetBoard(); }

    static void SetFaults(const BoardFaults &faults) { ASSERT_TRUE(SetBoardFaults(faults)); }
    static void FreeRun()
    {
        BoardFaults faults = {};
        faults.freeRunning = 1;
        SetFaults(faults);
    }
};

const FormatParams Rgb24Full = {28, FORMAT_RGB24, 640, 480, 0, 0, 0, 0, 0, 0};
const SourceParams Neutral = {12, 0, 0, 64, 128, 64};

TEST_F(Board, JournalHoldsEveryOpenRequestReadAndCloseWithItsExactBytes)
{
    const FormatParams format = {28, FORMAT_RGB15, 160, 120, 2, 2, 0, 1, 36, 3};
    const SourceParams source = {12, 5, -5, 64, 200, 64};
    {
        Device device;
        ASSERT_TRUE(device.Open());
        EXPECT_EQ(device.Send(IOCTL_SET_SOURCE, &source, 12), (DWORD)ERROR_SUCCESS);
        EXPECT_EQ(device.Send(IOCTL_SET_FORMAT, &format, 28), (DWORD)ERROR_SUCCESS);
        EXPECT_EQ(device.Send(IOCTL_RESTART_VIDEO, NULL, 0), (DWORD)ERROR_SUCCESS);
        std::vector<uint8_t> frame(38400);
        DWORD got;
        EXPECT_EQ(device.Read(frame, &got), (DWORD)ERROR_SUCCESS);
        EXPECT_EQ(got, 38400u);
        // Read back while the device is still held open.
        EXPECT_EQ(ReadBoardJournal().size(), 5u);
        EXPECT_EQ(Status().openers, 1u);
    }
    std::vector<JournalEntry> j = ReadBoardJournal();
    ASSERT_EQ(j.size(), 6u);
    EXPECT_EQ(j[0].kind, (uint32_t)JOURNAL_OPEN);
    EXPECT_EQ(j[0].opening, 1u);

    EXPECT_EQ(j[1].kind, (uint32_t)JOURNAL_REQUEST);
    EXPECT_EQ(j[1].code, 0x001D0808u);
    EXPECT_EQ(j[1].length, 12u);
    const uint8_t sourceBytes[12] = {12, 0, 0, 0, 5, 0, 0, 0, 0xFB, 64, 200, 64};
    EXPECT_EQ(std::memcmp(j[1].data, sourceBytes, 12), 0);

    EXPECT_EQ(j[2].code, 0x001D0804u);
    EXPECT_EQ(j[2].length, 28u);
    const uint8_t formatBytes[28] = {28, 0, 0, 0, 2, 0, 0, 0, 160, 0, 0, 0, 120, 0, 0, 0,
                                     2, 2, 0, 1, 36, 0, 0, 0, 3, 0, 0, 0};
    EXPECT_EQ(std::memcmp(j[2].data, formatBytes, 28), 0);

    EXPECT_EQ(j[3].code, 0x001D0840u);
    EXPECT_EQ(j[3].length, 0u);
    EXPECT_EQ(j[4].kind, (uint32_t)JOURNAL_READ);
    EXPECT_EQ(j[4].length, 38400u);
    EXPECT_EQ(j[4].result, 38400u);
    EXPECT_EQ(j[5].kind, (uint32_t)JOURNAL_CLOSE);
    EXPECT_EQ(j[5].opening, 1u);
    for (const JournalEntry &e : j) EXPECT_EQ(e.status, 0);
    EXPECT_EQ(Status().openers, 0u);
}

TEST_F(Board, WrongRecordsAndUnservableValuesAreRefusedAndChangeNothing)
{
    Device device;
    ASSERT_TRUE(device.Open());
    FormatParams f = {28, FORMAT_RGB15, 160, 120, 2, 2, 0, 0, 36, 3};
    ASSERT_EQ(device.Send(IOCTL_SET_FORMAT, &f, 28), (DWORD)ERROR_SUCCESS);

    uint8_t longRecord[32] = {28};
    EXPECT_EQ(device.Send(IOCTL_SET_FORMAT, &f, 27), (DWORD)ERROR_INVALID_PARAMETER);
    EXPECT_EQ(device.Send(IOCTL_SET_FORMAT, longRecord, 29), (DWORD)ERROR_INVALID_PARAMETER);
    FormatParams bad = f;
    bad.size = 24;
    EXPECT_EQ(device.Send(IOCTL_SET_FORMAT, &bad, 28), (DWORD)ERROR_INVALID_PARAMETER);
    for (uint32_t code : {0u, 4u}) {
        bad = f;
        bad.formatCode = code;
        EXPECT_EQ(device.Send(IOCTL_SET_FORMAT, &bad, 28), (DWORD)ERROR_INVALID_PARAMETER) << code;
    }
    bad = f;
    bad.width = 161; // 644 scene pixels at 1:4
    EXPECT_EQ(device.Send(IOCTL_SET_FORMAT, &bad, 28), (DWORD)ERROR_INVALID_PARAMETER);
    bad = f;
    bad.scaleX = 0;
    bad.width = 641;
    EXPECT_EQ(device.Send(IOCTL_SET_FORMAT, &bad, 28), (DWORD)ERROR_INVALID_PARAMETER);
    bad = f;
    bad.height = 121;
    EXPECT_EQ(device.Send(IOCTL_SET_FORMAT, &bad, 28), (DWORD)ERROR_INVALID_PARAMETER);

    SourceParams s = Neutral;
    EXPECT_EQ(device.Send(IOCTL_SET_SOURCE, &s, 11), (DWORD)ERROR_INVALID_PARAMETER);
    s.size = 16;
    EXPECT_EQ(device.Send(IOCTL_SET_SOURCE, &s, 12), (DWORD)ERROR_INVALID_PARAMETER);
    EXPECT_EQ(device.Send(IOCTL_RESTART_VIDEO, &s, 4), (DWORD)ERROR_INVALID_PARAMETER);
    EXPECT_EQ(device.Send(0x001D080C, NULL, 0), (DWORD)ERROR_INVALID_FUNCTION);

    BoardStatus status = Status();
    EXPECT_EQ(std::memcmp(&status.format, &f, 28), 0) << "the last accepted format stays";
    EXPECT_EQ(std::memcmp(&status.source, &Neutral, 12), 0);
    std::vector<JournalEntry> j = ReadBoardJournal();
    ASSERT_EQ(j.size(), 14u);
    EXPECT_EQ(j[2].length, 27u) << "refused requests are journalled too";
    EXPECT_EQ(j[2].status, (int32_t)0xC000000D);
}

TEST_F(Board, ReadsDeliverOneFrameInEachFormat)
{
    Device device;
    ASSERT_TRUE(device.Open());
    DWORD got;
    // RGB 24: 32 bits a pixel, bottom-up.
    ASSERT_EQ(device.Send(IOCTL_SET_FORMAT, &Rgb24Full, 28), (DWORD)ERROR_SUCCESS);
    std::vector<uint8_t> frame(1228800);
    ASSERT_EQ(device.Read(frame, &got), (DWORD)ERROR_SUCCESS);
    EXPECT_EQ(got, 1228800u);
    EXPECT_EQ(Pixel32(frame, 640, 480, 120, 0), 0xFFFF00u);
    EXPECT_EQ(Pixel32(frame, 640, 480, 520, 300), 0x0000FFu);

    // RGB 15: 16 bits a pixel.
    FormatParams rgb15 = {28, FORMAT_RGB15, 640, 480, 0, 0, 0, 0, 0, 0};
    ASSERT_EQ(device.Send(IOCTL_SET_FORMAT, &rgb15, 28), (DWORD)ERROR_SUCCESS);
    ASSERT_EQ(device.Read(frame, &got), (DWORD)ERROR_SUCCESS);
    EXPECT_EQ(got, 614400u);
    size_t cyan = (size_t)479 * 1280 + 200 * 2; // top row, x 200
    EXPECT_EQ(frame[cyan] | frame[cyan + 1] << 8, 0x03FF);

    // YUV 422: YUY2, top-down.
    FormatParams yuy2 = {28, FORMAT_YUV422, 640, 480, 0, 0, 0, 0, 0, 0};
    ASSERT_EQ(device.Send(IOCTL_SET_FORMAT, &yuy2, 28), (DWORD)ERROR_SUCCESS);
    ASSERT_EQ(device.Read(frame, &got), (DWORD)ERROR_SUCCESS);
    EXPECT_EQ(got, 614400u);
    const uint8_t *green = &frame[240 * 2]; // top row, x 240
    EXPECT_EQ(green[0], 149);
    EXPECT_EQ(green[1], 43);
    EXPECT_EQ(green[3], 21);
}

TEST_F(Board, MirrorZoomOffsetAndBrightnessShapeTheFrame)
{
    Device device;
    ASSERT_TRUE(device.Open());
    DWORD got;
    std::vector<uint8_t> frame(160 * 120 * 4);
    FormatParams f = {28, FORMAT_RGB24, 160, 120, 2, 2, 1, 0, 20, 0}; // mirrored, 1:4, from x 80
    ASSERT_EQ(device.Send(IOCTL_SET_FORMAT, &f, 28), (DWORD)ERROR_SUCCESS);
    ASSERT_EQ(device.Read(frame, &got), (DWORD)ERROR_SUCCESS);
    EXPECT_EQ(got, 76800u);
    EXPECT_EQ(Pixel32(frame, 160, 120, 159, 0), 0xFFFF00u) << "scene x 80, mirrored to the right";
    EXPECT_EQ(Pixel32(frame, 160, 120, 139, 0), 0x00FFFFu) << "scene x 160";
    EXPECT_EQ(Pixel32(frame, 160, 120, 0, 0), 0x000000u) << "beyond the scene";

    SourceParams bright = Neutral;
    bright.brightness = 200;
    ASSERT_EQ(device.Send(IOCTL_SET_SOURCE, &bright, 12), (DWORD)ERROR_SUCCESS);
    f.mirrorX = 0;
    f.offsetX = 0;
    ASSERT_EQ(device.Send(IOCTL_SET_FORMAT, &f, 28), (DWORD)ERROR_SUCCESS);
    ASSERT_EQ(device.Read(frame, &got), (DWORD)ERROR_SUCCESS);
    EXPECT_EQ(Pixel32(frame, 160, 120, 150, 10), 0x484848u) << "black bar lifted to 72";
}

TEST_F(Board, AReadFillsAtMostTheBufferAndFramesCountFromARestart)
{
    Device device;
    ASSERT_TRUE(device.Open());
    ASSERT_EQ(device.Send(IOCTL_SET_FORMAT, &Rgb24Full, 28), (DWORD)ERROR_SUCCESS);
    std::vector<uint8_t> small(1000, 0xEE), frame(1228800), next(1228800);
    DWORD got;
    ASSERT_EQ(device.Read(small, &got), (DWORD)ERROR_SUCCESS);
    EXPECT_EQ(got, 1000u);
    EXPECT_EQ(Status().frameNumber, 1u);

    ASSERT_EQ(device.Send(IOCTL_RESTART_VIDEO, NULL, 0), (DWORD)ERROR_SUCCESS);
    EXPECT_EQ(Status().frameNumber, 0u);
    ASSERT_EQ(device.Read(frame, &got), (DWORD)ERROR_SUCCESS);
    ASSERT_EQ(device.Read(next, &got), (DWORD)ERROR_SUCCESS);
    EXPECT_EQ(Pixel32(frame, 640, 480, 16, 400), 0xFFFFFFu) << "frame 0 shows a 0";
    EXPECT_EQ(Pixel32(next, 640, 480, 16, 400), 0x000000u) << "frame 1 shows a 1";
    EXPECT_EQ(Pixel32(frame, 640, 480, 352, 400), 0xFFFFFFu) << "the square at its start";
    EXPECT_EQ(Pixel32(next, 640, 480, 352, 400), 0x000000u) << "the square moved on";
}

TEST_F(Board, FailedReadsReportTheProgrammedErrorThenReadsRecover)
{
    Device device;
    ASSERT_TRUE(device.Open());
    std::vector<uint8_t> frame(1228800);
    DWORD got;
    BoardFaults faults = {0, 1, 3, StatusNoMemory, 0};
    SetFaults(faults);
    for (int i = 0; i < 3; i++)
        EXPECT_EQ(device.Read(frame, &got), (DWORD)ERROR_NOT_ENOUGH_MEMORY) << "read " << i;
    EXPECT_EQ(device.Read(frame, &got), (DWORD)ERROR_SUCCESS);

    faults.failReads = 1;
    faults.failStatus = StatusIoDeviceError;
    SetFaults(faults);
    EXPECT_EQ(device.Read(frame, &got), (DWORD)ERROR_IO_DEVICE);
    EXPECT_EQ(device.Read(frame, &got), (DWORD)ERROR_SUCCESS);

    std::vector<JournalEntry> j = ReadBoardJournal();
    ASSERT_EQ(j.size(), 7u);
    EXPECT_EQ(j[1].status, StatusNoMemory);
    EXPECT_EQ(j[1].result, 0u);
    EXPECT_EQ(j[5].status, StatusIoDeviceError);
}

TEST_F(Board, ARefusedRequestCodeFailsWhileTheOthersWork)
{
    Device device;
    ASSERT_TRUE(device.Open());
    BoardFaults faults = {0, 1, 0, 0, IOCTL_RESTART_VIDEO};
    SetFaults(faults);
    EXPECT_EQ(device.Send(IOCTL_RESTART_VIDEO, NULL, 0), (DWORD)ERROR_INVALID_FUNCTION);
    EXPECT_EQ(device.Send(IOCTL_SET_SOURCE, &Neutral, 12), (DWORD)ERROR_SUCCESS);
    faults.refuseCode = IOCTL_SET_FORMAT;
    SetFaults(faults);
    EXPECT_EQ(device.Send(IOCTL_SET_FORMAT, &Rgb24Full, 28), (DWORD)ERROR_INVALID_FUNCTION);
    EXPECT_EQ(device.Send(IOCTL_RESTART_VIDEO, NULL, 0), (DWORD)ERROR_SUCCESS);
}

TEST_F(Board, AnAbsentDeviceCannotBeOpenedUntilRestored)
{
    BoardFaults faults = {1, 1, 0, 0, 0};
    SetFaults(faults);
    {
        Device device;
        EXPECT_FALSE(device.Open());
        EXPECT_EQ(GetLastError(), (DWORD)ERROR_FILE_NOT_FOUND);
    }
    faults.absent = 0;
    SetFaults(faults);
    Device device;
    EXPECT_TRUE(device.Open());
}

TEST_F(Board, OnlyTheFirstOfTwoConcurrentHandlesIsServed)
{
    Device first;
    ASSERT_TRUE(first.Open());
    std::vector<uint8_t> frame(1228800);
    DWORD got;
    {
        Device second; // Wine lets the open through; the board refuses its use.
        ASSERT_TRUE(second.Open());
        EXPECT_EQ(Status().openers, 2u);
        EXPECT_EQ(second.Send(IOCTL_SET_FORMAT, &Rgb24Full, 28), (DWORD)ERROR_SHARING_VIOLATION);
        EXPECT_EQ(second.Read(frame, &got), (DWORD)ERROR_SHARING_VIOLATION);
        EXPECT_EQ(first.Send(IOCTL_SET_FORMAT, &Rgb24Full, 28), (DWORD)ERROR_SUCCESS);
        EXPECT_EQ(first.Read(frame, &got), (DWORD)ERROR_SUCCESS);
    }
    EXPECT_EQ(first.Read(frame, &got), (DWORD)ERROR_SUCCESS);
    // open 1, open 2, request 2, read 2, request 1, read 1, close 2, read 1
    std::vector<JournalEntry> j = ReadBoardJournal();
    ASSERT_EQ(j.size(), 8u);
    EXPECT_EQ(j[1].opening, 2u);
    EXPECT_EQ(j[2].opening, 2u);
    EXPECT_EQ(j[2].status, (int32_t)0xC0000043);
    EXPECT_EQ(j[3].status, (int32_t)0xC0000043);
    EXPECT_EQ(j[4].opening, 1u);
    EXPECT_EQ(j[4].status, 0);
    EXPECT_EQ(j[6].kind, (uint32_t)JOURNAL_CLOSE);
    EXPECT_EQ(j[6].opening, 2u);
}

TEST_F(Board, AfterTheHolderClosesTheNextOpenIsServed)
{
    std::vector<uint8_t> frame(1228800);
    DWORD got;
    { Device first; ASSERT_TRUE(first.Open()); }
    Device again;
    ASSERT_TRUE(again.Open());
    EXPECT_EQ(again.Read(frame, &got), (DWORD)ERROR_SUCCESS);
    EXPECT_EQ(Status().openers, 1u);
}

DWORD WINAPI CloseHolderSoon(LPVOID holder)
{
    Sleep(50);
    delete static_cast<Device *>(holder);
    return 0;
}

TEST_F(Board, AUseWaitingForTheHolderIsServedOnceTheHolderCloses)
{
    Device *first = new Device;
    ASSERT_TRUE(first->Open());
    Device second;
    HANDLE closer = CreateThread(NULL, 0, CloseHolderSoon, first, 0, NULL);
    std::vector<uint8_t> frame(1228800);
    DWORD got;
    EXPECT_EQ(second.Read(frame, &got), (DWORD)ERROR_SUCCESS);
    WaitForSingleObject(closer, INFINITE);
    CloseHandle(closer);
    EXPECT_EQ(got, 1228800u);
}

TEST_F(Board, LiveReadsWaitForFrameTimeAndTheStandardSetsTheRate)
{
    Device device;
    ASSERT_TRUE(device.Open());
    EXPECT_EQ(Status().framePeriodUs, 40000u);
    BoardFaults live = {};
    SetFaults(live);
    FormatParams small = {28, FORMAT_RGB15, 80, 60, 0, 0, 0, 0, 0, 0};
    ASSERT_EQ(device.Send(IOCTL_SET_FORMAT, &small, 28), (DWORD)ERROR_SUCCESS);
    ASSERT_EQ(device.Send(IOCTL_RESTART_VIDEO, NULL, 0), (DWORD)ERROR_SUCCESS);
    std::vector<uint8_t> frame(9600);
    DWORD got, start = GetTickCount();
    for (int i = 0; i < 10; i++) ASSERT_EQ(device.Read(frame, &got), (DWORD)ERROR_SUCCESS);
    EXPECT_GE(GetTickCount() - start, 380u) << "ten frames at 25 per second";

    // The input goes on while nobody reads: after half a second unread, the
    // next frame carries the number of the periods since the restart.
    ASSERT_EQ(device.Send(IOCTL_RESTART_VIDEO, NULL, 0), (DWORD)ERROR_SUCCESS);
    LARGE_INTEGER frequency, restarted, asked, delivered;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&restarted);
    Sleep(500);
    QueryPerformanceCounter(&asked);
    ASSERT_EQ(device.Read(frame, &got), (DWORD)ERROR_SUCCESS);
    QueryPerformanceCounter(&delivered);
    auto periods = [&](LARGE_INTEGER t) { return (double)(t.QuadPart - restarted.QuadPart) / frequency.QuadPart / 0.04; };
    double number = Status().frameNumber - 1.0;
    EXPECT_GE(number, periods(asked) - 1) << "the frame in progress when the read came";
    EXPECT_LE(number, periods(delivered)) << "a frame whose period has ended";
    EXPECT_EQ(Status().missedFrames, 0u) << "the first read after a restart misses nothing";
    Sleep(200);
    ASSERT_EQ(device.Read(frame, &got), (DWORD)ERROR_SUCCESS);
    EXPECT_GE(Status().missedFrames, 3u) << "the periods that passed unread between two reads";

    const uint32_t standards[][2] = {{0, 40000}, {1, 33367}, {2, 40000}, {3, 33367}, {5, 40000}};
    for (const auto &p : standards) {
        SourceParams s = Neutral;
        s.standard = p[0];
        ASSERT_EQ(device.Send(IOCTL_SET_SOURCE, &s, 12), (DWORD)ERROR_SUCCESS);
        EXPECT_EQ(Status().framePeriodUs, p[1]) << "standard " << p[0];
    }
}

// A judge of time, alone in its suite: where it is too slow to judge, the
// suite is counted as skipped.
class BoardPacing : public Board {};

// Two seconds of NTSC frames, then PAL: the next frame comes within a frame
// time or so, not after the 60 slots' difference (400 ms). Judged against
// 200 ms plus twice what a read costs on this machine (free-running reads);
// where reads alone cost 100 ms or more the two cannot be told apart.
TEST_F(BoardPacing, AfterAChangeOfStandardTheNextFrameComesWithinAFrameTime)
{
    Device device;
    ASSERT_TRUE(device.Open());
    FormatParams small = {28, FORMAT_RGB15, 80, 60, 0, 0, 0, 0, 0, 0};
    ASSERT_EQ(device.Send(IOCTL_SET_FORMAT, &small, 28), (DWORD)ERROR_SUCCESS);
    std::vector<uint8_t> frame(9600);
    DWORD got, start = GetTickCount();
    for (int i = 0; i < 10; i++) ASSERT_EQ(device.Read(frame, &got), (DWORD)ERROR_SUCCESS);
    const DWORD readCost = (GetTickCount() - start) / 10, limit = 200 + 2 * readCost;
    if (limit >= 400)
        GTEST_SKIP() << "too slow to judge: a read costs " << readCost << " ms here";

    BoardFaults live = {};
    SetFaults(live);
    SourceParams ntsc = Neutral, pal = Neutral;
    ntsc.standard = 1;
    ASSERT_EQ(device.Send(IOCTL_SET_SOURCE, &ntsc, 12), (DWORD)ERROR_SUCCESS);
    ASSERT_EQ(device.Send(IOCTL_RESTART_VIDEO, NULL, 0), (DWORD)ERROR_SUCCESS);
    for (int i = 0; i < 60; i++) ASSERT_EQ(device.Read(frame, &got), (DWORD)ERROR_SUCCESS);
    ASSERT_EQ(device.Send(IOCTL_SET_SOURCE, &pal, 12), (DWORD)ERROR_SUCCESS);
    start = GetTickCount();
    ASSERT_EQ(device.Read(frame, &got), (DWORD)ERROR_SUCCESS);
    EXPECT_LT(GetTickCount() - start, limit) << "the first PAL frame after 60 NTSC ones (a read costs " << readCost
                                             << " ms here)";
}

TEST_F(Board, StopUnloadsTheBoardAndAStartServesAgain)
{
    ASSERT_EQ(StopBoard(), (DWORD)ERROR_SUCCESS);
    EXPECT_FALSE(BoardRunning());
    {
        Device device;
        EXPECT_FALSE(device.Open());
    }
    ASSERT_EQ(StartBoard(), (DWORD)ERROR_SUCCESS);
    EXPECT_TRUE(BoardRunning());
    FreeRun();
    Device device;
    ASSERT_TRUE(device.Open());
    std::vector<uint8_t> frame(1228800);
    DWORD got;
    EXPECT_EQ(device.Read(frame, &got), (DWORD)ERROR_SUCCESS);
    EXPECT_EQ(got, 1228800u);
}

}
