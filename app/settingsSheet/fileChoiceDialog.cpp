// The file-choice dialog of the file pages and the information page: the system's open or save
// dialog with three extra buttons that reopen it in the program's data folder, the user's data
// folder or the caller's folder.
#include "app/appText.h"
#include "app/settingsSheet/settingPageIds.h"
#include "app/settingsSheet/sheetPageRules.h"
#include "app/settingsSheet/sheetPages.h"
#include "app/startup.h"
#include "core/platform/platform.h"
#include "core/platform/tstring.h"

#include <commdlg.h>

#include <algorithm>
#include <vector>

namespace {
// Which folder button closed the dialog (0: none). One dialog is open at a time: it is modal.
int folderChoice = 0;
bool folderChoiceSaveMode = false;

UINT_PTR CALLBACK folderButtonHook(HWND dialog, UINT message, WPARAM wParam, LPARAM)
{
    switch (message) {
    case WM_INITDIALOG:
        folderChoice = 0;
        SetDlgItemText(dialog, IDC_FOLDER_USER_DATA, toT(L"現使用者用のデータフォルダ(&U)").c_str());
        SetDlgItemText(
            dialog, IDC_FOLDER_INITIAL,
            toT(folderChoiceSaveMode ? L"複製元があるフォルダ(&B)" : L"今回の初期表示フォルダ(&B)").c_str());
        return 0;
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDC_FOLDER_PROGRAM_DATA:
        case IDC_FOLDER_USER_DATA:
        case IDC_FOLDER_INITIAL:
            folderChoice = LOWORD(wParam);
            PostMessage(GetDlgItem(GetParent(dialog), IDCANCEL), BM_CLICK, 0, 0);
            return 1;
        }
        return 0;
    }
    return 0;
}

bool isDirectory(const std::wstring& path)
{
    const DWORD attributes = GetFileAttributes(toT(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool fileExists(const std::wstring& path)
{
    return GetFileAttributes(toT(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::wstring currentDirectory()
{
    const DWORD length = GetCurrentDirectory(0, nullptr);
    if (length == 0) return std::wstring();
    std::vector<TCHAR> buffer(length + 1);
    const DWORD got = GetCurrentDirectory(static_cast<DWORD>(buffer.size()), buffer.data());
    return got == 0 || got >= buffer.size() ? std::wstring() : fromT(tstring(buffer.data(), got));
}
}  // namespace

std::wstring chooseFile(HWND owner, const std::wstring& title, const std::wstring& initialFolder,
                        const std::wstring& initialName, int kind, bool openMode)
{
    const std::wstring kindName = fileKindName(kind);
    const std::wstring ext = fileKindExtension(kind);

    // Name and pattern pairs, each text ended by a null, the list by another.
    tstring filter;
    for (const std::wstring& part : {kindName + L"(*." + ext + L")", L"*." + ext,
                                     std::wstring(L"すべてのファイル(*.*)"), std::wstring(L"*.*")}) {
        filter += toT(part);
        filter += TCHAR('\0');
    }
    filter += TCHAR('\0');

    // Sized in the build's characters: a CP932 path may take two bytes for one character.
    const tstring initial = toT(initialName);
    const size_t bufferSize = std::max<size_t>(260, initial.size()) + 50;
    std::vector<TCHAR> buffer(bufferSize, TCHAR('\0'));
    std::copy(initial.begin(), initial.end(), buffer.begin());
    const tstring titleText = toT(title);

    const std::wstring rememberedDirectory = currentDirectory();
    const std::wstring folderProgram =
        kind == settingsFileKind ? programFolder() : fromT(joinPath(toT(programFolder()), toT(L"data")));
    const std::wstring folderUser = userDataFolder();

    folderChoiceSaveMode = !openMode;
    fileChoiceRounds rounds;
    rounds.folderExists = isDirectory;
    rounds.createUserFolder = [&] {
        if (MessageBoxW(owner, L"まだユーザー用Tavolinデータ置き場がありません。作成しますか？",
                        L"ユーザー用データ置き場がありません。", MB_YESNO | MB_ICONQUESTION) != IDYES)
            return false;
        createDirectoryRecursive(toT(folderUser), false);
        return true;
    };
    rounds.showDialog = [&](const std::wstring& folder, std::wstring& chosen, int& button) {
        const tstring initialDir = toT(folder);
        OPENFILENAME ofn{};
#ifdef TVN_ANSI
        // 98/Me refuse the record with the fields that Windows 2000 added.
        ofn.lStructSize = OPENFILENAME_SIZE_VERSION_400;
#else
        ofn.lStructSize = sizeof ofn;
#endif
        ofn.hwndOwner = owner;
        ofn.hInstance = owner ? reinterpret_cast<HINSTANCE>(GetWindowLongPtr(owner, GWLP_HINSTANCE))
                              : GetModuleHandle(nullptr);
        ofn.lpstrFilter = filter.c_str();
        ofn.lpstrFile = buffer.data();
        ofn.nMaxFile = static_cast<DWORD>(buffer.size());
        ofn.lpstrInitialDir = initialDir.c_str();
        ofn.lpstrTitle = titleText.c_str();
        ofn.lpTemplateName = TEXT("HAIRETUSENTAKUYOUTUIKA");
        ofn.lpfnHook = folderButtonHook;
        ofn.Flags = OFN_HIDEREADONLY | OFN_ENABLEHOOK | OFN_ENABLETEMPLATE | OFN_PATHMUSTEXIST | OFN_EXPLORER |
                    OFN_ENABLESIZING | (openMode ? OFN_FILEMUSTEXIST : 0);
        // Reset here, not only by the hook: a dialog that never opens must not look like a button.
        folderChoice = 0;
        const BOOL confirmed = openMode ? GetOpenFileName(&ofn) : GetSaveFileName(&ofn);
        button = folderChoice;
        if (!confirmed) {
            SetCurrentDirectory(toT(rememberedDirectory).c_str());
            return false;
        }
        chosen = fromT(buffer.data());
        if (!openMode) chosen = freeSaveName(chosen, ext, fileExists);
        return true;
    };
    const std::wstring folders[3] = {folderProgram, folderUser, initialFolder};
    // Saving starts where the user's own files belong.
    return runFileChoice(!openMode && isWin2000OrLater() ? IDC_FOLDER_USER_DATA : IDC_FOLDER_INITIAL, folders,
                         rounds);
}
