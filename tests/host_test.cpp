// The host's path: winmm's OpenDriver, SendDriverMessage and CloseDriver, as
// the system's video-capture layer drives the driver.
#include "capture_rig.h"
#include <atomic>
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
    // A stream's callbacks, counted; `ended` is set once the host has ended the stream.
    static struct Seen {
        std::atomic<long> data, close, late, closeAnswer;
        std::atomic<bool> ended;
        std::atomic<HDRVR> closeOnData; // closed from the first MM_DRVM_DATA
        HANDLE dataEvent;
    } seen;
    static void CALLBACK Count(HDRVR, UINT message, DWORD_PTR, DWORD_PTR, DWORD_PTR)
    {
        if (seen.ended)
            seen.late++;
        if (message == MM_DRVM_CLOSE)
            seen.close++;
        if (message != MM_DRVM_DATA)
            return;
        seen.data++;
        SetEvent(seen.dataEvent);
        if (HDRVR h = seen.closeOnData.exchange(nullptr))
            seen.closeAnswer = CloseDriver(h, 0, 0);
    }
    // Init, `count` headers of 38400 bytes (160 x 120) from `block`, start, and the first frame.
    static void StartStream(HDRVR in, BYTE *block, int count)
    {
        seen.data = seen.close = seen.late = seen.closeAnswer = 0;
        seen.ended = false;
        if (!seen.dataEvent)
            seen.dataEvent = CreateEventA(NULL, FALSE, FALSE, NULL); // kept: the thread may still signal it
        ResetEvent(seen.dataEvent);
        VIDEO_STREAM_INIT_PARMS init = {40000, reinterpret_cast<DWORD_PTR>(Count), 0, CALLBACK_FUNCTION,
                                        reinterpret_cast<DWORD_PTR>(in)};
        ASSERT_EQ(SendDriverMessage(in, DVM_STREAM_INIT, reinterpret_cast<LPARAM>(&init), sizeof init), DV_ERR_OK);
        VIDEOHDR *headers = reinterpret_cast<VIDEOHDR *>(block);
        for (int i = 0; i < count; i++) {
            headers[i] = VIDEOHDR{};
            headers[i].lpData = block + 4096 + i * 38400;
            headers[i].dwBufferLength = 38400;
            ASSERT_EQ(SendDriverMessage(in, DVM_STREAM_ADDBUFFER, reinterpret_cast<LPARAM>(&headers[i]), sizeof *headers),
                      DV_ERR_OK);
        }
        ASSERT_EQ(SendDriverMessage(in, DVM_STREAM_START, 0, 0), DV_ERR_OK);
        ASSERT_EQ(WaitForSingleObject(seen.dataEvent, HangMs), WAIT_OBJECT_0);
    }
};
Host::Seen Host::seen;

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

TEST_F(Host, TheCaptureWindowsEndOfAStreamFindsTheThreadEndedBeforeItFreesTheBuffers)
{
    BoardFaults paced = {}; // a frame every 40 ms: the next read is under way
    ASSERT_TRUE(SetBoardFaults(paced));
    VIDEO_OPEN_PARMS open;
    HDRVR in = Open(VIDEO_IN, &open);
    ASSERT_NE(in, nullptr);
    const int count = 4;
    BYTE *block = static_cast<BYTE *>(VirtualAlloc(NULL, 4096 + count * 38400, MEM_COMMIT, PAGE_READWRITE));
    ASSERT_NE(block, nullptr);
    StartStream(in, block, count);
    // The capture window's order, then its buffers and headers go at once.
    EXPECT_EQ(SendDriverMessage(in, DVM_STREAM_STOP, 0, 0), DV_ERR_OK);
    EXPECT_EQ(SendDriverMessage(in, DVM_STREAM_RESET, 0, 0), DV_ERR_NOTSUPPORTED);
    for (int i = 0; i < count; i++)
        EXPECT_EQ(SendDriverMessage(in, DVM_STREAM_UNPREPAREHEADER, reinterpret_cast<LPARAM>(block) + i * sizeof(VIDEOHDR),
                                    sizeof(VIDEOHDR)), DV_ERR_NOTSUPPORTED);
    EXPECT_EQ(SendDriverMessage(in, DVM_STREAM_FINI, 0, 0), DV_ERR_OK);
    seen.ended = true;
    ASSERT_EQ(seen.close, 1) << "the stream had not ended when DVM_STREAM_FINI returned";
    ASSERT_TRUE(VirtualFree(block, 0, MEM_DECOMMIT));
    Sleep(100);
    EXPECT_EQ(seen.late, 0) << "callbacks after DVM_STREAM_FINI";
    EXPECT_EQ(CloseDriver(in, 0, 0), 1);
    VirtualFree(block, 0, MEM_RELEASE);
}

TEST_F(Host, ALastCloseFromTheCallbackLeavesTheLibraryToItsThreadUntilItEnds)
{
    VIDEO_OPEN_PARMS open;
    HDRVR in = Open(VIDEO_IN, &open);
    ASSERT_NE(in, nullptr);
    FreeLibrary(module); // the host's reference through OpenDriver is the only other one
    std::vector<BYTE> block(4096 + 2 * 38400);
    seen.closeOnData = in;
    StartStream(in, block.data(), 2);
    EXPECT_TRUE(Eventually([] { return !GetModuleHandleA("zentacap.dll"); })) << "the library stays loaded after its thread";
    EXPECT_EQ(seen.closeAnswer, 1);
    EXPECT_EQ(seen.close, 1);
}

}
