// The Format dialog, opened as a host opens it (DVM_DIALOG on channel 4) and
// driven by window messages; observed through its controls, the board's
// journal (records and restarts in order), the session's format, the picture
// and the registry.
#include "capture_rig.h"
#include "ui_script.h"
#include "res/resource.h"
#include <cstring>

namespace {

const char Caption[] = "Brightvane 7K42Q VideoIn Format";
const uint32_t SetFormat = 0x001D0804, Restart = 0x001D0840;

struct Sent {
    uint32_t code;
    std::vector<uint8_t> data;
};

class FormatDialog : public CaptureDriverTest {
protected:
    void TearDown() override
    {
        Send(4, DRV_CLOSE);
        CaptureDriverTest::TearDown();
    }
    void Open()
    {
        ASSERT_EQ(OpenChannelOfType(VIDEO_IN), 4);
        mark = BoardRequests().size();
    }
    bool Run(std::vector<UiStep> steps)
    {
        steps.insert(steps.begin(), [this] { return (dialog = FindDialog(Caption)) != NULL; });
        LRESULT result = -1;
        bool finished = RunModal([&] { result = Send(4, DVM_DIALOG, 0, 0); }, steps);
        EXPECT_EQ(result, DV_ERR_OK);
        return finished;
    }
    static UiStep Do(std::function<void()> action) { return [=] { action(); return true; }; }
    void Scroll(int bar, WORD code, short thumb = 0)
    {
        SendMessageA(dialog, WM_HSCROLL, MAKEWPARAM(code, static_cast<WORD>(thumb)),
                     reinterpret_cast<LPARAM>(GetDlgItem(dialog, bar)));
    }
    // Types a number into a size field and leaves it (for the OK button).
    void Type(int field, const char *text)
    {
        SetFocus(GetDlgItem(dialog, field));
        SetDlgItemTextA(dialog, field, text);
        SetFocus(GetDlgItem(dialog, IDOK));
    }
    // Picks a colour space as a user does: the combo box takes the focus first.
    void Choose(int row)
    {
        SetFocus(GetDlgItem(dialog, IDC_COLOR_SPACE));
        SendDlgItemMessageA(dialog, IDC_COLOR_SPACE, CB_SETCURSEL, row, 0);
        SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDC_COLOR_SPACE, CBN_SELCHANGE),
                     reinterpret_cast<LPARAM>(GetDlgItem(dialog, IDC_COLOR_SPACE)));
    }
    void Click(int id) { SendDlgItemMessageA(dialog, id, BM_CLICK, 0, 0); }
    std::string Text(int id) { return WindowText(GetDlgItem(dialog, id)); }
    bool Enabled(int id) { return IsWindowEnabled(GetDlgItem(dialog, id)) != FALSE; }
    bool Checked(int id) { return IsDlgButtonChecked(dialog, id) == BST_CHECKED; }
    // "+--" style: the zoom radios of one axis (1:1 .. 1:8), enabled or not, and the checked one.
    std::string Radios(bool vertical)
    {
        std::string s;
        for (int code = 0; code < 4; code++) {
            int id = IDC_ZOOM_X1 + 2 * code + vertical;
            s += Checked(id) ? '*' : Enabled(id) ? '+' : '-';
        }
        return s;
    }
    std::vector<Sent> SentSinceOpen()
    {
        std::vector<Sent> sent;
        std::vector<JournalEntry> requests = BoardRequests();
        for (size_t i = mark; i < requests.size(); i++)
            sent.push_back({requests[i].code, std::vector<uint8_t>(requests[i].data, requests[i].data + requests[i].length)});
        return sent;
    }
    BITMAPINFOHEADER SessionHeader()
    {
        BITMAPINFOHEADER h = {};
        VIDEOCONFIGPARMS parms = {nullptr, &h, sizeof h, nullptr, 0};
        EXPECT_EQ(Send(4, DVM_FORMAT, VIDEO_CONFIGURE_GET, reinterpret_cast<LPARAM>(&parms)), DV_ERR_OK);
        return h;
    }

    HWND dialog = NULL;
    size_t mark = 0;
};

