// Format: DVM_FORMAT on the VIDEO_IN channel: the size query, a get and gets
// into records too small, a set read back and streamed in, refused sets that
// change nothing, biSizeImage against width, height and depth, and with
// --formats all every size step and colour space the driver accepts.
#include <cstdio>
#include <cstring>
#include <vector>
#include "callbacks.h"
#include "check.h"
#include "host.h"

static const int FormatHeaders = 4;   // one frame into each, no header added again
static const int SweepSides = 8;      // sizes a side in a sweep, at most
static const DWORD Quiet = 1000;      // ms for MM_DRVM_CLOSE after DVM_STREAM_FINI

struct ColourSpace {
    DWORD compression;
    WORD bits;
    const char *name;
};

static const ColourSpace ColourSpaces[] = {
    {BI_RGB, 8, "RGB 8"}, {BI_RGB, 16, "RGB 16"}, {BI_RGB, 24, "RGB 24"}, {BI_RGB, 32, "RGB 32"},
    {mmioFOURCC('Y', 'U', 'Y', '2'), 16, "YUY2"}, {mmioFOURCC('U', 'Y', 'V', 'Y'), 16, "UYVY"},
    {mmioFOURCC('Y', 'V', '1', '2'), 12, "YV12"}, {mmioFOURCC('I', '4', '2', '0'), 12, "I420"}};

static DWORD ConfigureFormat(HDRVR channel, DWORD flags, void *data, DWORD size, DWORD *returned = NULL)
{
    DWORD spare = Untouched;
    VIDEOCONFIGPARMS parms = {returned ? returned : &spare, data, size, NULL, 0};
    return Send(channel, DVM_FORMAT, flags, reinterpret_cast<LPARAM>(&parms));
}

DWORD UncompressedSize(const BITMAPINFOHEADER &h)
{
    if (h.biCompression != BI_RGB && h.biCompression != BI_BITFIELDS)
        return 0;
    DWORD height = h.biHeight < 0 ? -h.biHeight : h.biHeight;
    return (static_cast<DWORD>(h.biWidth) * h.biBitCount + 31) / 32 * 4 * height;
}

// The size VIDEO_CONFIGURE_QUERYSIZE gives, or 0.
static DWORD FormatSize(HDRVR channel)
{
    DWORD size = Untouched;
    DWORD result = ConfigureFormat(channel, VIDEO_CONFIGURE_GET | VIDEO_CONFIGURE_QUERYSIZE, NULL, 0, &size);
    return result == DV_ERR_OK && size >= sizeof(BITMAPINFOHEADER) && size <= 0x10000 ? size : 0;
}

DWORD GetFormatRecord(HDRVR channel, std::vector<BYTE> &record)
{
    DWORD size = FormatSize(channel);
    record.assign(size ? size : sizeof(BITMAPINFOHEADER), 0);
    return ConfigureFormat(channel, VIDEO_CONFIGURE_GET | VIDEO_CONFIGURE_CURRENT, record.data(),
                           static_cast<DWORD>(record.size()));
}

bool GetFormat(HDRVR channel, BITMAPINFOHEADER *header)
{
    std::vector<BYTE> record;
    if (GetFormatRecord(channel, record) != DV_ERR_OK)
        return false;
    std::memcpy(header, record.data(), sizeof *header);
    return true;
}

DWORD SetFormatRecord(HDRVR channel, const std::vector<BYTE> &record)
{
    DWORD size = static_cast<DWORD>(record.size());
    void *copy = GuardedRecord(size, "format.set", "format record (DVM_FORMAT set)");
    std::memcpy(copy, record.data(), size);
    DWORD result = ConfigureFormat(channel, VIDEO_CONFIGURE_SET | VIDEO_CONFIGURE_CURRENT, copy, size);
    FreeRecord(copy);
    return result;
}

// A set of `record` with its header replaced by `header`.
static DWORD SetFormat(HDRVR channel, std::vector<BYTE> record, const BITMAPINFOHEADER &header)
{
    std::memcpy(record.data(), &header, sizeof header);
    return SetFormatRecord(channel, record);
}

