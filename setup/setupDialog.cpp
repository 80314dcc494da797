#include "setup/setupDialog.h"

#include "core/platform/japaneseText.h"
#include "core/platform/platform.h"
#include "setup/install.h"
#include "setup/setupResource.h"
#include "setup/setupSystem.h"

#include <shlobj.h>

#include <vector>

namespace {

enum class anchor { corner, bottom, bottomWide, fill };

struct anchoredControl {
    HWND control;
    RECT rect;  // in the dialog's client coordinates when the dialog opened
    anchor kind;
};

struct dialogState {
    setupSystem* system;
    installTarget* target;
    RECT window;  // the dialog's window rectangle when it opened
    std::vector<anchoredControl> anchors;
};

const int minimumSize = 100;

dialogState* stateOf(HWND dialog)
{
    return reinterpret_cast<dialogState*>(GetWindowLongPtr(dialog, DWLP_USER));
}

void noteAnchors(HWND dialog, dialogState& state)
{
    GetWindowRect(dialog, &state.window);
    const struct {
        int id;
        anchor kind;
    } table[] = {
        {IDC_SETUP_README, anchor::fill},       {IDC_SETUP_STEP2, anchor::bottom},
        {IDC_SETUP_DESTINATION, anchor::bottomWide}, {IDC_SETUP_SELECT, anchor::corner},
        {IDC_SETUP_DEFAULT, anchor::corner},    {IDC_SETUP_REGISTER, anchor::bottom},
        {IDC_SETUP_STEP3, anchor::bottom},      {IDOK, anchor::corner},
        {IDCANCEL, anchor::corner},
    };
    for (const auto& row : table) {
        HWND control = GetDlgItem(dialog, row.id);
        if (!control) continue;
        RECT r;
        GetWindowRect(control, &r);
        MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&r), 2);
        if (row.id == IDC_SETUP_README || row.id == IDC_SETUP_DESTINATION)
            r.right -= GetSystemMetrics(SM_CXVSCROLL) - GetSystemMetrics(SM_CXFRAME);
        if (row.id == IDC_SETUP_README) r.bottom -= GetSystemMetrics(SM_CYHSCROLL) - GetSystemMetrics(SM_CYFRAME);
        state.anchors.push_back({control, r, row.kind});
    }
}

void applyAnchors(HWND dialog, const dialogState& state)
{
    if (state.anchors.empty()) return;
    RECT now;
    GetWindowRect(dialog, &now);
    const int dx = (now.right - now.left) - (state.window.right - state.window.left);
    const int dy = (now.bottom - now.top) - (state.window.bottom - state.window.top);
    for (const anchoredControl& a : state.anchors) {
        RECT r = a.rect;
        switch (a.kind) {
        case anchor::corner: OffsetRect(&r, dx, dy); break;
        case anchor::bottom: OffsetRect(&r, 0, dy); break;
        case anchor::bottomWide:
            OffsetRect(&r, 0, dy);
            r.right += dx;
            break;
        case anchor::fill:
            r.right += dx;
            r.bottom += dy;
            break;
        }
        MoveWindow(a.control, r.left, r.top, r.right - r.left, r.bottom - r.top, FALSE);
    }
    InvalidateRect(dialog, nullptr, TRUE);
}

void showDestination(HWND dialog, const installTarget& target)
{
    SetDlgItemText(dialog, IDC_SETUP_DESTINATION, joinPath(target.baseFolder, target.subfolder).c_str());
}

tstring itemText(HWND dialog, int id)
{
    HWND item = GetDlgItem(dialog, id);
    std::vector<TCHAR> buffer(GetWindowTextLength(item) + 1, 0);
    GetWindowText(item, buffer.data(), static_cast<int>(buffer.size()));
    return buffer.data();
}

