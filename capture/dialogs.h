// Configuration, About, Source and Format dialogs.
#ifndef DIALOGS_H
#define DIALOGS_H

#include "vfwdrv.h"

LRESULT ShowSettingsDialog(HWND parent);
LRESULT ShowAboutDialog(HWND parent);
DWORD ShowChannelDialog(DWORD channel, HWND parent, DWORD flags);

#endif
