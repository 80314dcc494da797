// Acceptance: the settings sheet of the real TavolinXP.exe from the product folder, under Wine,
// driven from outside as a user drives it: opened from the tray command, pages switched, boxes,
// lists and buttons clicked, dialogs answered, Apply / OK / Cancel pressed; the effect is checked
// on typed keys, the log window, the registry and the settings files written at exit.
#include "liveDesktop.h"
#include "programWindows.h"
#include "testTempFolder.h"

#include <gtest/gtest.h>

#include <commctrl.h>
#include <prsht.h>

#include <string>
#include <vector>

namespace {

const UINT openSettingsRequest = 0x8080;
const int commandSettings = 4011;
const int commandQuit = 3001;
const wchar_t sheetTitle[] = L"設定窓口/Orvessa";

bool contains(const std::wstring& text, const std::wstring& part)
{
    return text.find(part) != std::wstring::npos;
}

bool contains(const std::string& text, const std::string& part)
{
    return text.find(part) != std::string::npos;
}

// The running program and its sheet, seen from outside.
class settingsSheetTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        exe = productFolder() + L"\\TavolinXP.exe";
        ASSERT_NE(GetFileAttributesW(exe.c_str()), INVALID_FILE_ATTRIBUTES);
        ASSERT_TRUE(xdotoolAvailable());
        SetEnvironmentVariableW(L"APPDATA", appData.path().c_str());
        setAutoStartAnswer(1);
        shell.reset(new programProcess(exe));
        main = shell->waitFor(L"orvessaTasktray", L"");
        ASSERT_NE(main, nullptr);
        HWND log = shell->waitFor(L"#32770", L"動作記録");
        ASSERT_NE(log, nullptr);
        logEdit = GetDlgItem(log, 4099);
        ASSERT_TRUE(pumpUntil([&] { return logContains(L"入力代行部の変更 : "); }, 20000)) << "the agent never started";
        // The start-up shows the keyboard display after the agent: let it appear before a test takes
        // the focus, or it takes the focus back from under the first typed key.
        HWND display = shell->waitFor(L"#32770", L"配列表示");
        ASSERT_NE(display, nullptr);
        ASSERT_TRUE(pumpUntil([&] { return IsWindowVisible(display) != FALSE; }, 10000));
        pumpMessages(300);
    }
    void TearDown() override { shell.reset(); }

    std::wstring settingsFile() const { return appData.path() + L"\\Brannoch\\Tavolin13\\default.ini"; }
    bool logContains(const std::wstring& part) const { return contains(windowText(logEdit), part); }
    size_t logCount(const std::wstring& part) const
    {
        const std::wstring text = windowText(logEdit);
        size_t count = 0;
        for (size_t at = text.find(part); at != std::wstring::npos; at = text.find(part, at + 1)) ++count;
        return count;
    }

    // Opens the sheet with the tray menu's command and waits until it is shown.
    HWND openSheet()
    {
        PostMessageW(main, WM_COMMAND, commandSettings, 0);
        HWND sheet = shell->waitFor(L"#32770", sheetTitle);
        pumpUntil([&] { return sheet && IsWindowVisible(sheet); }, 10000);
        return sheet;
    }
    int currentPage(HWND sheet)
    {
        HWND page = reinterpret_cast<HWND>(sendTo(sheet, PSM_GETCURRENTPAGEHWND));
        return page ? static_cast<int>(sendTo(sheet, PSM_HWNDTOINDEX, reinterpret_cast<WPARAM>(page))) : -1;
    }
    HWND showPage(HWND sheet, int index)
    {
        sendTo(sheet, PSM_SETCURSEL, static_cast<WPARAM>(index), 0);
        pumpUntil([&] { return currentPage(sheet) == index; }, 5000);
        return reinterpret_cast<HWND>(sendTo(sheet, PSM_GETCURRENTPAGEHWND));
    }
    // A click on a button that acts at once.
    void click(HWND page, int id) { sendTo(GetDlgItem(page, id), BM_CLICK); }
    // A click on a button that opens a modal window: the click must not wait for it.
    void clickAndGoOn(HWND page, int id) { PostMessageW(GetDlgItem(page, id), BM_CLICK, 0, 0); }
    bool checked(HWND page, int id) { return sendTo(GetDlgItem(page, id), BM_GETCHECK) == BST_CHECKED; }
    // The user picks an item of a drop-down list.
    void choose(HWND page, int id, int item)
    {
        HWND list = GetDlgItem(page, id);
        sendTo(list, CB_SETCURSEL, static_cast<WPARAM>(item));
        sendTo(page, WM_COMMAND, MAKEWPARAM(id, CBN_SELCHANGE), reinterpret_cast<LPARAM>(list));
    }
    int selection(HWND page, int id) { return static_cast<int>(sendTo(GetDlgItem(page, id), CB_GETCURSEL)); }
    void press(HWND sheet, int button) { sendTo(sheet, PSM_PRESSBUTTON, static_cast<WPARAM>(button)); }
    bool waitUntilClosed(HWND sheet)
    {
        return pumpUntil([&] { return !IsWindow(sheet); }, 10000);
    }
    // Answers the message box with this caption; its texts, empty when none came.
    std::wstring answerMessageBox(const std::wstring& caption, int answer = IDOK)
    {
        HWND box = shell->waitFor(L"#32770", caption);
        if (!box) return L"";
        const std::wstring text = childTexts(box);
        PostMessageW(box, WM_COMMAND, static_cast<WPARAM>(answer), 0);
        pumpUntil([&] { return !IsWindow(box); }, 5000);
        return text;
    }
    // Types a path into the open/save dialog with this title and confirms it.
    bool answerFileDialog(const std::wstring& title, const std::wstring& path)
    {
        HWND dialog = shell->waitFor(L"#32770", title);
        if (!dialog) return false;
        pumpMessages(300);
        HWND name = GetDlgItem(dialog, 0x47C);  // the file-name box of the explorer-style dialog
        if (!name) name = GetDlgItem(dialog, 0x480);
        if (!name) return false;
        sendTo(name, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(path.c_str()));
        PostMessageW(dialog, WM_COMMAND, IDOK, 0);
        return pumpUntil([&] { return !IsWindow(dialog); }, 5000);
    }
    // Types keys into a window of the test and answers the scan codes of the keys that reached it.
    std::vector<unsigned> typeKeys(liveTargetWindow& target, const std::wstring& keys, size_t expected)
    {
        target.clear();
        if (!target.focus()) return {};
        runXdotool(L"key --delay 80 " + keys);
        pumpUntil([&] { return target.pressedScanCodes().size() >= expected; }, 4000);
        pumpMessages(300);  // a key that comes twice comes within this time
        return target.pressedScanCodes();
    }
    std::string savedSettings(const std::wstring& path) const { return testTempFolder::readBytes(path); }
    bool quit()
    {
        PostMessageW(main, WM_COMMAND, commandQuit, 0);
        return shell->waitForExit(20000) == 0;
    }

    testTempFolder appData;
    std::wstring exe;
    std::unique_ptr<programProcess> shell;
    HWND main = nullptr;
    HWND logEdit = nullptr;
};

