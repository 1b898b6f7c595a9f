// vfwcheck: what the check groups share: the report, the Video for Windows
// error codes, the channel types and each group's entry point.
#ifndef VFWCHECK_CHECK_H
#define VFWCHECK_CHECK_H

#include <vector>
#include "vfwdrv.h"

// The run's settings, from the options; the parent hands them to each child.
struct RunSettings {
    int frames = 12;         // frames each stream of the stream group delivers
    DWORD watchdog = 15000;  // ms a child may go without a line
    bool allFormats = false; // the format group sweeps every size and colour space it can set
    bool trace = false;      // a line for every message sent to the driver
    bool stopAtFail = false; // the run ends at its first failure
};
extern RunSettings Settings;
// The wait for `frames` frames: a third of the watchdog for every 12 (5 s by default).
DWORD FrameWait(int frames);

// Report lines of a child run (runner.cpp reads and counts them). Each rule
// is "group.name"; a failure says what was expected and what came back.
void Pass(const char *rule, const char *format, ...);
void Fail(const char *rule, const char *format, ...);
void Warn(const char *rule, const char *format, ...);
bool Expect(bool ok, const char *rule, const char *format, ...);
// A check that passes with something worth telling (a measured rate): shown
// without --verbose, counted as a pass.
void Info(const char *rule, const char *format, ...);
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
// The whole format record (the header and what follows it), and a set of
// one from a guarded copy.
DWORD GetFormatRecord(HDRVR channel, std::vector<BYTE> &record);
DWORD SetFormatRecord(HDRVR channel, const std::vector<BYTE> &record);
void DescribeFormat(const BITMAPINFOHEADER &header, char *text, size_t size);

void DescribeDriver(); // the report's header (about.cpp)
void CheckLifecycle();
void CheckQueries(const std::vector<DWORD> &codes);
// The rectangles against the caps (NULL where none were given) and the
// VIDEO_CONFIGURE_QUERY answers against the gets and sets they describe.
void CheckCapabilities(HDRVR channel, const char *name, const CHANNEL_CAPS *caps);
void CheckFormat();
void CheckStream();
extern const int OrderCheckCount;
void CheckOrder(int row);
extern const int SizedRecordCount;
void CheckRecords(int row);
void CheckRobustness();
void CheckBoardFaults();
void RunFuzz(DWORD steps, DWORD seed, const char *stepList);

#endif
