// The host's path: winmm's OpenDriver, SendDriverMessage and CloseDriver, as
// the system's video-capture layer drives the driver.
#include "capture_rig.h"
#include <cstring>

namespace {

class Host : public CaptureDriverTest {
protected:
    static HDRVR Open(DWORD channel, VIDEO_OPEN_PARMS *open)
    {
        *open = VIDEO_OPEN_PARMS{sizeof *open, mmioFOURCC('v', 'c', 'a', 'p'), 0, 0x0300, channel, 0xDEADBEEF,
                                 nullptr, nullptr, 0};
        return OpenDriver(L"zentacap.dll", NULL, reinterpret_cast<LPARAM>(open));
    }
};

TEST_F(Host, CapturesTheFormatThroughBothChannelsOnOneDevice)
{
    VIDEO_OPEN_PARMS openIn, openExternal;
    HDRVR in = Open(VIDEO_IN, &openIn);
    ASSERT_NE(in, nullptr);
    EXPECT_EQ(openIn.dwError, 0u);
    HDRVR external = Open(VIDEO_EXTERNALIN, &openExternal);
    ASSERT_NE(external, nullptr);

    BITMAPINFOHEADER h = {};
    VIDEOCONFIGPARMS get = {nullptr, &h, sizeof h, nullptr, 0};
    EXPECT_EQ(SendDriverMessage(in, DVM_FORMAT, VIDEO_CONFIGURE_GET | VIDEO_CONFIGURE_CURRENT,
                                reinterpret_cast<LPARAM>(&get)), DV_ERR_OK);
    EXPECT_EQ(h.biWidth, 160);
    EXPECT_EQ(h.biSizeImage, 38400u);
    EXPECT_EQ(SendDriverMessage(external, DVM_FORMAT, VIDEO_CONFIGURE_GET | VIDEO_CONFIGURE_CURRENT,
                                reinterpret_cast<LPARAM>(&get)), DV_ERR_NOTSUPPORTED);

    BITMAPINFOHEADER set = h;
    set.biWidth = 80;
    set.biHeight = 60;
    set.biSizeImage = 9600;
    VIDEOCONFIGPARMS put = {nullptr, &set, sizeof set, nullptr, 0};
    EXPECT_EQ(SendDriverMessage(in, DVM_FORMAT, VIDEO_CONFIGURE_SET, reinterpret_cast<LPARAM>(&put)), DV_ERR_OK);

    char text[64];
    VIDEO_GETERRORTEXT_PARMS error = {101, text, sizeof text};
    EXPECT_EQ(SendDriverMessage(external, DVM_GETERRORTEXT, reinterpret_cast<LPARAM>(&error), 0), DV_ERR_OK);
    EXPECT_STREQ(text, "Capture device was not detected.");
    DWORD version = 0;
    EXPECT_EQ(SendDriverMessage(external, DVM_GETVIDEOAPIVER, reinterpret_cast<LPARAM>(&version), 0), DV_ERR_OK);
    EXPECT_EQ(version, 3u);

    EXPECT_EQ(CloseDriver(external, 0, 0), 1);
    BoardStatus status;
    ASSERT_TRUE(GetBoardStatus(&status));
    EXPECT_EQ(status.openers, 1u);
    EXPECT_EQ(CloseDriver(in, 0, 0), 1);
    EXPECT_TRUE(WaitForBoardClosed());

    std::vector<JournalEntry> j = ReadBoardJournal();
    ASSERT_EQ(j.size(), 5u);
    EXPECT_EQ(j[0].kind, (uint32_t)JOURNAL_OPEN);
    EXPECT_EQ(j[1].code, 0x001D0808u);
    EXPECT_EQ(j[2].code, 0x001D0804u);
    EXPECT_EQ(j[3].code, 0x001D0804u);
    EXPECT_EQ(std::memcmp(j[3].data + 8, "\x50\0\0\0\x3c\0\0\0", 8), 0) << "80 x 60 reached the device";
    EXPECT_EQ(j[4].kind, (uint32_t)JOURNAL_CLOSE);
}

TEST_F(Host, ARefusedOpenReturnsNoHandleWithTheErrorInTheOpenParameters)
{
    BoardFaults faults = {1, 1, 0, 0, 0};
    ASSERT_TRUE(SetBoardFaults(faults));
    VIDEO_OPEN_PARMS open;
    EXPECT_EQ(Open(VIDEO_IN, &open), nullptr);
    EXPECT_EQ(open.dwError, (DWORD)DV_ERR_NOTDETECTED);
}

TEST_F(Host, AConfigurationOpenHasNoDevice)
{
    HDRVR config = OpenDriver(L"zentacap.dll", NULL, 0);
    ASSERT_NE(config, nullptr);
    EXPECT_EQ(SendDriverMessage(config, DRV_QUERYCONFIGURE, 0, 0), 1);
    EXPECT_EQ(CloseDriver(config, 0, 0), 1);
    EXPECT_TRUE(ReadBoardJournal().empty());
}

}
