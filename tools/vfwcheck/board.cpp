// Fault injection, only where the virtual board's control device opens: the
// device gone at an open, and frames the device fails to deliver while a
// stream runs. The board's faults are put back as they were.
#include "board.h"
#include "callbacks.h"
#include "check.h"
#include "host.h"

static const int Headers = 4, FailedReads = 2;
static const LONG StatusIoDeviceError = static_cast<LONG>(0xC0000185);

static bool Control(HANDLE board, DWORD code, void *input, DWORD inputSize, void *output, DWORD outputSize)
{
    DWORD returned;
    return DeviceIoControl(board, code, input, inputSize, output, outputSize, &returned, NULL) != FALSE;
}

static bool AllBack(const StreamClient &c) { return c.ownedCount == 0; }

static void CheckAbsentDevice(HANDLE board, const BoardFaults &saved)
{
    BoardFaults faults = saved;
    faults.absent = 1;
    Control(board, IOCTL_BOARD_SET_FAULTS, &faults, sizeof faults, NULL, 0);
    Step("DRV_OPEN of VIDEO_IN without its device");
    VIDEO_OPEN_PARMS parms;
    if (HDRVR channel = OpenChannel(VIDEO_IN, &parms)) {
        Pass("faults.absent", "VIDEO_IN opens while the device is gone (it is looked for later)");
        CloseInstance(channel);
    } else {
        // VIDEO_OPEN_PARMS.dwError: the "Error value supplied by the driver if the open operation fails".
        Expect(parms.dwError != Untouched && parms.dwError != DV_ERR_OK && IsDocumentedCode(parms.dwError),
               "faults.absent", "VIDEO_IN refused without its device: expected a DV_ERR_* code in dwError, got %s",
               parms.dwError == Untouched ? "dwError untouched" : CodeName(parms.dwError));
    }
    Control(board, IOCTL_BOARD_SET_FAULTS, const_cast<BoardFaults *>(&saved), sizeof saved, NULL, 0);
}

// "Video capture drivers must send MM_DRVM_OPEN, MM_DRVM_CLOSE, MM_DRVM_DATA,
// and MM_DRVM_ERROR messages to clients": a frame that cannot be read either
// comes back or is reported, by MM_DRVM_ERROR or DVM_STREAM_GETERROR.
static void CheckFailedReads(HANDLE board, const BoardFaults &saved)
{
    HDRVR channel = OpenCaptureChannel("faults.open");
    BITMAPINFOHEADER h;
    if (!channel || !GetFormat(channel, &h)) {
        if (channel)
            CloseInstance(channel);
        return;
    }
    static StreamClient c;
    DWORD size = h.biSizeImage ? h.biSizeImage : UncompressedSize(h);
    if (!StartClient(c, channel, CallbackFunction, Headers, size, 0) || InitStream(c) != DV_ERR_OK) {
        CloseInstance(channel);
        return;
    }
    c.keepsAllowed = true; // the headers of the failed reads may stay with the driver
    BoardFaults faults = saved;
    faults.freeRunning = 1;
    faults.failReads = FailedReads;
    faults.failStatus = StatusIoDeviceError;
    Control(board, IOCTL_BOARD_SET_FAULTS, &faults, sizeof faults, NULL, 0);
    Step("a stream whose first %d reads fail", FailedReads);
    for (int i = 0; i < c.headerCount; i++)
        AddHeader(c, c.headers[i]);
    EnterPhase(c, PhaseStart);
    Send(channel, DVM_STREAM_START);
    Pump(c, 2000, AllBack);
    DWORD error = DV_ERR_OK, dropped = 0;
    bool queried = Send(channel, DVM_STREAM_GETERROR, reinterpret_cast<LPARAM>(&error),
                        reinterpret_cast<LPARAM>(&dropped)) == DV_ERR_OK && (error != DV_ERR_OK || dropped);
    bool signalled = false;
    for (LONG i = 0; i < c.eventCount; i++)
        signalled = signalled || c.events[i].message == MM_DRVM_ERROR;
    // A header the device could not fill may stay with the driver until the
    // stream is reset or ended ("DVM_STREAM_RESET ... returns all buffers"),
    // so keeping it is allowed; saying nothing of it deserves a warning.
    if (c.ownedCount && !queried && !signalled)
        Warn("faults.lost-header", "%d frames the device failed to deliver: %d headers kept without MM_DRVM_ERROR "
             "or a DVM_STREAM_GETERROR code", FailedReads, c.ownedCount);
    else
        Pass("faults.lost-header", "every failed frame handed back or reported");
    EnterPhase(c, PhaseStop);
    Send(channel, DVM_STREAM_STOP);
    Send(channel, DVM_STREAM_RESET);
    EnterPhase(c, PhaseFini);
    Send(channel, DVM_STREAM_FINI);
    Pump(c, 300);
    Control(board, IOCTL_BOARD_SET_FAULTS, const_cast<BoardFaults *>(&saved), sizeof saved, NULL, 0);
    CloseInstance(channel);
}

void CheckBoardFaults()
{
    HANDLE board = CreateFileA("\\\\.\\" BOARD_CONTROL_NAME, GENERIC_READ | GENERIC_WRITE, 0, NULL, OPEN_EXISTING, 0, NULL);
    BoardStatus status;
    if (board == INVALID_HANDLE_VALUE || !Control(board, IOCTL_BOARD_GET_STATUS, NULL, 0, &status, sizeof status)) {
        Emit("@skip");
        if (board != INVALID_HANDLE_VALUE)
            CloseHandle(board);
        return;
    }
    if (LoadDriver("faults.load")) {
        CheckAbsentDevice(board, status.faults);
        CheckFailedReads(board, status.faults);
        UnloadDriver();
    }
    CloseHandle(board);
}
