// Identifiers of the program's Windows resources, shared by the resource script and the code.
#pragma once

#define IDD_ABOUTBOX 100
#define IDS_ABOUTBOX 101
#define IDD_PUBLISHER_DIALOG 102
#define IDR_MAINFRAME 128
#define IDB_BANNER 132
#define IDB_CAMERA 140

#define IDC_START_CLASS 1012
#define IDC_END_CLASS 1043
#define IDC_SEND_SOUND 1044
#define IDC_PREVIEW 1046
#define IDC_PAGE 1048
#define IDC_CAMERA_LIST 1053
#define IDC_SOUND_LIST 1055
#define IDC_RATE 1056
#define IDC_PICTURE_TYPES 1057
#define IDC_BANNER 1058
#define IDC_STATUS 1100  // the status line, below the template's own controls
#define IDC_PRODUCT_TEXT 1057

#define IDM_ABOUTBOX 0x0010
