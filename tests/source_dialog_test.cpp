// The Source dialog, opened as a host opens it (DVM_DIALOG on channel 1) and
// driven by window messages; observed through its controls, the board's
// journal, the picture, the session and the registry.
#include "capture_rig.h"
#include "ui_script.h"
#include "res/resource.h"
#include <cstring>

namespace {

const char Caption[] = "Brightvane 7K42Q VideoIn Source";

class SourceDialog : public CaptureDriverTest {
protected:
    void SetUp() override
    {
        CaptureDriverTest::SetUp();
        StoreSetting("Width", 80);
        StoreSetting("Height", 60);
        StoreSetting("OffsetX", 0);
        StoreSetting("ScaleX", 3); // 80 x 8 = 640: the whole scene across
        StoreSetting("ScaleY", 3);
    }
    void TearDown() override
    {
        Send(1, DRV_CLOSE);
        Send(4, DRV_CLOSE);
        CaptureDriverTest::TearDown();
    }
    void Open()
    {
        ASSERT_EQ(OpenChannelOfType(VIDEO_EXTERNALIN), 1);
        ASSERT_EQ(OpenChannelOfType(VIDEO_IN), 4);
        mark = BoardRequests().size();
    }
    // Runs the dialog with `steps` after it has appeared; its result and whether all ran.
    bool Run(std::vector<UiStep> steps, LRESULT *result = nullptr)
    {
        steps.insert(steps.begin(), [this] { return (dialog = FindDialog(Caption)) != NULL; });
        LRESULT r = -1;
        bool finished = RunModal([&] { r = Send(1, DVM_DIALOG, 0, 0); }, steps);
        if (result) *result = r;
        return finished;
    }
    static UiStep Do(std::function<void()> action) { return [=] { action(); return true; }; }
    void Scroll(int bar, WORD code, short thumb = 0)
    {
        SendMessageA(dialog, WM_HSCROLL, MAKEWPARAM(code, static_cast<WORD>(thumb)),
                     reinterpret_cast<LPARAM>(GetDlgItem(dialog, bar)));
    }
    std::string Text(int id) { return WindowText(GetDlgItem(dialog, id)); }
    int Position(int bar) { return GetScrollPos(GetDlgItem(dialog, bar), SB_CTL); }
    // Source records sent since the channels were opened.
    std::vector<std::vector<uint8_t>> SentSources()
    {
        std::vector<std::vector<uint8_t>> sent;
        std::vector<JournalEntry> requests = BoardRequests();
        for (size_t i = mark; i < requests.size(); i++)
            if (requests[i].code == 0x001D0808)
                sent.emplace_back(requests[i].data, requests[i].data + 12);
        return sent;
    }
    // The black bar's grey level in a frame captured now through DVM_FRAME.
    int BlackBarLevel()
    {
        std::vector<BYTE> frame(80 * 60 * 2);
        VIDEOHDR h = {};
        h.lpData = frame.data();
        h.dwBufferLength = static_cast<DWORD>(frame.size());
        EXPECT_EQ(Send(4, DVM_FRAME, reinterpret_cast<LPARAM>(&h), sizeof h), DV_ERR_OK);
        WORD pixel = static_cast<WORD>(frame[(59 * 80 + 75) * 2] | frame[(59 * 80 + 75) * 2 + 1] << 8);
        return (pixel & 31) << 3; // blue of RGB 5-5-5, top row, x 75 (scene x 600)
    }

