// drvsetup: installation as a video-capture device of the prefix, and its
// removal, as the Multimedia control panel does them.
#include "capture_rig.h"
#include <map>

namespace {

using Values = std::map<std::string, std::string>;

Values ReadValues(const char *path)
{
    Values values;
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
        return values;
    char name[256], data[512];
    for (DWORD i = 0;; i++) {
        DWORD nameSize = sizeof name, dataSize = sizeof data, type;
        if (RegEnumValueA(key, i, name, &nameSize, NULL, &type, reinterpret_cast<BYTE *>(data), &dataSize))
            break;
        values[name] = type == REG_SZ ? std::string(data) : std::string("?");
    }
    RegCloseKey(key);
    return values;
}

struct Snapshot {
    Values drivers, descriptions;
    bool file;
    bool operator==(const Snapshot &o) const { return drivers == o.drivers && descriptions == o.descriptions && file == o.file; }
};

Snapshot Take()
{
    char path[MAX_PATH];
    GetSystemDirectoryA(path, MAX_PATH);
    lstrcatA(path, "\\zentacap.dll");
    return {ReadValues("Software\\Microsoft\\Windows NT\\CurrentVersion\\Drivers32"),
            ReadValues("Software\\Microsoft\\Windows NT\\CurrentVersion\\drivers.desc"),
            GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES};
}

// Runs drvsetup; `onAbout` answers its About dialog when one shows.
DWORD RunSetup(const char *arguments, bool *aboutShown)
{
    char command[128];
    wsprintfA(command, "drvsetup.exe %s", arguments);
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process;
    if (!CreateProcessA(NULL, command, NULL, NULL, FALSE, 0, NULL, NULL, &startup, &process))
        return 0xDEAD;
    *aboutShown = false;
    while (WaitForSingleObject(process.hProcess, 50) == WAIT_TIMEOUT) {
        if (HWND about = FindWindowA("#32770", "Brightvane 7K42Q VideoIn About")) {
            *aboutShown = true;
            PostMessageA(about, WM_COMMAND, IDOK, 0);
        }
    }
    DWORD code;
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
    return code;
}

class Setup : public CaptureDriverTest {
protected:
    void SetUp() override
    {
        CaptureDriverTest::SetUp();
        char path[MAX_PATH];
        GetSystemDirectoryA(path, MAX_PATH);
        lstrcatA(path, "\\zentacap.dll");
        DeleteFileA(path); // left by an interrupted earlier run, or by the demo
        HKEY key;
        if (!RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Windows NT\\CurrentVersion\\Drivers32", 0,
                           KEY_ALL_ACCESS, &key)) {
            for (const auto &entry : ReadValues("Software\\Microsoft\\Windows NT\\CurrentVersion\\Drivers32"))
                if (!lstrcmpiA(entry.second.c_str(), "zentacap.dll"))
                    RegDeleteValueA(key, entry.first.c_str());
            RegCloseKey(key);
        }
    }
    void TearDown() override
    {
        EXPECT_EQ(RegisterBoard(), (DWORD)ERROR_SUCCESS);
        EXPECT_EQ(StartBoard(), (DWORD)ERROR_SUCCESS);
        CaptureDriverTest::TearDown();
    }
};

TEST_F(Setup, InstallationEntersTheDriverThenShowsItsAboutDialogAndRemovalUndoesIt)
{
    Snapshot before = Take();
    ASSERT_FALSE(before.file);
    bool about;
    ASSERT_EQ(RunSetup("install", &about), 0u);
    EXPECT_TRUE(about) << "DRV_CONFIGURE right after DRV_INSTALL shows the About dialog";
    Snapshot installed = Take();
    EXPECT_TRUE(installed.file);
    EXPECT_EQ(installed.drivers["msvideo"], "zentacap.dll");
    EXPECT_EQ(installed.descriptions["zentacap.dll"], "Brightvane 7K42Q VideoIn");
    EXPECT_TRUE(BoardRunning());

    // The installed driver serves a capture application that names its entry.
    VIDEO_OPEN_PARMS open = {sizeof open, mmioFOURCC('v', 'c', 'a', 'p'), 0, 0, VIDEO_IN, 0, 0, 0, 0};
    HDRVR driver = OpenDriver(L"msvideo", L"Drivers32", reinterpret_cast<LPARAM>(&open));
    ASSERT_NE(driver, nullptr);
    EXPECT_EQ(CloseDriver(driver, 0, 0), 1);
    ASSERT_TRUE(WaitForBoardClosed());

    ASSERT_EQ(RunSetup("remove", &about), 0u);
    EXPECT_FALSE(about);
    EXPECT_TRUE(Take() == before) << "entries and file as before the installation";
    EXPECT_FALSE(BoardRunning()) << "DRV_REMOVE took the kernel service away";
}

TEST_F(Setup, AnEntryTakenByAnotherDriverMovesOursToTheNextSlot)
{
    HKEY key;
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Windows NT\\CurrentVersion\\Drivers32", 0,
                              NULL, 0, KEY_ALL_ACCESS, NULL, &key, NULL), ERROR_SUCCESS);
    RegSetValueExA(key, "msvideo", 0, REG_SZ, reinterpret_cast<const BYTE *>("other.dll"), 10);
    bool about;
    EXPECT_EQ(RunSetup("install --no-configure", &about), 0u);
    EXPECT_FALSE(about);
    Values drivers = ReadValues("Software\\Microsoft\\Windows NT\\CurrentVersion\\Drivers32");
    EXPECT_EQ(drivers["msvideo"], "other.dll");
    EXPECT_EQ(drivers["msvideo1"], "zentacap.dll");
    EXPECT_EQ(RunSetup("remove", &about), 0u);
    drivers = ReadValues("Software\\Microsoft\\Windows NT\\CurrentVersion\\Drivers32");
    EXPECT_EQ(drivers["msvideo"], "other.dll");
    EXPECT_EQ(drivers.count("msvideo1"), 0u);
    RegDeleteValueA(key, "msvideo");
    RegCloseKey(key);
}

TEST_F(Setup, RemovingWhatIsNotInstalledFails)
{
    bool about;
    EXPECT_EQ(RunSetup("remove", &about), 1u);
}

}
