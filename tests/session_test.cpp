// The capture session and the device protocol, observed through the board's
// journal and status and through DVM_FORMAT.
#include "capture_rig.h"
#include <cstring>

namespace {

const uint8_t DefaultSourceBytes[12] = {12, 0, 0, 0, 0, 0, 0, 0, 0, 64, 128, 64};
const uint8_t DefaultFormatBytes[28] = {28, 0, 0, 0, 2, 0, 0, 0, 160, 0, 0, 0, 120, 0, 0, 0,
                                        2, 2, 0, 0, 36, 0, 0, 0, 3, 0, 0, 0};

class Session : public CaptureDriverTest {
protected:
    DWORD GetFormat(BITMAPINFOHEADER *header, DWORD size = sizeof(BITMAPINFOHEADER))
    {
        VIDEOCONFIGPARMS parms = {nullptr, header, size, nullptr, 0};
        return (DWORD)Send(4, DVM_FORMAT, VIDEO_CONFIGURE_GET | VIDEO_CONFIGURE_CURRENT, reinterpret_cast<LPARAM>(&parms));
    }
    DWORD SetFormat(const BITMAPINFOHEADER &header, DWORD size = sizeof(BITMAPINFOHEADER))
    {
        VIDEOCONFIGPARMS parms = {nullptr, const_cast<BITMAPINFOHEADER *>(&header), size, nullptr, 0};
        return (DWORD)Send(4, DVM_FORMAT, VIDEO_CONFIGURE_SET, reinterpret_cast<LPARAM>(&parms));
    }
    static size_t Opens()
    {
        size_t opens = 0;
        for (const JournalEntry &e : ReadBoardJournal()) opens += e.kind == JOURNAL_OPEN;
        return opens;
    }
};

BITMAPINFOHEADER Header(LONG width, LONG height, WORD bits, DWORD compression)
{
    BITMAPINFOHEADER h = {};
    h.biSize = 40;
    h.biWidth = width;
    h.biHeight = height;
    h.biPlanes = 1;
    h.biBitCount = bits;
    h.biCompression = compression;
    h.biSizeImage = (bits * width + 31) / 32 * 4 * height;
    return h;
}

TEST_F(Session, FirstOpenSendsTheDefaultsAndBuildsTheHeader)
{
    ASSERT_EQ(OpenChannelOfType(VIDEO_IN), 4);
    std::vector<JournalEntry> requests = BoardRequests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].code, 0x001D0808u);
    EXPECT_EQ(requests[0].length, 12u);
    EXPECT_EQ(std::memcmp(requests[0].data, DefaultSourceBytes, 12), 0);
    EXPECT_EQ(requests[1].code, 0x001D0804u);
    EXPECT_EQ(requests[1].length, 28u);
    EXPECT_EQ(std::memcmp(requests[1].data, DefaultFormatBytes, 28), 0);

    BITMAPINFOHEADER h;
    ASSERT_EQ(GetFormat(&h), DV_ERR_OK);
    EXPECT_EQ(h.biSize, 40u);
    EXPECT_EQ(h.biWidth, 160);
    EXPECT_EQ(h.biHeight, 120);
    EXPECT_EQ(h.biPlanes, 1);
    EXPECT_EQ(h.biBitCount, 16);
    EXPECT_EQ(h.biCompression, (DWORD)BI_RGB);
    EXPECT_EQ(h.biSizeImage, 38400u);
    EXPECT_EQ(h.biXPelsPerMeter, 0);
    EXPECT_EQ(h.biClrUsed, 0u);
    EXPECT_EQ(Send(4, DRV_CLOSE), 1);
}

TEST_F(Session, StoredFormatCodeSetsTheHeadersCompressionAndDepth)
{
    BITMAPINFOHEADER h;
    StoreSetting("Format", 3);
    ASSERT_EQ(OpenChannelOfType(VIDEO_IN), 4);
    ASSERT_EQ(GetFormat(&h), DV_ERR_OK);
    EXPECT_EQ(h.biBitCount, 32);
    EXPECT_EQ(h.biCompression, (DWORD)BI_RGB);
    EXPECT_EQ(h.biSizeImage, 76800u);
    EXPECT_EQ(Send(4, DRV_CLOSE), 1);
    ASSERT_TRUE(WaitForBoardClosed());

    StoreSetting("Format", 1);
    StoreSetting("Width", 322); // loads as 320
    ASSERT_EQ(OpenChannelOfType(VIDEO_IN), 4);
    ASSERT_EQ(GetFormat(&h), DV_ERR_OK);
    EXPECT_EQ(h.biCompression, 0x32595559u);
    EXPECT_EQ(h.biBitCount, 16);
    EXPECT_EQ(h.biWidth, 320);
    EXPECT_EQ(h.biSizeImage, 76800u);
    EXPECT_EQ(Send(4, DRV_CLOSE), 1);
}

