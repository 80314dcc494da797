// The private window messages that the program's windows and worker threads exchange.
#pragma once

#include <windows.h>

enum : UINT {
    pageReload = 0x8000,
    trayNotify = 0x8065,
    logTextReady = 0x8066,
    showKeyboardDisplay = 0x8074,
    imeStateChanged = 0x8075,
    placeKeyboardDisplay = 0x8076,
    settingChangedByKey = 0x8077,
    statusTextChanged = 0x8078,
    keyboardDisplayClosed = 0x8079,
    showLogWindow = 0x807A,
    logOptionsChanged = 0x807B,
    logInitialState = 0x807C,
    keyboardDisplayHold = 0x807D,
    relabelKeyboardDisplay = 0x807E,
    settingsApplied = 0x807F,
    openSettingsRequest = 0x8080,
    delayedSetup = 0x8190,
};

// WM_COMMAND id that ends the program (tray menu, and the setup program before it replaces files).
constexpr int commandQuit = 3001;
