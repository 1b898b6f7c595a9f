// The capture drivers installed on the system, and the channels of the one
// the client records from, opened as the video-capture layer opens them.
#ifndef CAPTURE_DRIVERS_H
#define CAPTURE_DRIVERS_H

#include <string>
#include <vector>
#include "vfwdrv.h"

// One video-capture entry of Drivers32: "msvideo" is slot 0, "msvideoN" slot N.
struct InstalledDriver {
    int slot;
    std::string file, description;
};

std::vector<InstalledDriver> ListCaptureDrivers();

// The driver file of slot `slot`; false (and a message) when the slot is empty.
bool DriverOfSlot(int slot, std::string &file);

// DRV_OPEN of channel `type` (VIDEO_IN or VIDEO_EXTERNALIN) with 'vcap' open
// parameters; NULL after printing why.
HDRVR OpenCaptureChannel(const std::string &driverFile, DWORD type);

// Prints "capture: WHAT: TEXT" with the driver's own text for `error`.
void PrintDriverError(HDRVR driver, const char *what, DWORD error);

#endif
