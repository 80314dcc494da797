// The control page (PAGE1): how keys move, which agent takes them, the thumb keys and start with
// Windows; and the thumb-key dialog OYAYUBIDIALOG that the practice page also uses.
#include "app/autoStart.h"
#include "app/settingsSheet/sheetController.h"
#include "app/settingsSheet/sheetPages.h"
#include "app/settingsSheet/sheetRules.h"
#include "core/link/dllLink.h"
#include "core/settings/settingsHolder.h"
#include "core/platform/tstring.h"

#include <commctrl.h>
#include <prsht.h>

namespace {

enum : int {
    idShiftLayout = 4060,
    idCtrlMigiOff = 4009,
    idApplyShiftLayoutTo = 4109,
    idSyncKanaLock = 4075,
    idMultiDownHold = 4110,
    idKakuteiType = 4146,
    idStockMiss = 4114,
    idDriverType = 4142,
    idTreatInputByVk = 4148,
    idLeftThumbText = 4024,
    idLeftThumbButton = 4025,
    idRightThumbText = 4026,
    idRightThumbButton = 4027,
    idAutoStart = 4147,
    idPauseBox = 4055,

    idThumbNone = 4039,
    idThumbMuhenkan = 4123,
    idThumbSpace = 4124,
    idThumbHenkan = 4125,
    idThumbShift = 4126,
    idThumbDescription = 4128,
    idThumbEdit = 4028,
    idThumbUpDown = 4127,
};

const wchar_t* const shiftLayoutItems[] = {L"なし", L"四段ともひとつ右へ", L"数字段以外の三段をひとつ右へ",
                                           L"'6'を除き四段ともひとつ右へ", L""};
const wchar_t* const applyShiftLayoutItems[] = {
    L"４種の配列すべてに適用",   L"かな・英数・機能配列に適用", L"かな・英数・Numlockに適用",
    L"かな・機能・Numlockに適用", L"かな配列・Numlockに適用",   L"かな配列・機能配列に適用",
    L"かな配列・英数配列に適用", L"かな配列のみに適用",         L""};
const wchar_t* const kakuteiItems[] = {L"なし", L"かな文字が含まれない場合のみ", L"常に", L""};
const wchar_t* const stockMissItems[] = {L"誤りが判明した一打を破棄", L"保留分のみを破棄", L"保留分・誤打ともに破棄",
                                         L""};
const wchar_t* const driverTypeItems[] = {L"版1.0号/1.1号互換", L"「Vexa」を援用", L"Windows2000/XP専用入力代行",
                                          L""};

// The dialog's two values: the setting's key code when it opened, and the one being chosen.
int currentKeyCode = 0;
int chosenKeyCode = 0;

void selectItem(HWND page, int id, int item)
{
    SendDlgItemMessage(page, id, CB_SETCURSEL, static_cast<WPARAM>(item), 0);
}

void showThumbKeys(HWND page)
{
    settingsSheetController& sheet = sheetController();
    const int left = sheet.getInt("WinHidariOyaVkCode");
    const int right = sheet.getInt("WinMigiOyaVkCode");
    settingsSheetController::setItemText(page, idLeftThumbText, leftThumbKeyText(left, keyDescription(left & 0xFF)));
    settingsSheetController::setItemText(page, idRightThumbText,
                                         rightThumbKeyText(right, left, keyDescription(right & 0xFF)));
}

void loadControlPage(HWND page)
{
    settingsSheetController& sheet = sheetController();
    selectItem(page, idShiftLayout, sheet.getInt("shiftLayout"));
    selectItem(page, idStockMiss, sheet.getInt("clearTypeOfStockMiss"));
    selectItem(page, idDriverType, sheet.getInt("DriverType"));
    selectItem(page, idKakuteiType, sheet.getInt("KantyokuKakuteiType"));
    // -1 clears the selection when the stored set is not one of the list's.
    selectItem(page, idApplyShiftLayoutTo, shiftLayoutItemOfValue(sheet.getInt("ApplyShiftLayoutTo")));
    sheet.checkFromBool(page, idCtrlMigiOff, "CtrlMigiOff");
    sheet.checkFromBool(page, idSyncKanaLock, "SyncKanaLockWithIME");
    sheet.checkFromBool(page, idMultiDownHold, "MultiDownHold10999");
    CheckDlgButton(page, idAutoStart, readAutoStart() == 0 ? BST_CHECKED : BST_UNCHECKED);
    sheet.checkFromInt(page, idTreatInputByVk, "TreatInputByVk");
}

bool checked(HWND page, int id)
{
    return IsDlgButtonChecked(page, id) == BST_CHECKED;
}

// A thumb key through the dialog: the setting changes only when another code was chosen.
void changeThumbKey(HWND page, int button, const char* key)
{
    settingsSheetController& sheet = sheetController();
    const int before = sheet.getInt(key) & 0xFF;
    const int result = runThumbKeyDialog(page, button);
    if (result < 0 || result == before) return;
    sheet.setInt(key, result);
    showThumbKeys(page);
    sheet.pageChanged(page);
}

// Answers whether the command was one of the page's; `markChanged` says whether it enables Apply.
bool controlCommand(HWND page, WPARAM wParam, bool& markChanged)
{
    settingsSheetController& sheet = sheetController();
    const int id = LOWORD(wParam);
    const bool selectionChanged = HIWORD(wParam) == CBN_SELCHANGE;
    markChanged = true;
    const bool isList = id == idShiftLayout || id == idStockMiss || id == idApplyShiftLayoutTo ||
                        id == idKakuteiType || id == idDriverType;
    if (!isList && HIWORD(wParam) != BN_CLICKED) return false;
    switch (id) {
    case idCtrlMigiOff: sheet.setBool("CtrlMigiOff", checked(page, id)); return true;
    case idSyncKanaLock: sheet.setBool("SyncKanaLockWithIME", checked(page, id)); return true;
    case idMultiDownHold: sheet.setBool("MultiDownHold10999", checked(page, id)); return true;
    case idTreatInputByVk: sheet.setInt("TreatInputByVk", checked(page, id) ? 1 : 0); return true;
    case idAutoStart:
        // The registry is written at once; Cancel puts the state of the opening back.
        writeAutoStart(checked(page, id));
        return true;
    case idShiftLayout: return sheet.comboChanged(page, wParam, id, "shiftLayout");
    case idStockMiss: return sheet.comboChanged(page, wParam, id, "clearTypeOfStockMiss");
    case idApplyShiftLayoutTo: {
        if (!selectionChanged) return false;
        const int item = static_cast<int>(SendDlgItemMessage(page, id, CB_GETCURSEL, 0, 0));
        const int value = shiftLayoutValueOfItem(item);
        if (value < 0) return false;
        sheet.setInt("ApplyShiftLayoutTo", value);
        return true;
    }
    case idKakuteiType:
        if (!sheet.comboChanged(page, wParam, id, "KantyokuKakuteiType")) return false;
        sheet.liveSettings->link().sendRequest(fromDll::setKakuteiType,
                                               static_cast<unsigned>(sheet.getInt("KantyokuKakuteiType")), 0);
        return true;
    case idDriverType:
        if (!sheet.comboChanged(page, wParam, id, "DriverType")) return false;
        markChanged = sheet.announceAgentChange();
        // An agent that could not be had falls back to another type: show the one in use.
        selectItem(page, idDriverType, sheet.getInt("DriverType"));
        return true;
    case idPauseBox:
        sheet.pauseBox(page);
        markChanged = false;
        return true;
    default:
        return false;
    }
}

INT_PTR CALLBACK thumbKeyDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG: {
        chosenKeyCode = currentKeyCode;
        const wchar_t* role = lParam == idLeftThumbButton    ? L"左手親指"
                              : lParam == idRightThumbButton ? L"右手親指"
                                                             : L"練習モード中のかな英数切り替え代行";
        SetWindowText(dialog, toT(std::wstring(role) + L"キーの設定中…").c_str());
        SendDlgItemMessage(dialog, idThumbEdit, EM_LIMITTEXT, 3, 0);
        SendDlgItemMessage(dialog, idThumbUpDown, UDM_SETRANGE, 0, MAKELPARAM(255, 0));
        SendDlgItemMessage(dialog, idThumbUpDown, UDM_SETPOS, 0, MAKELPARAM(chosenKeyCode, 0));
        break;
    }
    case WM_COMMAND: {
        const int id = LOWORD(wParam);
        int preset = -1;
        switch (id) {
        case idThumbNone: preset = 0; break;
        case idThumbMuhenkan: preset = 29; break;
        case idThumbSpace: preset = 32; break;
        case idThumbHenkan: preset = 28; break;
        case idThumbShift: preset = 16; break;
        case IDOK: EndDialog(dialog, chosenKeyCode); return TRUE;
        case IDCANCEL: EndDialog(dialog, -2); return TRUE;
        case idThumbEdit: {
            if (HIWORD(wParam) != EN_CHANGE) return FALSE;
            TCHAR text[4] = {};
            GetDlgItemText(dialog, idThumbEdit, text, 4);
            const int typed = typedKeyCode(fromT(text));
            if (typed >= 0) chosenKeyCode = typed;
            break;
        }
        default: return FALSE;
        }
        if (preset >= 0) {
            chosenKeyCode = preset;
            SendDlgItemMessage(dialog, idThumbUpDown, UDM_SETPOS, 0, MAKELPARAM(chosenKeyCode, 0));
        }
        break;
    }
    case WM_HSCROLL:
    case WM_VSCROLL:
        if (reinterpret_cast<HWND>(lParam) != GetDlgItem(dialog, idThumbUpDown)) return FALSE;
        chosenKeyCode = HIWORD(wParam) & 0xFF;
        break;
    default:
        return FALSE;
    }
    settingsSheetController::setItemText(dialog, idThumbDescription, L"キー： " + keyDescription(chosenKeyCode));
    return TRUE;
}

}  // namespace

