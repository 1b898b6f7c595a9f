/*
 * The video device of the virtual board: the capture driver's protocol,
 * frame pacing and the journal. Which handle may use the device is decided
 * in arbiter.c.
 */
#include "sim.h"

const WCHAR VideoDeviceName[] = L"\\Device\\" BOARD_DEVICE_NAME;
static const WCHAR VideoLinkName[] = L"\\DosDevices\\" BOARD_DEVICE_NAME;

/* The DDK's x86 macro reads the shared user data, which Wine's driver host
 * refreshes only now and then; the export asks the clock itself. */
#undef KeQuerySystemTime
NTKERNELAPI VOID NTAPI KeQuerySystemTime(PLARGE_INTEGER time);

/* In 100 ns units: the pacing's clock. */
static LONGLONG BoardTime(void)
{
    LARGE_INTEGER time;
    KeQuerySystemTime(&time);
    return time.QuadPart;
}

/* Power-on state: full-frame RGB 24, neutral decoder, PAL, live pacing. */
void ResetVideo(void)
{
    static const FormatParams format = {28, FORMAT_RGB24, 640, 480, 0, 0, 0, 0, 0, 0};
    static const SourceParams source = {12, 0, 0, 64, 128, 64};
    Board.format = format;
    Board.source = source;
    SceneMakePalette(&Board.palette, &Board.source);
    RtlZeroMemory(&Board.faults, sizeof Board.faults);
    Board.frameNumber = Board.missedFrames = 0;
    Board.openings = 0;
    Board.journalTotal = 0;
    Board.epoch = BoardTime();
    SetVideoLink(1);
}

NTSTATUS SetVideoLink(int present)
{
    UNICODE_STRING device, link;
    NTSTATUS status = STATUS_SUCCESS;
    if (present == Board.linked)
        return status;
    RtlInitUnicodeString(&device, VideoDeviceName);
    RtlInitUnicodeString(&link, VideoLinkName);
    status = present ? IoCreateSymbolicLink(&link, &device) : IoDeleteSymbolicLink(&link);
    if (NT_SUCCESS(status))
        Board.linked = present;
    return status;
}

/* 29.97 frames/s where the first-named standard is NTSC, else 25. */
static int IsNtsc(uint32_t standard)
{
    return standard == 1 || standard == 3;
}

/* Start of frame slot n since the epoch, in 100 ns units. */
static LONGLONG SlotTime(uint32_t standard, uint32_t n)
{
    return IsNtsc(standard) ? (LONGLONG)n * 1001000 / 3 : (LONGLONG)n * 400000;
}

uint32_t FramePeriodUs(uint32_t standard)
{
    return IsNtsc(standard) ? 33367 : 40000;
}

/* Live pacing: the input runs whether or not anybody reads it. A read
 * gets the input frame in progress (or the next one, after the last
 * delivered) when its period ends, numbered by the periods since the video
 * restarted: the frames a slow reader missed are gone, and their numbers
 * with them. Where that frame lies more than a period ahead, as after a
 * change of standard (the periods since the epoch then count in the other
 * length), the count goes on from the last frame at the new rate: waiting
 * for it would hold the driver host's one request thread. The board is
 * locked. */
static uint32_t LiveFrame(LONGLONG *due)
{
    LONGLONG now = BoardTime(), period = SlotTime(Board.source.standard, 1);
    LONGLONG inProgress = (now - Board.epoch) / period;
    uint32_t frame = Board.frameNumber;
    if (inProgress > (LONGLONG)frame) {
        if (frame) /* the first read after a restart misses nothing */
            Board.missedFrames += (uint32_t)inProgress - frame;
        frame = (uint32_t)inProgress;
    }
    *due = Board.epoch + SlotTime(Board.source.standard, frame + 1);
    if (*due > now + period) {
        Board.epoch = now - SlotTime(Board.source.standard, frame);
        *due = now + period;
    }
    return frame;
}

/* The number of the frame a read delivers, and when it is due (0: at once). */
static uint32_t NextFrame(LONGLONG *due)
{
    uint32_t frame;
    *due = 0;
    LockBoard();
    frame = Board.faults.freeRunning ? Board.frameNumber : LiveFrame(due);
    Board.frameNumber = frame + 1;
    UnlockBoard();
    return frame;
}

static void WaitUntil(LONGLONG due)
{
    LONGLONG now = BoardTime();
    if (due > now) {
        LARGE_INTEGER delay;
        delay.QuadPart = now - due; /* negative: relative */
        KeDelayExecutionThread(KernelMode, FALSE, &delay);
    }
}

static uint32_t Opening(PFILE_OBJECT file)
{
    return (uint32_t)(ULONG_PTR)file->FsContext2;
}