// BITMAPINFOHEADER.biSizeImage "may be set to zero for BI_RGB bitmaps", but
// capture clients size their buffers by it: zero is a warning, a wrong size
// a failure.
static void CheckSizeImage(const BITMAPINFOHEADER &h, const char *when)
{
    DWORD expected = UncompressedSize(h);
    if (!expected)
        Expect(h.biSizeImage > 0, "format.size-image", "%s: compressed format 0x%08lX: expected a biSizeImage, got %lu",
               when, h.biCompression, h.biSizeImage);
    else if (!h.biSizeImage)
        Warn("format.size-image", "%s: biSizeImage 0 (legal for BI_RGB, but clients size buffers by it; %lu expected)",
             when, expected);
    else
        Expect(h.biSizeImage == expected, "format.size-image", "%s: %ld x %ld at %u bits: expected biSizeImage %lu, got %lu",
               when, h.biWidth, h.biHeight, h.biBitCount, expected, h.biSizeImage);
}

void DescribeFormat(const BITMAPINFOHEADER &h, char *text, size_t size)
{
    std::snprintf(text, size, "%ld x %ld, %u bits, compression 0x%08lX, biSizeImage %lu", h.biWidth, h.biHeight,
                  h.biBitCount, h.biCompression, h.biSizeImage);
}

static bool AllBack(const StreamClient &c) { return c.ownedCount == 0; }
static bool Closed(const StreamClient &c) { return c.closeSeen; }

// A stream in the format just set, as the capture layer runs one, a frame
// into each header: "dwBytesUsed equals biSizeImage for uncompressed
// formats" (the size width, height and depth give where biSizeImage is 0);
// any other format fills at most biSizeImage.
static void StreamInFormat(HDRVR channel, const BITMAPINFOHEADER &h, const char *what)
{
    static const char Rule[] = "format.stream";
    DWORD exact = UncompressedSize(h) ? (h.biSizeImage ? h.biSizeImage : UncompressedSize(h)) : 0;
    DWORD size = h.biSizeImage ? h.biSizeImage : exact;
    if (!size)
        return; // a compressed format without a size: format.size-image fails it
    Step("a stream in %s", what);
    StreamClient *c = new StreamClient; // kept unless it ends cleanly, as the driver may still call it
    if (!StartClient(*c, channel, CallbackFunction, FormatHeaders, size, 0)) {
        Fail(Rule, "%s: expected room for %d buffers of %lu bytes, got none", what, FormatHeaders, size);
        return;
    }
    DWORD result = InitStream(*c);
    if (result != DV_ERR_OK) {
        Fail(Rule, "%s: expected a stream in the format it accepted, got DVM_STREAM_INIT %s", what, CodeName(result));
        return;
    }
    // The answers are the stream group's to judge.
    for (int i = 0; i < c->headerCount; i++)
        Send(channel, DVM_STREAM_PREPAREHEADER, reinterpret_cast<LPARAM>(c->headers[i]), sizeof(VIDEOHDR));
    for (int i = 0; i < c->headerCount; i++)
        AddHeader(*c, c->headers[i]);
    EnterPhase(*c, PhaseStart);
    Send(channel, DVM_STREAM_START);
    Pump(*c, FrameWait(FormatHeaders), AllBack);
    EnterPhase(*c, PhaseStop);
    Send(channel, DVM_STREAM_STOP);
    EnterPhase(*c, PhaseReset);
    Send(channel, DVM_STREAM_RESET);
    for (int i = 0; i < c->headerCount; i++)
        Send(channel, DVM_STREAM_UNPREPAREHEADER, reinterpret_cast<LPARAM>(c->headers[i]), sizeof(VIDEOHDR));
    EnterPhase(*c, PhaseFini);
    Send(channel, DVM_STREAM_FINI);
    Pump(*c, Quiet, Closed);
    LONG frames = 0, wrong = 0;
    DWORD wrongBytes = 0;
    EnterCriticalSection(&c->lock);
    for (LONG i = 0; i < c->eventCount; i++) {
        const StreamEvent &e = c->events[i];
        if (e.message != MM_DRVM_DATA || e.phase != PhaseStart)
            continue;
        frames++;
        if (exact ? e.bytes != exact : !e.bytes || e.bytes > size) {
            wrong++;
            wrongBytes = e.bytes;
        }
    }
    LeaveCriticalSection(&c->lock);
    char got[96];
    std::snprintf(got, sizeof got, wrong ? "%ld frames, %ld of them with dwBytesUsed %lu" : "%ld frames", frames,
                  wrong, wrongBytes);
    Expect(frames && !wrong, Rule, "%s: expected frames of %s%lu bytes, got %s", what, exact ? "" : "1 to ",
           exact ? exact : size, frames ? got : "none");
    if (EndClient(*c))
        delete c;
}

