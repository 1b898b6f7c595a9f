// Driver entry and dispatch: what DriverProc answers, called as a host calls it.
#include "capture_rig.h"
#include <cstring>

namespace {

struct DefDriverCall { int count; DWORD_PTR id; HDRVR driver; UINT message; LPARAM p1, p2; } Passed;

LRESULT WINAPI RecordDefDriverProc(DWORD_PTR id, HDRVR driver, UINT message, LPARAM p1, LPARAM p2)
{
    Passed = {Passed.count + 1, id, driver, message, p1, p2};
    return 0x600D;
}

class DriverEntry : public CaptureDriverTest {
protected:
    void SetUp() override
    {
        CaptureDriverTest::SetUp();
        Passed = {};
        defDriverProc.reset(new ImportPatch(module, "winmm.dll", "DefDriverProc", (void *)RecordDefDriverProc));
        ASSERT_NE(defDriverProc->original, nullptr);
    }
    void TearDown() override
    {
        defDriverProc.reset();
        CaptureDriverTest::TearDown();
    }
    std::unique_ptr<ImportPatch> defDriverProc;
};

TEST_F(DriverEntry, InstallableDriverMessagesAnswerOneForEveryInstance)
{
    for (DWORD_PTR id : {0u, 9999u, 1u, 4u}) {
        for (UINT message : {DRV_LOAD, DRV_ENABLE, DRV_DISABLE, DRV_FREE, DRV_QUERYCONFIGURE})
            EXPECT_EQ(Send(id, message), 1) << "message " << message << " instance " << id;
    }
    EXPECT_EQ(Passed.count, 0);
}

TEST_F(DriverEntry, OpenWithoutParametersIsAConfigurationInstanceWithoutDevice)
{
    EXPECT_EQ(Send(0, DRV_OPEN, 0, 0), 9999);
    EXPECT_EQ(Send(9999, DRV_CLOSE), 1);
    EXPECT_EQ(Send(0, DRV_CLOSE), 1);
    EXPECT_TRUE(ReadBoardJournal().empty());
}

TEST_F(DriverEntry, OpenOfAnotherTypeThanVcapIsRefusedUntouched)
{
    VIDEO_OPEN_PARMS open = {sizeof open, mmioFOURCC('v', 'i', 'd', 's'), 0, 0, VIDEO_IN, 0xDEADBEEF, 0, 0, 0};
    EXPECT_EQ(Send(0, DRV_OPEN, 0, reinterpret_cast<LPARAM>(&open)), 0);
    EXPECT_EQ(open.dwError, 0xDEADBEEFu);
    EXPECT_TRUE(ReadBoardJournal().empty());
}

TEST_F(DriverEntry, ApiVersionIsAnsweredForAnyInstanceWithoutDefDriverProc)
{
    DWORD version = 0;
    EXPECT_EQ(Send(0, DVM_GETVIDEOAPIVER, reinterpret_cast<LPARAM>(&version)), DV_ERR_OK);
    EXPECT_EQ(version, 3u);
    version = 0;
    EXPECT_EQ(Send(4, DVM_GETVIDEOAPIVER, reinterpret_cast<LPARAM>(&version)), DV_ERR_OK);
    EXPECT_EQ(version, 3u);
    EXPECT_EQ(Send(9999, DVM_GETVIDEOAPIVER, 0), DV_ERR_PARAM1);
    EXPECT_EQ(Passed.count, 0);
}

TEST_F(DriverEntry, OtherMessagesToInstanceZeroOrConfigurationGoToDefDriverProcUnchanged)
{
    EXPECT_EQ(Send(0, 15 /* DRV_POWER */, 11, 22), 0x600D);
    EXPECT_EQ(Passed.count, 1);
    EXPECT_EQ(Passed.id, 0u);
    EXPECT_EQ(Passed.driver, reinterpret_cast<HDRVR>(0x1234));
    EXPECT_EQ(Passed.message, 15u);
    EXPECT_EQ(Passed.p1, 11);
    EXPECT_EQ(Passed.p2, 22);
    EXPECT_EQ(Send(9999, DVM_FORMAT, 1, 2), 0x600D);
    EXPECT_EQ(Passed.id, 9999u);
    EXPECT_EQ(Passed.message, (UINT)DVM_FORMAT);
}

TEST_F(DriverEntry, UnknownMessagesToAChannelAnswerNotSupported)
{
    for (UINT message : {(UINT)DVM_PALETTE, (UINT)DVM_CONFIGURESTORAGE, 15u, 0x4002u, 0x4190u})
        EXPECT_EQ(Send(1, message, 0, 0), DV_ERR_NOTSUPPORTED) << message;
    EXPECT_EQ(Passed.count, 0);
}

TEST_F(DriverEntry, FormatFlagsAreComparedByExactValue)
{
    DWORD size = 0;
    VIDEOCONFIGPARMS parms = {&size, nullptr, 0, nullptr, 0};
    LPARAM p = reinterpret_cast<LPARAM>(&parms);
    EXPECT_EQ(Send(1, DVM_FORMAT, VIDEO_CONFIGURE_QUERYSIZE, p), DV_ERR_NOTSUPPORTED);
    EXPECT_EQ(size, 0u);
    EXPECT_EQ(Send(4, DVM_FORMAT, 0x0001, p), DV_ERR_OK);
    EXPECT_EQ(size, 40u);
    size = 0;
    EXPECT_EQ(Send(4, DVM_FORMAT, 0x2001, p), DV_ERR_OK);
    EXPECT_EQ(size, 40u);
    EXPECT_EQ(Send(4, DVM_FORMAT, 0x9000, p), DV_ERR_OK);
    EXPECT_EQ(Send(4, DVM_FORMAT, 0xA000, p), DV_ERR_OK);
    for (DWORD flags : {0x2020u, 0x2040u, 0x2080u, 0x8000u, 0x0000u, 0x1001u, 0x3000u})
        EXPECT_EQ(Send(4, DVM_FORMAT, flags, p), DV_ERR_NOTSUPPORTED) << std::hex << flags;
}

TEST_F(DriverEntry, DestinationRectangleIsTheFullFrameForGetCurrentAndMax)
{
    RECT rect = {1, 2, 3, 4};
    EXPECT_EQ(Send(1, DVM_DST_RECT, reinterpret_cast<LPARAM>(&rect), 0x2010), DV_ERR_OK);
    EXPECT_EQ(rect.left, 0); EXPECT_EQ(rect.top, 0); EXPECT_EQ(rect.right, 640); EXPECT_EQ(rect.bottom, 480);
    rect = {1, 2, 3, 4};
    EXPECT_EQ(Send(4, DVM_DST_RECT, reinterpret_cast<LPARAM>(&rect), 0x2080), DV_ERR_OK);
    EXPECT_EQ(rect.right, 640);
    rect = {1, 2, 3, 4};
    EXPECT_EQ(Send(4, DVM_DST_RECT, reinterpret_cast<LPARAM>(&rect), 0x1000), DV_ERR_NOTSUPPORTED);
    EXPECT_EQ(rect.left, 1);
    EXPECT_EQ(rect.right, 3) << "a refused rectangle is not written";
    EXPECT_EQ(Send(2, DVM_DST_RECT, reinterpret_cast<LPARAM>(&rect), 0x2010), DV_ERR_NOTSUPPORTED);
}

TEST_F(DriverEntry, RectangleChecksANullPointerFirstAndNeverServesTheSource)
{
    RECT rect = {};
    EXPECT_EQ(Send(1, DVM_SRC_RECT, 0, 0x2010), DV_ERR_PARAM1);
    EXPECT_EQ(Send(2, DVM_DST_RECT, 0, 0x2010), DV_ERR_PARAM1);
    EXPECT_EQ(Send(4, DVM_SRC_RECT, reinterpret_cast<LPARAM>(&rect), 0x2010), DV_ERR_NOTSUPPORTED);
}

TEST_F(DriverEntry, ChannelCapsReportScalingOnlyOnTheSourceChannel)
{
    CHANNEL_CAPS caps;
    std::memset(&caps, 0x55, sizeof caps);
    EXPECT_EQ(Send(1, DVM_GET_CHANNEL_CAPS, reinterpret_cast<LPARAM>(&caps), sizeof caps), DV_ERR_OK);
    EXPECT_EQ(caps.dwFlags, 8u);
    const DWORD expected[8] = {640, 480, 640, 480, 80, 60, 80, 60};
    EXPECT_EQ(std::memcmp(&caps.dwSrcRectXMod, expected, sizeof expected), 0);
    std::memset(&caps, 0x55, sizeof caps);
    EXPECT_EQ(Send(4, DVM_GET_CHANNEL_CAPS, reinterpret_cast<LPARAM>(&caps), sizeof caps), DV_ERR_OK);
    EXPECT_EQ(caps.dwFlags, 0u);
    EXPECT_EQ(std::memcmp(&caps.dwSrcRectXMod, expected, sizeof expected), 0);
    std::memset(&caps, 0x55, sizeof caps);
    EXPECT_EQ(Send(2, DVM_GET_CHANNEL_CAPS, reinterpret_cast<LPARAM>(&caps), sizeof caps), DV_ERR_NOTSUPPORTED);
    EXPECT_EQ(caps.dwFlags, 0u) << "cleared before the channel is examined";
    EXPECT_EQ(caps.dwSrcRectXMod, 0x55555555u);
}

// Records the host left out or made too short are refused and nothing is
// written past them.
TEST_F(DriverEntry, MissingOrShortRecordsAreRefusedUnwritten)
{
    CHANNEL_CAPS caps;
    std::memset(&caps, 0x55, sizeof caps);
    EXPECT_EQ(Send(4, DVM_GET_CHANNEL_CAPS, reinterpret_cast<LPARAM>(&caps), sizeof caps - 4), DV_ERR_PARAM2);
    EXPECT_EQ(caps.dwFlags, 0x55555555u);
    EXPECT_EQ(Send(1, DVM_GET_CHANNEL_CAPS, 0, sizeof caps), DV_ERR_PARAM1);
    VIDEOCONFIGPARMS empty = {};
    EXPECT_EQ(Send(4, DVM_FORMAT, VIDEO_CONFIGURE_QUERYSIZE, 0), DV_ERR_PARAM2);
    EXPECT_EQ(Send(4, DVM_FORMAT, VIDEO_CONFIGURE_QUERYSIZE, reinterpret_cast<LPARAM>(&empty)), DV_ERR_PARAM2);
    VIDEO_GETERRORTEXT_PARMS noText = {DV_ERR_NOTDETECTED, nullptr, 64};
    EXPECT_EQ(Send(4, DVM_GETERRORTEXT, reinterpret_cast<LPARAM>(&noText)), DV_ERR_PARAM1);
    EXPECT_EQ(Send(4, DVM_GETERRORTEXT, 0), DV_ERR_PARAM1);
    ASSERT_EQ(OpenChannelOfType(VIDEO_IN), 4);
    empty.dwSize1 = sizeof(BITMAPINFOHEADER);
    for (DWORD flags : {VIDEO_CONFIGURE_SET, VIDEO_CONFIGURE_GET | VIDEO_CONFIGURE_CURRENT})
        EXPECT_EQ(Send(4, DVM_FORMAT, flags, reinterpret_cast<LPARAM>(&empty)), DV_ERR_PARAM2) << flags;
    EXPECT_EQ(Send(4, DRV_CLOSE), 1);
}

}
