// The settings property sheet's controller: one object for the process that owns the modeless
// sheet, its snapshot of the settings (what Cancel restores) and the behaviour every page shares.
// All of it runs on the UI thread.
#pragma once

#include "app/windowMessages.h"

#include <windows.h>

#include <functional>
#include <memory>
#include <string>

class settingsHolder;
struct pageRefreshInput;

// Tab order of the pages; the index is also what `startPage` remembers.
enum sheetPageIndex {
    arrayFilePageIndex = 0,
    convertFilePageIndex = 1,
    controlPageIndex = 2,
    displayPageIndex = 3,
    timePageIndex = 4,
    practicePageIndex = 5,
    imePageIndex = 6,
    infoPageIndex = 7,
    sheetPageCount = 8
};


class settingsSheetController {
public:
    HWND sheetWindow = nullptr;
    HWND trayWindow = nullptr;
    HINSTANCE instance = nullptr;
    int startPage = 0;
    std::unique_ptr<settingsHolder> snapshot;
    settingsHolder* liveSettings = nullptr;
    bool autoStartAtOpen = false;
    std::wstring chosenSettingsFile;

    settingsSheetController();
    ~settingsSheetController();

    // Opens the sheet, or brings an open one forward (then answers false).
    bool openSettingsSheet(HWND tray, settingsHolder& live);
    // The message loop's hook: true when the sheet consumed the message.
    bool isSettingsSheetMessage(MSG* msg);
    // Sends pageReload to the current page, when the sheet is open.
    void refreshSettingsPage(bool markChanged);
    bool isSettingsSheetOpen() const { return sheetWindow != nullptr; }
    // Destroys an open sheet and its snapshot without applying or cancelling (program exit).
    void closeSheet();

    // Settings access on the live holder.
    bool getBool(const char* key) const;
    int getInt(const char* key) const;
    void setString(const char* key, const std::wstring& text);
    void setInt(const char* key, int value);
    void setBool(const char* key, bool value);
    void checkFromBool(HWND page, int id, const char* key);
    void checkFromInt(HWND page, int id, const char* key);
    // Inserts texts (ended by an empty text) at indices 0, 1, 2 ...
    static void fillCombo(HWND page, int id, const wchar_t* const* texts);
    // A control's text, in the build's text type.
    static void setItemText(HWND page, int id, const std::wstring& text);
    // For CBN_SELCHANGE of combo `id` only: stores the selection index; true when it did.
    bool comboChanged(HWND page, WPARAM wParam, int id, const char* key);
    bool gameModeFlagSet(int mask) const;
    void setGameModeFlags(int value, int mask);
    void setTrackbarMs(HWND page, int id, int milliseconds);

    // Behaviour shared by the pages.
    // WM_NOTIFY other than PSN_SETACTIVE: query-cancel, apply and reset; answers the dialog result.
    INT_PTR commonNotify(HWND page, LPARAM lParam);
    // What every page handles alike: PSN_SETACTIVE remembers the page as the one to reopen on and
    // runs `activate`; other notifications get commonNotify; pageReload runs the refresh
    // routine and marks the page when asked. True when handled, with the dialog result in `result`.
    bool sharedPageMessage(HWND page, UINT message, WPARAM wParam, LPARAM lParam, int pageIndex,
                           const std::function<void()>& activate, INT_PTR& result);
    void applySettingsCopy(bool pressApply);
    // Re-selects the input agent after the settings changed; true when it was exchanged.
    bool announceAgentChange();
    // The pause box 4055 of the page.
    void pauseBox(HWND page);
    // Enables/checks the page's controls from the live settings and the agent's state.
    void refreshPageControls(HWND page);
    // What the refresh routine reads: the live settings and the agent's state.
    pageRefreshInput refreshInput() const;
    // Shows or hides the keyboard display per HiddenKeyBoard, then renews the tray (0x8074, 0x8075).
    void displayUpdate();
    // PSM_CHANGED for the page.
    void pageChanged(HWND page);
    // SendMessage to the main window.
    LRESULT notifyMain(UINT message, WPARAM wParam = 0, LPARAM lParam = 0);
};

// The process's one controller, created on first use.
settingsSheetController& sheetController();
