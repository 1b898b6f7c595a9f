// Fuzz: a seeded random sequence of capture messages on random instances,
// with random flags and records of random size and content flush against
// no-access pages, streams interleaved. Every answer must be a documented
// code and every handed-back header one the driver held; nothing may crash,
// hang or overrun, and handles and memory end where they began.
// The sequence keeps the promises the capture layer keeps: pointers are valid
// for the sizes they come with, a header stays allocated while the driver
// holds it, and nothing is sent that waits for a user (DRV_CONFIGURE,
// DVM_DIALOG without VIDEO_DLG_QUERY, DVM_UPDATE) or changes the installation
// (DRV_INSTALL, DRV_REMOVE, DVM_CONFIGURESTORAGE).
#include <cstdlib>
#include <cstring>
#include <vector>
#include <algorithm>
#include "check.h"
#include "host.h"

static const int Slots = 6, PoolSize = 32;
static const DWORD BufferBytes = 64 * 1024;
static const SIZE_T MemorySlack = 256 * 1024;

// Each step draws from a generator of its own, so that any subset of the
// steps replays as it ran (--steps).
struct Random {
    ULONGLONG state;
    DWORD Next()
    {
        ULONGLONG z = (state += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return static_cast<DWORD>((z ^ (z >> 31)) >> 16);
    }
    DWORD Below(DWORD n) { return n ? Next() % n : 0; }
    template <typename T, size_t N> T Pick(const T (&table)[N]) { return table[Below(N)]; }
};

struct Slot {
    HDRVR instance;
    DWORD type; // 0: a configuration instance
};

struct PoolEntry {
    VIDEOHDR *header; // placed flush against the guard at its size
    DWORD size;
    BYTE *buffer;
    LONG owned;       // added and not yet handed back
};

struct NamedMessage {
    UINT message;
    const char *name;
};

static const NamedMessage Messages[] = {
    {DRV_QUERYCONFIGURE, "DRV_QUERYCONFIGURE"}, {DVM_GETERRORTEXT, "DVM_GETERRORTEXT"},
    {DVM_GETVIDEOAPIVER, "DVM_GETVIDEOAPIVER"}, {DVM_DIALOG, "DVM_DIALOG"},
    {DVM_GET_CHANNEL_CAPS, "DVM_GET_CHANNEL_CAPS"}, {DVM_FORMAT, "DVM_FORMAT"}, {DVM_SRC_RECT, "DVM_SRC_RECT"},
    {DVM_DST_RECT, "DVM_DST_RECT"}, {DVM_PALETTE, "DVM_PALETTE"}, {DVM_PALETTERGB555, "DVM_PALETTERGB555"},
    {DVM_FRAME, "DVM_FRAME"}, {DVM_STREAM_INIT, "DVM_STREAM_INIT"}, {DVM_STREAM_ADDBUFFER, "DVM_STREAM_ADDBUFFER"},
    {DVM_STREAM_ADDBUFFER, "DVM_STREAM_ADDBUFFER"}, {DVM_STREAM_PREPAREHEADER, "DVM_STREAM_PREPAREHEADER"},
    {DVM_STREAM_UNPREPAREHEADER, "DVM_STREAM_UNPREPAREHEADER"}, {DVM_STREAM_START, "DVM_STREAM_START"},
    {DVM_STREAM_STOP, "DVM_STREAM_STOP"}, {DVM_STREAM_RESET, "DVM_STREAM_RESET"}, {DVM_STREAM_FINI, "DVM_STREAM_FINI"},
    {DVM_STREAM_GETERROR, "DVM_STREAM_GETERROR"}, {DVM_STREAM_GETPOSITION, "DVM_STREAM_GETPOSITION"},
    {0, "an unknown message"}};

static const DWORD ChannelChoices[] = {0, VIDEO_EXTERNALIN, VIDEO_IN, VIDEO_IN, VIDEO_OUT, VIDEO_EXTERNALOUT, 0x10};
static const DWORD FormatFlags[] = {
    VIDEO_CONFIGURE_GET | VIDEO_CONFIGURE_CURRENT, VIDEO_CONFIGURE_SET | VIDEO_CONFIGURE_CURRENT, VIDEO_CONFIGURE_SET,
    VIDEO_CONFIGURE_GET, VIDEO_CONFIGURE_GET | VIDEO_CONFIGURE_QUERYSIZE, VIDEO_CONFIGURE_QUERYSIZE,
    VIDEO_CONFIGURE_QUERY | VIDEO_CONFIGURE_GET, VIDEO_CONFIGURE_QUERY | VIDEO_CONFIGURE_SET,
    VIDEO_CONFIGURE_GET | VIDEO_CONFIGURE_MIN, VIDEO_CONFIGURE_GET | VIDEO_CONFIGURE_MAX,
    VIDEO_CONFIGURE_GET | VIDEO_CONFIGURE_NOMINAL, 0};
static const LONG Widths[] = {0, 1, 80, 160, 320, 640, 641, -160, 100000};
static const LONG Heights[] = {0, 1, 60, 120, 240, 480, -120, 100000};
static const WORD Depths[] = {0, 8, 15, 16, 24, 32, 33};
static const DWORD Compressions[] = {BI_RGB, BI_BITFIELDS, mmioFOURCC('Y', 'U', 'Y', '2'), mmioFOURCC('j', 'u', 'n', 'k')};

static Slot Instances[Slots];
static PoolEntry Pool[PoolSize];
static CRITICAL_SECTION PoolLock;
static volatile LONG CurrentStep, Failed;

static void CALLBACK OnData(HDRVR, UINT message, DWORD_PTR, DWORD_PTR param1, DWORD_PTR)
{
    if (message != MM_DRVM_DATA)
        return;
    bool held = false;
    EnterCriticalSection(&PoolLock);
    for (PoolEntry &e : Pool) {
        if (e.owned && e.header == reinterpret_cast<VIDEOHDR *>(param1)) {
            e.owned = 0;
            held = true;
        }
    }
    LeaveCriticalSection(&PoolLock);
    // MM_DRVM_DATA names a header "received along with a DVM_STREAM_ADDBUFFER message".
    if (!held && !InterlockedExchange(&Failed, 1))
        Fail("fuzz.data-header", "step %ld: expected MM_DRVM_DATA for a header the driver holds, got %p", CurrentStep,
             reinterpret_cast<void *>(param1));
}

static bool ChannelOpen()
{
    for (const Slot &s : Instances)
        if (s.instance && s.type)
            return true;
    return false;
}

static void OpenStep(Random &r, DWORD index, int slot)
{
    DWORD type = r.Pick(ChannelChoices);
    FOURCC fcc = r.Below(10) ? FccVcap : mmioFOURCC('j', 'u', 'n', 'k');
    if (Instances[slot].instance) {
        Step("%lu: nothing (slot %d is open)", index, slot);
        return;
    }
    Step("%lu: open slot %d as %s%s", index, slot, type ? ChannelName(type) : "a configuration instance",
         fcc == FccVcap ? "" : " of type 'junk'");
    VIDEO_OPEN_PARMS parms;
    Instances[slot].instance = type ? OpenChannel(type, &parms, fcc) : OpenInstance(NULL);
    Instances[slot].type = type;
}

static void CloseStep(DWORD index, int slot)
{
    if (!Instances[slot].instance) {
        Step("%lu: nothing (slot %d is closed)", index, slot);
        return;
    }
    Step("%lu: close slot %d", index, slot);
    CloseInstance(Instances[slot].instance);
    Instances[slot] = Slot{};
    // With every channel closed the driver holds no header any more.
    if (!ChannelOpen())
        for (PoolEntry &e : Pool)
            e.owned = 0;
}

// A header not held by the driver, placed anew at `size` bytes.
static PoolEntry *FreeEntry(Random &r, DWORD size)
{
    for (DWORD i = 0, first = r.Below(PoolSize); i < PoolSize; i++) {
        PoolEntry &e = Pool[(first + i) % PoolSize];
        if (e.owned)
            continue;
        FreeRecord(e.header);
        e.header = static_cast<VIDEOHDR *>(GuardedRecord(size, "fuzz.overrun", "VIDEOHDR given to DVM_STREAM_ADDBUFFER"));
        e.size = size;
        return &e;
    }
    return NULL;
}

static void CheckAnswer(DWORD index, const char *name, bool unknown, int slot, DWORD answer)
{
    const char *rule = NULL;
    if (unknown && Instances[slot].type && answer != DV_ERR_NOTSUPPORTED)
        rule = "fuzz.unknown-message";
    else if (!unknown && !IsDocumentedCode(answer))
        rule = "fuzz.answer";
    if (rule && !InterlockedExchange(&Failed, 1))
        Fail(rule, "step %lu, %s to slot %d: expected %s, got %s", index, name, slot,
             unknown && Instances[slot].type ? "DV_ERR_NOTSUPPORTED" : "a documented code", CodeName(answer));
}

static void SendStep(Random &r, DWORD index, int slot)
{
    const NamedMessage &m = r.Pick(Messages);
    UINT message = m.message ? m.message : r.Pick(UnknownMessages);
    std::vector<void *> records;
    auto record = [&](DWORD size) {
        records.push_back(GuardedRecord(size, "fuzz.overrun", m.name));
        return records.back();
    };
    LPARAM p1 = 0, p2 = 0;
    DWORD values[2] = {Untouched, Untouched}, size = 0, flags = r.Below(8) ? r.Pick(FormatFlags) : r.Next();
    VIDEOCONFIGPARMS config = {values, NULL, 0, NULL, 0};
    VIDEO_GETERRORTEXT_PARMS text = {};
    RECT rect = {static_cast<LONG>(r.Next()), 0, static_cast<LONG>(r.Below(1000)), static_cast<LONG>(r.Below(1000))};
    PoolEntry *added = NULL;
    switch (message) {
    case DVM_GETERRORTEXT:
        size = r.Below(65);
        text = VIDEO_GETERRORTEXT_PARMS{r.Below(4) ? r.Below(32) : DV_ERR_USER_MSG + r.Below(4), static_cast<LPSTR>(record(size)), size};
        p1 = reinterpret_cast<LPARAM>(&text);
        break;
    case DVM_GETVIDEOAPIVER:
        p1 = reinterpret_cast<LPARAM>(values);
        break;
    case DVM_DIALOG:
        p2 = VIDEO_DLG_QUERY;
        break;
    case DVM_GET_CHANNEL_CAPS:
    case DVM_STREAM_GETPOSITION:
        size = r.Below(message == DVM_GET_CHANNEL_CAPS ? 41 : 17);
        p1 = reinterpret_cast<LPARAM>(std::memset(record(size), 1, size));
        p2 = size;
        break;
    case DVM_FORMAT: {
        BITMAPINFOHEADER h = {sizeof h, r.Pick(Widths), r.Pick(Heights), static_cast<WORD>(r.Below(3)), r.Pick(Depths),
                              r.Pick(Compressions), r.Next() % 2000000, 0, 0, 0, 0};
        size = r.Below(49);
        config.lpData1 = std::memcpy(record(size), &h, size < sizeof h ? size : sizeof h);
        config.dwSize1 = size;
        p1 = flags;
        p2 = reinterpret_cast<LPARAM>(&config);
        break;
    }
    case DVM_SRC_RECT:
    case DVM_DST_RECT:
        p1 = reinterpret_cast<LPARAM>(&rect);
        p2 = flags;
        break;
    case DVM_PALETTE:
    case DVM_PALETTERGB555: {
        LOGPALETTE *palette = static_cast<LOGPALETTE *>(record(sizeof(LOGPALETTE) + 255 * sizeof(PALETTEENTRY)));
        palette->palVersion = 0x300;
        palette->palNumEntries = static_cast<WORD>(r.Below(257));
        p1 = message == DVM_PALETTE ? flags : reinterpret_cast<LPARAM>(palette);
        p2 = message == DVM_PALETTE ? reinterpret_cast<LPARAM>(palette) : reinterpret_cast<LPARAM>(record(32768));
        break;
    }
    case DVM_FRAME:
    case DVM_STREAM_ADDBUFFER: {
        size = r.Below(5) ? sizeof(VIDEOHDR) : r.Below(sizeof(VIDEOHDR) + 1);
        DWORD length = r.Below(BufferBytes + 1);
        BYTE *buffer = message == DVM_FRAME ? static_cast<BYTE *>(record(length)) : NULL;
        if (message == DVM_STREAM_ADDBUFFER) {
            if (!(added = FreeEntry(r, size))) {
                Step("%lu: nothing (the driver holds every header)", index);
                return;
            }
            buffer = added->buffer + BufferBytes - length;
        }
        VIDEOHDR h = {buffer, length, 0, 0, index, r.Below(8) ? static_cast<DWORD>(VHDR_PREPARED) : r.Next() & VHDR_VALID, {}};
        void *header = added ? static_cast<void *>(added->header) : record(size);
        std::memcpy(header, &h, size);
        p1 = reinterpret_cast<LPARAM>(header);
        p2 = size;
        break;
    }
    case DVM_STREAM_INIT: {
        VIDEO_STREAM_INIT_PARMS parms = {r.Below(100000), reinterpret_cast<DWORD_PTR>(OnData), static_cast<DWORD_PTR>(slot),
                                         r.Below(10) ? static_cast<DWORD>(CALLBACK_FUNCTION) : CALLBACK_NULL,
                                         reinterpret_cast<DWORD_PTR>(Instances[slot].instance)};
        size = r.Below(5) ? sizeof parms : r.Below(sizeof parms + 5);
        p1 = reinterpret_cast<LPARAM>(std::memcpy(record(size), &parms, size < sizeof parms ? size : sizeof parms));
        p2 = size;
        break;
    }
    case DVM_STREAM_PREPAREHEADER:
    case DVM_STREAM_UNPREPAREHEADER: {
        const PoolEntry &e = Pool[r.Below(PoolSize)];
        p1 = reinterpret_cast<LPARAM>(e.header);
        p2 = size = e.size;
        break;
    }
    case DVM_STREAM_GETERROR:
        p1 = reinterpret_cast<LPARAM>(&values[0]);
        p2 = reinterpret_cast<LPARAM>(&values[1]);
        break;
    }
    Step("%lu: %s 0x%04X to slot %d (%s), lParam1 0x%lX, record %lu bytes", index, m.name, message, slot,
         Instances[slot].type ? ChannelName(Instances[slot].type) : "configuration", static_cast<DWORD>(p1), size);
    if (added) {
        EnterCriticalSection(&PoolLock);
        added->owned = 1; // before the add: the driver may hand it back at once
        LeaveCriticalSection(&PoolLock);
    }
    DWORD answer = Send(Instances[slot].instance, message, p1, p2);
    if (added && answer != DV_ERR_OK)
        added->owned = 0;
    CheckAnswer(index, m.name, !m.message, slot, answer);
    for (void *used : records)
        FreeRecord(used);
}

static void RunStep(DWORD seed, DWORD index)
{
    Random r = {(static_cast<ULONGLONG>(seed) << 32) ^ (index * 0xD1B54A32D192ED03ull)};
    CurrentStep = index;
    int slot = r.Below(Slots);
    DWORD kind = r.Below(100);
    if (kind < 6) {
        OpenStep(r, index, slot);
    } else if (kind < 10) {
        CloseStep(index, slot);
    } else if (kind < 14) {
        DWORD ms = r.Below(20);
        Step("%lu: pause %lu ms", index, ms);
        Sleep(ms);
    } else if (!Instances[slot].instance) {
        Step("%lu: nothing (slot %d is closed)", index, slot);
    } else {
        SendStep(r, index, slot);
    }
}

// "a-b,c,..." (1-based, ascending) or, without a list, 1 to `steps`.
static std::vector<DWORD> StepNumbers(const char *list, DWORD steps)
{
    std::vector<DWORD> numbers;
    if (!list) {
        for (DWORD i = 1; i <= steps; i++)
            numbers.push_back(i);
        return numbers;
    }
    for (const char *p = list; *p;) {
        char *end;
        DWORD first = std::strtoul(p, &end, 10), last = first;
        if (*end == '-')
            last = std::strtoul(end + 1, &end, 10);
        for (DWORD i = first; i <= last && i <= steps; i++)
            numbers.push_back(i);
        p = *end == ',' ? end + 1 : end + std::strlen(end);
    }
    return numbers;
}

void RunFuzz(DWORD steps, DWORD seed, const char *stepList)
{
    InitializeCriticalSection(&PoolLock);
    if (!LoadDriver("fuzz.load"))
        return;
    std::vector<DWORD> numbers = StepNumbers(stepList, steps);
    for (PoolEntry &e : Pool) {
        e.buffer = static_cast<BYTE *>(GuardedRecord(BufferBytes, "fuzz.overrun", "buffer of an added header"));
        e.header = static_cast<VIDEOHDR *>(GuardedRecord(sizeof(VIDEOHDR), "fuzz.overrun", "VIDEOHDR"));
        e.size = sizeof(VIDEOHDR);
    }
    // The steps run twice. The first pass puts in the baseline what the
    // process keeps once the sequence has run (its windows, threads and
    // callbacks, and the high-water mark of its heaps, which do not shrink);
    // a leak grows again in the second.
    Usage before = {};
    for (int pass = 0; pass < 2; pass++) {
        for (DWORD i = 0; i < numbers.size(); i++) {
            RunStep(seed, numbers[i]);
            if (Failed) {
                Emit("@done"); // the driver's state is unknown: no clean-up
                TerminateProcess(GetCurrentProcess(), 1);
            }
        }
        for (int slot = 0; slot < Slots; slot++)
            CloseStep(0, slot);
        if (!pass)
            before = MeasureUsage();
    }
    Usage after = MeasureUsage();
    Pass("fuzz.steps", "%lu steps of seed %lu: documented answers, held headers, no crash, hang or overrun",
         static_cast<DWORD>(numbers.size()), seed);
    if (before.handles)
        Expect(after.handles == before.handles, "fuzz.leak-handles", "after the run: expected %lu handles as before, "
               "got %lu", before.handles, after.handles);
    ExpectMemoryWithin("fuzz.leak-memory", "after the run", before, after, MemorySlack);
    UnloadDriver();
}
