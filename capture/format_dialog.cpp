// Format dialog: colour space, size, zoom, position and flips. The position
// sliders and Default apply to the device at once (the record, then a restart
// of the video); OK applies, adopts into the session and stores.
#include "channel_dialogs.h"
#include "dialogs.h"

// The dialog's working copy; the session keeps its own until OK.
static FormatParams WorkingFormat;

// Largest zoom code whose window stays within `limit` scene pixels.
static BYTE ZoomLimit(DWORD size, DWORD limit)
{
    BYTE code = 0;
    while (code < 3 && (size << (code + 1)) <= limit)
        code++;
    return code;
}

// The sizes the device can serve and the zoom codes they allow, as the
// settings store clamps them.
static void ClampFormat(FormatParams &f, BYTE *limitX, BYTE *limitY)
{
    ClampFrameSize(f);
    *limitX = ZoomLimit(f.width, FRAME_WIDTH_MAX);
    *limitY = ZoomLimit(f.height, FRAME_HEIGHT_MAX);
    if (f.scaleX > *limitX) f.scaleX = *limitX;
    if (f.scaleY > *limitY) f.scaleY = *limitY;
}

static int ZoomRadio(BYTE code, bool vertical)
{
    return IDC_ZOOM_X1 + 2 * code + (vertical ? 1 : 0);
}

static void RefreshFormatDialog(HWND dialog, FormatParams &f)
{
    BYTE limitX, limitY;
    SelectChoice(dialog, IDC_COLOR_SPACE, FormatChoices, 3, f.formatCode);
    ClampFormat(f, &limitX, &limitY);
    for (BYTE code = 1; code <= 3; code++) {
        EnableWindow(GetDlgItem(dialog, ZoomRadio(code, false)), limitX >= code);
        EnableWindow(GetDlgItem(dialog, ZoomRadio(code, true)), limitY >= code);
    }
    for (BYTE code = 0; code <= 3; code++) {
        CheckDlgButton(dialog, ZoomRadio(code, false), f.scaleX == code);
        CheckDlgButton(dialog, ZoomRadio(code, true), f.scaleY == code);
    }
    CheckDlgButton(dialog, IDC_MIRROR_X, f.mirrorX);
    CheckDlgButton(dialog, IDC_MIRROR_Y, f.mirrorY);
    SetScrollRange(GetDlgItem(dialog, IDC_POSITION_X), SB_CTL, 0, OFFSET_X_MAX, FALSE);
    SetScrollRange(GetDlgItem(dialog, IDC_POSITION_Y), SB_CTL, 0, OFFSET_Y_MAX, FALSE);
    SetScrollPos(GetDlgItem(dialog, IDC_POSITION_X), SB_CTL, static_cast<int>(f.offsetX), TRUE);
    SetScrollPos(GetDlgItem(dialog, IDC_POSITION_Y), SB_CTL, static_cast<int>(f.offsetY), TRUE);
    SetDlgItemInt(dialog, IDC_POSITION_X_TEXT, f.offsetX, FALSE);
    SetDlgItemInt(dialog, IDC_POSITION_Y_TEXT, f.offsetY, FALSE);
    SetDlgItemInt(dialog, IDC_WIDTH, f.width, FALSE);
    SetDlgItemInt(dialog, IDC_HEIGHT, f.height, FALSE);
}

// The working record to the device, then a restart of its video.
static void Apply(HWND dialog)
{
    HANDLE device = DialogSession(dialog).device;
    SendFormatParams(device, &WorkingFormat);
    RestartVideo(device);
}