/* One frame into the read's buffer. */
static NTSTATUS Read(PFILE_OBJECT file, PIRP irp, ULONG length)
{
    FormatParams format;
    ScenePalette palette;
    uint32_t frame, bytes = 0;
    NTSTATUS status = STATUS_SUCCESS;

    LockBoard();
    if (Board.faults.failReads) {
        Board.faults.failReads--;
        status = Board.faults.failStatus;
    }
    UnlockBoard();
    if (NT_SUCCESS(status)) {
        LONGLONG due;
        frame = NextFrame(&due);
        LockBoard();
        format = Board.format;
        palette = Board.palette;
        UnlockBoard();
        /* The picture is made while its period runs, as a board's capture
         * fills memory during the frame; the read ends with the period. */
        bytes = SceneRender(&format, &palette, frame, irp->AssociatedIrp.SystemBuffer, length);
        WaitUntil(due);
    }
    LockBoard();
    JournalRecord(JOURNAL_READ, Opening(file), 0, NULL, length, status, bytes);
    UnlockBoard();
    return CompleteIrp(irp, status, bytes);
}

/* Checks one request against the record it must carry; the board is locked. */
static NTSTATUS Request(ULONG code, const void *input, ULONG length)
{
    if (Board.faults.refuseCode && code == Board.faults.refuseCode)
        return STATUS_INVALID_DEVICE_REQUEST;
    switch (code) {
    case IOCTL_SET_FORMAT: {
        const FormatParams *format = input;
        if (length != sizeof *format || format->size != sizeof *format || !SceneFormatServable(format))
            return STATUS_INVALID_PARAMETER;
        Board.format = *format;
        return STATUS_SUCCESS;
    }
    case IOCTL_SET_SOURCE: {
        const SourceParams *source = input;
        if (length != sizeof *source || source->size != sizeof *source)
            return STATUS_INVALID_PARAMETER;
        Board.source = *source;
        SceneMakePalette(&Board.palette, source);
        return STATUS_SUCCESS;
    }
    case IOCTL_RESTART_VIDEO:
        if (length != 0)
            return STATUS_INVALID_PARAMETER;
        Board.frameNumber = Board.missedFrames = 0;
        Board.epoch = BoardTime();
        return STATUS_SUCCESS;
    default:
        return STATUS_INVALID_DEVICE_REQUEST;
    }
}

/* Serves a read or request of the holder, or refuses one of another handle
 * with a sharing violation, as an exclusive open would have refused it. */
NTSTATUS FinishUse(PIRP irp, int refused)
{
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    PFILE_OBJECT file = stack->FileObject;
    NTSTATUS status = STATUS_SHARING_VIOLATION;

    if (stack->MajorFunction == IRP_MJ_READ) {
        if (!refused)
            return Read(file, irp, stack->Parameters.Read.Length);
        LockBoard();
        JournalRecord(JOURNAL_READ, Opening(file), 0, NULL, stack->Parameters.Read.Length, status, 0);
    } else {
        ULONG code = stack->Parameters.DeviceIoControl.IoControlCode;
        ULONG length = stack->Parameters.DeviceIoControl.InputBufferLength;
        const void *input = irp->AssociatedIrp.SystemBuffer;
        LockBoard();
        if (!refused)
            status = Request(code, input, length);
        JournalRecord(JOURNAL_REQUEST, Opening(file), code, input, length, status, 0);
    }
    UnlockBoard();
    return CompleteIrp(irp, status, 0);
}

NTSTATUS VideoDispatch(PIO_STACK_LOCATION stack, PIRP irp)
{
    PFILE_OBJECT file = stack->FileObject;

    switch (stack->MajorFunction) {
    case IRP_MJ_CREATE:
        LockBoard();
        file->FsContext2 = (PVOID)(ULONG_PTR)++Board.openings;
        Board.openers++;
        JournalRecord(JOURNAL_OPEN, Opening(file), 0, NULL, 0, STATUS_SUCCESS, 0);
        UnlockBoard();
        ClaimDevice(file);
        break;
    case IRP_MJ_CLOSE:
        LockBoard();
        Board.openers--;
        JournalRecord(JOURNAL_CLOSE, Opening(file), 0, NULL, 0, STATUS_SUCCESS, 0);
        UnlockBoard();
        ReleaseDevice(file);
        break;
    case IRP_MJ_READ:
    case IRP_MJ_DEVICE_CONTROL:
        return ArbitrateUse(file, irp);
    default: /* IRP_MJ_CLEANUP */
        break;
    }
    return CompleteIrp(irp, STATUS_SUCCESS, 0);
}
