// The one capture session with the kernel device, and DVM_FORMAT's operations.
#ifndef SESSION_H
#define SESSION_H

#include "vfwdrv.h"
#include "settings.h"
#include "stream.h"

struct CaptureSession {
    HANDLE device;            // the kernel device, opened for reading
    DWORD externalInOpen;     // channel 1 (VIDEO_EXTERNALIN) is open
    DWORD videoInOpen;        // channel 4 (VIDEO_IN) is open
    LONG refCount;            // holders; the device closes at 0 or below
    FormatParams format;      // as last sent to the device
    SourceParams source;      // as last sent to the device
    BITMAPINFOHEADER header;  // the format applications see
    CaptureStream stream;     // the buffer ring and the capture thread
};

// Points at the static session while a holder exists, else null.
extern CaptureSession *CurrentSession;

// DRV_OPEN of a channel: 1, 4, or 0 with dwError set; and its DRV_CLOSE.
DWORD OpenChannel(VIDEO_OPEN_PARMS *open);
DWORD CloseChannel(DWORD channel);

// The header's biWidth and biHeight already set: the rest from the format code.
void BuildBitmapHeader(BITMAPINFOHEADER *header, DWORD formatCode);
DWORD SetCaptureFormat(const BITMAPINFOHEADER *header, DWORD size);
DWORD GetCaptureFormat(BITMAPINFOHEADER *buffer, DWORD size);

#endif
