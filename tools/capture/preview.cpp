// Preview window: a thread with its own message loop draws the latest frame
// offered, converting YUV 422 for display, and shows the counts in its title.
#include <cstdio>
#include <cstring>
#include <vector>
#include "preview.h"
#include "yuy2.h"

static const UINT WM_FRAME = WM_APP, WM_QUIT_PREVIEW = WM_APP + 1;
static const UINT_PTR TitleTimer = 1;

static struct Preview {
    BITMAPINFOHEADER frameHeader;    // the frames as captured
    BITMAPINFOHEADER shownHeader;    // what is drawn: the frame, or its BGRX conversion
    std::vector<BYTE> frame, pixels;
    std::atomic<bool> ready{false};  // the window waits for a frame
    HWND window;
    const PreviewCounts *counts;
    HANDLE closed, thread, started;
} View;

static void ShowCounts(HWND window)
{
    char title[96];
    std::snprintf(title, sizeof title, "capture: %ld frames captured, %ld dropped", View.counts->captured.load(),
                  View.counts->dropped.load());
    SetWindowTextA(window, title);
}

static void Paint(HWND window)
{
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(window, &paint);
    RECT area;
    GetClientRect(window, &area);
    const BYTE *bits = View.frameHeader.biCompression == FourccYuy2 ? View.pixels.data() : View.frame.data();
    BITMAPINFO info = {};
    info.bmiHeader = View.shownHeader;
    LONG height = View.shownHeader.biHeight < 0 ? -View.shownHeader.biHeight : View.shownHeader.biHeight;
    StretchDIBits(dc, 0, 0, area.right, area.bottom, 0, 0, View.shownHeader.biWidth, height, bits, &info,
                  DIB_RGB_COLORS, SRCCOPY);
    EndPaint(window, &paint);
}

static LRESULT CALLBACK PreviewProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_FRAME: {
        const BITMAPINFOHEADER &h = View.frameHeader;
        if (h.biCompression == FourccYuy2)
            Yuy2ToBgrx(View.frame.data(), h.biWidth, h.biHeight, (h.biBitCount * h.biWidth + 31) / 32 * 4, View.pixels.data());
        InvalidateRect(window, NULL, FALSE);
        UpdateWindow(window);
        ShowCounts(window);
        View.ready = true;
        return 0;
    }
    case WM_TIMER:
        ShowCounts(window);
        return 0;
    case WM_PAINT:
        Paint(window);
        return 0;
    case WM_CLOSE: // the user ends the recording
        SetEvent(View.closed);
        return 0;
    case WM_QUIT_PREVIEW:
        DestroyWindow(window);
        return 0;
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

static DWORD WINAPI PreviewThread(LPVOID)
{
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = PreviewProc;
    windowClass.hInstance = GetModuleHandleA(NULL);
    windowClass.hCursor = LoadCursorA(NULL, MAKEINTRESOURCEA(32512)); // IDC_ARROW
    windowClass.lpszClassName = "CapturePreview";
    RegisterClassA(&windowClass);
    // Small frames are shown at least 320 pixels wide.
    LONG scale = View.frameHeader.biWidth < 320 ? (320 + View.frameHeader.biWidth - 1) / View.frameHeader.biWidth : 1;
    RECT area = {0, 0, View.frameHeader.biWidth * scale, View.frameHeader.biHeight * scale};
    DWORD style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
    AdjustWindowRect(&area, style, FALSE);
    View.window = CreateWindowA("CapturePreview", "capture", style | WS_VISIBLE, CW_USEDEFAULT, CW_USEDEFAULT,
                                area.right - area.left, area.bottom - area.top, NULL, NULL, windowClass.hInstance,
                                NULL);
    if (View.window) {
        SetTimer(View.window, TitleTimer, 500, NULL);
        ShowCounts(View.window);
        View.ready = true;
    }
    SetEvent(View.started);
    MSG msg;
    while (View.window && GetMessageA(&msg, NULL, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    return 0;
}

bool StartPreview(const BITMAPINFOHEADER &h, const PreviewCounts *counts, HANDLE closed)
{
    View.frameHeader = h;
    View.shownHeader = h;
    View.frame.assign(h.biSizeImage, 0);
    if (h.biCompression == FourccYuy2) {
        View.pixels.assign(static_cast<size_t>(h.biWidth) * h.biHeight * 4, 0);
        View.shownHeader.biCompression = BI_RGB;
        View.shownHeader.biBitCount = 32;
        View.shownHeader.biHeight = -h.biHeight; // YUY2 frames are top-down
        View.shownHeader.biSizeImage = static_cast<DWORD>(View.pixels.size());
    }
    View.counts = counts;
    View.closed = closed;
    View.started = CreateEventA(NULL, TRUE, FALSE, NULL);
    View.thread = CreateThread(NULL, 0, PreviewThread, NULL, 0, NULL);
    if (View.thread)
        WaitForSingleObject(View.started, INFINITE);
    CloseHandle(View.started);
    if (!View.window)
        std::fprintf(stderr, "capture: the preview window cannot be opened\n");
    return View.window != NULL;
}

void OfferPreviewFrame(const BYTE *frame)
{
    if (!View.window || !View.ready.exchange(false))
        return; // still drawing the last one: this one is not shown
    std::memcpy(View.frame.data(), frame, View.frame.size());
    PostMessageA(View.window, WM_FRAME, 0, 0);
}

void StopPreview()
{
    if (!View.thread)
        return;
    if (View.window)
        PostMessageA(View.window, WM_QUIT_PREVIEW, 0, 0);
    WaitForSingleObject(View.thread, INFINITE);
    CloseHandle(View.thread);
    View.thread = NULL;
    View.window = NULL;
}
