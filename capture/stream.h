// Stream engine: queued buffers filled by one capture thread, and single frames.
#ifndef STREAM_H
#define STREAM_H

#include "vfwdrv.h"

DWORD HandleStreamMessage(DWORD channel, UINT message, LPARAM lParam1, LPARAM lParam2);
DWORD CaptureSingleFrame(DWORD channel, VIDEOHDR *header);

#endif
