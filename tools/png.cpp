// Saves frames and windows as PNG files (see png.h): 8-bit RGB, the image
// data zlib data in stored (uncompressed) deflate blocks, which every PNG
// reader takes, so that no encoder is needed.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include "png.h"
#include "yuy2.h"

static const DWORD StoredBlockBytes = 65535; // the most a stored block holds

static BYTE *PutBig32(BYTE *at, DWORD value)
{
    at[0] = static_cast<BYTE>(value >> 24);
    at[1] = static_cast<BYTE>(value >> 16);
    at[2] = static_cast<BYTE>(value >> 8);
    at[3] = static_cast<BYTE>(value);
    return at + 4;
}

static DWORD Crc32(const BYTE *data, size_t size)
{
    DWORD table[256];
    for (DWORD n = 0; n < 256; n++) {
        DWORD c = n;
        for (int k = 0; k < 8; k++)
            c = c & 1 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        table[n] = c;
    }
    DWORD crc = 0xFFFFFFFFu;
    while (size--)
        crc = table[(crc ^ *data++) & 0xFF] ^ (crc >> 8);
    return ~crc;
}

static DWORD Adler32(const BYTE *data, size_t size)
{
    DWORD a = 1, b = 0;
    while (size) {
        size_t n = size < 5552 ? size : 5552; // the most bytes before b could pass 2^32
        size -= n;
        while (n--) {
            a += *data++;
            b += a;
        }
        a %= 65521;
        b %= 65521;
    }
    return b << 16 | a;
}

// A chunk of `size` data bytes, already at at + 8: its length, type and CRC.
static BYTE *PutChunk(BYTE *at, const char *type, DWORD size)
{
    PutBig32(at, size);
    std::memcpy(at + 4, type, 4);
    return PutBig32(at + 8 + size, Crc32(at + 4, size + 4));
}

// The frame's rows top first, each a filter byte (none) and RGB pixels;
// `bgrx` holds a row of 32-bit pixels on the way.
static void PutRows(BYTE *raw, BYTE *bgrx, const BITMAPINFOHEADER &h, const BYTE *frame, LONG width, LONG height)
{
    LONG stride = (h.biBitCount * width + 31) / 32 * 4;
    for (LONG y = 0; y < height; y++) {
        *raw++ = 0;
        if (h.biCompression == FourccYuy2) {
            Yuy2ToBgrx(frame + static_cast<size_t>(y) * stride, width, 1, stride, bgrx);
        } else {
            const BYTE *row = frame + static_cast<size_t>(height - 1 - y) * stride; // bottom-up
            for (LONG x = 0; x < width; x++) {
                BYTE *out = bgrx + x * 4;
                if (h.biBitCount == 16) {
                    // 5-5-5 to 8 bits a component: the top bits repeated below.
                    WORD v = static_cast<WORD>(row[x * 2] | row[x * 2 + 1] << 8);
                    for (int c = 0; c < 3; c++) {
                        BYTE five = v >> (5 * c) & 31;
                        out[c] = static_cast<BYTE>(five << 3 | five >> 2);
                    }
                } else {
                    std::memcpy(out, row + x * 4, 3);
                }
            }
        }
        for (LONG x = 0; x < width; x++, raw += 3) {
            raw[0] = bgrx[x * 4 + 2];
            raw[1] = bgrx[x * 4 + 1];
            raw[2] = bgrx[x * 4];
        }
    }
}