TEST_F(Session, BothChannelsShareOneDeviceUntilTheLastClose)
{
    ASSERT_EQ(OpenChannelOfType(VIDEO_EXTERNALIN), 1);
    StoreSetting("Width", 320); // not read again by the second open
    ASSERT_EQ(OpenChannelOfType(VIDEO_IN), 4);
    EXPECT_EQ(Opens(), 1u);
    EXPECT_EQ(BoardRequests().size(), 2u);
    BITMAPINFOHEADER h;
    ASSERT_EQ(GetFormat(&h), DV_ERR_OK);
    EXPECT_EQ(h.biWidth, 160);

    EXPECT_EQ(Send(1, DRV_CLOSE), 1);
    ASSERT_EQ(GetFormat(&h), DV_ERR_OK) << "the device stays open for channel 4";
    BoardStatus status;
    ASSERT_TRUE(GetBoardStatus(&status));
    EXPECT_EQ(status.openers, 1u);
    EXPECT_EQ(Send(4, DRV_CLOSE), 1);
    EXPECT_TRUE(WaitForBoardClosed());
    EXPECT_EQ(Send(4, DRV_CLOSE), 0) << "no session any more";
    EXPECT_EQ(Opens(), 1u);
}

TEST_F(Session, ASecondOpenOfAnOpenChannelFailsQuietlyAndTheFirstKeepsWorking)
{
    VIDEO_OPEN_PARMS second;
    ASSERT_EQ(OpenChannelOfType(VIDEO_IN), 4);
    EXPECT_EQ(OpenChannelOfType(VIDEO_IN, &second), 0);
    EXPECT_EQ(second.dwError, 0u);
    BITMAPINFOHEADER h;
    EXPECT_EQ(GetFormat(&h), DV_ERR_OK);
    EXPECT_EQ(Send(4, DRV_CLOSE), 1);
    EXPECT_TRUE(WaitForBoardClosed()) << "one close released the one remaining reference";
    EXPECT_EQ(Opens(), 1u);
}

TEST_F(Session, AnOpenOfAnotherChannelTypeInitialisesTheDeviceAndClosesItAgain)
{
    VIDEO_OPEN_PARMS open;
    EXPECT_EQ(OpenChannelOfType(8, &open), 0);
    EXPECT_EQ(open.dwError, 0u);
    EXPECT_TRUE(WaitForBoardClosed());
    std::vector<JournalEntry> j = ReadBoardJournal();
    ASSERT_EQ(j.size(), 4u);
    EXPECT_EQ(j[0].kind, (uint32_t)JOURNAL_OPEN);
    EXPECT_EQ(j[1].code, 0x001D0808u);
    EXPECT_EQ(j[2].code, 0x001D0804u);
    EXPECT_EQ(j[3].kind, (uint32_t)JOURNAL_CLOSE);
    EXPECT_TRUE(warnings.empty());
}

TEST_F(Session, RefusedRequestsAtSessionStartStillOpenTheChannel)
{
    for (uint32_t code : {0x001D0808u, 0x001D0804u}) {
        BoardFaults faults = {0, 1, 0, 0, code};
        ASSERT_TRUE(SetBoardFaults(faults));
        ASSERT_EQ(OpenChannelOfType(VIDEO_IN), 4);
        BITMAPINFOHEADER h;
        EXPECT_EQ(GetFormat(&h), DV_ERR_OK);
        EXPECT_EQ(h.biSizeImage, 38400u);
        EXPECT_EQ(Send(4, DRV_CLOSE), 1);
        ASSERT_TRUE(WaitForBoardClosed());
    }
    std::vector<JournalEntry> requests = BoardRequests();
    ASSERT_EQ(requests.size(), 4u);
    EXPECT_NE(requests[0].status, 0);
    EXPECT_EQ(requests[1].status, 0);
    EXPECT_EQ(requests[2].status, 0);
    EXPECT_NE(requests[3].status, 0);
}

