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

TEST_F(Soak, AThousandStreamCyclesLeakNothing)
{
    ASSERT_EQ(OpenChannelOfType(VIDEO_IN), 4);
    StreamClient client(driverProc, 4, 2, SmallFrame);
    // Wine's own structures for new threads settle over the first hundred or so.
    for (int i = 0; i < 100; i++) StreamCycle(client);
    // Measured as after the cycles: an init has joined the last thread and closed its handle.
    ASSERT_EQ(client.Init(), DV_ERR_OK);
    ProcessUsage before = MeasureProcess();
    ASSERT_TRUE(before.handles && before.privateBytes) << "the handles and private memory cannot be counted";
    for (int i = 0; i < 1000; i++) StreamCycle(client);
    // The next init waits for the last thread; then every cycle has ended.
    ASSERT_EQ(client.Init(), DV_ERR_OK);
    ProcessUsage after = MeasureProcess();
    EXPECT_EQ(after.handles, before.handles);
    // The driver allocates no memory of its own: what a cycle could leave is a
    // thread's stack or block, a page or more each. Wine's heap drifts by
    // about 80 KiB over these cycles; a page per 16 cycles is allowed.
    EXPECT_LE(after.privateBytes, before.privateBytes + 1000 * 4096 / 16);
    EXPECT_EQ(Send(4, DRV_CLOSE), 1);
}

TEST_F(Soak, AThousandChannelOpenCloseCyclesLeakNothing)
{
    for (int i = 0; i < 20; i++) {
        ASSERT_EQ(OpenChannelOfType(i % 2 ? VIDEO_IN : VIDEO_EXTERNALIN), i % 2 ? 4 : 1);
        ASSERT_EQ(Send(i % 2 ? 4 : 1, DRV_CLOSE), 1);
    }
    ProcessUsage before = MeasureProcess();
    ASSERT_TRUE(before.handles && before.privateBytes) << "the handles and private memory cannot be counted";
    for (int i = 0; i < 1000; i++) {
        ASSERT_EQ(OpenChannelOfType(VIDEO_EXTERNALIN), 1);
        ASSERT_EQ(OpenChannelOfType(VIDEO_IN), 4);
        ASSERT_EQ(Send(1, DRV_CLOSE), 1);
        ASSERT_EQ(Send(4, DRV_CLOSE), 1);
    }
    ProcessUsage after = MeasureProcess();
    EXPECT_EQ(after.handles, before.handles);
    EXPECT_LE(after.privateBytes, before.privateBytes + 64 * 1024);
}

}
