/*
 * One handle at a time may use the video device. Wine lets every open
 * through, so the board arbitrates: the holder is the handle opened (or first
 * used) while no other held the device; another handle's reads and requests
 * are refused with a sharing violation.
 *
 * Wine delivers a closed handle's IRP_MJ_CLOSE late, at times after the next
 * handle's first request. So another handle's use waits, pending, for up to
 * CONTEST_WAIT_MS: if the holder's close arrives meanwhile the waiting use is
 * served, otherwise it is refused.
 */
#include "sim.h"

#define CONTEST_WAIT_MS 250

static LIST_ENTRY Waiting; /* pending IRPs of other handles, in arrival order */
static KTIMER ContestTimer;
static KDPC ContestDpc;

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

static PIRP TakeAny(void)
{
    if (IsListEmpty(&Waiting))
        return NULL;
    return CONTAINING_RECORD(RemoveHeadList(&Waiting), IRP, Tail.Overlay.ListEntry);
}

/* The wait is over: every use still waiting is refused. */
static void NTAPI ContestExpired(PKDPC dpc, PVOID context, PVOID arg1, PVOID arg2)
{
    PIRP irp;
    (void)dpc; (void)context; (void)arg1; (void)arg2;
    for (;;) {
        LockBoard();
        irp = TakeAny();
        UnlockBoard();
        if (!irp)
            break;
        FinishUse(irp, 1);
    }
}

void StartArbiter(void)
{
    InitializeListHead(&Waiting);
    KeInitializeTimer(&ContestTimer);
    KeInitializeDpc(&ContestDpc, ContestExpired, NULL);
}

void StopArbiter(void)
{
    KeCancelTimer(&ContestTimer);
    ContestExpired(NULL, NULL, NULL, NULL);
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
    if (IsListEmpty(&Waiting)) {
        LARGE_INTEGER due;
        due.QuadPart = -(LONGLONG)CONTEST_WAIT_MS * 10000;
        KeSetTimer(&ContestTimer, due, &ContestDpc);
    }
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
    if (IsListEmpty(&Waiting))
        KeCancelTimer(&ContestTimer);
    UnlockBoard();
}
