// The display driver's option store: its service key, opened once (read and
// write, else read only) and kept open, and the options that it reads at boot.
// Every stored option name is the display driver's, and stays as it reads it.
#include "panel.h"

static const char DriverKey[] = "System\\CurrentControlSet\\Services\\BV7K42Q\\Device0";

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

static BOOL ReadDwordValue(const char *name, DWORD *value)
{
    DWORD type;
    return ReadValue(name, value, &type);
}

static BOOL ReadBinaryDwordValue(const char *name, DWORD *value)
{
    DWORD type, data;
    if (!ReadValue(name, &data, &type) || type != REG_BINARY)
        return FALSE;
    *value = data;
    return TRUE;
}

static void WriteDwordValue(const char *name, DWORD value)
{
    RegSetValueExA(Panel.keyHandle, name, 0, REG_DWORD, reinterpret_cast<const BYTE *>(&value), sizeof value);
}

// An option as stored, or its default, which is then stored at once.
static void LoadOption(const char *name, LONG *field, DWORD fallback)
{
    DWORD value;
    if (ReadDwordValue(name, &value)) {
        *field = static_cast<LONG>(value);
    } else {
        *field = static_cast<LONG>(fallback);
        WriteDwordValue(name, fallback);
    }
}

BOOL LoadPageOptions()
{
    if (!OpenDriverKey())
        return FALSE;
    LoadOption("ExportSingleBufferedModes", &Panel.exportSingleBufferedModes, 0);
    LoadOption("OpenGL.TextureCompression", &Panel.textureCompression, 0);
    if (!ReadBinaryDwordValue("HardwareInformation.CurrentChipClockSpeed", &Panel.chipClockHz))
        return FALSE;
    LoadOption("3DExtensions.SupportGDISingle", &Panel.supportGdiSingle, 1);
    LoadOption("3DExtensions.SupportGDIDouble", &Panel.supportGdiDouble, 0);
    LoadOption("EnableFastLine", &Panel.enableFastLine, 1);
    LoadOption("GlintDMA.Enabled", &Panel.dmaEnabled, 1);
    LoadOption("GlintDMA.NumberOfBuffers", &Panel.numberOfBuffers, 4);
    LoadOption("GlintDMA.SizeOfBuffer", &Panel.bufferSizeKB, 65536);
    Panel.bufferSizeKB = static_cast<LONG>(static_cast<DWORD>(Panel.bufferSizeKB) / 1024);
    Panel.physicalMemoryMB = PhysicalMemoryMB();
    return TRUE;
}

// A boot option stored when it differs from the stored value (or that value
// cannot be read back); storing one calls for a restart.
static void StoreBootOption(const char *name, LONG field)
{
    DWORD stored;
    if (ReadDwordValue(name, &stored) && stored == static_cast<DWORD>(field))
        return;
    WriteDwordValue(name, static_cast<DWORD>(field));
    Panel.restartNeeded = 1;
}

void StorePageOptions()
{
    WriteDwordValue("ExportSingleBufferedModes", static_cast<DWORD>(Panel.exportSingleBufferedModes));
    WriteDwordValue("OpenGL.TextureCompression", static_cast<DWORD>(Panel.textureCompression));
    StoreBootOption("EnableFastLine", Panel.enableFastLine);
    StoreBootOption("3DExtensions.SupportGDISingle", Panel.supportGdiSingle);
    StoreBootOption("3DExtensions.SupportGDIDouble", Panel.supportGdiDouble);
    StoreBootOption("GlintDMA.Enabled", Panel.dmaEnabled);
}

StoredDmaBuffers ReadStoredDmaBuffers()
{
    StoredDmaBuffers stored = {};
    stored.haveCount = ReadDwordValue("GlintDMA.NumberOfBuffers", &stored.count);
    stored.haveSize = ReadDwordValue("GlintDMA.SizeOfBuffer", &stored.bytes);
    return stored;
}

void StoreDmaBuffers()
{
    WriteDwordValue("GlintDMA.NumberOfBuffers", static_cast<DWORD>(Panel.numberOfBuffers));
    WriteDwordValue("GlintDMA.SizeOfBuffer", static_cast<DWORD>(Panel.bufferSizeKB) * 1024);
    Panel.restartNeeded = 1;
}

void StoreSystemMemory()
{
    WriteDwordValue("GlintDMA.SystemMemory", static_cast<DWORD>(Panel.physicalMemoryMB));
}
