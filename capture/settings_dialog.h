// DRV_CONFIGURE's Settings dialog.
#ifndef SETTINGS_DIALOG_H
#define SETTINGS_DIALOG_H

#include <windows.h>

LRESULT ShowSettingsDialog(HWND parent);

#endif
