// The tray icon set and the choice of the icon that shows the program's state.
#pragma once

#include <windows.h>

#include <vector>

// What the icon shows: conversion on or off, a typing-practice mode, and (when the user asks for it)
// the focused application's IME mode and lock keys.
struct trayIconState {
    bool agentActive = false;
    int imeStateDisplay = 0;   // WinImeStateDisplay: 0 shows the simple icons only
    bool gameSwitch = false;   // a typing-practice mode is on
    int gameModeFlags = 0;     // bit 0x80: JIS kana practice, else romaji practice
    bool imeOpen = false;
    bool capsOn = false;
    bool kanaOn = false;
    bool fullShape = false;
    bool alphanumericMode = false;
    bool katakanaMode = false;
};

// Index 0..17 into the icon set. Index 6 is never chosen.
int chooseTrayIconIndex(const trayIconState& s);

// The 18 tray icons, 16 x 16, loaded in the set's fixed order of resource ids.
class trayIconSet {
public:
    explicit trayIconSet(HINSTANCE instance);
    ~trayIconSet();
    trayIconSet(const trayIconSet&) = delete;
    trayIconSet& operator=(const trayIconSet&) = delete;

    // An index outside 0..17 gives the first icon.
    HICON icon(int index) const;
    static int resourceIdOf(int index);

private:
    std::vector<HICON> m_icons;
};
