// Capture parameters and their per-user store, over the real registry.
#include "capture_rig.h"
#include "settings.h"
#include <cstring>

namespace {

class Settings : public ::testing::Test {
protected:
    void SetUp() override { ClearCaptureSettings(); }
    void TearDown() override { ClearCaptureSettings(); }
    static FormatParams LoadedFormat()
    {
        FormatParams f = {};
        f.size = 28;
        SetDefaultFormatParams(f);
        LoadFormatParams(f);
        return f;
    }
    static SourceParams LoadedSource()
    {
        SourceParams s = {};
        s.size = 12;
        SetDefaultSourceParams(s);
        LoadSourceParams(s);
        return s;
    }
};

TEST_F(Settings, FirstUseWithoutAnyKeyGivesTheDefaults)
{
    FormatParams f = LoadedFormat();
    EXPECT_EQ(f.size, 28u);
    EXPECT_EQ(f.formatCode, 2u);
    EXPECT_EQ(f.width, 160u);
    EXPECT_EQ(f.height, 120u);
    EXPECT_EQ(f.scaleX, 2);
    EXPECT_EQ(f.scaleY, 2);
    EXPECT_EQ(f.mirrorX, 0);
    EXPECT_EQ(f.mirrorY, 0);
    EXPECT_EQ(f.offsetX, 36u);
    EXPECT_EQ(f.offsetY, 3u);
    SourceParams s = LoadedSource();
    EXPECT_EQ(s.size, 12u);
    EXPECT_EQ(s.standard, 0u);
    EXPECT_EQ(s.hue, 0);
    EXPECT_EQ(s.saturation, 64);
    EXPECT_EQ(s.brightness, 128);
    EXPECT_EQ(s.contrast, 64);
}

TEST_F(Settings, WidthAndHeightAreClampedAndTheWidthRoundedDown)
{
    const DWORD widths[][2] = {{82, 80}, {1000, 640}, {0, 80}, {0xFFFFFFFF, 640}, {83, 80},
                               {85, 84}, {323, 320}, {641, 640}};
    for (const auto &w : widths) {
        StoreSetting("Width", w[0]);
        EXPECT_EQ(LoadedFormat().width, w[1]) << "stored " << w[0];
    }
    const DWORD heights[][2] = {{30, 60}, {500, 480}, {61, 61}, {0x80000000, 480}};
    for (const auto &h : heights) {
        StoreSetting("Height", h[0]);
        EXPECT_EQ(LoadedFormat().height, h[1]) << "stored " << h[0];
    }
}

TEST_F(Settings, ByteFieldsTakeTheLowByteBeforeTheirClamps)
{
    const DWORD scales[][2] = {{7, 3}, {256, 0}, {259, 3}, {1, 1}};
    for (const auto &s : scales) {
        StoreSetting("ScaleX", s[0]);
        StoreSetting("ScaleY", s[0]);
        EXPECT_EQ(LoadedFormat().scaleX, s[1]) << "stored " << s[0];
        EXPECT_EQ(LoadedFormat().scaleY, s[1]) << "stored " << s[0];
    }
    StoreSetting("MirrorY", 2);
    StoreSetting("MirrorX", 256); // low byte 0
    EXPECT_EQ(LoadedFormat().mirrorY, 1);
    EXPECT_EQ(LoadedFormat().mirrorX, 0);
    StoreSetting("OffsetX", 200);
    StoreSetting("OffsetY", 0xFFFFFFFF);
    EXPECT_EQ(LoadedFormat().offsetX, 159u);
    EXPECT_EQ(LoadedFormat().offsetY, 119u);
}

TEST_F(Settings, UnknownCodesFallBackToRgb15AndTheFirstStandard)
{
    const DWORD formats[][2] = {{0, 2}, {4, 2}, {1, 1}, {3, 3}, {0xFFFFFFFF, 2}};
    for (const auto &f : formats) {
        StoreSetting("Format", f[0]);
        EXPECT_EQ(LoadedFormat().formatCode, f[1]) << "stored " << f[0];
    }
    const DWORD standards[][2] = {{4, 0}, {6, 0}, {5, 5}, {3, 3}, {1, 1}};
    for (const auto &s : standards) {
        StoreSetting("Source", s[0]);
        EXPECT_EQ(LoadedSource().standard, s[1]) << "stored " << s[0];
    }
}

TEST_F(Settings, ValuesOfAnotherTypeOrSizeAreIgnored)
{
    StoreRawSetting("Width", REG_SZ, "320", 4);
    const BYTE eight[8] = {0x40, 1, 0, 0, 0, 0, 0, 0};
    StoreRawSetting("Height", REG_BINARY, eight, 8);
    StoreRawSetting("OffsetX", REG_DWORD, eight, 8);  // longer than 4 bytes
    StoreRawSetting("OffsetY", REG_DWORD, eight, 2);  // shorter
    StoreRawSetting("Brightness", REG_QWORD, eight, 8);
    FormatParams f = LoadedFormat();
    EXPECT_EQ(f.width, 160u);
    EXPECT_EQ(f.height, 120u);
    EXPECT_EQ(f.offsetX, 36u);
    EXPECT_EQ(f.offsetY, 3u);
    EXPECT_EQ(LoadedSource().brightness, 128);
}

TEST_F(Settings, SignedFieldsAreStoredWithTheirSign)
{
    SourceParams s = {12, 2, -5, -128, 255, 127};
    SaveSourceParams(s);
    DWORD value;
    ASSERT_TRUE(StoredSetting("Hue", &value));
    EXPECT_EQ(value, 0xFFFFFFFBu);
    ASSERT_TRUE(StoredSetting("Saturation", &value));
    EXPECT_EQ(value, 0xFFFFFF80u);
    ASSERT_TRUE(StoredSetting("Brightness", &value));
    EXPECT_EQ(value, 255u);
    ASSERT_TRUE(StoredSetting("Source", &value));
    EXPECT_EQ(value, 2u);
    SourceParams loaded = LoadedSource();
    EXPECT_EQ(loaded.hue, -5);
    EXPECT_EQ(loaded.saturation, -128);
    EXPECT_EQ(loaded.brightness, 255);
    EXPECT_EQ(loaded.contrast, 127);

    StoreSetting("Hue", 200);
    EXPECT_EQ(LoadedSource().hue, -56);
}

TEST_F(Settings, SavingCreatesTheKeyWithItsParentsAndWritesEveryValue)
{
    FormatParams f = {28, 3, 320, 240, 1, 0, 1, 0, 10, 20};
    SaveFormatParams(f);
    const char *names[] = {"Format", "Width", "Height", "ScaleX", "ScaleY", "MirrorX", "MirrorY", "OffsetX", "OffsetY"};
    const DWORD values[] = {3, 320, 240, 1, 0, 1, 0, 10, 20};
    for (int i = 0; i < 9; i++) {
        DWORD value = 0xDEAD;
        ASSERT_TRUE(StoredSetting(names[i], &value)) << names[i];
        EXPECT_EQ(value, values[i]) << names[i];
    }
    FormatParams loaded = LoadedFormat();
    EXPECT_EQ(std::memcmp(&loaded, &f, sizeof f), 0);
}

TEST_F(Settings, TheTablesListTheChoicesInDialogOrder)
{
    EXPECT_EQ(FormatChoices[0].code, 2u); EXPECT_STREQ(FormatChoices[0].label, "RGB 15");
    EXPECT_EQ(FormatChoices[1].code, 3u); EXPECT_STREQ(FormatChoices[1].label, "RGB 24");
    EXPECT_EQ(FormatChoices[2].code, 1u); EXPECT_STREQ(FormatChoices[2].label, "YUV 422");
    const DWORD codes[] = {0, 1, 2, 3, 5};
    const char *labels[] = {"PAL / NTSC-M", "NTSC / PAL", "PAL-N / NTSC", "NTSC-N / PAL-M", "SECAM / PAL"};
    for (int i = 0; i < 5; i++) {
        EXPECT_EQ(VideoStandardChoices[i].code, codes[i]);
        EXPECT_STREQ(VideoStandardChoices[i].label, labels[i]);
    }
}

class StoredSettingsAtSessionStart : public CaptureDriverTest {};

TEST_F(StoredSettingsAtSessionStart, ReachTheDeviceClampedEveryTimeASessionStarts)
{
    StoreSetting("Width", 85);
    StoreSetting("Height", 61);
    StoreSetting("ScaleX", 259);
    StoreSetting("MirrorX", 7);
    StoreSetting("OffsetY", 500);
    StoreSetting("Hue", 0xFFFFFFFB);
    StoreSetting("Brightness", 200);
    StoreSetting("Source", 3);
    ASSERT_EQ(OpenChannelOfType(VIDEO_EXTERNALIN), 1);
    std::vector<JournalEntry> requests = BoardRequests();
    ASSERT_EQ(requests.size(), 2u);
    const uint8_t source[12] = {12, 0, 0, 0, 3, 0, 0, 0, 0xFB, 64, 200, 64};
    EXPECT_EQ(std::memcmp(requests[0].data, source, 12), 0);
    const uint8_t format[28] = {28, 0, 0, 0, 2, 0, 0, 0, 84, 0, 0, 0, 61, 0, 0, 0,
                                3, 2, 1, 0, 36, 0, 0, 0, 119, 0, 0, 0};
    EXPECT_EQ(std::memcmp(requests[1].data, format, 28), 0);
    EXPECT_EQ(Send(1, DRV_CLOSE), 1);
    ASSERT_TRUE(WaitForBoardClosed());

    StoreSetting("Brightness", 10);
    ASSERT_EQ(OpenChannelOfType(VIDEO_IN), 4);
    requests = BoardRequests();
    ASSERT_EQ(requests.size(), 4u);
    EXPECT_EQ(requests[2].data[10], 10) << "the next session reads the store again";
    EXPECT_EQ(Send(4, DRV_CLOSE), 1);
}

}