const int pageArrayFiles = 0, pageControl = 2, pageDisplay = 3, pageTime = 4, pagePractice = 5, pageIme = 6,
          pageInfo = 7;
const wchar_t userFolderQuestion[] = L"ユーザー用データ置き場がありません。";
// Scan codes: k, j and l.
const unsigned scanK = 0x25, scanJ = 0x24, scanL = 0x26;

}  // namespace

TEST_F(settingsSheetTest, controlPageChangesTakeEffectWhileTypingWithApplyOkAndCancel)
{
    liveTargetWindow target;
    // The default layouts type k as k.
    ASSERT_EQ(typeKeys(target, L"k", 1), std::vector<unsigned>{scanK});

    HWND sheet = openSheet();
    ASSERT_NE(sheet, nullptr);
    EXPECT_EQ(currentPage(sheet), 0) << "the first opening shows the first page";
    EXPECT_EQ(shell->findAll(L"#32770", sheetTitle).size(), 1u);
    // The sheet has no "?" button in its caption.
    EXPECT_EQ(GetWindowLongW(sheet, GWL_EXSTYLE) & WS_EX_CONTEXTHELP, 0);

    HWND page = showPage(sheet, pageControl);
    ASSERT_NE(page, nullptr);
    // The lists hold their items; ApplyShiftLayoutTo 15 is the first item; right-hand move off
    // greys its options.
    EXPECT_EQ(sendTo(GetDlgItem(page, 4109), CB_GETCOUNT), 8);
    EXPECT_EQ(selection(page, 4109), 0);
    EXPECT_EQ(selection(page, 4142), 2);
    EXPECT_FALSE(IsWindowEnabled(GetDlgItem(page, 4009)));
    EXPECT_TRUE(checked(page, 4147)) << "auto-start is on";
    EXPECT_FALSE(IsWindowEnabled(GetDlgItem(sheet, 0x3021))) << "Apply starts disabled";

    // Moving the right-hand keys one to the right takes effect at once, before Apply.
    choose(page, 4060, 1);
    EXPECT_TRUE(IsWindowEnabled(GetDlgItem(page, 4009)));
    EXPECT_TRUE(IsWindowEnabled(GetDlgItem(sheet, 0x3021))) << "a change enables Apply";
    const std::vector<unsigned> moved = typeKeys(target, L"k", 1);
    ASSERT_EQ(moved.size(), 1u);
    EXPECT_TRUE(moved[0] == scanJ || moved[0] == scanL) << "k typed 0x" << std::hex << moved[0];
    // Only the kana layout: the alphabet layout types k again.
    choose(page, 4109, 7);
    EXPECT_EQ(typeKeys(target, L"k", 1), std::vector<unsigned>{scanK});
    choose(page, 4109, 0);
    press(sheet, PSBTN_APPLYNOW);
    EXPECT_FALSE(IsWindowEnabled(GetDlgItem(sheet, 0x3021))) << "Apply disables itself";

    // More changes after Apply: the move off again, auto-start off (written at once), a thumb key.
    choose(page, 4060, 0);
    EXPECT_EQ(typeKeys(target, L"k", 1), std::vector<unsigned>{scanK});
    click(page, 4147);
    EXPECT_EQ(autoStartAnswer(), 2u) << "the auto-start box writes the registry at once";
    click(page, 4075);
    EXPECT_TRUE(checked(page, 4075));

    // Cancel returns to the applied state: keys move again, auto-start is on again.
    press(sheet, PSBTN_CANCEL);
    ASSERT_TRUE(waitUntilClosed(sheet));
    EXPECT_EQ(autoStartAnswer(), 1u);
    EXPECT_EQ(typeKeys(target, L"k", 1), moved);

    // A second start asks the running program for its settings: the sheet reopens on the page
    // shown last, with the applied values.
    {
        programProcess second(exe);
        EXPECT_EQ(second.waitForExit(20000), 0u);
    }
    sheet = shell->waitFor(L"#32770", sheetTitle);
    ASSERT_NE(sheet, nullptr);
    EXPECT_EQ(currentPage(sheet), pageControl);
    page = reinterpret_cast<HWND>(sendTo(sheet, PSM_GETCURRENTPAGEHWND));
    EXPECT_EQ(selection(page, 4060), 1);
    EXPECT_FALSE(checked(page, 4075));

    // Another request while it is open brings the same sheet forward instead of a second one.
    SetWindowPos(sheet, HWND_NOTOPMOST, 5, 5, 0, 0, SWP_NOSIZE | SWP_NOACTIVATE);
    PostMessageW(main, openSettingsRequest, 0, 0);
    pumpUntil([&] {
        RECT r{};
        GetWindowRect(sheet, &r);
        return r.left > 5;
    }, 5000);
    EXPECT_EQ(shell->findAll(L"#32770", sheetTitle), std::vector<HWND>{sheet});
    RECT r{};
    GetWindowRect(sheet, &r);
    EXPECT_GT(r.left, 5) << "re-centred";
    EXPECT_TRUE(GetWindowLongW(sheet, GWL_EXSTYLE) & WS_EX_TOPMOST);

    // The input method: the classic agent instead of the hook agent, exchanged at once; then the
    // hook agent again and Cancel. Every key comes out once, whichever agent takes it.
    choose(page, 4142, 0);
    EXPECT_TRUE(pumpUntil([&] { return logContains(L"入力代行部の変更 : 版1.0/1.1号互換入力代行"); }, 5000));
    EXPECT_EQ(typeKeys(target, L"k j", 2), (std::vector<unsigned>{moved[0], moved[0] == scanJ ? 0x23u : scanK}));
    const size_t hookSwitches = logCount(L"入力代行部の変更 : Windows2000/XP専用入力代行");
    choose(page, 4142, 2);
    EXPECT_TRUE(pumpUntil(
        [&] { return logCount(L"入力代行部の変更 : Windows2000/XP専用入力代行") == hookSwitches + 1; }, 5000));
    choose(page, 4142, 0);
    EXPECT_TRUE(pumpUntil([&] { return logCount(L"入力代行部の変更 : 版1.0/1.1号互換入力代行") == 2; }, 5000));
    press(sheet, PSBTN_CANCEL);
    ASSERT_TRUE(waitUntilClosed(sheet));
    EXPECT_TRUE(pumpUntil(
        [&] { return logCount(L"入力代行部の変更 : Windows2000/XP専用入力代行") == hookSwitches + 2; }, 5000));
    EXPECT_EQ(typeKeys(target, L"k k k", 3), (std::vector<unsigned>{moved[0], moved[0], moved[0]}));

    // The thumb-key dialog: a preset, a typed value out of range (ignored), then 決定; OK applies.
    sheet = openSheet();
    ASSERT_NE(sheet, nullptr);
    page = reinterpret_cast<HWND>(sendTo(sheet, PSM_GETCURRENTPAGEHWND));
    clickAndGoOn(page, 4025);
    HWND dialog = shell->waitFor(L"#32770", L"左手親指キーの設定中…");
    ASSERT_NE(dialog, nullptr);
    sendTo(GetDlgItem(dialog, 4124), BM_CLICK);
    EXPECT_TRUE(contains(windowText(GetDlgItem(dialog, 4128)), L"/ Vk 0x20 /"));
    sendTo(GetDlgItem(dialog, 4028), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L"300"));
    EXPECT_TRUE(contains(windowText(GetDlgItem(dialog, 4128)), L"/ Vk 0x20 /")) << "300 is no key code";
    screenshot(L"sheet-thumb-key-dialog.png", dialog);
    PostMessageW(GetDlgItem(dialog, IDOK), BM_CLICK, 0, 0);
    ASSERT_TRUE(pumpUntil([&] { return !IsWindow(dialog); }, 5000));
    EXPECT_TRUE(contains(windowText(GetDlgItem(page, 4024)), L"左手親指キー："));
    EXPECT_TRUE(contains(windowText(GetDlgItem(page, 4024)), L"/ Vk 0x20 /"));
    // "変更しない" keeps the right thumb key.
    clickAndGoOn(page, 4027);
    dialog = shell->waitFor(L"#32770", L"右手親指キーの設定中…");
    ASSERT_NE(dialog, nullptr);
    sendTo(GetDlgItem(dialog, 4126), BM_CLICK);
    PostMessageW(GetDlgItem(dialog, IDCANCEL), BM_CLICK, 0, 0);
    ASSERT_TRUE(pumpUntil([&] { return !IsWindow(dialog); }, 5000));
    press(sheet, PSBTN_OK);
    ASSERT_TRUE(waitUntilClosed(sheet));

    ASSERT_TRUE(quit());
    const std::string saved = savedSettings(settingsFile());
    EXPECT_TRUE(contains(saved, "shiftLayout=1\r\n")) << saved;
    EXPECT_TRUE(contains(saved, "ApplyShiftLayoutTo=15\r\n"));
    EXPECT_TRUE(contains(saved, "SyncKanaLockWithIME=false\r\n"));
    EXPECT_TRUE(contains(saved, "DriverType=2\r\n"));
    EXPECT_TRUE(contains(saved, "WinHidariOyaVkCode=32\r\n"));
    EXPECT_TRUE(contains(saved, "WinMigiOyaVkCode=28\r\n")) << "the right thumb key keeps its default";
}

