#include "app/settingsSheet/sheetController.h"

#include "app/autoStart.h"
#include "app/keyboardDisplay.h"
#include "app/settingsSheet/sheetPages.h"
#include "app/settingsSheet/sheetRules.h"
#include "app/windowMessages.h"
#include "core/link/dllLink.h"
#include "core/agents/inputHandler.h"
#include "core/settings/settingsHolder.h"
#include "core/platform/tstring.h"

#include <commctrl.h>
#include <prsht.h>

namespace {

const int pauseBoxId = 4055;

// Where each page's template and procedure come from, by tab index.
struct pageKind {
    const TCHAR* templateName;
    DLGPROC procedure;
};

const pageKind pageKinds[sheetPageCount] = {
    {TEXT("ARRAYFILEPAGE"), arrayFilePageProc}, {TEXT("CONVERTFILEPAGE"), convertFilePageProc},
    {TEXT("PAGE1"), controlPageProc},           {TEXT("OYAYUBIKEYPAGE"), displayPageProc},
    {TEXT("ZIKANPAGE"), timePageProc},          {TEXT("TYPESOFTPAGE"), practicePageProc},
    {TEXT("IMEPAGE"), imePageProc},             {TEXT("INFOPAGE"), infoPageProc},
};

// The pages are created in this order, each stored at its tab index.
const int creationOrder[sheetPageCount] = {controlPageIndex,   practicePageIndex, timePageIndex, arrayFilePageIndex,
                                           displayPageIndex,   infoPageIndex,     convertFilePageIndex,
                                           imePageIndex};

bool autoStartEnabled()
{
    return readAutoStart() == 0;
}

// The sheet starts hidden (it is centred and shown once created) and without the "?" button.
int CALLBACK sheetCallback(HWND, UINT message, LPARAM parameter)
{
    if (message == PSCB_PRECREATE && parameter) {
        auto* words = reinterpret_cast<WORD*>(parameter);
        const bool extended = words[1] == 0xFFFF;
        auto* style = reinterpret_cast<DWORD*>(reinterpret_cast<BYTE*>(parameter) + (extended ? 12 : 0));
        *style &= ~(static_cast<DWORD>(WS_VISIBLE) | static_cast<DWORD>(DS_CONTEXTHELP));
    }
    return 1;
}

}  // namespace

settingsSheetController& sheetController()
{
    static settingsSheetController controller;
    return controller;
}

settingsSheetController::settingsSheetController() : autoStartAtOpen(autoStartEnabled()) {}

settingsSheetController::~settingsSheetController() = default;

bool settingsSheetController::openSettingsSheet(HWND tray, settingsHolder& live)
{
    if (sheetWindow) {
        centreOnWorkArea(sheetWindow);
        SetForegroundWindow(sheetWindow);
        return false;
    }
    trayWindow = tray;
    instance = reinterpret_cast<HINSTANCE>(GetWindowLongPtr(tray, GWLP_HINSTANCE));
    snapshot.reset();
    liveSettings = &live;
    snapshot.reset(new settingsHolder(live));

    HPROPSHEETPAGE pages[sheetPageCount] = {};
    for (int index : creationOrder) {
        const PROPSHEETPAGE page = sheetPageRecord(instance, pageKinds[index].templateName, pageKinds[index].procedure);
        pages[index] = CreatePropertySheetPage(&page);
    }

    const tstring caption = toT(L"設定窓口/Orvessa");
    PROPSHEETHEADER header{};
    header.dwSize = sizeof header;
    header.dwFlags = PSH_MODELESS | PSH_USECALLBACK | PSH_USEICONID;
    header.hwndParent = nullptr;
    header.hInstance = instance;
    header.pszIcon = MAKEINTRESOURCE(7000);
    header.pszCaption = caption.c_str();
    header.nPages = sheetPageCount;
    header.nStartPage = static_cast<UINT>(startPage);
    header.phpage = pages;
    header.pfnCallback = sheetCallback;
    const INT_PTR created = PropertySheet(&header);
    if (created == 0 || created == -1) {
        // Nothing is open: the next request tries again.
        sheetWindow = nullptr;
        snapshot.reset();
        return false;
    }
    sheetWindow = reinterpret_cast<HWND>(created);
    centreOnWorkArea(sheetWindow);
    return true;
}

bool settingsSheetController::isSettingsSheetMessage(MSG* msg)
{
    if (!sheetWindow || !PropSheet_IsDialogMessage(sheetWindow, msg)) return false;
    if (PropSheet_GetCurrentPageHwnd(sheetWindow)) return true;
    // OK or Cancel finished the modeless sheet: it has no current page any more.
    closeSheet();
    displayUpdate();
    return true;
}

