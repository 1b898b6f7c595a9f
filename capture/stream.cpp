// Stream engine. Not built yet: every stream message and DVM_FRAME is
// answered as unsupported.
#include "stream.h"

DWORD HandleStreamMessage(DWORD, UINT, LPARAM, LPARAM)
{
    return DV_ERR_NOTSUPPORTED;
}

DWORD CaptureSingleFrame(DWORD, VIDEOHDR *)
{
    return DV_ERR_NOTSUPPORTED;
}
