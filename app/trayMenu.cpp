// The main window's tray icon update, mouse actions, menu states and commands.
#include "app/keyboardDisplay.h"
#include "app/mainWindow.h"
#include "app/settingsSheet.h"
#include "app/startup.h"
#include "app/windowMessages.h"
#include "core/link/dllLink.h"
#include "core/agents/inputHandler.h"
#include "core/platform/platform.h"
#include "core/settings/settingsHolder.h"
#include "resources/resource.h"

#include "hooklib/protocol.h"

#include <shellapi.h>

namespace {
bool rightDoubleClickFlag = false;

void checkItem(HMENU menu, UINT id, bool on)
{
    CheckMenuItem(menu, id, MF_BYCOMMAND | (on ? MF_CHECKED : MF_UNCHECKED));
}

void greyItem(HMENU menu, UINT id, bool grey)
{
    EnableMenuItem(menu, id, MF_BYCOMMAND | (grey ? MF_GRAYED : MF_ENABLED));
}

#ifndef TVN_ANSI
void setItemLook(HMENU menu, UINT item, BOOL byPosition, HBITMAP bitmap, const wchar_t* text)
{
    MENUITEMINFOW info{};
    info.cbSize = sizeof(info);
    info.fMask = MIIM_BITMAP;
    info.hbmpItem = bitmap;
    if (text) {
        info.fMask |= MIIM_STRING;
        info.dwTypeData = const_cast<wchar_t*>(text);
    }
    SetMenuItemInfoW(menu, item, byPosition, &info);
}
#endif
}  // namespace

bool mainWindow::updateTrayIcon(bool forced)
{
    dllLinkInterface& link = getDllLink();
    trayIconState s;
    auto agent = m_holder->currentAgent;
    s.agentActive = agent && agent->isActive();
    s.imeStateDisplay = m_holder->getInt("WinImeStateDisplay");
    s.gameSwitch = m_holder->getBool("GameSwitch");
    s.gameModeFlags = m_holder->getInt("GameModeFlags");
    s.imeOpen = link.isImeOpen();
    s.capsOn = link.isCapsOn();
    s.kanaOn = link.isKanaOn();
    s.fullShape = link.isFullShape();
    s.alphanumericMode = link.isAlphanumericMode();
    s.katakanaMode = link.isKatakanaMode();
    m_notify.hIcon = m_icons->icon(chooseTrayIconIndex(s));
    m_notify.szInfo[0] = TEXT('\0');
    m_notify.szInfoTitle[0] = TEXT('\0');
    if (!forced) return Shell_NotifyIcon(NIM_MODIFY, &m_notify) != FALSE;
    if (Shell_NotifyIcon(NIM_ADD, &m_notify)) return true;
    if (Shell_NotifyIcon(NIM_MODIFY, &m_notify)) return true;
    // The shell is not ready yet: try again from a timer instead of sleeping on this thread.
    m_trayAddRounds = 0;
    if (m_window) SetTimer(m_window, trayRetryTimer, 1000, nullptr);
    return false;
}

void mainWindow::retryTrayAdd()
{
    ++m_trayAddRounds;
    if (Shell_NotifyIcon(NIM_MODIFY, &m_notify) || Shell_NotifyIcon(NIM_ADD, &m_notify) ||
        m_trayAddRounds >= trayRetryRounds) {
        KillTimer(m_window, trayRetryTimer);
    }
}

void mainWindow::onTrayNotify(LPARAM mouseMessage)
{
    switch (mouseMessage) {
    case WM_LBUTTONUP:
        SendMessage(m_window, WM_COMMAND, IDM_KEYBOARD_SHOW, 0);
        break;
    case WM_RBUTTONDOWN:
        rightDoubleClickFlag = false;
        break;
    case WM_RBUTTONDBLCLK:
        rightDoubleClickFlag = true;
        break;
    case WM_RBUTTONUP: {
        if (rightDoubleClickFlag) {
            openSettings(m_window);
            rightDoubleClickFlag = false;
            break;
        }
        POINT p{};
        GetCursorPos(&p);
        SetForegroundWindow(m_window);
        HMENU popup = GetSubMenu(m_trayMenu, 0);
        prepareTrayMenu(popup);
        TrackPopupMenu(popup, TPM_LEFTBUTTON, p.x, p.y, 0, m_window, nullptr);
        break;
    }
    case WM_MBUTTONUP:
        toggleLogWindow();
        break;
    default:
        break;
    }
}

