// Driver entry and message dispatch of zentacap.
#ifndef DRIVER_H
#define DRIVER_H

#include "vfwdrv.h"

// Instance identifier of an open without open parameters.
#define CONFIG_DRIVER_ID 9999

// Module of every string, dialog and cursor the driver loads.
extern HINSTANCE ModuleInstance;

DWORD DispatchChannelMessage(DWORD channel, UINT message, LPARAM lParam1, LPARAM lParam2);
DWORD HandleFormat(DWORD channel, DWORD flags, VIDEOCONFIGPARMS *parms);
DWORD HandleRect(DWORD channel, BOOL sourceRect, RECT *rect, DWORD flags);
DWORD HandleChannelCaps(DWORD channel, CHANNEL_CAPS *caps, DWORD size);

#endif
