// Format: DVM_FORMAT on the VIDEO_IN channel: the size query, a get and gets
// into records too small, a set read back, refused sets that change nothing,
// and biSizeImage against width, height and depth.
#include <cstdio>
#include <cstring>
#include <vector>
#include "check.h"
#include "host.h"

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

// The whole current format record (header, and whatever follows it).
static DWORD GetRecord(HDRVR channel, std::vector<BYTE> &record)
{
    DWORD size = FormatSize(channel);
    record.assign(size ? size : sizeof(BITMAPINFOHEADER), 0);
    return ConfigureFormat(channel, VIDEO_CONFIGURE_GET | VIDEO_CONFIGURE_CURRENT, record.data(),
                           static_cast<DWORD>(record.size()));
}

bool GetFormat(HDRVR channel, BITMAPINFOHEADER *header)
{
    std::vector<BYTE> record;
    if (GetRecord(channel, record) != DV_ERR_OK)
        return false;
    std::memcpy(header, record.data(), sizeof *header);
    return true;
}

// A set of `record` with its header replaced by `header`, from a guarded copy.
static DWORD SetFormat(HDRVR channel, std::vector<BYTE> record, const BITMAPINFOHEADER &header)
{
    std::memcpy(record.data(), &header, sizeof header);
    DWORD size = static_cast<DWORD>(record.size());
    void *copy = GuardedRecord(size, "format.set", "format record (DVM_FORMAT set)");
    std::memcpy(copy, record.data(), size);
    DWORD result = ConfigureFormat(channel, VIDEO_CONFIGURE_SET | VIDEO_CONFIGURE_CURRENT, copy, size);
    FreeRecord(copy);
    return result;
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

static void Describe(const BITMAPINFOHEADER &h, char *text, size_t size)
{
    std::snprintf(text, size, "%ld x %ld, %u bits, compression 0x%08lX, biSizeImage %lu", h.biWidth, h.biHeight,
                  h.biBitCount, h.biCompression, h.biSizeImage);
}

// A set, then a get: an accepted set reads back as set, a refused one
// leaves the format as it was.
static void SetAndReadBack(HDRVR channel, const std::vector<BYTE> &record, const BITMAPINFOHEADER &want,
                           const char *what, bool mustRefuse)
{
    Step("DVM_FORMAT set: %s", what);
    BITMAPINFOHEADER before, after;
    GetFormat(channel, &before);
    DWORD result = SetFormat(channel, record, want);
    bool read = GetFormat(channel, &after);
    char got[160], had[160];
    Describe(after, got, sizeof got);
    Describe(before, had, sizeof had);
    if (mustRefuse)
        Expect(result != DV_ERR_OK, "format.bad-set", "set of %s: expected a refusal, got DV_ERR_OK", what);
    if (result == DV_ERR_OK) {
        bool same = read && after.biWidth == want.biWidth && after.biHeight == want.biHeight &&
                    after.biBitCount == want.biBitCount && after.biCompression == want.biCompression;
        Expect(same, "format.set-get", "set of %s: expected the get to give it back, got %s", what, got);
        CheckSizeImage(after, what);
    } else {
        Expect(read && !std::memcmp(&before, &after, sizeof before), "format.refused-set",
               "set of %s refused with %s: expected the format unchanged (%s), got %s", what, CodeName(result), had, got);
    }
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
    if (!got || GetRecord(channel, original) != DV_ERR_OK) {
        CloseDriver(channel, 0, 0);
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
    CloseDriver(channel, 0, 0);
    UnloadDriver();
}
