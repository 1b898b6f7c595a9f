// The driver's one export, DriverProc: the installable-driver messages and
// the dispatch of every channel message.
#include "dialogs.h"
#include "install.h"
#include "session.h"
#include "settings_dialog.h"
#include "warnings.h"

// Instance identifier of an open without open parameters.
static const DWORD CONFIG_DRIVER_ID = 9999;

static const FOURCC FourccVcap = 0x70616376; // 'vcap'

static LRESULT Open(LPARAM lParam2)
{
    VIDEO_OPEN_PARMS *open = reinterpret_cast<VIDEO_OPEN_PARMS *>(lParam2);
    if (!open)
        return CONFIG_DRIVER_ID;
    if (open->fccType != FourccVcap)
        return 0;
    return OpenChannel(open);
}

static LRESULT Configure(HWND parent)
{
    if (InstallState == -1)
        return DRVCNF_OK;
    LRESULT result = InstallState == 1 ? ShowAboutDialog(parent) : ShowSettingsDialog(parent);
    return result == -1 ? DRVCNF_CANCEL : result; // -1: the dialog could not be made
}

static bool IsChannel(DWORD channel)
{
    return channel == VIDEO_EXTERNALIN || channel == VIDEO_IN;
}

static DWORD HandleFormat(DWORD channel, DWORD flags, VIDEOCONFIGPARMS *parms)
{
    if (channel != VIDEO_IN)
        return DV_ERR_NOTSUPPORTED;
    if (!parms)
        return DV_ERR_PARAM2;
    LPVOID data = parms->lpData1;
    DWORD size = parms->dwSize1;
    switch (flags) {
    case VIDEO_CONFIGURE_QUERYSIZE:
    case VIDEO_CONFIGURE_GET | VIDEO_CONFIGURE_QUERYSIZE:
        if (!parms->lpdwReturn)
            return DV_ERR_PARAM2;
        *parms->lpdwReturn = sizeof(BITMAPINFOHEADER);
        return DV_ERR_OK;
    case VIDEO_CONFIGURE_SET:
    case VIDEO_CONFIGURE_SET | VIDEO_CONFIGURE_CURRENT:
        if (!CurrentSession)
            return DV_ERR_INVALHANDLE; // sent for an instance never opened
        if (!data)
            return DV_ERR_PARAM2;
        return SetCaptureFormat(static_cast<const BITMAPINFOHEADER *>(data), size);
    case VIDEO_CONFIGURE_GET:
    case VIDEO_CONFIGURE_GET | VIDEO_CONFIGURE_CURRENT:
        if (!CurrentSession)
            return DV_ERR_INVALHANDLE;
        if (!data)
            return DV_ERR_PARAM2;
        return GetCaptureFormat(static_cast<BITMAPINFOHEADER *>(data), size);
    case VIDEO_CONFIGURE_QUERY | VIDEO_CONFIGURE_SET:
    case VIDEO_CONFIGURE_QUERY | VIDEO_CONFIGURE_GET:
        return DV_ERR_OK;
    }
    return DV_ERR_NOTSUPPORTED;
}

static DWORD HandleRect(DWORD channel, BOOL sourceRect, RECT *rect, DWORD flags)
{
    if (!rect)
        return DV_ERR_PARAM1;
    if (!IsChannel(channel) || sourceRect)
        return DV_ERR_NOTSUPPORTED;
    if (flags != (VIDEO_CONFIGURE_GET | VIDEO_CONFIGURE_CURRENT) &&
        flags != (VIDEO_CONFIGURE_GET | VIDEO_CONFIGURE_MAX))
        return DV_ERR_NOTSUPPORTED;
    SetRect(rect, 0, 0, FRAME_WIDTH_MAX, FRAME_HEIGHT_MAX);
    return DV_ERR_OK;
}

