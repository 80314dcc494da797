// End to end: physical keys typed with xdotool reach the low-level hook agent, which converts them
// through definition files loaded by the settings holder and types the result into a focused
// window. The test's own thread runs the message loop the hook is called through.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <thread>

#include "agentTestSupport.h"
#include "core/agents/agents.h"
#include "core/agents/dataFiles.h"
#include "core/link/dllLink.h"
#include "core/agents/llhookLocal.h"
#include "core/settings/settingsHolder.h"
#include "liveDesktop.h"
#include "testTempFolder.h"

namespace {

// The hook library's request function, answering as a library with no hooked application would.
fromDll_waitInfoAdds* __cdecl quietLibrary(fromDll::requestToDll, HWND, unsigned int, long) {
    static fromDll_waitInfoAdds answer;
    answer = fromDll_waitInfoAdds{};
    return &answer;
}

// Kana layout: a alone gives か, a with the left thumb key (the space bar) gives が.
const char kanaLayout[] =
    "visible=1\r\n"
    "a\t\x82\xa9\r\n"       // か in CP932
    "{aL}\t\x82\xaa\r\n";   // が
// Alphabet layout: s types t.
const char alphabetLayout[] = "visible=1\r\ns\tt\r\n";

bool contains(const std::vector<unsigned>& codes, unsigned code) {
    return std::find(codes.begin(), codes.end(), code) != codes.end();
}

class llhookConversionTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { s_haveDesktop = xdotoolAvailable(); }

    void SetUp() override {
        if (!s_haveDesktop) GTEST_SKIP() << "no X display with xdotool";
        testTempFolder::writeBytes(folder.file(L"kana.tvn_kana"), kanaLayout);
        testTempFolder::writeBytes(folder.file(L"eisu.tvn_eisu"), alphabetLayout);
        settingsHolder writer(log, &link, testVersion(), getEmptyHandler(log, nullptr));
        writer.setAllToDefault();
        writer.setInt("DriverType", 2);
        writer.setString("VkConvertK", L"kana.tvn_kana");
        writer.setString("VkConvertA", L"eisu.tvn_eisu");
        for (const char* unused : {"VkConvertC", "VkConvertN", "ConvertVk", "ConvertKVk",
                                   "KeyDependsOnMachine", "AlwaysReplaceFile"})
            writer.setString(unused, L"");
        // Game mode lets the kana layout act while the IME is closed; bit 0x80 makes it kana input,
        // so kana goes out as characters.
        writer.setBool("GameSwitch", true);
        writer.setInt("GameModeFlags", 94 | 0x80);
        writer.setInt("AcceptTimer", 100);
        ASSERT_TRUE(writer.saveFile(folder.file(L"live.ini")));

        ASSERT_TRUE(holder.loadSettingsFile(folder.file(L"live.ini"), folder.path()));
        ASSERT_EQ(L"LLHk", holder.currentAgent->id());
        ASSERT_TRUE(window.focus());
        window.clear();
    }

    void TearDown() override {
        holder.stopInputHandler();
        pumpMessages(50);
    }

    // Types with xdotool and gives the agent time to send its output.
    void type(const std::wstring& arguments, size_t expectedRecords) {
        ASSERT_EQ(0, runXdotool(arguments));
        pumpUntil([&] { return window.records().size() >= expectedRecords; }, 1500);
        pumpMessages(150);
    }

    static bool s_haveDesktop;
    testTempFolder folder;
    dllLink link{quietLibrary, L"quiet"};
    std::shared_ptr<omsgstream> log = makeTestLog();
    settingsHolder holder{log, &link, testVersion(), getEmptyHandler(log, nullptr)};
    liveTargetWindow window;
};
bool llhookConversionTest::s_haveDesktop = false;

TEST_F(llhookConversionTest, AlphabetRemapTypesTheOtherKey) {
    type(L"key --delay 40 s", 2);
    auto pressed = window.pressedScanCodes();
    EXPECT_TRUE(contains(pressed, 0x14)) << "t expected";
    EXPECT_FALSE(contains(pressed, 0x1F)) << "s must not pass";
    EXPECT_TRUE(contains(window.releasedScanCodes(), 0x14));
}

TEST_F(llhookConversionTest, UnconvertedKeyPassesAsItIs) {
    type(L"key --delay 40 z", 2);
    EXPECT_TRUE(contains(window.pressedScanCodes(), 0x2C));
    EXPECT_TRUE(contains(window.releasedScanCodes(), 0x2C));
}

