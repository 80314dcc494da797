#include "setup/setupSystem.h"

#include "core/platform/platform.h"
#include "setup/install.h"
#include "setup/removal.h"
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

bool setupSystem::writeFile(const tstring& path, const std::string& bytes)
{
    HANDLE file = CreateFile(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    const DWORD size = static_cast<DWORD>(bytes.size());
    bool ok = size == 0 || WriteFile(file, bytes.data(), size, &written, nullptr) != FALSE;
    // A short write sets no error of its own.
    if (ok && written != size) {
        ok = false;
        SetLastError(ERROR_DISK_FULL);
    }
    const DWORD error = GetLastError();
    if (!CloseHandle(file) && ok) return false;
    if (!ok) SetLastError(error);
    return ok;
}

bool setupSystem::appendFile(const tstring& path, const std::string& bytes)
{
    HANDLE file = CreateFile(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    const DWORD size = static_cast<DWORD>(bytes.size());
    bool ok = SetFilePointer(file, 0, nullptr, FILE_END) != INVALID_SET_FILE_POINTER &&
              (size == 0 || WriteFile(file, bytes.data(), size, &written, nullptr) != FALSE);
    if (ok && written != size) {
        ok = false;
        SetLastError(ERROR_DISK_FULL);
    }
    // On the disk before the rename it announces.
    ok = ok && FlushFileBuffers(file) != FALSE;
    const DWORD error = GetLastError();
    CloseHandle(file);
    if (!ok) SetLastError(error);
    return ok;
}

bool setupSystem::deleteAtRestart(const tstring& path)
{
    return MoveFileEx(path.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT) != FALSE;
}

tstring setupSystem::windowsFolder()
{
    TCHAR path[MAX_PATH] = {};
    const UINT length = GetWindowsDirectory(path, MAX_PATH);
    return length == 0 || length >= MAX_PATH ? tstring() : tstring(path, length);
}

namespace {
const TCHAR sessionManagerKey[] = TEXT("System\\CurrentControlSet\\Control\\Session Manager");
const TCHAR pendingRenamesValue[] = TEXT("PendingFileRenameOperations");
}  // namespace

bool setupSystem::pendingFileRenames(tstring& data)
{
    data.clear();
    HKEY key = nullptr;
    LONG result = RegOpenKeyEx(HKEY_LOCAL_MACHINE, sessionManagerKey, 0, KEY_READ, &key);
    if (result == ERROR_FILE_NOT_FOUND) return true;
    if (result != ERROR_SUCCESS) {
        SetLastError(result);
        return false;
    }
    DWORD size = 0, type = 0;
    result = RegQueryValueEx(key, pendingRenamesValue, nullptr, &type, nullptr, &size);
    if (result == ERROR_SUCCESS && type != REG_MULTI_SZ) result = ERROR_INVALID_DATA;
    if (result == ERROR_SUCCESS && size > 0) {
        std::vector<TCHAR> buffer(size / sizeof(TCHAR) + 1, 0);
        result = RegQueryValueEx(key, pendingRenamesValue, nullptr, nullptr, reinterpret_cast<BYTE*>(buffer.data()), &size);
        if (result == ERROR_SUCCESS) data.assign(buffer.data(), size / sizeof(TCHAR));
    }
    RegCloseKey(key);
    if (result == ERROR_FILE_NOT_FOUND) return true;
    if (result != ERROR_SUCCESS) {
        data.clear();
        SetLastError(result);
        return false;
    }
    return true;
}

bool setupSystem::setPendingFileRenames(const tstring& data)
{
    HKEY key = nullptr;
    LONG result = RegOpenKeyEx(HKEY_LOCAL_MACHINE, sessionManagerKey, 0, KEY_SET_VALUE, &key);
    if (result == ERROR_SUCCESS) {
        result = data.empty() ? RegDeleteValue(key, pendingRenamesValue)
                              : RegSetValueEx(key, pendingRenamesValue, 0, REG_MULTI_SZ,
                                              reinterpret_cast<const BYTE*>(data.data()),
                                              static_cast<DWORD>(data.size() * sizeof(TCHAR)));
        RegCloseKey(key);
    }
    SetLastError(result);
    return result == ERROR_SUCCESS;
}

bool setupSystem::writeRegistryValue(const tstring& key, const tstring& value, const tstring& text)
{
    return writeRegistryString(machineRoot(), key, value, text);
}

bool setupSystem::deleteRegistryTree(const tstring& key)
{
    if (deleteRegistryKeyTree(machineRoot(), key)) return true;
    HKEY handle = nullptr;
    LONG result = RegOpenKeyEx(machineRoot(), key.c_str(), 0, KEY_READ, &handle);
    if (result == ERROR_FILE_NOT_FOUND) return true;
    if (result == ERROR_SUCCESS) {
        RegCloseKey(handle);
        result = ERROR_ACCESS_DENIED;
    }
    SetLastError(result);
    return false;
}
