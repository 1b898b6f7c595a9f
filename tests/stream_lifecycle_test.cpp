// The stream's lifecycle in the orders the documented contract allows: the
// host's headers and buffers lie in pages decommitted the moment the host
// may free them, so any later touch by the driver faults the test.
#include "capture_rig.h"
#include <algorithm>
#include <atomic>
#include <functional>

namespace {

const DWORD SmallFrame = 80 * 60 * 2;

// Headers and their buffers in pages of their own.
struct HostHeaders {
    BYTE *block;
    VIDEOHDR *headers;
    explicit HostHeaders(int count)
    {
        block = static_cast<BYTE *>(VirtualAlloc(NULL, 4096 + count * SmallFrame, MEM_COMMIT, PAGE_READWRITE));
        headers = reinterpret_cast<VIDEOHDR *>(block);
        for (int i = 0; i < count; i++) {
            headers[i] = VIDEOHDR{};
            headers[i].lpData = block + 4096 + i * SmallFrame;
            headers[i].dwBufferLength = SmallFrame;
            headers[i].dwFlags = VHDR_PREPARED;
        }
    }
    ~HostHeaders() { VirtualFree(block, 0, MEM_RELEASE); }
    void Free() { VirtualFree(block, 0, MEM_DECOMMIT); } // as the host frees them
};

// The callbacks a stream sends, counted, with what the host does in them.
struct Callbacks {
    std::atomic<long> open{0}, data{0}, close{0}, afterFree{0};
    std::atomic<bool> freed{false};
    std::function<void(UINT)> inCallback;
    static void CALLBACK Count(HDRVR, UINT message, DWORD_PTR self, DWORD_PTR, DWORD_PTR)
    {
        Callbacks &c = *reinterpret_cast<Callbacks *>(self);
        (message == MM_DRVM_OPEN ? c.open : message == MM_DRVM_DATA ? c.data : c.close)++;
        if (c.freed)
            c.afterFree++;
        if (c.inCallback)
            c.inCallback(message);
    }
};

// Reads of the capture thread held until the test lets them go.
HANDLE ReadsAllowed, ReadHeld;
void *RealReadFile;
BOOL WINAPI HeldRead(HANDLE device, LPVOID buffer, DWORD length, LPDWORD read, LPOVERLAPPED overlapped)
{
    SetEvent(ReadHeld);
    WaitForSingleObject(ReadsAllowed, INFINITE);
    return reinterpret_cast<decltype(&ReadFile)>(RealReadFile)(device, buffer, length, read, overlapped);
}

// Waits that the engine begins for a thread (the handles it takes of its
// own), and closes of handles that were not open.
std::atomic<long> ThreadWaits, BadCloses;
void *RealDuplicate, *RealClose;
BOOL WINAPI CountedDuplicate(HANDLE a, HANDLE b, HANDLE c, LPHANDLE d, DWORD access, BOOL e, DWORD f)
{
    ThreadWaits += access == SYNCHRONIZE;
    return reinterpret_cast<decltype(&DuplicateHandle)>(RealDuplicate)(a, b, c, d, access, e, f);
}
BOOL WINAPI CheckedClose(HANDLE handle)
{
    BOOL closed = reinterpret_cast<decltype(&CloseHandle)>(RealClose)(handle);
    BadCloses += !closed;
    return closed;
}

class StreamLifecycle : public SmallFrameChannelTest {
protected:
    void SetUp() override
    {
        SmallFrameChannelTest::SetUp();
        ReadsAllowed = CreateEventA(NULL, TRUE, TRUE, NULL);
        ReadHeld = CreateEventA(NULL, FALSE, FALSE, NULL);
        ThreadWaits = BadCloses = 0;
        reads.reset(new ImportPatch(module, "kernel32.dll", "ReadFile", (void *)HeldRead));
        RealReadFile = reads->original;
        duplicate.reset(new ImportPatch(module, "kernel32.dll", "DuplicateHandle", (void *)CountedDuplicate));
        RealDuplicate = duplicate->original;
        close.reset(new ImportPatch(module, "kernel32.dll", "CloseHandle", (void *)CheckedClose));
        RealClose = close->original;
    }
    void TearDown() override
    {
        SetEvent(ReadsAllowed);
        Send(4, DVM_STREAM_FINI); // whatever a test left running ends before its patches go
        EXPECT_EQ(BadCloses, 0) << "a handle closed twice";
        reads.reset();
        duplicate.reset();
        close.reset();
        CloseHandle(ReadsAllowed);
        CloseHandle(ReadHeld);
        SmallFrameChannelTest::TearDown();
    }
    DWORD Init(Callbacks &c)
    {
        VIDEO_STREAM_INIT_PARMS parms = {40000, reinterpret_cast<DWORD_PTR>(Callbacks::Count),
                                         reinterpret_cast<DWORD_PTR>(&c), CALLBACK_FUNCTION, 0x4321};
        return static_cast<DWORD>(Send(4, DVM_STREAM_INIT, reinterpret_cast<LPARAM>(&parms), sizeof parms));
    }
    void AddAll(HostHeaders &h, int count)
    {
        for (int i = 0; i < count; i++)
            ASSERT_EQ(Send(4, DVM_STREAM_ADDBUFFER, reinterpret_cast<LPARAM>(&h.headers[i]), sizeof(VIDEOHDR)),
                      DV_ERR_OK);
    }
    // A stream of four headers whose thread holds in its first read.
    void StartHeld(Callbacks &c, HostHeaders &h)
    {
        ASSERT_EQ(Init(c), DV_ERR_OK);
        AddAll(h, 4);
        ResetEvent(ReadsAllowed);
        ASSERT_EQ(Send(4, DVM_STREAM_START), DV_ERR_OK);
        ASSERT_EQ(WaitForSingleObject(ReadHeld, HangMs), WAIT_OBJECT_0) << "hang: no read";
    }
    // A stream of four headers that has delivered its first frame and been stopped and ended.
    void RunAndStop(Callbacks &c, HostHeaders &h)
    {
        ASSERT_EQ(Init(c), DV_ERR_OK);
        AddAll(h, 4);
        ASSERT_EQ(Send(4, DVM_STREAM_START), DV_ERR_OK);
        ASSERT_TRUE(Eventually([&] { return c.data > 0; })) << "hang: no frame";
        ASSERT_EQ(Send(4, DVM_STREAM_STOP), DV_ERR_OK);
        ASSERT_TRUE(Eventually([&] { return c.close > 0; })) << "hang: no MM_DRVM_CLOSE";
    }

