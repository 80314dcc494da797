#include "app/mainWindow.h"

#include "app/keyboardDisplay.h"
#include "app/appText.h"
#include "app/logWindow.h"
#include "app/settingsSheet.h"
#include "app/startup.h"
#include "app/windowMessages.h"
#include "core/link/dllLink.h"
#include "core/platform/errors.h"
#include "core/agents/inputHandler.h"
#include "core/platform/platform.h"
#include "core/platform/registry.h"
#include "core/settings/settingsHolder.h"
#include "core/settings/versionInfo.h"
#include "resources/resource.h"

#include <exception>
#include <sstream>

HWND mainWindowHandle = nullptr;
HWND keyboardDisplayHandle = nullptr;

namespace {

const TCHAR windowClassName[] = TEXT("orvessaTasktray");
const int logTextLimit = 65000;

#ifndef TVN_ANSI
const UINT_PTR sessionTimer = 1000;

#ifndef WM_WTSSESSION_CHANGE
const UINT WM_WTSSESSION_CHANGE = 0x02B1;
#endif
#ifndef NOTIFY_FOR_THIS_SESSION
const DWORD NOTIFY_FOR_THIS_SESSION = 0;
#endif

// Per-process state of the window procedure.
bool consoleConnected = true;
bool pausedBySession = false;
#endif
bool trayUpdatesHeld = false;

LRESULT CALLBACK forwardingWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    auto* self = reinterpret_cast<mainWindow*>(GetWindowLongPtr(window, 0));
    if (!self) {
        if (message == WM_CREATE) {
            const auto* create = reinterpret_cast<const CREATESTRUCT*>(lParam);
            self = static_cast<mainWindow*>(create->lpCreateParams);
            SetWindowLongPtr(window, 0, reinterpret_cast<LONG_PTR>(self));
        } else {
            return DefWindowProc(window, message, wParam, lParam);
        }
    }
    return self->windowProc(window, message, wParam, lParam);
}

#ifndef TVN_ANSI
std::wstring sessionEventName(WPARAM event)
{
    switch (event) {
    case 1: return L"WTS_CONSOLE_CONNECT";
    case 2: return L"WTS_CONSOLE_DISCONNECT";
    case 3: return L"WTS_REMOTE_CONNECT";
    case 4: return L"WTS_REMOTE_DISCONNECT";
    case 5: return L"WTS_SESSION_LOGON";
    case 6: return L"WTS_SESSION_LOGOFF";
    case 7: return L"WTS_SESSION_LOCK";
    case 8: return L"WTS_SESSION_UNLOCK";
    default: return L"未知のセッション変更メッセージです。";
    }
}
#endif

// The tray tip in the record's own text type.
void setTrayTip(NOTIFYICONDATA& notify, const std::wstring& tip)
{
#ifdef TVN_ANSI
    copyBounded(notify.szTip, toT(tip).c_str(), sizeof notify.szTip);
#else
    copyBoundedW(notify.szTip, tip.c_str(), 128);
#endif
}


}  // namespace

