// Modal dialog driving (see ui_script.h).
#include "ui_script.h"

static const std::vector<UiStep> *Steps;
static size_t NextStep;
static DWORD Deadline;
static bool TimedOut;

static BOOL CALLBACK EndEveryDialog(HWND window, LPARAM)
{
    char name[16];
    if (GetClassNameA(window, name, sizeof name) && !lstrcmpA(name, "#32770"))
        PostMessageA(window, WM_COMMAND, IDOK, 0);
    return TRUE;
}

// After the limit, every dialog that is still open or opens late is told OK
// on each tick, so that the modal call under test returns.
static void CALLBACK Tick(HWND, UINT, UINT_PTR, DWORD)
{
    if (TimedOut) {
        EnumThreadWindows(GetCurrentThreadId(), EndEveryDialog, 0);
        return;
    }
    if (NextStep < Steps->size() && (*Steps)[NextStep]())
        NextStep++;
    if (NextStep < Steps->size() && static_cast<LONG>(GetTickCount() - Deadline) > 0) {
        TimedOut = true;
        NextStep = Steps->size();
        EnumThreadWindows(GetCurrentThreadId(), EndEveryDialog, 0);
    }
}

bool RunModal(const std::function<void()> &modal, const std::vector<UiStep> &steps, DWORD limitMs)
{
    Steps = &steps;
    NextStep = 0;
    TimedOut = false;
    Deadline = GetTickCount() + limitMs;
    UINT_PTR timer = SetTimer(NULL, 0, 50, Tick);
    modal();
    KillTimer(NULL, timer);
    return !TimedOut && NextStep == steps.size();
}

struct Search {
    const char *caption;
    HWND found;
};

static BOOL CALLBACK MatchDialog(HWND window, LPARAM parameter)
{
    Search &search = *reinterpret_cast<Search *>(parameter);
    char name[16];
    if (IsWindowVisible(window) && GetClassNameA(window, name, sizeof name) && !lstrcmpA(name, "#32770") &&
        WindowText(window) == search.caption) {
        search.found = window;
        return FALSE;
    }
    return TRUE;
}

HWND FindDialog(const char *caption)
{
    Search search = {caption, NULL};
    EnumThreadWindows(GetCurrentThreadId(), MatchDialog, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

std::string WindowText(HWND window)
{
    char text[512] = "";
    GetWindowTextA(window, text, sizeof text);
    return text;
}

void SendClick(HWND dialog, int id)
{
    SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(dialog, id)));
}

void PostClick(HWND dialog, int id)
{
    PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(dialog, id)));
}
