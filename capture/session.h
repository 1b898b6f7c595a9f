// The one capture session with the kernel device, and the device protocol.
#ifndef SESSION_H
#define SESSION_H

#include <atomic>
#include "vfwdrv.h"
#include "params.h"

// Kernel service whose "Parameters" key names the device.
#define KERNEL_SERVICE_NAME "zentacap"

// Device-control requests: FILE_DEVICE_SOUND, METHOD_BUFFERED, FILE_ANY_ACCESS.
#define IOCTL_SET_FORMAT    0x001D0804 // input FormatParams
#define IOCTL_SET_SOURCE    0x001D0808 // input SourceParams
#define IOCTL_RESTART_VIDEO 0x001D0840 // no input

#define STREAM_RING_SLOTS 1000

struct CaptureSession {
    HANDLE device;            // the kernel device, opened for reading
    DWORD externalInOpen;     // channel 1 (VIDEO_EXTERNALIN) is open
    DWORD videoInOpen;        // channel 4 (VIDEO_IN) is open
    LONG refCount;            // holders; the device closes at 0 or below
    FormatParams format;      // as last sent to the device
    SourceParams source;      // as last sent to the device
    BITMAPINFOHEADER header;  // the format applications see
    VIDEOHDR *ring[STREAM_RING_SLOTS];
    std::atomic<LONG> queuedCount;       // headers added since DVM_STREAM_INIT
    VIDEO_STREAM_INIT_PARMS streamInit;
    std::atomic<HANDLE> stopEvent;       // the capture thread's, 0 until it exists

    // Kept so that a stop always reaches the one capture thread and the
    // ring never overruns (stream.cpp):
    HANDLE captureThread;                // until it has been waited for
    DWORD captureThreadId;
    std::atomic<HANDLE> wakeEvent;       // wakes a thread waiting for a header
    std::atomic<LONG> completedCount;    // the thread's finished cycles since DVM_STREAM_INIT
    std::atomic<LONG> stopRequested;     // DVM_STREAM_STOP, even before the event exists
    std::atomic<LONG> threadWaiting;     // the thread waits for a header: adds wake it
    BOOL threadClosesDevice;             // released from inside a callback
};

static_assert(offsetof(CaptureSession, refCount) == 12 && offsetof(CaptureSession, format) == 16 &&
              offsetof(CaptureSession, source) == 44 && offsetof(CaptureSession, header) == 56 &&
              offsetof(CaptureSession, ring) == 96 && offsetof(CaptureSession, queuedCount) == 4096 &&
              offsetof(CaptureSession, streamInit) == 4100 && offsetof(CaptureSession, stopEvent) == 4120,
              "CaptureSession fields in their order");

// Points at the static session while a holder exists, else null.
extern CaptureSession *CurrentSession;

DWORD OpenChannel(VIDEO_OPEN_PARMS *open);
DWORD CloseChannel(DWORD channel);
void ReleaseSession();
void InitSession(CaptureSession &session);
HANDLE OpenCaptureDevice();
BOOL ReadDeviceName(char *buffer, DWORD size);
void CloseDeviceHandle(HANDLE device);
BOOL SendFormatParams(HANDLE device, const FormatParams *format);
BOOL SendSourceParams(HANDLE device, const SourceParams *source);
BOOL RestartVideo(HANDLE device);
void BuildBitmapHeader(BITMAPINFOHEADER *header, DWORD formatCode);
DWORD SetCaptureFormat(const BITMAPINFOHEADER *header, DWORD size);
DWORD GetCaptureFormat(BITMAPINFOHEADER *buffer, DWORD size);

#endif
