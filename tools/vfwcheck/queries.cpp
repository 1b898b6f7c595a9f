// Queries: DVM_GETVIDEOAPIVER, DVM_GET_CHANNEL_CAPS, DVM_SRC_RECT and
// DVM_DST_RECT, the capabilities held against behaviour (capabilities.cpp),
// DVM_DIALOG with VIDEO_DLG_QUERY on every channel that opens, and
// DVM_GETERRORTEXT for every code the driver answered during the run.
#include <string>
#include "check.h"
#include "host.h"

static const DWORD SmallTexts[] = {0, 1, 2, 3, 8};

static void CheckApiVersion(HDRVR channel, const char *name)
{
    // DVM_GETVIDEOAPIVER: "The driver should respond to this message by
    // returning the VIDEOAPIVERSION constant in the address pointed to by lParam1."
    DWORD version = Untouched;
    DWORD result = Send(channel, DVM_GETVIDEOAPIVER, reinterpret_cast<LPARAM>(&version), 0);
    Expect(result == DV_ERR_OK && version == VIDEOAPIVERSION, "queries.api-version",
           "%s: expected DV_ERR_OK and VIDEOAPIVERSION (%u), got %s and version %lu", name, VIDEOAPIVERSION,
           CodeName(result), version);
}

// True, with the caps in `kept`, where they were given with every granularity.
static bool CheckChannelCaps(HDRVR channel, const char *name, CHANNEL_CAPS &kept)
{
    CHANNEL_CAPS *caps = static_cast<CHANNEL_CAPS *>(GuardedRecord(sizeof(CHANNEL_CAPS), "queries.channel-caps", "CHANNEL_CAPS"));
    FillMemory(caps, sizeof *caps, 0xCC);
    DWORD result = Send(channel, DVM_GET_CHANNEL_CAPS, reinterpret_cast<LPARAM>(caps), sizeof *caps);
    const DWORD *field = &caps->dwFlags;
    bool written = true, granular = true;
    for (int i = 0; i < 9; i++) {
        written = written && field[i] != 0xCCCCCCCC;
        granular = granular && (i == 0 || field[i] != 0);
    }
    // "It returns DV_ERR_NOTSUPPORTED if the message is not supported."
    if (result == DV_ERR_NOTSUPPORTED)
        Warn("queries.channel-caps", "%s: declined (DV_ERR_NOTSUPPORTED): clients learn nothing of clipping or scaling", name);
    else if (result != DV_ERR_OK || !written || (caps->dwFlags & ~0xFu))
        Fail("queries.channel-caps", "%s: expected DV_ERR_OK, all nine fields written and only VCAPS_* flags, got %s, "
             "%s, dwFlags 0x%08lX", name, CodeName(result), written ? "all written" : "fields left unwritten", caps->dwFlags);
    // "If a channel supports arbitrarily positioned rectangles, with arbitrary
    // sizes, the values above should all be set to 1": a granularity is >= 1.
    else if (!granular)
        Warn("queries.channel-caps", "%s: a rectangle granularity of 0 (1 is the finest)", name);
    else
        Pass("queries.channel-caps", "%s: dwFlags 0x%08lX", name, caps->dwFlags);
    bool usable = result == DV_ERR_OK && written && granular;
    kept = *caps;
    FreeRecord(caps);
    return usable;
}

static void CheckRect(HDRVR channel, const char *name, UINT message, const char *messageName)
{
    RECT rect = {-7777, -7777, -7777, -7777};
    DWORD result = Send(channel, message, reinterpret_cast<LPARAM>(&rect), VIDEO_CONFIGURE_GET | VIDEO_CONFIGURE_CURRENT);
    // What a rectangle means depends on the channel, and for some channels it
    // is "currently undefined": a driver may decline it.
    if (result == DV_ERR_NOTSUPPORTED)
        Warn("queries.rect", "%s %s: declined (DV_ERR_NOTSUPPORTED)", name, messageName);
    else
        Expect(result == DV_ERR_OK && rect.left != -7777 && rect.left <= rect.right && rect.top <= rect.bottom,
               "queries.rect", "%s %s get: expected DV_ERR_OK and a rectangle, got %s and (%ld, %ld, %ld, %ld)", name,
               messageName, CodeName(result), rect.left, rect.top, rect.right, rect.bottom);
    // "If neither of these flags is set, the driver should return an error code."
    result = Send(channel, message, reinterpret_cast<LPARAM>(&rect), VIDEO_CONFIGURE_CURRENT);
    Expect(result != DV_ERR_OK, "queries.rect-direction", "%s %s with neither get nor set: expected an error, got %s",
           name, messageName, CodeName(result));
}

