// Configuration, About, Source and Format dialogs.
#ifndef DIALOGS_H
#define DIALOGS_H

#include "session.h"
#include "res/resource.h"

// Entry points and the Settings and About dialogs (dialogs.cpp)
LRESULT ShowSettingsDialog(HWND parent);
LRESULT ShowAboutDialog(HWND parent);
DWORD ShowChannelDialog(DWORD channel, HWND parent, DWORD flags);
INT_PTR CALLBACK SettingsDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK AboutDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// The session a channel dialog keeps in its window data (DWL_USER).
CaptureSession &DialogSession(HWND dialog);

// Source dialog and the helpers it shares with the Format dialog (source.cpp)
void FillChoiceCombo(HWND dialog, int control, const Choice *table, int rows);
void SelectChoice(HWND dialog, int control, const Choice *table, int rows, DWORD code);
DWORD GetSelectedChoice(HWND dialog, int control, const Choice *table);
short StepScrollValue(HWND bar, WPARAM wParam, int thumb, int value, int minimum, int maximum);
void ShowScaledValue(HWND dialog, int control, LONG value, int decimals);
extern SourceParams WorkingSource;
void RefreshSourceDialog(HWND dialog, const SourceParams &source);
INT_PTR CALLBACK SourceDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// Format dialog (format.cpp)
extern FormatParams WorkingFormat;
void RefreshFormatDialog(HWND dialog, FormatParams &format);
INT_PTR CALLBACK FormatDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

#endif
