// The kernel service installer against Wine's service control manager, with
// the virtual board as the kernel image.
#include "capture_rig.h"
#include "ui_script.h"

namespace {

const char ImagePath[] = "\\SystemRoot\\SYSTEM32\\DRIVERS\\zentacap.SYS";

struct ServiceState {
    bool exists;
    DWORD type, startType, state;
    std::string image, group, dependencies;
};

ServiceState QueryBoardService()
{
    ServiceState s = {};
    SC_HANDLE manager = OpenSCManagerA(NULL, NULL, SC_MANAGER_CONNECT);
    SC_HANDLE service = OpenServiceA(manager, "zentacap", SERVICE_QUERY_CONFIG | SERVICE_QUERY_STATUS);
    if (service) {
        std::vector<BYTE> buffer(8192);
        QUERY_SERVICE_CONFIGA *config = reinterpret_cast<QUERY_SERVICE_CONFIGA *>(buffer.data());
        DWORD needed;
        SERVICE_STATUS status;
        if (QueryServiceConfigA(service, config, (DWORD)buffer.size(), &needed) && QueryServiceStatus(service, &status)) {
            s = {true, config->dwServiceType, config->dwStartType, status.dwCurrentState,
                 config->lpBinaryPathName ? config->lpBinaryPathName : "",
                 config->lpLoadOrderGroup ? config->lpLoadOrderGroup : "",
                 config->lpDependencies ? config->lpDependencies : ""};
        }
        CloseServiceHandle(service);
    }
    CloseServiceHandle(manager);
    return s;
}

// Deletes whatever service "zentacap" there is and waits until it is gone.
void DeleteBoardService()
{
    StopBoard();
    SC_HANDLE manager = OpenSCManagerA(NULL, NULL, SC_MANAGER_ALL_ACCESS);
    if (SC_HANDLE service = OpenServiceA(manager, "zentacap", SERVICE_ALL_ACCESS)) {
        DeleteService(service);
        CloseServiceHandle(service);
    }
    Eventually([] { return !QueryBoardService().exists; });
    CloseServiceHandle(manager);
}

void SetBoardImage(const char *image)
{
    SC_HANDLE manager = OpenSCManagerA(NULL, NULL, SC_MANAGER_ALL_ACCESS);
    SC_HANDLE service = OpenServiceA(manager, "zentacap", SERVICE_ALL_ACCESS);
    ASSERT_TRUE(ChangeServiceConfigA(service, SERVICE_NO_CHANGE, SERVICE_NO_CHANGE, SERVICE_NO_CHANGE, image,
                                     NULL, NULL, NULL, NULL, NULL, NULL));
    CloseServiceHandle(service);
    CloseServiceHandle(manager);
}

bool ParametersKeyExists()
{
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Services\\zentacap\\Parameters", 0,
                      KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
        return false;
    RegCloseKey(key);
    return true;
}

// Calls of the driver's service-manager functions, passed on to the real ones.
struct Calls { int openManager, control, start; bool refuseManager, failStart; } Seen;
void *RealOpenManager, *RealControl, *RealStart;

SC_HANDLE WINAPI CountOpenManager(LPCSTR machine, LPCSTR database, DWORD access)
{
    Seen.openManager++;
    if (Seen.refuseManager) {
        SetLastError(ERROR_ACCESS_DENIED);
        return NULL;
    }
    return reinterpret_cast<decltype(&OpenSCManagerA)>(RealOpenManager)(machine, database, access);
}

BOOL WINAPI CountControl(SC_HANDLE service, DWORD control, LPSERVICE_STATUS status)
{
    Seen.control++;
    return reinterpret_cast<decltype(&ControlService)>(RealControl)(service, control, status);
}

BOOL WINAPI CountStart(SC_HANDLE service, DWORD count, LPCSTR *arguments)
{
    Seen.start++;
    if (Seen.failStart) {
        SetLastError(ERROR_SERVICE_DISABLED);
        return FALSE;
    }
    return reinterpret_cast<decltype(&StartServiceA)>(RealStart)(service, count, arguments);
}

class Installer : public CaptureDriverTest {
protected:
    void SetUp() override
    {
        CaptureDriverTest::SetUp();
        Seen = {};
        openManager.reset(new ImportPatch(module, "advapi32.dll", "OpenSCManagerA", (void *)CountOpenManager));
        control.reset(new ImportPatch(module, "advapi32.dll", "ControlService", (void *)CountControl));
        start.reset(new ImportPatch(module, "advapi32.dll", "StartServiceA", (void *)CountStart));
        RealOpenManager = openManager->original;
        RealControl = control->original;
        RealStart = start->original;
        ASSERT_TRUE(RealOpenManager && RealControl && RealStart);
    }
    void TearDown() override
    {
        openManager.reset();
        control.reset();
        start.reset();
        if (!QueryBoardService().exists || QueryBoardService().type != SERVICE_KERNEL_DRIVER ||
            QueryBoardService().image != ImagePath)
            DeleteBoardService();
        EXPECT_EQ(RegisterBoard(), (DWORD)ERROR_SUCCESS);
        EXPECT_EQ(StartBoard(), (DWORD)ERROR_SUCCESS);
        CaptureDriverTest::TearDown();
    }
    // DRV_CONFIGURE answers 1 without a dialog only after a failed
    // installation; a dialog it shows instead is closed again.
    bool LastInstallFailed()
    {
        bool shown = false;
        LRESULT result = 0;
        RunModal([&] { result = Send(0, DRV_CONFIGURE, 0, 0); }, {[&] {
                     shown = true;
                     for (const char *caption : {"Brightvane 7K42Q VideoIn About", "Brightvane 7K42Q VideoIn Settings"})
                         if (HWND dialog = FindDialog(caption))
                             SendClick(dialog, IDOK);
                     return false;
                 }}, 3000);
        return result == 1 && !shown;
    }

