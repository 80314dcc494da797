#include "app/settingsSheet/sheetPageRules.h"

#include <gtest/gtest.h>

#include <set>
#include <vector>

TEST(formatSeconds, millisecondsAsSecondsWithThreeDecimals)
{
    const struct {
        int ms;
        const wchar_t* text;
    } cases[] = {
        {0, L"0.000秒"},    {5, L"0.005秒"},    {80, L"0.080秒"},    {100, L"0.100秒"},
        {999, L"0.999秒"},  {1000, L"1.000秒"}, {1005, L"1.005秒"},  {2500, L"2.500秒"},
        {60000, L"60.000秒"}, {-5, L"-0.005秒"},
    };
    for (const auto& c : cases) EXPECT_EQ(formatSeconds(c.ms), c.text) << c.ms;
}

TEST(formatSeconds, acceptTimerEndOfScaleWaitsAsLongAsItTakes)
{
    EXPECT_EQ(acceptTimerFromTrackMs(1000), 60000);
    EXPECT_EQ(acceptTimerFromTrackMs(980), 980);
    EXPECT_EQ(acceptTimerLabel(60000), L"待てるだけ待つ");
    EXPECT_EQ(acceptTimerLabel(100000), L"待てるだけ待つ");
    EXPECT_EQ(acceptTimerLabel(59999), L"59.999秒");
    EXPECT_EQ(acceptTimerLabel(100), L"0.100秒");
}

TEST(freeSaveName, appendsTheExtensionAndGrowsOneBracketPerTakenName)
{
    const struct {
        const wchar_t* typed;
        const wchar_t* ext;
        std::set<std::wstring> existing;
        const wchar_t* result;
    } cases[] = {
        {L"C:\\d\\a", L"tvn_kana", {}, L"C:\\d\\a.tvn_kana"},
        {L"C:\\d\\a.tvn_kana", L"tvn_kana", {}, L"C:\\d\\a.tvn_kana"},
        {L"C:\\d\\a", L"tvn_kana", {L"C:\\d\\a.tvn_kana"}, L"C:\\d\\a(1).tvn_kana"},
        {L"C:\\d\\a", L"tvn_kana", {L"C:\\d\\a.tvn_kana", L"C:\\d\\a(1).tvn_kana"}, L"C:\\d\\a(1)(2).tvn_kana"},
        {L"C:\\d\\a",
         L"tvn_kana",
         {L"C:\\d\\a.tvn_kana", L"C:\\d\\a(1).tvn_kana", L"C:\\d\\a(1)(2).tvn_kana"},
         L"C:\\d\\a(1)(2)(3).tvn_kana"},
        // A name already ending in the extension, in other letter case, keeps it.
        {L"C:\\d\\A.INI", L"ini", {}, L"C:\\d\\A.INI"},
        {L"C:\\d\\A.INI", L"ini", {L"C:\\d\\A.INI"}, L"C:\\d\\A(1).ini"},
        {L"a.txt", L"tvn_eisu", {}, L"a.txt.tvn_eisu"},
    };
    for (const auto& c : cases) {
        std::vector<std::wstring> asked;
        const std::wstring result = freeSaveName(c.typed, c.ext, [&](const std::wstring& name) {
            asked.push_back(name);
            return c.existing.count(name) != 0;
        });
        EXPECT_EQ(result, c.result) << c.typed;
        // Every taken name was asked about, and the answer was the first free one.
        EXPECT_EQ(asked.size(), c.existing.size() + 1) << c.typed;
        EXPECT_EQ(asked.back(), result);
    }
}