mainWindow::mainWindow()
{
    m_taskbarCreated = RegisterWindowMessage(TEXT("TaskbarCreated"));
    m_icons.reset(new trayIconSet(appInstance));
#ifdef TVN_ANSI
    // The tray record's size must be one that the shell32.dll of this system knows: Windows 98
    // may have a newer shlwapi.dll (from a browser update) beside a shell32.dll of 4.x.
    m_modernShell = getDllVersion(TEXT("shell32.dll")) > 0x4FFFF;
#else
    m_modernShell = getDllVersion(TEXT("shlwapi.dll")) > 0x4FFFF;
#endif
    m_log = std::make_shared<omsgstream>(logTextReady, nullptr);
    m_holder.reset(new settingsHolder(m_log));
    m_version = &getVersionInfo();

    WNDCLASS wc{};
    wc.lpfnWndProc = forwardingWindowProc;
    wc.cbWndExtra = sizeof(LONG_PTR);
    wc.hInstance = appInstance;
    wc.lpszClassName = windowClassName;
    RegisterClass(&wc);
    CreateWindowEx(0, windowClassName, TEXT("Tavolin1.3+"), WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, CW_USEDEFAULT,
                   CW_USEDEFAULT, CW_USEDEFAULT, nullptr, nullptr, appInstance, this);

    logWindowParams params{m_log, m_window, m_version};
    m_logWindow = CreateDialogParam(appInstance, TEXT("IDD_orvessaLog"), nullptr, logWindowProc,
                                    reinterpret_cast<LPARAM>(&params));
    SendDlgItemMessage(m_logWindow, IDC_LOG_EDIT, EM_LIMITTEXT, 0, 0);
    m_log->setWindow(m_window);

    m_notify = NOTIFYICONDATA{};
    m_notify.hWnd = m_window;
    m_notify.uID = 1;
    m_notify.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
    m_notify.hIcon = m_icons->icon(0);
    m_notify.uCallbackMessage = trayNotify;
    setTrayTip(m_notify, captionText());
    if (m_modernShell) {
        m_notify.cbSize = NOTIFYICONDATA_V2_SIZE;
        m_notify.uFlags |= NIF_INFO;
    } else {
        m_notify.cbSize = NOTIFYICONDATA_V1_SIZE;
    }
    updateTrayIcon(true);
    m_trayMenu = LoadMenu(appInstance, TEXT("RTRAYMENU"));
}

mainWindow::~mainWindow()
{
    if (!m_shutDown) shutdown();
}

void mainWindow::logLine(const std::wstring& text)
{
    scopedLock guard(*m_log);
    *m_log << toT(text) << std::endl;
}

LRESULT mainWindow::windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    // Nothing may unwind through DispatchMessage: a failure here is logged and the message answered.
    try {
        switch (message) {
        case WM_CREATE: {
            m_window = window;
            mainWindowHandle = window;
            keyboardDisplayParams params{m_holder.get(), appInstance, window};
            m_display = CreateDialogParam(appInstance, TEXT("IDD_tvnKeyboardDisplay"), nullptr, keyboardDisplayProc,
                                          reinterpret_cast<LPARAM>(&params));
            keyboardDisplayHandle = m_display;
            inputHandler::setWindows(window, m_display);
            getDllLink().setMainWindow(window);
            getDllLink().setLogStream(m_log);
            PostMessage(window, delayedSetup, 0, 0);
            return 0;
        }
        case WM_DESTROY:
            if (m_sessionRegistered) {
                unregisterSessionNotification(window);
                m_sessionRegistered = false;
            }
            return 0;
        case WM_QUERYENDSESSION:
            saveSettings();
            return TRUE;
        case WM_ENDSESSION:
            if (auto agent = m_holder->currentAgent) agent->pause();
            return 0;
        case WM_COMMAND:
            if (HIWORD(wParam) == 0) onCommand(window, LOWORD(wParam));
            return 0;
        case WM_TIMER:
#ifndef TVN_ANSI
            if (wParam == sessionTimer) sessionTimerTick();
#endif
            if (wParam == trayRetryTimer) retryTrayAdd();
            return 0;
#ifndef TVN_ANSI
        case WM_WTSSESSION_CHANGE:
            sessionChange(wParam, lParam);
            return 1;
#endif
        case trayNotify:
            if (wParam == 1) onTrayNotify(lParam);
            return 0;
        case logTextReady:
            appendLogText();
            return 0;
        case showKeyboardDisplay:
            ShowWindow(m_display, wParam ? SW_SHOW : SW_HIDE);
            return 0;
        case imeStateChanged:
        case settingChangedByKey:
            stateChanged(message, wParam, lParam);
            return 0;
        case placeKeyboardDisplay:
            SendMessage(m_display, placeKeyboardDisplay, 0, 0);
            return 0;
        case keyboardDisplayClosed:
            refreshSettingsPage(true);
            return 0;
        case showLogWindow:
            SendMessage(m_logWindow, showLogWindow, wParam, lParam);
            return 0;
        case logOptionsChanged:
            m_holder->setBool("ShowLogSwitch", wParam == 1);
            m_holder->setInt("LogLevel", static_cast<int>(lParam));
            refreshSettingsPage(true);
            return 0;
        case keyboardDisplayHold:
            trayUpdatesHeld = wParam != 0;
            return 0;
        case settingsApplied:
            afterSettingsApplied(wParam == 1);
            return 0;
        case openSettingsRequest:
            updateTrayIcon(true);
            openSettings(window);
            return 0;
        case delayedSetup:
            runDelayedSetup();
            return 0;
        default:
            if (message == m_taskbarCreated && m_taskbarCreated != 0) {
                updateTrayIcon(true);
                return 0;
            }
            return DefWindowProc(window, message, wParam, lParam);
        }
    } catch (const ErrorMessage& e) {
        logLine(e.text());
    } catch (const std::exception& e) {
        std::wostringstream text;
        text << L"内部エラー : " << e.what();
        logLine(text.str());
    } catch (...) {
        logLine(L"内部エラー : 不明な例外");
    }
    return 0;
}