void settingsSheetController::closeSheet()
{
    if (sheetWindow) DestroyWindow(sheetWindow);
    sheetWindow = nullptr;
    snapshot.reset();
}

void settingsSheetController::refreshSettingsPage(bool markChanged)
{
    if (!sheetWindow) return;
    if (HWND page = PropSheet_GetCurrentPageHwnd(sheetWindow)) {
        SendMessage(page, pageReload, markChanged ? 1 : 0, 0);
    }
}

bool settingsSheetController::getBool(const char* key) const
{
    return liveSettings->getBool(key);
}

int settingsSheetController::getInt(const char* key) const
{
    return liveSettings->getInt(key);
}

void settingsSheetController::setString(const char* key, const std::wstring& text)
{
    liveSettings->setString(key, text);
}

void settingsSheetController::setInt(const char* key, int value)
{
    liveSettings->setInt(key, value);
}

void settingsSheetController::setBool(const char* key, bool value)
{
    liveSettings->setBool(key, value);
}

void settingsSheetController::checkFromBool(HWND page, int id, const char* key)
{
    CheckDlgButton(page, id, getBool(key) ? BST_CHECKED : BST_UNCHECKED);
}

void settingsSheetController::checkFromInt(HWND page, int id, const char* key)
{
    CheckDlgButton(page, id, getInt(key) != 0 ? BST_CHECKED : BST_UNCHECKED);
}

void settingsSheetController::fillCombo(HWND page, int id, const wchar_t* const* texts)
{
    for (int i = 0; texts[i] && texts[i][0]; ++i) {
        const tstring text = toT(texts[i]);
        SendDlgItemMessage(page, id, CB_INSERTSTRING, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(text.c_str()));
    }
}

void settingsSheetController::setItemText(HWND page, int id, const std::wstring& text)
{
    SetDlgItemText(page, id, toT(text).c_str());
}

bool settingsSheetController::comboChanged(HWND page, WPARAM wParam, int id, const char* key)
{
    if (LOWORD(wParam) != id || HIWORD(wParam) != CBN_SELCHANGE) return false;
    const LRESULT index = SendDlgItemMessage(page, id, CB_GETCURSEL, 0, 0);
    setInt(key, static_cast<int>(index));
    return true;
}

bool settingsSheetController::gameModeFlagSet(int mask) const
{
    return (getInt("GameModeFlags") & mask) != 0;
}

void settingsSheetController::setGameModeFlags(int value, int mask)
{
    setInt("GameModeFlags", (getInt("GameModeFlags") & ~mask) | (value & mask));
}

void settingsSheetController::setTrackbarMs(HWND page, int id, int milliseconds)
{
    SendDlgItemMessage(page, id, TBM_SETPOS, TRUE, msToTrackPos(milliseconds));
}

INT_PTR settingsSheetController::commonNotify(HWND page, LPARAM lParam)
{
    const auto* header = reinterpret_cast<const NMHDR*>(lParam);
    switch (header->code) {
    case PSN_QUERYCANCEL:
        SetWindowLongPtr(page, DWLP_MSGRESULT, 0);
        return TRUE;
    case PSN_APPLY:
        applySettingsCopy(false);
        SetWindowLongPtr(page, DWLP_MSGRESULT, PSNRET_NOERROR);
        // After OK the sheet has no current page; a message for it lets the loop hook close it
        // at once instead of at the next mouse move over it.
        if (sheetWindow) PostMessage(sheetWindow, WM_NULL, 0, 0);
        return TRUE;
    case PSN_RESET:
        if (autoStartAtOpen != autoStartEnabled()) writeAutoStart(autoStartAtOpen);
        notifyMain(settingChangedByKey, 0);
        if (snapshot && liveSettings->differsFrom(*snapshot)) {
            *liveSettings = *snapshot;
            announceAgentChange();
        }
        if (sheetWindow) PostMessage(sheetWindow, WM_NULL, 0, 0);
        return FALSE;
    default:
        return FALSE;
    }
}

bool settingsSheetController::sharedPageMessage(HWND page, UINT message, WPARAM wParam, LPARAM lParam,
                                                int pageIndex, const std::function<void()>& activate,
                                                INT_PTR& result)
{
    if (message == WM_NOTIFY) {
        if (reinterpret_cast<const NMHDR*>(lParam)->code != PSN_SETACTIVE) {
            result = commonNotify(page, lParam);
            return true;
        }
        startPage = pageIndex;
        activate();
        SetWindowLongPtr(page, DWLP_MSGRESULT, 0);
        result = TRUE;
        return true;
    }
    if (message == pageReload) {
        refreshPageControls(page);
        if (wParam) pageChanged(page);
        result = TRUE;
        return true;
    }
    return false;
}

