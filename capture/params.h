// The two settings records the capture driver sends to its kernel device,
// their choices, defaults and per-user store.
#ifndef PARAMS_H
#define PARAMS_H

#include <windows.h>
#include <stddef.h>

const DWORD FORMAT_YUV422 = 1, FORMAT_RGB15 = 2, FORMAT_RGB24 = 3;

// Input of IOCTL_SET_FORMAT: the video streams unit (28 bytes, little-endian).
struct FormatParams {
    DWORD size;        // 28
    DWORD formatCode;  // FORMAT_*
    DWORD width;       // 80..640, a multiple of 4
    DWORD height;      // 60..480
    BYTE scaleX;       // zoom 0 = 1:1 .. 3 = 1:8
    BYTE scaleY;
    BYTE mirrorX;      // 1 = flipped left to right
    BYTE mirrorY;      // 1 = flipped upside down
    DWORD offsetX;     // 0..159
    DWORD offsetY;     // 0..119
};
static_assert(sizeof(FormatParams) == 28, "FormatParams is 28 bytes");
static_assert(offsetof(FormatParams, formatCode) == 4 && offsetof(FormatParams, width) == 8 &&
              offsetof(FormatParams, height) == 12 && offsetof(FormatParams, scaleX) == 16 &&
              offsetof(FormatParams, scaleY) == 17 && offsetof(FormatParams, mirrorX) == 18 &&
              offsetof(FormatParams, mirrorY) == 19 && offsetof(FormatParams, offsetX) == 20 &&
              offsetof(FormatParams, offsetY) == 24, "FormatParams byte layout");

// Input of IOCTL_SET_SOURCE: the video input processor (12 bytes).
struct SourceParams {
    DWORD size;        // 12
    DWORD standard;    // a code of VideoStandardChoices
    signed char hue;
    signed char saturation;
    BYTE brightness;
    signed char contrast;
};
static_assert(sizeof(SourceParams) == 12, "SourceParams is 12 bytes");
static_assert(offsetof(SourceParams, standard) == 4 && offsetof(SourceParams, hue) == 8 &&
              offsetof(SourceParams, saturation) == 9 && offsetof(SourceParams, brightness) == 10 &&
              offsetof(SourceParams, contrast) == 11, "SourceParams byte layout");

// One row of a read-only combo-box table.
struct Choice {
    DWORD code;
    const char *label;
};

extern const Choice FormatChoices[3];
extern const Choice VideoStandardChoices[5];

void SetDefaultFormatParams(FormatParams &format);
// Width 80..640 in multiples of 4, height 60..480, comparisons unsigned.
void ClampFrameSize(FormatParams &format);
void LoadFormatParams(FormatParams &format);
void SaveFormatParams(const FormatParams &format);
void SetDefaultSourceParams(SourceParams &source);
void LoadSourceParams(SourceParams &source);
void SaveSourceParams(const SourceParams &source);

DWORD ReadSettingDword(const char *name, DWORD fallback);
BOOL WriteSettingDword(const char *name, DWORD value);

#endif