TEST_F(Session, AnUnreadableDeviceNameFailsTheOpenWithoutADeviceCall)
{
    const char expandable[] = "ZentacapVideo0";
    const char longName[] = "ZentacapVideo0123456789"; // 23 characters
    const char unterminated[22] = {'Z', 'e', 'n', 't', 'a', 'c', 'a', 'p', 'V', 'i', 'd',
                                   'e', 'o', '0', '1', '2', '3', '4', '5', '6', '7', '8'};
    struct { DWORD type; const void *data; DWORD size; } cases[] = {
        {REG_EXPAND_SZ, expandable, sizeof expandable},
        {REG_SZ, longName, sizeof longName},
        {REG_SZ, unterminated, sizeof unterminated},
        {REG_BINARY, expandable, sizeof expandable},
    };
    for (const auto &c : cases) {
        StoreDeviceName(c.type, c.data, c.size);
        VIDEO_OPEN_PARMS open;
        EXPECT_EQ(OpenChannelOfType(VIDEO_IN, &open), 0);
        EXPECT_EQ(open.dwError, (DWORD)DV_ERR_NOTDETECTED);
    }
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Services\\zentacap\\Parameters");
    VIDEO_OPEN_PARMS open;
    EXPECT_EQ(OpenChannelOfType(VIDEO_EXTERNALIN, &open), 0);
    EXPECT_EQ(open.dwError, (DWORD)DV_ERR_NOTDETECTED);
    EXPECT_TRUE(ReadBoardJournal().empty());
    EXPECT_TRUE(warnings.empty());
}

TEST_F(Session, AnAbsentDeviceFailsTheOpenWithoutAWarning)
{
    BoardFaults faults = {1, 1, 0, 0, 0};
    ASSERT_TRUE(SetBoardFaults(faults));
    VIDEO_OPEN_PARMS open;
    EXPECT_EQ(OpenChannelOfType(VIDEO_IN, &open), 0);
    EXPECT_EQ(open.dwError, (DWORD)DV_ERR_NOTDETECTED);
    EXPECT_TRUE(warnings.empty());
    faults.absent = 0;
    ASSERT_TRUE(SetBoardFaults(faults));
    EXPECT_EQ(OpenChannelOfType(VIDEO_IN, &open), 4) << "no session was left behind";
    EXPECT_EQ(Send(4, DRV_CLOSE), 1);
}

TEST_F(Session, SetFormatValidatesSizeThenHeaderThenPlanesThenCompression)
{
    ASSERT_EQ(OpenChannelOfType(VIDEO_IN), 4);
    BITMAPINFOHEADER h = Header(320, 240, 16, BI_RGB);
    EXPECT_EQ(SetFormat(h, 44), DV_ERR_SIZEFIELD);
    BITMAPINFOHEADER bad = h;
    bad.biSize = 44;
    bad.biPlanes = 0;
    EXPECT_EQ(SetFormat(bad), DV_ERR_PARAM2);
    bad = h;
    bad.biPlanes = 0;
    EXPECT_EQ(SetFormat(bad), DV_ERR_BADFORMAT);
    bad = Header(320, 240, 24, BI_RGB);
    EXPECT_EQ(SetFormat(bad), DV_ERR_BADFORMAT);
    bad = Header(320, 240, 16, mmioFOURCC('M', 'J', 'P', 'G'));
    EXPECT_EQ(SetFormat(bad), DV_ERR_BADFORMAT);
    EXPECT_EQ(BoardRequests().size(), 2u) << "nothing reached the device";
    BITMAPINFOHEADER now;
    ASSERT_EQ(GetFormat(&now), DV_ERR_OK);
    EXPECT_EQ(now.biWidth, 160);
    EXPECT_EQ(Send(4, DRV_CLOSE), 1);
}

