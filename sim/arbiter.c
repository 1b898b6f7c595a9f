/*
 * One handle at a time may use the video device. Wine lets every open
 * through, so the board arbitrates: the holder is the handle opened (or first
 * used) while no other held the device; another handle's reads and requests
 * are refused with a sharing violation.
 *
 * Wine delivers a closed handle's IRP_MJ_CLOSE late, at times after the next
 * handle's first request. So another handle's use waits, pending, for
 * CONTEST_WAIT_MS: if the holder's close arrives meanwhile the waiting use is
 * served, otherwise it is refused.
 *
 * A periodic timer, armed at start and cancelled at unload, refuses the uses
 * that waited their time. The request path never sets or cancels it: Wine's
 * KeCancelTimer waits for a running DPC, and the DPC takes the board lock.
 * The wait is counted in the timer's own ticks, not read from a clock: a
 * clock set back (or a slow machine's late ticks) cannot leave a use
 * waiting for good.
 */
#include "sim.h"

#define CONTEST_WAIT_MS 250
#define CONTEST_TICK_MS 25
#define CONTEST_WAIT_TICKS (CONTEST_WAIT_MS / CONTEST_TICK_MS)

static LIST_ENTRY Waiting; /* pending IRPs of other handles, in arrival order */
static KTIMER ContestTimer;
static KDPC ContestDpc;
static ULONG Ticks;        /* the timer's ticks since load; the board is locked */

/* The tick at which a waiting IRP arrived, kept in its driver context. */
static ULONG *Arrival(PIRP irp)
{
    return (ULONG *)irp->Tail.Overlay.DriverContext;
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

/* The first waiting IRP, if it has waited its time or `all` are to go;
 * NULL when none. The board is locked. */
static PIRP TakeExpired(int all)
{
    if (IsListEmpty(&Waiting))
        return NULL;
    PIRP irp = CONTAINING_RECORD(Waiting.Flink, IRP, Tail.Overlay.ListEntry);
    if (!all && Ticks - *Arrival(irp) < CONTEST_WAIT_TICKS)
        return NULL;
    RemoveEntryList(&irp->Tail.Overlay.ListEntry);
    return irp;
}

/* Refuses every use that waited its time, or every one. */
static void RefuseWaitedUses(int all)
{
    PIRP irp;
    for (;;) {
        LockBoard();
        irp = TakeExpired(all);
        UnlockBoard();
        if (!irp)
            break;
        FinishUse(irp, 1);
    }
}

static void NTAPI ContestTick(PKDPC dpc, PVOID context, PVOID arg1, PVOID arg2)
{
    (void)dpc; (void)context; (void)arg1; (void)arg2;
    LockBoard();
    Ticks++;
    UnlockBoard();
    RefuseWaitedUses(0);
}

void StartArbiter(void)
{
    LARGE_INTEGER due;
    InitializeListHead(&Waiting);
    Ticks = 0;
    KeInitializeTimer(&ContestTimer);
    KeInitializeDpc(&ContestDpc, ContestTick, NULL);
    due.QuadPart = -(LONGLONG)CONTEST_TICK_MS * 10000;
    KeSetTimerEx(&ContestTimer, due, CONTEST_TICK_MS, &ContestDpc);
}

/* At unload: the timer stops and whatever still waits is refused. */
void StopArbiter(void)
{
    KeCancelTimer(&ContestTimer);
    RefuseWaitedUses(1);
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
    *Arrival(irp) = Ticks;
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
