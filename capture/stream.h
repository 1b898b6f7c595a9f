// Stream engine: queued buffers filled by one capture thread, and single frames.
#ifndef STREAM_H
#define STREAM_H

#include "session.h"

DWORD HandleStreamMessage(DWORD channel, UINT message, LPARAM lParam1, LPARAM lParam2);
DWORD CaptureSingleFrame(DWORD channel, VIDEOHDR *header, DWORD size);
BOOL ReadFrame(HANDLE device, VIDEOHDR *header);
DWORD WINAPI CaptureThreadProc(LPVOID session);

// Stops the session's capture thread and waits until it has ended. FALSE
// when called on that thread itself: it then closes the device as it ends.
BOOL EndCaptureThread(CaptureSession &session);

#endif
