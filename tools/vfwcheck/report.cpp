// The report lines of a child run, the run's settings and the names of the
// error codes. Lines go to standard output whole, in one write each, from
// any thread.
#include <cstdarg>
#include <cstdio>
#include "check.h"

static const char *const CodeNames[DV_ERR_LASTERROR + 1] = {
    "DV_ERR_OK", "DV_ERR_NONSPECIFIC", "DV_ERR_BADFORMAT", "DV_ERR_STILLPLAYING", "DV_ERR_UNPREPARED",
    "DV_ERR_SYNC", "DV_ERR_TOOMANYCHANNELS", "DV_ERR_NOTDETECTED", "DV_ERR_BADINSTALL",
    "DV_ERR_CREATEPALETTE", "DV_ERR_SIZEFIELD", "DV_ERR_PARAM1", "DV_ERR_PARAM2", "DV_ERR_CONFIG1",
    "DV_ERR_CONFIG2", "DV_ERR_FLAGS", "DV_ERR_13", "DV_ERR_NOTSUPPORTED", "DV_ERR_NOMEM",
    "DV_ERR_ALLOCATED", "DV_ERR_BADDEVICEID", "DV_ERR_INVALHANDLE", "DV_ERR_BADERRNUM",
    "DV_ERR_NO_BUFFERS", "DV_ERR_MEM_CONFLICT", "DV_ERR_IO_CONFLICT", "DV_ERR_DMA_CONFLICT",
    "DV_ERR_INT_CONFLICT", "DV_ERR_PROTECT_ONLY"};

RunSettings Settings;

const ChannelType ChannelTypes[4] = {
    {VIDEO_EXTERNALIN, "VIDEO_EXTERNALIN"}, {VIDEO_IN, "VIDEO_IN"},
    {VIDEO_OUT, "VIDEO_OUT"}, {VIDEO_EXTERNALOUT, "VIDEO_EXTERNALOUT"}};

static void WriteLine(const char *prefix, const char *rule, const char *format, va_list args)
{
    char line[1024];
    int n = rule ? std::snprintf(line, sizeof line, "%s%s: ", prefix, rule)
                 : std::snprintf(line, sizeof line, "%s", prefix);
    n += std::vsnprintf(line + n, sizeof line - n - 1, format, args);
    if (n > (int)sizeof line - 2)
        n = sizeof line - 2;
    line[n++] = '\n';
    DWORD written;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), line, n, &written, NULL);
}

#define REPORT_LINE(prefix, rule) \
    va_list args;                 \
    va_start(args, format);       \
    WriteLine(prefix, rule, format, args); \
    va_end(args)

void Pass(const char *rule, const char *format, ...) { REPORT_LINE("pass ", rule); }
void Fail(const char *rule, const char *format, ...) { REPORT_LINE("FAIL ", rule); }
void Warn(const char *rule, const char *format, ...) { REPORT_LINE("WARN ", rule); }
void Info(const char *rule, const char *format, ...) { REPORT_LINE("info ", rule); }
void Step(const char *format, ...) { REPORT_LINE("@step ", NULL); }
void Emit(const char *format, ...) { REPORT_LINE("", NULL); }

bool Expect(bool ok, const char *rule, const char *format, ...)
{
    REPORT_LINE(ok ? "pass " : "FAIL ", rule);
    return ok;
}

DWORD FrameWait(int frames)
{
    return Settings.watchdog / 3 * (frames > 12 ? frames : 12) / 12;
}

bool IsDocumentedCode(DWORD code)
{
    return code <= DV_ERR_LASTERROR || (code >= DV_ERR_USER_MSG && code <= 0xFFFF);
}

const char *CodeName(DWORD code)
{
    static char buffers[8][48];
    static LONG next;
    char *text = buffers[InterlockedIncrement(&next) & 7];
    if (code <= DV_ERR_LASTERROR)
        std::snprintf(text, sizeof buffers[0], "%s (%lu)", CodeNames[code], code);
    else if (IsDocumentedCode(code))
        std::snprintf(text, sizeof buffers[0], "driver's own code %lu", code);
    else
        std::snprintf(text, sizeof buffers[0], "%lu (0x%lX), no documented code", code, code);
    return text;
}

void NoteCode(DWORD code)
{
    static DWORD seen[64];
    static LONG count;
    if (code == DV_ERR_OK || !IsDocumentedCode(code))
        return;
    for (LONG i = 0; i < count; i++)
        if (seen[i] == code)
            return;
    if (count < 64)
        seen[count++] = code;
    Emit("@code %lu", code);
}

const char *ChannelName(DWORD type)
{
    for (const ChannelType &t : ChannelTypes)
        if (t.flag == type)
            return t.name;
    return "an unknown channel type";
}
