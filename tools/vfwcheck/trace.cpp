// --trace: one line for each message sent to the driver, through winmm or
// straight to DriverProc: when it was sent (ms since the child started), the
// way it went, the instance, the message and its parameters, the answer and
// how long the driver took. The runner prints the lines as they come.
#include <cstdio>
#include "check.h"
#include "host.h"

struct MessageName {
    UINT message;
    const char *name;
};

static const MessageName Names[] = {
    {DRV_LOAD, "DRV_LOAD"}, {DRV_ENABLE, "DRV_ENABLE"}, {DRV_OPEN, "DRV_OPEN"}, {DRV_CLOSE, "DRV_CLOSE"},
    {DRV_DISABLE, "DRV_DISABLE"}, {DRV_FREE, "DRV_FREE"}, {DRV_CONFIGURE, "DRV_CONFIGURE"},
    {DRV_QUERYCONFIGURE, "DRV_QUERYCONFIGURE"}, {DRV_INSTALL, "DRV_INSTALL"}, {DRV_REMOVE, "DRV_REMOVE"},
    {DVM_PALETTE, "DVM_PALETTE"}, {DVM_FORMAT, "DVM_FORMAT"}, {DVM_PALETTERGB555, "DVM_PALETTERGB555"},
    {DVM_SRC_RECT, "DVM_SRC_RECT"}, {DVM_DST_RECT, "DVM_DST_RECT"}, {DVM_GETERRORTEXT, "DVM_GETERRORTEXT"},
    {DVM_GETVIDEOAPIVER, "DVM_GETVIDEOAPIVER"}, {DVM_DIALOG, "DVM_DIALOG"},
    {DVM_CONFIGURESTORAGE, "DVM_CONFIGURESTORAGE"}, {DVM_GET_CHANNEL_CAPS, "DVM_GET_CHANNEL_CAPS"},
    {DVM_FRAME, "DVM_FRAME"}, {DVM_STREAM_ADDBUFFER, "DVM_STREAM_ADDBUFFER"}, {DVM_STREAM_FINI, "DVM_STREAM_FINI"},
    {DVM_STREAM_GETERROR, "DVM_STREAM_GETERROR"}, {DVM_STREAM_GETPOSITION, "DVM_STREAM_GETPOSITION"},
    {DVM_STREAM_INIT, "DVM_STREAM_INIT"}, {DVM_STREAM_PREPAREHEADER, "DVM_STREAM_PREPAREHEADER"},
    {DVM_STREAM_RESET, "DVM_STREAM_RESET"}, {DVM_STREAM_START, "DVM_STREAM_START"},
    {DVM_STREAM_STOP, "DVM_STREAM_STOP"}, {DVM_STREAM_UNPREPAREHEADER, "DVM_STREAM_UNPREPAREHEADER"}};

static LONGLONG Frequency()
{
    static LARGE_INTEGER frequency;
    if (!frequency.QuadPart)
        QueryPerformanceFrequency(&frequency);
    return frequency.QuadPart ? frequency.QuadPart : 1;
}

LONGLONG TraceClock()
{
    static LARGE_INTEGER start;
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    if (!start.QuadPart)
        start = now;
    return now.QuadPart - start.QuadPart;
}

void TraceMessage(const char *via, DWORD_PTR instance, UINT message, LPARAM lParam1, LPARAM lParam2, DWORD answer,
                  LONGLONG sent)
{
    LONGLONG took = TraceClock() - sent, ticks = Frequency();
    const char *name = "an unknown message";
    for (const MessageName &n : Names)
        if (n.message == message)
            name = n.name;
    // The DRV_* answers are values (an instance, nonzero for done); the
    // capture messages answer codes.
    char answered[64];
    if (message >= DVM_CONFIGURE_START)
        std::snprintf(answered, sizeof answered, "%s", CodeName(answer));
    else
        std::snprintf(answered, sizeof answered, "0x%lX", answer);
    LONGLONG sentUs = sent * 1000000 / ticks;
    Emit("@trace %lu.%03lu ms %s 0x%lX %s (0x%04X) lParam1 0x%lX lParam2 0x%lX: %s after %lu us",
         static_cast<DWORD>(sentUs / 1000), static_cast<DWORD>(sentUs % 1000), via, static_cast<DWORD>(instance), name,
         message, static_cast<DWORD>(lParam1), static_cast<DWORD>(lParam2), answered,
         static_cast<DWORD>(took * 1000000 / ticks));
}
