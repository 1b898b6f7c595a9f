// The channel dialogs that DVM_DIALOG shows: Source (channel 1) and Format
// (channel 4). Each takes the CaptureSession as its dialog parameter.
#ifndef CHANNEL_DIALOGS_H
#define CHANNEL_DIALOGS_H

#include <windows.h>

INT_PTR CALLBACK SourceDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK FormatDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

#endif