void mainWindow::prepareTrayMenu(HMENU menu)
{
    settingsHolder& h = *m_holder;
    auto agent = h.currentAgent;
    const bool active = agent && agent->isActive();
    const bool hidden = h.getBool("HiddenKeyBoard");
    const bool game = h.getBool("GameSwitch");
    const int flags = h.getInt("GameModeFlags");
    const bool sheetOpen = isSettingsSheetOpen();

    SetMenuDefaultItem(menu, sheetOpen ? IDM_SETTINGS : static_cast<UINT>(-1), FALSE);
    checkItem(menu, IDM_PAUSE_ALL, !active);
    checkItem(menu, IDM_LOG_WINDOW, IsWindowVisible(m_logWindow) != FALSE);
    checkItem(menu, IDM_SETTINGS, sheetOpen);
    checkItem(menu, IDM_AUTO_MOVE, h.getBool("AutoMove"));
    checkItem(menu, IDM_DRAW_NUM_COLUMN, h.getBool("DrawNumColumn"));
    checkItem(menu, IDM_KEYBOARD_SHOW, !hidden);
    checkItem(menu, IDM_GAME_OFF, !(game && active));
    checkItem(menu, IDM_GAME_ROMAJI, game && !(flags & 0x80));
    checkItem(menu, IDM_GAME_KANA, game && (flags & 0x80));
    checkItem(menu, IDM_SHIFT_SPECIAL, h.getInt("WinShiftReverseType") != 0);
    checkItem(menu, IDM_OUTPUT_WAIT, h.getInt("WinOutputTimer") >= 10000);
    checkItem(menu, IDM_KANA_CONVERT, h.getBool("KanaConvert"));
    checkItem(menu, IDM_DVORAK, h.getBool("Dvorak"));
    checkItem(menu, IDM_TASKTRAY, h.getBool("Tasktray"));
    checkItem(menu, IDM_CTRL_QWERTY, h.getBool("CtrlQwerty"));
    checkItem(menu, IDM_CTRL_MIGI_OFF, h.getBool("CtrlMigiOff"));
    checkItem(menu, IDM_FUNC_OUTPUT, h.getBool("FuncOutput"));

    greyItem(menu, IDM_AUTO_MOVE, hidden);
    greyItem(menu, IDM_DRAW_NUM_COLUMN, hidden);
    greyItem(menu, IDM_CTRL_QWERTY, !h.getBool("Dvorak"));
    greyItem(menu, IDM_GAME_ROMAJI, !active);
    greyItem(menu, IDM_GAME_KANA, !active);
    const bool practice = game && active;
    greyItem(menu, IDM_SHIFT_SPECIAL, !practice);
    greyItem(menu, IDM_OUTPUT_WAIT, !practice);
    greyItem(menu, IDM_GAME_BOTH, !practice);

#ifndef TVN_ANSI
    setItemLook(menu, IDM_QUIT, FALSE, HBMMENU_POPUP_CLOSE, L"Tavolinの終了(&X)");
    setItemLook(menu, 7, TRUE, HBMMENU_POPUP_MAXIMIZE, nullptr);
    setItemLook(menu, IDM_LOG_WINDOW, FALSE, HBMMENU_POPUP_RESTORE, nullptr);
    setItemLook(menu, IDM_PAUSE_ALL, FALSE, HBMMENU_POPUP_MINIMIZE, nullptr);
#endif
}

void mainWindow::toggleSetting(const char* key)
{
    m_holder->setBool(key, !m_holder->getBool(key));
    refreshSettingsPage(true);
}

void mainWindow::toggleLogWindow()
{
    const bool visible = IsWindowVisible(m_logWindow) != FALSE;
    m_holder->setBool("ShowLogSwitch", !visible);
    SendMessage(m_logWindow, showLogWindow, visible ? 0 : 1, m_holder->getInt("LogLevel"));
    if (!visible) SetForegroundWindow(m_logWindow);
    refreshSettingsPage(true);
}

void mainWindow::openSettings(HWND owner)
{
    openSettingsSheet(*this, owner);
}

