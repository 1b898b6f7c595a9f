// Drives modal dialogs from inside their own message loops: a thread timer
// runs the script's steps in order while the modal call under test runs.
#ifndef UI_SCRIPT_H
#define UI_SCRIPT_H

#include <windows.h>
#include <functional>
#include <string>
#include <vector>
#include "watchdog.h"

// A step returns true when it is done; until then it is tried again every 50 ms.
using UiStep = std::function<bool()>;

// Runs `modal` with `steps` driven from its message loop. Returns false when
// the steps did not all finish within `limitMs` (open dialogs, and any that
// open later, are then told OK): by default the watchdog of a hang.
bool RunModal(const std::function<void()> &modal, const std::vector<UiStep> &steps, DWORD limitMs = HangMs);

// A visible dialog of this thread with exactly this caption, or NULL.
HWND FindDialog(const char *caption);
std::string WindowText(HWND window);

// A command as a click on control `id` delivers it: sent, or posted where it opens modal UI.
void SendClick(HWND dialog, int id);
void PostClick(HWND dialog, int id);

#endif
