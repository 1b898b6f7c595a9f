// The property page library: its process-wide state, the adapter facts and
// the display driver's options.
#ifndef PANEL_H
#define PANEL_H

#include <windows.h>
#include <stddef.h>

// Display-driver escape that describes the adapter; its 16-byte request
// carries the query code 109.
#define ESCAPE_QUERY_ADAPTER 0x1100
#define QUERY_ADAPTER_CODE   109

// Vendors whose adapters the page serves: the chip's own maker, and the
// second source whose device identifiers name the chip family.
#define VENDOR_CHIP           0x3D3D
#define VENDOR_SECOND_SOURCE  0x104C

// The escape's 144-byte reply: 36 little-endian words.
struct AdapterInfo {
    DWORD vendorId;          // word 0
    DWORD deviceId;          // word 1
    DWORD unused2[14];
    DWORD capabilities;      // word 16: bit 3 is the capability flag
    DWORD unused17[4];
    DWORD memoryUnitsA;      // word 21, in 4-byte units
    DWORD memoryUnitsB;      // word 22
    DWORD unused23[13];
};
static_assert(sizeof(AdapterInfo) == 144, "AdapterInfo is 144 bytes");
static_assert(offsetof(AdapterInfo, capabilities) == 16 * 4, "capabilities is word 16");
static_assert(offsetof(AdapterInfo, memoryUnitsA) == 21 * 4 && offsetof(AdapterInfo, memoryUnitsB) == 22 * 4,
              "memory amounts are words 21 and 22");

struct PanelState {
    HKEY keyHandle;                 // the display driver's Device0 key
    DWORD writable;                 // 1: open for reading and writing
    char versionText[32];           // "1.1.20"
    AdapterInfo adapter;
    LONG chipFamily;                // 4, 7, or the device identifier
    DWORD capabilityFlag;
    DWORD textureMemoryUnits;       // words 21 + 22, 4-byte units
    LONG screenPixels;
    LONG bitsPerPixel;
    DWORD chipClockHz;
    LONG physicalMemoryMB;
    LONG exportSingleBufferedModes;
    LONG textureCompression;
    LONG supportGdiSingle;
    LONG supportGdiDouble;
    LONG enableFastLine;
    LONG dmaEnabled;
    LONG numberOfBuffers;
    LONG bufferSizeKB;
    DWORD restartNeeded;            // once set, never cleared
};

extern PanelState Panel;
extern HINSTANCE ModuleInstance;
extern LONG ModuleObjectCount;

// Adapter probe and the machine's memory (adapter.cpp)
BOOL ProbeAdapter();
LONG PhysicalMemoryMB();

// The display driver's option store (options.cpp)
BOOL OpenDriverKey();
// Every option into Panel, defaults stored for the missing ones; FALSE when
// the key cannot be opened or the chip clock is not recorded.
BOOL LoadPageOptions();
// The two immediate options, and the boot options that changed (each of
// those calls for a restart).
void StorePageOptions();
// The DMA buffer options as stored; `have...` is FALSE for one not readable.
struct StoredDmaBuffers {
    BOOL haveCount, haveSize;
    DWORD count, bytes;
};
StoredDmaBuffers ReadStoredDmaBuffers();
void StoreDmaBuffers(); // Panel's count and size; calls for a restart
void StoreSystemMemory();

// The adapter page (page.cpp)
INT_PTR CALLBACK PageDialogProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam);

#endif
