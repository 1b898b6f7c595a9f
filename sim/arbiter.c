/*
 * One handle at a time may use the video device. Wine lets every open
 * through, so the board arbitrates: the holder is the handle opened (or first
 * used) while no other held the device; another handle's reads and requests
 * are refused with a sharing violation.
 *
 * Wine delivers a closed handle's IRP_MJ_CLOSE late, at times after the next
 * handle's first request. So another handle's use waits, pending, for up to
 * CONTEST_WAIT_MS: if the holder's close arrives meanwhile the waiting use is
 * served, otherwise the referee, a thread of the board's, refuses it. (A
 * timer's DPC did this before; under software emulation Wine never ran it.)
 */
#include "sim.h"

#define CONTEST_WAIT_MS 250
#define CONTEST_WAIT    ((LONGLONG)CONTEST_WAIT_MS * 10000)

static LIST_ENTRY Waiting; /* pending IRPs of other handles, in arrival order */
static KEVENT RefereeWake; /* a use began to wait, or the board stops */
static KEVENT RefereeDone; /* the referee has left its loop */
static HANDLE Referee;
static volatile LONG RefereeStops;

/* When a waiting IRP began to wait: in its driver context, which is ours. */
static LONGLONG *WaitStart(PIRP irp)
{
    return (LONGLONG *)irp->Tail.Overlay.DriverContext;
}

/* Takes the first waiting IRP that `holder` (or, if none, any handle) may
 * use; NULL when there is none. The board is locked. */
static PIRP TakeServable(void)
{
    for (PLIST_ENTRY e = Waiting.Flink; e != &Waiting; e = e->Flink) {
        PIRP irp = CONTAINING_RECORD(e, IRP, Tail.Overlay.ListEntry);
        PFILE_OBJECT file = IoGetCurrentIrpStackLocation(irp)->FileObject;
        if (Board.owner && Board.owner != file)
            continue;
        Board.owner = file;
        RemoveEntryList(e);
        return irp;
    }
    return NULL;
}

/* The first IRP that has waited long enough (all of them when `all`); else
 * NULL, with *next the time until the oldest left is due (0: none waits).
 * The board is locked. */
static PIRP TakeExpired(int all, LONGLONG *next)
{
    LONGLONG now = BoardNow();
    *next = 0;
    for (PLIST_ENTRY e = Waiting.Flink; e != &Waiting; e = e->Flink) {
        PIRP irp = CONTAINING_RECORD(e, IRP, Tail.Overlay.ListEntry);
        LONGLONG due = *WaitStart(irp) + CONTEST_WAIT;
        if (all || due <= now) {
            RemoveEntryList(e);
            return irp;
        }
        if (!*next || due - now < *next)
            *next = due - now;
    }
    return NULL;
}

/* Refuses every use that has waited its time; the time until the next is due. */
static LONGLONG RefuseExpired(int all)
{
    LONGLONG next;
    PIRP irp;
    for (;;) {
        LockBoard();
        irp = TakeExpired(all, &next);
        UnlockBoard();
        if (!irp)
            return next;
        FinishUse(irp, 1);
    }
}

static VOID NTAPI RefereeRun(PVOID context)
{
    (void)context;
    while (!RefereeStops) {
        LONGLONG next;
        KeWaitForSingleObject(&RefereeWake, Executive, KernelMode, FALSE, NULL);
        while (!RefereeStops && (next = RefuseExpired(0)) != 0) {
            LARGE_INTEGER delay;
            delay.QuadPart = -next; /* negative: relative */
            KeDelayExecutionThread(KernelMode, FALSE, &delay);
        }
    }
    KeSetEvent(&RefereeDone, IO_NO_INCREMENT, FALSE);
    PsTerminateSystemThread(STATUS_SUCCESS);
}

void StartArbiter(void)
{
    InitializeListHead(&Waiting);
    KeInitializeEvent(&RefereeWake, SynchronizationEvent, FALSE);
    KeInitializeEvent(&RefereeDone, NotificationEvent, FALSE);
    RefereeStops = 0;
    PsCreateSystemThread(&Referee, THREAD_ALL_ACCESS, NULL, NULL, NULL, RefereeRun, NULL);
}

void StopArbiter(void)
{
    RefereeStops = 1;
    KeSetEvent(&RefereeWake, IO_NO_INCREMENT, FALSE);
    /* The unload waits for the referee to leave its loop, not for its thread
     * to end: under Wine a wait for the thread itself did not return, and the
     * service's stop timed out. */
    if (Referee) {
        KeWaitForSingleObject(&RefereeDone, Executive, KernelMode, FALSE, NULL);
        ZwClose(Referee);
        Referee = NULL;
    }
    RefuseExpired(1);
}

void ClaimDevice(PFILE_OBJECT file)
{
    LockBoard();
    if (!Board.owner)
        Board.owner = file;
    UnlockBoard();
}

NTSTATUS ArbitrateUse(PFILE_OBJECT file, PIRP irp)
{
    LockBoard();
    if (!Board.owner)
        Board.owner = file;
    if (Board.owner == file) {
        UnlockBoard();
        return FinishUse(irp, 0);
    }
    IoMarkIrpPending(irp);
    *WaitStart(irp) = BoardNow();
    InsertTailList(&Waiting, &irp->Tail.Overlay.ListEntry);
    UnlockBoard();
    KeSetEvent(&RefereeWake, IO_NO_INCREMENT, FALSE);
    return STATUS_PENDING;
}

void ReleaseDevice(PFILE_OBJECT file)
{
    PIRP irp;
    LockBoard();
    if (Board.owner == file)
        Board.owner = NULL;
    while ((irp = TakeServable()) != NULL) {
        UnlockBoard();
        FinishUse(irp, 0);
        LockBoard();
    }
    UnlockBoard();
}
