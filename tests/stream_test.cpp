// The stream engine: queued headers filled by the capture thread and handed
// back through the client's callback, single frames, and their failures.
#include "capture_rig.h"
#include "stream_client.h"
#include <algorithm>
#include <map>

namespace {

class Stream : public SmallFrameChannelTest {
protected:
    static void SetFaults(uint32_t failReads, int32_t status, uint32_t refuse = 0, uint32_t freeRunning = 1)
    {
        BoardFaults faults = {0, freeRunning, failReads, status, refuse};
        ASSERT_TRUE(SetBoardFaults(faults));
    }
    static size_t Count(const std::vector<StreamEvent> &events, UINT message)
    {
        return std::count_if(events.begin(), events.end(), [&](const StreamEvent &e) { return e.message == message; });
    }
};

const int32_t StatusNoMemory = (int32_t)0xC0000017;
const int32_t StatusIoDeviceError = (int32_t)0xC0000185;

// Two thousand frames take the ring of a thousand slots round twice: add
// number 1000 goes to slot 0 again, and 2000 once more. Every frame is a
// callback's add racing the thread's next read, so each is a try of that race.
TEST_F(Stream, TwoThousandFramesRoundTheRingTwiceInAddOrderWhileTheClientReaddsInTheCallback)
{
    StreamClient client(driverProc, 4, 4, SmallFrame);
    client.readdInCallback = true;
    ASSERT_EQ(client.Init(), DV_ERR_OK);
    ASSERT_EQ(client.AddAll(), DV_ERR_OK);
    ASSERT_EQ(client.Send(DVM_STREAM_START), DV_ERR_OK);
    ASSERT_TRUE(client.WaitForData(2010));
    ASSERT_EQ(client.Send(DVM_STREAM_STOP), DV_ERR_OK);
    long atStop = client.dataCount;
    ASSERT_TRUE(client.WaitForClose());
    EXPECT_LE(client.dataCount - atStop, 1) << "at most one frame after the stop";

    std::vector<StreamEvent> events = client.Events();
    std::vector<VIDEOHDR *> added = client.Added();
    ASSERT_GE(events.size(), 2012u);
    EXPECT_EQ(events.front().message, (UINT)MM_DRVM_OPEN);
    EXPECT_EQ(events.back().message, (UINT)MM_DRVM_CLOSE);
    EXPECT_EQ(Count(events, MM_DRVM_OPEN), 1u);
    EXPECT_EQ(Count(events, MM_DRVM_CLOSE), 1u);
    // Handed back in add order, each add once, with the client's flags kept.
    size_t next = 0;
    for (size_t i = 1; i + 1 < events.size(); i++) {
        const StreamEvent &e = events[i];
        ASSERT_EQ(e.message, (UINT)MM_DRVM_DATA) << i;
        ASSERT_LT(next, added.size());
        ASSERT_EQ(e.header, added[next]) << "data " << next << " out of add order";
        ASSERT_EQ(e.flags, StreamClient::ClientFlags | VHDR_DONE) << next;
        ASSERT_EQ(e.bytesUsed, SmallFrame) << next;
        next++;
    }
    EXPECT_LE(added.size() - next, 4u) << "only the headers still queued at the stop are not back";
    for (const VIDEOHDR &h : client.headers)
        EXPECT_EQ(h.dwTimeCaptured, StreamClient::TimeMark);
}

// Adds straight to the driver from a thread at the highest priority, one a
// millisecond, while the capture thread adds in its callbacks.
struct RaisedAdder {
    DRIVERPROC proc;
    std::vector<VIDEOHDR> *pool;
    long refused = 0;
    static DWORD WINAPI Run(LPVOID self)
    {
        RaisedAdder &a = *static_cast<RaisedAdder *>(self);
        SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_TIME_CRITICAL);
        for (VIDEOHDR &h : *a.pool) {
            h.dwFlags = StreamClient::ClientFlags;
            a.refused += a.proc(4, reinterpret_cast<HDRVR>(0x4321), DVM_STREAM_ADDBUFFER, reinterpret_cast<LPARAM>(&h),
                                sizeof h) != DV_ERR_OK;
            Sleep(1);
        }
        return 0;
    }
};