TEST_F(settingsSheetTest, informationPageDuplicatesChoosesAndSavesSettingsFiles)
{
    HWND sheet = openSheet();
    ASSERT_NE(sheet, nullptr);
    // Pictures of the pages for people to look at.
    for (int index = 0; index < 8; ++index) {
        ASSERT_NE(showPage(sheet, index), nullptr) << index;
        pumpMessages(200);
        screenshot(L"sheet-page-" + std::to_wstring(index) + L".png", sheet);
    }
    HWND page = showPage(sheet, pageInfo);
    ASSERT_NE(page, nullptr);
    EXPECT_EQ(windowText(GetDlgItem(page, 4090)), L"『Tavolin』のインターネット上のサイトへ行く\ntavolin.example.org/");
    EXPECT_TRUE(contains(windowText(GetDlgItem(page, 4053)), L"Tavolin (UNICODE/Windows XP) : "));
    EXPECT_EQ(windowText(GetDlgItem(page, 4108)), L"一時的に設定全体を変更できます ： ");

    // 設定複製: the settings go to a new file, which later saves use.
    const std::wstring work = appData.file(L"work.ini");
    clickAndGoOn(page, 4107);
    // A first run has no per-user data folder yet: declined, the dialog opens in the settings' folder.
    EXPECT_FALSE(answerMessageBox(userFolderQuestion, IDNO).empty());
    ASSERT_TRUE(answerFileDialog(L"新しいファイル名を入力してください。", work));
    EXPECT_TRUE(contains(answerMessageBox(L"ファイルの複製に成功"), work + L" を作成しました。"));
    EXPECT_TRUE(testTempFolder::exists(work));
    EXPECT_EQ(windowText(GetDlgItem(page, 4108)), L"一時的に設定全体を変更できます ： work.ini");

    // A change made afterwards, kept with OK.
    page = showPage(sheet, pageControl);
    click(page, 4075);
    press(sheet, PSBTN_OK);
    ASSERT_TRUE(waitUntilClosed(sheet));

    // The page still names the chosen file after closing and reopening.
    sheet = openSheet();
    ASSERT_NE(sheet, nullptr);
    page = showPage(sheet, pageInfo);
    EXPECT_EQ(windowText(GetDlgItem(page, 4108)), L"一時的に設定全体を変更できます ： work.ini");

    // 設定選択 of a file that is no settings file: the problem is shown, nothing changes.
    const std::wstring bad = appData.file(L"bad.ini");
    testTempFolder::writeBytes(bad, "Title=something else\r\nWinTvnVersion=13007\r\n");
    clickAndGoOn(page, 4106);
    ASSERT_TRUE(answerFileDialog(L"Tavolinの設定ファイルを選択してください。", bad));
    EXPECT_TRUE(contains(answerMessageBox(L"ファイルの読みだしに失敗しました。"),
                         L"ファイル " + bad + L" では問題があります。\n他のファイルを指定してください。"));
    EXPECT_EQ(windowText(GetDlgItem(page, 4108)), L"一時的に設定全体を変更できます ： work.ini");

    // 現設定を起動時設定に複製 writes default.ini, yet the running settings still belong to work.ini.
    clickAndGoOn(page, 4111);
    EXPECT_TRUE(contains(answerMessageBox(L"Orvessa/Tavolin"), L"現在の設定が起動時設定として保存されました。"));
    ASSERT_TRUE(testTempFolder::exists(settingsFile()));
    page = showPage(sheet, pageControl);
    click(page, 4148);
    press(sheet, PSBTN_OK);
    ASSERT_TRUE(waitUntilClosed(sheet));

    ASSERT_TRUE(quit());
    const std::string workSaved = savedSettings(work);
    EXPECT_TRUE(contains(workSaved, "SyncKanaLockWithIME=true\r\n")) << workSaved;
    EXPECT_TRUE(contains(workSaved, "TreatInputByVk=0\r\n"));
    const std::string startup = savedSettings(settingsFile());
    EXPECT_TRUE(contains(startup, "SyncKanaLockWithIME=true\r\n"));
    EXPECT_TRUE(contains(startup, "TreatInputByVk=1\r\n")) << "the exit save went to work.ini";
    EXPECT_FALSE(testTempFolder::exists(work + L".bak")) << "the refused choice made work.ini look refused";
}