    std::unique_ptr<ImportPatch> reads, duplicate, close;
};

TEST_F(StreamLifecycle, AStartAfterAFiniWithoutAnInitIsRefusedAndTouchesNothing)
{
    Callbacks c;
    HostHeaders h(4);
    RunAndStop(c, h);
    ASSERT_EQ(Send(4, DVM_STREAM_FINI), DV_ERR_OK);
    h.Free();
    c.freed = true;
    ThreadWaits = 0;
    EXPECT_EQ(Send(4, DVM_STREAM_START), DV_ERR_NONSPECIFIC);
    EXPECT_EQ(ThreadWaits, 0) << "no thread was made to wait for";
    EXPECT_EQ(Send(4, DVM_STREAM_STOP), DV_ERR_OK);
    EXPECT_EQ(Send(4, DVM_STREAM_FINI), DV_ERR_OK);
    EXPECT_EQ(c.afterFree, 0) << "no callback of the finished stream";
}

TEST_F(StreamLifecycle, ARestartAfterAResetUsesOnlyTheHeadersAddedSinceIt)
{
    Callbacks c;
    HostHeaders old(4), fresh(2);
    RunAndStop(c, old);
    EXPECT_EQ(Send(4, DVM_STREAM_RESET), DV_ERR_NOTSUPPORTED);
    old.Free();
    AddAll(fresh, 2);
    long before = c.data;
    ASSERT_EQ(Send(4, DVM_STREAM_START), DV_ERR_OK);
    ASSERT_TRUE(Eventually([&] { return c.data == before + 2; })) << "hang: the new headers did not come back";
    EXPECT_EQ(fresh.headers[0].dwFlags & VHDR_DONE, (DWORD)VHDR_DONE);
    EXPECT_EQ(fresh.headers[1].dwFlags & VHDR_DONE, (DWORD)VHDR_DONE);
    EXPECT_EQ(Send(4, DVM_STREAM_STOP), DV_ERR_OK);
}

// What the host does inside the stream's first callback: each time, the
// headers go once it has done it, and the thread must read none of them.
TEST_F(StreamLifecycle, WhatTheOpenCallbackEndsReadsNoFrame)
{
    const struct { const char *what; UINT messages[2]; bool closes; } cases[] = {
        {"STOP and FINI", {DVM_STREAM_STOP, DVM_STREAM_FINI}, false},
        {"the last close", {0, 0}, true},
    };
    for (const auto &k : cases) {
        SCOPED_TRACE(k.what);
        Callbacks c;
        HostHeaders h(4);
        c.inCallback = [&](UINT message) {
            if (message != MM_DRVM_OPEN)
                return;
            for (UINT m : k.messages)
                if (m)
                    Send(4, m);
            if (k.closes) {
                EXPECT_EQ(Send(4, DRV_CLOSE), 1);
            }
            h.Free();
            c.freed = true;
        };
        ASSERT_EQ(Init(c), DV_ERR_OK);
        AddAll(h, 4);
        ASSERT_EQ(Send(4, DVM_STREAM_START), DV_ERR_OK);
        ASSERT_TRUE(Eventually([&] { return c.freed.load(); })) << "hang: no MM_DRVM_OPEN";
        if (k.closes) {
            ASSERT_TRUE(Eventually([&] { return c.close > 0; })) << "hang: the closed stream did not end";
            ASSERT_EQ(OpenChannelOfType(VIDEO_IN), 4);
        } else {
            EXPECT_EQ(Send(4, DVM_STREAM_FINI), DV_ERR_OK); // waits for the ending thread
            EXPECT_EQ(c.close, 0) << "nothing is sent once DVM_STREAM_FINI has answered";
        }
        EXPECT_EQ(c.data, 0);
        std::vector<JournalEntry> journal = ReadBoardJournal();
        EXPECT_EQ(std::count_if(journal.begin(), journal.end(), [](const JournalEntry &e) { return e.kind == JOURNAL_READ; }),
                  0);
    }
}

// A window of the test's thread whose procedure starts the stream: a start
// that reaches the thread while it waits in DVM_STREAM_FINI.
// (It lets the held read go first: the start waits for the ending thread.)
const UINT StartMessage = WM_USER + 7;
DRIVERPROC Driver;
DWORD StartAnswer;
LRESULT CALLBACK StartingWindow(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message != StartMessage)
        return DefWindowProcA(window, message, wParam, lParam);
    SetEvent(ReadsAllowed);
    StartAnswer = static_cast<DWORD>(Driver(4, reinterpret_cast<HDRVR>(0x1234), DVM_STREAM_START, 0, 0));
    return 0;
}

