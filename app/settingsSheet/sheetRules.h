// The settings sheet's rules that need no window: the time trackbars' millisecond scale, the text
// that describes a key, the move-range list of the control page, the web-site button's text and
// which controls the refresh routine enables, checks and shows.
#pragma once

#include <windows.h>

#include <prsht.h>

#include <string>
#include <vector>

// One page of the sheet as CreatePropertySheetPage takes it: default flags (the tab text is the
// template's caption) and the record of the largest size Windows 2000 and 98/Me know; they refuse
// the longer record that XP added.
PROPSHEETPAGE sheetPageRecord(HINSTANCE instance, const TCHAR* templateName, DLGPROC procedure);

// The time trackbars run from 0 to 200; the scale is finer for short times.
int msToTrackPos(int milliseconds);
int trackPosToMs(unsigned position);

// " name / Vk 0x1d / Scan 0x7b": `name` is the system's key name (empty when it has none),
// `scanCode` what the keyboard layout maps the code to (E0 keys above 127).
std::wstring describeKey(int code, unsigned scanCode, const std::wstring& name);
// describeKey for a virtual-key code, with the name and scan code the system gives it.
std::wstring keyDescription(int code);
// The thumb-key labels of the control page; `description` is the key's describeKey text.
std::wstring leftThumbKeyText(int code, const std::wstring& description);
std::wstring rightThumbKeyText(int code, int leftCode, const std::wstring& description);
// The thumb-key dialog's typed value: 1 to 3 digits, 0..255; -1 for anything else.
int typedKeyCode(const std::wstring& text);

// ApplyShiftLayoutTo: the value each list item stores, and the item showing a stored value (-1
// when no item holds it).
const int shiftLayoutItemCount = 8;
int shiftLayoutValueOfItem(int item);
int shiftLayoutItemOfValue(int value);

// The web-site button names the address without its scheme ("https://", "http://", ...).
std::wstring addressWithoutScheme(const std::wstring& address);

// Everything the refresh routine reads.
struct pageRefreshInput {
    bool paused = false;  // the input agent is disabled
    bool gameSwitch = false;
    int gameModeFlags = 0;
    int shiftLayout = 0;
    bool dvorak = false;
    bool kanaConvert = false;
    bool hiddenKeyBoard = false;
    bool hasMultiDownHoldKeys = false;
    bool hasMultiStrokeEntries = false;
    int driverType = 0;
    bool capsLockSync2ImeKana = false;
    bool kanaConvertOnlyInKanaLocked = false;
    int winOutputTimer = 0;
    int winShiftReverseType = 0;
    bool autoMove = false;
    bool tasktray = false;
    int winImeStateDisplay = 0;
    bool drawNumColumn = false;
    bool showLogSwitch = false;
    int logLevel = 0;
    bool numLockConvert = false;
};

// What the refresh routine does to one control; -1 leaves that side of it alone.
struct controlRefresh {
    int id;
    int enable = -1;  // 1 enable, 0 disable
    int check = -1;   // 1 checked, 0 unchecked
    int show = -1;    // 1 shown, 0 hidden
    int select = -1;  // the list item to select
};

// The final state of every control the routine touches, in ascending id order. A page applies
// the entries of the controls it has.
std::vector<controlRefresh> refreshRules(const pageRefreshInput& in);
