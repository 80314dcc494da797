#include "app/settingsSheet.h"

#include "app/appText.h"
#include "app/mainWindow.h"
#include "app/windowMessages.h"
#include "core/settingsHolder.h"

bool isSettingsSheetOpen()
{
    return false;
}

void refreshSettingsPage(bool)
{
}

bool settingsSheetDialogMessage(MSG*)
{
    return false;
}

void openSettingsSheet(mainWindow& owner, HWND)
{
    // Without the sheet, the user is pointed at the settings file and shown the log window.
    const std::wstring text = L"設定画面はこの版にはまだありません。設定ファイル [ " +
                              owner.holder().settingsFilePath + L" ] を Tavolin の終了後に編集してください。";
    {
        scopedLock guard(*owner.holder().log);
        *owner.holder().log << toT(text) << std::endl;
    }
    SendMessageW(owner.window(), showLogWindow, 1, owner.holder().getInt("LogLevel"));
}
