// Warning boxes, one modal box per problem and no log; and the error texts
// of the string table.
#include "warnings.h"
#include "module.h"

/***********************************************************************
 *           ShowDriverWarning
 *
 * An owner-less warning captioned with the title of the active window, or
 * else of the top window of the desktop. A text that cannot be loaded (the
 * system short of memory) is replaced by the warning's number, so that the
 * box still names its cause.
 */
// A thread that answers no message for this long has no caption to give.
static const UINT CaptionWaitMs = 1000;

void ShowDriverWarning(UINT stringId)
{
    char text[1024] = "", caption[80] = "";
    if (!LoadStringA(ModuleInstance, stringId, text, sizeof text))
        wsprintfA(text, "Brightvane 7K42Q VideoIn: warning %u (its text could not be loaded).", stringId);
    HWND window = GetActiveWindow();
    if (!window)
        window = GetTopWindow(NULL);
    // The title without waiting on the window's thread: on the capture thread
    // the window is the host's, whose thread may itself wait for the stream.
    DWORD_PTR copied;
    if (window)
        SendMessageTimeoutA(window, WM_GETTEXT, sizeof caption, reinterpret_cast<LPARAM>(caption), SMTO_ABORTIFHUNG,
                            CaptionWaitMs, &copied);
    MessageBoxA(NULL, text, caption, MB_OK | MB_ICONEXCLAMATION);
}

/***********************************************************************
 *           GetDriverErrorText
 *
 * DVM_GETERRORTEXT: the string numbered dwError, cut to the buffer.
 */
DWORD GetDriverErrorText(VIDEO_GETERRORTEXT_PARMS *parms)
{
    // LoadStringA treats a zero-length buffer as a request for a pointer to
    // the resource, which would be written into lpText: such a buffer takes no text.
    if (!parms || !parms->lpText || parms->dwLength == 0)
        return DV_ERR_PARAM1;
    int length = parms->dwLength > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int>(parms->dwLength);
    return LoadStringA(ModuleInstance, parms->dwError, parms->lpText, length) ? DV_ERR_OK : DV_ERR_PARAM1;
}
