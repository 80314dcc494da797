// The information page (INFOPAGE): the version, switching to another settings file, saving the
// settings under a new name or as the start-up settings, and two shortcuts.
#include "app/appText.h"
#include "app/settingsSheet/sheetController.h"
#include "app/settingsSheet/sheetPages.h"
#include "app/settingsSheet/sheetRules.h"
#include "app/startup.h"
#include "app/windowMessages.h"
#include "core/platform/platform.h"
#include "core/settings/settingsHolder.h"
#include "core/files/textFile.h"
#include "core/platform/tstring.h"
#include "core/settings/versionInfo.h"

#include <prsht.h>
#include <shellapi.h>

namespace {

enum : int {
    idChosenFile = 4108,
    idChooseSettings = 4106,
    idDuplicateSettings = 4107,
    idSaveAsStartup = 4111,
    idRegionalOptions = 4096,
    idWebSite = 4090,
    idVersion = 4053,
};

const wchar_t* const siteAddress = productSiteAddress;
const wchar_t chosenFilePrefix[] = L"一時的に設定全体を変更できます ： ";
const int settingsFileKind = 8;

WNDPROC previousButtonProc = nullptr;

// The web-site button shows the pointing arrow of a link.
LRESULT CALLBACK webButtonProc(HWND button, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_SETCURSOR) {
        SetCursor(LoadCursor(nullptr, MAKEINTRESOURCE(32516)));  // IDC_UPARROW
        return 0;
    }
    return CallWindowProc(previousButtonProc, button, message, wParam, lParam);
}

void restoreWebButton(HWND page)
{
    HWND button = GetDlgItem(page, idWebSite);
    if (button && previousButtonProc &&
        GetWindowLongPtr(button, GWLP_WNDPROC) == reinterpret_cast<LONG_PTR>(webButtonProc)) {
        SetWindowLongPtr(button, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(previousButtonProc));
    }
}

std::wstring folderOf(const std::wstring& path)
{
    return fromT(directoryOf(toT(path)));
}

std::wstring fileNamePart(const std::wstring& path)
{
    return fromT(fileNameOf(toT(path)));
}

// A chosen settings file is tried on a store of its own first. The live settings remember a file
// they refused so that the first save over that file keeps it aside; a refused choice must not
// make the file they are saved to look refused.
class settingsFileCheck : public settingsStore {
public:
    explicit settingsFileCheck(settingsHolder& live) : m_live(live) {}
    int currentVersion() const override { return m_live.currentVersion(); }
    void reportError(const std::string& message) override { m_live.reportError(message); }

private:
    settingsHolder& m_live;
};

bool isLoadableSettingsFile(settingsHolder& live, const std::wstring& path)
{
    try {
        textFileReader in(toT(path));
        settingsFileCheck check(live);
        return check.load(in);
    } catch (...) {
        return false;
    }
}

void showChosenFile(HWND page)
{
    settingsSheetController::setItemText(page, idChosenFile, chosenFilePrefix + sheetController().chosenSettingsFile);
}

void chooseSettingsFileToLoad(HWND page)
{
    settingsSheetController& sheet = sheetController();
    settingsHolder& live = *sheet.liveSettings;
    const std::wstring current = live.settingsFilePath;
    const std::wstring chosen = chooseFile(page, L"Tavolinの設定ファイルを選択してください。", folderOf(current),
                                           fileNamePart(current), settingsFileKind, true);
    if (chosen.empty()) return;
    if (!isLoadableSettingsFile(live, chosen) || !live.loadSettingsFile(chosen, programFolder())) {
        MessageBoxW(page, (L"ファイル " + chosen + L" では問題があります。\n他のファイルを指定してください。").c_str(),
                    L"ファイルの読みだしに失敗しました。", MB_ICONWARNING);
        return;
    }
    sheet.chosenSettingsFile = fileNamePart(chosen);
    showChosenFile(page);
    sheet.notifyMain(placeKeyboardDisplay);
    sheet.notifyMain(showLogWindow, sheet.getBool("ShowLogSwitch") ? 1 : 0, sheet.getInt("LogLevel"));
    sheet.displayUpdate();
    sheet.applySettingsCopy(true);
    sheet.notifyMain(settingChangedByKey, 0);
}