// Sends the start once the test's thread waits for the capture thread.
DWORD WINAPI SendStart(LPVOID window)
{
    while (ThreadWaits == 0)
        Sleep(10);
    SendMessageA(static_cast<HWND>(window), StartMessage, 0, 0);
    return 0;
}

DWORD WINAPI LastClose(LPVOID)
{
    return static_cast<DWORD>(Driver(4, reinterpret_cast<HDRVR>(0x1234), DRV_CLOSE, 0, 0));
}

// Lets the held read go once two threads wait for the capture thread.
DWORD WINAPI ReleaseOnceBothWait(LPVOID)
{
    while (ThreadWaits < 2)
        Sleep(10);
    SetEvent(ReadsAllowed);
    return 0;
}

TEST_F(StreamLifecycle, AStartSentToAThreadWaitingInFiniEndsWithTheFini)
{
    WNDCLASSA type = {};
    type.lpfnWndProc = StartingWindow;
    type.lpszClassName = "StreamLifecycleStarter";
    RegisterClassA(&type);
    HWND window = CreateWindowA("StreamLifecycleStarter", "", 0, 0, 0, 0, 0, NULL, NULL, NULL, NULL);
    ASSERT_NE(window, nullptr);
    Driver = driverProc;
    StartAnswer = 0xFFFF;
    Callbacks c;
    HostHeaders h(4);
    ASSERT_NO_FATAL_FAILURE(StartHeld(c, h));
    HANDLE thread = CreateThread(NULL, 0, SendStart, window, 0, NULL);
    EXPECT_EQ(Send(4, DVM_STREAM_FINI), DV_ERR_OK);
    h.Free();
    c.freed = true;
    JoinOrHang(thread, "the thread that sent the start");
    EXPECT_EQ(StartAnswer, (DWORD)DV_ERR_OK) << "the start answered inside the fini";
    EXPECT_EQ(c.open, 2);
    EXPECT_EQ(c.close, 2) << "the fini ended the stream the start began, too";
    EXPECT_EQ(c.afterFree, 0);
    DestroyWindow(window);
    UnregisterClassA("StreamLifecycleStarter", NULL);
}

TEST_F(StreamLifecycle, AFiniAndALastCloseOnTwoThreadsBothWaitForTheOneThread)
{
    Callbacks c;
    HostHeaders h(4);
    Driver = driverProc;
    ASSERT_NO_FATAL_FAILURE(StartHeld(c, h));
    HANDLE thread = CreateThread(NULL, 0, LastClose, NULL, 0, NULL);
    HANDLE releaser = CreateThread(NULL, 0, ReleaseOnceBothWait, NULL, 0, NULL);
    EXPECT_EQ(Send(4, DVM_STREAM_FINI), DV_ERR_OK);
    h.Free();
    c.freed = true;
    JoinOrHang(releaser, "the thread that let the read go");
    ASSERT_EQ(WaitForSingleObject(thread, HangMs), WAIT_OBJECT_0) << "hang: the last close";
    DWORD closed = 0;
    GetExitCodeThread(thread, &closed);
    CloseHandle(thread);
    EXPECT_EQ(closed, 1u);
    EXPECT_EQ(c.close, 1);
    EXPECT_EQ(c.afterFree, 0);
    ASSERT_EQ(OpenChannelOfType(VIDEO_IN), 4);
}

}