namespace {
// A user at the file-choice dialog: each round answers the next planned step.
struct plannedRound {
    int button;              // folder button pressed, 0 for none
    const wchar_t* chosen;   // confirmed file, nullptr for cancel
};

struct choiceRun {
    std::vector<std::wstring> shownFolders;
    int creationQuestions = 0;
    std::wstring result;
};

choiceRun runPlanned(int firstButton, std::vector<plannedRound> plan, bool userFolderExists, bool agreeToCreate)
{
    const std::wstring folders[3] = {L"P\\data", L"U", L"I"};
    choiceRun run;
    bool exists = userFolderExists;
    size_t next = 0;
    fileChoiceRounds rounds;
    rounds.folderExists = [&](const std::wstring& folder) { return folder != L"U" || exists; };
    rounds.createUserFolder = [&] {
        ++run.creationQuestions;
        if (agreeToCreate) exists = true;
        return agreeToCreate;
    };
    rounds.showDialog = [&](const std::wstring& folder, std::wstring& chosen, int& button) {
        run.shownFolders.push_back(folder);
        // A user who runs out of plan cancels: the loop must still end.
        const plannedRound step = next < plan.size() ? plan[next++] : plannedRound{0, nullptr};
        button = step.button;
        if (!step.chosen) return false;
        chosen = step.chosen;
        return true;
    };
    run.result = runFileChoice(firstButton, folders, rounds);
    return run;
}
}  // namespace

TEST(runFileChoice, folderButtonsReopenTheDialogInTheirFolder)
{
    // Confirmed at once in the caller's folder.
    choiceRun run = runPlanned(4140, {{0, L"I\\a"}}, true, false);
    EXPECT_EQ(run.shownFolders, (std::vector<std::wstring>{L"I"}));
    EXPECT_EQ(run.result, L"I\\a");

    // Program folder, then user folder, then the file.
    run = runPlanned(4140, {{4138, nullptr}, {4139, nullptr}, {0, L"U\\b"}}, true, false);
    EXPECT_EQ(run.shownFolders, (std::vector<std::wstring>{L"I", L"P\\data", L"U"}));
    EXPECT_EQ(run.result, L"U\\b");
    EXPECT_EQ(run.creationQuestions, 0);

    // A folder round followed by a plain cancel answers nothing.
    run = runPlanned(4140, {{4138, nullptr}, {0, nullptr}}, true, false);
    EXPECT_EQ(run.shownFolders.size(), 2u);
    EXPECT_EQ(run.result, L"");
}

TEST(runFileChoice, aMissingUserFolderIsOfferedAndDecliningFallsBackToTheCallersFolder)
{
    // Saving starts in the missing user folder: declined, the dialog opens in the caller's folder.
    choiceRun run = runPlanned(4139, {{0, L"I\\x.ini"}}, false, false);
    EXPECT_EQ(run.creationQuestions, 1);
    EXPECT_EQ(run.shownFolders, (std::vector<std::wstring>{L"I"}));
    EXPECT_EQ(run.result, L"I\\x.ini");

    // Accepted, it opens there; asked again later, the folder exists and nobody is asked.
    run = runPlanned(4139, {{4140, nullptr}, {4139, nullptr}, {0, L"U\\y"}}, false, true);
    EXPECT_EQ(run.creationQuestions, 1);
    EXPECT_EQ(run.shownFolders, (std::vector<std::wstring>{L"U", L"I", L"U"}));
    EXPECT_EQ(run.result, L"U\\y");
}

TEST(dataFileSetting, filesBelowTheProgramFolderAreStoredRelative)
{
    const struct {
        const wchar_t* folder;
        const wchar_t* chosen;
        const wchar_t* stored;
    } cases[] = {
        {L"C:\\prog", L"C:\\prog\\data\\a.tvn_kana", L"data\\a.tvn_kana"},
        {L"C:\\prog", L"C:\\prog\\a.tvn_kana", L"a.tvn_kana"},
        {L"C:\\prog", L"C:\\program\\a.tvn_kana", L"C:\\program\\a.tvn_kana"},
        {L"C:\\prog", L"D:\\prog\\a.tvn_kana", L"D:\\prog\\a.tvn_kana"},
        {L"C:\\prog", L"\\\\server\\share\\a.tvn_kana", L"\\\\server\\share\\a.tvn_kana"},
    };
    for (const auto& c : cases) EXPECT_EQ(dataFileSetting(c.folder, c.chosen), c.stored) << c.chosen;
}

