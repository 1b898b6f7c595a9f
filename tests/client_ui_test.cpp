// The capture client's windows, driven from outside as a user would: the
// live preview (its picture on the screen, its close ending the recording)
// and the driver's Format dialog shown before a recording.
#include "capture_rig.h"
#include "res/resource.h"
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

// capture.exe, started with `arguments` from the test's folder.
struct Client {
    PROCESS_INFORMATION process = {};

    explicit Client(const std::string &arguments)
    {
        STARTUPINFOA startup = {};
        startup.cb = sizeof startup;
        std::string line = "capture.exe " + arguments;
        EXPECT_TRUE(CreateProcessA(NULL, &line[0], NULL, NULL, FALSE, 0, NULL, NULL, &startup, &process));
    }
    ~Client()
    {
        if (WaitForSingleObject(process.hProcess, 0) == WAIT_TIMEOUT)
            TerminateProcess(process.hProcess, 99);
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
    }
    // The exit status, or -1 when the client is still running after `ms`.
    long Wait(DWORD ms)
    {
        DWORD status = 0;
        if (WaitForSingleObject(process.hProcess, ms) != WAIT_OBJECT_0 || !GetExitCodeProcess(process.hProcess, &status))
            return -1;
        return static_cast<long>(status);
    }
    // A visible top-level window of the client whose title starts with `title`.
    HWND Window(const std::string &title, DWORD ms = HangMs)
    {
        WindowSearch search = {process.dwProcessId, &title, NULL};
        for (DWORD waited = 0; waited < ms && !search.found; waited += 100) {
            Sleep(100);
            EnumWindows(MatchWindow, reinterpret_cast<LPARAM>(&search));
        }
        return search.found;
    }

private:
    struct WindowSearch {
        DWORD pid;
        const std::string *title;
        HWND found;
    };
    static BOOL CALLBACK MatchWindow(HWND window, LPARAM parameter)
    {
        WindowSearch &s = *reinterpret_cast<WindowSearch *>(parameter);
        DWORD pid = 0;
        GetWindowThreadProcessId(window, &pid);
        char text[128] = "";
        GetWindowTextA(window, text, sizeof text);
        if (pid == s.pid && IsWindowVisible(window) && std::string(text).rfind(*s.title, 0) == 0)
            s.found = window;
        return !s.found;
    }
};

std::string TempAvi(const char *name)
{
    char folder[MAX_PATH];
    GetTempPathA(sizeof folder, folder);
    return std::string(folder) + name;
}

// The colour on the screen at a point of the window's client area.
COLORREF ScreenColour(HWND window, int x, int y)
{
    POINT point = {x, y};
    ClientToScreen(window, &point);
    HDC screen = GetDC(NULL);
    COLORREF colour = GetPixel(screen, point.x, point.y);
    ReleaseDC(NULL, screen);
    return colour;
}

long FramesInTitle(HWND window)
{
    char title[128] = "";
    GetWindowTextA(window, title, sizeof title);
    long frames = 0;
    return std::sscanf(title, "capture: %ld frames", &frames) == 1 ? frames : 0;
}

class ClientWindows : public ::testing::Test {
protected:
    void SetUp() override
    {
        ClearCaptureSettings();
        ResetBoard();
    }
    void TearDown() override { ClearCaptureSettings(); }
};

// The default window at 1:4 shows the cyan bar at frame columns 4..23 and the
// green one at 24..43; a 160-column frame is drawn twice as large.
TEST_F(ClientWindows, ThePreviewShowsThePictureInEveryColourSpaceAndItsCloseEndsTheRecording)
{
    for (const char *format : {"rgb15", "rgb24", "yuv422"}) {
        SCOPED_TRACE(format);
        std::string avi = TempAvi("preview.avi");
        Client client(std::string("--format ") + format + " --size 160x120 --seconds 60 --preview \"" + avi + "\"");
        HWND preview = client.Window("capture: ");
        ASSERT_TRUE(preview);
        for (DWORD waited = 0; waited < HangMs && FramesInTitle(preview) < 10; waited += 100)
            Sleep(100);
        EXPECT_GE(FramesInTitle(preview), 10);
        for (auto [x, colour] : {std::pair<int, COLORREF>{28, RGB(0, 255, 255)}, {68, RGB(0, 255, 0)}}) {
            COLORREF seen = ScreenColour(preview, x, 40);
            EXPECT_LE(std::abs(GetRValue(seen) - GetRValue(colour)) + std::abs(GetGValue(seen) - GetGValue(colour)) +
                      abs(GetBValue(seen) - GetBValue(colour)), 24) << "at column " << x;
        }
        PostMessageA(preview, WM_CLOSE, 0, 0);
        EXPECT_EQ(client.Wait(HangMs), 0) << "a recording ended by the preview's close is not a failure";
        DeleteFileA(avi.c_str());
    }
}

TEST_F(ClientWindows, TheFormatDialogBeforeARecordingSetsTheFullSizeAndKeepsIt)
{
    std::string avi = TempAvi("dialog.avi");
    Client client("--dialog format --format rgb15 --size 640x480 --frames 3 \"" + avi + "\"");
    HWND dialog = client.Window("Brightvane 7K42Q VideoIn Format");
    ASSERT_TRUE(dialog);
    SetDlgItemTextA(dialog, IDC_WIDTH, "640");
    SetDlgItemTextA(dialog, IDC_HEIGHT, "480");
    PostMessageA(dialog, WM_COMMAND, IDOK, 0);
    EXPECT_EQ(client.Wait(HangMs), 0) << "640 x 480 is captured once the dialog has set 1:1";
    DWORD width = 0, zoom = 9;
    EXPECT_TRUE(StoredSetting("Width", &width) && StoredSetting("ScaleX", &zoom));
    EXPECT_EQ(width, 640u);
    EXPECT_EQ(zoom, 0u);
    DeleteFileA(avi.c_str());
}

} // namespace
