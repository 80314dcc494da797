// The time page: five trackbars on the sheet's non-linear millisecond scale, each with its label.
#include "app/settingsSheet/settingPageIds.h"
#include "app/settingsSheet/sheetController.h"
#include "app/settingsSheet/sheetPageRules.h"
#include "app/settingsSheet/sheetPages.h"
#include "app/settingsSheet/sheetRules.h"
#include "core/settings/settingsHolder.h"

#include <commctrl.h>

#include <string>

namespace {
const int timeTrackbars[] = {IDC_ACCEPT_TIMER, IDC_SHIFT_REVERSE_TIME, IDC_OUTPUT_TIMER, IDC_CANCEL_MULTIDOWN,
                             IDC_CANCEL_SANDS2ND};

void setLabel(HWND page, int id, const std::wstring& text)
{
    settingsSheetController::setItemText(page, id, text);
}

void showTime(HWND page, int trackbar, int label, int milliseconds)
{
    sheetController().setTrackbarMs(page, trackbar, milliseconds);
    setLabel(page, label, formatSeconds(milliseconds));
}

void loadTimePage(HWND page)
{
    settingsSheetController& sheet = sheetController();
    int delayIndex = -1;
    if (SystemParametersInfo(SPI_GETKEYBOARDDELAY, 0, &delayIndex, 0) && delayIndex >= 0 && delayIndex <= 3) {
        const int delay = 300 + 200 * delayIndex;
        setLabel(page, IDC_REPEAT_DELAY_NOTE, L"参考：自動反復開始まで約0." + std::to_wstring(delay) + L"秒");
        SendDlgItemMessage(page, IDC_ACCEPT_TIMER, TBM_SETSEL, FALSE, MAKELPARAM(0, msToTrackPos(delay)));
    }
    const int acceptTimer = sheet.getInt("AcceptTimer");
    sheet.setTrackbarMs(page, IDC_ACCEPT_TIMER, acceptTimer);
    setLabel(page, IDC_ACCEPT_TIMER_LABEL, acceptTimerLabel(acceptTimer));
    showTime(page, IDC_CANCEL_MULTIDOWN, IDC_CANCEL_MULTIDOWN_LABEL, sheet.getInt("CancelMultiDownTime"));
    showTime(page, IDC_CANCEL_SANDS2ND, IDC_CANCEL_SANDS2ND_LABEL, sheet.getInt("CancelSands2ndTime"));
    showTime(page, IDC_SHIFT_REVERSE_TIME, IDC_SHIFT_REVERSE_TIME_LABEL, sheet.getInt("WinShiftReverseTime"));
    showTime(page, IDC_OUTPUT_TIMER, IDC_OUTPUT_TIMER_LABEL, sheet.getInt("WinOutputTimer") % 10000);
}

void initialiseTrackbars(HWND page)
{
    for (int id : timeTrackbars) {
        SendDlgItemMessage(page, id, TBM_SETRANGE, TRUE, MAKELPARAM(0, 200));
        SendDlgItemMessage(page, id, TBM_SETPAGESIZE, 0, 5);
        for (int ms = 100; ms <= 900; ms += 100) SendDlgItemMessage(page, id, TBM_SETTIC, 0, msToTrackPos(ms));
    }
}

bool movedByUser(int code)
{
    switch (code) {
    case TB_LINEUP:
    case TB_LINEDOWN:
    case TB_PAGEUP:
    case TB_PAGEDOWN:
    case TB_THUMBTRACK:
    case TB_TOP:
    case TB_BOTTOM:
        return true;
    }
    return false;
}

void trackbarMoved(HWND page, HWND trackbar)
{
    settingsSheetController& sheet = sheetController();
    int ms = trackPosToMs(static_cast<unsigned>(SendMessage(trackbar, TBM_GETPOS, 0, 0)));
    switch (GetDlgCtrlID(trackbar)) {
    case IDC_ACCEPT_TIMER:
        ms = acceptTimerFromTrackMs(ms);
        sheet.setInt("AcceptTimer", ms);
        setLabel(page, IDC_ACCEPT_TIMER_LABEL, acceptTimerLabel(ms));
        break;
    case IDC_SHIFT_REVERSE_TIME:
        sheet.setInt("WinShiftReverseTime", ms);
        setLabel(page, IDC_SHIFT_REVERSE_TIME_LABEL, formatSeconds(ms));
        break;
    case IDC_OUTPUT_TIMER:
        // Only the time part: the wait stays on or off as it was.
        sheet.liveSettings->setOutputTimer(ms);
        setLabel(page, IDC_OUTPUT_TIMER_LABEL, formatSeconds(ms));
        break;
    case IDC_CANCEL_MULTIDOWN:
        sheet.setInt("CancelMultiDownTime", ms);
        setLabel(page, IDC_CANCEL_MULTIDOWN_LABEL, formatSeconds(ms));
        break;
    case IDC_CANCEL_SANDS2ND:
        sheet.setInt("CancelSands2ndTime", ms);
        setLabel(page, IDC_CANCEL_SANDS2ND_LABEL, formatSeconds(ms));
        break;
    default:
        return;
    }
    sheet.pageChanged(page);
}

// The output-wait and shift-handling boxes (the practice page has them too): both are stored.
void storeOutputWaitBoxes(HWND page)
{
    settingsSheetController& sheet = sheetController();
    sheet.liveSettings->setOutputTimerEnabled(IsDlgButtonChecked(page, IDC_OUTPUT_TIMER_ON) == BST_CHECKED);
    sheet.setInt("WinShiftReverseType", IsDlgButtonChecked(page, IDC_SHIFT_REVERSE_ON) == BST_CHECKED ? 1 : 0);
}
}  // namespace

INT_PTR CALLBACK timePageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam)
{
    settingsSheetController& sheet = sheetController();
    INT_PTR shared = 0;
    if (sheet.sharedPageMessage(page, message, wParam, lParam, timePageIndex, [&] {
        loadTimePage(page);
        sheet.refreshPageControls(page);
    }, shared)) return shared;
    switch (message) {
    case WM_INITDIALOG:
        initialiseTrackbars(page);
        loadTimePage(page);
        sheet.refreshPageControls(page);
        return TRUE;
    case WM_HSCROLL:
        if (lParam && movedByUser(LOWORD(wParam))) {
            trackbarMoved(page, reinterpret_cast<HWND>(lParam));
            return TRUE;
        }
        return FALSE;
    case WM_COMMAND:
        if (HIWORD(wParam) == BN_CLICKED &&
            (LOWORD(wParam) == IDC_OUTPUT_TIMER_ON || LOWORD(wParam) == IDC_SHIFT_REVERSE_ON)) {
            storeOutputWaitBoxes(page);
            return TRUE;
        }
        return FALSE;
    }
    return FALSE;
}
