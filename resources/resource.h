// Resource ids shared by the resource script and the program.
#pragma once

// Tray icons: the tray's icon set loads these in its own order.
#define IDI_TVN_FIRST 7000
#define IDI_TVN_LAST 7017

// Tray menu commands.
#define IDM_KANA_CONVERT 3000
#define IDM_QUIT 3001
#define IDM_TASKTRAY 4000
#define IDM_KEYBOARD_SHOW 4001
#define IDM_KEYBOARD_CENTRE 4002
#define IDM_DRAW_NUM_COLUMN 4003
#define IDM_WIN_FRAME 4004
#define IDM_DVORAK 4005
#define IDM_CTRL_QWERTY 4006
#define IDM_AUTO_MOVE 4008
#define IDM_CTRL_MIGI_OFF 4009
#define IDM_FUNC_OUTPUT 4010
#define IDM_SETTINGS 4011
#define IDM_GAME_ROMAJI 4040
#define IDM_LOG_WINDOW 4046
#define IDM_PAUSE_ALL 4055
#define IDM_MANUAL 4059
#define IDM_GAME_KANA 4072
#define IDM_SHIFT_SPECIAL 4083
#define IDM_OUTPUT_WAIT 4084
#define IDM_GAME_OFF 4093
#define IDM_GAME_BOTH 4094

// Log window controls.
#define IDC_LOG_EDIT 4099
#define IDC_LOG_CLEAR 4097
#define IDC_LOG_VERSION 4098
#define IDC_LOG_DETAIL 4100