TEST(fileKindName, namesAndExtensionsOfTheNineKinds)
{
    const struct {
        int kind;
        const wchar_t* name;
        const wchar_t* ext;
    } cases[] = {
        {0, L"かな入力配列ファイル", L"tvn_kana"},
        {1, L"英字入力配列ファイル", L"tvn_eisu"},
        {2, L"機能キー入力配列ファイル", L"tvn_kinou"},
        {3, L"NumLock使用時の配列ファイル", L"tvn_numlock"},
        {4, L"ローマ字化ファイル", L"tvn_o_roumazi"},
        {5, L"かな入力化ファイル", L"tvn_o_kana"},
        {6, L"NumLock時の機種依存情報ファイル", L"tvn_o_numlock"},
        {7, L"常時交換キー情報ファイル", L"tvn_o_numlock"},
        {8, L"Tavolin設定ファイル", L"ini"},
        {9, L"", L""},
        {-1, L"", L""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(fileKindName(c.kind), c.name) << c.kind;
        EXPECT_EQ(fileKindExtension(c.kind), c.ext) << c.kind;
    }
}

TEST(fileKindName, everyFileButtonFindsItsSlot)
{
    const struct {
        int id;
        int slot;
    } cases[] = {
        {4020, 0}, {4032, 0}, {4047, 0}, {4021, 1}, {4033, 1}, {4048, 1}, {4022, 2}, {4034, 2},
        {4049, 2}, {4062, 3}, {4063, 3}, {4064, 3}, {4023, 4}, {4035, 4}, {4050, 4}, {4037, 5},
        {4038, 5}, {4051, 5}, {4067, 6}, {4068, 6}, {4069, 6}, {4102, 7}, {4103, 7}, {4104, 7},
        {4055, -1}, {3000, -1}, {4016, -1},
    };
    for (const auto& c : cases) EXPECT_EQ(slotOfFileButton(c.id), c.slot) << c.id;
}

TEST(practiceFlags, eachControlOwnsOneBitAndBitsOneAndThirtyTwoAreCleared)
{
    const struct {
        practiceControls controls;
        int flags;
    } cases[] = {
        {{}, 0},
        {{true, false, false, false, false, false}, 2},
        {{false, true, false, false, false, false}, 4},
        {{false, false, true, false, false, false}, 8},
        {{false, false, false, true, false, false}, 16},
        {{false, false, false, false, true, false}, 64},
        {{false, false, false, false, false, true}, 128},
        {{true, true, true, true, true, true}, 0xDE},
    };
    for (const auto& c : cases) {
        const int flags = practiceFlags(c.controls);
        EXPECT_EQ(flags, c.flags);
        EXPECT_EQ(flags & (1 | 32), 0);
    }
}

TEST(imeExpressionEdited, onlyCompilingChangedTextsAreStoredAndAnEarlierErrorGoes)
{
    const struct {
        const wchar_t* error;
        const wchar_t* text;
        const wchar_t* stored;
        const wchar_t* note;
        bool store;
        bool restoreLink;
    } cases[] = {
        {L"Unmatched ( or \\(", L"ATOK (", L"ATOK", L"不完全な正規表現のようです : Unmatched ( or \\(\nその内容は : ATOK (", false,
         true},
        {L"", L"ATOK 2", L"ATOK", L"※下記漢字変換ソフトウェアの指定には正規表現を用います。", true, false},
        // Back to the stored text after an error: nothing to store, but the error note goes.
        {L"", L"ATOK", L"ATOK", L"※下記漢字変換ソフトウェアの指定には正規表現を用います。", false, false},
    };
    for (const auto& c : cases) {
        const imeEditOutcome outcome = imeExpressionEdited(c.error, c.text, c.stored);
        EXPECT_EQ(outcome.note, c.note) << c.text;
        EXPECT_EQ(outcome.store, c.store) << c.text;
        EXPECT_EQ(outcome.restoreLink, c.restoreLink) << c.text;
    }
}