// A set, then a get: an accepted set reads back as set and streams in what
// it reads back; a refused one leaves the format as it was. True when accepted.
static bool SetAndReadBack(HDRVR channel, const std::vector<BYTE> &record, const BITMAPINFOHEADER &want,
                           const char *what, bool mustRefuse)
{
    Step("DVM_FORMAT set: %s", what);
    BITMAPINFOHEADER before, after;
    GetFormat(channel, &before);
    DWORD result = SetFormat(channel, record, want);
    bool read = GetFormat(channel, &after);
    char got[160], had[160];
    DescribeFormat(after, got, sizeof got);
    DescribeFormat(before, had, sizeof had);
    if (mustRefuse)
        Expect(result != DV_ERR_OK, "format.bad-set", "set of %s: expected a refusal, got DV_ERR_OK", what);
    if (result == DV_ERR_OK) {
        bool same = read && after.biWidth == want.biWidth && after.biHeight == want.biHeight &&
                    after.biBitCount == want.biBitCount && after.biCompression == want.biCompression;
        Expect(same, "format.set-get", "set of %s: expected the get to give it back, got %s", what, got);
        CheckSizeImage(after, what);
        if (read)
            StreamInFormat(channel, after, what);
    } else {
        Expect(read && !std::memcmp(&before, &after, sizeof before), "format.refused-set",
               "set of %s refused with %s: expected the format unchanged (%s), got %s", what, CodeName(result), had, got);
    }
    return result == DV_ERR_OK;
}

// The multiples of a step, thinned to at most SweepSides, up to `largest`.
static std::vector<LONG> SizeSteps(DWORD granularity, DWORD largest)
{
    DWORD step = granularity * ((largest / granularity + SweepSides - 1) / SweepSides);
    std::vector<LONG> sizes;
    for (DWORD size = step ? step : granularity; size <= largest; size += step ? step : granularity)
        sizes.push_back(static_cast<LONG>(size));
    if (sizes.empty())
        sizes.push_back(static_cast<LONG>(largest));
    return sizes;
}

// --formats all: every colour space of the table at every size the
// destination granularity allows (DVM_GET_CHANNEL_CAPS, 1 where declined),
// thinned to at most SweepSides a side, up to the largest destination
// (DVM_DST_RECT with VIDEO_CONFIGURE_MAX, else the current size). Each set
// is checked as the others are: read back and streamed where accepted.
static void SweepFormats(HDRVR channel, const std::vector<BYTE> &original, const BITMAPINFOHEADER &current)
{
    CHANNEL_CAPS caps = {};
    bool granular = Send(channel, DVM_GET_CHANNEL_CAPS, reinterpret_cast<LPARAM>(&caps), sizeof caps) == DV_ERR_OK &&
                    caps.dwDstRectWidthMod && caps.dwDstRectHeightMod;
    RECT largest = {0, 0, 0, 0};
    if (Send(channel, DVM_DST_RECT, reinterpret_cast<LPARAM>(&largest), VIDEO_CONFIGURE_GET | VIDEO_CONFIGURE_MAX) !=
            DV_ERR_OK || largest.right <= largest.left || largest.bottom <= largest.top)
        largest = RECT{0, 0, current.biWidth, current.biHeight < 0 ? -current.biHeight : current.biHeight};
    std::vector<LONG> widths = SizeSteps(granular ? caps.dwDstRectWidthMod : 1, largest.right - largest.left);
    std::vector<LONG> heights = SizeSteps(granular ? caps.dwDstRectHeightMod : 1, largest.bottom - largest.top);
    int tried = 0, accepted = 0;
    for (const ColourSpace &space : ColourSpaces) {
        for (LONG width : widths) {
            for (LONG height : heights) {
                BITMAPINFOHEADER want = current;
                want.biWidth = width;
                want.biHeight = height;
                want.biBitCount = space.bits;
                want.biCompression = space.compression;
                want.biSizeImage = UncompressedSize(want) ? UncompressedSize(want) : width * height * space.bits / 8;
                char what[64];
                std::snprintf(what, sizeof what, "%ld x %ld %s", width, height, space.name);
                tried++;
                accepted += SetAndReadBack(channel, original, want, what, false);
            }
        }
    }
    Info("format.sweep", "%d of %d formats accepted (%u widths to %ld, %u heights to %ld, %u colour spaces), each "
         "read back and streamed", accepted, tried, static_cast<unsigned>(widths.size()), widths.back(),
         static_cast<unsigned>(heights.size()), heights.back(), static_cast<unsigned>(sizeof ColourSpaces / sizeof *ColourSpaces));
}