void settingsSheetController::applySettingsCopy(bool pressApply)
{
    autoStartAtOpen = autoStartEnabled();
    if (!snapshot || liveSettings->differsFrom(*snapshot)) {
        snapshot.reset();
        snapshot.reset(new settingsHolder(*liveSettings));
        announceAgentChange();
    }
    if (pressApply && sheetWindow) PropSheet_Apply(sheetWindow);
}

bool settingsSheetController::announceAgentChange()
{
    const bool exchanged = liveSettings->changeInputHandler(snapshot ? *snapshot : *liveSettings);
    notifyMain(settingsApplied, exchanged ? 1 : 0);
    return exchanged;
}

void settingsSheetController::pauseBox(HWND page)
{
    auto agent = liveSettings->currentAgent;
    if (!agent) return;
    const bool running = agent->isActive();
    const bool wantRunning = IsDlgButtonChecked(page, pauseBoxId) != BST_CHECKED;
    if (running == wantRunning) return;
    agent->setEnabled(wantRunning);
    liveSettings->link().sendRequest(fromDll::setPassThrough, wantRunning ? 0 : 1, 0);
    CheckDlgButton(page, pauseBoxId, wantRunning ? BST_UNCHECKED : BST_CHECKED);
    notifyMain(settingChangedByKey, 0);
}

pageRefreshInput settingsSheetController::refreshInput() const
{
    pageRefreshInput in;
    auto agent = liveSettings->currentAgent;
    in.paused = agent && !agent->isActive();
    in.gameSwitch = getBool("GameSwitch");
    in.gameModeFlags = getInt("GameModeFlags");
    in.shiftLayout = getInt("shiftLayout");
    in.dvorak = getBool("Dvorak");
    in.kanaConvert = getBool("KanaConvert");
    in.hiddenKeyBoard = getBool("HiddenKeyBoard");
    in.hasMultiDownHoldKeys = agent && agent->hasMultiDownHoldKeys();
    in.hasMultiStrokeEntries = agent && agent->hasMultiStrokeEntries();
    in.driverType = getInt("DriverType");
    in.capsLockSync2ImeKana = getBool("CapsLockSync2IMEKana");
    in.kanaConvertOnlyInKanaLocked = getBool("KANAConvertOnlyInKanaLocked");
    in.winOutputTimer = getInt("WinOutputTimer");
    in.winShiftReverseType = getInt("WinShiftReverseType");
    in.autoMove = getBool("AutoMove");
    in.tasktray = getBool("Tasktray");
    in.winImeStateDisplay = getInt("WinImeStateDisplay");
    in.drawNumColumn = getBool("DrawNumColumn");
    in.showLogSwitch = getBool("ShowLogSwitch");
    in.logLevel = getInt("LogLevel");
    in.numLockConvert = getBool("NumLockConvert");
    return in;
}

void settingsSheetController::refreshPageControls(HWND page)
{
    for (const controlRefresh& rule : refreshRules(refreshInput())) {
        HWND control = GetDlgItem(page, rule.id);
        if (!control) continue;
        if (rule.enable >= 0) EnableWindow(control, rule.enable ? TRUE : FALSE);
        if (rule.check >= 0) CheckDlgButton(page, rule.id, rule.check ? BST_CHECKED : BST_UNCHECKED);
        if (rule.show >= 0) ShowWindow(control, rule.show ? SW_SHOW : SW_HIDE);
        if (rule.select >= 0) SendMessage(control, CB_SETCURSEL, static_cast<WPARAM>(rule.select), 0);
    }
}

void settingsSheetController::displayUpdate()
{
    if (!liveSettings) return;
    notifyMain(showKeyboardDisplay, getBool("HiddenKeyBoard") ? 0 : 1);
    notifyMain(imeStateChanged, 0);
}

void settingsSheetController::pageChanged(HWND page)
{
    HWND sheet = sheetWindow ? sheetWindow : GetParent(page);
    PropSheet_Changed(sheet, page);
}

LRESULT settingsSheetController::notifyMain(UINT message, WPARAM wParam, LPARAM lParam)
{
    if (!trayWindow) return 0;
    return SendMessage(trayWindow, message, wParam, lParam);
}
