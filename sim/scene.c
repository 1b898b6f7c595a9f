/* Test scene generator of the virtual board (see scene.h). */
#include "scene.h"

static const uint8_t BarRgb[SCENE_COLOURS][3] = {
    {255, 255, 255}, {255, 255, 0}, {0, 255, 255}, {0, 255, 0},
    {255, 0, 255},   {255, 0, 0},   {0, 0, 255},   {0, 0, 0},
};

/* 3 x 5 digit font, one row of three bits per entry, top row first. */
static const uint8_t DigitFont[10][5] = {
    {7, 5, 5, 5, 7}, {2, 6, 2, 2, 7}, {7, 1, 7, 4, 7}, {7, 1, 7, 1, 7},
    {5, 5, 7, 1, 1}, {7, 4, 7, 1, 7}, {7, 4, 7, 5, 7}, {7, 1, 2, 2, 2},
    {7, 5, 7, 5, 7}, {7, 5, 7, 1, 7},
};
#define FONT_CELL 8
#define DIGIT_ADVANCE 32

/* 16384 x sin(k x 2 pi / 256) for k = 0..64: a quarter wave of hue angles. */
static const int16_t QuarterSine[65] = {
    0, 402, 804, 1205, 1606, 2006, 2404, 2801, 3196, 3590, 3981, 4370, 4756,
    5139, 5520, 5897, 6270, 6639, 7005, 7366, 7723, 8076, 8423, 8765, 9102,
    9434, 9760, 10080, 10394, 10702, 11003, 11297, 11585, 11866, 12140, 12406,
    12665, 12916, 13160, 13395, 13623, 13842, 14053, 14256, 14449, 14635,
    14811, 14978, 15137, 15286, 15426, 15557, 15679, 15791, 15893, 15986,
    16069, 16143, 16207, 16261, 16305, 16340, 16364, 16379, 16384,
};

static int Sine256(int k)
{
    k &= 255;
    if (k <= 64) return QuarterSine[k];
    if (k <= 128) return QuarterSine[128 - k];
    if (k <= 192) return -QuarterSine[k - 128];
    return -QuarterSine[256 - k];
}

static int Clamp(int value, int low, int high)
{
    return value < low ? low : value > high ? high : value;
}

void SceneMakePalette(ScenePalette *palette, const SourceParams *source)
{
    int neutral = source->brightness == 128 && source->contrast == 64 &&
                  source->saturation == 64 && source->hue == 0;
    int sine = Sine256(source->hue), cosine = Sine256(source->hue + 64);
    for (int i = 0; i < SCENE_COLOURS; i++) {
        int r = BarRgb[i][0], g = BarRgb[i][1], b = BarRgb[i][2];
        int y = (77 * r + 150 * g + 29 * b + 128) >> 8;
        int u = (-43 * r - 85 * g + 128 * b + 128) >> 8;
        int v = (128 * r - 107 * g - 21 * b + 128) >> 8;
        if (!neutral) {
            int ur = (u * cosine - v * sine) >> 14;
            int vr = (u * sine + v * cosine) >> 14;
            y = Clamp((((y - 128) * source->contrast) >> 6) + source->brightness, 0, 255);
            u = Clamp((ur * source->saturation) >> 6, -128, 127);
            v = Clamp((vr * source->saturation) >> 6, -128, 127);
            r = Clamp(y + ((359 * v) >> 8), 0, 255);
            g = Clamp(y - ((88 * u + 183 * v) >> 8), 0, 255);
            b = Clamp(y + ((454 * u) >> 8), 0, 255);
        }
        palette->rgb32[i] = (uint32_t)r << 16 | (uint32_t)g << 8 | (uint32_t)b;
        palette->rgb15[i] = (uint16_t)((r >> 3) << 10 | (g >> 3) << 5 | (b >> 3));
        palette->y[i] = (uint8_t)y;
        palette->u[i] = (uint8_t)Clamp(u + 128, 0, 255);
        palette->v[i] = (uint8_t)Clamp(v + 128, 0, 255);
    }
}

/* Is a digit's font pixel lit at strip position (x, y)? */
static int DigitPixel(unsigned x, unsigned y, uint32_t frame)
{
    char digits[10];
    int count = 0;
    do digits[count++] = (char)(frame % 10); while ((frame /= 10) && count < 10);
    if (y < SCENE_DIGITS_Y || y >= SCENE_DIGITS_Y + 5 * FONT_CELL || x < SCENE_DIGITS_X)
        return 0;
    unsigned cell = (x - SCENE_DIGITS_X) / DIGIT_ADVANCE;
    unsigned column = (x - SCENE_DIGITS_X) % DIGIT_ADVANCE / FONT_CELL;
    if (cell >= (unsigned)count || column >= 3)
        return 0;
    uint8_t bits = DigitFont[(int)digits[count - 1 - cell]][(y - SCENE_DIGITS_Y) / FONT_CELL];
    return bits >> (2 - column) & 1;
}

unsigned SceneColourAt(unsigned x, unsigned y, uint32_t frame)
{
    if (x >= SCENE_WIDTH || y >= SCENE_HEIGHT)
        return SCENE_BLACK;
    if (y < SCENE_BARS_HEIGHT)
        return x / SCENE_BAR_WIDTH;
    unsigned square = SCENE_SQUARE_X(frame);
    if (y >= SCENE_SQUARE_Y && y < SCENE_SQUARE_Y + SCENE_SQUARE_SIZE &&
        x >= square && x < square + SCENE_SQUARE_SIZE)
        return SCENE_WHITE;
    return DigitPixel(x, y, frame) ? SCENE_WHITE : SCENE_BLACK;
}

