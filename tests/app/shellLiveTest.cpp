// Acceptance: the real TavolinXP.exe from the assembled product folder, started under Wine with a
// private APPDATA and a preset auto-start answer, driven from outside as a user and the setup
// program would drive it.
#include "core/settings/settingsStore.h"
#include "core/files/textFile.h"
#include "liveDesktop.h"
#include "programWindows.h"
#include "testTempFolder.h"

#include <gtest/gtest.h>

#include <regex>
#include <sstream>
#include <string>
#include <vector>

namespace {

const UINT wtsSessionChange = 0x02B1;

// The windows of a started program, once its log window shows the log header (null when it
// did not get that far).
struct runningWindows {
    HWND main = nullptr;
    HWND logEdit = nullptr;
};

runningWindows waitUntilRunning(const programProcess& shell)
{
    runningWindows w;
    w.logEdit = shell.waitForLogHeader();
    if (w.logEdit) w.main = shell.mainWindow();
    return w;
}

// What a fresh install writes: every default, at the shipped version.
class shippedDefaults : public settingsStore {
public:
    shippedDefaults() { setAllToDefault(); }
    int currentVersion() const override { return 13007; }
    void reportError(const std::string&) override {}
};

std::string expectedDefaultIni()
{
    shippedDefaults defaults;
    std::wostringstream text;
    defaults.save(text);
    std::string bytes;
    encodeFileText(text.str(), bytes);
    return bytes;
}

class shellTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        exe = productFolder() + L"\\TavolinXP.exe";
        ASSERT_NE(GetFileAttributesW(exe.c_str()), INVALID_FILE_ATTRIBUTES) << "no product folder: " << exe.size();
        SetEnvironmentVariableW(L"APPDATA", appData.path().c_str());
        setAutoStartAnswer(1);
    }

    std::wstring settingsFile() const { return appData.path() + L"\\Brannoch\\Tavolin13\\default.ini"; }

    testTempFolder appData;
    std::wstring exe;
};

}  // namespace

// Keys are numbered row by row: row 1 (from 15) begins with Tab, then q w e r t; row 2 (from 29)
// with CapsLock, then a s d f g.
const int keyQ = 16, keyW = 17, keyA = 30, keyS = 31;