TEST_F(Stream, AddsFromAThreadOfRaisedPriorityMeetTheCallbacksAddsOnOneProcessor)
{
    DWORD_PTR mask, system;
    ASSERT_TRUE(GetProcessAffinityMask(GetCurrentProcess(), &mask, &system));
    ASSERT_TRUE(SetProcessAffinityMask(GetCurrentProcess(), mask & (~mask + 1))); // its first processor
    StreamClient client(driverProc, 4, 4, SmallFrame);
    client.readdInCallback = true;
    std::vector<BYTE> buffers(200 * SmallFrame);
    std::vector<VIDEOHDR> pool(200);
    for (size_t i = 0; i < pool.size(); i++) {
        pool[i].lpData = &buffers[i * SmallFrame];
        pool[i].dwBufferLength = SmallFrame;
    }
    ASSERT_EQ(client.Init(), DV_ERR_OK);
    ASSERT_EQ(client.AddAll(), DV_ERR_OK);
    ASSERT_EQ(client.Send(DVM_STREAM_START), DV_ERR_OK);
    RaisedAdder adder = {driverProc, &pool};
    HANDLE thread = CreateThread(NULL, 0, RaisedAdder::Run, &adder, 0, NULL);
    JoinOrHang(thread, "the raised thread's adds");
    // At most the 200 headers of the raised thread and the client's 4 are
    // queued: 500 frames later every one of them has had its turn.
    ASSERT_TRUE(client.WaitForData(client.dataCount + 500));
    client.Send(DVM_STREAM_STOP);
    ASSERT_TRUE(client.WaitForClose());
    SetProcessAffinityMask(GetCurrentProcess(), mask);
    EXPECT_EQ(adder.refused, 0);
    // Each header back no more often than it was added: once by the raised thread, then by each callback.
    std::map<VIDEOHDR *, long> balance, back;
    for (VIDEOHDR &h : pool)
        balance[&h] = 1;
    for (VIDEOHDR *h : client.Added())
        balance[h]++;
    for (const StreamEvent &e : client.Events())
        if (e.message == MM_DRVM_DATA) {
            balance[e.header]--;
            back[e.header]++;
        }
    long unbalanced = 0, neverBack = 0;
    for (auto &entry : balance)
        unbalanced += entry.second < 0;
    for (VIDEOHDR &h : pool)
        neverBack += back[&h] == 0;
    EXPECT_EQ(unbalanced, 0) << "headers handed back more often than added";
    EXPECT_EQ(neverBack, 0) << "headers of the raised thread that never came back";
}

TEST_F(Stream, BeforeTheStartTheRingTakesAThousandHeaders)
{
    StreamClient client(driverProc, 4, 1001, 16);
    ASSERT_EQ(client.Init(), DV_ERR_OK);
    for (int i = 0; i < 1000; i++)
        ASSERT_EQ(client.Add(&client.headers[i]), DV_ERR_OK) << i;
    EXPECT_EQ(client.Add(&client.headers[1000]), DV_ERR_NO_BUFFERS);
    EXPECT_EQ(client.Added().size(), 1000u);
}

// Reads of the capture thread held until the test lets them go.
HANDLE ReadsAllowed;
void *RealReadFile;
BOOL WINAPI HeldRead(HANDLE device, LPVOID buffer, DWORD length, LPDWORD read, LPOVERLAPPED overlapped)
{
    WaitForSingleObject(ReadsAllowed, INFINITE);
    return reinterpret_cast<decltype(&ReadFile)>(RealReadFile)(device, buffer, length, read, overlapped);
}