void mainWindow::stateChanged(UINT message, WPARAM wParam, LPARAM lParam)
{
    if (!trayUpdatesHeld) {
        updateTrayIcon(false);
        SendMessage(m_display, imeStateChanged, wParam, lParam);
    }
    if (message == settingChangedByKey && wParam == 1) refreshSettingsPage(true);
}

void mainWindow::appendLogText()
{
    // takeText holds the stream's lock until clearText, so no writer appends meanwhile.
    const tstring& text = m_log->takeText();
    appendEditText(text, GetDlgItem(m_logWindow, IDC_LOG_EDIT), logTextLimit);
    m_log->clearText();
}

void mainWindow::runDelayedSetup()
{
#ifndef TVN_ANSI
    if (isWinXPOrLater()) SetTimer(m_window, sessionTimer, 2000, nullptr);
#endif
    const std::wstring path = chooseSettingsFile();
    if (!m_holder->loadSettingsFile(path, programFolder())) {
        logLine(L"設定を参照できませんでした。初期設定値を適用します。");
        // The defaults are saved at exit to where the settings belong; a refused file there is
        // first kept aside (see saveSettings).
        m_holder->settingsFilePath = path;
        try {
            m_holder->applyDefaults();
        } catch (const ErrorMessage& e) {
            // The defaults are set even when the chosen input agent can't start here; the
            // windows below still need their places and the tray its icon.
            logLine(e.text());
        }
    }
    afterSettingsApplied(true);
    PostMessage(m_display, placeKeyboardDisplay, 0, 0);
    PostMessage(m_logWindow, logInitialState, m_holder->getBool("ShowLogSwitch") ? 1 : 0,
                m_holder->getInt("LogLevel"));
    updateTrayIcon(false);
}

void mainWindow::afterSettingsApplied(bool relabel)
{
    if (relabel) SendMessage(m_display, relabelKeyboardDisplay, 0, 0);
    if (auto agent = m_holder->currentAgent) m_version->agentName = agent->displayName();
    m_version->composeVersionText();
}

bool mainWindow::saveSettings()
{
    // A settings file that was refused at start (newer version, wrong title) is kept beside the
    // new one; when it can't be kept, it is not overwritten either.
    const std::wstring path = m_holder->settingsFilePath;
    if (m_holder->lastLoadRefusedFile() && !m_holder->keepRefusedFile(path)) return false;
    return m_holder->saveFile(std::wstring());
}

