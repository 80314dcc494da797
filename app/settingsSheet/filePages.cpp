// The layout-file page and the conversion-file page: one procedure serves both. Each definition
// file has its path label, a choose button (the file is loaded at once and kept only when it
// loads), an edit-or-duplicate button and a reload button.
#include "app/appText.h"
#include "app/settingsSheet/settingPageIds.h"
#include "app/settingsSheet/sheetController.h"
#include "app/settingsSheet/sheetPageRules.h"
#include "app/settingsSheet/sheetPages.h"
#include "app/startup.h"
#include "app/windowMessages.h"
#include "core/agents/inputHandler.h"
#include "core/platform/platform.h"
#include "core/settings/settingsHolder.h"
#include "core/platform/tstring.h"

#include <commctrl.h>
#include <shellapi.h>

namespace {
// The boxes of the two pages and the settings they store.
const struct {
    int id;
    const char* key;
} fileBoxes[] = {
    {IDC_KANA_CONVERT, "KanaConvert"},
    {IDC_KANA_ONLY_IN_KANA_LOCK, "KANAConvertOnlyInKanaLocked"},
    {IDC_CAPSLOCK_SYNC, "CapsLockSync2IMEKana"},
    {IDC_DVORAK, "Dvorak"},
    {IDC_CTRL_QWERTY, "CtrlQwerty"},
    {IDC_FUNC_OUTPUT, "FuncOutput"},
    {IDC_NUMLOCK_CONVERT, "NumLockConvert"},
    {IDC_ALWAYS_REPLACE, "AlwaysReplaceSwitch"},
};

const char* keyOfBox(int id)
{
    for (const auto& box : fileBoxes)
        if (box.id == id) return box.key;
    return nullptr;
}

settingsHolder& live()
{
    return *sheetController().liveSettings;
}

bool isDraft(int slot)
{
    const auto agent = live().currentAgent;
    return agent && agent->isDraftData(slot);
}

void showFileLabels(HWND page)
{
    for (int slot = 0; slot < dataFileSlotCount; ++slot) {
        const dataFileSlot& s = dataFileSlots[slot];
        settingsSheetController::setItemText(page, s.labelId, s.prefix + live().getString(s.key));
        settingsSheetController::setItemText(page, s.editId, isDraft(slot) ? L"編集" : L"複製");
    }
}

void sendToBottom(HWND page)
{
    SetWindowPos(GetParent(page), HWND_BOTTOM, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
}

bool started(HINSTANCE result)
{
    return reinterpret_cast<INT_PTR>(result) > 32;
}

std::wstring problemText(const std::wstring& path)
{
    return L"ファイル " + path + L" では問題があります。\n他のファイルを指定してください。";
}

// The folder of a stored path, in full: a relative setting lies below the program folder.
std::wstring storedFolder(const std::wstring& stored, const std::wstring& programDir)
{
    return fromT(directoryOf(joinPath(toT(programDir), toT(stored))));
}

void chooseButton(HWND page, int slot, const std::wstring& stored, const std::wstring& programDir)
{
    settingsSheetController& sheet = sheetController();
    const dataFileSlot& s = dataFileSlots[slot];
    const std::wstring chosen =
        chooseFile(page, fileKindName(slot) + L"を選択してください。", storedFolder(stored, programDir),
                   fromT(fileNameOf(toT(stored))), slot, true);
    if (chosen.empty()) return;
    const std::wstring path = dataFileSetting(programDir, chosen);
    setCurrentDirectoryToProgramFolder();
    if (live().reloadDataFile(fromT(joinPath(toT(programDir), toT(path))), slot)) {
        // A new kana layout brings its own standard practice bits.
        if (s.chooseId == IDC_KANA_FILE_CHOOSE && live().currentAgent)
            sheet.setGameModeFlags(live().currentAgent->kanaLayoutModeDefault(), 0x2E);
        sheet.pageChanged(page);
        sheet.setString(s.key, path);
    } else {
        MessageBoxW(page, problemText(chosen).c_str(), L"ファイルの読みだしに失敗しました。", MB_ICONWARNING);
    }
    sheet.displayUpdate();
    showFileLabels(page);
}

void editButton(HWND page, int slot, const std::wstring& stored, const std::wstring& programDir)
{
    const std::wstring fullPath = fromT(joinPath(toT(programDir), toT(stored)));
    const std::wstring folder = storedFolder(stored, programDir);
    const std::wstring storedName = fromT(fileNameOf(toT(stored)));
    if (GetKeyState(VK_MENU) < 0) {
        if (started(ShellExecute(page, nullptr, toT(folder).c_str(), nullptr, nullptr, SW_SHOWDEFAULT)))
            sendToBottom(page);
        return;
    }
    if (!isDraft(slot) && GetKeyState(VK_CONTROL) >= 0) {
        const std::wstring newPath =
            chooseFile(page, L"新しいファイル名を入力してください。", folder, storedName, slot, false);
        setCurrentDirectoryToProgramFolder();
        if (newPath.empty()) return;
        showDuplicateResult(page, newPath, live().copyDataFile(fullPath, newPath, slot == 0));
        return;
    }
    const tstring name = toT(storedName);
    const tstring directory = toT(folder);
    if (started(ShellExecute(nullptr, nullptr, name.c_str(), nullptr, directory.c_str(), SW_SHOWDEFAULT)) ||
        started(ShellExecute(nullptr, nullptr, TEXT("NOTEPAD.EXE"), name.c_str(), directory.c_str(), SW_SHOWDEFAULT))) {
        sendToBottom(page);
        return;
    }
    MessageBoxW(page, (L"ファイル " + stored + L" を編集用に開くことができませんでした。").c_str(), L"ファイルの編集",
                MB_ICONWARNING);
}

void reloadButton(HWND page, int slot, const std::wstring& stored, const std::wstring& programDir)
{
    std::wstring text;
    if (live().reloadDataFile(fromT(joinPath(toT(programDir), toT(stored))), slot)) {
        text = stored + L" の再読み込みを完了しました。";
        sheetController().displayUpdate();
    } else {
        text = problemText(stored);
    }
    showFileLabels(page);
    MessageBoxW(page, text.c_str(), (fileKindName(slot) + L" の再読込結果").c_str(), MB_OK);
}

void fileButton(HWND page, int id)
{
    const int slot = slotOfFileButton(id);
    const dataFileSlot& s = dataFileSlots[slot];
    const std::wstring stored = live().getString(s.key);
    setCurrentDirectoryToProgramFolder();
    const std::wstring programDir = programFolder();
    if (id == s.chooseId)
        chooseButton(page, slot, stored, programDir);
    else if (id == s.editId)
        editButton(page, slot, stored, programDir);
    else
        reloadButton(page, slot, stored, programDir);
}

void boxClicked(HWND page, int id)
{
    settingsSheetController& sheet = sheetController();
    if (id == IDC_PAUSE_BOX)
        sheet.pauseBox(page);
    else
        sheet.setBool(keyOfBox(id), IsDlgButtonChecked(page, id) == BST_CHECKED);
    sheet.refreshPageControls(page);
    sheet.displayUpdate();
    sheet.notifyMain(settingChangedByKey);
    if (id != IDC_PAUSE_BOX) sheet.pageChanged(page);
}

INT_PTR filePageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam, int pageIndex)
{
    settingsSheetController& sheet = sheetController();
    INT_PTR shared = 0;
    if (sheet.sharedPageMessage(page, message, wParam, lParam, pageIndex, [&] {
        sheet.checkFromBool(page, IDC_DVORAK, "Dvorak");
        sheet.checkFromBool(page, IDC_KANA_CONVERT, "KanaConvert");
        sheet.checkFromBool(page, IDC_FUNC_OUTPUT, "FuncOutput");
        sheet.checkFromBool(page, IDC_NUMLOCK_CONVERT, "NumLockConvert");
        sheet.checkFromBool(page, IDC_CTRL_QWERTY, "CtrlQwerty");
        sheet.checkFromBool(page, IDC_ALWAYS_REPLACE, "AlwaysReplaceSwitch");
        sheet.refreshPageControls(page);
        showFileLabels(page);
    }, shared)) return shared;
    switch (message) {
    case WM_INITDIALOG:
        showFileLabels(page);
        return TRUE;
    case WM_COMMAND: {
        const int id = LOWORD(wParam);
        if (HIWORD(wParam) != BN_CLICKED) return FALSE;
        if (id == IDC_PAUSE_BOX || keyOfBox(id)) {
            boxClicked(page, id);
            return TRUE;
        }
        if (slotOfFileButton(id) >= 0) {
            fileButton(page, id);
            return TRUE;
        }
        return FALSE;
    }
    }
    return FALSE;
}
}  // namespace

INT_PTR CALLBACK arrayFilePageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam)
{
    return filePageProc(page, message, wParam, lParam, arrayFilePageIndex);
}

INT_PTR CALLBACK convertFilePageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam)
{
    return filePageProc(page, message, wParam, lParam, convertFilePageIndex);
}

void showDuplicateResult(HWND page, const std::wstring& newPath, bool made)
{
    if (made) {
        MessageBoxW(page, (newPath + L" を作成しました。").c_str(), L"ファイルの複製に成功", MB_ICONINFORMATION);
        return;
    }
    MessageBoxW(page,
                (newPath + L"を作成できませんでした。\n\nマイドキュメントフォルダなどのアクセス権のある場所を指定する"
                           L"必要があるかもしれません。")
                    .c_str(),
                L"ファイルの複製に失敗", MB_ICONWARNING);
}