    std::unique_ptr<ImportPatch> openManager, control, start;
};

TEST_F(Installer, AnAbsentServiceIsCreatedStartedAndSetToSystemStart)
{
    DeleteBoardService();
    ASSERT_FALSE(QueryBoardService().exists);
    EXPECT_EQ(Send(0, DRV_INSTALL), DRVCNF_OK);
    ServiceState s = QueryBoardService();
    ASSERT_TRUE(s.exists);
    EXPECT_EQ(s.type, (DWORD)SERVICE_KERNEL_DRIVER);
    EXPECT_EQ(s.startType, (DWORD)SERVICE_SYSTEM_START);
    EXPECT_EQ(s.image, ImagePath);
    EXPECT_EQ(s.group, "Base");
    EXPECT_EQ(s.dependencies, "");
    EXPECT_EQ(s.state, (DWORD)SERVICE_RUNNING);
    EXPECT_TRUE(BoardRunning());
    EXPECT_EQ(Seen.control, 0) << "nothing ran that needed a stop";
}

TEST_F(Installer, ARunningServiceIsStoppedAndStartedAgain)
{
    BoardFaults faults = {0, 1, 0, 0, 0x1234};
    ASSERT_TRUE(SetBoardFaults(faults));
    EXPECT_EQ(Send(0, DRV_INSTALL), DRVCNF_OK);
    EXPECT_EQ(Seen.control, 1);
    EXPECT_EQ(Seen.start, 1);
    ServiceState s = QueryBoardService();
    EXPECT_EQ(s.state, (DWORD)SERVICE_RUNNING);
    EXPECT_EQ(s.startType, (DWORD)SERVICE_SYSTEM_START);
    BoardStatus status;
    ASSERT_TRUE(GetBoardStatus(&status));
    EXPECT_EQ(status.faults.refuseCode, 0u) << "the board was loaded afresh";
    EXPECT_FALSE(LastInstallFailed());
}

TEST_F(Installer, AKernelDriverThatCannotStartStaysRegisteredWithDemandStart)
{
    SetBoardImage("\\SystemRoot\\SYSTEM32\\DRIVERS\\nosuchdriver.SYS");
    EXPECT_EQ(Send(0, DRV_INSTALL), DRVCNF_CANCEL);
    ServiceState s = QueryBoardService();
    EXPECT_TRUE(s.exists);
    EXPECT_EQ(s.startType, (DWORD)SERVICE_DEMAND_START);
    EXPECT_NE(s.state, (DWORD)SERVICE_RUNNING);
    EXPECT_TRUE(LastInstallFailed());
}

TEST_F(Installer, AStartThatFailsFailsTheInstallation)
{
    Seen.failStart = true;
    EXPECT_EQ(Send(0, DRV_INSTALL), DRVCNF_CANCEL);
    EXPECT_EQ(QueryBoardService().startType, (DWORD)SERVICE_DEMAND_START);
    EXPECT_TRUE(LastInstallFailed());
}

TEST_F(Installer, AManagerThatCannotBeOpenedFailsBothMessages)
{
    Seen.refuseManager = true;
    EXPECT_EQ(Send(0, DRV_INSTALL), DRVCNF_CANCEL);
    EXPECT_TRUE(LastInstallFailed());
    EXPECT_EQ(Send(0, DRV_REMOVE), DRVCNF_CANCEL);
    EXPECT_TRUE(QueryBoardService().exists);
}

TEST_F(Installer, ASecondInstallationReusesTheOpenManager)
{
    EXPECT_EQ(Send(0, DRV_INSTALL), DRVCNF_OK);
    EXPECT_EQ(Send(0, DRV_INSTALL), DRVCNF_OK);
    EXPECT_EQ(Seen.openManager, 1);
}

TEST_F(Installer, AServiceOfAnotherTypeFailsBothMessagesAndDropsTheManager)
{
    DeleteBoardService();
    SC_HANDLE manager = OpenSCManagerA(NULL, NULL, SC_MANAGER_ALL_ACCESS);
    SC_HANDLE other = CreateServiceA(manager, "zentacap", NULL, SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS,
                                     SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL, "C:\\windows\\system32\\cmd.exe",
                                     NULL, NULL, NULL, NULL, NULL);
    ASSERT_NE(other, nullptr);
    CloseServiceHandle(other);
    CloseServiceHandle(manager);
    EXPECT_EQ(Send(0, DRV_INSTALL), DRVCNF_CANCEL);
    EXPECT_EQ(Send(0, DRV_REMOVE), DRVCNF_CANCEL);
    EXPECT_EQ(Seen.openManager, 2) << "dropped after each, opened again";
    EXPECT_EQ(QueryBoardService().type, (DWORD)SERVICE_WIN32_OWN_PROCESS);
}

TEST_F(Installer, RemovingARunningServiceStopsItAndDeletesItWithItsParameters)
{
    ASSERT_TRUE(ParametersKeyExists());
    EXPECT_EQ(Send(0, DRV_REMOVE), DRVCNF_OK);
    EXPECT_EQ(Seen.control, 1);
    EXPECT_FALSE(ParametersKeyExists());
    EXPECT_TRUE(Eventually([] { return !QueryBoardService().exists; })) << "hang: the deleted service stays";
    EXPECT_EQ(Send(0, DRV_REMOVE), DRVCNF_CANCEL) << "nothing left to remove";
    EXPECT_EQ(Seen.openManager, 2) << "the manager was dropped after the deletion";
}

TEST_F(Installer, RemovingAStoppedServiceSendsNoStop)
{
    ASSERT_EQ(StopBoard(), (DWORD)ERROR_SUCCESS);
    EXPECT_EQ(Send(0, DRV_REMOVE), DRVCNF_OK);
    EXPECT_EQ(Seen.control, 0);
    EXPECT_FALSE(ParametersKeyExists());
    EXPECT_FALSE(QueryBoardService().exists);
}

TEST_F(Installer, RemovingWithoutAServiceChangesNothing)
{
    DeleteBoardService();
    EXPECT_EQ(Send(0, DRV_REMOVE), DRVCNF_CANCEL);
    EXPECT_FALSE(QueryBoardService().exists);
}

// Wine grants the lock to every caller, so the held lock is the interception's.
int LockRefusals, LockTries;
void *RealLock;

SC_LOCK WINAPI RefuseLock(SC_HANDLE manager)
{
    LockTries++;
    if (LockRefusals != 0) {
        LockRefusals--;
        SetLastError(ERROR_SERVICE_DATABASE_LOCKED);
        return NULL;
    }
    return reinterpret_cast<decltype(&LockServiceDatabase)>(RealLock)(manager);
}

TEST_F(Installer, AWaitForTheDatabaseLockGivesUpAfterFiveSecondsAndFailsTheCreation)
{
    DeleteBoardService();
    ImportPatch lock(module, "advapi32.dll", "LockServiceDatabase", (void *)RefuseLock);
    RealLock = lock.original;
    LockRefusals = -1; // held for good
    LockTries = 0;
    DWORD start = GetTickCount();
    EXPECT_EQ(Send(0, DRV_INSTALL), DRVCNF_CANCEL);
    EXPECT_GE(GetTickCount() - start, 4900u);
    EXPECT_EQ(LockTries, 51) << "the first try and one every 100 ms for five seconds";
    EXPECT_FALSE(QueryBoardService().exists);

    LockRefusals = 10; // released after a second
    LockTries = 0;
    start = GetTickCount();
    EXPECT_EQ(Send(0, DRV_INSTALL), DRVCNF_OK);
    EXPECT_GE(GetTickCount() - start, 900u);
    EXPECT_EQ(LockTries, 11);
    EXPECT_TRUE(QueryBoardService().exists);
}

}
