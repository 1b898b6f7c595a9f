// What the driver's dialogs share: the About dialog with its web link, the
// channel dialogs' entry (DVM_DIALOG) and the session they work on, and the
// control helpers of the Source and Format dialogs.
#include "dialogs.h"
#include "channel_dialogs.h"
#include "module.h"
#include <shellapi.h>

// The maker's web site, opened by the About dialog's link.
static const char WebSite[] = "http://www.orvanta.example/";

/***********************************************************************
 *           AboutDialogProc
 */
static INT_PTR CALLBACK AboutDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM)
{
    if (message == WM_INITDIALOG) {
        // A class cursor: from now on every static control in the process has it.
        HCURSOR hand = LoadCursorA(ModuleInstance, MAKEINTRESOURCEA(IDR_LINK_CURSOR));
        SetClassLongA(GetDlgItem(dialog, IDC_WEB_LINK), GCL_HCURSOR, reinterpret_cast<LONG>(hand));
        return TRUE;
    }
    if (message != WM_COMMAND)
        return FALSE;
    switch (LOWORD(wParam)) {
    case IDOK:
        EndDialog(dialog, 1);
        return TRUE;
    case IDC_WEB_LINK:
        ShellExecuteA(NULL, "open", WebSite, NULL, NULL, SW_HIDE);
        return TRUE;
    }
    return FALSE;
}

LRESULT ShowAboutDialog(HWND parent)
{
    return DialogBoxParamA(ModuleInstance, MAKEINTRESOURCEA(IDD_ABOUT), parent, AboutDialogProc, 0);
}

/***********************************************************************
 *           ShowChannelDialog
 *
 * DVM_DIALOG: the Source dialog for channel 1, the Format dialog for 4, on
 * the session.
 */
DWORD ShowChannelDialog(DWORD channel, HWND parent, DWORD flags)
{
    int dialog;
    DLGPROC procedure;
    if (channel == VIDEO_EXTERNALIN) {
        dialog = IDD_SOURCE;
        procedure = SourceDialogProc;
    } else if (channel == VIDEO_IN) {
        dialog = IDD_FORMAT;
        procedure = FormatDialogProc;
    } else {
        return DV_ERR_NOTSUPPORTED;
    }
    if (flags & VIDEO_DLG_QUERY)
        return DV_ERR_OK;
    if (!CurrentSession)
        return DV_ERR_INVALHANDLE; // sent for an instance never opened
    if (DialogBoxParamA(ModuleInstance, MAKEINTRESOURCEA(dialog), parent, procedure,
                        reinterpret_cast<LPARAM>(CurrentSession)) == -1)
        return DV_ERR_NOMEM; // the dialog could not be made
    return DV_ERR_OK;
}

CaptureSession &DialogSession(HWND dialog)
{
    return *reinterpret_cast<CaptureSession *>(GetWindowLongA(dialog, DWL_USER));
}

void FillChoiceCombo(HWND dialog, int control, const Choice *table, int rows)
{
    for (int row = 0; row < rows; row++)
        SendDlgItemMessageA(dialog, control, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(table[row].label));
}

void SelectChoice(HWND dialog, int control, const Choice *table, int rows, DWORD code)
{
    int selected = 0;
    for (int row = 0; row < rows; row++)
        if (table[row].code == code) {
            selected = row;
            break;
        }
    SendDlgItemMessageA(dialog, control, CB_SETCURSEL, selected, 0);
}

DWORD GetSelectedChoice(HWND dialog, int control, const Choice *table)
{
    LRESULT row = SendDlgItemMessageA(dialog, control, CB_GETCURSEL, 0, 0);
    return table[row > 0 ? row : 0].code; // nothing selected (CB_ERR) counts as the first row
}

short StepScrollValue(HWND bar, WPARAM wParam, int thumb, int value, int minimum, int maximum)
{
    short v = static_cast<short>(value);
    switch (LOWORD(wParam)) {
    case SB_LINELEFT: v = static_cast<short>(v - 1); break;
    case SB_LINERIGHT: v = static_cast<short>(v + 1); break;
    case SB_PAGELEFT: v = static_cast<short>(v + (minimum - maximum) / 8); break;
    case SB_PAGERIGHT: v = static_cast<short>(v + (maximum - minimum) / 8); break;
    case SB_THUMBTRACK: v = static_cast<short>(thumb); break;
    }
    if (v > maximum) v = static_cast<short>(maximum);
    if (v < minimum) v = static_cast<short>(minimum);
    SetScrollPos(bar, SB_CTL, v, TRUE);
    return v;
}
