#include "programWindows.h"

#include "liveDesktop.h"

#include <algorithm>

namespace {

struct windowSearch {
    DWORD process;
    std::wstring title;
    std::wstring className;
    std::vector<HWND> found;
};

BOOL CALLBACK matchWindow(HWND window, LPARAM parameter)
{
    auto* search = reinterpret_cast<windowSearch*>(parameter);
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    if (process != search->process) return TRUE;
    wchar_t name[256] = {};
    GetClassNameW(window, name, 256);
    if (!search->className.empty() && search->className != name) return TRUE;
    if (!search->title.empty() && windowText(window) != search->title) return TRUE;
    search->found.push_back(window);
    return TRUE;
}

BOOL CALLBACK collectChild(HWND window, LPARAM parameter)
{
    reinterpret_cast<std::vector<HWND>*>(parameter)->push_back(window);
    return TRUE;
}

}  // namespace

std::wstring productFolder()
{
    return std::wstring(TVN_BIN_DIR) + L"\\..\\product";
}

std::wstring unixPath(const std::wstring& windowsPath)
{
    std::wstring path = windowsPath.substr(2);  // drop "Z:"
    for (wchar_t& c : path) {
        if (c == L'\\') c = L'/';
    }
    return path;
}

std::wstring windowText(HWND window)
{
    DWORD_PTR length = 0;
    if (!SendMessageTimeoutW(window, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, 2000, &length)) return L"";
    std::vector<wchar_t> buffer(length + 1);
    DWORD_PTR copied = 0;
    SendMessageTimeoutW(window, WM_GETTEXT, buffer.size(), reinterpret_cast<LPARAM>(buffer.data()),
                        SMTO_ABORTIFHUNG, 2000, &copied);
    return std::wstring(buffer.data(), copied);
}

LRESULT sendTo(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    DWORD_PTR result = 0;
    SendMessageTimeoutW(window, message, wParam, lParam, SMTO_ABORTIFHUNG, 10000, &result);
    return static_cast<LRESULT>(result);
}

std::vector<HWND> childrenOf(HWND parent)
{
    std::vector<HWND> children;
    EnumChildWindows(parent, collectChild, reinterpret_cast<LPARAM>(&children));
    return children;
}

std::wstring childTexts(HWND parent)
{
    std::wstring text;
    for (HWND child : childrenOf(parent)) text += windowText(child) + L"|";
    return text;
}

void screenshot(const std::wstring& name, HWND window)
{
    std::wstring crop;
    if (window) {
        RECT r{};
        GetClientRect(window, &r);
        MapWindowPoints(window, nullptr, reinterpret_cast<POINT*>(&r), 2);
        crop = L"-crop " + std::to_wstring(r.right - r.left) + L"x" + std::to_wstring(r.bottom - r.top) + L"+" +
               std::to_wstring(r.left) + L"+" + std::to_wstring(r.top) + L" ";
    }
    const std::wstring target = std::wstring(TVN_BIN_DIR) + L"\\..\\" + name;
    const std::wstring unixTarget = unixPath(target);
    DeleteFileW(target.c_str());
    std::wstring command = L"Z:\\bin\\sh -c \"/usr/bin/import -window root " + crop + unixTarget + L".part.png && mv " +
                           unixTarget + L".part.png " + unixTarget + L"\"";
    std::vector<wchar_t> line(command.begin(), command.end());
    line.push_back(0);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
        pumpUntil([&] { return GetFileAttributesW(target.c_str()) != INVALID_FILE_ATTRIBUTES; }, 20000);
    }
}

std::vector<std::wstring> keyboardDisplayLabels(HWND display)
{
    std::vector<std::wstring> labels;
    for (int id = 1000; id < 1056; ++id) {
        if (HWND key = GetDlgItem(display, id)) labels.push_back(windowText(key));
    }
    return labels;
}

void setAutoStartAnswer(DWORD value)
{
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\Brannoch\\Tavolin13", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                        &key, nullptr) != ERROR_SUCCESS) {
        return;
    }
    RegSetValueExW(key, L"autoStart", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
    RegCloseKey(key);
}

