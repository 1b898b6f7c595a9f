// The live picture in a window of its own thread. The recording offers each
// frame and never waits: a frame offered while the window still draws the
// last one is not shown, so the screen never slows the recording.
#ifndef CAPTURE_PREVIEW_H
#define CAPTURE_PREVIEW_H

#include <atomic>
#include <windows.h>

// What the window's title reports, kept by the recording.
struct PreviewCounts {
    std::atomic<long> captured{0}, dropped{0};
};

// Opens the window; `closed` is signalled when the user closes it.
bool StartPreview(const BITMAPINFOHEADER &h, const PreviewCounts *counts, HANDLE closed);
// Copies the frame for display when the window is ready for one.
void OfferPreviewFrame(const BYTE *frame);
void StopPreview();

#endif
