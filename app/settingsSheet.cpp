#include "app/settingsSheet.h"

#include "app/mainWindow.h"
#include "app/settingsSheet/sheetController.h"

bool isSettingsSheetOpen()
{
    return sheetController().isSettingsSheetOpen();
}

void refreshSettingsPage(bool markChanged)
{
    sheetController().refreshSettingsPage(markChanged);
}

bool settingsSheetDialogMessage(MSG* msg)
{
    return sheetController().isSettingsSheetMessage(msg);
}

void openSettingsSheet(mainWindow& owner, HWND ownerWindow)
{
    sheetController().openSettingsSheet(owner.window() ? owner.window() : ownerWindow, owner.holder());
}

void closeSettingsSheet()
{
    sheetController().closeSheet();
}