TEST_F(shellTest, runsConvertsTypedKeysAndFollowsSessionChanges)
{
    ASSERT_TRUE(xdotoolAvailable());
    programProcess shell(exe, L"");
    ASSERT_TRUE(shell.started());
    const runningWindows running = waitUntilRunning(shell);
    ASSERT_NE(running.logEdit, nullptr) << "no log header in the log window";
    HWND main = running.main;
    HWND edit = running.logEdit;
    // No settings file yet: the defaults apply, and the log says so.
    EXPECT_NE(windowText(edit).find(L"設定を参照できませんでした。初期設定値を適用します。"), std::wstring::npos);
    // The header tells when this build was compiled, in the compiler's own date and time form.
    std::wsmatch built;
    const std::wstring header = windowText(edit);
    ASSERT_TRUE(std::regex_search(header, built, std::wregex(L"作成時刻 : ([A-Z][a-z]{2} [ 0-9][0-9] ([0-9]{4}) [0-9:]{8})")));
    EXPECT_NE(built[1].str(), L"Jun 12 2006 14:52:41");
    EXPECT_GE(std::stoi(built[2].str()), 2026);

    // The keyboard display shows what the active layout types for each key: with the IME closed
    // (Wine has no Japanese IME) that is the default alphabet layout.
    HWND display = shell.waitFor(L"#32770", L"配列表示");
    ASSERT_NE(display, nullptr);
    ASSERT_TRUE(pumpUntil([&] { return IsWindowVisible(display) != FALSE; }, 10000));
    std::vector<std::wstring> labels;
    ASSERT_TRUE(pumpUntil([&] { labels = keyboardDisplayLabels(display); return labels.size() == 56 && labels[keyQ] == L"q"; },
                          10000));
    EXPECT_EQ(labels[keyA], L"a");

    // The JIS kana practice mode (tray menu) lets the kana layout act while the IME is closed,
    // typing kana as characters; the display relabels at once.
    SendMessageW(main, WM_COMMAND, 4072, 0);
    ASSERT_TRUE(pumpUntil([&] { labels = keyboardDisplayLabels(display); return labels.size() == 56 && labels[keyQ] == L"た"; },
                          10000))
        << "q shows " << (labels.size() == 56 ? labels[keyQ] : L"?");
    EXPECT_EQ(labels[keyW], L"ち");
    EXPECT_EQ(labels[keyA], L"あ");
    EXPECT_EQ(labels[keyS], L"い");

    // Evidence for people: the log window and the keyboard display side by side.
    RECT r{};
    GetWindowRect(display, &r);
    SetWindowPos(display, nullptr, 560, 60, r.right - r.left, r.bottom - r.top, SWP_NOZORDER | SWP_NOACTIVATE);
    pumpMessages(500);
    screenshot(L"shell-log-and-keyboard.png");

    // Keys typed into another application come out converted by the default kana layout. The
    // practice mode types kana as a JIS kana typist would press them: あ is the key 3, い the key e,
    // た the key q (sent by scan code; under Wine such keys carry no character).
    const std::vector<unsigned> kanaKeysOfAiTa{0x04, 0x12, 0x10};
    liveTargetWindow target;
    ASSERT_TRUE(target.focus());
    ASSERT_EQ(runXdotool(L"key --delay 80 a s q"), 0);
    pumpUntil([&] { return target.pressedScanCodes().size() >= 3; }, 5000);
    EXPECT_EQ(target.pressedScanCodes(), kanaKeysOfAiTa);
    EXPECT_EQ(target.releasedScanCodes(), kanaKeysOfAiTa);

    // Locking the session pauses conversion: the key a passes as itself. Unlocking resumes it; a
    // remote connect only logs.
    SendMessageW(main, wtsSessionChange, 7, 0);
    target.clear();
    ASSERT_TRUE(target.focus());
    ASSERT_EQ(runXdotool(L"key --delay 80 a"), 0);
    pumpUntil([&] { return !target.text().empty(); }, 5000);
    EXPECT_EQ(target.text(), L"a");
    EXPECT_EQ(target.pressedScanCodes(), std::vector<unsigned>{0x1E});
    SendMessageW(main, wtsSessionChange, 3, 0);
    SendMessageW(main, wtsSessionChange, 8, 0);
    target.clear();
    ASSERT_TRUE(target.focus());
    ASSERT_EQ(runXdotool(L"key --delay 80 a"), 0);
    pumpUntil([&] { return !target.pressedScanCodes().empty(); }, 5000);
    EXPECT_EQ(target.pressedScanCodes(), std::vector<unsigned>{0x04});
    const std::wstring logText = windowText(edit);
    EXPECT_NE(logText.find(L"WM_WTSESSION_CHANGE(7, 0): WTS_SESSION_LOCK"), std::wstring::npos);
    EXPECT_NE(logText.find(L"WM_WTSESSION_CHANGE(3, 0): WTS_REMOTE_CONNECT"), std::wstring::npos);
    EXPECT_NE(logText.find(L"WM_WTSESSION_CHANGE(8, 0): WTS_SESSION_UNLOCK"), std::wstring::npos);

    // Quitting saves the changed setting.
    SendMessageW(main, WM_COMMAND, 3001, 0);
    EXPECT_EQ(shell.waitForExit(20000), 0u);
    EXPECT_NE(testTempFolder::readBytes(settingsFile()).find("GameSwitch=true\r\n"), std::string::npos);
}

TEST_F(shellTest, quitCommandOfTheSetupProgramLeavesTheDefaultSettings)
{
    programProcess shell(exe, L"");
    const runningWindows running = waitUntilRunning(shell);
    ASSERT_NE(running.logEdit, nullptr) << "no log header in the log window";
    // The folder did not exist: it and default.ini are made at exit, holding every default.
    SendMessageW(running.main, WM_COMMAND, 3001, 0);
    EXPECT_EQ(shell.waitForExit(20000), 0u);
    EXPECT_EQ(testTempFolder::readBytes(settingsFile()), expectedDefaultIni());
}

