/*
 * The virtual Brightvane 7K42Q board: what its kernel driver serves.
 *
 * The video device speaks the capture driver's device protocol
 * (device_protocol.h: three requests and frame reads). A second, control device lets tests and the
 * demo tools program faults, switch pacing and read the journal of
 * everything the video device received.
 *
 * Shared by the kernel driver (C), the board tools and the tests (C++).
 */
#ifndef BOARD_H
#define BOARD_H

#include "device_protocol.h"

/* Value of "DeviceName" in the service's Parameters key: the video device
 * opens as \\.\ZentacapVideo0. The control device opens as \\.\ZentacapBoard. */
#define BOARD_DEVICE_NAME   "ZentacapVideo0"
#define BOARD_CONTROL_NAME  "ZentacapBoard"

/* Control device requests: FILE_DEVICE_UNKNOWN, METHOD_BUFFERED, FILE_ANY_ACCESS. */
#define BOARD_CTL(fn) (0x00220000u | ((uint32_t)(fn) << 2))
#define IOCTL_BOARD_RESET         BOARD_CTL(0x900) /* no input: power-on state, journal emptied */
#define IOCTL_BOARD_SET_FAULTS    BOARD_CTL(0x901) /* input BoardFaults */
#define IOCTL_BOARD_GET_STATUS    BOARD_CTL(0x902) /* output BoardStatus */
#define IOCTL_BOARD_READ_JOURNAL  BOARD_CTL(0x903) /* input u32 first entry; output JournalEntry[] */

typedef struct BoardFaults {
    uint32_t absent;       /* 1: the video device's link is gone, opens fail (file not found) */
    uint32_t freeRunning;  /* 1: reads deliver at once instead of at the next frame time */
    uint32_t failReads;    /* the next failReads reads fail ... */
    int32_t  failStatus;   /* ... with this NTSTATUS (0xC0000017: ERROR_NOT_ENOUGH_MEMORY) */
    uint32_t refuseCode;   /* this request code is refused; 0 refuses none */
} BoardFaults;

typedef struct BoardStatus {
    uint32_t openers;        /* handles open on the video device */
    uint32_t frameNumber;    /* least number of the next frame, 0 after a restart: at live
                                pacing a read gets the input's frame in progress, numbered by
                                the frame periods since the restart */
    uint32_t framePeriodUs;  /* 40000 (25 frames/s) or 33367 (29.97) */
    uint32_t missedFrames;   /* at live pacing, input frames that passed unread between two
                                reads since the restart: a reader (or a machine) too slow */
    uint32_t journalTotal;   /* entries recorded since the last reset */
    BoardFaults faults;
    FormatParams format;
    SourceParams source;
} BoardStatus;

enum { JOURNAL_OPEN = 1, JOURNAL_CLOSE = 2, JOURNAL_READ = 3, JOURNAL_REQUEST = 4 };
#define JOURNAL_DATA_BYTES 28
#define JOURNAL_SLOTS      4096

/* One thing the video device received. */
typedef struct JournalEntry {
    uint32_t kind;      /* JOURNAL_* */
    uint32_t opening;   /* which open the handle came from: 1, 2, ... since reset */
    uint32_t code;      /* request code; 0 for the others */
    uint32_t length;    /* request input length, or the read's buffer length */
    int32_t  status;    /* NTSTATUS the board answered */
    uint32_t result;    /* bytes delivered by a read */
    uint8_t  data[JOURNAL_DATA_BYTES]; /* request input (first 28 bytes) */
} JournalEntry;

LAYOUT_ASSERT(sizeof(JournalEntry) == 52, "JournalEntry is 52 bytes");

#endif
