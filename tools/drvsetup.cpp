// drvsetup: installs zentacap.dll as a video-capture driver of this system
// (Wine prefix or Windows NT 4), as the Multimedia control panel does: the
// file in the system folder, an "msvideo" entry in Drivers32 with its
// description, then DRV_INSTALL and DRV_CONFIGURE; "remove" sends DRV_REMOVE
// and takes the entries and the file away again.
#include <cstdio>
#include <cstring>
#include "vfwdrv.h"

static const char DriverFile[] = "zentacap.dll";
static const char Description[] = "Brightvane 7K42Q VideoIn";
static const char Drivers32[] = "Software\\Microsoft\\Windows NT\\CurrentVersion\\Drivers32";
static const char DriversDesc[] = "Software\\Microsoft\\Windows NT\\CurrentVersion\\drivers.desc";

static const char Usage[] =
    "usage: drvsetup install [--no-configure] | remove\n"
    "  install   copy zentacap.dll (from beside drvsetup) into the system folder, enter it as a\n"
    "            video-capture driver, send DRV_INSTALL, then DRV_CONFIGURE (the About dialog)\n"
    "  remove    send DRV_REMOVE, remove the entries and the file\n";

// The Drivers32 value naming our driver, or the first free video-capture
// slot (msvideo, msvideo1 .. msvideo9) when `free` is set.
static bool FindSlot(HKEY key, bool free, char *slot)
{
    for (int i = 0; i < 10; i++) {
        if (i) std::sprintf(slot, "msvideo%d", i); else std::strcpy(slot, "msvideo");
        char value[MAX_PATH] = "";
        DWORD size = sizeof value, type;
        LONG error = RegQueryValueExA(key, slot, NULL, &type, reinterpret_cast<BYTE *>(value), &size);
        if (error == ERROR_SUCCESS && !lstrcmpiA(value, DriverFile))
            return true;
        if (free && error == ERROR_FILE_NOT_FOUND)
            return true;
    }
    return false;
}

static bool SetEntries(const char *slot)
{
    HKEY list, descriptions;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, Drivers32, 0, NULL, 0, KEY_WRITE, NULL, &list, NULL))
        return false;
    bool ok = !RegSetValueExA(list, slot, 0, REG_SZ, reinterpret_cast<const BYTE *>(DriverFile), sizeof DriverFile);
    RegCloseKey(list);
    if (!RegCreateKeyExA(HKEY_LOCAL_MACHINE, DriversDesc, 0, NULL, 0, KEY_WRITE, NULL, &descriptions, NULL)) {
        ok = ok && !RegSetValueExA(descriptions, DriverFile, 0, REG_SZ, reinterpret_cast<const BYTE *>(Description),
                                   sizeof Description);
        RegCloseKey(descriptions);
    }
    return ok;
}

static void RemoveEntries()
{
    HKEY key;
    char slot[16];
    if (!RegOpenKeyExA(HKEY_LOCAL_MACHINE, Drivers32, 0, KEY_ALL_ACCESS, &key)) {
        while (FindSlot(key, false, slot))
            RegDeleteValueA(key, slot);
        RegCloseKey(key);
    }
    if (!RegOpenKeyExA(HKEY_LOCAL_MACHINE, DriversDesc, 0, KEY_ALL_ACCESS, &key)) {
        RegDeleteValueA(key, DriverFile);
        RegCloseKey(key);
    }
}

static void SystemPath(char *path)
{
    GetSystemDirectoryA(path, MAX_PATH - 16);
    lstrcatA(path, "\\");
    lstrcatA(path, DriverFile);
}

// A configuration instance of the driver opened through the driver list, as
// the control panel opens it; `info` names the entry for its messages.
static HDRVR OpenEntry(const char *slot, WCHAR *alias, DRVCONFIGINFO *info)
{
    MultiByteToWideChar(CP_ACP, 0, slot, -1, alias, 16);
    *info = DRVCONFIGINFO{sizeof *info, L"Drivers32", alias};
    return OpenDriver(alias, L"Drivers32", 0);
}

static int Install(bool configure)
{
    char source[MAX_PATH], target[MAX_PATH], slot[16];
    GetModuleFileNameA(NULL, source, MAX_PATH);
    std::strcpy(std::strrchr(source, '\\') + 1, DriverFile);
    SystemPath(target);
    if (!CopyFileA(source, target, FALSE)) {
        std::fprintf(stderr, "drvsetup: cannot copy %s to %s (error %lu)\n", source, target, GetLastError());
        return 1;
    }
    HKEY list;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, Drivers32, 0, NULL, 0, KEY_ALL_ACCESS, NULL, &list, NULL)) {
        std::fprintf(stderr, "drvsetup: cannot open the driver list\n");
        return 1;
    }
    bool found = FindSlot(list, true, slot);
    RegCloseKey(list);
    if (!found || !SetEntries(slot)) {
        std::fprintf(stderr, "drvsetup: no free video-capture entry in the driver list\n");
        return 1;
    }
    // One instance for both messages: the driver remembers the installation
    // only while it stays loaded.
    WCHAR alias[16];
    DRVCONFIGINFO info;
    HDRVR driver = OpenEntry(slot, alias, &info);
    LRESULT installed = driver ? SendDriverMessage(driver, DRV_INSTALL, 0, reinterpret_cast<LPARAM>(&info)) : -1;
    if (installed == DRVCNF_OK && configure)
        SendDriverMessage(driver, DRV_CONFIGURE, reinterpret_cast<LPARAM>(GetConsoleWindow()),
                          reinterpret_cast<LPARAM>(&info));
    if (driver)
        CloseDriver(driver, 0, 0);
    if (installed != DRVCNF_OK) {
        std::fprintf(stderr, "drvsetup: the driver refused DRV_INSTALL (%ld): its kernel service did not start\n",
                     (long)installed);
        RemoveEntries();
        DeleteFileA(target);
        return 1;
    }
    std::printf("drvsetup: %s installed as %s, \"%s\"\n", DriverFile, slot, Description);
    return 0;
}

static int Remove()
{
    char slot[16], target[MAX_PATH];
    HKEY list;
    bool found = !RegOpenKeyExA(HKEY_LOCAL_MACHINE, Drivers32, 0, KEY_QUERY_VALUE, &list) && FindSlot(list, false, slot);
    if (found)
        RegCloseKey(list);
    if (!found) {
        std::fprintf(stderr, "drvsetup: %s is not installed\n", DriverFile);
        return 1;
    }
    WCHAR alias[16];
    DRVCONFIGINFO info;
    HDRVR driver = OpenEntry(slot, alias, &info);
    LRESULT removed = driver ? SendDriverMessage(driver, DRV_REMOVE, 0, reinterpret_cast<LPARAM>(&info)) : -1;
    if (driver)
        CloseDriver(driver, 0, 0);
    RemoveEntries();
    SystemPath(target);
    DeleteFileA(target);
    if (removed != DRVCNF_OK) {
        std::fprintf(stderr, "drvsetup: entries removed, but the driver's DRV_REMOVE failed (%ld)\n", (long)removed);
        return 1;
    }
    std::printf("drvsetup: %s removed\n", DriverFile);
    return 0;
}

int main(int argc, char **argv)
{
    if (argc >= 2 && !std::strcmp(argv[1], "install"))
        return Install(!(argc >= 3 && !std::strcmp(argv[2], "--no-configure")));
    if (argc == 2 && !std::strcmp(argv[1], "remove"))
        return Remove();
    std::fputs(Usage, stderr);
    return 2;
}
