// The keyboard display: an always-on-top window that draws the main block of a Japanese keyboard as
// 56 buttons labelled with what the active layout types for each key now, and a status line with
// the engine's composition status below them.
#pragma once

#include <windows.h>

#include <vector>

class settingsHolder;

// The display's creation record (CreateDialogParam's parameter).
struct keyboardDisplayParams {
    settingsHolder* holder;
    HINSTANCE instance;
    HWND mainWindow;
};

// The four rows, as letters of the layout files' key alphabet, and their offsets in key widths.
struct keyboardDisplayRow {
    const wchar_t* letters;
    float offset;
};
extern const keyboardDisplayRow keyboardDisplayRows[4];

struct keyRect {
    int x, y, width, height;
};
// Where a key goes in a client area of w x h, for `longest` keys in the longest row.
keyRect keyboardKeyRect(int column, int row, float offset, bool lastInRow, int w, int h, int longest);
// The status line below the keys.
keyRect keyboardStatusRect(int w, int h);

// Keeps a dragged window between minShare and maxShare of the desktop's size; the edge being
// dragged is the one that moves.
void clampToDesktopShare(WPARAM edge, RECT* rect, double minShare, double maxShare);
// The same against a given desktop size (the testable core of the above).
void clampToShare(WPARAM edge, RECT* rect, int desktopWidth, int desktopHeight, double minShare, double maxShare);
// Puts the window in the middle of the work area, on top, and shows it.
void centreOnWorkArea(HWND window);

// The dialog procedure of the display (template "IDD_tvnKeyboardDisplay").
INT_PTR CALLBACK keyboardDisplayProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

class keyboardDisplay {
public:
    keyboardDisplay(const keyboardDisplayParams& params, HWND window);

    void buildKeys();
    void layoutKeys(int w, int h);
    void relabelKeys(bool forced);
    // False while the display does not exist, or (unless forced) is hidden or held.
    bool mayRedraw(bool forced);
    void refreshStatus(bool forced);
    void storePlacement();
    void applyPlacement();
    void setHold(bool hold) { m_hold = hold; }

    INT_PTR handle(UINT message, WPARAM wParam, LPARAM lParam);

private:
    struct keyRecord {
        int column;
        int row;
        float offset;
        int controlId;
        HWND button;
        bool lastInRow;
        unsigned short code;
    };

    settingsHolder* m_holder;
    HINSTANCE m_instance;
    HWND m_mainWindow;
    HWND m_window;
    HWND m_status = nullptr;
    std::vector<keyRecord> m_keys;
    int m_longestRow = 0;
    bool m_hold = false;
    bool m_stale = true;
};
