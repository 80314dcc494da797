// The settings sheet's window-free rules: the page record, the time scale, key descriptions, the
// move-range list, the web-site text and the refresh routine's enable/check/show decisions.
#include "app/settingsSheet/sheetRules.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <functional>

namespace {
INT_PTR CALLBACK emptyPageProc(HWND, UINT, WPARAM, LPARAM)
{
    return FALSE;
}
}  // namespace

TEST(sheetPageRecord, hasTheSizeWindows2000And98KnowAndEverythingThePageNeeds)
{
    HINSTANCE instance = GetModuleHandle(nullptr);
    const TCHAR* const templateName = TEXT("PAGE1");
    const PROPSHEETPAGE page = sheetPageRecord(instance, templateName, emptyPageProc);
    // The full record of this build's headers is XP's longer one: the older systems refuse it.
    EXPECT_EQ(page.dwSize, static_cast<DWORD>(PROPSHEETPAGE_V2_SIZE));
    EXPECT_LT(page.dwSize, sizeof(PROPSHEETPAGE));
    // The fields the sheet fills lie inside the record it hands over.
    EXPECT_GE(page.dwSize, offsetof(PROPSHEETPAGE, pfnDlgProc) + sizeof page.pfnDlgProc);
    EXPECT_EQ(page.dwFlags, static_cast<DWORD>(PSP_DEFAULT));
    EXPECT_EQ(page.hInstance, instance);
    EXPECT_EQ(page.pszTemplate, templateName);
    EXPECT_EQ(page.pfnDlgProc, emptyPageProc);
    EXPECT_EQ(page.lParam, 0);
    EXPECT_EQ(page.pfnCallback, nullptr);
}

TEST(sheetTimeScale, convertsBothWaysAtTheScaleBends)
{
    const struct { int ms; int position; } toPosition[] = {
        {0, 0},     {50, 50},    {51, 50},    {100, 75},   {150, 100},  {155, 101},
        {400, 150}, {800, 190},  {980, 199},  {1000, 200}, {60000, 3150}, {-5, -5},
    };
    for (const auto& row : toPosition) EXPECT_EQ(msToTrackPos(row.ms), row.position) << row.ms << " ms";

    const struct { unsigned position; int ms; } toMs[] = {
        {0, 0}, {50, 50}, {51, 52}, {75, 100}, {100, 150}, {101, 155}, {150, 400}, {190, 800}, {199, 980}, {200, 1000},
    };
    for (const auto& row : toMs) EXPECT_EQ(trackPosToMs(row.position), row.ms) << "position " << row.position;

    // Every position of the trackbar shows the time it stores.
    for (unsigned p = 0; p <= 200; ++p) EXPECT_EQ(msToTrackPos(trackPosToMs(p)), static_cast<int>(p)) << p;
}

TEST(sheetKeyText, describesKeysWithAndWithoutNames)
{
    const struct { int code; unsigned scan; const wchar_t* name; const wchar_t* text; } rows[] = {
        {0, 0x00, L"", L" (使用せず) / Vk 0x00 / Scan 0x00"},
        {28, 0x79, L"", L" [変換] / Vk 0x1c / Scan 0x79"},
        {29, 0x7B, L"", L" [無変換] / Vk 0x1d / Scan 0x7b"},
        {200, 0x00, L"", L" [その他] / Vk 0xc8 / Scan 0x00"},
        {32, 0x39, L"Space", L" Space / Vk 0x20 / Scan 0x39"},
        {0x2D, 0xD2, L"Insert", L" Insert / Vk 0x2d / Scan E0-0x52"},
    };
    for (const auto& row : rows) EXPECT_EQ(describeKey(row.code, row.scan, row.name), row.text) << row.code;
}

TEST(sheetKeyText, thumbKeyLabelsWarnOnlyAboutARealDuplicate)
{
    EXPECT_EQ(leftThumbKeyText(0, L" x"), L"左手親指キー： 使用しない");
    EXPECT_EQ(leftThumbKeyText(29, L" [無変換]"), L"左手親指キー： [無変換]");
    EXPECT_EQ(rightThumbKeyText(29, 29, L" [無変換]"), L"右手親指キー： (左親指キーと重複しています)");
    EXPECT_EQ(rightThumbKeyText(16, 16, L" Shift"), L"右手親指キー： Shift");
    EXPECT_EQ(rightThumbKeyText(0, 0, L" x"), L"右手親指キー： 使用しない");
    EXPECT_EQ(rightThumbKeyText(28, 29, L" [変換]"), L"右手親指キー： [変換]");
}