TEST_F(Session, SetFormatAdoptsTheHeaderVerbatimAndSendsItsSize)
{
    ASSERT_EQ(OpenChannelOfType(VIDEO_IN), 4);
    BITMAPINFOHEADER h = Header(120, 90, 12, mmioFOURCC('Y', 'U', 'Y', '2'));
    h.biSizeImage = 12345;
    h.biXPelsPerMeter = 77;
    h.biClrImportant = 5;
    ASSERT_EQ(SetFormat(h), DV_ERR_OK);
    std::vector<JournalEntry> requests = BoardRequests();
    ASSERT_EQ(requests.size(), 3u);
    const uint8_t sent[28] = {28, 0, 0, 0, 1, 0, 0, 0, 120, 0, 0, 0, 90, 0, 0, 0,
                              2, 2, 0, 0, 36, 0, 0, 0, 3, 0, 0, 0};
    EXPECT_EQ(std::memcmp(requests[2].data, sent, 28), 0);
    BITMAPINFOHEADER now;
    ASSERT_EQ(GetFormat(&now), DV_ERR_OK);
    EXPECT_EQ(std::memcmp(&now, &h, 40), 0);
    DWORD stored;
    EXPECT_FALSE(StoredSetting("Format", &stored)) << "nothing goes to the registry";
    EXPECT_EQ(Send(4, DRV_CLOSE), 1);
    ASSERT_TRUE(WaitForBoardClosed());

    ASSERT_EQ(OpenChannelOfType(VIDEO_IN), 4);
    ASSERT_EQ(GetFormat(&now), DV_ERR_OK);
    EXPECT_EQ(now.biWidth, 160) << "a new session starts from the store again";
    EXPECT_EQ(Send(4, DRV_CLOSE), 1);
}

TEST_F(Session, AFormatTheDeviceRefusesLeavesTheSessionAsItWas)
{
    ASSERT_EQ(OpenChannelOfType(VIDEO_IN), 4);
    BITMAPINFOHEADER before;
    ASSERT_EQ(GetFormat(&before), DV_ERR_OK);
    BITMAPINFOHEADER tooWide = Header(1000, 240, 32, BI_RGB); // more than the board can capture
    EXPECT_EQ(SetFormat(tooWide), DV_ERR_BADFORMAT);
    BoardFaults faults = {0, 1, 0, 0, 0x001D0804};
    ASSERT_TRUE(SetBoardFaults(faults));
    EXPECT_EQ(SetFormat(Header(320, 240, 32, BI_RGB)), DV_ERR_BADFORMAT);
    BITMAPINFOHEADER after;
    ASSERT_EQ(GetFormat(&after), DV_ERR_OK);
    EXPECT_EQ(std::memcmp(&after, &before, 40), 0);

    faults.refuseCode = 0;
    ASSERT_TRUE(SetBoardFaults(faults));
    ASSERT_EQ(SetFormat(Header(80, 60, 32, BI_RGB)), DV_ERR_OK);
    std::vector<JournalEntry> requests = BoardRequests();
    ASSERT_EQ(requests.size(), 5u);
    const uint8_t *sent = requests[4].data;
    EXPECT_EQ(sent[4], 3) << "format code";
    EXPECT_EQ(sent[8], 80) << "width";
    EXPECT_EQ(sent[16], 2) << "zoom: the rest of the format is the one kept, not a refused one";
    EXPECT_EQ(Send(4, DRV_CLOSE), 1);
}

TEST_F(Session, GetFormatNeedsFortyBytesAndWritesNoMore)
{
    ASSERT_EQ(OpenChannelOfType(VIDEO_IN), 4);
    uint8_t buffer[44];
    std::memset(buffer, 0xAB, sizeof buffer);
    EXPECT_EQ(GetFormat(reinterpret_cast<BITMAPINFOHEADER *>(buffer), 39), DV_ERR_SIZEFIELD);
    EXPECT_EQ(buffer[0], 0xAB);
    EXPECT_EQ(GetFormat(reinterpret_cast<BITMAPINFOHEADER *>(buffer), 44), DV_ERR_OK);
    EXPECT_EQ(buffer[0], 40);
    EXPECT_EQ(buffer[40], 0xAB);
    EXPECT_EQ(buffer[43], 0xAB);
    EXPECT_EQ(Send(4, DRV_CLOSE), 1);
}

TEST_F(Session, ClosingAnUnknownOrUnopenedChannelKeepsTheReference)
{
    ASSERT_EQ(OpenChannelOfType(VIDEO_IN), 4);
    EXPECT_EQ(Send(2, DRV_CLOSE), 0);
    EXPECT_EQ(Send(1, DRV_CLOSE), 0) << "channel 1 was never opened";
    BITMAPINFOHEADER h;
    EXPECT_EQ(GetFormat(&h), DV_ERR_OK);
    BoardStatus status = {};
    EXPECT_TRUE(GetBoardStatus(&status) && status.openers == 1) << "the device stays open for channel 4";
    EXPECT_EQ(Send(4, DRV_CLOSE), 1);
    EXPECT_TRUE(WaitForBoardClosed());
}

}
