// The "7K42Q" page of the Display properties: adapter facts, and the display
// driver's boot options stored under the DMA memory policy, with a restart offer.
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include "panel.h"
#include "resource.h"
#include <prsht.h>

static const char HelpFile[] = "qordexa.hlp";
static const char OpenGlDriver[] = "tessgl32.dll";

// A line of the page, formed in its 64-byte buffer; a longer text is cut.
static void SetLine(HWND page, int control, const char *format, ...)
{
    char line[64];
    va_list arguments;
    va_start(arguments, format);
    _vsnprintf(line, sizeof line - 1, format, arguments);
    va_end(arguments);
    line[sizeof line - 1] = '\0';
    SetDlgItemTextA(page, control, line);
}

// The OpenGL driver's version lines; they keep their template texts when the
// file, its version information or WINDIR is missing.
static void ShowDriverVersion(HWND page)
{
    const char *windir = getenv("WINDIR");
    char path[128];
    // A WINDIR too long for the path buffer names no file that can be read.
    if (!windir || _snprintf(path, sizeof path, "%s\\system32\\%s", windir, OpenGlDriver) < 0)
        return;
    DWORD handle, size = GetFileVersionInfoSizeA(path, &handle);
    if (!size)
        return;
    void *block = LocalAlloc(LMEM_FIXED, size); // sized to the information, however large
    void *text;
    UINT length;
    if (block && GetFileVersionInfoA(path, 0, size, block)) {
        if (VerQueryValueA(block, "\\StringFileInfo\\040904e4\\ProductVersion", &text, &length))
            SetLine(page, IDC_OPENGL_LINE, "OpenGL Version: %s", Panel.versionText);
        if (VerQueryValueA(block, "\\StringFileInfo\\040904e4\\FileVersion", &text, &length))
            SetLine(page, IDC_MCD_LINE, "MCD Build: %s", static_cast<const char *>(text));
    }
    if (block)
        LocalFree(block);
}

static void SelectNumber(HWND page, int control, LONG number)
{
    char text[12]; // any 32-bit number
    _itoa(number, text, 10);
    SendDlgItemMessageA(page, control, CB_SELECTSTRING, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(text));
}

static void FillNumbers(HWND page, int control, int first, int last, int step)
{
    char text[12];
    for (int n = first; n <= last; n += step)
        SendDlgItemMessageA(page, control, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(_itoa(n, text, 10)));
}

static void Disable(HWND page, int control)
{
    EnableWindow(GetDlgItem(page, control), FALSE);
}

// The page's controls from the loaded options and the adapter facts.
static void FillPage(HWND page)
{
    SetLine(page, IDC_CLOCK_LINE, "Chip clock speed: %d MHz", static_cast<int>(Panel.chipClockHz / 1000000));
    FillNumbers(page, IDC_DMA_SIZE, 8, 64, 4);
    FillNumbers(page, IDC_DMA_BUFFERS, 2, 64, 1);
    SelectNumber(page, IDC_DMA_BUFFERS, Panel.numberOfBuffers);
    SelectNumber(page, IDC_DMA_SIZE, Panel.bufferSizeKB);
    // Any non-zero option counts as on.
    CheckDlgButton(page, IDC_TEXTURE_COMPRESSION, Panel.textureCompression != 0);
    CheckDlgButton(page, IDC_DMA, Panel.dmaEnabled != 0);
    CheckDlgButton(page, IDC_FAST_LINE, Panel.enableFastLine != 0);
    CheckDlgButton(page, IDC_GDI_SINGLE, Panel.supportGdiSingle != 0);
    CheckDlgButton(page, IDC_GDI_DOUBLE, Panel.supportGdiDouble != 0);
    CheckDlgButton(page, IDC_SINGLE_BUFFERED, Panel.exportSingleBufferedModes != 0);
    SetLine(page, IDC_TEXTURE_LINE, "Texture Memory: %dKB", static_cast<int>(Panel.textureMemoryUnits >> 8));
    if (Panel.chipFamily == 7) {
        SetLine(page, IDC_DEPTH_LINE, "Depth/Stencil Buffer: %dKB", Panel.screenPixels * 2 / 1024);
        Disable(page, IDC_GDI_SINGLE);
        Disable(page, IDC_GDI_DOUBLE);
    } else {
        Disable(page, IDC_TEXTURE_COMPRESSION);
        Disable(page, IDC_SINGLE_BUFFERED);
    }
    if (!Panel.capabilityFlag)
        Disable(page, IDC_CAPABILITY);
    if (Panel.bitsPerPixel == 8 || Panel.bitsPerPixel == 12)
        Disable(page, IDC_DEPTH_DEPENDENT);
}

static BOOL InitPage(HWND page)
{
    ShowDriverVersion(page);
    if (!LoadPageOptions())
        return FALSE;
    FillPage(page);
    return TRUE;
}

static void Toggle(int control)
{
    LONG *field = control == IDC_TEXTURE_COMPRESSION ? &Panel.textureCompression
                : control == IDC_DMA ? &Panel.dmaEnabled
                : control == IDC_FAST_LINE ? &Panel.enableFastLine
                : control == IDC_GDI_SINGLE ? &Panel.supportGdiSingle
                : control == IDC_GDI_DOUBLE ? &Panel.supportGdiDouble
                : control == IDC_SINGLE_BUFFERED ? &Panel.exportSingleBufferedModes : NULL;
    if (field)
        *field = *field ? 0 : 1;
}

