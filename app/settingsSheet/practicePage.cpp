// The practice page: the typing-practice mode and the practice bits of GameModeFlags.
#include "app/settingsSheet/settingPageIds.h"
#include "app/settingsSheet/sheetController.h"
#include "app/settingsSheet/sheetPageRules.h"
#include "app/settingsSheet/sheetPages.h"
#include "app/settingsSheet/sheetRules.h"
#include "app/windowMessages.h"
#include "core/agents/inputHandler.h"
#include "core/settings/settingsHolder.h"

#include <commctrl.h>

namespace {
bool checked(HWND page, int id)
{
    return IsDlgButtonChecked(page, id) == BST_CHECKED;
}

void showForceKanaKey(HWND page, int code)
{
    settingsSheetController::setItemText(page, IDC_FORCE_KANA_LABEL, L"練習時かな英 " + keyDescription(code & 0xFF));
}

void storeOutputWaitBoxes(HWND page)
{
    settingsSheetController& sheet = sheetController();
    sheet.liveSettings->setOutputTimerEnabled(checked(page, IDC_OUTPUT_TIMER_ON));
    sheet.setInt("WinShiftReverseType", checked(page, IDC_SHIFT_REVERSE_ON) ? 1 : 0);
}

// A practice box or the practice kind changed: the whole low byte is written from the controls.
void storePracticeControls(HWND page, int id)
{
    settingsSheetController& sheet = sheetController();
    sheet.setBool("GameSwitch", checked(page, IDC_GAME_SWITCH));
    practiceControls controls;
    controls.dakuten = checked(page, IDC_WAIT_DAKUTEN);
    controls.handakuten = checked(page, IDC_WAIT_HANDAKUTEN);
    controls.smallKana = checked(page, IDC_WAIT_SMALL_KANA);
    controls.nasal = checked(page, IDC_NASAL_FREE);
    controls.plainU = checked(page, IDC_PLAIN_U);
    controls.jisKana = SendDlgItemMessage(page, IDC_PRACTICE_KIND, CB_GETCURSEL, 0, 0) == 1;
    sheet.setGameModeFlags(practiceFlags(controls), 0xFF);
    sheet.refreshPageControls(page);
    sheet.displayUpdate();
    if (id == IDC_GAME_SWITCH || id == IDC_PRACTICE_KIND) sheet.notifyMain(settingChangedByKey);
    sheet.pageChanged(page);
}

void applyPracticeDefaults(HWND page, int buttonId)
{
    settingsSheetController& sheet = sheetController();
    if (buttonId == IDC_KANA_LAYOUT_PRACTICE) {
        const auto agent = sheet.liveSettings->currentAgent;
        sheet.setGameModeFlags(agent ? agent->kanaLayoutModeDefault() : 0, 0x2E);
    } else {
        sheet.setGameModeFlags(0x50, 0x50);
        sheet.liveSettings->setOutputTimerEnabled(false);
        sheet.setInt("WinShiftReverseType", 0);
    }
    sheet.refreshPageControls(page);
    sheet.displayUpdate();
    sheet.pageChanged(page);
}

void changeForceKanaKey(HWND page)
{
    settingsSheetController& sheet = sheetController();
    const int current = sheet.getInt("ForceKanaOnGameMode") & 0xFF;
    const int result = runThumbKeyDialog(page, IDC_FORCE_KANA_CHANGE);
    if (result < 0 || result == current) return;
    sheet.setInt("ForceKanaOnGameMode", result);
    showForceKanaKey(page, result);
    sheet.pageChanged(page);
}

bool handleCommand(HWND page, int id, int code)
{
    settingsSheetController& sheet = sheetController();
    switch (id) {
    case IDC_PRACTICE_KIND:
        if (code != CBN_SELCHANGE) return false;
        storePracticeControls(page, id);
        return true;
    case IDC_GAME_SWITCH:
    case IDC_WAIT_SMALL_KANA:
    case IDC_WAIT_DAKUTEN:
    case IDC_WAIT_HANDAKUTEN:
    case IDC_NASAL_FREE:
    case IDC_PLAIN_U:
        if (code != BN_CLICKED) return false;
        storePracticeControls(page, id);
        return true;
    }
    if (code != BN_CLICKED) return false;
    switch (id) {
    case IDC_OUTPUT_TIMER_ON:
    case IDC_SHIFT_REVERSE_ON:
        storeOutputWaitBoxes(page);
        return true;
    case IDC_PAUSE_BOX:
        sheet.pauseBox(page);
        sheet.refreshPageControls(page);
        return true;
    case IDC_KANA_LAYOUT_PRACTICE:
    case IDC_GENERAL_PRACTICE:
        applyPracticeDefaults(page, id);
        return true;
    case IDC_FORCE_KANA_CHANGE:
        changeForceKanaKey(page);
        return true;
    }
    return false;
}
}  // namespace

INT_PTR CALLBACK practicePageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam)
{
    settingsSheetController& sheet = sheetController();
    INT_PTR shared = 0;
    if (sheet.sharedPageMessage(page, message, wParam, lParam, practicePageIndex, [&] {
        sheet.refreshPageControls(page);
    }, shared)) return shared;
    switch (message) {
    case WM_INITDIALOG: {
        static const wchar_t* const kinds[] = {L"ローマ字練習用ソフトを使う", L"JISかな練習用ソフトを使う", L""};
        settingsSheetController::fillCombo(page, IDC_PRACTICE_KIND, kinds);
        showForceKanaKey(page, sheet.getInt("ForceKanaOnGameMode"));
        sheet.refreshPageControls(page);
        return TRUE;
    }
    case WM_COMMAND:
        return handleCommand(page, LOWORD(wParam), HIWORD(wParam)) ? TRUE : FALSE;
    }
    return FALSE;
}
