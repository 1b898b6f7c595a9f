/*
 * The capture driver's kernel device protocol: where the device's name is
 * registered, the three device-control requests and their input records.
 * A frame is one plain read of one frame. Plain C: the capture driver, the
 * virtual board's kernel driver and the tools all include this one header.
 */
#ifndef DEVICE_PROTOCOL_H
#define DEVICE_PROTOCOL_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
#define LAYOUT_ASSERT static_assert
#else
#define LAYOUT_ASSERT _Static_assert
#endif

/* Kernel service whose "Parameters" key holds the device's name in the
 * REG_SZ value "DeviceName"; the device opens as \\.\<name>. */
#define KERNEL_SERVICE_NAME "zentacap"

/* Requests: FILE_DEVICE_SOUND, METHOD_BUFFERED, FILE_ANY_ACCESS, no output. */
#define IOCTL_SET_FORMAT     0x001D0804u /* input FormatParams */
#define IOCTL_SET_SOURCE     0x001D0808u /* input SourceParams */
#define IOCTL_RESTART_VIDEO  0x001D0840u /* no input */

/* FormatParams.formatCode */
#define FORMAT_YUV422  1u
#define FORMAT_RGB15   2u
#define FORMAT_RGB24   3u

/* Input of IOCTL_SET_FORMAT: the video streams unit (28 bytes, little-endian). */
typedef struct FormatParams {
    uint32_t size;        /* 28 */
    uint32_t formatCode;  /* FORMAT_* */
    uint32_t width;       /* output pixels */
    uint32_t height;      /* output lines */
    uint8_t  scaleX;      /* zoom 0 = 1:1 .. 3 = 1:8: the window covers width << scaleX scene pixels */
    uint8_t  scaleY;
    uint8_t  mirrorX;     /* 1 = flipped left to right */
    uint8_t  mirrorY;     /* 1 = flipped upside down */
    uint32_t offsetX;     /* window origin in units of 4 scene pixels */
    uint32_t offsetY;
} FormatParams;

/* Input of IOCTL_SET_SOURCE: the video input processor (12 bytes). */
typedef struct SourceParams {
    uint32_t size;        /* 12 */
    uint32_t standard;    /* video standard code 0, 1, 2, 3 or 5: sets the frame rate */
    int8_t   hue;
    int8_t   saturation;
    uint8_t  brightness;
    int8_t   contrast;
} SourceParams;

LAYOUT_ASSERT(sizeof(FormatParams) == 28, "FormatParams is 28 bytes");
LAYOUT_ASSERT(offsetof(FormatParams, formatCode) == 4 && offsetof(FormatParams, width) == 8 &&
              offsetof(FormatParams, height) == 12 && offsetof(FormatParams, scaleX) == 16 &&
              offsetof(FormatParams, scaleY) == 17 && offsetof(FormatParams, mirrorX) == 18 &&
              offsetof(FormatParams, mirrorY) == 19 && offsetof(FormatParams, offsetX) == 20 &&
              offsetof(FormatParams, offsetY) == 24, "FormatParams byte layout");
LAYOUT_ASSERT(sizeof(SourceParams) == 12, "SourceParams is 12 bytes");
LAYOUT_ASSERT(offsetof(SourceParams, standard) == 4 && offsetof(SourceParams, hue) == 8 &&
              offsetof(SourceParams, saturation) == 9 && offsetof(SourceParams, brightness) == 10 &&
              offsetof(SourceParams, contrast) == 11, "SourceParams byte layout");

#endif
