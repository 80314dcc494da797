#include "core/settings/settingsDefaults.h"

namespace {

// Paths are relative to the program folder; the data loader joins them to it.
// The four IME name patterns are matched against the whole IME name.
const defaultSetting defaults[] = {
    {"WinTvnVersion", L"0"},
    {"VkConvertK", L"data\\アイウエオ配列Tavolin仕様二版.tvn_kana"},
    {"VkConvertA", L"data\\TavolinQWERTY(JIS).tvn_eisu"},
    {"VkConvertC", L"data\\制御一版.tvn_kinou"},
    {"VkConvertN", L"data\\NumLock一版.tvn_numlock"},
    {"ConvertVk", L"data\\ローマ字化(ぁはxaほか).tvn_o_roumazi"},
    {"ConvertKVk", L"data\\かな入力化.tvn_o_kana"},
    {"KeyDependsOnMachine", L"data\\変換無し.tvn_o_numlock"},
    {"AlwaysReplaceFile", L"data\\変換無し.tvn_o_numlock"},
    {"WinHidariOyaVkCode", L"32"},
    {"WinMigiOyaVkCode", L"28"},
    {"WinHojoVkCode", L"0"},
    {"shiftLayout", L"0"},
    {"DrawNumColumn", L"true"},
    {"WinFrame", L"false"},
    {"AutoMove", L"false"},
    {"HiddenKeyBoard", L"false"},
    {"Tasktray", L"true"},
    {"Dvorak", L"true"},
    {"KanaConvert", L"true"},
    {"FuncOutput", L"false"},
    {"AlwaysReplaceSwitch", L"false"},
    {"NumLockConvert", L"false"},
    {"CtrlQwerty", L"true"},
    {"CtrlMigiOff", L"false"},
    {"ApplyShiftLayoutTo", L"15"},
    {"CapsLockSync2IMEKana", L"false"},
    {"SyncKanaLockWithIME", L"false"},
    {"GameSwitch", L"false"},
    {"KANAConvertOnlyInKanaLocked", L"false"},
    {"WinXPos", L"0"},
    {"WinYPos", L"0"},
    {"WinXSize", L"320"},
    {"WinYSize", L"200"},
    {"AcceptTimer", L"100"},
    {"GameModeFlags", L"94"},
    {"WinOutputTimer", L"0"},
    {"WinImeStateDisplay", L"0"},
    {"WinShiftReverseTime", L"80"},
    {"WinShiftReverseType", L"0"},
    {"WinThroughlyCloseCandidate", L"false"},
    {"UseHojoAlways", L"true"},
    {"WinMozzilaCheck", L"false"},
    {"MultiDownHold10999", L"false"},
    {"clearTypeOfStockMiss", L"0"},
    {"ShowLogSwitch", L"true"},
    {"LogLevel", L"0"},
    {"CancelMultiDownTime", L"0"},
    {"CancelSands2ndTime", L"0"},
    {"ImeThroughOnCandidate", L"風 2\\.[[:digit:]]+"},
    {"ImeThroughAlways", L"0x[[:digit:]]{8}\\(.*\\)"},
    {"ImeCantUseScsSetstr", L"ATOK ?([[:digit:]]{2}|20[[:digit:]]{2}) ?(体験版)?"},
    // One space, not empty: an empty pattern would be replaced by this anyway, and the file
    // shows the user that the list exists.
    {"ImeCantAcceptSymbolDirect", L" "},
    {"DriverType", L"2"},
    {"ForceKanaOnGameMode", L"29"},
    {"KantyokuKakuteiType", L"0"},
    {"TreatInputByVk", L"1"},
};

}  // namespace

const defaultSetting* defaultSettingsTable()
{
    return defaults;
}

std::size_t defaultSettingsCount()
{
    return sizeof defaults / sizeof defaults[0];
}

void fillDefaultSettings(settingsMap& map)
{
    for (const defaultSetting& d : defaults) map[d.key] = d.text;
}