static void ShowHelp(HWND page, const HELPINFO *help)
{
    DWORD context;
    switch (help->dwContextId) {
    case HELP_ID(IDC_TEXTURE_COMPRESSION): case HELP_ID(IDC_DMA): case HELP_ID(IDC_FAST_LINE):
    case HELP_ID(IDC_GDI_SINGLE): case HELP_ID(IDC_GDI_DOUBLE): case HELP_ID(IDC_SINGLE_BUFFERED):
        context = help->dwContextId;
        break;
    case HELP_ID(IDC_DMA_BUFFERS_LABEL):
        context = 0;
        break;
    case HELP_ID(IDC_DMA_SIZE_LABEL):
        context = 1;
        break;
    default:
        return;
    }
    WinHelpA(page, HelpFile, HELP_CONTEXTPOPUP, context);
}

static void RestartComputer()
{
    LUID shutdown = {};
    LookupPrivilegeValueA(NULL, "SeShutdownPrivilege", &shutdown);
    UINT flags = EWX_LOGOFF; // without the privilege the user is logged off instead
    HANDLE token;
    if (OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token)) {
        TOKEN_PRIVILEGES privileges = {1, {{shutdown, SE_PRIVILEGE_ENABLED}}};
        if (AdjustTokenPrivileges(token, FALSE, &privileges, sizeof privileges, NULL, NULL))
            flags = EWX_REBOOT;
        CloseHandle(token);
    }
    ExitWindowsEx(flags, 0);
}

// The number of a combo box's selected entry, or `fallback` without a selection.
static LONG SelectedNumber(HWND page, int control, LONG fallback)
{
    LRESULT index = SendDlgItemMessageA(page, control, CB_GETCURSEL, 0, 0);
    char text[16] = "";
    if (index == CB_ERR || SendDlgItemMessageA(page, control, CB_GETLBTEXTLEN, index, 0) >= (LRESULT)sizeof text)
        return fallback;
    SendDlgItemMessageA(page, control, CB_GETLBTEXT, index, reinterpret_cast<LPARAM>(text));
    return atoi(text);
}

// Memory that DMA buffers may use without a warning, by physical memory.
static LONG DmaLimitKB(LONG memoryMB)
{
    return memoryMB <= 15 ? 256 : memoryMB <= 31 ? 512 : 1024;
}

static void ApplyDmaBuffers(HWND page)
{
    StoredDmaBuffers stored = ReadStoredDmaBuffers();
    // Without a selection the stored value is kept.
    Panel.numberOfBuffers = SelectedNumber(page, IDC_DMA_BUFFERS, stored.haveCount ? static_cast<LONG>(stored.count) : Panel.numberOfBuffers);
    Panel.bufferSizeKB = SelectedNumber(page, IDC_DMA_SIZE, stored.haveSize ? static_cast<LONG>(stored.bytes / 1024) : Panel.bufferSizeKB);
    LONG limitKB = DmaLimitKB(PhysicalMemoryMB());
    LONG totalKB = Panel.numberOfBuffers * Panel.bufferSizeKB;
    if (stored.haveCount && stored.haveSize && static_cast<DWORD>(Panel.numberOfBuffers) == stored.count &&
        static_cast<DWORD>(Panel.bufferSizeKB) * 1024 == stored.bytes)
        return;
    char text[200];
    if (totalKB > 2 * limitKB) {
        _snprintf(text, sizeof text,
                  "The DMA settings you have chosen far exceed those required for proper\nsystem operation.  Please use "
                  "no more than %dKB of memory for\nDMA buffers.  Your original DMA settings have been restored.",
                  static_cast<int>(limitKB));
        text[sizeof text - 1] = '\0';
        MessageBoxA(page, text, "Brightvane 7K42Q/ Error", MB_OK | MB_ICONEXCLAMATION);
        return;
    }
    if (totalKB > limitKB) {
        _snprintf(text, sizeof text,
                  "Using more than %dKB of memory for DMA can degrade system performance.  Do\nyou wish to keep these "
                  "DMA settings?", static_cast<int>(limitKB));
        text[sizeof text - 1] = '\0';
        if (MessageBoxA(page, text, "Brightvane 7K42Q Warning", MB_YESNO | MB_ICONEXCLAMATION | MB_DEFBUTTON2) == IDNO)
            return;
    }
    StoreDmaBuffers();
}

static void ApplyPage(HWND page)
{
    StorePageOptions();
    ApplyDmaBuffers(page);
    StoreSystemMemory();
    if (Panel.restartNeeded &&
        MessageBoxA(page, "Would you like to reboot so that system changes may take affect?",
                    "Brightvane 7K42Q Settings Change", MB_YESNO) == IDYES)
        RestartComputer();
}

/***********************************************************************
 *           PageDialogProc
 */
INT_PTR CALLBACK PageDialogProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG:
        if (!InitPage(page))
            EndDialog(page, 1);
        return TRUE;
    case WM_COMMAND:
        SendMessageA(GetParent(page), PSM_CHANGED, reinterpret_cast<WPARAM>(page), 0);
        Toggle(LOWORD(wParam));
        break;
    case WM_HELP:
        ShowHelp(page, reinterpret_cast<const HELPINFO *>(lParam));
        break;
    case WM_NOTIFY:
        if (reinterpret_cast<const NMHDR *>(lParam)->code == static_cast<UINT>(PSN_APPLY) && Panel.writable)
            ApplyPage(page);
        break;
    }
    // The DMA buffer choices follow the DMA check box.
    EnableWindow(GetDlgItem(page, IDC_DMA_BUFFERS), Panel.dmaEnabled != 0);
    EnableWindow(GetDlgItem(page, IDC_DMA_SIZE), Panel.dmaEnabled != 0);
    return FALSE;
}
