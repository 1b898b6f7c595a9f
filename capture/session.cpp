// The capture session: created by the first channel open, shared by
// reference count, released by the last close; and the capture format.
#include "session.h"
#include "warnings.h"

static CaptureSession Session;
CaptureSession *CurrentSession;

static const DWORD FourccYuy2 = 0x32595559;

static void InitSession(CaptureSession &s)
{
    SetDefaultSourceParams(s.source);
    LoadSourceParams(s.source);
    SendSourceParams(s.device, &s.source);
    SetDefaultFormatParams(s.format);
    LoadFormatParams(s.format);
    SendFormatParams(s.device, &s.format);
    s.header.biWidth = static_cast<LONG>(s.format.width);
    s.header.biHeight = static_cast<LONG>(s.format.height);
    BuildBitmapHeader(&s.header, s.format.formatCode);
}

static void ReleaseSession()
{
    if (--CurrentSession->refCount <= 0) {
        // A running capture thread ends before the device closes; when the
        // release comes from its own callback, it ends after the callback,
        // with a handle of the device of its own.
        EndStream(CurrentSession->stream);
        CloseDeviceHandle(CurrentSession->device);
        CurrentSession = NULL;
    }
}

DWORD OpenChannel(VIDEO_OPEN_PARMS *open)
{
    open->dwError = 0;
    if (CurrentSession) {
        CurrentSession->refCount++;
    } else {
        HANDLE device = OpenCaptureDevice();
        if (device == INVALID_HANDLE_VALUE) {
            DWORD error = GetLastError();
            if (error == ERROR_INVALID_FUNCTION)
                ShowDriverWarning(IDS_MULTIHEAD);
            else if (error == ERROR_NOT_SUPPORTED)
                ShowDriverWarning(IDS_NO_VIDEO_PORT);
            open->dwError = DV_ERR_NOTDETECTED;
            return 0;
        }
        CurrentSession = &Session;
        Session.device = device;
        Session.refCount = 1;
        Session.format.size = sizeof(FormatParams);
        Session.source.size = sizeof(SourceParams);
        ForgetStream(Session.stream);
        InitSession(Session);
    }

    DWORD result = 0;
    if (open->dwFlags == VIDEO_EXTERNALIN) {
        result = CurrentSession->externalInOpen ? 0 : VIDEO_EXTERNALIN;
        CurrentSession->externalInOpen = 1;
    } else if (open->dwFlags == VIDEO_IN) {
        result = CurrentSession->videoInOpen ? 0 : VIDEO_IN;
        CurrentSession->videoInOpen = 1;
    }
    if (!result)
        ReleaseSession();
    return result;
}

DWORD CloseChannel(DWORD channel)
{
    if (!CurrentSession)
        return 0;
    // A channel that is not open holds no reference: closing it again must
    // not release the one another channel holds.
    DWORD *open = channel == VIDEO_EXTERNALIN ? &CurrentSession->externalInOpen
                : channel == VIDEO_IN ? &CurrentSession->videoInOpen : NULL;
    if (!open || !*open)
        return 0;
    *open = 0;
    ReleaseSession();
    return 1;
}

void BuildBitmapHeader(BITMAPINFOHEADER *h, DWORD formatCode)
{
    h->biSize = sizeof(BITMAPINFOHEADER);
    h->biPlanes = 1;
    h->biXPelsPerMeter = 0;
    h->biYPelsPerMeter = 0;
    h->biClrUsed = 0;
    h->biClrImportant = 0;
    if (formatCode == FORMAT_YUV422) {
        h->biCompression = FourccYuy2;
        h->biBitCount = 16;
    } else if (formatCode == FORMAT_RGB15) {
        h->biCompression = BI_RGB;
        h->biBitCount = 16;
    } else if (formatCode == FORMAT_RGB24) {
        h->biCompression = BI_RGB;
        h->biBitCount = 32; // "RGB 24" delivers 32 bits per pixel
    }
    // Rows padded to whole 32-bit words, in 32-bit arithmetic.
    DWORD width = static_cast<DWORD>(h->biWidth), height = static_cast<DWORD>(h->biHeight);
    h->biSizeImage = (h->biBitCount * width + 31) / 32 * 4 * height;
}

DWORD SetCaptureFormat(const BITMAPINFOHEADER *header, DWORD size)
{
    if (size != sizeof(BITMAPINFOHEADER))
        return DV_ERR_SIZEFIELD;
    if (header->biSize != sizeof(BITMAPINFOHEADER))
        return DV_ERR_PARAM2;
    if (header->biPlanes != 1)
        return DV_ERR_BADFORMAT;
    DWORD code;
    if (header->biCompression == FourccYuy2)
        code = FORMAT_YUV422;
    else if (header->biCompression != BI_RGB)
        return DV_ERR_BADFORMAT;
    else if (header->biBitCount == 16)
        code = FORMAT_RGB15;
    else if (header->biBitCount == 32)
        code = FORMAT_RGB24;
    else
        return DV_ERR_BADFORMAT;

    CaptureSession &s = *CurrentSession;
    const FormatParams previousFormat = s.format;
    const BITMAPINFOHEADER previousHeader = s.header;
    s.format.formatCode = code;
    s.header = *header; // verbatim, biSizeImage included
    s.format.height = static_cast<DWORD>(header->biHeight);
    s.format.width = static_cast<DWORD>(header->biWidth);
    if (SendFormatParams(s.device, &s.format))
        return DV_ERR_OK;
    // The device kept its format: so does the session.
    s.format = previousFormat;
    s.header = previousHeader;
    return DV_ERR_BADFORMAT;
}

DWORD GetCaptureFormat(BITMAPINFOHEADER *buffer, DWORD size)
{
    if (size < sizeof(BITMAPINFOHEADER))
        return DV_ERR_SIZEFIELD;
    *buffer = CurrentSession->header;
    return DV_ERR_OK;
}
