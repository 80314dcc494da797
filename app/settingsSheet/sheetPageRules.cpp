#include "app/settingsSheet/sheetPageRules.h"

#include "app/appText.h"
#include "app/settingsSheet/settingPageIds.h"
#include "core/platform/platform.h"

#include <cwctype>

const dataFileSlot dataFileSlots[dataFileSlotCount] = {
    {"VkConvertK", 0, IDC_KANA_FILE_LABEL, L"かな配列： ", IDC_KANA_FILE_CHOOSE, IDC_KANA_FILE_EDIT, IDC_KANA_FILE_RELOAD},
    {"VkConvertA", 0, IDC_ALPHA_FILE_LABEL, L"英字配列： ", IDC_ALPHA_FILE_CHOOSE, IDC_ALPHA_FILE_EDIT,
     IDC_ALPHA_FILE_RELOAD},
    {"VkConvertC", 0, IDC_FUNC_FILE_LABEL, L"機能キー配列： ", IDC_FUNC_FILE_CHOOSE, IDC_FUNC_FILE_EDIT,
     IDC_FUNC_FILE_RELOAD},
    {"VkConvertN", 0, IDC_NUMLOCK_FILE_LABEL, L"NumLock使用時の配列： ", IDC_NUMLOCK_FILE_CHOOSE,
     IDC_NUMLOCK_FILE_EDIT, IDC_NUMLOCK_FILE_RELOAD},
    {"ConvertVk", 1, IDC_ROMAJI_FILE_LABEL, L"ローマ字化： ", IDC_ROMAJI_FILE_CHOOSE, IDC_ROMAJI_FILE_EDIT,
     IDC_ROMAJI_FILE_RELOAD},
    {"ConvertKVk", 1, IDC_KANAIN_FILE_LABEL, L"かな入力化： ", IDC_KANAIN_FILE_CHOOSE, IDC_KANAIN_FILE_EDIT,
     IDC_KANAIN_FILE_RELOAD},
    {"KeyDependsOnMachine", 1, IDC_MACHINE_FILE_LABEL, L"NumLock時の機種依存情報： ", IDC_MACHINE_FILE_CHOOSE,
     IDC_MACHINE_FILE_EDIT, IDC_MACHINE_FILE_RELOAD},
    {"AlwaysReplaceFile", 1, IDC_SWAP_FILE_LABEL, L"常時交換キー情報： ", IDC_SWAP_FILE_CHOOSE, IDC_SWAP_FILE_EDIT,
     IDC_SWAP_FILE_RELOAD},
};

namespace {
const wchar_t* const kindNames[] = {
    L"かな入力配列ファイル",         L"英字入力配列ファイル", L"機能キー入力配列ファイル",
    L"NumLock使用時の配列ファイル",  L"ローマ字化ファイル",   L"かな入力化ファイル",
    L"NumLock時の機種依存情報ファイル", L"常時交換キー情報ファイル", L"Tavolin設定ファイル",
};
// The two key-swap kinds share one extension.
const wchar_t* const kindExtensions[] = {
    L"tvn_kana", L"tvn_eisu", L"tvn_kinou", L"tvn_numlock", L"tvn_o_roumazi",
    L"tvn_o_kana", L"tvn_o_numlock", L"tvn_o_numlock", L"ini",
};

bool endsWithIgnoringCase(const std::wstring& text, const std::wstring& tail)
{
    if (text.size() < tail.size()) return false;
    for (size_t i = 0; i < tail.size(); ++i)
        if (std::towlower(text[text.size() - tail.size() + i]) != std::towlower(tail[i])) return false;
    return true;
}
}  // namespace

const imeListRow imeListRows[imeListRowCount] = {
    {IDC_IME_CANDIDATE_EDIT, IDC_IME_CANDIDATE_DEFAULT, "ImeThroughOnCandidate", 0},
    {IDC_IME_ALWAYS_EDIT, IDC_IME_ALWAYS_DEFAULT, "ImeThroughAlways", 1},
    {IDC_IME_KANAONLY_EDIT, IDC_IME_KANAONLY_DEFAULT, "ImeCantAcceptSymbolDirect", 3},
    {IDC_IME_NOSETSTR_EDIT, IDC_IME_NOSETSTR_DEFAULT, "ImeCantUseScsSetstr", 2},
};

