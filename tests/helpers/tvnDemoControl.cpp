// Steers the demonstration of tools/run.sh inside its Wine desktop:
//   tvnDemoControl wait <window class> <seconds>    waits until a window of the class exists
//   tvnDemoControl command <id>                     WM_COMMAND id to the program's main window
//   tvnDemoControl activate <class> [x y w h]       brings the window to the front with the focus,
//                                                   placed at x, y with width w and height h
//   tvnDemoControl trayicon                         prints "x y", the screen point of the last
//                                                   icon at the right end of the taskbar
//   tvnDemoControl text <window class> <file>       writes the text of the window's edit control
//                                                   (Notepad's page) to the file as UTF-8
// Exit code 0 on success, 1 when the window is not there, 2 on a wrong command line.
#include <windows.h>

#include <cstdlib>
#include <string>

namespace {

const wchar_t mainWindowClass[] = L"orvessaTasktray";

int waitForWindow(const wchar_t* windowClass, int seconds)
{
    for (int i = 0; i < seconds * 10; ++i) {
        if (FindWindowW(windowClass, nullptr)) return 0;
        Sleep(100);
    }
    return 1;
}

int sendCommand(int id)
{
    HWND window = FindWindowW(mainWindowClass, nullptr);
    if (!window) return 1;
    // Posted: the quit command ends the program's loop, and no answer is needed.
    return PostMessageW(window, WM_COMMAND, static_cast<WPARAM>(id), 0) ? 0 : 1;
}

int activate(const wchar_t* windowClass, const int* place)
{
    HWND window = FindWindowW(windowClass, nullptr);
    if (!window) return 1;
    ShowWindow(window, SW_RESTORE);
    if (place) MoveWindow(window, place[0], place[1], place[2], place[3], TRUE);
    SetForegroundWindow(window);
    return 0;
}

int writeText(const wchar_t* windowClass, const wchar_t* path)
{
    HWND window = FindWindowW(windowClass, nullptr);
    if (!window) return 1;
    HWND edit = FindWindowExW(window, nullptr, L"Edit", nullptr);
    if (!edit) edit = window;
    LRESULT length = SendMessageW(edit, WM_GETTEXTLENGTH, 0, 0);
    std::wstring text(static_cast<size_t>(length) + 1, L'\0');
    LRESULT got = SendMessageW(edit, WM_GETTEXT, static_cast<WPARAM>(text.size()), reinterpret_cast<LPARAM>(&text[0]));
    text.resize(static_cast<size_t>(got));
    int bytes = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string utf8(static_cast<size_t>(bytes), '\0');
    if (bytes > 0)
        WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), &utf8[0], bytes, nullptr, nullptr);
    HANDLE file = CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return 1;
    DWORD written = 0;
    BOOL ok = WriteFile(file, utf8.data(), static_cast<DWORD>(utf8.size()), &written, nullptr);
    CloseHandle(file);
    return ok ? 0 : 1;
}

// The taskbar draws its notification icons from its right end leftwards, one small icon and a
// margin apart.
int printTrayIcon()
{
    HWND taskbar = FindWindowW(L"Shell_TrayWnd", nullptr);
    if (!taskbar) return 1;
    RECT rect;
    GetWindowRect(taskbar, &rect);
    int x = rect.right - GetSystemMetrics(SM_CXSMICON) / 2 - 4;
    int y = (rect.top + rect.bottom) / 2;
    char text[32];
    int length = wsprintfA(text, "%d %d\n", x, y);
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), text, static_cast<DWORD>(length), &written, nullptr);
    return 0;
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    int count = 0;
    LPWSTR* args = CommandLineToArgvW(GetCommandLineW(), &count);
    if (!args || count < 2) return 2;
    std::wstring verb = args[1];
    if (verb == L"trayicon") return printTrayIcon();
    if (count < 3) return 2;
    if (verb == L"wait" && count == 4) return waitForWindow(args[2], _wtoi(args[3]));
    if (verb == L"command") return sendCommand(_wtoi(args[2]));
    if (verb == L"activate" && count == 7) {
        int place[4] = {_wtoi(args[3]), _wtoi(args[4]), _wtoi(args[5]), _wtoi(args[6])};
        return activate(args[2], place);
    }
    if (verb == L"activate") return activate(args[2], nullptr);
    if (verb == L"text" && count == 4) return writeText(args[2], args[3]);
    return 2;
}