TEST_F(llhookConversionTest, KanaGoesOutAsCharactersWithTheImeClosed) {
    type(L"key --delay 150 a", 1);
    EXPECT_EQ(L"か", window.text());
}

TEST_F(llhookConversionTest, ThumbChordWithinTheWindowAndTheSameKeysApart) {
    type(L"keydown space sleep 0.02 keydown a sleep 0.02 keyup a keyup space", 1);
    EXPECT_EQ(L"が", window.text());
    EXPECT_FALSE(contains(window.pressedScanCodes(), 0x1E));

    window.clear();
    type(L"key space sleep 0.4 key a", 2);
    EXPECT_EQ(L"か", window.text().substr(window.text().size() - 1));
    EXPECT_EQ(std::wstring::npos, window.text().find(L"が"));

    // The program's window thread (this one: it runs the windows and resumed the agent) is busy
    // for 300 ms at a time while the chord is typed: the chord still comes out as the chord.
    window.clear();
    std::atomic<int> typed{-2};
    std::thread typist([&] {
        typed = runXdotool(L"keydown space sleep 0.02 keydown a sleep 0.02 keyup a keyup space");
    });
    while (typed == -2) {
        Sleep(300);
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
    }
    typist.join();
    ASSERT_EQ(0, typed.load());
    pumpUntil([&] { return !window.text().empty(); }, 1500);
    pumpMessages(150);
    EXPECT_EQ(L"が", window.text());
    EXPECT_FALSE(contains(window.pressedScanCodes(), 0x39)) << "the space bar typed alone";
}

TEST_F(llhookConversionTest, InjectedKeysPassTheHookUntouched) {
    // A program's own SendInput is not converted: s stays s.
    INPUT input[2] = {};
    input[0].type = input[1].type = INPUT_KEYBOARD;
    input[0].ki.wScan = input[1].ki.wScan = 0x1F;
    input[0].ki.dwFlags = KEYEVENTF_SCANCODE;
    input[1].ki.dwFlags = KEYEVENTF_SCANCODE | KEYEVENTF_KEYUP;
    SendInput(2, input, sizeof(INPUT));
    pumpUntil([&] { return window.records().size() >= 2; }, 1500);
    pumpMessages(150);
    auto pressed = window.pressedScanCodes();
    EXPECT_EQ(std::vector<unsigned>{0x1F}, pressed);
}

TEST_F(llhookConversionTest, PausedAgentLetsEveryKeyThroughUnconverted) {
    holder.currentAgent->pause();
    type(L"key --delay 40 s", 2);
    EXPECT_TRUE(contains(window.pressedScanCodes(), 0x1F));
    EXPECT_FALSE(contains(window.pressedScanCodes(), 0x14));
    holder.currentAgent->resume();
}

TEST_F(llhookConversionTest, AConvertedKeyHeldWhenConversionPausesComesUp) {
    // The session locks while s is held: t comes up with the pause, and s's release passes.
    ASSERT_EQ(0, runXdotool(L"keydown s"));
    pumpUntil([&] { return contains(window.pressedScanCodes(), 0x14); }, 1500);
    holder.currentAgent->pause();
    pumpMessages(100);
    EXPECT_TRUE(contains(window.releasedScanCodes(), 0x14)) << "t stays down";
    ASSERT_EQ(0, runXdotool(L"keyup s"));
    pumpUntil([&] { return contains(window.releasedScanCodes(), 0x1F); }, 1500);
    EXPECT_TRUE(contains(window.releasedScanCodes(), 0x1F));
    holder.currentAgent->resume();

    // Switched off (the tray's pause, the stop key) while s is held: the same.
    window.clear();
    ASSERT_EQ(0, runXdotool(L"keydown s"));
    pumpUntil([&] { return contains(window.pressedScanCodes(), 0x14); }, 1500);
    holder.currentAgent->setEnabled(false);
    pumpUntil([&] { return contains(window.releasedScanCodes(), 0x14); }, 1500);
    EXPECT_TRUE(contains(window.releasedScanCodes(), 0x14)) << "t stays down";
    ASSERT_EQ(0, runXdotool(L"keyup s"));
    pumpUntil([&] { return contains(window.releasedScanCodes(), 0x1F); }, 1500);
    EXPECT_TRUE(contains(window.releasedScanCodes(), 0x1F));
    holder.currentAgent->setEnabled(true);
}

}  // namespace
