// Stand-ins for the pages that are not built yet: each page shows its tab, remembers itself as
// the page to reopen on, and takes part in Apply, OK and Cancel.
#include "app/settingsSheet/sheetController.h"
#include "app/settingsSheet/sheetPages.h"

#include <commdlg.h>
#include <prsht.h>

#include <vector>

namespace {

INT_PTR pendingPage(HWND page, UINT message, WPARAM wParam, LPARAM lParam, int index)
{
    settingsSheetController& sheet = sheetController();
    switch (message) {
    case WM_INITDIALOG:
        sheet.refreshPageControls(page);
        return TRUE;
    case WM_NOTIFY:
        if (reinterpret_cast<const NMHDR*>(lParam)->code == PSN_SETACTIVE) {
            sheet.startPage = index;
            SetWindowLongPtrW(page, DWLP_MSGRESULT, 0);
            return TRUE;
        }
        return sheet.commonNotify(page, lParam);
    case sheetRefreshPage:
        sheet.refreshPageControls(page);
        if (wParam) sheet.pageChanged(page);
        return TRUE;
    default:
        return FALSE;
    }
}

}  // namespace

INT_PTR CALLBACK arrayFilePageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam)
{
    return pendingPage(page, message, wParam, lParam, arrayFilePageIndex);
}

INT_PTR CALLBACK convertFilePageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam)
{
    return pendingPage(page, message, wParam, lParam, convertFilePageIndex);
}

INT_PTR CALLBACK displayPageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam)
{
    return pendingPage(page, message, wParam, lParam, displayPageIndex);
}

INT_PTR CALLBACK timePageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam)
{
    return pendingPage(page, message, wParam, lParam, timePageIndex);
}

INT_PTR CALLBACK practicePageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam)
{
    return pendingPage(page, message, wParam, lParam, practicePageIndex);
}

INT_PTR CALLBACK imePageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam)
{
    return pendingPage(page, message, wParam, lParam, imePageIndex);
}

std::wstring chooseFile(HWND owner, const std::wstring& title, const std::wstring& initialFolder,
                        const std::wstring& initialName, int, bool openMode)
{
    std::vector<wchar_t> buffer(initialName.size() + 310, 0);
    initialName.copy(buffer.data(), initialName.size());
    OPENFILENAMEW dialog{};
    dialog.lStructSize = sizeof dialog;
    dialog.hwndOwner = owner;
    dialog.lpstrFilter = L"すべてのファイル(*.*)\0*.*\0";
    dialog.lpstrFile = buffer.data();
    dialog.nMaxFile = static_cast<DWORD>(buffer.size());
    dialog.lpstrInitialDir = initialFolder.c_str();
    dialog.lpstrTitle = title.c_str();
    dialog.Flags = OFN_HIDEREADONLY | OFN_PATHMUSTEXIST | OFN_EXPLORER | (openMode ? OFN_FILEMUSTEXIST : 0);
    const BOOL confirmed = openMode ? GetOpenFileNameW(&dialog) : GetSaveFileNameW(&dialog);
    return confirmed ? std::wstring(buffer.data()) : std::wstring();
}
