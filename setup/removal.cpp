#include "setup/removal.h"

#include "core/platform/platform.h"
#include "setup/install.h"
#include "setup/setupSystem.h"

#include <shlobj.h>

void removeListedFile(setupSystem& system, const tstring& listed)
{
    const tstring path = trimTrailingControlChars(listed);
    // A folder is never removed through the list (a stray line could name the product folder).
    const DWORD attributes = GetFileAttributes(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) return;
    if (system.deleteFile(path)) return;
    if (system.deleteAtRestart(path)) {
        system.messageBox(nullptr, TEXT("上記のファイルは再起動時に削除されます。"), path, MB_OK);
    } else {
        const DWORD error = GetLastError();
        showErrorBox(system, path + TEXT("\nMoveFileEx が失敗しました。\n"), TEXT("Windows がエラーを返しました。"),
                     error);
    }
}

bool deleteRegistryKeyTree(HKEY root, const tstring& key)
{
    if (RegDeleteKey(root, key.c_str()) == ERROR_SUCCESS) return true;
    HKEY handle = nullptr;
    if (RegOpenKeyEx(root, key.c_str(), 0, KEY_READ, &handle) != ERROR_SUCCESS) return false;
    for (;;) {
        TCHAR name[260];
        DWORD length = 260;
        if (RegEnumKeyEx(handle, 0, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        // Always below the key: a subkey name may hold a colon, which a path join takes for a drive.
        if (!deleteRegistryKeyTree(root, key + TEXT("\\") + name)) break;
    }
    RegCloseKey(handle);
    return RegDeleteKey(root, key.c_str()) == ERROR_SUCCESS;
}

void removeInstallation(setupSystem& system, const tstring& folder)
{
    if (!system.isAdministratorOrPowerUser()) {
        system.messageBox(nullptr,
                          TEXT("現在のアカウントでは自動的な撤去ができません。\n\n")
                          TEXT("・Tavolinの自動起動が問題の場合：設定窓口から自動起動を停止できます。\n")
                          TEXT("・現アカウント使用者が設置した場合：手作業で撤去してください。\n")
                          TEXT("・アカウントの特権階級が下げられた場合：管理者に撤去を依頼してください。"),
                          TEXT("Tavolin撤去作業"), MB_ICONWARNING);
        return;
    }
    // Asked first: a user who answers no keeps the running program.
    if (system.messageBox(nullptr, TEXT("Tavolinの撤去を行おうとしています。\n\n撤去を開始してかまいませんか？"),
                          TEXT("Tavolinの撤去前確認です。"), MB_YESNO | MB_ICONWARNING | MB_DEFBUTTON2) != IDYES)
        return;
    if (HWND running = system.findMainProgram()) system.stopMainProgram(running);
    SetCurrentDirectory(folder.c_str());
    const std::vector<tstring> lines = uninstallListLines(readUninstallList(folder));
    if (lines.empty()) {
        system.messageBox(nullptr, TEXT("撤去すべきファイルの一覧が取得できませんでした。"),
                          TEXT("Tavolin撤去作業の失敗"), MB_ICONWARNING);
        return;
    }
    // Only what lies inside the product folder is deleted: the removal runs as an administrator,
    // and a damaged or crafted list could otherwise name any file of the system.
    tstring skipped;
    for (const tstring& line : lines) {
        const tstring path = listedPathInside(folder, line);
        if (path.empty()) {
            skipped += TEXT("\n") + line;
        } else {
            removeListedFile(system, path);
        }
    }
    system.deleteFile(joinPath(folder, uninstallListName));
    deleteRegistryKeyTree(system.machineRoot(), uninstallKey);

    const tstring programs = system.specialFolderPath(CSIDL_COMMON_PROGRAMS);
    if (!programs.empty()) {
        const tstring menuFolder = joinPath(programs, startMenuFolderName);
        system.deleteFile(joinPath(menuFolder, mainShortcutName));
        system.deleteFile(joinPath(menuFolder, manualShortcutName));
        RemoveDirectory(menuFolder.c_str());
    }
    const tstring startup = system.specialFolderPath(CSIDL_COMMON_STARTUP);
    if (!startup.empty()) system.deleteFile(joinPath(startup, mainShortcutName));

    tstring done = TEXT("Tavolinの撤去が完了いたしました。\n再起動をお勧めしますがこのまま継続して利用することも可能です。");
    if (!skipped.empty()) {
        done += TEXT("\n\n撤去情報のうち、次の項目は設置フォルダの外を指すため削除しませんでした。") + skipped;
    }
    system.messageBox(nullptr, done, TEXT("Tavolinの撤去手続"), MB_ICONINFORMATION);
}