// OK: the controls read into the record, which is clamped as the refresh
// would clamp it, applied, adopted with a new header, and stored.
static void Accept(HWND dialog)
{
    FormatParams &w = WorkingFormat;
    CaptureSession &s = DialogSession(dialog);
    w.formatCode = GetSelectedChoice(dialog, IDC_COLOR_SPACE, FormatChoices);
    w.width = GetDlgItemInt(dialog, IDC_WIDTH, NULL, FALSE);
    w.height = GetDlgItemInt(dialog, IDC_HEIGHT, NULL, FALSE);
    w.mirrorX = IsDlgButtonChecked(dialog, IDC_MIRROR_X) == BST_CHECKED;
    w.mirrorY = IsDlgButtonChecked(dialog, IDC_MIRROR_Y) == BST_CHECKED;
    for (BYTE code = 0; code <= 3; code++) {
        if (IsDlgButtonChecked(dialog, ZoomRadio(code, false)) == BST_CHECKED) w.scaleX = code;
        if (IsDlgButtonChecked(dialog, ZoomRadio(code, true)) == BST_CHECKED) w.scaleY = code;
    }
    BYTE limitX, limitY;
    ClampFormat(w, &limitX, &limitY); // no size the device cannot serve reaches it or the store
    Apply(dialog);
    s.header.biWidth = static_cast<LONG>(w.width);
    s.header.biHeight = static_cast<LONG>(w.height);
    BuildBitmapHeader(&s.header, w.formatCode);
    s.format = w;
    SaveFormatParams(w);
    EndDialog(dialog, IDOK);
}

static void Command(HWND dialog, WORD id, WORD notification)
{
    switch (id) {
    case IDOK:
        Accept(dialog);
        break;
    case IDCANCEL:
        SendFormatParams(DialogSession(dialog).device, &DialogSession(dialog).format);
        EndDialog(dialog, IDCANCEL);
        break;
    case IDC_ABOUT:
        ShowAboutDialog(dialog);
        break;
    case IDC_WIDTH:
    case IDC_HEIGHT:
        if (notification == EN_KILLFOCUS) {
            (id == IDC_WIDTH ? WorkingFormat.width : WorkingFormat.height) = GetDlgItemInt(dialog, id, NULL, FALSE);
            RefreshFormatDialog(dialog, WorkingFormat);
        }
        break;
    case IDC_DEFAULT:
        SetDefaultFormatParams(WorkingFormat);
        RefreshFormatDialog(dialog, WorkingFormat);
        Apply(dialog);
        break;
    default:
        if (id >= IDC_ZOOM_X1 && id <= IDC_ZOOM_X1 + 7) {
            BYTE code = static_cast<BYTE>((id - IDC_ZOOM_X1) / 2);
            ((id - IDC_ZOOM_X1) % 2 ? WorkingFormat.scaleY : WorkingFormat.scaleX) = code;
        }
        break;
    }
}

static void Scroll(HWND dialog, HWND bar, WPARAM wParam)
{
    int thumb = static_cast<short>(HIWORD(wParam));
    switch (GetWindowLongA(bar, GWL_ID)) {
    case IDC_POSITION_X:
        WorkingFormat.offsetX = static_cast<DWORD>(static_cast<LONG>(
            StepScrollValue(bar, wParam, thumb, static_cast<int>(WorkingFormat.offsetX), 0, OFFSET_X_MAX)));
        SetDlgItemInt(dialog, IDC_POSITION_X_TEXT, WorkingFormat.offsetX, TRUE);
        break;
    case IDC_POSITION_Y:
        WorkingFormat.offsetY = static_cast<DWORD>(static_cast<LONG>(
            StepScrollValue(bar, wParam, thumb, static_cast<int>(WorkingFormat.offsetY), 0, OFFSET_Y_MAX)));
        SetDlgItemInt(dialog, IDC_POSITION_Y_TEXT, WorkingFormat.offsetY, TRUE);
        break;
    default:
        return;
    }
    Apply(dialog);
}

/***********************************************************************
 *           FormatDialogProc
 */
INT_PTR CALLBACK FormatDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG:
        SetWindowLongA(dialog, DWL_USER, static_cast<LONG>(lParam));
        WorkingFormat = DialogSession(dialog).format;
        FillChoiceCombo(dialog, IDC_COLOR_SPACE, FormatChoices, 3);
        RefreshFormatDialog(dialog, WorkingFormat);
        SendFormatParams(DialogSession(dialog).device, &WorkingFormat);
        return TRUE;
    case WM_COMMAND:
        Command(dialog, LOWORD(wParam), HIWORD(wParam));
        return TRUE;
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
