/*
 * The test scene of the virtual board and its capture into a frame.
 *
 * The incoming picture is 640 x 480: rows 0..359 hold eight 80-pixel colour
 * bars (white, yellow, cyan, green, magenta, red, blue, black); rows
 * 360..479 are a black strip with the frame number burnt in as white digits
 * and a white square that moves 8 pixels a frame. The captured window and
 * the decoder settings (FormatParams, SourceParams) turn it into a frame.
 *
 * Plain code without any operating-system call: the kernel driver and the
 * tests both use it.
 */
#ifndef SCENE_H
#define SCENE_H

#include "board.h"

#ifdef __cplusplus
extern "C" {
#endif

#define SCENE_WIDTH        640
#define SCENE_HEIGHT       480
#define SCENE_BAR_WIDTH    80
#define SCENE_BARS_HEIGHT  360
#define SCENE_DIGITS_X     16   /* first digit; digits are 24 x 40, 32 apart */
#define SCENE_DIGITS_Y     400
#define SCENE_SQUARE_SIZE  40
#define SCENE_SQUARE_Y     400
#define SCENE_SQUARE_X(frame) (352u + ((frame) % 31u) * 8u)

/* Palette indices of the scene: the bars in order, white and black included. */
enum { SCENE_WHITE, SCENE_YELLOW, SCENE_CYAN, SCENE_GREEN, SCENE_MAGENTA,
       SCENE_RED, SCENE_BLUE, SCENE_BLACK, SCENE_COLOURS };

/* The scene's colours after the decoder settings, in every output form. */
typedef struct ScenePalette {
    uint32_t rgb32[SCENE_COLOURS]; /* 0x00RRGGBB */
    uint16_t rgb15[SCENE_COLOURS]; /* 0RRRRRGGGGGBBBBB */
    uint8_t  y[SCENE_COLOURS], u[SCENE_COLOURS], v[SCENE_COLOURS]; /* full range, chroma + 128 */
} ScenePalette;

/* Applies brightness, contrast, saturation and hue as a video decoder does.
 * The neutral settings (128, 64, 64, 0) leave the bars' colours exact. */
void SceneMakePalette(ScenePalette *palette, const SourceParams *source);

/* Palette index of scene pixel (x, y) in frame number `frame`. */
unsigned SceneColourAt(unsigned x, unsigned y, uint32_t frame);

/* 1 when the board can serve this format: code 1..3, zoom 0..3, a non-empty
 * window of at most 640 x 480 scene pixels. */
int SceneFormatServable(const FormatParams *format);

/* Bytes per row (padded to 32-bit words) and per frame of a servable format. */
uint32_t SceneStride(const FormatParams *format);
uint32_t SceneFrameBytes(const FormatParams *format);

/* Captures frame `frame` into dst: YUY2 top-down, RGB as a bottom-up DIB.
 * Writes at most `length` bytes and returns how many it wrote. */
uint32_t SceneRender(const FormatParams *format, const ScenePalette *palette,
                     uint32_t frame, uint8_t *dst, uint32_t length);

#ifdef __cplusplus
}
#endif
#endif
