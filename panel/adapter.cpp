// Adapter probe: the display driver's escape and the screen; and the
// machine's physical memory, which sets the DMA limit.
#include "panel.h"

PanelState Panel;

BOOL ProbeAdapter()
{
    HDC screen = GetDC(NULL);
    lstrcpyA(Panel.versionText, "1.1.20");
    DWORD request[4] = {QUERY_ADAPTER_CODE, 0, 0, 0};
    ExtEscape(screen, ESCAPE_QUERY_ADAPTER, sizeof request, reinterpret_cast<LPCSTR>(request),
              sizeof Panel.adapter, reinterpret_cast<LPSTR>(&Panel.adapter));
    const AdapterInfo &a = Panel.adapter;
    BOOL accepted = a.vendorId == VENDOR_CHIP || a.vendorId == VENDOR_SECOND_SOURCE;
    Panel.chipFamily = static_cast<LONG>(a.deviceId);
    if (a.vendorId == VENDOR_SECOND_SOURCE && a.deviceId == 0x3D04)
        Panel.chipFamily = 4;
    else if (a.vendorId == VENDOR_SECOND_SOURCE && a.deviceId == 0x3D07)
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
