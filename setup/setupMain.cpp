// Entry point of tvnSetup (also shipped as the removal program "Tavolinの撤去Xp.exe"): installs
// when its arguments hold 'I', removes otherwise. The ANSI build is "Tavolinの撤去Me.exe", which
// the Unicode build starts in its place on the 9x platform.
#include "core/platform/japaneseText.h"
#include "core/platform/platform.h"
#include "setup/install.h"
#include "setup/removal.h"
#include "setup/setupSystem.h"

#include <objbase.h>
#include <shellapi.h>

#include <vector>

namespace {

tstring ownFolder()
{
    TCHAR path[MAX_PATH] = {};
    GetModuleFileName(nullptr, path, MAX_PATH);
    return directoryOf(path);
}

#ifndef TVN_ANSI
// The work is the ANSI twin's: install mode waits for it and ends with its exit code, removal
// mode only starts it.
int handOverToAnsiTwin(const std::string& folder, const std::wstring& arguments, bool install)
{
    const std::string twin = "Tavolinの撤去Me.exe";
    const std::string narrowArguments = toNarrowString(arguments);
    if (!install) {
        ShellExecuteA(nullptr, nullptr, twin.c_str(), narrowArguments.c_str(), folder.c_str(), SW_SHOW);
        return 0;
    }
    std::string command = twin + " " + narrowArguments;
    std::vector<char> line(command.begin(), command.end());
    line.push_back(0);
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, NORMAL_PRIORITY_CLASS, nullptr,
                        folder.empty() ? nullptr : folder.c_str(), &startup, &process)) {
        MessageBoxA(nullptr, "CreateProcess が失敗しました。", "Tavolinの撤去Xp.exe", MB_ICONERROR);
        return 41;
    }
    int result = 0;
    for (;;) {
        const DWORD idle = WaitForInputIdle(process.hProcess, 1000);
        if (idle == 0) break;
        if (idle == WAIT_FAILED) {
            result = 42;
            break;
        }
    }
    if (result == 0) {
        DWORD code = STILL_ACTIVE;
        BOOL known = FALSE;
        while ((known = GetExitCodeProcess(process.hProcess, &code)) && code == STILL_ACTIVE) Sleep(1);
        // A process whose end can't be asked about was not waited for either.
        result = known ? static_cast<int>(code) : 42;
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return result;
}
#endif

int runSetup(const tstring& arguments)
{
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    const bool install = arguments.find(TEXT('I')) != tstring::npos;
    int code = 0;
#ifndef TVN_ANSI
    if (!isWinNT()) {
        // On the 9x platform the wide calls are stubs: the hand-over uses the ANSI ones alone.
        const std::string folder = programFolderAnsi();
        SetCurrentDirectoryA(folder.c_str());
        code = handOverToAnsiTwin(folder, arguments, install);
        CoUninitialize();
        return code;
    }
#endif
    const tstring folder = ownFolder();
    SetCurrentDirectory(folder.c_str());
    setupSystem system;
    if (install) {
        code = runInstallation(system, folder);
    } else {
        removeInstallation(system, folder);
    }
    CoUninitialize();
    return code;
}

}  // namespace

#ifdef TVN_ANSI
int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR arguments, int)
#else
int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR arguments, int)
#endif
{
    return runSetup(arguments ? arguments : TEXT(""));
}
