// Driving a real program of the product folder from outside, as a user would: starting it, finding
// its windows, reading their texts and taking pictures of the screen.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

// build/<arch>/product, as a Windows path.
std::wstring productFolder();
// The Unix path of a "Z:" path (for programs of the host).
std::wstring unixPath(const std::wstring& windowsPath);
// A window's text, asked with a time-out so a hung window cannot hold the test up.
std::wstring windowText(HWND window);
LRESULT sendTo(HWND window, UINT message, WPARAM wParam = 0, LPARAM lParam = 0);
std::vector<HWND> childrenOf(HWND parent);
// The texts of a dialog's children, joined with "|" (what a message box says).
std::wstring childTexts(HWND parent);
// A picture of the screen (or of a window's client area) saved as build/<arch>/<name>. Wine does not
// signal the end of a Unix program, so the picture is written under another name and renamed when it
// is complete.
void screenshot(const std::wstring& name, HWND window = nullptr);

// The texts of the keyboard display's 56 keys, row by row (fewer while it is still being built).
std::vector<std::wstring> keyboardDisplayLabels(HWND display);

// The answer to the start-up question that the program keeps per user (autoStart: 1 yes, 2 no).
void setAutoStartAnswer(DWORD value);
DWORD autoStartAnswer();

// One run of a program; a run still going at the end is asked to quit (tray command 3001), then
// ended.
class programProcess {
public:
    programProcess(const std::wstring& exe, const std::wstring& arguments = L"");
    ~programProcess();
    programProcess(const programProcess&) = delete;
    programProcess& operator=(const programProcess&) = delete;

    bool started() const { return m_started; }
    // Its top-level windows of the class and title (either may be empty: any).
    std::vector<HWND> findAll(const std::wstring& className, const std::wstring& title) const;
    HWND find(const std::wstring& className, const std::wstring& title) const;
    HWND waitFor(const std::wstring& className, const std::wstring& title, DWORD timeout = 20000) const;
    HWND mainWindow() const { return find(L"orvessaTasktray", L""); }
    // The exit code, or STILL_ACTIVE when it has not ended in time.
    DWORD waitForExit(DWORD timeout);
    // Ends it as a crash or the task manager would, with no chance to clean up.
    void kill();
    // The log window's edit control once the log header's last line is in it (null when the
    // program did not get that far in time).
    HWND waitForLogHeader(DWORD timeout = 20000) const;
    // Answers each message box of the program until it ends (IDYES to questions, else IDOK), and
    // answers the caption and texts of each, joined with "|".
    std::vector<std::wstring> answerBoxesUntilExit(DWORD timeout = 60000);

private:
    bool m_started = false;
    PROCESS_INFORMATION m_process{};
};
