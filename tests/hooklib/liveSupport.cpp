#include "liveSupport.h"

#include "hooklib/sharedData.h"

#include <cstdio>

bool loadedLibrary::load(const std::wstring& fileName)
{
    std::wstring path = std::wstring(TVN_BIN_DIR) + L"\\" + fileName;
    module = LoadLibraryW(path.c_str());
    if (!module) return false;
    entry = reinterpret_cast<njankotanFunction>(GetProcAddress(module, TVN_NJANKOTAN_EXPORT_NAME));
    return entry != nullptr;
}

void loadedLibrary::unload()
{
    if (module) FreeLibrary(module);
    module = nullptr;
    entry = nullptr;
}

fromDll_waitInfoAdds loadedLibrary::call(fromDll::requestToDll request, unsigned int wparam, long lparam) const
{
    return *entry(request, nullptr, wparam, lparam);
}

std::vector<fromDll_waitInfoAdds> loadedLibrary::drainReports() const
{
    std::vector<fromDll_waitInfoAdds> out;
    for (int i = 0; i < 100; ++i) {
        fromDll_waitInfoAdds r = call(fromDll::popReport);
        if (r.kind == reportEmpty) break;
        out.push_back(r);
    }
    return out;
}

bool hookTarget::start()
{
    std::wstring path = std::wstring(TVN_TEST_BIN_DIR) + L"\\hookTarget.exe";
    STARTUPINFOW si = {};
    si.cb = sizeof(si);
    std::wstring command = L"\"" + path + L"\"";
    if (!CreateProcessW(path.c_str(), &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &process)) {
        std::fprintf(stderr, "helper did not start: %lu\n", GetLastError());
        return false;
    }
    WaitForInputIdle(process.hProcess, 5000);
    bool found = waitFor([this] {
        // The edit control appears while the window is being created: wait for both.
        window = FindWindowW(L"TavolinHookTarget", nullptr);
        edit = window ? FindWindowExW(window, nullptr, L"Edit", nullptr) : nullptr;
        return edit != nullptr;
    }, 20000);
    DWORD exitCode = 0;
    if (!found) {
        std::fprintf(stderr, "helper window not found, exit code %lu\n",
                     (GetExitCodeProcess(process.hProcess, &exitCode), exitCode));
        return false;
    }
    if (!waitFor([this] { return query(queryClearText) == 1; }, 20000)) {
        std::fprintf(stderr, "helper does not answer\n");
        return false;
    }
    return true;
}

void hookTarget::stop()
{
    if (window) SendMessageTimeoutW(window, WM_CLOSE, 0, 0, SMTO_ABORTIFHUNG, 2000, nullptr);
    if (process.hProcess) {
        if (WaitForSingleObject(process.hProcess, 5000) != WAIT_OBJECT_0) TerminateProcess(process.hProcess, 1);
        CloseHandle(process.hProcess);
        CloseHandle(process.hThread);
    }
    process = PROCESS_INFORMATION();
    window = edit = nullptr;
}

LRESULT hookTarget::query(int which, LPARAM argument) const
{
    DWORD_PTR result = 0;
    // Not SMTO_ABORTIFHUNG: a helper that is slow to start on a busy machine counts as hung.
    if (!SendMessageTimeoutW(window, WM_APP + 1, static_cast<WPARAM>(which), argument, SMTO_NORMAL, 5000, &result))
        return -2;
    return static_cast<LRESULT>(result);
}

std::wstring hookTarget::text() const
{
    wchar_t buffer[256] = {};
    DWORD_PTR n = 0;
    SendMessageTimeoutW(edit, WM_GETTEXT, 255, reinterpret_cast<LPARAM>(buffer), SMTO_NORMAL, 5000, &n);
    return std::wstring(buffer, n < 255 ? n : 255);
}

bool waitFor(const std::function<bool()>& condition, DWORD timeoutMs)
{
    DWORD start = GetTickCount();
    for (;;) {
        if (condition()) return true;
        if (GetTickCount() - start > timeoutMs) return false;
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
        Sleep(20);
    }
}

bool sharedView::open()
{
    mapping = OpenFileMappingW(FILE_MAP_READ | FILE_MAP_WRITE, FALSE, sessionObjectName(dllMappingName).text);
    if (!mapping) return false;
    data = static_cast<dllSharedData*>(MapViewOfFile(mapping, FILE_MAP_READ | FILE_MAP_WRITE, 0, 0, dllSharedDataSize));
    return data != nullptr;
}

void sharedView::close()
{
    if (data) UnmapViewOfFile(data);
    if (mapping) CloseHandle(mapping);
    data = nullptr;
    mapping = nullptr;
}