DWORD autoStartAnswer()
{
    DWORD value = 0;
    DWORD size = sizeof value;
    RegGetValueW(HKEY_CURRENT_USER, L"Software\\Brannoch\\Tavolin13", L"autoStart", RRF_RT_REG_DWORD, nullptr,
                 &value, &size);
    return value;
}

programProcess::programProcess(const std::wstring& exe, const std::wstring& arguments)
{
    std::wstring command = L"\"" + exe + L"\"";
    if (!arguments.empty()) command += L" " + arguments;
    std::vector<wchar_t> line(command.begin(), command.end());
    line.push_back(0);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    m_started = CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                               &m_process) != FALSE;
}

programProcess::~programProcess()
{
    if (!m_started) return;
    if (WaitForSingleObject(m_process.hProcess, 0) == WAIT_TIMEOUT) {
        if (HWND main = mainWindow()) PostMessageW(main, WM_COMMAND, 3001, 0);
        if (!pumpUntil([&] { return WaitForSingleObject(m_process.hProcess, 0) == WAIT_OBJECT_0; }, 10000)) {
            TerminateProcess(m_process.hProcess, 1);
        }
    }
    CloseHandle(m_process.hThread);
    CloseHandle(m_process.hProcess);
}

std::vector<HWND> programProcess::findAll(const std::wstring& className, const std::wstring& title) const
{
    windowSearch search{m_process.dwProcessId, title, className, {}};
    EnumWindows(matchWindow, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

HWND programProcess::find(const std::wstring& className, const std::wstring& title) const
{
    const auto all = findAll(className, title);
    return all.empty() ? nullptr : all.front();
}

HWND programProcess::waitFor(const std::wstring& className, const std::wstring& title, DWORD timeout) const
{
    HWND found = nullptr;
    pumpUntil([&] { return (found = find(className, title)) != nullptr; }, timeout);
    return found;
}

DWORD programProcess::waitForExit(DWORD timeout)
{
    pumpUntil([&] { return WaitForSingleObject(m_process.hProcess, 0) == WAIT_OBJECT_0; }, timeout);
    DWORD code = STILL_ACTIVE;
    GetExitCodeProcess(m_process.hProcess, &code);
    return code;
}

void programProcess::kill()
{
    TerminateProcess(m_process.hProcess, 1);
    WaitForSingleObject(m_process.hProcess, 10000);
}

HWND programProcess::waitForLogHeader(DWORD timeout) const
{
    const DWORD start = GetTickCount();
    HWND log = waitFor(L"#32770", L"動作記録", timeout);
    HWND edit = log ? GetDlgItem(log, 4099) : nullptr;
    if (!edit) return nullptr;
    const DWORD left = timeout - std::min<DWORD>(timeout, GetTickCount() - start);
    const bool logged = pumpUntil(
        [&] { return windowText(edit).find(L"記録を開始します。") != std::wstring::npos; }, left);
    return logged ? edit : nullptr;
}

std::vector<std::wstring> programProcess::answerBoxesUntilExit(DWORD timeout)
{
    std::vector<std::wstring> answered;
    const auto ended = [&] { return WaitForSingleObject(m_process.hProcess, 0) == WAIT_OBJECT_0; };
    const DWORD start = GetTickCount();
    while (!ended() && GetTickCount() - start < timeout) {
        HWND box = nullptr;
        // A box is found while it is still being built: wait for its caption and its button.
        pumpUntil([&] {
            for (HWND w : findAll(L"#32770", L"")) {
                if (IsWindowVisible(w) && !windowText(w).empty() && (GetDlgItem(w, IDOK) || GetDlgItem(w, IDNO))) {
                    box = w;
                    return true;
                }
            }
            return ended();
        }, 2000);
        if (!box) continue;
        pumpMessages(100);
        answered.push_back(windowText(box) + L"|" + childTexts(box));
        PostMessageW(box, WM_COMMAND, GetDlgItem(box, IDYES) ? IDYES : IDOK, 0);
        pumpUntil([&] { return !IsWindow(box) || ended(); }, 5000);
    }
    return answered;
}