void duplicateSettingsFile(HWND page)
{
    settingsSheetController& sheet = sheetController();
    settingsHolder& live = *sheet.liveSettings;
    const std::wstring current = live.settingsFilePath;
    const std::wstring newPath = chooseFile(page, L"新しいファイル名を入力してください。", folderOf(current),
                                            fileNamePart(current), settingsFileKind, false);
    if (newPath.empty()) return;
    if (live.saveFile(newPath)) {
        // Later saves, the one at exit included, go to the new file. A file refused at start (or
        // missing then) was guarded against that save; it is settled now, not held against the
        // new file.
        live.keepRefusedFile(current);
        live.settingsFilePath = newPath;
        sheet.chosenSettingsFile = fileNamePart(newPath);
        showChosenFile(page);
        showDuplicateResult(page, newPath, true);
    } else {
        showDuplicateResult(page, newPath, false);
    }
}

void saveAsStartupSettings(HWND page)
{
    settingsHolder& live = *sheetController().liveSettings;
    // On the first run the per-user folder is made only by the save at exit; it is made here too.
    const std::wstring path = chooseSettingsFile();
    createDirectoryRecursive(toT(path), true);
    if (live.saveFile(path)) {
        MessageBoxW(page, L"現在の設定が起動時設定として保存されました。", L"Orvessa/Tavolin", MB_ICONINFORMATION);
    } else {
        MessageBoxW(page, L"起動時設定としての保存に失敗したようです。", L"Orvessa/Tavolin", MB_ICONWARNING);
    }
}

void openRegionalOptions(HWND page)
{
    const INT_PTR result = reinterpret_cast<INT_PTR>(
        ShellExecute(page, nullptr, TEXT("control.exe"), TEXT("international"), TEXT(""), SW_SHOWNORMAL));
    if (result <= 31) {
        MessageBoxW(page,
                    L"地域と言語のオプションを呼び出すことができませんでした。\n\nただし、もう少し待つと表示されることがあり"
                    L"ます。",
                    L"コントロールパネル呼び出しに失敗", MB_ICONINFORMATION);
    }
}

}  // namespace

INT_PTR CALLBACK infoPageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam)
{
    settingsSheetController& sheet = sheetController();
    INT_PTR shared = 0;
    if (sheet.sharedPageMessage(page, message, wParam, lParam, infoPageIndex, [] {}, shared)) return shared;
    switch (message) {
    case WM_INITDIALOG: {
        settingsSheetController::setItemText(page, idVersion, getVersionInfo().versionText());
        const std::wstring siteText =
            L"『Tavolin』のインターネット上のサイトへ行く\n" + addressWithoutScheme(siteAddress);
        settingsSheetController::setItemText(page, idWebSite, siteText);
        if (HWND button = GetDlgItem(page, idWebSite)) {
            previousButtonProc = reinterpret_cast<WNDPROC>(
                SetWindowLongPtr(button, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(webButtonProc)));
        }
        showChosenFile(page);
        return TRUE;
    }
    case WM_CLOSE:
    case WM_DESTROY:
        restoreWebButton(page);
        return FALSE;
    case WM_COMMAND:
        if (HIWORD(wParam) != BN_CLICKED) return FALSE;
        switch (LOWORD(wParam)) {
        case idWebSite:
            ShellExecute(page, nullptr, toT(siteAddress).c_str(), nullptr, nullptr, SW_SHOWNORMAL);
            return TRUE;
        case idRegionalOptions: openRegionalOptions(page); return TRUE;
        case idChooseSettings: chooseSettingsFileToLoad(page); return TRUE;
        case idDuplicateSettings: duplicateSettingsFile(page); return TRUE;
        case idSaveAsStartup: saveAsStartupSettings(page); return TRUE;
        default: return FALSE;
        }
    default:
        return FALSE;
    }
}
