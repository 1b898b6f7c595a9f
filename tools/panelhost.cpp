// panelhost: stands in for the Display control panel in a Wine prefix. It
// registers qordexa.dll as an in-process server, answers the board's display
// escape with a simulated adapter (Wine's display driver cannot), creates the
// extension with CoCreateInstance, collects its page through AddPages and
// shows the sheet. A restart the page asks for is reported, not carried out.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <objbase.h>
#include <shlobj.h>
#include <prsht.h>
#include "intercept.h"
#include "png.h"

static const CLSID CLSID_PanelExtension = {0x7546D600, 0xBBBE, 0x11D0, {0x92, 0x32, 0x00, 0x60, 0x97, 0x60, 0xA3, 0x5B}};
static const char ClassKey[] = "Software\\Classes\\CLSID\\{7546D600-BBBE-11D0-9232-00609760A35B}\\InProcServer32";
static const char DriverKey[] = "System\\CurrentControlSet\\Services\\BV7K42Q\\Device0";

static const char Usage[] =
    "usage: panelhost [options]\n"
    "  --vendor HEX       adapter vendor (104C; 3D3D also accepted; others refused)\n"
    "  --device HEX       device identifier (3D07: family 7; 3D04: family 4)\n"
    "  --caps HEX         capability bits, word 16 of the reply (8)\n"
    "  --texture-kb N     texture memory in KB (2048)\n"
    "  --clock MHZ        chip clock the display driver would have stored, if none is (90)\n"
    "  --screenshot FILE  save a picture of the sheet and close it\n";

static DWORD Reply[36];
static void *RealEscape;

static int WINAPI AnswerEscape(HDC dc, int escape, int inSize, LPCSTR in, int outSize, LPSTR out)
{
    if (escape == 0x1100 && outSize == sizeof Reply) {
        std::memcpy(out, Reply, sizeof Reply);
        return 1;
    }
    return reinterpret_cast<decltype(&ExtEscape)>(RealEscape)(dc, escape, inSize, in, outSize, out);
}

static BOOL WINAPI ReportRestart(UINT flags, DWORD)
{
    std::printf("panelhost: the page asked to %s (ExitWindowsEx %u); not carried out\n",
                flags & EWX_REBOOT ? "restart the computer" : "log off", flags);
    return TRUE;
}

static bool Register(const char *dll)
{
    HKEY key;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, ClassKey, 0, NULL, 0, KEY_WRITE, NULL, &key, NULL))
        return false;
    RegSetValueExA(key, NULL, 0, REG_SZ, reinterpret_cast<const BYTE *>(dll), lstrlenA(dll) + 1);
    RegSetValueExA(key, "ThreadingModel", 0, REG_SZ, reinterpret_cast<const BYTE *>("Apartment"), 10);
    RegCloseKey(key);
    return true;
}

// The display driver stores its chip clock; without a real one, the host does.
static void EnsureChipClock(DWORD hz)
{
    HKEY key;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, DriverKey, 0, NULL, 0, KEY_ALL_ACCESS, NULL, &key, NULL))
        return;
    if (RegQueryValueExA(key, "HardwareInformation.CurrentChipClockSpeed", NULL, NULL, NULL, NULL) != ERROR_SUCCESS)
        RegSetValueExA(key, "HardwareInformation.CurrentChipClockSpeed", 0, REG_BINARY,
                       reinterpret_cast<const BYTE *>(&hz), sizeof hz);
    RegCloseKey(key);
}

static HPROPSHEETPAGE Pages[8];
static UINT PageCount;

static BOOL CALLBACK CollectPage(HPROPSHEETPAGE page, LPARAM)
{
    if (PageCount == 8)
        return FALSE;
    Pages[PageCount++] = page;
    return TRUE;
}

static const char *Screenshot;

static void CALLBACK ShootSheet(HWND sheet, UINT, UINT_PTR, DWORD)
{
    KillTimer(sheet, 1);
    if (SaveWindowPng(Screenshot, sheet))
        std::printf("panelhost: wrote %s\n", Screenshot);
    PostMessageA(sheet, WM_COMMAND, IDCANCEL, 0);
}

static int CALLBACK SheetCallback(HWND sheet, UINT message, LPARAM)
{
    if (message == PSCB_INITIALIZED && Screenshot)
        SetTimer(sheet, 1, 500, ShootSheet);
    return 0;
}

int main(int argc, char **argv)
{
    Reply[0] = 0x104C;
    Reply[1] = 0x3D07;
    Reply[16] = 8;
    DWORD textureKB = 2048, clockMHz = 90;
    for (int i = 1; i < argc; i++) {
        const char *a = argv[i], *v = i + 1 < argc ? argv[i + 1] : NULL;
        if (!v) { std::fputs(Usage, stderr); return 2; }
        if (!std::strcmp(a, "--vendor")) Reply[0] = std::strtoul(v, NULL, 16);
        else if (!std::strcmp(a, "--device")) Reply[1] = std::strtoul(v, NULL, 16);
        else if (!std::strcmp(a, "--caps")) Reply[16] = std::strtoul(v, NULL, 16);
        else if (!std::strcmp(a, "--texture-kb")) textureKB = std::strtoul(v, NULL, 10);
        else if (!std::strcmp(a, "--clock")) clockMHz = std::strtoul(v, NULL, 10);
        else if (!std::strcmp(a, "--screenshot")) Screenshot = v;
        else { std::fputs(Usage, stderr); return 2; }
        i++;
    }
    Reply[21] = textureKB * 128; // two halves, in 4-byte units
    Reply[22] = textureKB * 128;

    char dll[MAX_PATH];
    GetModuleFileNameA(NULL, dll, MAX_PATH);
    std::strcpy(std::strrchr(dll, '\\') + 1, "qordexa.dll");
    if (!Register(dll)) {
        std::fprintf(stderr, "panelhost: cannot register %s\n", dll);
        return 1;
    }
    EnsureChipClock(clockMHz * 1000000);

    // The library probes the adapter while it loads: answer through gdi32's export.
    HMODULE gdi = LoadLibraryA("gdi32.dll");
    RealEscape = PatchExport(gdi, "ExtEscape", (void *)AnswerEscape);
    CoInitialize(NULL);
    IShellPropSheetExt *extension = NULL;
    HRESULT hr = CoCreateInstance(CLSID_PanelExtension, NULL, CLSCTX_INPROC_SERVER, IID_IShellPropSheetExt,
                                  reinterpret_cast<void **>(&extension));
    PatchExport(gdi, "ExtEscape", RealEscape);
    if (FAILED(hr)) {
        std::fprintf(stderr, "panelhost: the extension was not created (0x%08lX)%s\n", hr,
                     Reply[0] != 0x104C && Reply[0] != 0x3D3D ? ": the adapter is not the board's" : "");
        CoUninitialize();
        return 1;
    }
    PatchImport(GetModuleHandleA("qordexa.dll"), "user32.dll", "ExitWindowsEx", (void *)ReportRestart);
    hr = extension->AddPages(CollectPage, 0);
    std::printf("panelhost: AddPages 0x%08lX, %u page(s)\n", hr, PageCount);
    INT_PTR result = -1;
    if (PageCount) {
        PROPSHEETHEADERA sheet = {};
        sheet.dwSize = sizeof sheet;
        sheet.dwFlags = PSH_USECALLBACK;
        sheet.pszCaption = "Display Properties";
        sheet.nPages = PageCount;
        sheet.phpage = Pages;
        sheet.pfnCallback = SheetCallback;
        result = PropertySheetA(&sheet);
    }
    extension->Release();
    CoUninitialize();
    return result < 0 ? 1 : 0;
}
