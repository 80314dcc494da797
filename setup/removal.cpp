#include "setup/removal.h"

#include "core/platform/platform.h"
#include "setup/deferredDeletion.h"
#include "setup/install.h"
#include "setup/setupSystem.h"
#include "setup/wholeFile.h"

#include <shlobj.h>

namespace {

// The removal programs of the product folder (either build's) and the running program itself.
bool isRemovalProgram(const tstring& path, const tstring& self)
{
    const tstring name = fileNameOf(path);
    return lstrcmpi(name.c_str(), removalProgramName) == 0 || lstrcmpi(name.c_str(), ansiTwinName) == 0 ||
           (!self.empty() && isSameFile(path, self));
}

}  // namespace

listedFileResult removeListedFile(setupSystem& system, const tstring& folder, const tstring& listed, tstring* leftAt)
{
    const tstring path = trimTrailingControlChars(listed);
    const DWORD attributes = GetFileAttributes(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        // Deleted by hand, or a wildcard, which names no file: there is nothing to do, and no
        // deletion at restart to announce.
        const DWORD error = GetLastError();
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND || error == ERROR_INVALID_NAME)
            return listedFileResult::missing;
    } else if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
        // A folder is never removed through the list (a stray line could name the product folder).
        return listedFileResult::missing;
    }
    makeWritable(path);
    if (system.deleteFile(path)) return listedFileResult::deleted;
    // The file in use leaves its name free: a reinstallation before the restart then writes a
    // fresh file there that the restart does not touch. Where it can't be renamed, the
    // installation takes the deletion of its path back. Written down first: a removal ended
    // before it booked the file leaves it to the next run.
    const tstring aside = putAsideNoted(system, folder, path);
    if (deleteAtNextRestart(system, aside.empty() ? path : aside)) {
        system.messageBox(nullptr, TEXT("上記のファイルは再起動時に削除されます。"), path, MB_OK);
        return listedFileResult::scheduled;
    }
    const DWORD error = GetLastError();
    tstring text = path + TEXT("\nMoveFileEx が失敗しました。\n");
    if (leftAt) *leftAt = path;
    // Under a name the list does not hold, a second removal would call the file missing.
    if (!aside.empty() && !system.moveFile(aside, path)) {
        text += TEXT("(") + aside + TEXT(" に改名されたままです。)\n");
        if (leftAt) *leftAt = aside;
    }
    showErrorBox(system, text, TEXT("Windows がエラーを返しました。"), error);
    return listedFileResult::failed;
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
    // A setup ended while it swapped the list in left it beside its name.
    const wholeFileNames list = uninstallListNames(folder);
    recoverWholeFile(system, list);
    recoverRestartList(system);
    std::vector<std::wstring> unreadable;
    const std::vector<tstring> lines = uninstallListLines(readUninstallList(folder), &unreadable);
    const tstring journal = joinPath(folder, journalName);
    if (lines.empty() && unreadable.empty()) {
        system.messageBox(nullptr, TEXT("撤去すべきファイルの一覧が取得できませんでした。"),
                          TEXT("Tavolin撤去作業の失敗"), MB_ICONWARNING);
        return;
    }
    // Only what lies inside the product folder is deleted: the removal runs as an administrator,
    // and a damaged or crafted list could otherwise name any file of the system. The removal
    // programs go last, and only when nothing else stays: while anything of the installation
    // remains, the user must be able to run the removal again.
    tstring skipped, remaining, notRead;
    std::vector<tstring> removalPrograms;
    const tstring self = programPath();
    std::vector<tstring> named;
    for (const tstring& line : lines) {
        const tstring path = listedPathInside(folder, line);
        if (path.empty()) {
            skipped += TEXT("\n") + line;
        } else {
            named.push_back(path);
        }
    }
    // What a run ended part way wrote down: a new file not listed yet, an old one put aside.
    for (const journalEntry& entry : readJournal(folder)) {
        named.push_back(entry.target);
        if (!entry.aside.empty()) named.push_back(entry.aside);
    }
    for (const tstring& path : named) {
        tstring leftAt;
        if (isSameFile(path, list.path) || isSameFile(path, journal)) {
            // The list goes only once all it names is gone: a line can't take it before.
        } else if (isUsersSettingsFile(folder, path)) {
            // A list an earlier setup wrote may name the users' settings: they stay.
        } else if (isRemovalProgram(path, self)) {
            removalPrograms.push_back(path);
        } else if (removeListedFile(system, folder, path, &leftAt) == listedFileResult::failed) {
            remaining += TEXT("\n") + leftAt;
        }
    }
    for (const std::wstring& line : unreadable) notRead += TEXT("\n") + toT(line);
    bool complete = remaining.empty() && notRead.empty();
    // The list and the Uninstall entry stay with what remains, so that a second removal can finish.
    tstring notDeleted, programsLeft;
    DWORD error = 0;
    if (complete) {
        // The entry goes first: while it stays, so does the list, for a second removal.
        if (!system.deleteRegistryTree(uninstallKey)) {
            error = GetLastError();
            notDeleted += TEXT("\nHKEY_LOCAL_MACHINE\\") + tstring(uninstallKey);
        } else {
            // The journal before the list: each names files the other may not.
            for (const tstring& path : {journal, list.path}) {
                if (!system.deleteFile(path) && GetFileAttributes(path.c_str()) != INVALID_FILE_ATTRIBUTES) {
                    error = GetLastError();
                    notDeleted += TEXT("\n") + path;
                    break;
                }
            }
        }
        complete = notDeleted.empty();
    }
    // The removal programs go only once the entry and the list are gone: until then the entry
    // must name a program that can run the removal again.
    if (complete) {
        for (const tstring& path : removalPrograms) {
            tstring leftAt;
            if (removeListedFile(system, folder, path, &leftAt) == listedFileResult::failed) programsLeft += TEXT("\n") + leftAt;
        }
        // Written down again when one was put aside.
        if (GetFileAttributes(journal.c_str()) != INVALID_FILE_ATTRIBUTES && !system.deleteFile(journal))
            programsLeft += TEXT("\n") + journal;
        complete = programsLeft.empty();
    }

    const tstring programs = system.specialFolderPath(CSIDL_COMMON_PROGRAMS);
    if (!programs.empty()) {
        const tstring menuFolder = joinPath(programs, startMenuFolderName);
        system.deleteFile(joinPath(menuFolder, mainShortcutName));
        system.deleteFile(joinPath(menuFolder, manualShortcutName));
        RemoveDirectory(menuFolder.c_str());
    }
    const tstring startup = system.specialFolderPath(CSIDL_COMMON_STARTUP);
    if (!startup.empty()) system.deleteFile(joinPath(startup, mainShortcutName));

    tstring done = complete ? tstring(TEXT("Tavolinの撤去が完了いたしました。\n再起動をお勧めしますがこのまま継続して利用することも可能です。"))
                   : !programsLeft.empty()
                       ? TEXT("Tavolinの撤去は完了していません。\n撤去情報と登録は削除しましたが、次の撤去プログラムは削除も再起動時の削除の予約もできませんでした。")
                         TEXT("手作業で削除してください。") + programsLeft
                   : !notDeleted.empty()
                       ? TEXT("Tavolinの撤去は完了していません。\nファイルは削除しましたが、次の撤去情報または登録を削除できませんでした。") +
                             notDeleted + TEXT("\n") + systemErrorTextT(error)
                       : TEXT("Tavolinの撤去は完了していません。\n撤去情報(") + tstring(uninstallListName) +
                             TEXT(")、撤去プログラムと登録は残してあります。下記の原因を取り除いてから、") +
                             joinPath(folder, removalProgramName) + TEXT(" でもう一度撤去を行ってください。");
    if (!remaining.empty()) {
        done += TEXT("\n\n次のファイルは削除も再起動時の削除の予約もできませんでした。")
                TEXT("使用しているプログラムを終了するか、再起動してからお試しください。") + remaining;
    }
    if (!notRead.empty()) {
        done += TEXT("\n\n撤去情報の次の行は文字を読み取れないため、何もしていません。該当するファイルを手作業で削除し、")
                TEXT("その行を撤去情報から消してください。") + notRead;
    }
    if (!skipped.empty()) {
        done += TEXT("\n\n撤去情報のうち、次の項目は設置フォルダの外を指すため削除しませんでした。") + skipped;
    }
    system.messageBox(nullptr, done, TEXT("Tavolinの撤去手続"), complete ? MB_ICONINFORMATION : MB_ICONWARNING);
}
