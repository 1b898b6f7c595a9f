// Resource identifiers of zentacap.dll.
#ifndef RESOURCE_H
#define RESOURCE_H

#define IDS_SETTINGS_HELP  100
#define IDS_NOT_DETECTED   101
#define IDS_NO_VIDEO_PORT  102
#define IDS_NO_STORAGE     103
#define IDS_CPU_REQUIRED   104
#define IDS_MULTIHEAD      105

#endif