std::vector<uint8_t> Record(uint32_t code, uint32_t width, uint32_t height, uint8_t zx, uint8_t zy, uint8_t mx,
                            uint8_t my, uint32_t ox, uint32_t oy)
{
    uint32_t fields[7] = {28, code, width, height, 0, ox, oy};
    std::vector<uint8_t> bytes(28);
    std::memcpy(bytes.data(), fields, 28);
    bytes[16] = zx; bytes[17] = zy; bytes[18] = mx; bytes[19] = my;
    return bytes;
}

const std::vector<uint8_t> Defaults = Record(2, 160, 120, 2, 2, 0, 0, 36, 3);

TEST_F(FormatDialog, OpensWithTheDefaultsAndTheirZoomLimits)
{
    Open();
    std::string colour, width, height, x, y, horizontal, vertical;
    bool flipX = true, flipY = true;
    int posX = -1, posY = -1;
    ASSERT_TRUE(Run({Do([&] {
        char text[32] = "";
        GetDlgItemTextA(dialog, IDC_COLOR_SPACE, text, sizeof text);
        colour = text;
        width = Text(IDC_WIDTH); height = Text(IDC_HEIGHT);
        x = Text(IDC_POSITION_X_TEXT); y = Text(IDC_POSITION_Y_TEXT);
        posX = GetScrollPos(GetDlgItem(dialog, IDC_POSITION_X), SB_CTL);
        posY = GetScrollPos(GetDlgItem(dialog, IDC_POSITION_Y), SB_CTL);
        horizontal = Radios(false); vertical = Radios(true);
        flipX = Checked(IDC_MIRROR_X); flipY = Checked(IDC_MIRROR_Y);
        SendClick(dialog, IDCANCEL);
    })}));
    EXPECT_EQ(colour, "RGB 15");
    EXPECT_EQ(width, "160");
    EXPECT_EQ(height, "120");
    EXPECT_EQ(x, "36");
    EXPECT_EQ(y, "3");
    EXPECT_EQ(posX, 36);
    EXPECT_EQ(posY, 3);
    EXPECT_EQ(horizontal, "++*-") << "1:4 checked, 1:8 disabled";
    EXPECT_EQ(vertical, "++*-");
    EXPECT_FALSE(flipX);
    EXPECT_FALSE(flipY);
    std::vector<Sent> sent = SentSinceOpen();
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(sent[0].code, SetFormat) << "the opening sends, without a restart";
    EXPECT_EQ(sent[0].data, Defaults);
    EXPECT_EQ(sent[1].code, SetFormat);
}

TEST_F(FormatDialog, SizeFieldsAreClampedOnLeavingThemAndLimitTheZoom)
{
    Open();
    std::vector<std::string> seen;
    ASSERT_TRUE(Run({Do([&] {
        for (const char *w : {"700", "83", "162", "321", ""}) {
            Type(IDC_WIDTH, w);
            seen.push_back(Text(IDC_WIDTH) + " " + Radios(false));
        }
        for (const char *h : {"241", "240", "60"}) {
            Type(IDC_HEIGHT, h);
            seen.push_back(Text(IDC_HEIGHT) + " " + Radios(true));
        }
        SendClick(dialog, IDCANCEL);
    })}));
    EXPECT_EQ(seen, (std::vector<std::string>{"640 *---", "80 *+++", "160 *++-", "320 *+--", "80 *+++",
                                              "241 *---", "240 *+--", "60 *+++"}))
        << "700 forced the horizontal zoom to 1:1, which stays";
    std::vector<Sent> sent = SentSinceOpen();
    EXPECT_EQ(sent.size(), 2u) << "the edits reach nothing before OK";
}

