// Robustness: every record that comes with its size, at every size from
// nothing up to full and flush against a no-access page, then full at an odd
// address (CheckRecords, one row a child); unknown message numbers; messages
// to a closed instance and to identifiers never issued. A driver honours the
// size it is given: the capture layer checks that a record is accessible for
// the size it passes.
#include <cstring>
#include "check.h"
#include "host.h"

enum Carrier { InParam2, FormatGet, FormatSet };

struct SizedRecord {
    UINT message;
    const char *name;
    DWORD size;      // the full record; 0 for the format's own size
    Carrier carrier;
    bool streaming;  // sent between DVM_STREAM_INIT and DVM_STREAM_FINI
};

static const SizedRecord Sized[] = {
    {DVM_FORMAT, "DVM_FORMAT get", 0, FormatGet, false},
    {DVM_FORMAT, "DVM_FORMAT set", 0, FormatSet, false},
    {DVM_GET_CHANNEL_CAPS, "DVM_GET_CHANNEL_CAPS", sizeof(CHANNEL_CAPS), InParam2, false},
    {DVM_FRAME, "DVM_FRAME", sizeof(VIDEOHDR), InParam2, false},
    {DVM_STREAM_INIT, "DVM_STREAM_INIT", sizeof(VIDEO_STREAM_INIT_PARMS), InParam2, false},
    {DVM_STREAM_GETPOSITION, "DVM_STREAM_GETPOSITION", sizeof(MMTIME), InParam2, true},
    {DVM_STREAM_PREPAREHEADER, "DVM_STREAM_PREPAREHEADER", sizeof(VIDEOHDR), InParam2, true},
    {DVM_STREAM_ADDBUFFER, "DVM_STREAM_ADDBUFFER", sizeof(VIDEOHDR), InParam2, true},
    {DVM_STREAM_UNPREPAREHEADER, "DVM_STREAM_UNPREPAREHEADER", sizeof(VIDEOHDR), InParam2, true},
};

static const DWORD NeverIssued[] = {3, 6, 0x0B0B, 0x7FFF0001};

static void CALLBACK IgnoreCallback(HDRVR, UINT, DWORD_PTR, DWORD_PTR, DWORD_PTR) {}

// A full, valid record of the message's kind.
static void FillTemplate(UINT message, BYTE *record, HDRVR channel, const BYTE *format, DWORD formatSize,
                         BYTE *buffer, DWORD bufferSize)
{
    if (message == DVM_FORMAT) {
        std::memcpy(record, format, formatSize);
    } else if (message == DVM_STREAM_INIT) {
        VIDEO_STREAM_INIT_PARMS parms = {40000, reinterpret_cast<DWORD_PTR>(IgnoreCallback), 0, CALLBACK_FUNCTION,
                                         reinterpret_cast<DWORD_PTR>(channel)};
        std::memcpy(record, &parms, sizeof parms);
    } else if (message == DVM_STREAM_GETPOSITION) {
        MMTIME time = {};
        time.wType = TIME_MS;
        std::memcpy(record, &time, sizeof time);
    } else if (message != DVM_GET_CHANNEL_CAPS) {
        VIDEOHDR header = {};
        header.lpData = buffer;
        header.dwBufferLength = bufferSize;
        header.dwFlags = VHDR_PREPARED;
        std::memcpy(record, &header, sizeof header);
    }
}

static DWORD SendSized(HDRVR channel, const SizedRecord &row, void *record, DWORD size)
{
    if (row.carrier == InParam2)
        return Send(channel, row.message, reinterpret_cast<LPARAM>(record), size);
    DWORD returned = Untouched;
    VIDEOCONFIGPARMS parms = {&returned, record, size, NULL, 0};
    DWORD flags = row.carrier == FormatGet ? VIDEO_CONFIGURE_GET | VIDEO_CONFIGURE_CURRENT
                                           : VIDEO_CONFIGURE_SET | VIDEO_CONFIGURE_CURRENT;
    return Send(channel, DVM_FORMAT, flags, reinterpret_cast<LPARAM>(&parms));
}

