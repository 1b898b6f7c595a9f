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
 * timer's DPC did this before; under software emulation Wine did not run it.)
 */
#include "sim.h"

#define CONTEST_WAIT_MS 250
#define CONTEST_WAIT    ((LONGLONG)CONTEST_WAIT_MS * 10000)
#define REFEREE_TICK_MS 20

static LIST_ENTRY Waiting; /* pending IRPs of other handles, in arrival order */
static HANDLE Referee;
static volatile LONG RefereeStops, RefereeEnded;

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

/* The first IRP that has waited its time (any, when `all`), or NULL. The
 * board is locked. */
static PIRP TakeExpired(int all)
{
    LONGLONG now = BoardNow();
    for (PLIST_ENTRY e = Waiting.Flink; e != &Waiting; e = e->Flink) {
        PIRP irp = CONTAINING_RECORD(e, IRP, Tail.Overlay.ListEntry);
        if (all || *WaitStart(irp) + CONTEST_WAIT <= now) {
            RemoveEntryList(e);
            return irp;
        }
    }
    return NULL;
}

/* Refuses every use that has waited its time (every use when `all`). */
static void RefuseExpired(int all)
{
    PIRP irp;
    for (;;) {
        LockBoard();
        irp = TakeExpired(all);
        UnlockBoard();
        if (!irp)
            return;
        FinishUse(irp, 1);
    }
}

/* Looks at the waiting uses every REFEREE_TICK_MS: a use is refused between
 * CONTEST_WAIT_MS and that plus a tick after it began to wait. It sleeps
 * rather than waits for an event: woken by one, it left contested uses
 * pending in one of two runs under software emulation. */
static VOID NTAPI RefereeRun(PVOID context)
{
    LARGE_INTEGER tick;
    (void)context;
    tick.QuadPart = -(LONGLONG)REFEREE_TICK_MS * 10000;
    while (!RefereeStops) {
        if (!IsListEmpty(&Waiting)) /* a glance without the lock: the next tick sees more */
            RefuseExpired(0);
        KeDelayExecutionThread(KernelMode, FALSE, &tick);
    }
    RefereeEnded = 1;
    PsTerminateSystemThread(STATUS_SUCCESS);
}

void StartArbiter(void)
{
    InitializeListHead(&Waiting);
    RefereeStops = RefereeEnded = 0;
    PsCreateSystemThread(&Referee, THREAD_ALL_ACCESS, NULL, NULL, NULL, RefereeRun, NULL);
}

void StopArbiter(void)
{
    LARGE_INTEGER tick;
    tick.QuadPart = -(LONGLONG)REFEREE_TICK_MS * 10000;
    RefereeStops = 1;
    /* The unload waits for the referee to leave its loop, not for its thread
     * to end: under Wine a wait for the thread itself did not return, and the
     * service's stop timed out. */
    while (Referee && !RefereeEnded)
        KeDelayExecutionThread(KernelMode, FALSE, &tick);
    if (Referee) {
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
