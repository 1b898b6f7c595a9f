// The kernel device: looked up through its service's "Parameters" key,
// opened for reading and driven by the requests of device_protocol.h.
#ifndef DEVICE_H
#define DEVICE_H

#include <windows.h>
#include "device_protocol.h"

// The device handle, or INVALID_HANDLE_VALUE with the thread's last error
// (ERROR_FILE_NOT_FOUND when no device name is registered).
HANDLE OpenCaptureDevice();
void CloseDeviceHandle(HANDLE device);

// Each returns the request's success flag.
BOOL SendFormatParams(HANDLE device, const FormatParams *format);
BOOL SendSourceParams(HANDLE device, const SourceParams *source);
BOOL RestartVideo(HANDLE device);

#endif