TEST_F(shellTest, secondStartMakesTheFirstOpenItsSettingsAndEnds)
{
    programProcess first(exe, L"");
    const runningWindows running = waitUntilRunning(first);
    ASSERT_NE(running.logEdit, nullptr) << "no log header in the log window";
    HWND main = running.main;

    programProcess second(exe, L"");
    EXPECT_EQ(second.waitForExit(20000), 0u);
    // The first instance opens its settings sheet.
    EXPECT_NE(first.waitFor(L"#32770", L"設定窓口/Orvessa"), nullptr);
    EXPECT_TRUE(IsWindow(main));
}

TEST_F(shellTest, startupFolderStartWithAutoStartDeclinedEndsQuietlyWith72)
{
    setAutoStartAnswer(2);
    programProcess shell(exe, L"-S");
    EXPECT_EQ(shell.waitForExit(20000), 72u);
    EXPECT_EQ(shell.mainWindow(), nullptr);
}

TEST_F(shellTest, missingHookLibraryShowsTheReasonAndEndsWith301)
{
    testTempFolder lonely;
    const std::wstring copy = lonely.file(L"TavolinXP.exe");
    ASSERT_TRUE(CopyFileW(exe.c_str(), copy.c_str(), FALSE));
    programProcess shell(copy, L"");
    HWND box = shell.waitFor(L"#32770", L"Tavolin 版1.3007号 構築#072");
    ASSERT_NE(box, nullptr);
    std::wstring text;
    for (HWND child : childrenOf(box)) text += windowText(child) + L"|";
    EXPECT_NE(text.find(L"\n\nTavolin用DLLの接続に失敗しました。"), std::wstring::npos);
    PostMessageW(box, WM_COMMAND, IDOK, 0);
    EXPECT_EQ(shell.waitForExit(20000), 301u);
}

namespace {

// A program that another one started: found by its window, asked to quit at the end, else ended.
struct handedOverProgram {
    HWND main = nullptr;
    ~handedOverProgram()
    {
        if (!main) return;
        DWORD id = 0;
        GetWindowThreadProcessId(main, &id);
        HANDLE process = OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE, FALSE, id);
        PostMessageW(main, WM_COMMAND, 3001, 0);
        if (process) {
            if (WaitForSingleObject(process, 20000) != WAIT_OBJECT_0) TerminateProcess(process, 1);
            CloseHandle(process);
        }
    }
};

}  // namespace

TEST_F(shellTest, ansiBuildOnNtHandsOverToTheUnicodeBuildOnce)
{
    const std::wstring ansi = productFolder() + L"\\TavolinMe.exe";
    // Started by the other build and still on the wrong platform: it ends and starts nothing,
    // so the two builds can never start each other in a loop.
    {
        programProcess handedBack(ansi, L"-tensou");
        EXPECT_EQ(handedBack.waitForExit(20000), 22u);
        pumpMessages(1500);
        EXPECT_EQ(FindWindowW(L"orvessaTasktray", nullptr), nullptr);
    }
    // Started by hand (here with the working folder elsewhere), it finds the Unicode build in its
    // own folder, starts it and ends; that one runs.
    testTempFolder elsewhere;
    wchar_t before[MAX_PATH] = {};
    GetCurrentDirectoryW(MAX_PATH, before);
    struct restoreFolder {
        const wchar_t* folder;
        ~restoreFolder() { SetCurrentDirectoryW(folder); }
    } restore{before};
    SetCurrentDirectoryW(elsewhere.path().c_str());
    programProcess wrongBuild(ansi, L"");
    EXPECT_EQ(wrongBuild.waitForExit(20000), 0u);
    EXPECT_EQ(wrongBuild.mainWindow(), nullptr);
    handedOverProgram unicode;
    pumpUntil([&] { return (unicode.main = FindWindowW(L"orvessaTasktray", nullptr)) != nullptr; }, 20000);
    ASSERT_NE(unicode.main, nullptr) << "the Unicode build did not start";
}
