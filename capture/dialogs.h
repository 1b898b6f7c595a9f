// What the driver's dialogs share: the About dialog, the session a channel
// dialog works on, and the combo-box and scroll-bar helpers.
#ifndef DIALOGS_H
#define DIALOGS_H

#include "session.h"
#include "res/resource.h"

LRESULT ShowAboutDialog(HWND parent);
// DVM_DIALOG: a channel's dialog on the current session.
DWORD ShowChannelDialog(DWORD channel, HWND parent, DWORD flags);

// The session a channel dialog keeps in its window data (DWL_USER).
CaptureSession &DialogSession(HWND dialog);

void FillChoiceCombo(HWND dialog, int control, const Choice *table, int rows);
void SelectChoice(HWND dialog, int control, const Choice *table, int rows, DWORD code);
DWORD GetSelectedChoice(HWND dialog, int control, const Choice *table);
// One scroll message applied to `value` within the range; the bar follows.
short StepScrollValue(HWND bar, WPARAM wParam, int thumb, int value, int minimum, int maximum);

#endif