TEST_F(settingsSheetTest, filePagesAndSettingPagesChangeTheRunningConversion)
{
    liveTargetWindow target;
    HWND display = shell->waitFor(L"#32770", L"配列表示");
    ASSERT_NE(display, nullptr);
    ASSERT_TRUE(pumpUntil([&] { return IsWindowVisible(display) != FALSE; }, 10000));

    // The right-hand keys move one to the right (through the alphabet layout), kept with Apply.
    HWND sheet = openSheet();
    ASSERT_NE(sheet, nullptr);
    HWND page = showPage(sheet, pageControl);
    choose(page, 4060, 1);
    press(sheet, PSBTN_APPLYNOW);
    const std::vector<unsigned> moved = typeKeys(target, L"k", 1);
    ASSERT_EQ(moved.size(), 1u);
    ASSERT_NE(moved[0], scanK);

    // Switching the alphabet layout off: k is k again.
    page = showPage(sheet, pageArrayFiles);
    EXPECT_TRUE(checked(page, 4005));
    click(page, 4005);
    EXPECT_EQ(typeKeys(target, L"k", 1), std::vector<unsigned>{scanK});

    // The pause box greys the layout boxes; un-ticking it brings them back.
    click(page, 4055);
    EXPECT_TRUE(checked(page, 4055));
    EXPECT_FALSE(IsWindowEnabled(GetDlgItem(page, 4005)));
    click(page, 4055);
    EXPECT_FALSE(checked(page, 4055));
    EXPECT_TRUE(IsWindowEnabled(GetDlgItem(page, 4005)));

    // A kana layout file that does not load is refused; the layout in use stays.
    const std::wstring kanaLabel = windowText(GetDlgItem(page, 4016));
    EXPECT_TRUE(contains(kanaLabel, L"かな配列： data\\")) << kanaLabel.size();
    const std::wstring bad = appData.file(L"bad.tvn_kana");
    // Plain text (UTF-8 with its mark) defining the key a twice.
    testTempFolder::writeBytes(bad, "\xEF\xBB\xBFvisible=1\r\na\t\xE3\x81\x8B\r\na\t\xE3\x81\x8D\r\n");
    clickAndGoOn(page, 4020);
    ASSERT_TRUE(answerFileDialog(L"かな入力配列ファイルを選択してください。", bad));
    EXPECT_TRUE(contains(answerMessageBox(L"ファイルの読みだしに失敗しました。"), L"ファイル " + bad + L" では問題があります。"));
    EXPECT_EQ(windowText(GetDlgItem(page, 4016)), kanaLabel);

    // The shipped kana layout is no draft: its button duplicates it into an editable copy.
    EXPECT_EQ(windowText(GetDlgItem(page, 4032)), L"複製");
    clickAndGoOn(page, 4032);
    EXPECT_FALSE(answerMessageBox(userFolderQuestion, IDYES).empty());
    ASSERT_TRUE(answerFileDialog(L"新しいファイル名を入力してください。", appData.file(L"mine")));
    const std::wstring copy = appData.file(L"mine.tvn_kana");
    EXPECT_TRUE(contains(answerMessageBox(L"ファイルの複製に成功"), copy + L" を作成しました。"));
    EXPECT_TRUE(contains(testTempFolder::readBytes(copy), "DraftData=1"));
    EXPECT_TRUE(testTempFolder::exists(appData.path() + L"\\Brannoch\\Tavolin13")) << "the user folder was made";

    // Time page: the end of the scale waits as long as it can; one step back is 980 ms.
    page = showPage(sheet, pageTime);
    auto moveTrackbar = [&](int id, int position) {
        HWND bar = GetDlgItem(page, id);
        sendTo(bar, TBM_SETPOS, TRUE, position);
        sendTo(page, WM_HSCROLL, MAKEWPARAM(TB_THUMBTRACK, position), reinterpret_cast<LPARAM>(bar));
    };
    EXPECT_EQ(sendTo(GetDlgItem(page, 4012), TBM_GETPOS), 75) << "AcceptTimer 100 ms";
    moveTrackbar(4012, 199);
    EXPECT_EQ(windowText(GetDlgItem(page, 4013)), L"0.980秒");
    moveTrackbar(4012, 200);
    EXPECT_EQ(windowText(GetDlgItem(page, 4013)), L"待てるだけ待つ");
    moveTrackbar(4118, 200);
    EXPECT_EQ(windowText(GetDlgItem(page, 4119)), L"1.000秒");

    // IME page: an unbalanced parenthesis is shown as an error and not taken; a valid text is.
    page = showPage(sheet, pageIme);
    HWND edit = GetDlgItem(page, 4129);
    sendTo(edit, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L"Example (IME"));
    const std::wstring error = windowText(GetDlgItem(page, 4137));
    EXPECT_EQ(error.rfind(L"不完全な正規表現のようです : ", 0), 0u);
    EXPECT_TRUE(contains(error, L"\nその内容は : Example (IME"));
    sendTo(edit, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L"Example IME"));
    EXPECT_EQ(windowText(GetDlgItem(page, 4137)), L"※下記漢字変換ソフトウェアの指定には正規表現を用います。");

    // Display page: the keyboard display goes away at once.
    page = showPage(sheet, pageDisplay);
    EXPECT_TRUE(checked(page, 4001));
    click(page, 4001);
    EXPECT_TRUE(pumpUntil([&] { return !IsWindowVisible(display); }, 5000));

    // Practice page: the practice mode enables its options.
    page = showPage(sheet, pagePractice);
    EXPECT_FALSE(IsWindowEnabled(GetDlgItem(page, 4073)));
    click(page, 4040);
    EXPECT_TRUE(IsWindowEnabled(GetDlgItem(page, 4073)));

    press(sheet, PSBTN_OK);
    ASSERT_TRUE(waitUntilClosed(sheet));
    EXPECT_FALSE(IsWindowVisible(display)) << "the closing sheet keeps the display as set";
    ASSERT_TRUE(quit());
    const std::string saved = savedSettings(settingsFile());
    EXPECT_TRUE(contains(saved, "shiftLayout=1\r\n")) << saved;
    EXPECT_TRUE(contains(saved, "Dvorak=false\r\n"));
    EXPECT_TRUE(contains(saved, "AcceptTimer=60000\r\n"));
    EXPECT_TRUE(contains(saved, "CancelMultiDownTime=1000\r\n"));
    EXPECT_TRUE(contains(saved, "ImeThroughOnCandidate=Example IME\r\n"));
    EXPECT_TRUE(contains(saved, "HiddenKeyBoard=true\r\n"));
    EXPECT_TRUE(contains(saved, "GameSwitch=true\r\n"));
    EXPECT_FALSE(contains(saved, "bad.tvn_kana"));
}
