// Resource, control and help identifiers of qordexa.dll.
#ifndef RESOURCE_H
#define RESOURCE_H

#define IDD_PAGE     145 // the "7K42Q" page
#define IDB_PICTURE  159

// Controls of the page
#define IDC_CAPABILITY           1008
#define IDC_TEXTURE_COMPRESSION  1012
#define IDC_DEPTH_DEPENDENT      1016
#define IDC_DMA_BUFFERS          1022
#define IDC_DMA_SIZE             1023
#define IDC_DMA                  1025
#define IDC_FAST_LINE            1026
#define IDC_GDI_SINGLE           1030
#define IDC_GDI_DOUBLE           1031
#define IDC_SINGLE_BUFFERED      1032
#define IDC_OPENGL_LINE          1040
#define IDC_MCD_LINE             1041
#define IDC_CLOCK_LINE           1042
#define IDC_TEXTURE_LINE         1043
#define IDC_DEPTH_LINE           1044
#define IDC_DMA_BUFFERS_LABEL    1082
#define IDC_DMA_SIZE_LABEL       1083

// Help identifiers of the controls: the control's identifier under 0x8091.
#define HELP_ID(control)  (0x80910000 | (control))
#define NO_HELP           0x8091FFFF

#endif