// The read-me of the setup folder (the current folder), CP932, up to its first NUL. False when it
// is missing, empty or unreadable, or the text could not be set.
bool showReadMe(HWND dialog)
{
    HANDLE file = CreateFile(readMeName, GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    std::string bytes;
    const DWORD size = GetFileSize(file, nullptr);
    if (size != INVALID_FILE_SIZE && size > 0) {
        bytes.resize(size);
        DWORD read = 0;
        if (!ReadFile(file, &bytes[0], size, &read, nullptr) || read != size) bytes.clear();
    }
    CloseHandle(file);
    const size_t nul = bytes.find('\0');
    if (nul != std::string::npos) bytes.resize(nul);
    if (bytes.empty()) return false;
#ifdef TVN_ANSI
    return SetDlgItemTextA(dialog, IDC_SETUP_README, bytes.c_str()) != FALSE;
#else
    return SetDlgItemTextW(dialog, IDC_SETUP_README, toWideString(bytes).c_str()) != FALSE;
#endif
}

int CALLBACK browseCallback(HWND browser, UINT message, LPARAM, LPARAM data)
{
    if (message == BFFM_INITIALIZED) SendMessage(browser, BFFM_SETSELECTION, TRUE, data);
    return 0;
}

void chooseBaseFolder(HWND dialog, installTarget& target)
{
    BROWSEINFO info{};
    info.hwndOwner = dialog;
    info.lpszTitle = TEXT("Tavolinの設置先(の親フォルダ)を指定してください。");
    info.ulFlags = BIF_RETURNONLYFSDIRS;
    info.lpfn = browseCallback;
    info.lParam = reinterpret_cast<LPARAM>(target.baseFolder.c_str());
    LPITEMIDLIST chosen = SHBrowseForFolder(&info);
    if (chosen) {
        TCHAR path[MAX_PATH] = {};
        if (SHGetPathFromIDList(chosen, path)) target.baseFolder = path;
        CoTaskMemFree(chosen);
    }
    showDestination(dialog, target);
}

void registrationClicked(HWND dialog, dialogState& state)
{
    installTarget& target = *state.target;
    const bool checked = IsDlgButtonChecked(dialog, IDC_SETUP_REGISTER) == BST_CHECKED;
    switch (state.system->messageBox(dialog, TEXT("推奨される設置先を再設定しますか?"),
                                     TEXT("撤去情報書き込みの設定を変更を指示されました。"),
                                     MB_YESNOCANCEL | MB_ICONQUESTION)) {
    case IDYES:
        target.baseFolder = defaultBaseFolder(*state.system, !checked);
        target.subfolder = defaultSubfolder;
        showDestination(dialog, target);
        target.registerEntries = checked;
        break;
    case IDNO: target.registerEntries = checked; break;
    default: CheckDlgButton(dialog, IDC_SETUP_REGISTER, checked ? BST_UNCHECKED : BST_CHECKED); break;
    }
}

BOOL initDialog(HWND dialog, dialogState& state)
{
    SetWindowLongPtr(dialog, DWLP_USER, reinterpret_cast<LONG_PTR>(&state));
    noteAnchors(dialog, state);
    installTarget& target = *state.target;
    showDestination(dialog, target);
    if (isWinXPOrLater()) {
        SetDlgItemText(dialog, IDC_SETUP_REGISTER,
                       TEXT("スタートメニューや「プログラムの追加と削除」に登録する(&R)"));
    }
    if (state.system->isAdministratorOrPowerUser()) {
        CheckDlgButton(dialog, IDC_SETUP_REGISTER, BST_CHECKED);
        target.registerEntries = true;
    } else {
        EnableWindow(GetDlgItem(dialog, IDC_SETUP_REGISTER), FALSE);
        target.registerEntries = false;
    }
    if (!showReadMe(dialog)) {
        state.system->messageBox(dialog, TEXT("Tavolin設置前にお読みいただきたい文章が表示できませんでした。"),
                                 TEXT("Tavolinの設置作業"), MB_ICONWARNING);
        EndDialog(dialog, 4);
        return FALSE;
    }
    HWND readMe = GetDlgItem(dialog, IDC_SETUP_README);
    SetFocus(readMe);
    SendMessage(readMe, EM_SETSEL, static_cast<WPARAM>(-1), -1);
    HANDLE icon = LoadImage(GetModuleHandle(nullptr), TEXT("INSTALLINGICON"), IMAGE_ICON, 64, 64, LR_DEFAULTCOLOR);
    if (icon) {
        SendMessage(dialog, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon));
        SendMessage(dialog, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon));
    }
    return FALSE;
}

BOOL command(HWND dialog, dialogState& state, WPARAM wParam)
{
    installTarget& target = *state.target;
    switch (LOWORD(wParam)) {
    case IDOK: {
        const tstring typed = itemText(dialog, IDC_SETUP_DESTINATION);
        if (!typed.empty() && typed != joinPath(target.baseFolder, target.subfolder)) {
            target.baseFolder = typed;
            target.subfolder.clear();
        }
        EndDialog(dialog, IDOK);
        return TRUE;
    }
    case IDCANCEL: EndDialog(dialog, -2); return TRUE;
    case IDC_SETUP_SELECT: chooseBaseFolder(dialog, target); return TRUE;
    case IDC_SETUP_DEFAULT:
        target.baseFolder = defaultBaseFolder(*state.system, false);
        target.subfolder = defaultSubfolder;
        showDestination(dialog, target);
        return TRUE;
    case IDC_SETUP_REGISTER:
        if (HIWORD(wParam) != BN_CLICKED) return FALSE;
        registrationClicked(dialog, state);
        return TRUE;
    default: return FALSE;
    }
}

INT_PTR CALLBACK dialogProcedure(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_INITDIALOG) return initDialog(dialog, *reinterpret_cast<dialogState*>(lParam));
    dialogState* state = stateOf(dialog);
    if (!state) return FALSE;
    switch (message) {
    case WM_COMMAND: return command(dialog, *state, wParam);
    case WM_SIZING: {
        RECT* r = reinterpret_cast<RECT*>(lParam);
        if (r->right - r->left < minimumSize) r->right = r->left + minimumSize;
        if (r->bottom - r->top < minimumSize) r->bottom = r->top + minimumSize;
        return TRUE;
    }
    case WM_SIZE: applyAnchors(dialog, *state); return TRUE;
    default: return FALSE;
    }
}

}  // namespace

INT_PTR runSetupDialog(setupSystem& system, installTarget& target)
{
    dialogState state{&system, &target, {}, {}};
    return DialogBoxParam(GetModuleHandle(nullptr), TEXT("TVNINSTDIALOG"), nullptr, dialogProcedure,
                          reinterpret_cast<LPARAM>(&state));
}
