// The settings property sheet's face towards the rest of the shell. The sheet itself is not part
// of this version: opening it tells the user where the settings live instead.
#pragma once

#include <windows.h>

class mainWindow;

bool isSettingsSheetOpen();
// Asks the open sheet's current page to reload its controls (nothing while no sheet is open).
void refreshSettingsPage(bool all);
// The sheet's share of the message loop: true when the message was the sheet's.
bool settingsSheetDialogMessage(MSG* msg);
void openSettingsSheet(mainWindow& owner, HWND ownerWindow);