TEST_F(FormatDialog, PositionSlidersStepAndApplyWithARestart)
{
    Open();
    std::vector<std::string> seen;
    ASSERT_TRUE(Run({Do([&] {
        Scroll(IDC_POSITION_X, SB_PAGERIGHT); seen.push_back(Text(IDC_POSITION_X_TEXT)); // 36 + 19
        Scroll(IDC_POSITION_Y, SB_PAGERIGHT); seen.push_back(Text(IDC_POSITION_Y_TEXT)); // 3 + 14
        Scroll(IDC_POSITION_Y, SB_PAGELEFT); Scroll(IDC_POSITION_Y, SB_PAGELEFT); seen.push_back(Text(IDC_POSITION_Y_TEXT));
        Scroll(IDC_POSITION_X, SB_THUMBTRACK, 159); Scroll(IDC_POSITION_X, SB_LINERIGHT); seen.push_back(Text(IDC_POSITION_X_TEXT));
        Scroll(IDC_POSITION_X, SB_ENDSCROLL); seen.push_back(Text(IDC_POSITION_X_TEXT));
        SendClick(dialog, IDCANCEL);
    })}));
    EXPECT_EQ(seen, (std::vector<std::string>{"55", "17", "0", "159", "159"}));
    std::vector<Sent> sent = SentSinceOpen();
    ASSERT_EQ(sent.size(), 1u + 7 * 2 + 1u) << "each scroll message: the record, then a restart";
    EXPECT_EQ(sent[1].data, Record(2, 160, 120, 2, 2, 0, 0, 55, 3));
    EXPECT_EQ(sent[2].code, Restart);
    EXPECT_EQ(sent[13].data, Record(2, 160, 120, 2, 2, 0, 0, 159, 0)) << "after ENDSCROLL";
    EXPECT_EQ(sent[14].code, Restart);
    EXPECT_EQ(sent[15].data, Defaults) << "Cancel sends the session's record";
}

TEST_F(FormatDialog, DefaultThenCancelRestoresTheDeviceAndKeepsTheSession)
{
    StoreSetting("OffsetX", 10);
    StoreSetting("MirrorX", 1);
    Open();
    BITMAPINFOHEADER before = SessionHeader();
    ASSERT_TRUE(Run({Do([&] { SendClick(dialog, IDC_DEFAULT); }), Do([&] { SendClick(dialog, IDCANCEL); })}));
    const std::vector<uint8_t> stored = Record(2, 160, 120, 2, 2, 1, 0, 10, 3);
    std::vector<Sent> sent = SentSinceOpen();
    ASSERT_EQ(sent.size(), 4u);
    EXPECT_EQ(sent[0].data, stored);
    EXPECT_EQ(sent[1].data, Defaults);
    EXPECT_EQ(sent[2].code, Restart);
    EXPECT_EQ(sent[3].code, SetFormat);
    EXPECT_EQ(sent[3].data, stored) << "Cancel: the session's record, no restart";
    BITMAPINFOHEADER after = SessionHeader();
    EXPECT_EQ(std::memcmp(&before, &after, sizeof before), 0);
    DWORD value;
    ASSERT_TRUE(StoredSetting("OffsetX", &value));
    EXPECT_EQ(value, 10u);
}

TEST_F(FormatDialog, AColourSpaceChangedThenCancelledNeverReachesTheDevice)
{
    Open();
    ASSERT_TRUE(Run({Do([&] { Choose(2); Click(IDC_MIRROR_Y); Click(IDC_ZOOM_X1); }), Do([&] { SendClick(dialog, IDCANCEL); })}));
    std::vector<Sent> sent = SentSinceOpen();
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(sent[1].data, Defaults);
    EXPECT_EQ(SessionHeader().biCompression, (DWORD)BI_RGB);
}

TEST_F(FormatDialog, OkAppliesAdoptsAndStoresWhatTheControlsHold)
{
    Open();
    ASSERT_TRUE(Run({Do([&] {
        Type(IDC_WIDTH, "80");
        Choose(1);                 // RGB 24
        Click(IDC_ZOOM_X1 + 6);    // 1:8 across
        Click(IDC_ZOOM_X1 + 1);    // 1:1 down
        Click(IDC_MIRROR_X);
        SendClick(dialog, IDOK);
    })}));
    const std::vector<uint8_t> accepted = Record(3, 80, 120, 3, 0, 1, 0, 36, 3);
    std::vector<Sent> sent = SentSinceOpen();
    ASSERT_EQ(sent.size(), 3u);
    EXPECT_EQ(sent[1].data, accepted);
    EXPECT_EQ(sent[2].code, Restart);
    BITMAPINFOHEADER h = SessionHeader();
    EXPECT_EQ(h.biWidth, 80);
    EXPECT_EQ(h.biHeight, 120);
    EXPECT_EQ(h.biBitCount, 32);
    EXPECT_EQ(h.biCompression, (DWORD)BI_RGB);
    EXPECT_EQ(h.biSizeImage, 38400u);
    const char *names[] = {"Format", "Width", "Height", "ScaleX", "ScaleY", "MirrorX", "MirrorY", "OffsetX", "OffsetY"};
    const DWORD values[] = {3, 80, 120, 3, 0, 1, 0, 36, 3};
    for (int i = 0; i < 9; i++) {
        DWORD value = 0xDEAD;
        EXPECT_TRUE(StoredSetting(names[i], &value)) << names[i];
        EXPECT_EQ(value, values[i]) << names[i];
    }
}

