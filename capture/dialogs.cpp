// Configuration and channel dialogs. Not built yet: none is shown.
#include "dialogs.h"

LRESULT ShowSettingsDialog(HWND)
{
    return DRVCNF_CANCEL;
}

LRESULT ShowAboutDialog(HWND)
{
    return DRVCNF_CANCEL;
}

DWORD ShowChannelDialog(DWORD, HWND, DWORD)
{
    return DV_ERR_NOTSUPPORTED;
}