    HWND dialog = NULL;
    size_t mark = 0;
};

const std::vector<uint8_t> Defaults = {12, 0, 0, 0, 0, 0, 0, 0, 0, 64, 128, 64};

TEST_F(SourceDialog, OpensWithTheSessionsSettingsAndSendsThem)
{
    Open();
    std::string standard, brightness, contrast, hue, saturation;
    int positions[4] = {};
    ASSERT_TRUE(Run({Do([&] {
        char text[64] = "";
        GetDlgItemTextA(dialog, IDC_STANDARD, text, sizeof text);
        standard = text;
        brightness = Text(IDC_BRIGHTNESS_TEXT);
        contrast = Text(IDC_CONTRAST_TEXT);
        hue = Text(IDC_HUE_TEXT);
        saturation = Text(IDC_SATURATION_TEXT);
        positions[0] = Position(IDC_BRIGHTNESS);
        positions[1] = Position(IDC_CONTRAST);
        positions[2] = Position(IDC_HUE);
        positions[3] = Position(IDC_SATURATION);
        SendClick(dialog, IDCANCEL);
    })}));
    EXPECT_EQ(standard, "PAL / NTSC-M");
    EXPECT_EQ(brightness, "+0.500");
    EXPECT_EQ(contrast, "+1.00");
    EXPECT_EQ(hue, " 0.0");
    EXPECT_EQ(saturation, "+1.00");
    EXPECT_EQ(positions[0], 128);
    EXPECT_EQ(positions[1], 64);
    EXPECT_EQ(positions[2], 0);
    EXPECT_EQ(positions[3], 64);
    std::vector<std::vector<uint8_t>> sent = SentSources();
    ASSERT_EQ(sent.size(), 2u) << "at the opening, and the session's record at Cancel";
    EXPECT_EQ(sent[0], Defaults);
    EXPECT_EQ(sent[1], Defaults);
}

TEST_F(SourceDialog, EveryScrollRequestStepsTheHueAndSendsIt)
{
    Open();
    std::vector<std::pair<std::string, int>> seen;
    auto record = [&] { seen.push_back({Text(IDC_HUE_TEXT), Position(IDC_HUE)}); };
    ASSERT_TRUE(Run({Do([&] {
        Scroll(IDC_HUE, SB_LINERIGHT); record();         // 1
        Scroll(IDC_HUE, SB_LINELEFT); record();          // 0
        Scroll(IDC_HUE, SB_PAGERIGHT); record();         // 31
        Scroll(IDC_HUE, SB_PAGELEFT); Scroll(IDC_HUE, SB_PAGELEFT); record(); // -31
        Scroll(IDC_HUE, SB_THUMBTRACK, 120); Scroll(IDC_HUE, SB_PAGERIGHT); record(); // 127, not 151
        Scroll(IDC_HUE, SB_LINERIGHT); record();         // stays at the maximum
        Scroll(IDC_HUE, SB_THUMBTRACK, -128); record();  // far left
        Scroll(IDC_HUE, SB_THUMBPOSITION, 50); Scroll(IDC_HUE, SB_LEFT); Scroll(IDC_HUE, SB_RIGHT);
        Scroll(IDC_HUE, SB_ENDSCROLL); record();         // unchanged
        Scroll(IDC_HUE, SB_THUMBTRACK, 64); record();
        SendClick(dialog, IDCANCEL);
    })}));
    const std::vector<std::pair<std::string, int>> expected = {
        {"+1.4", 1}, {" 0.0", 0}, {"+43.6", 31}, {"-43.6", -31}, {"+178.6", 127}, {"+178.6", 127},
        {"-180.0", -128}, {"-180.0", -128}, {"+90.0", 64}};
    EXPECT_EQ(seen, expected);
    std::vector<std::vector<uint8_t>> sent = SentSources();
    ASSERT_EQ(sent.size(), 1u + 14u + 1u) << "one send for every scroll message, ENDSCROLL included";
    EXPECT_EQ(static_cast<signed char>(sent[1][8]), 1);
    EXPECT_EQ(static_cast<signed char>(sent[12][8]), -128) << "after ENDSCROLL, unchanged";
    EXPECT_EQ(static_cast<signed char>(sent[14][8]), 64);
    EXPECT_EQ(sent[15], Defaults) << "Cancel sends the session's record";
}

TEST_F(SourceDialog, ValueTextsOfBrightnessContrastAndSaturation)
{
    Open();
    std::vector<std::string> texts;
    ASSERT_TRUE(Run({Do([&] {
        for (short v : {1, 255, 0}) { Scroll(IDC_BRIGHTNESS, SB_THUMBTRACK, v); texts.push_back(Text(IDC_BRIGHTNESS_TEXT)); }
        Scroll(IDC_BRIGHTNESS, SB_LINERIGHT);
        texts.push_back(Text(IDC_BRIGHTNESS_TEXT)); // 0 + 1
        for (short v : {1, 100, -128}) { Scroll(IDC_SATURATION, SB_THUMBTRACK, v); texts.push_back(Text(IDC_SATURATION_TEXT)); }
        Scroll(IDC_CONTRAST, SB_PAGERIGHT);
        texts.push_back(Text(IDC_CONTRAST_TEXT)); // 64 + 31 = 95
        SendClick(dialog, IDCANCEL);
    })}));
    EXPECT_EQ(texts, (std::vector<std::string>{"+0.004", "+0.996", " 0.000", "+0.004", "+0.02", "+1.56", "-2.00", "+1.48"}));
}

TEST_F(SourceDialog, TheBrightnessSliderChangesThePictureLive)
{
    Open();
    int before = -1, after = -1;
    ASSERT_TRUE(Run({Do([&] {
        before = BlackBarLevel();
        Scroll(IDC_BRIGHTNESS, SB_THUMBTRACK, 200);
        after = BlackBarLevel();
        SendClick(dialog, IDCANCEL);
    })}));
    EXPECT_EQ(before, 0);
    EXPECT_EQ(after, 72) << "the black bar lifted by brightness 200";
    EXPECT_EQ(BlackBarLevel(), 0) << "Cancel put the device back";
}

TEST_F(SourceDialog, DefaultThenCancelPutsTheDeviceBackAndStoresNothing)
{
    StoreSetting("Brightness", 200);
    StoreSetting("Hue", 0xFFFFFFF6); // -10
    Open();
    ASSERT_TRUE(Run({Do([&] { SendClick(dialog, IDC_DEFAULT); }), Do([&] { SendClick(dialog, IDCANCEL); })}));
    std::vector<std::vector<uint8_t>> sent = SentSources();
    ASSERT_EQ(sent.size(), 3u);
    const std::vector<uint8_t> stored = {12, 0, 0, 0, 0, 0, 0, 0, 0xF6, 64, 200, 64};
    EXPECT_EQ(sent[0], stored);
    EXPECT_EQ(sent[1], Defaults);
    EXPECT_EQ(sent[2], stored);
    DWORD value;
    ASSERT_TRUE(StoredSetting("Brightness", &value));
    EXPECT_EQ(value, 200u);
}

TEST_F(SourceDialog, AStandardChosenInTheComboReachesNothingBeforeOk)
{
    Open();
    std::vector<std::vector<uint8_t>> beforeOk;
    LRESULT result;
    ASSERT_TRUE(Run({Do([&] {
        SendDlgItemMessageA(dialog, IDC_STANDARD, CB_SETCURSEL, 4, 0); // "SECAM / PAL", code 5
        SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDC_STANDARD, CBN_SELCHANGE),
                     reinterpret_cast<LPARAM>(GetDlgItem(dialog, IDC_STANDARD)));
        Scroll(IDC_BRIGHTNESS, SB_THUMBTRACK, 10);
        beforeOk = SentSources();
        SendClick(dialog, IDOK);
    })}, &result));
    EXPECT_EQ(result, DV_ERR_OK);
    ASSERT_EQ(beforeOk.size(), 2u);
    EXPECT_EQ(beforeOk[1][4], 0) << "the slider's send still carries the old standard";
    std::vector<std::vector<uint8_t>> sent = SentSources();
    ASSERT_EQ(sent.size(), 3u);
    EXPECT_EQ(sent[2], (std::vector<uint8_t>{12, 0, 0, 0, 5, 0, 0, 0, 0, 64, 10, 64}));
    DWORD value;
    ASSERT_TRUE(StoredSetting("Source", &value));
    EXPECT_EQ(value, 5u);
    ASSERT_TRUE(StoredSetting("Brightness", &value));
    EXPECT_EQ(value, 10u);
    ASSERT_TRUE(StoredSetting("Hue", &value));
    EXPECT_EQ(value, 0u);
    BoardStatus status;
    ASSERT_TRUE(GetBoardStatus(&status));
    EXPECT_EQ(status.source.standard, 5u);

    // The session adopted the values: the dialog opens with them.
    std::string brightness;
    ASSERT_TRUE(Run({Do([&] { brightness = Text(IDC_BRIGHTNESS_TEXT); SendClick(dialog, IDCANCEL); })}));
    EXPECT_EQ(brightness, "+0.039");
}