const wchar_t imeRegexNote[] = L"※下記漢字変換ソフトウェアの指定には正規表現を用います。";

imeEditOutcome imeExpressionEdited(const std::wstring& error, const std::wstring& text, const std::wstring& stored)
{
    imeEditOutcome outcome;
    if (!error.empty()) {
        outcome.note = L"不完全な正規表現のようです : " + error + L"\nその内容は : " + text;
        outcome.restoreLink = true;
        return outcome;
    }
    // A text that compiles clears an error shown for an earlier one, also when it is the stored text.
    outcome.note = imeRegexNote;
    outcome.store = text != stored;
    return outcome;
}

int slotOfFileButton(int id)
{
    for (int slot = 0; slot < dataFileSlotCount; ++slot) {
        const dataFileSlot& s = dataFileSlots[slot];
        if (id == s.chooseId || id == s.editId || id == s.reloadId) return slot;
    }
    return -1;
}

std::wstring fileKindName(int kind)
{
    if (kind < 0 || kind > settingsFileKind) return std::wstring();
    return kindNames[kind];
}

std::wstring fileKindExtension(int kind)
{
    if (kind < 0 || kind > settingsFileKind) return std::wstring();
    return kindExtensions[kind];
}

std::wstring dataFileSetting(const std::wstring& programFolder, const std::wstring& chosen)
{
    return fromT(relativePath(toT(programFolder), toT(chosen)));
}

std::wstring freeSaveName(const std::wstring& name, const std::wstring& ext,
                          const std::function<bool(const std::wstring&)>& exists)
{
    const std::wstring dotExt = L"." + ext;
    std::wstring result = name;
    // A name typed as "A.INI" already has its extension; it must not become "A.INI.ini".
    if (!endsWithIgnoringCase(result, dotExt)) result += dotExt;
    for (int n = 1; exists(result); ++n) {
        result.erase(result.size() - dotExt.size());
        result += L"(" + std::to_wstring(n) + L")" + dotExt;
    }
    return result;
}

std::wstring runFileChoice(int firstButton, const std::wstring (&folders)[3], const fileChoiceRounds& rounds)
{
    int button = firstButton;
    std::wstring result;
    while (button != 0) {
        if (button == IDC_FOLDER_USER_DATA && !rounds.folderExists(folders[1]) && !rounds.createUserFolder()) {
            button = IDC_FOLDER_INITIAL;
            continue;
        }
        const std::wstring& folder = folders[button - IDC_FOLDER_PROGRAM_DATA];
        std::wstring chosen;
        int pressed = 0;
        if (rounds.showDialog(folder, chosen, pressed)) result = chosen;
        button = pressed == IDC_FOLDER_PROGRAM_DATA || pressed == IDC_FOLDER_USER_DATA || pressed == IDC_FOLDER_INITIAL
                     ? pressed
                     : 0;
    }
    return result;
}

std::wstring formatSeconds(int milliseconds)
{
    long long ms = milliseconds;
    std::wstring sign;
    if (ms < 0) {
        sign = L"-";
        ms = -ms;
    }
    std::wstring fraction = std::to_wstring(ms % 1000);
    fraction.insert(0, 3 - fraction.size(), L'0');
    return sign + std::to_wstring(ms / 1000) + L"." + fraction + L"秒";
}

std::wstring acceptTimerLabel(int milliseconds)
{
    return milliseconds < 60000 ? formatSeconds(milliseconds) : std::wstring(L"待てるだけ待つ");
}

int acceptTimerFromTrackMs(int milliseconds)
{
    return milliseconds == 1000 ? 60000 : milliseconds;
}

int practiceFlags(const practiceControls& c)
{
    return (c.dakuten ? 2 : 0) | (c.handakuten ? 4 : 0) | (c.smallKana ? 8 : 0) | (c.nasal ? 16 : 0) |
           (c.plainU ? 64 : 0) | (c.jisKana ? 128 : 0);
}
