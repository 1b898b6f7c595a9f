// Capture parameters: the limits of the two settings records the driver
// sends to its kernel device, their choices, defaults and per-user store.
#ifndef SETTINGS_H
#define SETTINGS_H

#include <windows.h>
#include "device_protocol.h"

// Frame size and position limits of FormatParams. The full frame is also
// the largest window the zoom may cover.
const DWORD FRAME_WIDTH_MAX = 640, FRAME_HEIGHT_MAX = 480;
const DWORD FRAME_WIDTH_MIN = 80, FRAME_HEIGHT_MIN = 60;
const DWORD OFFSET_X_MAX = 159, OFFSET_Y_MAX = 119;

// One row of a read-only combo-box table.
struct Choice {
    DWORD code;
    const char *label;
};

extern const Choice FormatChoices[3];
extern const Choice VideoStandardChoices[5];

void SetDefaultFormatParams(FormatParams &format);
// Width FRAME_WIDTH_MIN..MAX in multiples of 4, height FRAME_HEIGHT_MIN..MAX,
// comparisons unsigned.
void ClampFrameSize(FormatParams &format);
void LoadFormatParams(FormatParams &format);
void SaveFormatParams(const FormatParams &format);
void SetDefaultSourceParams(SourceParams &source);
void LoadSourceParams(SourceParams &source);
void SaveSourceParams(const SourceParams &source);

#endif
