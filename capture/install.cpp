// Kernel service installer: the capture driver creates, starts, stops and
// deletes its kernel service "zentacap" through the service control manager.
// Nothing is shown; every failure is the message's result.
#include "install.h"
#include "device_protocol.h"
#include <mmsystem.h>

LONG InstallState;
// The service control manager, kept open from the first use.
static SC_HANDLE ServiceManager;

static const char ServiceKeyPath[] = "SYSTEM\\CurrentControlSet\\Services\\";

// The service database lock is waited for in steps of 100 ms, for at most
// this long; a wait that gives up fails the creation or deletion.
static const DWORD LockWaitSteps = 50;

static SC_LOCK LockDatabase()
{
    SC_LOCK lock = LockServiceDatabase(ServiceManager);
    for (DWORD step = 0; !lock && step < LockWaitSteps; step++) {
        Sleep(100);
        lock = LockServiceDatabase(ServiceManager);
    }
    return lock;
}

static SC_HANDLE OpenKernelService()
{
    return OpenServiceA(ServiceManager, KERNEL_SERVICE_NAME, SERVICE_ALL_ACCESS);
}

static SC_HANDLE CreateKernelService()
{
    char image[MAX_PATH];
    lstrcpyA(image, "\\SystemRoot\\SYSTEM32\\DRIVERS\\");
    lstrcatA(image, KERNEL_SERVICE_NAME);
    lstrcatA(image, ".SYS");
    SC_LOCK lock = LockDatabase();
    if (!lock)
        return NULL;
    SC_HANDLE service = CreateServiceA(ServiceManager, KERNEL_SERVICE_NAME, NULL, SERVICE_ALL_ACCESS,
                                       SERVICE_KERNEL_DRIVER, SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL,
                                       image, "Base", NULL, "\0", NULL, NULL);
    UnlockServiceDatabase(lock);
    return service;
}

static BOOL EnsureKernelService(BOOL allowCreate)
{
    if (!ServiceManager && !(ServiceManager = OpenSCManagerA(NULL, NULL, SC_MANAGER_ALL_ACCESS)))
        return FALSE;
    SC_HANDLE service = OpenKernelService();
    if (!service && GetLastError() == ERROR_SERVICE_DOES_NOT_EXIST && allowCreate)
        service = CreateKernelService();
    if (!service)
        return FALSE;
    SERVICE_STATUS status;
    if (!QueryServiceStatus(service, &status) || status.dwServiceType != SERVICE_KERNEL_DRIVER) {
        CloseServiceHandle(ServiceManager);
        ServiceManager = NULL;
        CloseServiceHandle(service);
        return FALSE;
    }
    CloseServiceHandle(service);
    return TRUE;
}

static BOOL IsKernelServiceRunning()
{
    SC_HANDLE service = OpenKernelService();
    if (!service)
        return FALSE;
    SERVICE_STATUS status;
    BOOL running = QueryServiceStatus(service, &status) && status.dwServiceType == SERVICE_KERNEL_DRIVER &&
                   status.dwCurrentState == SERVICE_RUNNING;
    CloseServiceHandle(service);
    return running;
}

static BOOL SetStartType(SC_HANDLE service, DWORD startType)
{
    return ChangeServiceConfigA(service, SERVICE_NO_CHANGE, startType, SERVICE_NO_CHANGE, NULL, NULL, NULL,
                                NULL, NULL, NULL, NULL);
}

static BOOL StopKernelService()
{
    SC_HANDLE service = OpenKernelService();
    if (!service)
        return GetLastError() == ERROR_SERVICE_DOES_NOT_EXIST;
    BOOL result = SetStartType(service, SERVICE_DEMAND_START);
    if (result && IsKernelServiceRunning()) {
        SERVICE_STATUS status;
        result = ControlService(service, SERVICE_CONTROL_STOP, &status);
    }
    CloseServiceHandle(service);
    return result;
}

static BOOL StartKernelService()
{
    SC_HANDLE service = OpenKernelService();
    if (!service)
        return FALSE;
    BOOL result = StartServiceA(service, 0, NULL) && SetStartType(service, SERVICE_SYSTEM_START);
    CloseServiceHandle(service);
    return result;
}

static HKEY OpenKernelServiceKey()
{
    char path[MAX_PATH];
    lstrcpyA(path, ServiceKeyPath);
    lstrcatA(path, KERNEL_SERVICE_NAME);
    HKEY key;
    return RegOpenKeyExA(HKEY_LOCAL_MACHINE, path, 0, KEY_ALL_ACCESS, &key) == ERROR_SUCCESS ? key : NULL;
}

static BOOL RemoveKernelService()
{
    if (HKEY key = OpenKernelServiceKey()) {
        RegDeleteKeyA(key, "Parameters");
        RegFlushKey(key);
        RegCloseKey(key);
    }
    SC_HANDLE service = OpenKernelService();
    if (!service)
        return GetLastError() == ERROR_SERVICE_DOES_NOT_EXIST;
    SC_LOCK lock = LockDatabase();
    BOOL deleted = lock && DeleteService(service);
    if (lock)
        UnlockServiceDatabase(lock);
    CloseServiceHandle(service);
    CloseServiceHandle(ServiceManager);
    ServiceManager = NULL;
    return deleted;
}

/***********************************************************************
 *           DRV_INSTALL
 */
LRESULT InstallDriver()
{
    InstallState = -1;
    if (!EnsureKernelService(TRUE))
        return DRVCNF_CANCEL;
    StopKernelService();
    if (!StartKernelService())
        return DRVCNF_CANCEL;
    InstallState = 1;
    return DRVCNF_OK;
}

/***********************************************************************
 *           DRV_REMOVE
 */
LRESULT RemoveDriver()
{
    if (!EnsureKernelService(FALSE))
        return DRVCNF_CANCEL;
    if (IsKernelServiceRunning() && !StopKernelService())
        return DRVCNF_CANCEL;
    return RemoveKernelService() ? DRVCNF_OK : DRVCNF_CANCEL;
}
