// The main-window object: owns the hidden window of class "orvessaTasktray" (the address of every
// private message, the tray icon's notifications and the setup program's quit command), the log
// window, the keyboard display, the tray icon and menu, the log stream and the settings holder.
#pragma once

#include "app/trayIcon.h"
#include "core/platform/omsgstream.h"

#include <windows.h>
#include <shellapi.h>

#include <memory>
#include <string>

class settingsHolder;
class versionInfo;

// Kept for the core, which sends settingChangedByKey to it.
extern HWND mainWindowHandle;
extern HWND keyboardDisplayHandle;

class mainWindow {
public:
    mainWindow();
    ~mainWindow();
    mainWindow(const mainWindow&) = delete;
    mainWindow& operator=(const mainWindow&) = delete;

    void runMessageLoop();
    void shutdown();

    void openSettings(HWND owner);
    void afterSettingsApplied(bool relabel);
    bool updateTrayIcon(bool forced);
    void onCommand(HWND window, int id);
    void prepareTrayMenu(HMENU menu);
    void toggleSetting(const char* key);
    void toggleLogWindow();

    settingsHolder& holder() { return *m_holder; }
    HWND window() const { return m_window; }
    HWND logWindowHandle() const { return m_logWindow; }

    LRESULT windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

private:
    void runDelayedSetup();
    // Saves to the settings file, first keeping a refused file there aside.
    bool saveSettings();
#ifndef TVN_ANSI
    void sessionTimerTick();
    void sessionChange(WPARAM event, LPARAM session);
    void resumeAfterSession();
#endif
    void onTrayNotify(LPARAM mouseMessage);
    void appendLogText();
    void logLine(const std::wstring& text);
    void stateChanged(UINT message, WPARAM wParam, LPARAM lParam);
    void retryTrayAdd();

    HWND m_window = nullptr;
    HWND m_logWindow = nullptr;
    HWND m_display = nullptr;
    UINT m_taskbarCreated = 0;
    NOTIFYICONDATA m_notify{};
    std::unique_ptr<trayIconSet> m_icons;
    bool m_modernShell = false;
    std::shared_ptr<omsgstream> m_log;
    HMENU m_trayMenu = nullptr;
    bool m_sessionRegistered = false;
    std::unique_ptr<settingsHolder> m_holder;
    versionInfo* m_version = nullptr;
    // The shell may not be ready at logon: the forced tray add is retried from a timer, once a
    // second for about a minute, so the main thread (which also runs the keyboard hook) never sleeps.
    static const UINT_PTR trayRetryTimer = 1001;
    static const int trayRetryRounds = 60;
    int m_trayAddRounds = 0;
    bool m_shutDown = false;
};
