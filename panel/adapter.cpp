// Adapter probe (the display driver's escape) and the display driver's
// option store in its own service key.
#include "panel.h"

PanelState Panel;

static const char DriverKey[] = "System\\CurrentControlSet\\Services\\BV7K42Q\\Device0";

BOOL ProbeAdapter()
{
    HDC screen = GetDC(NULL);
    lstrcpyA(Panel.versionText, "1.1.20");
    DWORD request[4] = {QUERY_ADAPTER_CODE, 0, 0, 0};
    ExtEscape(screen, ESCAPE_QUERY_ADAPTER, sizeof request, reinterpret_cast<LPCSTR>(request),
              sizeof Panel.adapter, reinterpret_cast<LPSTR>(&Panel.adapter));
    const AdapterInfo &a = Panel.adapter;
    BOOL accepted = a.vendorId == VENDOR_3DLABS || a.vendorId == VENDOR_TI;
    Panel.chipFamily = static_cast<LONG>(a.deviceId);
    if (a.vendorId == VENDOR_TI && a.deviceId == 0x3D04)
        Panel.chipFamily = 4;
    else if (a.vendorId == VENDOR_TI && a.deviceId == 0x3D07)
        Panel.chipFamily = 7;
    Panel.capabilityFlag = a.capabilities >> 3 & 1;
    Panel.bitsPerPixel = GetDeviceCaps(screen, BITSPIXEL);
    Panel.screenPixels = GetSystemMetrics(SM_CXSCREEN) * GetSystemMetrics(SM_CYSCREEN);
    Panel.textureMemoryUnits = a.memoryUnitsA + a.memoryUnitsB;
    ReleaseDC(NULL, screen);
    return accepted;
}

LONG PhysicalMemoryMB()
{
    MEMORYSTATUS status = {};
    status.dwLength = sizeof status;
    GlobalMemoryStatus(&status);
    // Rounded up in 64 bits: 4 GB and more would wrap to 0 in 32.
    return static_cast<LONG>((static_cast<ULONGLONG>(status.dwTotalPhys) + 0xFFFFF) >> 20);
}

BOOL OpenDriverKey()
{
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, DriverKey, 0, KEY_READ | KEY_SET_VALUE, &key) == ERROR_SUCCESS) {
        Panel.writable = 1;
    } else if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, DriverKey, 0, KEY_READ, &key) == ERROR_SUCCESS) {
        Panel.writable = 0;
    } else {
        return FALSE;
    }
    if (Panel.keyHandle)
        RegCloseKey(Panel.keyHandle); // the page opens the key again at every start
    Panel.keyHandle = key;
    return TRUE;
}

// Queries a value of at most 4 bytes; shorter values are widened with zeros.
static BOOL ReadValue(const char *name, DWORD *value, DWORD *type)
{
    DWORD data = 0, size = sizeof data;
    if (RegQueryValueExA(Panel.keyHandle, name, NULL, type, reinterpret_cast<BYTE *>(&data), &size) != ERROR_SUCCESS)
        return FALSE;
    *value = data;
    return TRUE;
}

BOOL ReadDwordValue(const char *name, DWORD *value)
{
    DWORD type;
    return ReadValue(name, value, &type);
}

BOOL ReadBinaryDwordValue(const char *name, DWORD *value)
{
    DWORD type, data;
    if (!ReadValue(name, &data, &type) || type != REG_BINARY)
        return FALSE;
    *value = data;
    return TRUE;
}

void WriteDwordValue(const char *name, DWORD value)
{
    RegSetValueExA(Panel.keyHandle, name, 0, REG_DWORD, reinterpret_cast<const BYTE *>(&value), sizeof value);
}