TEST_F(Stream, WhileRunningAnAddBeyondAThousandOutstandingIsRefused)
{
    ReadsAllowed = CreateEventA(NULL, TRUE, FALSE, NULL);
    ImportPatch held(module, "kernel32.dll", "ReadFile", (void *)HeldRead);
    RealReadFile = held.original;
    StreamClient client(driverProc, 4, 1001, SmallFrame);
    ASSERT_EQ(client.Init(), DV_ERR_OK);
    for (int i = 0; i < 1000; i++)
        ASSERT_EQ(client.Add(&client.headers[i]), DV_ERR_OK);
    ASSERT_EQ(client.Send(DVM_STREAM_START), DV_ERR_OK);
    EXPECT_EQ(client.Add(&client.headers[1000]), DV_ERR_NO_BUFFERS) << "the first read has not ended";
    SetEvent(ReadsAllowed);
    ASSERT_TRUE(client.WaitForData(2));
    EXPECT_EQ(client.Add(&client.headers[1000]), DV_ERR_OK) << "a header came back: room for one";
    EXPECT_EQ(client.Send(DVM_STREAM_STOP), DV_ERR_OK);
    EXPECT_TRUE(client.WaitForClose());
    EXPECT_EQ(client.Send(DVM_STREAM_FINI), DV_ERR_OK);
    CloseHandle(ReadsAllowed);
}

TEST_F(Stream, OutOfStorageShowsOneWarningPerRunAndHandsBackZeroedFrames)
{
    SetFaults(3, StatusNoMemory);
    StreamClient client(driverProc, 4, 6, SmallFrame);
    ASSERT_EQ(client.Init(), DV_ERR_OK);
    for (int i = 0; i < 4; i++)
        ASSERT_EQ(client.Add(&client.headers[i]), DV_ERR_OK);
    ASSERT_EQ(client.Send(DVM_STREAM_START), DV_ERR_OK);
    ASSERT_TRUE(client.WaitForData(4));
    // The thread waits for a header now: the next read fails again.
    SetFaults(1, StatusNoMemory);
    for (int i = 4; i < 6; i++)
        ASSERT_EQ(client.Add(&client.headers[i]), DV_ERR_OK);
    ASSERT_TRUE(client.WaitForData(6));
    client.Send(DVM_STREAM_STOP);
    ASSERT_TRUE(client.WaitForClose());

    std::vector<StreamEvent> events = client.Events();
    ASSERT_EQ(Count(events, MM_DRVM_DATA), 6u);
    for (int i = 0; i < 3; i++) {
        const std::vector<BYTE> &b = client.buffers[i];
        EXPECT_TRUE(std::all_of(b.begin(), b.end(), [](BYTE x) { return x == 0; })) << "buffer " << i;
        EXPECT_EQ(events[1 + i].flags, StreamClient::ClientFlags | VHDR_DONE);
    }
    EXPECT_NE(client.buffers[3][0], 0xEE) << "a real frame after the run";
    ASSERT_EQ(warnings.size(), 2u) << "one box for the run of three, one after a good read";
    EXPECT_EQ(warnings[0].text, "There is not enough storage available for this format.");
    EXPECT_EQ(warnings[0].owner, nullptr);
    EXPECT_EQ(warnings[0].style, 0x30u);
}

TEST_F(Stream, AFailedReadSkipsItsHeaderAndTheNextIsRead)
{
    SetFaults(1, StatusIoDeviceError);
    StreamClient client(driverProc, 4, 3, SmallFrame);
    ASSERT_EQ(client.Init(), DV_ERR_OK);
    ASSERT_EQ(client.AddAll(), DV_ERR_OK);
    ASSERT_EQ(client.Send(DVM_STREAM_START), DV_ERR_OK);
    ASSERT_TRUE(client.WaitForData(2));
    Sleep(50); // starved now: nothing more comes back
    client.Send(DVM_STREAM_STOP);
    ASSERT_TRUE(client.WaitForClose()) << "a stop reaches a thread waiting for a header";
    std::vector<StreamEvent> events = client.Events();
    ASSERT_EQ(events.size(), 4u);
    EXPECT_EQ(events[1].header, &client.headers[1]);
    EXPECT_EQ(events[2].header, &client.headers[2]);
    EXPECT_EQ(client.headers[0].dwFlags, StreamClient::ClientFlags) << "not handed back, flags untouched";
    EXPECT_TRUE(warnings.empty());
}