TEST_F(SourceDialog, EndOfTheWindowsSessionClosesItWithoutSendingOrStoring)
{
    Open();
    bool stayed = false;
    ASSERT_TRUE(Run({Do([&] {
        Scroll(IDC_BRIGHTNESS, SB_THUMBTRACK, 30);
        SendMessageA(dialog, WM_ENDSESSION, FALSE, 0);
        stayed = IsWindowVisible(dialog) != FALSE;
        SendMessageA(dialog, WM_ENDSESSION, TRUE, 0);
    })}));
    EXPECT_TRUE(stayed);
    std::vector<std::vector<uint8_t>> sent = SentSources();
    ASSERT_EQ(sent.size(), 2u) << "the opening and the slider, nothing at the end";
    EXPECT_EQ(sent[1][10], 30);
    DWORD value;
    EXPECT_FALSE(StoredSetting("Brightness", &value));
}

TEST_F(SourceDialog, OpensFromTheSettingsDialogOnItsOwnChannel)
{
    HWND settings = NULL;
    std::string hue;
    bool finished = RunModal([&] { Send(0, DRV_CONFIGURE, 0, 0); },
                             {[&] { return (settings = FindDialog("Brightvane 7K42Q VideoIn Settings")) != NULL; },
                              Do([&] { PostClick(settings, IDC_SOURCE); }),
                              [&] { return (dialog = FindDialog(Caption)) != NULL; },
                              Do([&] { Scroll(IDC_HUE, SB_LINELEFT); hue = Text(IDC_HUE_TEXT); SendClick(dialog, IDOK); }),
                              [&] { return !IsWindow(dialog); },
                              Do([&] { SendClick(settings, IDOK); })});
    EXPECT_TRUE(finished);
    EXPECT_EQ(hue, "-1.4");
    DWORD value;
    ASSERT_TRUE(StoredSetting("Hue", &value));
    EXPECT_EQ(value, 0xFFFFFFFFu);
}

}
