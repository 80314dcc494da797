#include "liveDesktop.h"

#include <cstdlib>
#include <sstream>

namespace {

const wchar_t targetClass[] = L"tvnLiveTargetWindow";

LONGLONG counterNow() {
    LARGE_INTEGER value;
    QueryPerformanceCounter(&value);
    return value.QuadPart;
}

}  // namespace

liveTargetWindow::liveTargetWindow() {
    static bool registered = false;
    if (!registered) {
        WNDCLASSW wc = {};
        wc.lpfnWndProc = procedure;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.lpszClassName = targetClass;
        wc.hCursor = LoadCursor(nullptr, IDC_ARROW);
        RegisterClassW(&wc);
        registered = true;
    }
    // A title no other window has, so xdotool finds exactly this one.
    std::wostringstream title;
    title << L"tvn-live-target-" << GetCurrentProcessId() << L"-" << GetTickCount();
    m_title = title.str();
    m_window = CreateWindowExW(0, targetClass, m_title.c_str(), WS_OVERLAPPEDWINDOW | WS_VISIBLE, 40,
                               40, 320, 200, nullptr, nullptr, GetModuleHandleW(nullptr), this);
    SetWindowLongPtrW(m_window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    pumpMessages(100);
}

liveTargetWindow::~liveTargetWindow() {
    if (m_window) DestroyWindow(m_window);
    pumpMessages(20);
}

LRESULT CALLBACK liveTargetWindow::procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* self = reinterpret_cast<liveTargetWindow*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (self) {
        switch (message) {
        case WM_KEYDOWN:
        case WM_KEYUP:
        case WM_SYSKEYDOWN:
        case WM_SYSKEYUP: {
            unsigned scan = (lParam >> 16) & 0x7F;
            if (lParam & (1 << 24)) scan |= 0x80;
            self->m_records.push_back({message, scan, static_cast<unsigned>(wParam), 0, counterNow()});
            return 0;
        }
        case WM_CHAR:
            self->m_records.push_back({message, 0, 0, static_cast<wchar_t>(wParam), counterNow()});
            return 0;
        default:
            break;
        }
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

bool liveTargetWindow::focus() {
    SetForegroundWindow(m_window);
    SetFocus(m_window);
    // Xvfb runs no window manager, so the window is focused, not activated. Its X window may not
    // be mapped yet when the program has just started: the search waits for it.
    int rc = runXdotool(L"search --sync --name " + m_title + L" windowfocus", 10000);
    pumpMessages(100);
    pumpMessages(200);
    return rc == 0;
}

std::vector<unsigned> liveTargetWindow::pressedScanCodes() const {
    std::vector<unsigned> codes;
    for (const auto& r : m_records)
        if (r.message == WM_KEYDOWN || r.message == WM_SYSKEYDOWN) codes.push_back(r.scanCode);
    return codes;
}

std::vector<unsigned> liveTargetWindow::releasedScanCodes() const {
    std::vector<unsigned> codes;
    for (const auto& r : m_records)
        if (r.message == WM_KEYUP || r.message == WM_SYSKEYUP) codes.push_back(r.scanCode);
    return codes;
}

std::wstring liveTargetWindow::text() const {
    std::wstring text;
    for (const auto& r : m_records)
        if (r.message == WM_CHAR) text += r.ch;
    return text;
}

void pumpMessages(DWORD milliseconds) {
    pumpUntil([] { return false; }, milliseconds);
}

bool pumpUntil(const std::function<bool()>& condition, DWORD timeout) {
    DWORD start = GetTickCount();
    for (;;) {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
        if (condition()) return true;
        DWORD elapsed = GetTickCount() - start;
        if (elapsed >= timeout) return false;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, timeout - elapsed < 5 ? timeout - elapsed : 5,
                                  QS_ALLINPUT);
    }
}

int runXdotool(const std::wstring& arguments, DWORD timeout) {
    // Wine starts a Unix program given by its path on the Z: drive, but the handle of such a
    // process is not signalled when it ends: the shell leaves xdotool's exit code in a file.
    static int runs = 0;
    std::wostringstream name;
    name << L"/tmp/tvn-xdotool-" << GetCurrentProcessId() << L"-" << ++runs;
    std::wstring unixResult = name.str();
    std::wstring result = L"Z:" + unixResult;
    for (auto& ch : result)
        if (ch == L'/') ch = L'\\';
    DeleteFileW(result.c_str());
    std::wstring command = L"Z:\\bin\\sh -c \"/usr/bin/xdotool " + arguments + L"; echo $? > " +
                           unixResult + L".part && mv " + unixResult + L".part " + unixResult + L"\"";
    std::vector<wchar_t> line(command.begin(), command.end());
    line.push_back(0);
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &process))
        return -1;
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    // The keys xdotool types reach this thread's hooks only while it serves messages.
    bool ended = pumpUntil([&] { return GetFileAttributesW(result.c_str()) != INVALID_FILE_ATTRIBUTES; },
                           timeout);
    if (!ended) return -1;
    int code = -1;
    HANDLE file = CreateFileW(result.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
        char text[16] = {};
        DWORD read = 0;
        if (ReadFile(file, text, sizeof text - 1, &read, nullptr)) code = atoi(text);
        CloseHandle(file);
    }
    DeleteFileW(result.c_str());
    return code;
}

bool xdotoolAvailable() {
    return GetFileAttributesW(L"Z:\\usr\\bin\\xdotool") != INVALID_FILE_ATTRIBUTES &&
           GetEnvironmentVariableW(L"DISPLAY", nullptr, 0) > 0;
}

std::vector<int> keysHeldDown() {
    std::vector<int> held;
    for (int vk = 1; vk < 256; ++vk) {
        const bool mouseButton = vk == VK_LBUTTON || vk == VK_RBUTTON || vk == VK_MBUTTON || vk == VK_XBUTTON1 ||
                                 vk == VK_XBUTTON2;
        if (!mouseButton && GetAsyncKeyState(vk) < 0) held.push_back(vk);
    }
    return held;
}

double counterMicroseconds(LONGLONG from, LONGLONG to) {
    static LONGLONG frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return f.QuadPart;
    }();
    return static_cast<double>(to - from) * 1e6 / static_cast<double>(frequency);
}

letterBurst makeLetterBurst(size_t count)
{
    letterBurst burst;
    burst.layout = "visible=1\r\n";
    for (char c = 'a'; c <= 'z'; ++c) burst.layout += std::string(1, c) + "\t" + char(c == 'z' ? 'a' : c + 1) + "\r\n";
    for (size_t i = 0; i < count; ++i) {
        wchar_t c = static_cast<wchar_t>(L'a' + (i * 7 + i / 26) % 26);
        burst.sent += c;
        burst.expected += c == L'z' ? L'a' : static_cast<wchar_t>(c + 1);
    }
    return burst;
}
