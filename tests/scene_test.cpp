// The virtual board's picture, checked without a device: what each format,
// window and decoder setting makes of the test scene.
#include <gtest/gtest.h>
#include <vector>
#include "scene.h"

namespace {

const SourceParams Neutral = {12, 0, 0, 64, 128, 64};

FormatParams Format(uint32_t code, uint32_t width, uint32_t height, uint8_t scale = 0,
                   uint32_t offsetX = 0, uint32_t offsetY = 0)
{
    return FormatParams{28, code, width, height, scale, scale, 0, 0, offsetX, offsetY};
}

struct Frame {
    FormatParams format;
    std::vector<uint8_t> bytes;
    uint32_t written;

    Frame(const FormatParams &f, const SourceParams &source = Neutral, uint32_t number = 0,
          size_t length = 0)
        : format(f), bytes(length ? length : SceneFrameBytes(&f), 0xEE)
    {
        ScenePalette palette;
        SceneMakePalette(&palette, &source);
        written = SceneRender(&f, &palette, number, bytes.data(), (uint32_t)bytes.size());
    }
    // Byte offset of pixel (x, y), y counted from the top of the picture.
    size_t At(uint32_t x, uint32_t y, uint32_t bytesPerPixel) const
    {
        uint32_t row = format.formatCode == FORMAT_YUV422 ? y : format.height - 1 - y;
        return row * SceneStride(&format) + x * bytesPerPixel;
    }
    uint32_t Rgb32(uint32_t x, uint32_t y) const
    {
        size_t i = At(x, y, 4);
        return (uint32_t)bytes[i + 2] << 16 | (uint32_t)bytes[i + 1] << 8 | bytes[i];
    }
    uint16_t Rgb15(uint32_t x, uint32_t y) const
    {
        size_t i = At(x, y, 2);
        return (uint16_t)(bytes[i] | bytes[i + 1] << 8);
    }
};

TEST(SceneColourBars, FullFrameRgb24HoldsTheEightBarsBottomUp)
{
    Frame f(Format(FORMAT_RGB24, 640, 480));
    const uint32_t bars[] = {0xFFFFFF, 0xFFFF00, 0x00FFFF, 0x00FF00, 0xFF00FF, 0xFF0000, 0x0000FF, 0x000000};
    for (uint32_t bar = 0; bar < 8; bar++) {
        EXPECT_EQ(f.Rgb32(bar * 80 + 40, 100), bars[bar]) << "bar " << bar;
        EXPECT_EQ(f.Rgb32(bar * 80, 359), bars[bar]) << "bar " << bar;
    }
    EXPECT_EQ(f.written, 1228800u);
    // The first bytes in memory are the picture's bottom row: the black strip.
    EXPECT_EQ(f.bytes[0], 0);
    EXPECT_EQ(f.Rgb32(100, 479), 0u);
    EXPECT_EQ(f.bytes[3], 0) << "the fourth byte of a pixel is zero";
}

TEST(SceneColourBars, Rgb15PacksFiveBitsPerComponent)
{
    Frame f(Format(FORMAT_RGB15, 640, 480));
    const uint16_t bars[] = {0x7FFF, 0x7FE0, 0x03FF, 0x03E0, 0x7C1F, 0x7C00, 0x001F, 0x0000};
    for (uint32_t bar = 0; bar < 8; bar++)
        EXPECT_EQ(f.Rgb15(bar * 80 + 40, 10), bars[bar]) << "bar " << bar;
    EXPECT_EQ(f.written, 614400u);
}

TEST(SceneColourBars, Yuy2IsTopDownWithFullRangeLumaAndChroma)
{
    Frame f(Format(FORMAT_YUV422, 640, 480));
    const uint8_t *white = &f.bytes[f.At(40, 0, 2)];
    EXPECT_EQ(white[0], 255); EXPECT_EQ(white[1], 128); EXPECT_EQ(white[2], 255); EXPECT_EQ(white[3], 128);
    const uint8_t *red = &f.bytes[f.At(5 * 80 + 40, 0, 2)];
    EXPECT_EQ(red[0], 77); EXPECT_EQ(red[1], 85); EXPECT_EQ(red[2], 77); EXPECT_EQ(red[3], 255);
    const uint8_t *blue = &f.bytes[f.At(6 * 80 + 40, 10, 2)];
    EXPECT_EQ(blue[0], 29); EXPECT_EQ(blue[1], 255); EXPECT_EQ(blue[3], 107);
    EXPECT_EQ(f.bytes[f.At(0, 479, 2)], 0) << "last row is the black strip";
}

TEST(SceneWindow, MirroringFlipsEachAxis)
{
    FormatParams format = Format(FORMAT_RGB24, 640, 480);
    format.mirrorX = 1;
    Frame x(format);
    EXPECT_EQ(x.Rgb32(0, 0), 0x000000u) << "black bar now at the left";
    EXPECT_EQ(x.Rgb32(639, 0), 0xFFFFFFu) << "white bar now at the right";
    format.mirrorX = 0;
    format.mirrorY = 1;
    Frame y(format);
    EXPECT_EQ(y.Rgb32(40, 479), 0xFFFFFFu) << "bars now at the bottom";
    EXPECT_EQ(y.Rgb32(200, 0), 0x000000u) << "strip now at the top";
}

TEST(SceneWindow, ZoomAndOffsetSelectTheCapturedArea)
{
    // 160 x 120 at 1:4 from (20 x 4, 0): scene columns 80.. in steps of 4.
    Frame f(Format(FORMAT_RGB24, 160, 120, 2, 20, 0));
    EXPECT_EQ(f.Rgb32(0, 0), 0xFFFF00u);   // scene x 80: yellow
    EXPECT_EQ(f.Rgb32(19, 0), 0xFFFF00u);  // scene x 156
    EXPECT_EQ(f.Rgb32(20, 0), 0x00FFFFu);  // scene x 160: cyan
    EXPECT_EQ(f.Rgb32(139, 0), 0x000000u); // scene x 636: black bar
    EXPECT_EQ(f.Rgb32(140, 0), 0x000000u); // beyond the scene: black
    EXPECT_EQ(f.Rgb32(0, 89), 0xFFFF00u);  // scene y 356: still bars
    EXPECT_EQ(f.Rgb32(0, 90), 0x000000u);  // scene y 360: the strip
}

TEST(SceneWindow, OffsetBeyondTheSceneGivesBlackNotAWrappedPicture)
{
    Frame f(Format(FORMAT_RGB24, 80, 60, 0, 0x40000000u, 0x40000000u));
    EXPECT_EQ(f.Rgb32(0, 0), 0u);
    EXPECT_EQ(f.Rgb32(79, 59), 0u);
}

TEST(SceneFormats, ServableFormatsStayWithinTheScene)
{
    EXPECT_TRUE(SceneFormatServable(&(const FormatParams &)Format(FORMAT_RGB15, 160, 120, 2)));
    EXPECT_TRUE(SceneFormatServable(&(const FormatParams &)Format(FORMAT_RGB24, 640, 480, 0)));
    EXPECT_TRUE(SceneFormatServable(&(const FormatParams &)Format(FORMAT_YUV422, 80, 60, 3)));
    EXPECT_FALSE(SceneFormatServable(&(const FormatParams &)Format(0, 160, 120, 2)));
    EXPECT_FALSE(SceneFormatServable(&(const FormatParams &)Format(4, 160, 120, 2)));
    EXPECT_FALSE(SceneFormatServable(&(const FormatParams &)Format(FORMAT_RGB24, 641, 480, 0)));
    EXPECT_FALSE(SceneFormatServable(&(const FormatParams &)Format(FORMAT_RGB24, 161, 120, 2)));
    EXPECT_FALSE(SceneFormatServable(&(const FormatParams &)Format(FORMAT_RGB24, 160, 121, 2)));
    EXPECT_FALSE(SceneFormatServable(&(const FormatParams &)Format(FORMAT_RGB24, 40, 30, 4)));
    EXPECT_FALSE(SceneFormatServable(&(const FormatParams &)Format(FORMAT_RGB24, 0, 120, 0)));
}

TEST(SceneFormats, RowsArePaddedToWholeWordsWithZeros)
{
    Frame f(Format(FORMAT_RGB15, 81, 2));
    EXPECT_EQ(SceneStride(&f.format), 164u);
    EXPECT_EQ(f.written, 328u);
    EXPECT_EQ(f.bytes[162], 0);
    EXPECT_EQ(f.bytes[163], 0);
}

TEST(SceneFormats, AShortBufferGetsTheFrameCutAtItsLength)
{
    Frame whole(Format(FORMAT_RGB24, 160, 120, 2));
    Frame cut(Format(FORMAT_RGB24, 160, 120, 2), Neutral, 0, 1000);
    EXPECT_EQ(cut.written, 1000u);
    EXPECT_TRUE(std::equal(cut.bytes.begin(), cut.bytes.end(), whole.bytes.begin()));
}

TEST(SceneMotion, FrameNumberIsBurntInAndTheSquareMoves)
{
    EXPECT_EQ(SceneColourAt(16, 400, 0), (unsigned)SCENE_WHITE);  // "0": top row lit
    EXPECT_EQ(SceneColourAt(16, 400, 1), (unsigned)SCENE_BLACK);  // "1": only the middle column
    EXPECT_EQ(SceneColourAt(24, 400, 1), (unsigned)SCENE_WHITE);
    EXPECT_EQ(SceneColourAt(48 + 8, 400, 12), (unsigned)SCENE_WHITE);  // second digit "2"
    EXPECT_EQ(SceneColourAt(352, 400, 0), (unsigned)SCENE_WHITE);
    EXPECT_EQ(SceneColourAt(352, 400, 1), (unsigned)SCENE_BLACK);
    EXPECT_EQ(SceneColourAt(360, 439, 1), (unsigned)SCENE_WHITE);
    Frame a(Format(FORMAT_RGB24, 640, 480), Neutral, 7), b(Format(FORMAT_RGB24, 640, 480), Neutral, 8);
    EXPECT_NE(a.bytes, b.bytes);
}

TEST(SceneDecoder, NeutralSettingsLeaveTheBarsExact)
{
    ScenePalette p;
    SceneMakePalette(&p, &Neutral);
    EXPECT_EQ(p.rgb32[SCENE_YELLOW], 0xFFFF00u);
    EXPECT_EQ(p.rgb32[SCENE_MAGENTA], 0xFF00FFu);
}

TEST(SceneDecoder, BrightnessContrastSaturationAndHueActOnThePicture)
{
    SourceParams bright = Neutral;
    bright.brightness = 200;
    Frame f(Format(FORMAT_RGB24, 640, 480), bright);
    EXPECT_EQ(f.Rgb32(7 * 80 + 40, 10), 0x484848u) << "black bar lifted to 72";
    EXPECT_EQ(f.Rgb32(40, 10), 0xFFFFFFu);

    ScenePalette p;
    SourceParams flat = Neutral;
    flat.contrast = 32;
    SceneMakePalette(&p, &flat);
    EXPECT_EQ(p.rgb32[SCENE_WHITE], 0xBFBFBFu);
    EXPECT_EQ(p.rgb32[SCENE_BLACK], 0x404040u);

    SourceParams grey = Neutral;
    grey.saturation = 0;
    SceneMakePalette(&p, &grey);
    EXPECT_EQ(p.rgb32[SCENE_RED], 0x4D4D4Du) << "red without colour is its luma, 77";

    SourceParams turned = Neutral;
    turned.hue = 64; // a quarter turn of the chroma
    SceneMakePalette(&p, &turned);
    EXPECT_EQ(p.rgb32[SCENE_WHITE], 0xFFFFFFu);
    EXPECT_NE(p.rgb32[SCENE_RED], 0xFF0000u);
    EXPECT_EQ(p.y[SCENE_RED], 77);
    EXPECT_EQ(p.u[SCENE_RED], 0) << "red's V (+128) turned onto U (-128)";
    EXPECT_EQ(p.v[SCENE_RED], 85) << "and its U (-43) onto V";
}

}
