// boardctl: installs, starts and stops the virtual board, programs its faults
// and prints its status and journal.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include "client.h"

static const char Usage[] =
    "usage: boardctl COMMAND\n"
    "  install [zentacap.sys]   copy the driver and register service \"zentacap\"\n"
    "  remove | start | stop    the kernel service\n"
    "  reset                    power-on state, faults cleared, journal emptied\n"
    "  status | journal         print the board's state or what it received\n"
    "  pace live|free           reads wait for frame time, or deliver at once\n"
    "  fail-reads N [nomem|io]  fail the next N reads (out of storage, or I/O error)\n"
    "  refuse CODE|none         refuse one request code (hex)\n"
    "  absent on|off            remove or restore the video device\n";

static int Report(DWORD error, const char *what)
{
    if (error == ERROR_SUCCESS)
        return 0;
    std::fprintf(stderr, "boardctl: %s failed: error %lu\n", what, error);
    return 1;
}

static bool Status(BoardStatus *status)
{
    if (GetBoardStatus(status))
        return true;
    std::fprintf(stderr, "boardctl: the board does not answer (service not running?)\n");
    return false;
}

static int ChangeFaults(int argc, char **argv)
{
    BoardStatus status;
    if (!Status(&status))
        return 1;
    BoardFaults faults = status.faults;
    const char *command = argv[1], *value = argc > 2 ? argv[2] : "";
    if (!std::strcmp(command, "pace")) {
        faults.freeRunning = !std::strcmp(value, "free");
    } else if (!std::strcmp(command, "fail-reads")) {
        faults.failReads = (uint32_t)std::strtoul(value, NULL, 10);
        faults.failStatus = argc > 3 && !std::strcmp(argv[3], "io") ? (int32_t)0xC0000185  // STATUS_IO_DEVICE_ERROR
                                                                    : (int32_t)0xC0000017; // STATUS_NO_MEMORY
    } else if (!std::strcmp(command, "refuse")) {
        faults.refuseCode = !std::strcmp(value, "none") ? 0 : (uint32_t)std::strtoul(value, NULL, 16);
    } else if (!std::strcmp(command, "absent")) {
        faults.absent = !std::strcmp(value, "on");
    } else {
        std::fputs(Usage, stderr);
        return 2;
    }
    return SetBoardFaults(faults) ? 0 : Report(ERROR_GEN_FAILURE, command);
}

static int PrintStatus()
{
    BoardStatus s;
    if (!Status(&s))
        return 1;
    std::printf("openers %u, next frame %u, frame period %u us, %u frames missed, journal %u entries\n",
                s.openers, s.frameNumber, s.framePeriodUs, s.missedFrames, s.journalTotal);
    std::printf("format %u, %u x %u, zoom %u/%u, mirror %u/%u, offset %u/%u\n",
                s.format.formatCode, s.format.width, s.format.height, s.format.scaleX,
                s.format.scaleY, s.format.mirrorX, s.format.mirrorY, s.format.offsetX,
                s.format.offsetY);
    std::printf("standard %u, hue %d, saturation %d, brightness %u, contrast %d\n",
                s.source.standard, s.source.hue, s.source.saturation, s.source.brightness,
                s.source.contrast);
    std::printf("faults: absent %u, free-running %u, fail %u reads with 0x%08lX, refuse 0x%08X\n",
                s.faults.absent, s.faults.freeRunning, s.faults.failReads,
                (unsigned long)s.faults.failStatus, s.faults.refuseCode);
    return 0;
}

static int PrintJournal()
{
    static const char *const Kinds[] = {"?", "open", "close", "read", "request"};
    for (const JournalEntry &e : ReadBoardJournal()) {
        std::printf("%-7s #%u code 0x%08X length %u status 0x%08lX result %u data",
                    Kinds[e.kind <= 4 ? e.kind : 0], e.opening, e.code, e.length,
                    (unsigned long)e.status, e.result);
        for (uint32_t i = 0; e.kind == JOURNAL_REQUEST && i < e.length && i < JOURNAL_DATA_BYTES; i++)
            std::printf(" %02X", e.data[i]);
        std::printf("\n");
    }
    return 0;
}

static const char *DriverBesideProgram()
{
    static char path[MAX_PATH];
    DWORD length = GetModuleFileNameA(NULL, path, MAX_PATH);
    char *slash = std::strrchr(path, '\\');
    if (!length || !slash || slash - path > MAX_PATH - 16)
        return "zentacap.sys";
    std::strcpy(slash + 1, "zentacap.sys");
    return path;
}

int main(int argc, char **argv)
{
    const char *command = argc > 1 ? argv[1] : "";
    if (!std::strcmp(command, "install"))
        return Report(InstallBoard(argc > 2 ? argv[2] : DriverBesideProgram()), "install");
    if (!std::strcmp(command, "remove"))
        return Report(RemoveBoard(), "remove");
    if (!std::strcmp(command, "start"))
        return Report(StartBoard(), "start");
    if (!std::strcmp(command, "stop"))
        return Report(StopBoard(), "stop");
    if (!std::strcmp(command, "reset"))
        return ResetBoard() ? 0 : Report(ERROR_GEN_FAILURE, "reset");
    if (!std::strcmp(command, "status"))
        return PrintStatus();
    if (!std::strcmp(command, "journal"))
        return PrintJournal();
    if (argc > 1)
        return ChangeFaults(argc, argv);
    std::fputs(Usage, stderr);
    return 2;
}
