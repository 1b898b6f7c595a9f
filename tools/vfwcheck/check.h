// vfwcheck: what the check groups share: the report, the Video for Windows
// error codes, the channel types and each group's entry point.
#ifndef VFWCHECK_CHECK_H
#define VFWCHECK_CHECK_H

#include <vector>
#include "vfwdrv.h"

// Report lines of a child run (runner.cpp reads and counts them). Each rule
// is "group.name"; a failure says what was expected and what came back.
void Pass(const char *rule, const char *format, ...);
void Fail(const char *rule, const char *format, ...);
void Warn(const char *rule, const char *format, ...);
bool Expect(bool ok, const char *rule, const char *format, ...);
// The step about to run: the last one named is blamed for a crash or a hang.
void Step(const char *format, ...);
void Emit(const char *format, ...); // a raw line, for the runner's markers

// The driver's answers are DV_ERR_* codes 0..DV_ERR_LASTERROR, or its own
// codes from DV_ERR_USER_MSG on (DVM_STREAM_ADDBUFFER: "Custom error codes
// are also allowed (see DVM_GETERRORTEXT)").
bool IsDocumentedCode(DWORD code);
// "DV_ERR_NOTSUPPORTED (17)" and the like, in one of a few rotating buffers.
const char *CodeName(DWORD code);
// Each non-zero code the driver answered is reported once, for the error
// text checks (queries.cpp).
void NoteCode(DWORD code);

// Unassigned numbers among the capture messages: configuration (0x1000..),
// driver (0x4000..), single frame (0x40C8..) and stream (0x412C..0x418F).
inline constexpr UINT UnknownMessages[] = {0x1006, 0x1FFF, 0x4002, 0x4068, 0x40C9, 0x4140, 0x418F, 0x4190, 0x7FFF};

struct ChannelType {
    DWORD flag;
    const char *name;
};
extern const ChannelType ChannelTypes[4]; // VIDEO_EXTERNALIN, VIDEO_IN, VIDEO_OUT, VIDEO_EXTERNALOUT
const char *ChannelName(DWORD type);

// The current capture format of a VIDEO_IN channel (format.cpp), and the
// image size that width, height and depth give for an uncompressed one.
bool GetFormat(HDRVR channel, BITMAPINFOHEADER *header);
DWORD UncompressedSize(const BITMAPINFOHEADER &header);

void CheckLifecycle();
void CheckQueries(const std::vector<DWORD> &codes);
void CheckFormat();
void CheckStream();
extern const int SizedRecordCount;
void CheckRecords(int row);
void CheckRobustness();
void CheckBoardFaults();
void RunFuzz(DWORD steps, DWORD seed, const char *stepList);

#endif
