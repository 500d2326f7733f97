// Resource and control ids of accelclient.exe. The numbers are the client's contract with
// its templates, its tests and the tools that drive it from outside.
#pragma once

// Strings
#define IDS_OLE_INIT_FAILED 100

// Dialog templates
#define IDD_ABOUTBOX 100
#define IDD_LOGIN 130
#define IDD_GAME_TOOL 131
#define IDD_ACC_MAIN 132
#define IDD_RECHARGE 133
#define IDD_BUY_CARDS 134
#define IDD_HOT_GAMES 135
#define IDD_HELP 137
#define IDD_DEBUG_INFO 138
#define IDD_AK_VOICE 139
#define IDD_FIRST_RUN 140
#define IDD_SELECT_LINE 141
#define IDD_WEB_ADDRESS 142

// Icons, menus, tool bar
#define IDR_MAINFRAME 128
#define IDR_TRAY_MENU 129
#define IDR_TOOLBAR 136
#define RT_TOOLBAR_DATA 241

// Login dialog
#define IDC_LOGIN_BANNER 1007
#define IDC_LOGIN_USER 1000
#define IDC_LOGIN_PASSWORD 1001
#define IDC_LOGIN_REMEMBER 1002
#define IDC_LOGIN_AUTO 1003
#define IDC_LOGIN_REGISTER 1021
#define IDC_LOGIN_CHANGEPW 1034

// Acceleration page
#define IDC_ACC_LINE_NAME 1003
#define IDC_ACC_GAME_LIST 1004
#define IDC_ACC_CONNECT 1005
#define IDC_ACC_STATUS 1009
#define IDC_ACC_DISCONNECT 1010
#define IDC_ACC_USER 1014
#define IDC_ACC_KIND 1015
#define IDC_ACC_EXPIRY 1016
#define IDC_ACC_SPEED 1022
#define IDC_ACC_WEB 1024
#define IDC_ACC_SELECT_LINE 1031

// Line selection dialog
#define IDC_LINE_LATENCY 1013
#define IDC_LINE_RECHECK 1020
#define IDC_LINE_TREE 1028
#define IDC_LINE_GUIDE 1032

// Page dialogs
#define IDC_PAGE_WEB 1012

// Diagnostics page
#define IDC_DEBUG_OUTPUT 1023
#define IDC_DEBUG_GENERATE 1020
#define IDC_DEBUG_SEND 1026
#define IDC_DEBUG_VIEW 1025
#define IDC_DEBUG_COPY 30021

// First-run dialog
#define IDC_FIRST_RUN_WEB 1027

// Commands
#define ID_APP_ABOUT 30000
#define ID_TRAY_SHOW 30001
#define ID_TRAY_EXIT 30002
#define ID_TRAY_CONNECT 30003
#define ID_TRAY_DISCONNECT 30004
#define ID_VISIT_SITE 30005
#define ID_APP_EXIT 30006
#define ID_SHOW_ACCEL 30007
#define ID_SHOW_RECHARGE 30008
#define ID_SHOW_BUY_CARDS 30009
#define ID_SHOW_GAME_TOOL 30010
#define ID_MENU_GAME_TOOL 30012
#define ID_SHOW_HOT_GAMES 30014
#define ID_CLEAR_ACCOUNT 30017
#define ID_VIEW_LOG 30018
#define ID_SHOW_DEBUG 30019
#define ID_SHOW_AK_VOICE 30022
#define ID_NET_TUNING 30026
#define ID_SELECT_LINE 30028
#define ID_SHOW_HELP 57670
