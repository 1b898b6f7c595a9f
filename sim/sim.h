/* Internal state of the virtual board's kernel driver. */
#ifndef SIM_H
#define SIM_H

#include <ntddk.h>
#include "scene.h"

typedef struct BoardState {
    FAST_MUTEX lock;          /* guards every field below */
    PDEVICE_OBJECT video;     /* \Device\ZentacapVideo0 */
    PDEVICE_OBJECT control;   /* \Device\ZentacapBoard */
    int linked;               /* the video device's DOS link exists */
    BoardFaults faults;
    FormatParams format;
    SourceParams source;
    ScenePalette palette;
    uint32_t frameNumber;     /* the least number the next read delivers */
    uint32_t missedFrames;    /* live input frames that passed unread between two reads */
    uint32_t openings;        /* opens since reset, numbering the handles */
    uint32_t openers;         /* handles open now */
    PFILE_OBJECT owner;       /* the handle that holds the video device (arbiter.c) */
    LONGLONG epoch;           /* live pacing: when input frame 0 began, in 100 ns */
    JournalEntry *journal;    /* JOURNAL_SLOTS entries, a ring */
    uint32_t journalTotal;
} BoardState;

extern BoardState Board;

void LockBoard(void);
void UnlockBoard(void);
NTSTATUS CompleteIrp(PIRP irp, NTSTATUS status, ULONG_PTR information);

/* journal.c (called with the board locked) */
void JournalRecord(uint32_t kind, uint32_t opening, uint32_t code, const void *data,
                   uint32_t length, NTSTATUS status, uint32_t result);

/* arbiter.c: which handle may use the video device */
void StartArbiter(void);
void StopArbiter(void);
void ClaimDevice(PFILE_OBJECT file);
void ReleaseDevice(PFILE_OBJECT file);
NTSTATUS ArbitrateUse(PFILE_OBJECT file, PIRP irp);

/* video.c */
extern const WCHAR VideoDeviceName[];
uint32_t FramePeriodUs(uint32_t standard);
void ResetVideo(void);
NTSTATUS SetVideoLink(int present);
NTSTATUS VideoDispatch(PIO_STACK_LOCATION stack, PIRP irp);
NTSTATUS FinishUse(PIRP irp, int refused);

/* control.c */
NTSTATUS ControlDispatch(PIO_STACK_LOCATION stack, PIRP irp);

#endif