#ifndef TVN_ANSI
void mainWindow::sessionTimerTick()
{
    if (m_sessionRegistered) {
        KillTimer(m_window, sessionTimer);
        return;
    }
    m_sessionRegistered = registerSessionNotification(m_window, NOTIFY_FOR_THIS_SESSION);
    if (m_sessionRegistered) {
        logLine(L"セッション状態変更情報の受け取りを許可されました。");
    } else {
        const DWORD error = GetLastError();
        logLine(L"セッション状態変更情報をまだ受けられません。理由 : " + systemErrorText(error));
        SetTimer(m_window, sessionTimer, 15000, nullptr);
    }
}

void mainWindow::resumeAfterSession()
{
    auto agent = m_holder->currentAgent;
    if (agent && !agent->resumeSafely()) {
        MessageBoxW(m_window, L"再ログオンに伴う入力代行部の接続復帰に失敗しました。", captionText(), MB_ICONWARNING);
    }
}

void mainWindow::sessionChange(WPARAM event, LPARAM session)
{
    {
        scopedLock guard(*m_log);
        std::wostringstream line;
        line << L"WM_WTSESSION_CHANGE(" << static_cast<unsigned long long>(event) << L", "
             << static_cast<long long>(session) << L"): " << sessionEventName(event);
        *m_log << toT(line.str()) << std::endl;
    }
    auto agent = m_holder->currentAgent;
    switch (event) {
    case 1:
        consoleConnected = true;
        if (pausedBySession) resumeAfterSession();
        pausedBySession = false;
        break;
    case 2:
        consoleConnected = false;
        if (!pausedBySession && agent) agent->pause();
        pausedBySession = true;
        break;
    case 7:
        if (agent) agent->pause();
        pausedBySession = true;
        break;
    case 8:
        if (pausedBySession && consoleConnected) {
            resumeAfterSession();
            pausedBySession = false;
        }
        break;
    default:
        break;
    }
}
#endif

void mainWindow::runMessageLoop()
{
    {
        TCHAR path[1024] = {};
        GetModuleFileName(appInstance, path, 1024);
        scopedLock guard(*m_log);
        // The header names when this program was compiled.
        *m_log << toT(m_version->writeLogHeader(fromT(path), L"" __DATE__, L"" __TIME__));
        m_log->flush();
    }
    MSG msg;
    while (GetMessage(&msg, nullptr, 0, 0) > 0) {
        if (m_logWindow && IsDialogMessage(m_logWindow, &msg)) continue;
        if (m_display && IsDialogMessage(m_display, &msg)) continue;
        if (settingsSheetDialogMessage(&msg)) continue;
        TranslateMessage(&msg);
        DispatchMessage(&msg);
    }
}

void mainWindow::shutdown()
{
    if (m_shutDown) return;
    m_shutDown = true;
    {
        scopedLock guard(*m_log);
        m_log->flush();
        m_log->setWindow(nullptr);
    }
    KillTimer(m_window, trayRetryTimer);
    // An open sheet refers to the holder; it goes first, keeping the settings as they are now.
    closeSettingsSheet();
    // The agents are single objects that outlive the holder: stop the current one (and with it
    // the keyboard hook) while the holder and the windows it talks to still exist.
    m_holder->stopInputHandler();
    inputHandler::setWindows(nullptr, nullptr);
    DestroyWindow(m_logWindow);
    m_logWindow = nullptr;
    DestroyWindow(m_display);
    m_display = nullptr;
    keyboardDisplayHandle = nullptr;
    DestroyWindow(m_window);
    DestroyMenu(m_trayMenu);
    m_trayMenu = nullptr;
    Shell_NotifyIcon(NIM_DELETE, &m_notify);

    if (!saveSettings()) {
        const std::wstring path = m_holder->settingsFilePath;
        const bool saved = !path.empty() && createDirectoryRecursive(toT(path), true) && saveSettings();
        if (!saved) MessageBoxW(nullptr, L"設定の保存に失敗しました。", captionText(), MB_ICONWARNING);
    }
    m_holder.reset();
    m_log.reset();
    m_icons.reset();
    mainWindowHandle = nullptr;
    m_window = nullptr;
}