/* One scene row as palette indices; rows of the bars are all alike. */
static void BuildSceneRow(uint8_t *row, unsigned y, uint32_t frame)
{
    if (y >= SCENE_HEIGHT) {
        for (unsigned x = 0; x < SCENE_WIDTH; x++) row[x] = SCENE_BLACK;
        return;
    }
    if (y < SCENE_BARS_HEIGHT) {
        for (unsigned x = 0; x < SCENE_WIDTH; x++) row[x] = (uint8_t)(x / SCENE_BAR_WIDTH);
        return;
    }
    for (unsigned x = 0; x < SCENE_WIDTH; x++)
        row[x] = (uint8_t)SceneColourAt(x, y, frame);
}

int SceneFormatServable(const FormatParams *format)
{
    return format->formatCode >= FORMAT_YUV422 && format->formatCode <= FORMAT_RGB24 &&
           format->scaleX <= 3 && format->scaleY <= 3 &&
           format->width > 0 && format->height > 0 &&
           format->width <= (uint32_t)(SCENE_WIDTH >> format->scaleX) &&
           format->height <= (uint32_t)(SCENE_HEIGHT >> format->scaleY);
}

static unsigned BitsPerPixel(uint32_t formatCode)
{
    return formatCode == FORMAT_RGB24 ? 32 : 16;
}

uint32_t SceneStride(const FormatParams *format)
{
    return (BitsPerPixel(format->formatCode) * format->width + 31) / 32 * 4;
}

uint32_t SceneFrameBytes(const FormatParams *format)
{
    return SceneStride(format) * format->height;
}

/* Writes output row `line` (0 is the top of the picture) of the frame. */
static void RenderRow(const FormatParams *f, const ScenePalette *p, const uint16_t *columns,
                      const uint8_t *row, uint8_t *out, uint32_t stride)
{
    uint32_t w = f->width, x;
    uint8_t *end = out + stride;
    switch (f->formatCode) {
    case FORMAT_RGB24:
        for (x = 0; x < w; x++, out += 4) {
            uint32_t c = p->rgb32[row[columns[x]]];
            out[0] = (uint8_t)c; out[1] = (uint8_t)(c >> 8); out[2] = (uint8_t)(c >> 16); out[3] = 0;
        }
        break;
    case FORMAT_RGB15:
        for (x = 0; x < w; x++, out += 2) {
            uint16_t c = p->rgb15[row[columns[x]]];
            out[0] = (uint8_t)c; out[1] = (uint8_t)(c >> 8);
        }
        break;
    default: /* YUY2: Y0 U Y1 V, chroma taken at the left pixel of each pair */
        for (x = 0; x < w; x += 2, out += 4) {
            unsigned left = row[columns[x]];
            unsigned right = x + 1 < w ? row[columns[x + 1]] : left;
            out[0] = p->y[left]; out[1] = p->u[left]; out[2] = p->y[right]; out[3] = p->v[left];
        }
        break;
    }
    while (out < end) *out++ = 0;
}

uint32_t SceneRender(const FormatParams *f, const ScenePalette *p, uint32_t frame,
                     uint8_t *dst, uint32_t length)
{
    uint16_t columns[SCENE_WIDTH];
    uint8_t row[SCENE_WIDTH + 1], partial[SCENE_WIDTH * 4];
    uint32_t stride = SceneStride(f), written = 0;
    int haveRow = -1, bottomUp = f->formatCode != FORMAT_YUV422;
    const uint8_t *barRow = NULL; /* a whole output row of the bars: they are all alike */

    if (!SceneFormatServable(f))
        return 0;
    /* Scene column of every output pixel; index SCENE_WIDTH reads the black pad. */
    row[SCENE_WIDTH] = SCENE_BLACK;
    for (uint32_t x = 0; x < f->width; x++) {
        uint32_t ox = f->mirrorX ? f->width - 1 - x : x;
        uint64_t sx = (uint64_t)f->offsetX * 4 + (ox << f->scaleX);
        columns[x] = (uint16_t)(sx < SCENE_WIDTH ? sx : SCENE_WIDTH);
    }
    for (uint32_t m = 0; m < f->height && written < length; m++) {
        uint32_t line = bottomUp ? f->height - 1 - m : m;
        uint32_t oy = f->mirrorY ? f->height - 1 - line : line;
        uint64_t sy64 = (uint64_t)f->offsetY * 4 + (oy << f->scaleY);
        unsigned sy = sy64 < SCENE_HEIGHT ? (unsigned)sy64 : SCENE_HEIGHT;
        int kind = sy < SCENE_BARS_HEIGHT ? 0 : (int)sy;
        if (kind != 0 || haveRow != 0) {
            BuildSceneRow(row, sy, frame);
            haveRow = kind;
        }
        uint32_t room = length - written;
        if (room >= stride && kind == 0 && barRow) {
            for (uint32_t i = 0; i < stride; i++) dst[written + i] = barRow[i];
            written += stride;
        } else if (room >= stride) {
            RenderRow(f, p, columns, row, dst + written, stride);
            if (kind == 0)
                barRow = dst + written;
            written += stride;
        } else {
            RenderRow(f, p, columns, row, partial, stride);
            for (uint32_t i = 0; i < room; i++) dst[written + i] = partial[i];
            written += room;
        }
    }
    return written;
}
