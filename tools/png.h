// Saves a captured frame or a window as a PNG file.
#ifndef TOOLS_PNG_H
#define TOOLS_PNG_H

#include <windows.h>

// `frame` as the board delivers it: YUY2 top-down (compression 'YUY2'), or a
// bottom-up BI_RGB DIB of 16 (5-5-5) or 32 bits. Returns false and prints why
// on failure.
bool SaveFramePng(const char *path, const BITMAPINFOHEADER &header, const BYTE *frame);

// A picture of a window as it is on the screen.
bool SaveWindowPng(const char *path, HWND window);

#endif