TEST(sheetKeyText, typedKeyCodeTakesOneToThreeDigitsUpTo255)
{
    const struct { const wchar_t* text; int code; } rows[] = {
        {L"7", 7}, {L"0", 0}, {L"007", 7}, {L"255", 255}, {L"256", -1}, {L"300", -1}, {L"", -1}, {L"1a", -1},
        {L"-1", -1}, {L"1234", -1},
    };
    for (const auto& row : rows) EXPECT_EQ(typedKeyCode(row.text), row.code) << row.text;
}

TEST(sheetShiftLayoutList, itemsStoreTheirLayoutBitsNotTheirIndex)
{
    const int values[] = {15, 14, 7, 11, 3, 10, 6, 2};
    for (int item = 0; item < shiftLayoutItemCount; ++item) {
        EXPECT_EQ(shiftLayoutValueOfItem(item), values[item]) << item;
        EXPECT_EQ(shiftLayoutItemOfValue(values[item]), item) << values[item];
    }
    EXPECT_EQ(shiftLayoutItemOfValue(9), -1);
    EXPECT_EQ(shiftLayoutItemOfValue(0), -1);
    EXPECT_EQ(shiftLayoutValueOfItem(8), -1);
    EXPECT_EQ(shiftLayoutValueOfItem(-1), -1);
}

TEST(sheetWebSiteText, dropsTheWholeSchemeWhateverItsLength)
{
    EXPECT_EQ(addressWithoutScheme(L"https://tavolin.example.org/"), L"tavolin.example.org/");
    EXPECT_EQ(addressWithoutScheme(L"http://tavolin.example.org/"), L"tavolin.example.org/");
    EXPECT_EQ(addressWithoutScheme(L"ftp://example.org"), L"example.org");
    EXPECT_EQ(addressWithoutScheme(L"tavolin.example.org"), L"tavolin.example.org");
}

namespace {

const controlRefresh* find(const std::vector<controlRefresh>& rules, int id)
{
    for (const auto& rule : rules) {
        if (rule.id == id) return &rule;
    }
    return nullptr;
}

// enable / check of one control after the routine: 1 or 0, -1 for "left alone", `any` when the
// row does not care.
const int any = -2;
struct expectedState {
    int id;
    int enable;
    int check;
};

}  // namespace

