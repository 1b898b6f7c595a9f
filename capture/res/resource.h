// Resource and control identifiers of zentacap.dll.
#ifndef RESOURCE_H
#define RESOURCE_H

// Strings
#define IDS_SETTINGS_HELP  100
#define IDS_NOT_DETECTED   101
#define IDS_NO_VIDEO_PORT  102
#define IDS_NO_STORAGE     103
#define IDS_CPU_REQUIRED   104
#define IDS_MULTIHEAD      105

// Dialogs
#define IDD_ABOUT     100
#define IDD_SOURCE    101
#define IDD_FORMAT    102
#define IDD_SETTINGS  103

// Bitmaps and the cursor
#define IDB_ABOUT_BANNER      100
#define IDB_SETTINGS_PICTURE  101
#define IDB_ABOUT_PICTURE     102
#define IDB_WEB_LINK          103
#define IDR_LINK_CURSOR       103

// Controls shared by several dialogs
#define IDC_ABOUT     100
#define IDC_DEFAULT   999

// Settings dialog
#define IDC_SOURCE    101
#define IDC_FORMAT    102

// About dialog
#define IDC_WEB_LINK  103

// Source dialog
#define IDC_STANDARD         101
#define IDC_BRIGHTNESS       120
#define IDC_BRIGHTNESS_TEXT  121
#define IDC_CONTRAST         122
#define IDC_CONTRAST_TEXT    123
#define IDC_SATURATION       124
#define IDC_SATURATION_TEXT  125
#define IDC_HUE              126
#define IDC_HUE_TEXT         127

// Format dialog
#define IDC_COLOR_SPACE      102
#define IDC_WIDTH            104
#define IDC_HEIGHT           105
#define IDC_ZOOM_X1          106 // zoom radios: 106 + 2 x code, plus 1 for vertical
#define IDC_ZOOM_Y1          107
#define IDC_MIRROR_X         114
#define IDC_MIRROR_Y         115
#define IDC_POSITION_X       116
#define IDC_POSITION_X_TEXT  117
#define IDC_POSITION_Y       118
#define IDC_POSITION_Y_TEXT  119

#endif