void mainWindow::onCommand(HWND window, int id)
{
    settingsHolder& h = *m_holder;
    auto practiceChanged = [&] {
        refreshSettingsPage(true);
        updateTrayIcon(false);
        SendMessage(m_display, imeStateChanged, 0, 0);
    };
    auto choosePractice = [&](bool kana) {
        const int flags = h.getInt("GameModeFlags");
        const int wanted = kana ? (flags | 0x80) : (flags & ~0x80);
        if (!(h.getBool("GameSwitch") && flags == wanted)) {
            h.setBool("GameSwitch", true);
            h.setInt("GameModeFlags", wanted);
        }
        practiceChanged();
    };
    auto toggleShiftSpecial = [&] { h.setInt("WinShiftReverseType", h.getInt("WinShiftReverseType") == 0 ? 1 : 0); };
    auto toggleOutputWait = [&] { h.setOutputTimerEnabled(h.getInt("WinOutputTimer") < 10000); };

    switch (id) {
    case IDM_KANA_CONVERT: toggleSetting("KanaConvert"); break;
    case IDM_QUIT: PostQuitMessage(0); break;
    case IDM_TASKTRAY:
        toggleSetting("Tasktray");
        updateTrayIcon(false);
        break;
    case IDM_KEYBOARD_SHOW: {
        const bool visible = IsWindowVisible(m_display) != FALSE;
        ShowWindow(m_display, visible ? SW_HIDE : SW_SHOW);
        h.setBool("HiddenKeyBoard", visible);
        refreshSettingsPage(true);
        break;
    }
    case IDM_KEYBOARD_CENTRE: {
        RECT r{};
        GetWindowRect(m_display, &r);
        clampToDesktopShare(WMSZ_BOTTOMRIGHT, &r, 0.2, 0.5);
        MoveWindow(m_display, r.left, r.top, r.right - r.left, r.bottom - r.top, TRUE);
        centreOnWorkArea(m_display);
        ShowWindow(m_display, SW_SHOW);
        h.setBool("HiddenKeyBoard", false);
        refreshSettingsPage(true);
        break;
    }
    case IDM_DRAW_NUM_COLUMN: toggleSetting("DrawNumColumn"); break;
    case IDM_WIN_FRAME: toggleSetting("WinFrame"); break;
    case IDM_DVORAK: toggleSetting("Dvorak"); break;
    case IDM_CTRL_QWERTY: toggleSetting("CtrlQwerty"); break;
    case IDM_AUTO_MOVE: toggleSetting("AutoMove"); break;
    case IDM_CTRL_MIGI_OFF: toggleSetting("CtrlMigiOff"); break;
    case IDM_FUNC_OUTPUT: toggleSetting("FuncOutput"); break;
    case IDM_SETTINGS: openSettings(window); break;
    case IDM_GAME_ROMAJI: choosePractice(false); break;
    case IDM_GAME_KANA: choosePractice(true); break;
    case IDM_GAME_OFF:
        h.setBool("GameSwitch", false);
        practiceChanged();
        break;
    case IDM_LOG_WINDOW: toggleLogWindow(); break;
    case IDM_PAUSE_ALL: {
        auto agent = h.currentAgent;
        if (!agent) break;
        const bool nowActive = !agent->isActive();
        agent->setEnabled(nowActive);
        updateTrayIcon(false);
        refreshSettingsPage(false);
        getDllLink().sendRequest(fromDll::setPassThrough, nowActive ? 0 : 1, 0);
        break;
    }
    case IDM_MANUAL: {
        const tstring path = toT(programFolder() + L"\\説明書.html");
        const INT_PTR result = reinterpret_cast<INT_PTR>(
            ShellExecute(nullptr, nullptr, path.c_str(), nullptr, toT(programFolder()).c_str(), SW_SHOW));
        if (result <= 32) {
            MessageBoxW(window, L"説明書の表示に障害が発生しました。", captionText(), MB_ICONWARNING);
        }
        break;
    }
    case IDM_SHIFT_SPECIAL:
        toggleShiftSpecial();
        refreshSettingsPage(true);
        break;
    case IDM_OUTPUT_WAIT:
        toggleOutputWait();
        refreshSettingsPage(true);
        break;
    case IDM_GAME_BOTH:
        toggleShiftSpecial();
        toggleOutputWait();
        refreshSettingsPage(true);
        break;
    default:
        break;
    }
}
