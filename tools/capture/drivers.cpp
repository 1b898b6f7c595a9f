// Installed capture drivers (Drivers32 and drivers.desc, as the Multimedia
// control panel enters them) and the driver's channels through winmm.
#include <cstdio>
#include "drivers.h"

static const char Drivers32[] = "Software\\Microsoft\\Windows NT\\CurrentVersion\\Drivers32";
static const char DriversDesc[] = "Software\\Microsoft\\Windows NT\\CurrentVersion\\drivers.desc";

static std::string ReadString(const char *keyPath, const char *name)
{
    HKEY key;
    char value[MAX_PATH] = "";
    DWORD size = sizeof value - 1, type = 0;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, keyPath, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
        return "";
    LONG error = RegQueryValueExA(key, name, NULL, &type, reinterpret_cast<BYTE *>(value), &size);
    RegCloseKey(key);
    return error == ERROR_SUCCESS && type == REG_SZ ? value : "";
}

static std::string SlotName(int slot)
{
    char name[16] = "msvideo";
    if (slot)
        std::snprintf(name, sizeof name, "msvideo%d", slot);
    return name;
}

std::vector<InstalledDriver> ListCaptureDrivers()
{
    std::vector<InstalledDriver> drivers;
    for (int slot = 0; slot < 10; slot++) {
        std::string file = ReadString(Drivers32, SlotName(slot).c_str());
        if (!file.empty())
            drivers.push_back({slot, file, ReadString(DriversDesc, file.c_str())});
    }
    return drivers;
}

bool DriverOfSlot(int slot, std::string &file)
{
    file = slot >= 0 && slot < 10 ? ReadString(Drivers32, SlotName(slot).c_str()) : "";
    if (file.empty())
        std::fprintf(stderr, "capture: no capture driver is installed as device %d (see --list)\n", slot);
    return !file.empty();
}

HDRVR OpenCaptureChannel(const std::string &driverFile, DWORD type)
{
    WCHAR path[MAX_PATH];
    MultiByteToWideChar(CP_ACP, 0, driverFile.c_str(), -1, path, MAX_PATH);
    VIDEO_OPEN_PARMS open = {sizeof open, mmioFOURCC('v', 'c', 'a', 'p'), 0, 0x0300, type, ~0u, NULL, NULL, 0};
    HDRVR driver = OpenDriver(path, NULL, reinterpret_cast<LPARAM>(&open));
    if (driver)
        return driver;
    if (open.dwError == ~0u) {
        std::fprintf(stderr, "capture: %s could not be loaded as a capture driver\n", driverFile.c_str());
    } else if (open.dwError == 0) {
        std::fprintf(stderr, "capture: %s refused to open its %s channel (it may be open already)\n",
                     driverFile.c_str(), type == VIDEO_IN ? "capture" : "video source");
    } else {
        // No channel is open to ask; the driver's own text comes from its string table.
        char text[256] = "the capture device was not detected";
        if (HMODULE module = LoadLibraryExA(driverFile.c_str(), NULL, LOAD_LIBRARY_AS_DATAFILE)) {
            LoadStringA(module, 101, text, sizeof text); // "not detected"
            FreeLibrary(module);
        }
        std::fprintf(stderr, "capture: device not detected (error %lu): %s\n", open.dwError, text);
    }
    return NULL;
}

void PrintDriverError(HDRVR driver, const char *what, DWORD error)
{
    char text[256] = "";
    VIDEO_GETERRORTEXT_PARMS parms = {error, text, sizeof text};
    if (SendDriverMessage(driver, DVM_GETERRORTEXT, reinterpret_cast<LPARAM>(&parms), 0) != DV_ERR_OK || !text[0]) {
        const char *meaning = error == DV_ERR_BADFORMAT ? "the device cannot capture this format at its current zoom"
                            : error == DV_ERR_SIZEFIELD ? "a record of the wrong size"
                            : error == DV_ERR_NONSPECIFIC ? "the device refused the request"
                            : error == DV_ERR_NOMEM ? "out of memory"
                            : error == DV_ERR_NOTSUPPORTED ? "the driver does not support this"
                            : "";
        std::snprintf(text, sizeof text, "Video for Windows error %lu%s%s", error, *meaning ? ": " : "", meaning);
    }
    std::fprintf(stderr, "capture: %s: %s\n", what, text);
}