bool SaveFramePng(const char *path, const BITMAPINFOHEADER &h, const BYTE *frame)
{
    LONG width = h.biWidth, height = h.biHeight < 0 ? -h.biHeight : h.biHeight;
    ULONGLONG rawBytes = width > 0 && height > 0 ? static_cast<ULONGLONG>(height) * (1 + 3ull * width) : 0;
    ULONGLONG blocks = (rawBytes + StoredBlockBytes - 1) / StoredBlockBytes;
    ULONGLONG dataBytes = 2 + rawBytes + 5 * blocks + 4; // zlib header, blocks, Adler-32
    if (!rawBytes || dataBytes > 0x7FFFFFFF) {
        std::fprintf(stderr, "cannot write %s: a picture of %ld x %ld\n", path, width, height);
        return false;
    }
    DWORD raw = static_cast<DWORD>(rawBytes), data = static_cast<DWORD>(dataBytes);
    DWORD fileBytes = 8 + (12 + 13) + (12 + data) + 12;
    BYTE *rows = static_cast<BYTE *>(std::malloc(raw + 4 * static_cast<size_t>(width)));
    BYTE *file = static_cast<BYTE *>(std::malloc(fileBytes));
    if (!rows || !file) {
        std::fprintf(stderr, "cannot write %s: no memory for %lu bytes\n", path, fileBytes);
        std::free(rows);
        std::free(file);
        return false;
    }
    PutRows(rows, rows + raw, h, frame, width, height);

    static const BYTE Signature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    std::memcpy(file, Signature, 8);
    BYTE *header = file + 16;
    header = PutBig32(PutBig32(header, static_cast<DWORD>(width)), static_cast<DWORD>(height));
    static const BYTE Format[5] = {8, 2, 0, 0, 0}; // 8 bits, RGB, deflate, no filters, no interlace
    std::memcpy(header, Format, 5);
    BYTE *at = PutChunk(file + 8, "IHDR", 13), *idat = at;
    at += 8;
    *at++ = 0x78; // deflate with a 32 KiB window, no dictionary; the pair is a multiple of 31
    *at++ = 0x01;
    for (DWORD done = 0; done < raw;) {
        DWORD n = raw - done < StoredBlockBytes ? raw - done : StoredBlockBytes;
        *at++ = done + n == raw; // the last block; stored
        *at++ = static_cast<BYTE>(n);
        *at++ = static_cast<BYTE>(n >> 8);
        *at++ = static_cast<BYTE>(~n);
        *at++ = static_cast<BYTE>(~n >> 8);
        std::memcpy(at, rows + done, n);
        at += n;
        done += n;
    }
    PutBig32(at, Adler32(rows, raw));
    at = PutChunk(idat, "IDAT", data);
    PutChunk(at, "IEND", 0);
    std::free(rows);

    HANDLE out = CreateFileA(path, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    DWORD written = 0;
    bool ok = out != INVALID_HANDLE_VALUE && WriteFile(out, file, fileBytes, &written, NULL) && written == fileBytes;
    DWORD error = GetLastError();
    if (out != INVALID_HANDLE_VALUE && !CloseHandle(out) && ok) {
        ok = false;
        error = GetLastError();
    }
    std::free(file);
    if (!ok)
        std::fprintf(stderr, "cannot write %s (error %lu)\n", path, error);
    return ok;
}

bool SaveWindowPng(const char *path, HWND window)
{
    RedrawWindow(window, NULL, NULL, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN | RDW_FRAME);
    RECT r;
    GetWindowRect(window, &r);
    BITMAPINFOHEADER h = {};
    h.biSize = sizeof h;
    h.biWidth = r.right - r.left;
    h.biHeight = r.bottom - r.top;
    h.biPlanes = 1;
    h.biBitCount = 32;
    h.biCompression = BI_RGB;
    void *bits;
    HDC screen = GetDC(NULL), memory = CreateCompatibleDC(screen);
    HBITMAP dib = CreateDIBSection(screen, reinterpret_cast<BITMAPINFO *>(&h), DIB_RGB_COLORS, &bits, NULL, 0);
    HGDIOBJ old = SelectObject(memory, dib);
    BitBlt(memory, 0, 0, h.biWidth, h.biHeight, screen, r.left, r.top, SRCCOPY);
    GdiFlush();
    bool ok = SaveFramePng(path, h, static_cast<BYTE *>(bits));
    SelectObject(memory, old);
    DeleteObject(dib);
    DeleteDC(memory);
    ReleaseDC(NULL, screen);
    return ok;
}