TEST_F(Stream, SingleFramesOnTheFormatChannelOnly)
{
    std::vector<BYTE> buffer(SmallFrame, 0xEE);
    VIDEOHDR h = {};
    h.lpData = buffer.data();
    h.dwBufferLength = SmallFrame;
    h.dwFlags = 0x10;
    EXPECT_EQ(Send(4, DVM_FRAME, reinterpret_cast<LPARAM>(&h), sizeof h), DV_ERR_OK);
    EXPECT_EQ(h.dwFlags, 0x11u);
    EXPECT_EQ(h.dwBytesUsed, SmallFrame);
    EXPECT_NE(buffer[0], 0xEE);
    ASSERT_EQ(OpenChannelOfType(VIDEO_EXTERNALIN), 1);
    EXPECT_EQ(Send(1, DVM_FRAME, reinterpret_cast<LPARAM>(&h), sizeof h), DV_ERR_NOTSUPPORTED);
    EXPECT_EQ(Send(1, DRV_CLOSE), 1);

    SetFaults(1, StatusIoDeviceError);
    h.dwFlags = 0;
    EXPECT_EQ(Send(4, DVM_FRAME, reinterpret_cast<LPARAM>(&h), sizeof h), DV_ERR_NONSPECIFIC);
    EXPECT_EQ(h.dwFlags, 0u);
    SetFaults(1, StatusNoMemory);
    EXPECT_EQ(Send(4, DVM_FRAME, reinterpret_cast<LPARAM>(&h), sizeof h), DV_ERR_OK);
    EXPECT_EQ(buffer[0], 0);
    EXPECT_EQ(h.dwFlags, (DWORD)VHDR_DONE);
    EXPECT_EQ(warnings.size(), 1u);
}

TEST_F(Stream, EmptyPointersAndShortRecordsGetClearErrors)
{
    VIDEOHDR empty = {};
    VIDEO_STREAM_INIT_PARMS parms = {};
    EXPECT_EQ(Send(4, DVM_STREAM_INIT, 0, sizeof parms), DV_ERR_PARAM1);
    EXPECT_EQ(Send(4, DVM_STREAM_INIT, reinterpret_cast<LPARAM>(&parms), 12), DV_ERR_PARAM2);
    EXPECT_EQ(Send(4, DVM_STREAM_ADDBUFFER, 0, sizeof(VIDEOHDR)), DV_ERR_PARAM1);
    EXPECT_EQ(Send(4, DVM_STREAM_ADDBUFFER, reinterpret_cast<LPARAM>(&empty), sizeof empty), DV_ERR_PARAM1);
    EXPECT_EQ(Send(4, DVM_FRAME, 0, sizeof(VIDEOHDR)), DV_ERR_PARAM1);
    BYTE byte;
    VIDEOHDR h = {};
    h.lpData = &byte;
    h.dwBufferLength = 1;
    EXPECT_EQ(Send(4, DVM_STREAM_ADDBUFFER, reinterpret_cast<LPARAM>(&h), 20), DV_ERR_PARAM2);
    EXPECT_EQ(Send(4, DVM_FRAME, reinterpret_cast<LPARAM>(&h), 16), DV_ERR_PARAM2);
    // A 2-byte record that ends where readable memory ends: its size is
    // refused before any field past it is read.
    BYTE *pages = static_cast<BYTE *>(VirtualAlloc(NULL, 8192, MEM_COMMIT, PAGE_READWRITE));
    DWORD old;
    ASSERT_TRUE(pages && VirtualProtect(pages + 4096, 4096, PAGE_NOACCESS, &old));
    EXPECT_EQ(Send(4, DVM_STREAM_ADDBUFFER, reinterpret_cast<LPARAM>(pages + 4094), 2), DV_ERR_PARAM2);
    EXPECT_EQ(Send(4, DVM_FRAME, reinterpret_cast<LPARAM>(pages + 4094), 2), DV_ERR_PARAM2);
    VirtualFree(pages, 0, MEM_RELEASE);
}

TEST_F(Stream, MessagesWithoutAnEffectAnswerNotSupported)
{
    for (UINT message : {0x412Eu, 0x412Fu, 0x4131u,
                         0x4132u, 0x4135u, 0x4150u, 0x418Fu}) // GETERROR, GETPOSITION, PREPAREHEADER, RESET, UNPREPAREHEADER
        EXPECT_EQ(Send(4, message, 0, 0), DV_ERR_NOTSUPPORTED) << std::hex << message;
    VIDEOHDR h = {};
    BYTE byte;
    h.lpData = &byte;
    for (UINT message = DVM_STREAM_MSG_START; message <= DVM_STREAM_MSG_END; message++)
        EXPECT_EQ(Send(2, message, reinterpret_cast<LPARAM>(&h), sizeof h), DV_ERR_NOTSUPPORTED);
    EXPECT_EQ(Send(4, DVM_STREAM_FINI), DV_ERR_OK);
}

