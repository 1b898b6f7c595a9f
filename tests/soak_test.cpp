// Soak: many stream cycles and channel open/close cycles leave the process's
// handles and private memory where they were.
#include "capture_rig.h"
#include "stream_client.h"
#include "process_usage.h"

namespace {

const DWORD SmallFrame = 80 * 60 * 2;

class Soak : public CaptureDriverTest {
protected:
    void SetUp() override
    {
        CaptureDriverTest::SetUp();
        StoreSetting("Width", 80);
        StoreSetting("Height", 60);
    }
    void StreamCycle(StreamClient &client)
    {
        ASSERT_EQ(client.Init(), DV_ERR_OK);
        // The record of callbacks would grow over the cycles: this process's memory, not the driver's.
        client.Forget();
        ASSERT_EQ(client.AddAll(), DV_ERR_OK);
        ASSERT_EQ(client.Send(DVM_STREAM_START), DV_ERR_OK);
        ASSERT_EQ(client.Send(DVM_STREAM_STOP), DV_ERR_OK);
        ASSERT_EQ(client.Send(DVM_STREAM_FINI), DV_ERR_OK);
    }
};

// Sizes: a handle left by a cycle shows after one cycle, and anything a
// cycle could leave in memory (a thread's stack or block) is a page or more,
// 800 KiB over 200 cycles; the handle count is exact. More cycles would only
// repeat the same cycle.
const int Cycles = 200;
// Wine's heap grows in steps of 64 KiB (one step seen over 200 cycles): a
// quarter of what the smallest leak would leave is allowed.
const SIZE_T Drift = Cycles * 4096 / 4;

TEST_F(Soak, TwoHundredStreamCyclesLeakNothing)
{
    ASSERT_EQ(OpenChannelOfType(VIDEO_IN), 4);
    StreamClient client(driverProc, 4, 2, SmallFrame);
    // Wine's own structures for new threads settle over the first hundred or so.
    for (int i = 0; i < 100; i++) StreamCycle(client);
    // Measured as after the cycles: an init has joined the last thread and closed its handle.
    ASSERT_EQ(client.Init(), DV_ERR_OK);
    ProcessUsage before = MeasureProcess();
    ASSERT_TRUE(before.handles && before.privateBytes) << "the handles and private memory cannot be counted";
    for (int i = 0; i < Cycles; i++) StreamCycle(client);
    // The next init waits for the last thread; then every cycle has ended.
    ASSERT_EQ(client.Init(), DV_ERR_OK);
    ProcessUsage after = MeasureProcess();
    EXPECT_EQ(after.handles, before.handles);
    // The driver allocates no memory of its own.
    EXPECT_LE(after.privateBytes, before.privateBytes + Drift);
    EXPECT_EQ(Send(4, DRV_CLOSE), 1);
}

TEST_F(Soak, TwoHundredChannelOpenCloseCyclesLeakNothing)
{
    for (int i = 0; i < 20; i++) {
        ASSERT_EQ(OpenChannelOfType(i % 2 ? VIDEO_IN : VIDEO_EXTERNALIN), i % 2 ? 4 : 1);
        ASSERT_EQ(Send(i % 2 ? 4 : 1, DRV_CLOSE), 1);
    }
    ProcessUsage before = MeasureProcess();
    ASSERT_TRUE(before.handles && before.privateBytes) << "the handles and private memory cannot be counted";
    for (int i = 0; i < Cycles; i++) {
        ASSERT_EQ(OpenChannelOfType(VIDEO_EXTERNALIN), 1);
        ASSERT_EQ(OpenChannelOfType(VIDEO_IN), 4);
        ASSERT_EQ(Send(1, DRV_CLOSE), 1);
        ASSERT_EQ(Send(4, DRV_CLOSE), 1);
    }
    ProcessUsage after = MeasureProcess();
    EXPECT_EQ(after.handles, before.handles);
    EXPECT_LE(after.privateBytes, before.privateBytes + Drift);
}

}
