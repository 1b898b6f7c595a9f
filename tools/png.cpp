// Saves a captured frame as a PNG file through GDI+ (see png.h).
#include <algorithm>
#include <cstdio>
#include <vector>
using std::max;
using std::min;
#include <objidl.h>
#include <gdiplus.h>
#include "png.h"
#include "yuy2.h"

static const CLSID PngEncoder = {0x557CF406, 0x1A04, 0x11D3, {0x9A, 0x73, 0x00, 0x00, 0xF8, 0x1E, 0xF3, 0x2E}};

bool SaveFramePng(const char *path, const BITMAPINFOHEADER &h, const BYTE *frame)
{
    Gdiplus::GdiplusStartupInput input;
    ULONG_PTR token;
    if (Gdiplus::GdiplusStartup(&token, &input, NULL) != Gdiplus::Ok) {
        std::fprintf(stderr, "cannot start GDI+\n");
        return false;
    }
    LONG width = h.biWidth, height = h.biHeight < 0 ? -h.biHeight : h.biHeight;
    LONG stride = (h.biBitCount * width + 31) / 32 * 4;
    std::vector<BYTE> converted;
    BYTE *scan0;
    INT pitch;
    Gdiplus::PixelFormat format;
    if (h.biCompression == FourccYuy2) {
        converted.resize((size_t)width * height * 4);
        Yuy2ToBgrx(frame, width, height, stride, converted.data());
        scan0 = converted.data();
        pitch = width * 4;
        format = PixelFormat32bppRGB;
    } else {
        // A bottom-up DIB: start at its last row and walk upwards.
        scan0 = const_cast<BYTE *>(frame) + (size_t)(height - 1) * stride;
        pitch = -stride;
        format = h.biBitCount == 16 ? PixelFormat16bppRGB555 : PixelFormat32bppRGB;
    }
    WCHAR widePath[MAX_PATH];
    MultiByteToWideChar(CP_ACP, 0, path, -1, widePath, MAX_PATH);
    Gdiplus::Status status;
    {
        Gdiplus::Bitmap bitmap(width, height, pitch, format, scan0);
        status = bitmap.Save(widePath, &PngEncoder, NULL);
    }
    Gdiplus::GdiplusShutdown(token);
    if (status != Gdiplus::Ok)
        std::fprintf(stderr, "cannot write %s (GDI+ status %d)\n", path, (int)status);
    return status == Gdiplus::Ok;
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