TEST_F(Stream, BothChannelsDriveTheOneStream)
{
    ASSERT_EQ(OpenChannelOfType(VIDEO_EXTERNALIN), 1);
    StreamClient viaSource(driverProc, 1, 2, SmallFrame);
    ASSERT_EQ(viaSource.Init(), DV_ERR_OK);
    ASSERT_EQ(viaSource.AddAll(), DV_ERR_OK);
    ASSERT_EQ(Send(4, DVM_STREAM_START), DV_ERR_OK);
    ASSERT_TRUE(viaSource.WaitForData(2));
    EXPECT_EQ(Send(1, DVM_STREAM_STOP), DV_ERR_OK);
    EXPECT_TRUE(viaSource.WaitForClose());
    EXPECT_EQ(Send(1, DRV_CLOSE), 1);
}

TEST_F(Stream, ARefusedRestartFailsTheInitButTheStreamStillRuns)
{
    SetFaults(0, 0, 0x001D0840);
    StreamClient client(driverProc, 4, 2, SmallFrame);
    EXPECT_EQ(client.Init(), DV_ERR_NONSPECIFIC);
    ASSERT_EQ(client.AddAll(), DV_ERR_OK);
    ASSERT_EQ(client.Send(DVM_STREAM_START), DV_ERR_OK);
    EXPECT_TRUE(client.WaitForData(2)) << "the new parameters name this client's callback";
    client.Send(DVM_STREAM_STOP);
    EXPECT_TRUE(client.WaitForClose());
}

// The host may free its headers and callback once DVM_STREAM_FINI has
// answered: a stream still running has ended by then.
TEST_F(Stream, AFiniEndsARunningStreamBeforeItAnswers)
{
    StreamClient client(driverProc, 4, 2, SmallFrame);
    client.readdInCallback = true;
    ASSERT_EQ(client.Init(), DV_ERR_OK);
    ASSERT_EQ(client.AddAll(), DV_ERR_OK);
    ASSERT_EQ(client.Send(DVM_STREAM_START), DV_ERR_OK);
    ASSERT_TRUE(client.WaitForData(2));
    EXPECT_EQ(client.Send(DVM_STREAM_FINI), DV_ERR_OK);
    EXPECT_TRUE(client.WaitForClose(0)) << "the stream ended before the answer";
    size_t after = client.Events().size();
    EXPECT_EQ(client.Send(DVM_STREAM_START), DV_ERR_NONSPECIFIC) << "no stream without a new init";
    Sleep(50);
    EXPECT_EQ(client.Events().size(), after) << "no callback once the fini has answered";
}

TEST_F(Stream, AStopAlwaysReachesTheThread)
{
    // Before the thread has created its event.
    StreamClient early(driverProc, 4, 2, SmallFrame);
    ASSERT_EQ(early.Init(), DV_ERR_OK);
    ASSERT_EQ(early.Send(DVM_STREAM_START), DV_ERR_OK);
    ASSERT_EQ(early.Send(DVM_STREAM_STOP), DV_ERR_OK);
    EXPECT_TRUE(early.WaitForClose());

    // While it waits for a header, and after an init that replaced its event.
    StreamClient starved(driverProc, 4, 1, SmallFrame);
    ASSERT_EQ(starved.Init(), DV_ERR_OK);
    ASSERT_EQ(starved.Send(DVM_STREAM_START), DV_ERR_OK);
    Sleep(20);
    StreamClient next(driverProc, 4, 1, SmallFrame);
    ASSERT_EQ(next.Init(), DV_ERR_OK);
    EXPECT_TRUE(starved.WaitForClose(0)) << "the init ended the running stream first";
    ASSERT_EQ(next.Send(DVM_STREAM_START), DV_ERR_OK);
    ASSERT_EQ(next.Send(DVM_STREAM_STOP), DV_ERR_OK);
    EXPECT_TRUE(next.WaitForClose());
}

