#include "setup/setupSystem.h"

#include "core/platform/platform.h"
#include "setup/install.h"
#include "setup/setupDialog.h"

#include <shellapi.h>
#include <shlobj.h>

bool isAdministratorOrPowerUser()
{
    if (isWin9x()) return true;
    // Bound late: the ANSI build must still load on the 9x platform, which lacks the call.
    typedef BOOL(WINAPI * checkMembership)(HANDLE, PSID, PBOOL);
    HMODULE advapi = GetModuleHandle(TEXT("advapi32.dll"));
    if (!advapi) advapi = LoadLibrary(TEXT("advapi32.dll"));
    const auto check = advapi ? reinterpret_cast<checkMembership>(GetProcAddress(advapi, "CheckTokenMembership"))
                              : nullptr;
    if (!check) return false;
    for (DWORD rid : {DWORD(DOMAIN_ALIAS_RID_ADMINS), DWORD(DOMAIN_ALIAS_RID_POWER_USERS)}) {
        SID_IDENTIFIER_AUTHORITY authority = SECURITY_NT_AUTHORITY;
        PSID group = nullptr;
        if (!AllocateAndInitializeSid(&authority, 2, SECURITY_BUILTIN_DOMAIN_RID, rid, 0, 0, 0, 0, 0, 0, &group))
            continue;
        BOOL member = FALSE;
        const bool ok = check(nullptr, group, &member) != FALSE;
        FreeSid(group);
        if (ok && member) return true;
    }
    return false;
}

bool setupSystem::isAdministratorOrPowerUser()
{
    return ::isAdministratorOrPowerUser();
}

tstring setupSystem::specialFolderPath(int csidl)
{
    LPITEMIDLIST list = nullptr;
    if (FAILED(SHGetSpecialFolderLocation(nullptr, csidl, &list)) || !list) return tstring();
    TCHAR path[MAX_PATH] = {};
    const bool ok = SHGetPathFromIDList(list, path) != FALSE;
    CoTaskMemFree(list);
    return ok ? tstring(path) : tstring();
}

HWND setupSystem::findMainProgram()
{
    return FindWindow(mainWindowClass, nullptr);
}

void setupSystem::stopMainProgram(HWND window)
{
    const DWORD limit = 10000;
    const DWORD start = GetTickCount();
    DWORD processId = 0;
    GetWindowThreadProcessId(window, &processId);
    HANDLE process = processId ? OpenProcess(SYNCHRONIZE, FALSE, processId) : nullptr;
    DWORD_PTR answer = 0;
    SendMessageTimeout(window, WM_COMMAND, mainProgramQuitCommand, 0, SMTO_BLOCK, limit, &answer);
    if (!process) return;
    // The quit command returns before the program has ended; its files stay in use until then.
    const DWORD spent = GetTickCount() - start;
    WaitForSingleObject(process, spent < limit ? limit - spent : 0);
    CloseHandle(process);
}

int setupSystem::messageBox(HWND owner, const tstring& text, const tstring& caption, UINT type)
{
    return MessageBox(owner, text.c_str(), caption.c_str(), type);
}

INT_PTR setupSystem::showSetupDialog(installTarget& target)
{
    return runSetupDialog(*this, target);
}

void setupSystem::openWithShell(const tstring& path)
{
    ShellExecute(nullptr, nullptr, path.c_str(), nullptr, nullptr, SW_SHOW);
}

bool setupSystem::createDirectory(const tstring& path)
{
    return CreateDirectory(path.c_str(), nullptr) != FALSE;
}

bool setupSystem::copyFile(const tstring& from, const tstring& to)
{
    return CopyFile(from.c_str(), to.c_str(), FALSE) != FALSE;
}

bool setupSystem::moveFile(const tstring& from, const tstring& to)
{
    return MoveFile(from.c_str(), to.c_str()) != FALSE;
}

bool setupSystem::deleteFile(const tstring& path)
{
    return DeleteFile(path.c_str()) != FALSE;
}

bool setupSystem::deleteAtRestart(const tstring& path)
{
    return MoveFileEx(path.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT) != FALSE;
}
