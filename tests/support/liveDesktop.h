// Support for tests that type real keys: a focused target window that records what reaches it,
// message pumping on the test's own thread (low-level hooks are called through it), and
// xdotool, which types physical keys into the X display Wine runs on.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

// One message that reached the target window.
struct liveKeyRecord {
    UINT message;      // WM_KEYDOWN, WM_KEYUP, WM_SYSKEYDOWN, WM_SYSKEYUP or WM_CHAR
    unsigned scanCode; // bits 16-23 of lParam, plus 0x80 for an extended key (key messages)
    unsigned vk;       // wParam of a key message
    wchar_t ch;        // wParam of WM_CHAR
    LONGLONG counter;  // QueryPerformanceCounter when the window procedure saw it
};

class liveTargetWindow {
public:
    liveTargetWindow();
    ~liveTargetWindow();
    liveTargetWindow(const liveTargetWindow&) = delete;
    liveTargetWindow& operator=(const liveTargetWindow&) = delete;

    HWND handle() const { return m_window; }
    const std::wstring& title() const { return m_title; }
    std::vector<liveKeyRecord>& records() { return m_records; }
    void clear() { m_records.clear(); }

    // Brings the window to the front of the X display and waits until it has the focus.
    bool focus();
    // Scan codes of the key presses received, in order.
    std::vector<unsigned> pressedScanCodes() const;
    std::vector<unsigned> releasedScanCodes() const;
    // Characters received.
    std::wstring text() const;

private:
    static LRESULT CALLBACK procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    HWND m_window = nullptr;
    std::wstring m_title;
    std::vector<liveKeyRecord> m_records;
};

// Serves this thread's messages (and so its low-level hooks) for the given time.
void pumpMessages(DWORD milliseconds);
// Serves messages until the condition holds or the time is up; answers the condition.
bool pumpUntil(const std::function<bool()>& condition, DWORD timeout);
// Runs xdotool with the arguments while serving messages; answers its exit code, or -1 when it
// could not be started or did not end in time.
int runXdotool(const std::wstring& arguments, DWORD timeout = 20000);
// Whether xdotool and an X display are there at all.
bool xdotoolAvailable();
// The virtual keys the session reports down (GetAsyncKeyState), mouse buttons aside: nobody holds
// a key in the live tests, so every one is a key some program left down.
std::vector<int> keysHeldDown();
// A performance-counter difference in microseconds.
double counterMicroseconds(LONGLONG from, LONGLONG to);

// A burst as programs type it (auto-type, macro tools, barcode scanners), for an alphabet layout
// that moves every letter on by one: the layout file's text, the letters to type (every letter in
// turn, with a stride so that neighbours differ) and what they must give.
struct letterBurst {
    std::string layout;
    std::wstring sent, expected;
};
letterBurst makeLetterBurst(size_t count);