TEST_F(Stream, ASecondStartDoesNotStartASecondThread)
{
    StreamClient client(driverProc, 4, 2, SmallFrame);
    ASSERT_EQ(client.Init(), DV_ERR_OK);
    ASSERT_EQ(client.Send(DVM_STREAM_START), DV_ERR_OK);
    ASSERT_EQ(Send(4, DVM_STREAM_START), DV_ERR_OK);
    ASSERT_EQ(client.AddAll(), DV_ERR_OK);
    ASSERT_TRUE(client.WaitForData(2));
    client.Send(DVM_STREAM_STOP);
    ASSERT_TRUE(client.WaitForClose());
    std::vector<StreamEvent> events = client.Events();
    EXPECT_EQ(Count(events, MM_DRVM_OPEN), 1u);
    EXPECT_EQ(Count(events, MM_DRVM_DATA), 2u) << "each header read once";
}

TEST_F(Stream, TheLastCloseEndsARunningStreamBeforeItReturns)
{
    ASSERT_EQ(OpenChannelOfType(VIDEO_EXTERNALIN), 1);
    StreamClient client(driverProc, 4, 3, SmallFrame);
    client.readdInCallback = true;
    ASSERT_EQ(client.Init(), DV_ERR_OK);
    ASSERT_EQ(client.AddAll(), DV_ERR_OK);
    ASSERT_EQ(client.Send(DVM_STREAM_START), DV_ERR_OK);
    ASSERT_TRUE(client.WaitForData(20));
    EXPECT_EQ(Send(4, DRV_CLOSE), 1);
    EXPECT_FALSE(client.WaitForClose(0)) << "a channel's close does not stop the stream";
    EXPECT_EQ(Send(1, DRV_CLOSE), 1);
    EXPECT_TRUE(client.WaitForClose(0)) << "the last close waited for the thread";
    size_t after = client.Events().size();
    Sleep(50);
    EXPECT_EQ(client.Events().size(), after) << "no callback after the close returned";
    ASSERT_EQ(OpenChannelOfType(VIDEO_IN), 4); // for TearDown
}

TEST_F(Stream, HeadersQueuedAtTheLastCloseAreNeverTouchedByTheNextSession)
{
    StreamClient old(driverProc, 4, 2, SmallFrame);
    ASSERT_EQ(old.Init(), DV_ERR_OK);
    ASSERT_EQ(old.AddAll(), DV_ERR_OK);
    ASSERT_EQ(Send(4, DRV_CLOSE), 1); // from here the client may free them
    ASSERT_EQ(OpenChannelOfType(VIDEO_IN), 4);
    EXPECT_EQ(Send(4, DVM_STREAM_START), DV_ERR_NONSPECIFIC) << "the new session has no stream before its init";
    EXPECT_EQ(Count(old.Events(), MM_DRVM_DATA), 0u);
    for (const VIDEOHDR &h : old.headers)
        EXPECT_EQ(h.dwFlags & VHDR_DONE, 0u) << "a header of the closed session was filled";
}

HANDLE WINAPI RefuseThread(LPSECURITY_ATTRIBUTES, SIZE_T, LPTHREAD_START_ROUTINE, LPVOID, DWORD, LPDWORD)
{
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return NULL;
}

TEST_F(Stream, AStartWithoutACaptureThreadFails)
{
    StreamClient client(driverProc, 4, 2, SmallFrame);
    ASSERT_EQ(client.Init(), DV_ERR_OK);
    ASSERT_EQ(client.AddAll(), DV_ERR_OK);
    {
        ImportPatch refuse(module, "kernel32.dll", "CreateThread", (void *)RefuseThread);
        ASSERT_NE(refuse.original, nullptr);
        EXPECT_EQ(client.Send(DVM_STREAM_START), DV_ERR_NOMEM);
    }
    EXPECT_EQ(client.Send(DVM_STREAM_START), DV_ERR_OK) << "a later start works";
    EXPECT_TRUE(client.WaitForData(2));
    client.Send(DVM_STREAM_STOP);
    EXPECT_TRUE(client.WaitForClose());
}

}
