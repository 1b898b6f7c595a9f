// Capabilities held against behaviour, for the queries group: the source and
// destination rectangles a channel gives (current, smallest, largest, where
// it answers) against the granularities of its CHANNEL_CAPS, and each
// VIDEO_CONFIGURE_QUERY answer against the get or set it describes.
#include <cstdio>
#include <vector>
#include "check.h"
#include "host.h"

struct Bound {
    DWORD flag;
    const char *name;
};

static const Bound Bounds[] = {
    {VIDEO_CONFIGURE_CURRENT, "current"}, {VIDEO_CONFIGURE_MIN, "smallest"}, {VIDEO_CONFIGURE_MAX, "largest"}};

// CHANNEL_CAPS gives the granularity of the source rectangle's x and y
// position, width and height, then the same four for the destination: every
// rectangle the channel gives keeps them, and the current one lies between
// the smallest and the largest.
static void CheckRectCaps(HDRVR channel, const char *name, UINT message, const char *messageName, const DWORD *mods)
{
    RECT rects[3];
    bool got[3], any = false;
    char bad[200] = "";
    for (int i = 0; i < 3; i++) {
        RECT &r = rects[i];
        r = RECT{0, 0, 0, 0};
        got[i] = Send(channel, message, reinterpret_cast<LPARAM>(&r), VIDEO_CONFIGURE_GET | Bounds[i].flag) ==
                     DV_ERR_OK && r.left <= r.right && r.top <= r.bottom;
        any = any || got[i];
        LONG values[4] = {r.left, r.top, r.right - r.left, r.bottom - r.top};
        for (int v = 0; got[i] && mods && v < 4 && !*bad; v++)
            if (values[v] % static_cast<LONG>(mods[v]))
                std::snprintf(bad, sizeof bad, "the %s rectangle (%ld, %ld, %ld, %ld) off its steps of %lu, %lu, "
                              "%lu and %lu", Bounds[i].name, r.left, r.top, r.right, r.bottom, mods[0], mods[1],
                              mods[2], mods[3]);
    }
    LONG width[3], height[3];
    for (int i = 0; i < 3; i++) {
        width[i] = rects[i].right - rects[i].left;
        height[i] = rects[i].bottom - rects[i].top;
    }
    if (!*bad && got[0] && got[1] && (width[0] < width[1] || height[0] < height[1]))
        std::snprintf(bad, sizeof bad, "a current rectangle of %ld x %ld below the smallest, %ld x %ld", width[0],
                      height[0], width[1], height[1]);
    if (!*bad && got[0] && got[2] && (width[0] > width[2] || height[0] > height[2]))
        std::snprintf(bad, sizeof bad, "a current rectangle of %ld x %ld above the largest, %ld x %ld", width[0],
                      height[0], width[2], height[2]);
    if (any)
        Expect(!*bad, "queries.rect-caps", "%s %s: expected its rectangles in the steps of its caps and the current "
               "one within the smallest and the largest, got %s", name, messageName, *bad ? bad : "them so");
}

// One DVM_FORMAT, DVM_SRC_RECT or DVM_DST_RECT with `flags`, whose record
// the message carries in its own way.
static DWORD Configure(HDRVR channel, UINT message, DWORD flags, void *record, DWORD size)
{
    if (message != DVM_FORMAT)
        return Send(channel, message, reinterpret_cast<LPARAM>(record), flags);
    DWORD returned = Untouched;
    VIDEOCONFIGPARMS parms = {&returned, record, size, NULL, 0};
    return Send(channel, DVM_FORMAT, flags, reinterpret_cast<LPARAM>(&parms));
}

// VIDEO_CONFIGURE_QUERY asks whether the get or the set is supported: a yes
// to an operation that answers DV_ERR_NOTSUPPORTED misleads a client, a no
// to one that works only hides it. The set is probed with the current value.
static void CheckConfigureQuery(HDRVR channel, const char *name, UINT message, const char *messageName)
{
    std::vector<BYTE> record;
    RECT rect = {0, 0, 0, 0};
    DWORD get = message == DVM_FORMAT ? GetFormatRecord(channel, record)
                                      : Send(channel, message, reinterpret_cast<LPARAM>(&rect),
                                             VIDEO_CONFIGURE_GET | VIDEO_CONFIGURE_CURRENT);
    if (message != DVM_FORMAT)
        record.assign(reinterpret_cast<BYTE *>(&rect), reinterpret_cast<BYTE *>(&rect + 1));
    DWORD set = get != DV_ERR_OK ? Untouched
              : message == DVM_FORMAT ? SetFormatRecord(channel, record)
                                      : Send(channel, message, reinterpret_cast<LPARAM>(&rect),
                                             VIDEO_CONFIGURE_SET | VIDEO_CONFIGURE_CURRENT);
    const struct {
        const char *op;
        DWORD flag, actual;
    } ops[] = {{"get", VIDEO_CONFIGURE_GET, get}, {"set", VIDEO_CONFIGURE_SET, set}};
    char bad[160] = "", hidden[160] = "";
    for (const auto &o : ops) {
        std::vector<BYTE> copy = record;
        DWORD query = Configure(channel, message, VIDEO_CONFIGURE_QUERY | o.flag, copy.data(),
                                static_cast<DWORD>(copy.size()));
        if (o.actual == Untouched || *bad)
            continue; // a set is probed only with a value the get gave
        if (!IsDocumentedCode(query) || (query == DV_ERR_OK && o.actual == DV_ERR_NOTSUPPORTED))
            std::snprintf(bad, sizeof bad, "VIDEO_CONFIGURE_QUERY for the %s answered %s and the %s %s", o.op,
                          CodeName(query), o.op, CodeName(o.actual));
        else if (query != DV_ERR_OK && o.actual == DV_ERR_OK)
            std::snprintf(hidden, sizeof hidden, "VIDEO_CONFIGURE_QUERY for the %s answers %s, yet the %s works: "
                          "clients that ask first never use it", o.op, CodeName(query), o.op);
    }
    if (*bad)
        Fail("queries.configure-query", "%s %s: expected the query to answer DV_ERR_OK only for what is supported, "
             "got %s", name, messageName, bad);
    else if (*hidden)
        Warn("queries.configure-query", "%s %s: %s", name, messageName, hidden);
    else
        Pass("queries.configure-query", "%s %s: the queries match the get (%s) and the set (%s)", name, messageName,
             CodeName(get), set == Untouched ? "not probed" : CodeName(set));
}

void CheckCapabilities(HDRVR channel, const char *name, const CHANNEL_CAPS *caps)
{
    Step("capabilities of %s against its rectangles and its VIDEO_CONFIGURE_QUERY answers", name);
    CheckRectCaps(channel, name, DVM_SRC_RECT, "DVM_SRC_RECT", caps ? &caps->dwSrcRectXMod : NULL);
    CheckRectCaps(channel, name, DVM_DST_RECT, "DVM_DST_RECT", caps ? &caps->dwDstRectXMod : NULL);
    CheckConfigureQuery(channel, name, DVM_FORMAT, "DVM_FORMAT");
    CheckConfigureQuery(channel, name, DVM_SRC_RECT, "DVM_SRC_RECT");
    CheckConfigureQuery(channel, name, DVM_DST_RECT, "DVM_DST_RECT");
}
