/*
 * The control device of the virtual board: faults, pacing, status and the
 * journal, for tests and the demo tools. Never used by the capture driver.
 */
#include "sim.h"

/* Copies journal entries from number `first` on (the oldest still held if
 * `first` is older) into the output; returns the bytes written. */
static ULONG ReadJournal(uint32_t first, JournalEntry *out, ULONG room)
{
    uint32_t oldest = Board.journalTotal > JOURNAL_SLOTS ? Board.journalTotal - JOURNAL_SLOTS : 0;
    ULONG count = 0;
    if (first < oldest)
        first = oldest;
    for (uint32_t n = first; n < Board.journalTotal && (count + 1) * sizeof *out <= room; n++)
        out[count++] = Board.journal[n % JOURNAL_SLOTS];
    return count * sizeof *out;
}

static NTSTATUS SetFaults(const BoardFaults *faults)
{
    NTSTATUS status = SetVideoLink(!faults->absent);
    if (NT_SUCCESS(status))
        Board.faults = *faults;
    return status;
}

NTSTATUS ControlDispatch(PIO_STACK_LOCATION stack, PIRP irp)
{
    void *buffer = irp->AssociatedIrp.SystemBuffer;
    ULONG in = stack->Parameters.DeviceIoControl.InputBufferLength;
    ULONG out = stack->Parameters.DeviceIoControl.OutputBufferLength;
    NTSTATUS status = STATUS_SUCCESS;
    ULONG_PTR information = 0;

    if (stack->MajorFunction != IRP_MJ_DEVICE_CONTROL)
        return CompleteIrp(irp, STATUS_SUCCESS, 0); /* create, cleanup, close */

    LockBoard();
    switch (stack->Parameters.DeviceIoControl.IoControlCode) {
    case IOCTL_BOARD_RESET:
        ResetVideo();
        break;
    case IOCTL_BOARD_SET_FAULTS:
        status = in == sizeof(BoardFaults) ? SetFaults(buffer) : STATUS_INVALID_PARAMETER;
        break;
    case IOCTL_BOARD_GET_STATUS:
        if (out < sizeof(BoardStatus)) {
            status = STATUS_BUFFER_TOO_SMALL;
        } else {
            BoardStatus *report = buffer;
            report->openers = Board.openers;
            report->frameNumber = Board.frameNumber;
            report->framePeriodUs = FramePeriodUs(Board.source.standard);
            report->missedFrames = Board.missedFrames;
            report->journalTotal = Board.journalTotal;
            report->faults = Board.faults;
            report->format = Board.format;
            report->source = Board.source;
            information = sizeof(BoardStatus);
        }
        break;
    case IOCTL_BOARD_READ_JOURNAL:
        if (in != sizeof(uint32_t))
            status = STATUS_INVALID_PARAMETER;
        else
            information = ReadJournal(*(const uint32_t *)buffer, buffer, out);
        break;
    default:
        status = STATUS_INVALID_DEVICE_REQUEST;
        break;
    }
    UnlockBoard();
    return CompleteIrp(irp, status, information);
}