void CheckFormat()
{
    if (!LoadDriver("format.load"))
        return;
    HDRVR channel = OpenCaptureChannel("format.open");
    if (!channel) {
        UnloadDriver();
        return;
    }
    // DVM_FORMAT: with VIDEO_CONFIGURE_QUERYSIZE "the driver returns the size,
    // in bytes, of the format description" in lpdwReturn.
    Step("DVM_FORMAT query size");
    DWORD size = FormatSize(channel);
    Expect(size != 0, "format.querysize", "VIDEO_CONFIGURE_GET | VIDEO_CONFIGURE_QUERYSIZE: expected DV_ERR_OK and "
           "a size of 40 bytes or more, got %s", size ? "it" : "neither");
    if (!size)
        size = sizeof(BITMAPINFOHEADER);

    Step("DVM_FORMAT get");
    BITMAPINFOHEADER *h = static_cast<BITMAPINFOHEADER *>(GuardedRecord(size, "format.get", "format record (DVM_FORMAT get)"));
    DWORD result = ConfigureFormat(channel, VIDEO_CONFIGURE_GET | VIDEO_CONFIGURE_CURRENT, h, size);
    bool got = result == DV_ERR_OK && h->biSize >= sizeof *h && h->biSize <= size && h->biWidth > 0 &&
               h->biHeight != 0 && h->biPlanes == 1 && h->biBitCount;
    Expect(got, "format.get", "expected DV_ERR_OK and a header (biSize 40..%lu, a width, a height, one plane, a depth), "
           "got %s, biSize %lu, %ld x %ld, %u planes, %u bits", size, CodeName(result), h->biSize, h->biWidth,
           h->biHeight, h->biPlanes, h->biBitCount);
    FreeRecord(h);
    std::vector<BYTE> original;
    if (!got || GetFormatRecord(channel, original) != DV_ERR_OK) {
        CloseInstance(channel);
        UnloadDriver();
        return;
    }
    BITMAPINFOHEADER current;
    std::memcpy(&current, original.data(), sizeof current);
    CheckSizeImage(current, "current format");

    // "Get into a record that is too small: an error, never an overrun."
    const DWORD smaller[] = {size - 1, 16, 0};
    for (DWORD small : smaller) {
        Step("DVM_FORMAT get into %lu bytes", small);
        void *record = GuardedRecord(small, "format.get-short", "format record (DVM_FORMAT get)");
        result = ConfigureFormat(channel, VIDEO_CONFIGURE_GET | VIDEO_CONFIGURE_CURRENT, record, small);
        Expect(result != DV_ERR_OK, "format.get-short", "get into a %lu-byte record (the format has %lu): expected an "
               "error, got %s", small, size, CodeName(result));
        FreeRecord(record);
    }
    // "If neither of these flags is set, the driver should return an error code."
    Step("DVM_FORMAT with neither get nor set");
    void *record = GuardedRecord(size, "format.direction", "format record (DVM_FORMAT)");
    result = ConfigureFormat(channel, VIDEO_CONFIGURE_CURRENT, record, size);
    Expect(result != DV_ERR_OK, "format.direction", "flags VIDEO_CONFIGURE_CURRENT alone: expected an error, got %s",
           CodeName(result));
    FreeRecord(record);

    SetAndReadBack(channel, original, current, "the current format", false);
    BITMAPINFOHEADER half = current;
    half.biWidth = (current.biWidth / 2 + 3) & ~3;
    half.biHeight = current.biHeight / 2;
    half.biSizeImage = UncompressedSize(half) ? UncompressedSize(half) : current.biSizeImage / 4;
    SetAndReadBack(channel, original, half, "half the width and height", false);
    BITMAPINFOHEADER bad = current;
    bad.biBitCount = 3;
    bad.biCompression = mmioFOURCC('j', 'u', 'n', 'k');
    SetAndReadBack(channel, original, bad, "3 bits a pixel in compression 'junk'", true);
    if (UncompressedSize(current)) {
        BITMAPINFOHEADER unsized = current;
        unsized.biSizeImage = 0;
        SetAndReadBack(channel, original, unsized, "the current format with biSizeImage 0", false);
    }
    SetFormat(channel, original, current);
    if (Settings.allFormats) {
        SweepFormats(channel, original, current);
        SetFormat(channel, original, current);
    }
    CloseInstance(channel);
    UnloadDriver();
}