// Sizes 0..full flush against the guard, then full one byte short of it (an
// odd address), whose answer must be the aligned one's. A record the driver
// keeps (an added header) is never freed.
static void SweepSizes(HDRVR channel, const SizedRecord &row, const BYTE *format, DWORD formatSize, BYTE *buffer,
                       DWORD bufferSize)
{
    DWORD full = row.size ? row.size : formatSize;
    BYTE model[1024] = {};
    FillTemplate(row.message, model, channel, format, formatSize, buffer, bufferSize);
    char what[96];
    wsprintfA(what, "record of %s", row.name);
    Step("%s at sizes 0..%lu", row.name, full);
    bool answersOk = true;
    DWORD fullAnswer = 0;
    for (DWORD size = 0; size <= full + 1; size++) {
        DWORD gap = size > full ? 1 : 0, length = size > full ? full : size;
        BYTE *record = static_cast<BYTE *>(GuardedRecord(length, "robust.overrun", what, gap));
        std::memcpy(record, model, length);
        DWORD result = SendSized(channel, row, record, length);
        if (!IsDocumentedCode(result) && answersOk) {
            Fail("robust.answer", "%s with a %lu-byte record: expected a documented code, got %s", row.name, length,
                 CodeName(result));
            answersOk = false;
        }
        if (size == full)
            fullAnswer = result;
        if (gap)
            Expect(result == fullAnswer, "robust.unaligned", "%s with its record at an odd address: expected %s as "
                   "aligned, got %s", row.name, CodeName(fullAnswer), CodeName(result));
        if (row.message == DVM_STREAM_INIT && result == DV_ERR_OK)
            Send(channel, DVM_STREAM_FINI);
        if (!(row.message == DVM_STREAM_ADDBUFFER && result == DV_ERR_OK))
            FreeRecord(record);
    }
    if (answersOk)
        Pass("robust.sizes", "%s: sizes 0..%lu answered with documented codes, nothing touched beyond", row.name, full);
}

// Messages with valid records to an identifier: each must be refused with a
// documented code. A header accepted anyway is left to the driver.
static void CheckStrangers(DWORD_PTR id, const char *rule, const char *what, BYTE *format, DWORD formatSize,
                           BYTE *buffer, DWORD bufferSize)
{
    static const UINT messages[] = {DVM_FORMAT, DVM_STREAM_INIT, DVM_STREAM_ADDBUFFER, DVM_FRAME};
    for (UINT message : messages) {
        BYTE *record = static_cast<BYTE *>(GuardedRecord(sizeof(VIDEOHDR) + formatSize, rule, "valid record"));
        FillTemplate(message, record, ConfigInstance, format, formatSize, buffer, bufferSize);
        DWORD returned = Untouched, result;
        if (message == DVM_FORMAT) {
            VIDEOCONFIGPARMS parms = {&returned, record, formatSize, NULL, 0};
            result = SendDirect(id, message, VIDEO_CONFIGURE_GET | VIDEO_CONFIGURE_CURRENT, reinterpret_cast<LPARAM>(&parms));
        } else {
            DWORD size = message == DVM_STREAM_INIT ? sizeof(VIDEO_STREAM_INIT_PARMS) : sizeof(VIDEOHDR);
            result = SendDirect(id, message, reinterpret_cast<LPARAM>(record), size);
        }
        Expect(result != DV_ERR_OK && IsDocumentedCode(result), rule, "message 0x%04X to %s: expected a documented "
               "error, got %s", message, what, CodeName(result));
        if (message != DVM_STREAM_ADDBUFFER || result != DV_ERR_OK)
            FreeRecord(record);
    }
}

const int SizedRecordCount = sizeof Sized / sizeof *Sized;

// The VIDEO_IN channel and its format, which sizes the records and buffers;
// NULL with a failure reported otherwise.
static HDRVR OpenSizedChannel(BITMAPINFOHEADER &header)
{
    if (!LoadDriver("robust.load"))
        return NULL;
    HDRVR channel = OpenCaptureChannel("robust.open");
    if (channel && !GetFormat(channel, &header)) {
        Fail("robust.open", "expected the VIDEO_IN format to size the records, got none");
        CloseInstance(channel);
        channel = NULL;
    }
    if (!channel)
        UnloadDriver();
    return channel;
}