static void CheckDialogQuery(HDRVR channel, const char *name)
{
    // DVM_DIALOG with VIDEO_DLG_QUERY: DV_ERR_OK when the channel has a
    // dialog, DV_ERR_NOTSUPPORTED when it has none; no dialog is shown.
    DWORD result = Send(channel, DVM_DIALOG, 0, VIDEO_DLG_QUERY);
    Expect(result == DV_ERR_OK || result == DV_ERR_NOTSUPPORTED, "queries.dialog-query",
           "%s: expected DV_ERR_OK or DV_ERR_NOTSUPPORTED, got %s", name, CodeName(result));
}

// One text into a guarded buffer of `length` bytes filled with 'x'; the
// answer, and in `text` what the buffer holds.
static DWORD GetErrorText(HDRVR channel, DWORD code, DWORD length, std::string &text)
{
    char *buffer = static_cast<char *>(GuardedRecord(length, "queries.error-text", "error text buffer (dwLength)"));
    FillMemory(buffer, length, 'x');
    VIDEO_GETERRORTEXT_PARMS parms = {code, buffer, length};
    DWORD result = Send(channel, DVM_GETERRORTEXT, reinterpret_cast<LPARAM>(&parms), 0);
    text.assign(buffer, length);
    FreeRecord(buffer);
    return result;
}

static void CheckErrorTexts(HDRVR channel, const std::vector<DWORD> &codes)
{
    std::string declined, text;
    for (DWORD code : codes) {
        Step("DVM_GETERRORTEXT %lu", code);
        DWORD result = GetErrorText(channel, code, 256, text);
        if (result != DV_ERR_OK) {
            // DVM_GETERRORTEXT serves the codes a driver defines itself:
            // "Clients use the DVM_GETERRORTEXT message to retrieve the text
            // string for a specified custom error code."
            if (code > DV_ERR_LASTERROR)
                Fail("queries.error-text", "%s: expected its text, got %s", CodeName(code), CodeName(result));
            else
                declined += (declined.empty() ? "" : ", ") + std::to_string(code);
            continue;
        }
        size_t length = text.find('\0');
        Expect(length != std::string::npos && length > 0, "queries.error-text",
               "%s into 256 bytes: expected a text that ends inside the buffer, got %s", CodeName(code),
               length == std::string::npos ? "no terminator" : "an empty text");
        // "This function [LoadString] truncates the string if the supplied
        // buffer is too small": a short buffer gets a cut, terminated text.
        for (DWORD small : SmallTexts) {
            result = GetErrorText(channel, code, small, text);
            Expect(result != DV_ERR_OK || small == 0 || text.find('\0') != std::string::npos, "queries.error-text",
                   "%s into %lu bytes: expected a cut, terminated text or an error, got %s", CodeName(code), small,
                   result == DV_ERR_OK ? "DV_ERR_OK and no terminator" : CodeName(result));
        }
    }
    if (!declined.empty())
        Warn("queries.error-text", "no text for the standard codes %s (the capture layer has its own)", declined.c_str());
}

void CheckQueries(const std::vector<DWORD> &codes)
{
    if (!LoadDriver("queries.load"))
        return;
    HDRVR open[4] = {}, textChannel = NULL;
    for (int i = 0; i < 4; i++) {
        const ChannelType &t = ChannelTypes[i];
        VIDEO_OPEN_PARMS parms;
        if (!(open[i] = OpenChannel(t.flag, &parms)))
            continue;
        if (!textChannel || t.flag == VIDEO_IN)
            textChannel = open[i];
        Step("queries on %s", t.name);
        CheckApiVersion(open[i], t.name);
        CHANNEL_CAPS caps;
        bool usable = CheckChannelCaps(open[i], t.name, caps);
        CheckRect(open[i], t.name, DVM_SRC_RECT, "DVM_SRC_RECT");
        CheckRect(open[i], t.name, DVM_DST_RECT, "DVM_DST_RECT");
        CheckCapabilities(open[i], t.name, usable ? &caps : NULL);
        CheckDialogQuery(open[i], t.name);
    }
    if (textChannel)
        CheckErrorTexts(textChannel, codes);
    else
        Fail("queries.open", "expected a channel to query, got every channel type refused");
    for (HDRVR channel : open)
        if (channel)
            CloseInstance(channel);
    UnloadDriver();
}
