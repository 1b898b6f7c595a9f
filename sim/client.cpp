// User-mode access to the virtual board (see client.h).
#include "client.h"

static const char ServiceKey[] = "SYSTEM\\CurrentControlSet\\Services\\" KERNEL_SERVICE_NAME;
static const char ImagePath[] = "\\SystemRoot\\SYSTEM32\\DRIVERS\\" KERNEL_SERVICE_NAME ".SYS";
static const DWORD ServiceWaitMs = 15000;

// Runs `action` on the board's service; returns its error code.
template <class Action> static DWORD WithService(DWORD managerAccess, Action action)
{
    SC_HANDLE manager = OpenSCManagerA(NULL, NULL, managerAccess);
    if (!manager)
        return GetLastError();
    SC_HANDLE service = OpenServiceA(manager, KERNEL_SERVICE_NAME, SERVICE_ALL_ACCESS);
    DWORD error = service ? action(service) : GetLastError();
    if (service)
        CloseServiceHandle(service);
    CloseServiceHandle(manager);
    return error;
}

static DWORD WaitForState(SC_HANDLE service, DWORD state)
{
    SERVICE_STATUS status;
    for (DWORD waited = 0; waited < ServiceWaitMs; waited += 20) {
        if (!QueryServiceStatus(service, &status))
            return GetLastError();
        if (status.dwCurrentState == state)
            return ERROR_SUCCESS;
        Sleep(20);
    }
    return ERROR_SERVICE_REQUEST_TIMEOUT;
}

static DWORD CopyDriverFile(const char *driverFile)
{
    char target[MAX_PATH];
    UINT length = GetSystemDirectoryA(target, MAX_PATH - 32);
    if (!length)
        return GetLastError();
    lstrcatA(target, "\\drivers\\" KERNEL_SERVICE_NAME ".sys");
    return CopyFileA(driverFile, target, FALSE) ? ERROR_SUCCESS : GetLastError();
}

static DWORD WriteDeviceName()
{
    HKEY key;
    LONG error = RegCreateKeyExA(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Services\\"
                                 KERNEL_SERVICE_NAME "\\Parameters", 0, NULL, 0, KEY_WRITE,
                                 NULL, &key, NULL);
    if (error != ERROR_SUCCESS)
        return error;
    error = RegSetValueExA(key, "DeviceName", 0, REG_SZ, (const BYTE *)BOARD_DEVICE_NAME,
                           sizeof BOARD_DEVICE_NAME);
    RegCloseKey(key);
    return error;
}

DWORD InstallBoard(const char *driverFile)
{
    DWORD error = CopyDriverFile(driverFile);
    return error == ERROR_SUCCESS ? RegisterBoard() : error;
}

DWORD RegisterBoard()
{
    DWORD error;
    SC_HANDLE manager = OpenSCManagerA(NULL, NULL, SC_MANAGER_ALL_ACCESS);
    if (!manager)
        return GetLastError();
    SC_HANDLE service = NULL;
    // A service deleted while it ran stays until it has stopped (1072).
    for (DWORD waited = 0; waited < ServiceWaitMs; waited += 20) {
        service = CreateServiceA(manager, KERNEL_SERVICE_NAME, NULL, SERVICE_ALL_ACCESS, SERVICE_KERNEL_DRIVER,
                                 SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL, ImagePath, "Base", NULL, "\0",
                                 NULL, NULL);
        if (service || GetLastError() != ERROR_SERVICE_MARKED_FOR_DELETE)
            break;
        Sleep(20);
    }
    error = service || GetLastError() == ERROR_SERVICE_EXISTS ? ERROR_SUCCESS : GetLastError();
    if (service)
        CloseServiceHandle(service);
    CloseServiceHandle(manager);
    return error == ERROR_SUCCESS ? WriteDeviceName() : error;
}

DWORD RemoveBoard()
{
    StopBoard();
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Services\\" KERNEL_SERVICE_NAME
                  "\\Parameters");
    DWORD error = WithService(SC_MANAGER_ALL_ACCESS, [](SC_HANDLE service) -> DWORD {
        return DeleteService(service) ? ERROR_SUCCESS : GetLastError();
    });
    return error == ERROR_SERVICE_DOES_NOT_EXIST ? ERROR_SUCCESS : error;
}

DWORD StartBoard()
{
    return WithService(SC_MANAGER_ALL_ACCESS, [](SC_HANDLE service) -> DWORD {
        if (!StartServiceA(service, 0, NULL) && GetLastError() != ERROR_SERVICE_ALREADY_RUNNING)
            return GetLastError();
        return WaitForState(service, SERVICE_RUNNING);
    });
}

DWORD StopBoard()
{
    return WithService(SC_MANAGER_ALL_ACCESS, [](SC_HANDLE service) -> DWORD {
        SERVICE_STATUS status;
        if (!ControlService(service, SERVICE_CONTROL_STOP, &status) &&
            GetLastError() != ERROR_SERVICE_NOT_ACTIVE)
            return GetLastError();
        return WaitForState(service, SERVICE_STOPPED);
    });
}

bool BoardRunning()
{
    return WithService(SC_MANAGER_CONNECT, [](SC_HANDLE service) -> DWORD {
        SERVICE_STATUS status;
        if (!QueryServiceStatus(service, &status))
            return GetLastError();
        return status.dwCurrentState == SERVICE_RUNNING ? ERROR_SUCCESS : ERROR_SERVICE_NOT_ACTIVE;
    }) == ERROR_SUCCESS;
}

static bool Control(DWORD code, const void *in, DWORD inLength, void *out, DWORD outLength,
                    DWORD *returned)
{
    HANDLE control = CreateFileA("\\\\.\\" BOARD_CONTROL_NAME, GENERIC_READ | GENERIC_WRITE, 0,
                                 NULL, OPEN_EXISTING, 0, NULL);
    if (control == INVALID_HANDLE_VALUE)
        return false;
    DWORD ignored;
    BOOL ok = DeviceIoControl(control, code, const_cast<void *>(in), inLength, out, outLength,
                              returned ? returned : &ignored, NULL);
    CloseHandle(control);
    return ok != FALSE;
}

bool ResetBoard()
{
    return Control(IOCTL_BOARD_RESET, NULL, 0, NULL, 0, NULL);
}

bool SetBoardFaults(const BoardFaults &faults)
{
    return Control(IOCTL_BOARD_SET_FAULTS, &faults, sizeof faults, NULL, 0, NULL);
}

bool GetBoardStatus(BoardStatus *status)
{
    DWORD returned = 0;
    return Control(IOCTL_BOARD_GET_STATUS, NULL, 0, status, sizeof *status, &returned) &&
           returned == sizeof *status;
}

std::vector<JournalEntry> ReadBoardJournal(uint32_t first)
{
    std::vector<JournalEntry> entries(JOURNAL_SLOTS);
    DWORD returned = 0;
    if (!Control(IOCTL_BOARD_READ_JOURNAL, &first, sizeof first, entries.data(),
                 entries.size() * sizeof(JournalEntry), &returned))
        returned = 0;
    entries.resize(returned / sizeof(JournalEntry));
    return entries;
}