static DWORD BufferSize(const BITMAPINFOHEADER &header)
{
    return header.biSizeImage ? header.biSizeImage : UncompressedSize(header);
}

// One row in a child of its own: an overrun ends the child, and the other
// rows are still checked.
void CheckRecords(int row)
{
    BITMAPINFOHEADER header;
    HDRVR channel = row >= 0 && row < SizedRecordCount ? OpenSizedChannel(header) : NULL;
    if (!channel)
        return;
    DWORD bufferSize = BufferSize(header);
    BYTE *buffer = static_cast<BYTE *>(GuardedRecord(bufferSize, "robust.overrun", "frame buffer"));
    VIDEO_STREAM_INIT_PARMS parms = {40000, reinterpret_cast<DWORD_PTR>(IgnoreCallback), 0, CALLBACK_FUNCTION,
                                     reinterpret_cast<DWORD_PTR>(channel)};
    if (Sized[row].streaming)
        Send(channel, DVM_STREAM_INIT, reinterpret_cast<LPARAM>(&parms), sizeof parms);
    SweepSizes(channel, Sized[row], reinterpret_cast<BYTE *>(&header), sizeof header, buffer, bufferSize);
    if (Sized[row].streaming) {
        Send(channel, DVM_STREAM_RESET);
        Send(channel, DVM_STREAM_FINI);
    }
    CloseInstance(channel);
    UnloadDriver();
}

void CheckRobustness()
{
    BITMAPINFOHEADER header;
    HDRVR channel = OpenSizedChannel(header);
    if (!channel)
        return;
    DWORD formatSize = sizeof header, bufferSize = BufferSize(header);
    BYTE *buffer = static_cast<BYTE *>(GuardedRecord(bufferSize, "robust.overrun", "frame buffer"));
    BYTE *format = reinterpret_cast<BYTE *>(&header);

    // Every message a driver does not know gets DV_ERR_NOTSUPPORTED, "the
    // message is not supported" (DVM_STREAM_START, DVM_GET_CHANNEL_CAPS).
    HDRVR others[4] = {};
    for (int i = 0; i < 4; i++) {
        VIDEO_OPEN_PARMS parms;
        HDRVR target = ChannelTypes[i].flag == VIDEO_IN ? channel : (others[i] = OpenChannel(ChannelTypes[i].flag, &parms));
        for (UINT message : UnknownMessages) {
            if (!target)
                break;
            Step("message 0x%04X to %s", message, ChannelTypes[i].name);
            DWORD result = Send(target, message, 0, 0);
            Expect(result == DV_ERR_NOTSUPPORTED, "robust.unknown-message", "message 0x%04X to %s: expected "
                   "DV_ERR_NOTSUPPORTED, got %s", message, ChannelTypes[i].name, CodeName(result));
        }
        if (others[i])
            CloseInstance(others[i]);
    }
    CloseInstance(channel);

    // The host never sends these, so they go to DriverProc directly.
    Step("messages to a closed VIDEO_IN instance");
    VIDEO_OPEN_PARMS parms;
    FillOpenParms(parms, VIDEO_IN);
    if (DWORD_PTR closed = SendDirect(0, DRV_OPEN, 0, reinterpret_cast<LPARAM>(&parms))) {
        SendDirect(closed, DRV_CLOSE);
        CheckStrangers(closed, "robust.closed-instance", "a closed VIDEO_IN instance", format, formatSize, buffer, bufferSize);
    }
    for (DWORD_PTR id : NeverIssued) {
        Step("messages to identifier 0x%lX", static_cast<DWORD>(id));
        char what[48];
        wsprintfA(what, "identifier 0x%lX, never issued", static_cast<DWORD>(id));
        CheckStrangers(id, "robust.never-issued", what, format, formatSize, buffer, bufferSize);
    }
    UnloadDriver();
}
