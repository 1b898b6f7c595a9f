// YUY2 frames as the board delivers them (full range, top-down) turned into
// 32-bit BGRX pixels for display and PNG files.
#ifndef TOOLS_YUY2_H
#define TOOLS_YUY2_H

#include <windows.h>

const DWORD FourccYuy2 = 0x32595559;

// `out` holds width x height x 4 bytes, top-down like the frame.
void Yuy2ToBgrx(const BYTE *frame, LONG width, LONG height, LONG stride, BYTE *out);

#endif