TEST_F(FormatDialog, OkClampsASizeConfirmedWithoutLeavingItsField)
{
    Open();
    ASSERT_TRUE(Run({Do([&] {
        SetDlgItemTextA(dialog, IDC_WIDTH, "700"); // no EN_KILLFOCUS: Enter pressed in the field
        SetDlgItemTextA(dialog, IDC_HEIGHT, "30");
        SendClick(dialog, IDOK);
    })}));
    std::vector<Sent> sent = SentSinceOpen();
    ASSERT_EQ(sent.size(), 3u);
    EXPECT_EQ(sent[1].data, Record(2, 640, 60, 0, 2, 0, 0, 36, 3)) << "640 wide allows only 1:1";
    BoardStatus status;
    ASSERT_TRUE(GetBoardStatus(&status));
    EXPECT_EQ(status.format.width, 640u) << "the board accepted it";
    DWORD value;
    ASSERT_TRUE(StoredSetting("Width", &value));
    EXPECT_EQ(value, 640u);
    ASSERT_TRUE(StoredSetting("ScaleX", &value));
    EXPECT_EQ(value, 0u);
}

TEST_F(FormatDialog, EndOfTheWindowsSessionClosesItWithoutSendingOrStoring)
{
    Open();
    ASSERT_TRUE(Run({Do([&] {
        Scroll(IDC_POSITION_X, SB_LINELEFT);
        SendMessageA(dialog, WM_ENDSESSION, TRUE, 0);
    })}));
    std::vector<Sent> sent = SentSinceOpen();
    ASSERT_EQ(sent.size(), 3u) << "the opening and the slider's record and restart";
    DWORD value;
    EXPECT_FALSE(StoredSetting("OffsetX", &value));
    EXPECT_EQ(SessionHeader().biWidth, 160);
}

// The picture follows OK: flipped, in the new colour space.
TEST_F(FormatDialog, AfterOkFramesArriveFlippedAndInTheNewColourSpace)
{
    StoreSetting("Width", 80);
    StoreSetting("Height", 60);
    StoreSetting("ScaleX", 3);
    StoreSetting("ScaleY", 3);
    StoreSetting("OffsetX", 0);
    StoreSetting("OffsetY", 0);
    Open();
    auto frame = [&](std::vector<BYTE> &bytes) {
        BITMAPINFOHEADER h = SessionHeader();
        bytes.assign(h.biSizeImage, 0xEE);
        VIDEOHDR v = {};
        v.lpData = bytes.data();
        v.dwBufferLength = h.biSizeImage;
        EXPECT_EQ(Send(4, DVM_FRAME, reinterpret_cast<LPARAM>(&v), sizeof v), DV_ERR_OK);
        return v.dwBytesUsed;
    };
    std::vector<BYTE> before, after;
    frame(before);
    ASSERT_TRUE(Run({Do([&] { Choose(2); Click(IDC_MIRROR_X); SendClick(dialog, IDOK); })}));
    DWORD used = frame(after);
    EXPECT_EQ(used, 80u * 60 * 2);
    EXPECT_EQ(SessionHeader().biCompression, 0x32595559u);
    // RGB 15 before: top row (the last in memory), x 0 white. YUY2 after: top row first, flipped: x 0 black.
    size_t topLeft = 59 * 160;
    EXPECT_EQ(before[topLeft] | before[topLeft + 1] << 8, 0x7FFF);
    EXPECT_EQ(after[0], 0) << "luma of the black bar, now at the left";
    EXPECT_EQ(after[78 * 2], 255) << "luma of the white bar, now at the right";
}

}
