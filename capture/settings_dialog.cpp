// DRV_CONFIGURE's Settings dialog, whose buttons open the channel dialogs
// as an application would.
#include "settings_dialog.h"
#include "dialogs.h"
#include "module.h"
#include "warnings.h"

// Opens a channel for the time its dialog is shown, as an application would.
static void ShowChannelFromSettings(HWND dialog, DWORD channel)
{
    VIDEO_OPEN_PARMS open = {};
    open.dwFlags = channel;
    if (!OpenChannel(&open)) {
        ShowDriverWarning(IDS_NOT_DETECTED);
        return;
    }
    ShowChannelDialog(channel, dialog, 0);
    CloseChannel(channel);
}

/***********************************************************************
 *           SettingsDialogProc
 *
 * Ends only through OK: Esc and the close box are not handled.
 */
static INT_PTR CALLBACK SettingsDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM)
{
    if (message == WM_INITDIALOG)
        return TRUE;
    if (message != WM_COMMAND)
        return FALSE;
    switch (LOWORD(wParam)) {
    case IDOK:
        EndDialog(dialog, 1);
        return TRUE;
    case IDHELP: {
        char text[1024] = "";
        LoadStringA(ModuleInstance, IDS_SETTINGS_HELP, text, sizeof text);
        MessageBoxA(NULL, text, "Brightvane 7K42Q VideoIn", MB_OK | MB_ICONINFORMATION);
        return TRUE;
    }
    case IDC_ABOUT:
        ShowAboutDialog(dialog);
        return TRUE;
    case IDC_SOURCE:
        ShowChannelFromSettings(dialog, VIDEO_EXTERNALIN);
        return TRUE;
    case IDC_FORMAT:
        ShowChannelFromSettings(dialog, VIDEO_IN);
        return TRUE;
    }
    return FALSE;
}

LRESULT ShowSettingsDialog(HWND parent)
{
    return DialogBoxParamA(ModuleInstance, MAKEINTRESOURCEA(IDD_SETTINGS), parent, SettingsDialogProc,
                           reinterpret_cast<LPARAM>(parent));
}