TEST(sheetRefreshRoutine, enablesAndChecksEachControlFromTheSettings)
{
    struct row {
        const char* name;
        std::function<void(pageRefreshInput&)> set;
        std::vector<expectedState> expected;
    };
    const std::vector<row> rows = {
        {"paused greys the list, checks the pause box and leaves the rest",
         [](pageRefreshInput& in) { in.paused = true; in.gameSwitch = true; in.shiftLayout = 1; },
         {{4005, 0, -1}, {3000, 0, -1}, {4060, 0, -1}, {4009, 0, -1}, {4109, 0, -1}, {4112, -1, -1},
          {4040, 0, -1}, {4072, 0, -1}, {4121, 0, -1}, {4055, -1, 1}, {4008, -1, -1}, {4001, -1, -1},
          {4114, -1, -1}, {4148, -1, -1}}},
        {"running without a right-hand move",
         [](pageRefreshInput& in) { in.shiftLayout = 0; },
         {{4055, -1, 0}, {4060, 1, -1}, {4009, 0, -1}, {4109, 0, -1}, {4112, 0, -1}, {4005, 1, -1}}},
        {"a right-hand move enables its options",
         [](pageRefreshInput& in) { in.shiftLayout = 3; },
         {{4009, 1, -1}, {4109, 1, -1}, {4112, 1, -1}}},
        {"alphabet and kana layouts enable their sub-options",
         [](pageRefreshInput& in) { in.dvorak = true; in.kanaConvert = false; in.kanaConvertOnlyInKanaLocked = true; },
         {{4006, 1, -1}, {4076, 0, 1}}},
        {"practice off greys the practice controls",
         [](pageRefreshInput& in) { in.gameSwitch = false; in.gameModeFlags = 0xFF; },
         {{4040, 1, 0}, {4072, 0, -1}, {4073, 0, -1}, {4074, 0, -1}, {4041, 0, 1}, {4054, 0, 1},
          {4052, 0, 0}, {4079, 0, 0}, {4080, 0, -1}, {4078, 0, -1}}},
        {"romaji practice enables the waiting boxes; 4054 needs bit 8 or 32",
         [](pageRefreshInput& in) { in.gameSwitch = true; in.gameModeFlags = 2 | 16; },
         {{4040, 1, 1}, {4072, 1, -1}, {4073, 1, -1}, {4041, 1, 0}, {4042, 1, 1}, {4043, 1, 0}, {4044, 1, 1},
          {4054, 0, 0}}},
        {"romaji practice with bit 32",
         [](pageRefreshInput& in) { in.gameSwitch = true; in.gameModeFlags = 32 | 64; },
         {{4054, 1, 1}}},
        {"JIS kana practice greys the romaji boxes",
         [](pageRefreshInput& in) { in.gameSwitch = true; in.gameModeFlags = 128 | 8; },
         {{4072, 1, -1}, {4074, 1, -1}, {4073, 0, -1}, {4041, 0, 1}, {4042, 0, any}, {4054, 0, any}, {4052, 1, any}}},
        {"hidden keyboard display",
         [](pageRefreshInput& in) { in.hiddenKeyBoard = true; in.autoMove = true; in.drawNumColumn = true; },
         {{4001, -1, 0}, {4008, 0, 1}, {4003, 0, 1}}},
        {"shown keyboard display, log and tray boxes",
         [](pageRefreshInput& in) {
             in.tasktray = true; in.winImeStateDisplay = 1; in.showLogSwitch = true; in.logLevel = 1;
         },
         {{4001, -1, 1}, {4008, 1, 0}, {4003, 1, 0}, {4000, -1, 1}, {4077, -1, 1}, {4115, -1, 1}, {4116, -1, 1}}},
        {"log level and IME display other than 1 are unchecked",
         [](pageRefreshInput& in) { in.winImeStateDisplay = 2; in.logLevel = 2; },
         {{4077, -1, 0}, {4116, -1, 0}}},
        {"output wait on and shift special",
         [](pageRefreshInput& in) { in.winOutputTimer = 10000; in.winShiftReverseType = 1; in.capsLockSync2ImeKana = true; },
         {{4052, any, 1}, {4079, any, 1}, {4058, 1, 1}}},
        {"output wait off keeps its time",
         [](pageRefreshInput& in) { in.winOutputTimer = 9999; },
         {{4052, any, 0}}},
        {"tables and the hook agent decide the control page's last options",
         [](pageRefreshInput& in) { in.hasMultiDownHoldKeys = true; in.hasMultiStrokeEntries = false; in.driverType = 2; },
         {{4110, 1, -1}, {4114, 0, -1}, {4148, 1, -1}}},
        {"other agents grey the virtual-key box",
         [](pageRefreshInput& in) { in.hasMultiStrokeEntries = true; in.driverType = 0; },
         {{4110, 0, -1}, {4114, 1, -1}, {4148, 0, -1}}},
    };
    for (const row& r : rows) {
        pageRefreshInput in;
        r.set(in);
        const auto rules = refreshRules(in);
        for (const expectedState& e : r.expected) {
            const controlRefresh* rule = find(rules, e.id);
            const int enable = rule ? rule->enable : -1;
            const int check = rule ? rule->check : -1;
            if (e.enable != any) {
                EXPECT_EQ(enable, e.enable) << r.name << ": enable of " << e.id;
            }
            if (e.check != any) {
                EXPECT_EQ(check, e.check) << r.name << ": check of " << e.id;
            }
        }
    }
}

TEST(sheetRefreshRoutine, numLockNoteAndPracticeListFollowTheSettingsEvenWhilePaused)
{
    for (bool paused : {false, true}) {
        pageRefreshInput in;
        in.paused = paused;
        in.numLockConvert = true;
        in.gameModeFlags = 128;
        auto rules = refreshRules(in);
        EXPECT_EQ(find(rules, 4070)->show, 1) << paused;
        EXPECT_EQ(find(rules, 4072)->select, 1) << paused;
        in.numLockConvert = false;
        in.gameModeFlags = 0;
        rules = refreshRules(in);
        EXPECT_EQ(find(rules, 4070)->show, 0) << paused;
        EXPECT_EQ(find(rules, 4072)->select, 0) << paused;
    }
}
