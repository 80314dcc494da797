// The display page: the keyboard display, the tray icon and the log window.
#include "app/settingsSheet/settingPageIds.h"
#include "app/settingsSheet/sheetController.h"
#include "app/settingsSheet/sheetPages.h"
#include "app/windowMessages.h"

#include <commctrl.h>

namespace {
// Tasktray as this page last saw it: a change of it asks the main window to renew the tray.
bool shownTasktray = false;

bool checked(HWND page, int id)
{
    return IsDlgButtonChecked(page, id) == BST_CHECKED;
}

bool storeBox(HWND page, int id)
{
    settingsSheetController& sheet = sheetController();
    switch (id) {
    case IDC_SHOW_KEYBOARD: sheet.setBool("HiddenKeyBoard", !checked(page, id)); return true;
    case IDC_AUTO_MOVE: sheet.setBool("AutoMove", checked(page, id)); return true;
    case IDC_DRAW_NUM_COLUMN: sheet.setBool("DrawNumColumn", checked(page, id)); return true;
    case IDC_TASKTRAY: sheet.setBool("Tasktray", checked(page, id)); return true;
    case IDC_IME_STATE_DISPLAY: sheet.setInt("WinImeStateDisplay", checked(page, id) ? 1 : 0); return true;
    case IDC_SHOW_LOG: sheet.setBool("ShowLogSwitch", checked(page, id)); return true;
    case IDC_LOG_DETAIL_LEVEL: sheet.setInt("LogLevel", checked(page, id) ? 1 : 0); return true;
    }
    return false;
}
}  // namespace

INT_PTR CALLBACK displayPageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam)
{
    settingsSheetController& sheet = sheetController();
    INT_PTR shared = 0;
    if (sheet.sharedPageMessage(page, message, wParam, lParam, displayPageIndex, [&] {
        sheet.refreshPageControls(page);
    }, shared)) return shared;
    switch (message) {
    case WM_INITDIALOG:
        sheet.refreshPageControls(page);
        return TRUE;
    case WM_COMMAND: {
        const int id = LOWORD(wParam);
        if (HIWORD(wParam) != BN_CLICKED || !storeBox(page, id)) return FALSE;
        sheet.displayUpdate();
        const bool tasktray = sheet.getBool("Tasktray");
        if (tasktray != shownTasktray) {
            sheet.notifyMain(settingChangedByKey);
            shownTasktray = tasktray;
        }
        if (id == IDC_SHOW_LOG || id == IDC_LOG_DETAIL_LEVEL)
            sheet.notifyMain(showLogWindow, sheet.getBool("ShowLogSwitch") ? 1 : 0, sheet.getInt("LogLevel"));
        sheet.refreshPageControls(page);
        sheet.pageChanged(page);
        return TRUE;
    }
    }
    return FALSE;
}
