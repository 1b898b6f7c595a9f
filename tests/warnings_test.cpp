// Driver messages: the string table, warning boxes and DVM_GETERRORTEXT.
#include "capture_rig.h"
#include <cstring>

namespace {

const char Text100[] =
    "Format --\n"
    "    Settings for the \"Video Streams Unit\" (Video Controller).\n"
    "\n"
    "Source --\n"
    "    Settings for the \"Video Input Processor\" (Video Decoder).\n";

const char Text102[] =
    "It appears that you are:\n"
    "(1) running an Operating System which does not support \"Video Port Extension\"\n"
    "   -- and --\n"
    "(2) using the Brightvane 7K42Q board as the Graphics/Display device.\n"
    "\n"
    "To use the VideoIn feature, you will need to:\n"
    "(1) upgrade your Operating System\n"
    "   -- or --\n"
    "(2) install an other Graphics/Display device (and use Brightvane 7K42Q as VideoIn only).\n"
    "\n"
    "Note: See the \"Pseudo-VPE\" option in:\n"
    "    Control Panel / Multimedia / Devices / Video Capture\n"
    "        / Brightvane 7K42Q VideoIn / Properties / Settings...";

const char Text105[] =
    "This driver is not compatible with the \"Multi-head\" configuration of the BV7K42Q Display Driver.";

class Messages : public CaptureDriverTest {
protected:
    std::string String(UINT id)
    {
        char text[2048] = "";
        LoadStringA(module, id, text, sizeof text);
        return text;
    }
    DWORD ErrorText(DWORD error, char *text, DWORD length)
    {
        VIDEO_GETERRORTEXT_PARMS parms = {error, text, length};
        return (DWORD)Send(1, DVM_GETERRORTEXT, reinterpret_cast<LPARAM>(&parms));
    }
};

TEST_F(Messages, StringTableHoldsTheTextsExactly)
{
    EXPECT_EQ(String(100), Text100);
    EXPECT_EQ(String(100).size(), 145u);
    EXPECT_EQ(String(101), "Capture device was not detected.");
    EXPECT_EQ(String(102), Text102);
    EXPECT_EQ(String(102).size(), 524u);
    EXPECT_EQ(String(103), "There is not enough storage available for this format.");
    EXPECT_FALSE(String(104).empty());
    EXPECT_EQ(String(105), Text105);
    EXPECT_EQ(String(102).find('\r'), std::string::npos);
    EXPECT_EQ(String(100).find('\r'), std::string::npos);
}

TEST_F(Messages, ErrorTextIsCutToTheBufferAndOnlyTheDriversNumbersHaveText)
{
    char text[64];
    EXPECT_EQ(ErrorText(101, text, 64), DV_ERR_OK);
    EXPECT_STREQ(text, "Capture device was not detected.");
    EXPECT_EQ(ErrorText(101, text, 10), DV_ERR_OK);
    EXPECT_STREQ(text, "Capture d");
    EXPECT_EQ(ErrorText(105, text, 64), DV_ERR_OK);
    EXPECT_EQ(std::string(text), std::string(Text105, 63));
    EXPECT_EQ(ErrorText(104, text, 64), DV_ERR_OK);
    std::memset(text, 'x', sizeof text);
    EXPECT_EQ(ErrorText(DV_ERR_NOTDETECTED, text, 64), DV_ERR_PARAM1);
    EXPECT_EQ(ErrorText(99, text, 64), DV_ERR_PARAM1);
    EXPECT_EQ(ErrorText(106, text, 64), DV_ERR_PARAM1);
    std::memset(text, 'x', sizeof text);
    EXPECT_EQ(ErrorText(101, text, 0), DV_ERR_PARAM1);
    EXPECT_EQ(text[0], 'x') << "a zero-length buffer is not written";
}

TEST_F(Messages, RefusedDeviceOpensShowTheMatchingWarning)
{
    const struct { DWORD error; const char *text; } cases[] = {
        {ERROR_INVALID_FUNCTION, Text105},
        {ERROR_NOT_SUPPORTED, Text102},
    };
    for (const auto &c : cases) {
        warnings.clear();
        FailDeviceOpens(c.error);
        VIDEO_OPEN_PARMS open;
        EXPECT_EQ(OpenChannelOfType(VIDEO_IN, &open), 0);
        EXPECT_EQ(open.dwError, (DWORD)DV_ERR_NOTDETECTED);
        ASSERT_EQ(warnings.size(), 1u);
        EXPECT_EQ(warnings[0].text, c.text);
        EXPECT_EQ(warnings[0].owner, nullptr);
        EXPECT_EQ(warnings[0].style, 0x30u);
    }
    warnings.clear();
    FailDeviceOpens(ERROR_FILE_NOT_FOUND);
    VIDEO_OPEN_PARMS open;
    EXPECT_EQ(OpenChannelOfType(VIDEO_EXTERNALIN, &open), 0);
    EXPECT_EQ(open.dwError, (DWORD)DV_ERR_NOTDETECTED);
    EXPECT_TRUE(warnings.empty());
    EXPECT_TRUE(ReadBoardJournal().empty());
}

int WINAPI FailLoadString(HINSTANCE, UINT, LPSTR, int)
{
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return 0;
}

TEST_F(Messages, AWarningWhoseTextCannotBeLoadedShowsItsNumber)
{
    ImportPatch failing(module, "user32.dll", "LoadStringA", (void *)FailLoadString);
    ASSERT_NE(failing.original, nullptr);
    FailDeviceOpens(ERROR_INVALID_FUNCTION);
    EXPECT_EQ(OpenChannelOfType(VIDEO_IN), 0);
    ASSERT_EQ(warnings.size(), 1u);
    EXPECT_EQ(warnings[0].text, "Brightvane 7K42Q VideoIn: warning 105 (its text could not be loaded).");
    EXPECT_EQ(warnings[0].style, 0x30u);
}

TEST_F(Messages, WarningCaptionIsTheActiveWindowsTitleCutTo79Characters)
{
    std::string title(100, 'T');
    title[0] = 'A';
    HWND window = CreateWindowExA(0, "STATIC", title.c_str(), WS_OVERLAPPEDWINDOW | WS_VISIBLE,
                                  10, 10, 200, 100, NULL, NULL, NULL, NULL);
    ASSERT_NE(window, nullptr);
    SetActiveWindow(window);
    ASSERT_EQ(GetActiveWindow(), window);
    FailDeviceOpens(ERROR_INVALID_FUNCTION);
    EXPECT_EQ(OpenChannelOfType(VIDEO_IN), 0);
    ASSERT_EQ(warnings.size(), 1u);
    EXPECT_EQ(warnings[0].caption, title.substr(0, 79));
    EXPECT_EQ(warnings[0].owner, nullptr) << "owner-less even with an active window";
    DestroyWindow(window);
}

TEST_F(Messages, WithoutAnActiveWindowTheCaptionComesFromTheTopWindow)
{
    ASSERT_EQ(GetActiveWindow(), nullptr);
    char top[80] = "";
    if (HWND window = GetTopWindow(NULL))
        GetWindowTextA(window, top, sizeof top);
    FailDeviceOpens(ERROR_NOT_SUPPORTED);
    EXPECT_EQ(OpenChannelOfType(VIDEO_IN), 0);
    ASSERT_EQ(warnings.size(), 1u);
    EXPECT_EQ(warnings[0].caption, top);
}

// A top window whose thread answers no message until the warning has been
// shown: the warning's caption is not waited for.
struct BlockedWindow {
    HWND window = NULL;
    HANDLE made = CreateEventA(NULL, TRUE, FALSE, NULL), release = CreateEventA(NULL, TRUE, FALSE, NULL);
    static DWORD WINAPI Run(LPVOID self)
    {
        BlockedWindow &b = *static_cast<BlockedWindow *>(self);
        b.window = CreateWindowExA(WS_EX_TOPMOST, "STATIC", "blocked", WS_POPUP | WS_VISIBLE, 0, 0, 50, 50, NULL, NULL,
                                   NULL, NULL);
        SetEvent(b.made);
        WaitForSingleObject(b.release, HangMs); // answering nothing meanwhile
        DestroyWindow(b.window);
        return 0;
    }
};

TEST_F(Messages, AWarningDoesNotWaitForTheTitleOfAWindowWhoseThreadIsBusy)
{
    BlockedWindow blocked;
    HANDLE thread = CreateThread(NULL, 0, BlockedWindow::Run, &blocked, 0, NULL);
    WaitForSingleObject(blocked.made, HangMs);
    ASSERT_EQ(GetTopWindow(NULL), blocked.window);
    FailDeviceOpens(ERROR_NOT_SUPPORTED);
    EXPECT_EQ(OpenChannelOfType(VIDEO_IN), 0);
    SetEvent(blocked.release);
    JoinOrHang(thread, "the window's thread");
    ASSERT_EQ(warnings.size(), 1u);
    EXPECT_EQ(warnings[0].caption, "") << "the title was waited for";
    CloseHandle(blocked.made);
    CloseHandle(blocked.release);
}

}
