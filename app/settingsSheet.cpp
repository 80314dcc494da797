#include "app/settingsSheet.h"

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
    const std::wstring path = owner.holder().settingsFilePath;
    owner.holder().log->lock(0);
    *owner.holder().log << L"設定画面はこの版にはまだありません。設定ファイル [ " << path
                          << L" ] を Tavolin の終了後に編集してください。" << std::endl;
    owner.holder().log->unlock();
    SendMessageW(owner.window(), showLogWindow, 1, owner.holder().getInt("LogLevel"));
}