static DWORD HandleChannelCaps(DWORD channel, CHANNEL_CAPS *caps, DWORD size)
{
    // A record shorter than CHANNEL_CAPS would be written past its end.
    if (!caps)
        return DV_ERR_PARAM1;
    if (size < sizeof *caps)
        return DV_ERR_PARAM2;
    caps->dwFlags = 0;
    if (channel == VIDEO_EXTERNALIN)
        caps->dwFlags = VCAPS_CAN_SCALE;
    else if (channel != VIDEO_IN)
        return DV_ERR_NOTSUPPORTED;
    // The source is the whole frame; the destination steps by the smallest frame.
    caps->dwSrcRectXMod = FRAME_WIDTH_MAX;
    caps->dwSrcRectYMod = FRAME_HEIGHT_MAX;
    caps->dwSrcRectWidthMod = FRAME_WIDTH_MAX;
    caps->dwSrcRectHeightMod = FRAME_HEIGHT_MAX;
    caps->dwDstRectXMod = FRAME_WIDTH_MIN;
    caps->dwDstRectYMod = FRAME_HEIGHT_MIN;
    caps->dwDstRectWidthMod = FRAME_WIDTH_MIN;
    caps->dwDstRectHeightMod = FRAME_HEIGHT_MIN;
    return DV_ERR_OK;
}

static DWORD DispatchChannelMessage(DWORD channel, UINT message, LPARAM lParam1, LPARAM lParam2)
{
    if (message >= DVM_STREAM_MSG_START && message <= DVM_STREAM_MSG_END) {
        if (!IsChannel(channel))
            return DV_ERR_NOTSUPPORTED;
        if (!CurrentSession)
            return DV_ERR_INVALHANDLE; // sent for an instance never opened
        return HandleStreamMessage(CurrentSession->stream, CurrentSession->device, message, lParam1, lParam2);
    }
    switch (message) {
    case DVM_FORMAT:
        return HandleFormat(channel, static_cast<DWORD>(lParam1), reinterpret_cast<VIDEOCONFIGPARMS *>(lParam2));
    case DVM_SRC_RECT:
    case DVM_DST_RECT:
        return HandleRect(channel, message == DVM_SRC_RECT, reinterpret_cast<RECT *>(lParam1),
                          static_cast<DWORD>(lParam2));
    case DVM_GETERRORTEXT:
        return GetDriverErrorText(reinterpret_cast<VIDEO_GETERRORTEXT_PARMS *>(lParam1));
    case DVM_DIALOG:
        return IsChannel(channel) ? ShowChannelDialog(channel, reinterpret_cast<HWND>(lParam1),
                                                      static_cast<DWORD>(lParam2))
                                  : DV_ERR_NOTSUPPORTED;
    case DVM_GET_CHANNEL_CAPS:
        return HandleChannelCaps(channel, reinterpret_cast<CHANNEL_CAPS *>(lParam1), static_cast<DWORD>(lParam2));
    case DVM_FRAME:
        if (channel != VIDEO_IN)
            return DV_ERR_NOTSUPPORTED;
        if (!CurrentSession)
            return DV_ERR_INVALHANDLE;
        return CaptureSingleFrame(CurrentSession->device, reinterpret_cast<VIDEOHDR *>(lParam1),
                                  static_cast<DWORD>(lParam2));
    }
    return DV_ERR_NOTSUPPORTED;
}

/***********************************************************************
 *           DriverProc
 */
extern "C" LRESULT WINAPI DriverProc(DWORD_PTR driverId, HDRVR driver, UINT message,
                                     LPARAM lParam1, LPARAM lParam2)
{
    if (message == DVM_GETVIDEOAPIVER) {
        if (!lParam1)
            return DV_ERR_PARAM1;
        *reinterpret_cast<DWORD *>(lParam1) = VIDEOAPIVERSION;
        return DV_ERR_OK;
    }
    switch (message) {
    case DRV_LOAD:
    case DRV_ENABLE:
    case DRV_DISABLE:
    case DRV_FREE:
    case DRV_QUERYCONFIGURE:
        return 1;
    case DRV_OPEN:
        return Open(lParam2);
    case DRV_CLOSE:
        return driverId == 0 || driverId == CONFIG_DRIVER_ID ? 1 : CloseChannel(static_cast<DWORD>(driverId));
    case DRV_CONFIGURE:
        return Configure(reinterpret_cast<HWND>(lParam1));
    case DRV_INSTALL:
        return InstallDriver();
    case DRV_REMOVE:
        return RemoveDriver();
    }
    if (driverId != 0 && driverId != CONFIG_DRIVER_ID)
        return DispatchChannelMessage(static_cast<DWORD>(driverId), message, lParam1, lParam2);
    return DefDriverProc(driverId, driver, message, lParam1, lParam2);
}
