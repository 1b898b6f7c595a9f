// Test rig for zentacap.dll (see capture_rig.h).
#include "capture_rig.h"
#include <cstdio>

static const char SettingsRoot[] = "Software\\ORVANTA";
static const char SettingsKey[] = "Software\\ORVANTA\\Multimedia\\Brightvane 7K42Q VideoIn";
static const char ParametersKey[] = "SYSTEM\\CurrentControlSet\\Services\\zentacap\\Parameters";

std::vector<WarningBox> CaptureDriverTest::warnings;
static DWORD FailOpenError;

static int WINAPI RecordMessageBox(HWND owner, LPCSTR text, LPCSTR caption, UINT style)
{
    CaptureDriverTest::warnings.push_back({owner, text ? text : "", caption ? caption : "", style});
    return IDOK;
}

static HANDLE WINAPI FailCreateFile(LPCSTR, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD, HANDLE)
{
    SetLastError(FailOpenError);
    return INVALID_HANDLE_VALUE;
}

void ClearCaptureSettings()
{
    RegDeleteTreeA(HKEY_CURRENT_USER, SettingsRoot);
    RegDeleteKeyA(HKEY_CURRENT_USER, SettingsRoot);
}

void StoreRawSetting(const char *name, DWORD type, const void *data, DWORD size)
{
    HKEY key;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, SettingsKey, 0, NULL, 0, KEY_WRITE, NULL, &key, NULL), ERROR_SUCCESS);
    EXPECT_EQ(RegSetValueExA(key, name, 0, type, static_cast<const BYTE *>(data), size), ERROR_SUCCESS);
    RegCloseKey(key);
}

void StoreSetting(const char *name, DWORD value)
{
    StoreRawSetting(name, REG_DWORD, &value, sizeof value);
}

bool StoredSetting(const char *name, DWORD *value)
{
    HKEY key;
    DWORD type = 0, size = sizeof *value;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, SettingsKey, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
        return false;
    LONG error = RegQueryValueExA(key, name, NULL, &type, reinterpret_cast<BYTE *>(value), &size);
    RegCloseKey(key);
    return error == ERROR_SUCCESS && type == REG_DWORD && size == 4;
}

void StoreDeviceName(DWORD type, const void *data, DWORD size)
{
    HKEY key;
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, ParametersKey, 0, NULL, 0, KEY_WRITE, NULL, &key, NULL),
              ERROR_SUCCESS);
    EXPECT_EQ(RegSetValueExA(key, "DeviceName", 0, type, static_cast<const BYTE *>(data), size), ERROR_SUCCESS);
    RegCloseKey(key);
}

std::vector<JournalEntry> BoardRequests()
{
    std::vector<JournalEntry> requests;
    for (const JournalEntry &e : ReadBoardJournal())
        if (e.kind == JOURNAL_REQUEST)
            requests.push_back(e);
    return requests;
}

bool WaitForBoardClosed()
{
    return Eventually([] {
        BoardStatus status = {};
        return GetBoardStatus(&status) && status.openers == 0;
    });
}

void JoinOrHang(HANDLE thread, const char *what)
{
    if (WaitForSingleObject(thread, HangMs) != WAIT_OBJECT_0) {
        std::printf("hang: %s did not end within %lu ms\n", what, HangMs);
        std::fflush(stdout);
        TerminateProcess(GetCurrentProcess(), 3);
    }
    CloseHandle(thread);
}

void CaptureDriverTest::SetUp()
{
    ASSERT_EQ(RegisterBoard(), (DWORD)ERROR_SUCCESS);
    ASSERT_EQ(StartBoard(), (DWORD)ERROR_SUCCESS);
    ASSERT_TRUE(WaitForBoardClosed()) << "a device handle of an earlier test is still open";
    ASSERT_TRUE(ResetBoard());
    BoardFaults faults = {};
    faults.freeRunning = 1;
    ASSERT_TRUE(SetBoardFaults(faults));
    ClearCaptureSettings();
    warnings.clear();
    module = LoadLibraryA("zentacap.dll");
    ASSERT_NE(module, nullptr);
    driverProc = reinterpret_cast<DRIVERPROC>(reinterpret_cast<void *>(GetProcAddress(module, "DriverProc")));
    ASSERT_NE(driverProc, nullptr);
    messageBox.reset(new ImportPatch(module, "user32.dll", "MessageBoxA", (void *)RecordMessageBox));
    ASSERT_NE(messageBox->original, nullptr);
}

void CaptureDriverTest::TearDown()
{
    // winmm frees the driver once too often after a refused OpenDriver; then
    // there is nothing left to restore or free.
    if (GetModuleHandleA("zentacap.dll") != module) {
        if (createFile) createFile->original = nullptr;
        if (messageBox) messageBox->original = nullptr;
        module = nullptr;
    }
    createFile.reset();
    messageBox.reset();
    if (module)
        FreeLibrary(module);
    EXPECT_TRUE(WaitForBoardClosed()) << "the test left the device open";
    ClearCaptureSettings();
}

LRESULT CaptureDriverTest::Send(DWORD_PTR id, UINT message, LPARAM lParam1, LPARAM lParam2)
{
    return driverProc(id, reinterpret_cast<HDRVR>(0x1234), message, lParam1, lParam2);
}

LRESULT CaptureDriverTest::OpenChannelOfType(DWORD type, VIDEO_OPEN_PARMS *open)
{
    VIDEO_OPEN_PARMS local;
    if (!open)
        open = &local;
    *open = VIDEO_OPEN_PARMS{sizeof *open, mmioFOURCC('v', 'c', 'a', 'p'), 0, 0x0300, type, 0xDEADBEEF,
                             nullptr, nullptr, 0};
    return Send(0, DRV_OPEN, 0, reinterpret_cast<LPARAM>(open));
}

void CaptureDriverTest::FailDeviceOpens(DWORD error)
{
    FailOpenError = error;
    createFile.reset(); // the earlier patch is undone before a new one records the original
    createFile.reset(new ImportPatch(module, "kernel32.dll", "CreateFileA", (void *)FailCreateFile));
    ASSERT_NE(createFile->original, nullptr);
}

void SmallFrameChannelTest::SetUp()
{
    CaptureDriverTest::SetUp();
    StoreSetting("Width", 80);
    StoreSetting("Height", 60);
    ASSERT_EQ(OpenChannelOfType(VIDEO_IN), 4);
}

void SmallFrameChannelTest::TearDown()
{
    EXPECT_EQ(Send(4, DRV_CLOSE), 1);
    CaptureDriverTest::TearDown();
}
