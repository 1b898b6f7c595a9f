/*
 * Kernel driver of the virtual Brightvane 7K42Q board: entry, unload and
 * the routing of requests to the video and the control device.
 */
#include "sim.h"

BoardState Board;

static const WCHAR ControlDeviceName[] = L"\\Device\\" BOARD_CONTROL_NAME;
static const WCHAR ControlLinkName[] = L"\\DosDevices\\" BOARD_CONTROL_NAME;

/* A fast mutex, not a KMUTEX: the contest timer's DPC takes the lock on a
 * pool thread, and Wine's KMUTEX never hands itself to a second thread that
 * waits for it. */
void LockBoard(void)
{
    KeEnterCriticalRegion();
    ExAcquireFastMutexUnsafe(&Board.lock);
}

void UnlockBoard(void)
{
    ExReleaseFastMutexUnsafe(&Board.lock);
    KeLeaveCriticalRegion();
}

NTSTATUS CompleteIrp(PIRP irp, NTSTATUS status, ULONG_PTR information)
{
    irp->IoStatus.Status = status;
    irp->IoStatus.Information = information;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return status;
}

static NTSTATUS NTAPI Dispatch(PDEVICE_OBJECT device, PIRP irp)
{
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    if (device == Board.video)
        return VideoDispatch(stack, irp);
    return ControlDispatch(stack, irp);
}

static void NTAPI Unload(PDRIVER_OBJECT driver)
{
    UNICODE_STRING link;
    (void)driver;
    StopArbiter();
    SetVideoLink(0);
    RtlInitUnicodeString(&link, ControlLinkName);
    IoDeleteSymbolicLink(&link);
    if (Board.control) IoDeleteDevice(Board.control);
    if (Board.video) IoDeleteDevice(Board.video);
    if (Board.journal) ExFreePool(Board.journal);
    RtlZeroMemory(&Board, sizeof Board);
}

static NTSTATUS CreateDevice(PDRIVER_OBJECT driver, const WCHAR *name, ULONG type,
                             PDEVICE_OBJECT *device)
{
    UNICODE_STRING text;
    RtlInitUnicodeString(&text, name);
    NTSTATUS status = IoCreateDevice(driver, 0, &text, type, 0, FALSE, device);
    if (NT_SUCCESS(status))
        (*device)->Flags |= DO_BUFFERED_IO;
    return status;
}

NTSTATUS NTAPI DriverEntry(PDRIVER_OBJECT driver, PUNICODE_STRING registryPath)
{
    UNICODE_STRING device, link;
    NTSTATUS status;
    (void)registryPath;

    RtlZeroMemory(&Board, sizeof Board);
    ExInitializeFastMutex(&Board.lock);
    Board.journal = ExAllocatePoolWithTag(NonPagedPool, JOURNAL_SLOTS * sizeof(JournalEntry), 0x64726142 /* "Brad" */);
    if (!Board.journal)
        return STATUS_INSUFFICIENT_RESOURCES;
    StartArbiter();
    driver->DriverUnload = Unload;
    driver->MajorFunction[IRP_MJ_CREATE] = Dispatch;
    driver->MajorFunction[IRP_MJ_CLEANUP] = Dispatch;
    driver->MajorFunction[IRP_MJ_CLOSE] = Dispatch;
    driver->MajorFunction[IRP_MJ_READ] = Dispatch;
    driver->MajorFunction[IRP_MJ_DEVICE_CONTROL] = Dispatch;

    status = CreateDevice(driver, VideoDeviceName, FILE_DEVICE_SOUND, &Board.video);
    if (NT_SUCCESS(status))
        status = CreateDevice(driver, ControlDeviceName, FILE_DEVICE_UNKNOWN, &Board.control);
    if (NT_SUCCESS(status)) {
        ResetVideo();
        status = Board.linked ? STATUS_SUCCESS : STATUS_OBJECT_NAME_COLLISION;
    }
    if (NT_SUCCESS(status)) {
        RtlInitUnicodeString(&device, ControlDeviceName);
        RtlInitUnicodeString(&link, ControlLinkName);
        status = IoCreateSymbolicLink(&link, &device);
    }
    if (!NT_SUCCESS(status))
        Unload(driver);
    return status;
}
