// The settings property sheet's face towards the rest of the shell: the main window opens it, the
// message loop feeds it, and changes made behind its back (tray menu, key commands) refresh it.
#pragma once

#include <windows.h>

class mainWindow;

bool isSettingsSheetOpen();
// Asks the open sheet's current page to reload its controls (nothing while no sheet is open);
// `markChanged` also enables its Apply button.
void refreshSettingsPage(bool markChanged);
// The sheet's share of the message loop: true when the message was the sheet's.
bool settingsSheetDialogMessage(MSG* msg);
// Opens the sheet on the main window's settings, or brings the open one forward.
void openSettingsSheet(mainWindow& owner, HWND ownerWindow);
// Program exit: an open sheet goes away, keeping the settings as they are.
void closeSettingsSheet();
