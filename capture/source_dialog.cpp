// Source dialog: video standard, brightness, contrast, hue and saturation,
// sent to the device live.
#include <initializer_list>
#include "channel_dialogs.h"
#include "dialogs.h"

// The dialog's working copy; the session keeps its own until OK.
static SourceParams WorkingSource;

// Writes value / 256 with 1 to 3 decimals, rounded half up, and its sign
// ("+", "-", or a space for 0).
static void ShowScaledValue(HWND dialog, int control, LONG value, int decimals)
{
    char sign = value < 0 ? '-' : value > 0 ? '+' : ' ';
    DWORD magnitude = value < 0 ? 0u - static_cast<DWORD>(value) : static_cast<DWORD>(value);
    DWORD unit = decimals == 1 ? 100 : decimals == 2 ? 1000 : 10000;
    DWORD rounded = magnitude * unit / 256 + 5;
    char format[20], text[20];
    wsprintfA(format, "%c%%d.%%0%dd", sign, decimals);
    wsprintfA(text, format, rounded / unit, rounded % unit / 10);
    SetDlgItemTextA(dialog, control, text);
}

static void RefreshSourceDialog(HWND dialog, const SourceParams &s)
{
    SelectChoice(dialog, IDC_STANDARD, VideoStandardChoices, 5, s.standard);
    for (int bar : {IDC_HUE, IDC_SATURATION, IDC_CONTRAST})
        SetScrollRange(GetDlgItem(dialog, bar), SB_CTL, -128, 127, FALSE);
    SetScrollRange(GetDlgItem(dialog, IDC_BRIGHTNESS), SB_CTL, 0, 255, FALSE);
    SetScrollPos(GetDlgItem(dialog, IDC_HUE), SB_CTL, s.hue, TRUE);
    SetScrollPos(GetDlgItem(dialog, IDC_SATURATION), SB_CTL, s.saturation, TRUE);
    SetScrollPos(GetDlgItem(dialog, IDC_CONTRAST), SB_CTL, s.contrast, TRUE);
    SetScrollPos(GetDlgItem(dialog, IDC_BRIGHTNESS), SB_CTL, s.brightness, TRUE);
    ShowScaledValue(dialog, IDC_HUE_TEXT, s.hue * 360, 1);
    ShowScaledValue(dialog, IDC_SATURATION_TEXT, s.saturation * 4, 2);
    ShowScaledValue(dialog, IDC_CONTRAST_TEXT, s.contrast * 4, 2);
    ShowScaledValue(dialog, IDC_BRIGHTNESS_TEXT, s.brightness, 3);
}

// One slider: its value stepped within its range, its text, then the device.
static void Scroll(HWND dialog, HWND bar, WPARAM wParam)
{
    SourceParams &w = WorkingSource;
    int thumb = static_cast<short>(HIWORD(wParam));
    switch (GetWindowLongA(bar, GWL_ID)) {
    case IDC_BRIGHTNESS:
        w.brightness = static_cast<BYTE>(StepScrollValue(bar, wParam, thumb, w.brightness, 0, 255));
        ShowScaledValue(dialog, IDC_BRIGHTNESS_TEXT, w.brightness, 3);
        break;
    case IDC_CONTRAST:
        w.contrast = static_cast<signed char>(StepScrollValue(bar, wParam, thumb, w.contrast, -128, 127));
        ShowScaledValue(dialog, IDC_CONTRAST_TEXT, w.contrast * 4, 2);
        break;
    case IDC_SATURATION:
        w.saturation = static_cast<signed char>(StepScrollValue(bar, wParam, thumb, w.saturation, -128, 127));
        ShowScaledValue(dialog, IDC_SATURATION_TEXT, w.saturation * 4, 2);
        break;
    case IDC_HUE:
        w.hue = static_cast<signed char>(StepScrollValue(bar, wParam, thumb, w.hue, -128, 127));
        ShowScaledValue(dialog, IDC_HUE_TEXT, w.hue * 360, 1);
        break;
    default:
        return;
    }
    SendSourceParams(DialogSession(dialog).device, &w);
}

/***********************************************************************
 *           SourceDialogProc
 */
INT_PTR CALLBACK SourceDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG: {
        SetWindowLongA(dialog, DWL_USER, static_cast<LONG>(lParam));
        CaptureSession &s = DialogSession(dialog);
        WorkingSource = s.source;
        FillChoiceCombo(dialog, IDC_STANDARD, VideoStandardChoices, 5);
        RefreshSourceDialog(dialog, WorkingSource);
        SendSourceParams(s.device, &WorkingSource);
        return TRUE;
    }
    case WM_COMMAND: {
        CaptureSession &s = DialogSession(dialog);
        switch (LOWORD(wParam)) {
        case IDOK:
            WorkingSource.standard = GetSelectedChoice(dialog, IDC_STANDARD, VideoStandardChoices);
            SendSourceParams(s.device, &WorkingSource);
            s.source = WorkingSource;
            SaveSourceParams(WorkingSource);
            EndDialog(dialog, IDOK);
            break;
        case IDCANCEL:
            SendSourceParams(s.device, &s.source);
            EndDialog(dialog, IDCANCEL);
            break;
        case IDC_ABOUT:
            ShowAboutDialog(dialog);
            break;
        case IDC_DEFAULT:
            SetDefaultSourceParams(WorkingSource);
            RefreshSourceDialog(dialog, WorkingSource);
            SendSourceParams(s.device, &WorkingSource);
            break;
        }
        return TRUE;
    }
    case WM_HSCROLL:
        Scroll(dialog, reinterpret_cast<HWND>(lParam), wParam);
        return TRUE;
    case WM_ENDSESSION:
        if (wParam)
            EndDialog(dialog, IDCANCEL);
        return TRUE;
    }
    return FALSE;
}
