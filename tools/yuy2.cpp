// YUY2 (full range) to 32-bit BGRX (see yuy2.h).
#include "yuy2.h"

static BYTE Clamp(int value)
{
    return (BYTE)(value < 0 ? 0 : value > 255 ? 255 : value);
}

void Yuy2ToBgrx(const BYTE *frame, LONG width, LONG height, LONG stride, BYTE *out)
{
    for (LONG y = 0; y < height; y++) {
        const BYTE *in = frame + (size_t)y * stride;
        for (LONG x = 0; x < width; x++, out += 4) {
            int luma = in[(x & ~1) * 2 + (x & 1) * 2];
            int u = in[(x & ~1) * 2 + 1] - 128, v = in[(x & ~1) * 2 + 3] - 128;
            out[0] = Clamp(luma + ((454 * u) >> 8));
            out[1] = Clamp(luma - ((88 * u + 183 * v) >> 8));
            out[2] = Clamp(luma + ((359 * v) >> 8));
            out[3] = 0;
        }
    }
}
