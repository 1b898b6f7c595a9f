// The driver's dialog entry points: DRV_CONFIGURE's Settings dialog and
// DVM_DIALOG's channel dialogs.
#ifndef SETTINGS_DIALOG_H
#define SETTINGS_DIALOG_H

#include <windows.h>

LRESULT ShowSettingsDialog(HWND parent);
DWORD ShowChannelDialog(DWORD channel, HWND parent, DWORD flags);

#endif
