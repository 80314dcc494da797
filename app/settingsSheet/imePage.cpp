// The IME page: the four regular expressions that name IMEs needing special treatment. A typed
// expression reaches the hook-library link at once when it compiles; the settings only ever hold
// expressions that compile.
#include "app/settingsSheet/settingPageIds.h"
#include "app/settingsSheet/sheetController.h"
#include "app/settingsSheet/sheetPageRules.h"
#include "app/settingsSheet/sheetPages.h"
#include "core/link/dllLink.h"
#include "core/settings/settingsHolder.h"
#include "core/platform/tstring.h"

#include <commctrl.h>

#include <vector>

namespace {
const imeListRow* rowOfEdit(int id)
{
    for (const imeListRow& row : imeListRows)
        if (row.editId == id) return &row;
    return nullptr;
}

const imeListRow* rowOfDefaultButton(int id)
{
    for (const imeListRow& row : imeListRows)
        if (row.defaultId == id) return &row;
    return nullptr;
}

bool readEdit(HWND page, int id, std::wstring& text)
{
    HWND edit = GetDlgItem(page, id);
    if (!edit) return false;
    const int length = GetWindowTextLength(edit);
    std::vector<TCHAR> buffer(length + 1, TCHAR('\0'));
    if (length > 0 && GetWindowText(edit, buffer.data(), length + 1) == 0) return false;
    text = fromT(buffer.data());
    return true;
}

void loadImePage(HWND page)
{
    settingsHolder& live = *sheetController().liveSettings;
    for (const imeListRow& row : imeListRows)
        settingsSheetController::setItemText(page, row.editId, live.getString(row.key));
    settingsSheetController::setItemText(page, IDC_IME_NOTE, imeRegexNote);
}

void expressionEdited(HWND page, const imeListRow& row)
{
    settingsSheetController& sheet = sheetController();
    settingsHolder& live = *sheet.liveSettings;
    std::wstring text;
    if (!readEdit(page, row.editId, text)) return;
    std::wstring error;
    live.link().setImeList(error, row.listIndex, text);
    const imeEditOutcome outcome = imeExpressionEdited(error, text, live.getString(row.key));
    if (outcome.restoreLink) {
        // The link keeps the last expression that compiled: the stored one.
        std::wstring ignored;
        live.link().setImeList(ignored, row.listIndex, live.getString(row.key));
    }
    if (outcome.store) sheet.pageChanged(page);
    settingsSheetController::setItemText(page, IDC_IME_NOTE, outcome.note);
    if (outcome.store) sheet.setString(row.key, text);
}

void defaultPressed(HWND page, const imeListRow& row)
{
    settingsSheetController& sheet = sheetController();
    settingsHolder& live = *sheet.liveSettings;
    live.resetToDefault(row.key);
    const std::wstring stored = live.getString(row.key);
    std::wstring shown;
    if (readEdit(page, row.editId, shown) && shown == stored) return;
    settingsSheetController::setItemText(page, row.editId, stored);
    settingsSheetController::setItemText(page, IDC_IME_NOTE, imeRegexNote);
    sheet.pageChanged(page);
}
}  // namespace

INT_PTR CALLBACK imePageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam)
{
    settingsSheetController& sheet = sheetController();
    INT_PTR shared = 0;
    if (sheet.sharedPageMessage(page, message, wParam, lParam, imePageIndex, [&] {
        loadImePage(page);
    }, shared)) return shared;
    switch (message) {
    case WM_INITDIALOG:
        loadImePage(page);
        return TRUE;
    case WM_COMMAND: {
        const int id = LOWORD(wParam);
        if (HIWORD(wParam) == EN_CHANGE) {
            if (const imeListRow* row = rowOfEdit(id)) {
                expressionEdited(page, *row);
                return TRUE;
            }
        } else if (HIWORD(wParam) == BN_CLICKED) {
            if (const imeListRow* row = rowOfDefaultButton(id)) {
                defaultPressed(page, *row);
                return TRUE;
            }
        }
        return FALSE;
    }
    }
    return FALSE;
}