std::wstring keyDescription(int code)
{
    const UINT scanCode = MapVirtualKey(static_cast<UINT>(code), 0 /* MAPVK_VK_TO_VSC */);
    TCHAR name[32] = {};
    const int length = GetKeyNameText(static_cast<LONG>((scanCode & 0xFF) << 16), name, 31);
    return describeKey(code, scanCode, fromT(tstring(name, length > 0 ? static_cast<size_t>(length) : 0)));
}

int runThumbKeyDialog(HWND owner, int parameter)
{
    settingsSheetController& sheet = sheetController();
    const char* key = parameter == idLeftThumbButton    ? "WinHidariOyaVkCode"
                      : parameter == idRightThumbButton ? "WinMigiOyaVkCode"
                                                        : "ForceKanaOnGameMode";
    currentKeyCode = sheet.liveSettings ? sheet.getInt(key) & 0xFF : 0;
    HINSTANCE instance = reinterpret_cast<HINSTANCE>(GetWindowLongPtr(owner, GWLP_HINSTANCE));
    const INT_PTR result = DialogBoxParam(instance, TEXT("OYAYUBIDIALOG"), owner, thumbKeyDialogProc, parameter);
    return result == -1 ? -2 : static_cast<int>(result);
}

INT_PTR CALLBACK controlPageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam)
{
    settingsSheetController& sheet = sheetController();
    INT_PTR shared = 0;
    if (sheet.sharedPageMessage(page, message, wParam, lParam, controlPageIndex, [&] {
        loadControlPage(page);
        sheet.refreshPageControls(page);
    }, shared)) return shared;
    switch (message) {
    case WM_INITDIALOG:
        showThumbKeys(page);
        settingsSheetController::fillCombo(page, idKakuteiType, kakuteiItems);
        settingsSheetController::fillCombo(page, idShiftLayout, shiftLayoutItems);
        settingsSheetController::fillCombo(page, idApplyShiftLayoutTo, applyShiftLayoutItems);
        settingsSheetController::fillCombo(page, idStockMiss, stockMissItems);
        settingsSheetController::fillCombo(page, idDriverType, driverTypeItems);
        loadControlPage(page);
        sheet.refreshPageControls(page);
        return TRUE;
    case WM_COMMAND: {
        const int id = LOWORD(wParam);
        if (id == idLeftThumbButton || id == idRightThumbButton) {
            if (HIWORD(wParam) != BN_CLICKED) return FALSE;
            changeThumbKey(page, id, id == idLeftThumbButton ? "WinHidariOyaVkCode" : "WinMigiOyaVkCode");
            return TRUE;
        }
        bool markChanged = true;
        if (!controlCommand(page, wParam, markChanged)) return FALSE;
        sheet.refreshPageControls(page);
        sheet.displayUpdate();
        if (markChanged) sheet.pageChanged(page);
        return TRUE;
    }
    default:
        return FALSE;
    }
}
