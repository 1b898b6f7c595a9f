// Driver side of Video for Windows: the messages and records that a capture
// driver answers and that the toolchain's headers leave out.
#ifndef VFWDRV_H
#define VFWDRV_H

#include <windows.h>
#include <mmsystem.h>
#include <vfw.h>
#include <stddef.h>

#define DVM_GETERRORTEXT            0x4000
#define DVM_GETVIDEOAPIVER          0x4001
#define DVM_DIALOG                  0x4064
#define DVM_CONFIGURESTORAGE        0x4065
#define DVM_GET_CHANNEL_CAPS        0x4066
#define DVM_FRAME                   0x40C8
#define DVM_STREAM_MSG_START        0x412C
#define DVM_STREAM_MSG_END          0x418F
#define DVM_STREAM_ADDBUFFER        0x412C
#define DVM_STREAM_FINI             0x412D
#define DVM_STREAM_GETERROR         0x412E
#define DVM_STREAM_GETPOSITION      0x412F
#define DVM_STREAM_INIT             0x4130
#define DVM_STREAM_PREPAREHEADER    0x4131
#define DVM_STREAM_RESET            0x4132
#define DVM_STREAM_START            0x4133
#define DVM_STREAM_STOP             0x4134
#define DVM_STREAM_UNPREPAREHEADER  0x4135

#define VIDEOAPIVERSION 3 // answered to DVM_GETVIDEOAPIVER

// Open parameters of DRV_OPEN (lParam2).
typedef struct {
    DWORD dwSize;
    FOURCC fccType;     // 'vcap'
    FOURCC fccComp;
    DWORD dwVersion;
    DWORD dwFlags;      // channel type: VIDEO_EXTERNALIN, VIDEO_IN, ...
    DWORD dwError;
    LPVOID pV1Reserved;
    LPVOID pV2Reserved;
    DWORD dnDevNode;
} VIDEO_OPEN_PARMS;

// DVM_FORMAT's lParam2.
typedef struct {
    LPDWORD lpdwReturn;
    LPVOID lpData1;
    DWORD dwSize1;
    LPVOID lpData2;
    DWORD dwSize2;
} VIDEOCONFIGPARMS;

// DVM_STREAM_INIT's lParam1.
typedef struct {
    DWORD dwMicroSecPerFrame;
    DWORD_PTR dwCallback;
    DWORD_PTR dwCallbackInst;
    DWORD dwFlags;
    DWORD_PTR hVideo;
} VIDEO_STREAM_INIT_PARMS;

// DVM_GETERRORTEXT's lParam1.
typedef struct {
    DWORD dwError;
    LPSTR lpText;
    DWORD dwLength;
} VIDEO_GETERRORTEXT_PARMS;

static_assert(sizeof(VIDEO_OPEN_PARMS) == 36, "VIDEO_OPEN_PARMS is 36 bytes");
static_assert(offsetof(VIDEO_OPEN_PARMS, fccType) == 4, "fccType is the second field");
static_assert(offsetof(VIDEO_OPEN_PARMS, dwFlags) == 16, "dwFlags is the fifth field");
static_assert(offsetof(VIDEO_OPEN_PARMS, dwError) == 20, "dwError is the sixth field");
static_assert(sizeof(VIDEOCONFIGPARMS) == 20, "VIDEOCONFIGPARMS is 20 bytes");
static_assert(sizeof(VIDEO_STREAM_INIT_PARMS) == 20, "VIDEO_STREAM_INIT_PARMS is five 32-bit fields");
static_assert(sizeof(VIDEO_GETERRORTEXT_PARMS) == 12, "VIDEO_GETERRORTEXT_PARMS is 12 bytes");
static_assert(sizeof(CHANNEL_CAPS) == 36, "CHANNEL_CAPS is nine 32-bit fields");
static_assert(sizeof(VIDEOHDR) == 40, "VIDEOHDR is 40 bytes");
static_assert(offsetof(VIDEOHDR, dwBytesUsed) == 8 && offsetof(VIDEOHDR, dwFlags) == 20,
              "VIDEOHDR fields as the host lays them out");

#endif
