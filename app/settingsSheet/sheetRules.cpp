#include "app/settingsSheet/sheetRules.h"

#include <boost/regex.hpp>

#include <cstdio>
#include <map>

PROPSHEETPAGE sheetPageRecord(HINSTANCE instance, const TCHAR* templateName, DLGPROC procedure)
{
    PROPSHEETPAGE page{};
    page.dwSize = PROPSHEETPAGE_V2_SIZE;
    page.dwFlags = PSP_DEFAULT;
    page.hInstance = instance;
    page.pszTemplate = templateName;
    page.pfnDlgProc = procedure;
    return page;
}

int msToTrackPos(int ms)
{
    if (ms <= 50) return ms;
    if (ms <= 150) return 50 + (ms - 50) / 2;
    if (ms <= 400) return 100 + (ms - 150) / 5;
    if (ms <= 800) return 150 + (ms - 400) / 10;
    return 190 + (ms - 800) / 20;
}

int trackPosToMs(unsigned p)
{
    const int position = static_cast<int>(p > 100000 ? 100000 : p);
    if (position <= 50) return position;
    if (position <= 100) return 2 * position - 50;
    if (position <= 150) return 5 * position - 350;
    if (position <= 190) return 10 * position - 1100;
    return 20 * position - 3000;
}

std::wstring describeKey(int code, unsigned scanCode, const std::wstring& name)
{
    std::wstring shown = name;
    if (shown.empty()) {
        switch (code) {
        case 0: shown = L"(使用せず)"; break;
        case 28: shown = L"[変換]"; break;
        case 29: shown = L"[無変換]"; break;
        default: shown = L"[その他]"; break;
        }
    }
    wchar_t numbers[64];
    swprintf(numbers, 64, L" / Vk 0x%02x / Scan %ls0x%02x", static_cast<unsigned>(code) & 0xFF,
             scanCode > 127 ? L"E0-" : L"", scanCode & 0x7F);
    return L" " + shown + numbers;
}

std::wstring leftThumbKeyText(int code, const std::wstring& description)
{
    return std::wstring(L"左手親指キー：") + (code == 0 ? L" 使用しない" : description);
}

std::wstring rightThumbKeyText(int code, int leftCode, const std::wstring& description)
{
    std::wstring text = L"右手親指キー：";
    if (code == leftCode && code != 0 && code != 16) return text + L" (左親指キーと重複しています)";
    if (code == 0) return text + L" 使用しない";
    return text + description;
}

int typedKeyCode(const std::wstring& text)
{
    static const boost::wregex digits(L"\\d{1,3}");
    if (!boost::regex_match(text, digits)) return -1;
    int value = 0;
    for (wchar_t c : text) {
        if (c < L'0' || c > L'9') return -1;  // \d also matches other scripts' digits
        value = value * 10 + (c - L'0');
    }
    return value <= 255 ? value : -1;
}

namespace {

// Bits: 1 NumLock layout, 2 kana layout, 4 alphabet layout, 8 function-key layout.
const int shiftLayoutValues[shiftLayoutItemCount] = {15, 14, 7, 11, 3, 10, 6, 2};

}  // namespace

int shiftLayoutValueOfItem(int item)
{
    if (item < 0 || item >= shiftLayoutItemCount) return -1;
    return shiftLayoutValues[item];
}

int shiftLayoutItemOfValue(int value)
{
    for (int item = 0; item < shiftLayoutItemCount; ++item) {
        if (shiftLayoutValues[item] == value) return item;
    }
    return -1;
}

std::wstring addressWithoutScheme(const std::wstring& address)
{
    const std::wstring::size_type mark = address.find(L"://");
    if (mark == std::wstring::npos) return address;
    return address.substr(mark + 3);
}

std::vector<controlRefresh> refreshRules(const pageRefreshInput& in)
{
    std::map<int, controlRefresh> states;
    auto at = [&](int id) -> controlRefresh& {
        auto it = states.find(id);
        if (it == states.end()) it = states.emplace(id, controlRefresh{id}).first;
        return it->second;
    };
    auto enable = [&](int id, bool on) { at(id).enable = on ? 1 : 0; };
    auto check = [&](int id, bool on) { at(id).check = on ? 1 : 0; };
    auto flag = [&](int mask) { return (in.gameModeFlags & mask) != 0; };

    const bool gameOn = in.gameSwitch && !in.paused;
    const bool romajiPractice = gameOn && !flag(128);

    // Everything that converts keys is greyed while conversion is paused.
    static const int pausable[] = {4005, 3000, 4010, 4040, 4058, 4075, 4060, 4065, 4105, 4070,
                                   4009, 4109, 4006, 4076, 4072, 4073, 4074, 4041, 4054, 4042,
                                   4043, 4044, 4052, 4079, 4110, 4012, 4080, 4078, 4118, 4121};
    for (int id : pausable) enable(id, !in.paused);
    check(4055, in.paused);

    if (!in.paused) {
        const bool shifted = in.shiftLayout != 0;
        enable(4009, shifted);
        enable(4109, shifted);
        enable(4112, shifted);
        enable(4006, in.dvorak);
        enable(4076, in.kanaConvert);
        enable(4008, !in.hiddenKeyBoard);
        enable(4003, !in.hiddenKeyBoard);
        enable(4072, gameOn);
        enable(4074, gameOn);
        enable(4073, romajiPractice);
        enable(4041, romajiPractice);
        enable(4054, romajiPractice && flag(40));
        enable(4042, romajiPractice);
        enable(4043, romajiPractice);
        enable(4044, romajiPractice);
        enable(4052, gameOn);
        enable(4079, gameOn);
        enable(4080, gameOn);
        enable(4078, gameOn);
        enable(4110, in.hasMultiDownHoldKeys);
        enable(4114, in.hasMultiStrokeEntries);
        enable(4148, in.driverType == 2);

        check(4058, in.capsLockSync2ImeKana);
        check(4076, in.kanaConvertOnlyInKanaLocked);
        check(4041, flag(8));
        check(4042, flag(2));
        check(4043, flag(4));
        check(4044, flag(16));
        check(4054, flag(64));
        check(4052, in.winOutputTimer > 9999);
        check(4079, in.winShiftReverseType != 0);
        check(4040, gameOn);
        check(4001, !in.hiddenKeyBoard);
        check(4008, in.autoMove);
        check(4000, in.tasktray);
        check(4077, in.winImeStateDisplay == 1);
        check(4003, in.drawNumColumn);
        check(4115, in.showLogSwitch);
        check(4116, in.logLevel == 1);
    }

    at(4070).show = in.numLockConvert ? 1 : 0;
    at(4072).select = flag(128) ? 1 : 0;

    std::vector<controlRefresh> result;
    result.reserve(states.size());
    for (const auto& entry : states) result.push_back(entry.second);
    return result;
}
