#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <thread>

#include "agentTestSupport.h"
#include "core/agents/agents.h"
#include "core/agents/inputHandler.h"
#include "core/engine/kanaTable.h"
#include "core/engine/keyCodes.h"
#include "core/engine/layoutTable.h"
#include "core/settings/settingsHolder.h"

namespace {

// An agent that records the keys it would type.
class recordingAgent : public inputHandler {
public:
    using inputHandler::inputHandler;
    bool pause() override { return true; }
    std::wstring displayName() override { return L"recording"; }
    bool setFlag(unsigned char value) override { return value != 0; }
    std::wstring id() override { return L"TEST"; }
    bool outputKey(const keyOutputEvent& event) override {
        if (!outputAllowed()) return false;
        if (functionKeyCommand(event)) return true;
        typed.push_back(event);
        return true;
    }
    bool modifierPhysicallyDown(keyCode key) override {
        return std::find(upKeys.begin(), upKeys.end(), key) == upKeys.end();
    }
    std::vector<keyOutputEvent> typed;
    std::vector<keyCode> upKeys;  // modifiers the system has up
};

std::string typedText(const std::vector<keyOutputEvent>& typed) {
    std::string text;
    char buf[8];
    for (const auto& e : typed) {
        std::snprintf(buf, sizeof buf, "%s%02X ", e.down ? "+" : "-", e.keyCode);
        text += buf;
    }
    return text;
}

// A main window that counts the setting-changed messages the agent sends it.
class countingWindow {
public:
    countingWindow() {
        WNDCLASSW wc = {};
        wc.lpfnWndProc = procedure;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.lpszClassName = L"tvnAgentCountingWindow";
        RegisterClassW(&wc);
        handle = CreateWindowExW(0, wc.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                 wc.hInstance, nullptr);
        count() = 0;
    }
    ~countingWindow() { DestroyWindow(handle); }
    static int& count() {
        static int n = 0;
        return n;
    }
    HWND handle;

private:
    static LRESULT CALLBACK procedure(HWND w, UINT m, WPARAM wp, LPARAM lp) {
        if (m == agentSettingChangedMessage && wp == 1) ++count();
        return DefWindowProcW(w, m, wp, lp);
    }
};

keyOutputEvent keyEventOf(bool down, keyCode code) {
    keyOutputEvent e;
    e.down = down;
    e.keyCode = code;
    return e;
}

keyOutputEvent commandEvent(bool down, wchar_t command) {
    keyOutputEvent e;
    e.down = down;
    e.units = {charUnitCode(), static_cast<keyCode>(command)};
    return e;
}

class inputHandlerTest : public ::testing::Test {
protected:
    inputHandlerTest()
        : log(makeTestLog()), holder(log, &link, testVersion(), getEmptyHandler(log, nullptr)), agent(&link, log, &holder) {
        holder.setAllToDefault();
        holder.readCache();
        inputHandler::setWindows(window.handle, nullptr);
        takeLogText(*log);
    }
    ~inputHandlerTest() override { inputHandler::setWindows(nullptr, nullptr); }

    agentFakeLink link;
    std::shared_ptr<omsgstream> log;
    settingsHolder holder;
    recordingAgent agent;
    countingWindow window;
};

TEST_F(inputHandlerTest, SettingsAnswersComeFromTheCacheAtTheMomentOfTheCall) {
    holder.setInt("WinOutputTimer", 9999);
    EXPECT_EQ(0, agent.outputTimer());
    holder.setInt("WinOutputTimer", 10050);
    EXPECT_EQ(50, agent.outputTimer());
    holder.setInt("WinOutputTimer", 20000);
    EXPECT_EQ(0, agent.outputTimer());

    holder.setInt("ApplyShiftLayoutTo", 1 | 4);
    EXPECT_TRUE(agent.shiftLayoutAppliesTo(8));
    EXPECT_FALSE(agent.shiftLayoutAppliesTo(1));
    EXPECT_TRUE(agent.shiftLayoutAppliesTo(2));
    EXPECT_FALSE(agent.shiftLayoutAppliesTo(4));
    EXPECT_FALSE(agent.shiftLayoutAppliesTo(3));

    holder.setInt("WinShiftReverseTime", 70);
    holder.setInt("WinShiftReverseType", 0);
    EXPECT_EQ(0, agent.shiftReverseTime());
    holder.setInt("WinShiftReverseType", 1);
    EXPECT_EQ(70, agent.shiftReverseTime());

    holder.setInt("CancelSands2ndTime", 33);
    holder.setInt("CancelMultiDownTime", 44);
    EXPECT_EQ(33, agent.cancelTime(true));
    EXPECT_EQ(44, agent.cancelTime(false));
}

TEST_F(inputHandlerTest, InputKindFollowsTheImeOutsideGameModeAndTheFlagsInside) {
    holder.setBool("GameSwitch", false);
    link.romaji = true;
    EXPECT_EQ(1, agent.inputKind());
    link.romaji = false;
    EXPECT_EQ(2, agent.inputKind());
    EXPECT_FALSE(agent.isGameMode());

    holder.setBool("GameSwitch", true);
    link.imeOpen = false;
    holder.setInt("GameModeFlags", 0x80);
    EXPECT_TRUE(agent.isGameMode());
    EXPECT_EQ(2, agent.inputKind());
    holder.setInt("GameModeFlags", 0);
    EXPECT_EQ(1, agent.inputKind());

    // An open IME ends game mode: the IME's own mode counts again.
    link.imeOpen = true;
    link.romaji = false;
    EXPECT_FALSE(agent.isGameMode());
    EXPECT_EQ(2, agent.inputKind());
}

TEST_F(inputHandlerTest, KanaLayoutNeedsTheLinkAndTheKanaLockRule) {
    holder.setBool("KanaConvert", true);
    holder.setBool("KANAConvertOnlyInKanaLocked", false);
    link.kanaAllowed = true;
    EXPECT_TRUE(agent.layoutKindEnabled(1));
    link.kanaAllowed = false;
    EXPECT_FALSE(agent.layoutKindEnabled(1));
    link.kanaAllowed = true;
    holder.setBool("KANAConvertOnlyInKanaLocked", true);
    link.romaji = true;
    EXPECT_FALSE(agent.layoutKindEnabled(1));
    link.romaji = false;
    EXPECT_TRUE(agent.layoutKindEnabled(1));
    holder.setBool("KanaConvert", false);
    EXPECT_FALSE(agent.layoutKindEnabled(1));

    holder.setBool("Dvorak", true);
    link.alphabetAllowed = false;
    EXPECT_FALSE(agent.layoutKindEnabled(2));
    link.alphabetAllowed = true;
    EXPECT_TRUE(agent.layoutKindEnabled(2));
    EXPECT_FALSE(agent.layoutKindEnabled(3));
}

TEST_F(inputHandlerTest, StopCommandDisablesTheAgentUntilItIsEnabledAgain) {
    EXPECT_TRUE(agent.functionKeyCommand(keyEventOf(true, keyCodeOf('Q', 1))));
    EXPECT_FALSE(agent.isActive());
    EXPECT_EQ(1, countingWindow::count());
    EXPECT_NE(std::wstring::npos, takeLogText(*log).find(L"キー操作による機能停止が指示されました。"));

    // The release of the stop code is an unsupported code: logged, nothing typed.
    EXPECT_TRUE(agent.functionKeyCommand(keyEventOf(false, keyCodeOf('Q', 1))));
    EXPECT_NE(std::wstring::npos, takeLogText(*log).find(L"0xfd のキーオフを要求されましたが"));

    agent.setEnabled(true);
    EXPECT_TRUE(agent.isActive());
}

TEST_F(inputHandlerTest, GameModeCycleCommandStepsThroughThreeStatesAndNotifiesEveryEvent) {
    holder.setBool("GameSwitch", false);
    holder.setInt("GameModeFlags", 0x80 | 0x02);

    agent.functionKeyCommand(commandEvent(true, L'%'));
    EXPECT_TRUE(holder.getBool("GameSwitch"));
    EXPECT_EQ(0x02, holder.getInt("GameModeFlags"));
    EXPECT_TRUE(holder.cache.gameSwitch);  // the cache follows at once
    agent.functionKeyCommand(commandEvent(false, L'%'));

    agent.functionKeyCommand(commandEvent(true, L'%'));
    EXPECT_TRUE(holder.getBool("GameSwitch"));
    EXPECT_EQ(0x82, holder.getInt("GameModeFlags"));
    agent.functionKeyCommand(commandEvent(false, L'%'));

    agent.functionKeyCommand(commandEvent(true, L'%'));
    EXPECT_FALSE(holder.getBool("GameSwitch"));
    agent.functionKeyCommand(commandEvent(false, L'%'));

    EXPECT_EQ(6, countingWindow::count());
}

TEST_F(inputHandlerTest, KeyboardLayoutSwitchIgnoresAutoRepeatButNotANewPress) {
    const int postTvnMessage = fromDll::postTvnMessage;
    agent.functionKeyCommand(commandEvent(true, L'+'));
    agent.functionKeyCommand(commandEvent(true, L'+'));  // auto-repeat
    agent.functionKeyCommand(commandEvent(true, L'+'));
    ASSERT_EQ(1u, link.requestsOf(postTvnMessage).size());
    EXPECT_EQ(static_cast<unsigned>(switchKeyboardLayout), link.requestsOf(postTvnMessage)[0].w);
    EXPECT_EQ(1, link.requestsOf(postTvnMessage)[0].l);

    agent.functionKeyCommand(commandEvent(false, L'+'));
    agent.functionKeyCommand(commandEvent(true, L'-'));
    ASSERT_EQ(2u, link.requestsOf(postTvnMessage).size());
    EXPECT_EQ(0, link.requestsOf(postTvnMessage)[1].l);
    EXPECT_EQ(0, countingWindow::count());
}

TEST_F(inputHandlerTest, TextUnitTypesItsFirstCharacterOnPressOnly) {
    keyOutputEvent e;
    e.units = getKanaTable().registerChar(L'か', false);
    e.down = true;
    EXPECT_TRUE(agent.functionKeyCommand(e));
    e.down = false;
    EXPECT_TRUE(agent.functionKeyCommand(e));
    EXPECT_EQ(L"か", link.typed);
    std::wstring logged = takeLogText(*log);
    EXPECT_NE(std::wstring::npos, logged.find(L"TEST "));
    EXPECT_NE(std::wstring::npos, logged.find(L"か(直接投入)"));
    EXPECT_TRUE(agent.typed.empty());
}

TEST_F(inputHandlerTest, CommandCodesAndUntypableCodesNeverReachTheTypingPath) {
    // The alphanumeric command acts on press and release.
    EXPECT_TRUE(agent.functionKeyCommand(keyEventOf(true, keyCodeOf('X', 1))));
    EXPECT_TRUE(agent.functionKeyCommand(keyEventOf(false, keyCodeOf('X', 1))));
    auto actions = link.requestsOf(fromDll::postTvnMessage);
    ASSERT_EQ(2u, actions.size());
    EXPECT_EQ(static_cast<unsigned>(forceAlphanumeric), actions[0].w);
    EXPECT_EQ(1, actions[0].l);
    EXPECT_EQ(0, actions[1].l);

    // A marker with no keyboard display falls through to the code steps: code 0 is not typable.
    keyOutputEvent marker = keyEventOf(true, 0);
    marker.isMarker = true;
    takeLogText(*log);
    EXPECT_TRUE(agent.functionKeyCommand(marker));
    EXPECT_NE(std::wstring::npos,
              takeLogText(*log).find(L"コード  0x00 のキーオン○を要求されましたが、未対応もしくは未実装のコードです。"));

    // An ordinary key is for the agent to type.
    EXPECT_FALSE(agent.functionKeyCommand(keyEventOf(true, 0x1E)));
}

TEST_F(inputHandlerTest, OutputWaitsWhileTheLinkHoldsItAndKeepsTheOrder) {
    link.mustWait = true;
    agent.outputEvent(keyEventOf(true, 0x1E));
    agent.outputEvent(keyEventOf(false, 0x1E));
    EXPECT_TRUE(agent.typed.empty());
    EXPECT_EQ(2u, agent.queuedOutput());

    link.mustWait = false;
    agent.drain();
    ASSERT_EQ(2u, agent.typed.size());
    EXPECT_TRUE(agent.typed[0].down);
    EXPECT_FALSE(agent.typed[1].down);
    EXPECT_EQ(0u, agent.queuedOutput());
}

// Whatever holds the output back (a wait of the hook library that never ends), an agent that stops
// keeps nothing for later: a key already down comes up, the rest goes with its own release.
TEST_F(inputHandlerTest, OutputStillHeldBackWhenTheAgentStopsIsNeverKeptForLater) {
    agent.outputEvent(keyEventOf(true, 0x2A));
    link.mustWait = true;
    for (auto e : {keyEventOf(true, 0x1E), keyEventOf(false, 0x1E), keyEventOf(false, 0x2A),
                   keyEventOf(true, 0x30)})
        agent.outputEvent(e);
    agent.releaseHeldKeysAndWait(30);
    EXPECT_EQ("+2A -2A ", typedText(agent.typed));
    EXPECT_EQ(0u, agent.queuedOutput());
    link.mustWait = false;
    agent.drain();
    EXPECT_EQ("+2A -2A ", typedText(agent.typed)) << "nothing stale at the next resume";
}

// A modifier's release that went to the secure desktop or an elevated window never reaches the
// agent: the engine lets it go once the system has it up, but not right after sending it down, nor
// while its press still waits for its pace in the engine's queue.
TEST_F(inputHandlerTest, AModifierTheSystemHasUpComesUpInTheEngine) {
    const struct {
        const char* what;
        std::vector<keyCode> up;
        DWORD wait;
        const char* typed;
        bool paced;  // game mode, the output 60 ms apart, a letter typed first
    } cases[] = {
        {"Shift released elsewhere", {0x2A}, 250, "+2A +1D -2A ", false},
        {"both still down", {}, 250, "+2A +1D ", false},
        {"just sent down", {0x2A, 0x1D}, 0, "+2A +1D ", false},
        {"still paced in the engine", {0x2A, 0x1D}, 250, "+1E ", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        holder.setBool("GameSwitch", c.paced);
        holder.setInt("WinOutputTimer", c.paced ? 10060 : 0);
        holder.readCache();
        recordingAgent a(&link, log, &holder);
        if (c.paced) a.keyEvent(true, 0x1E, a.now());
        a.keyEvent(true, 0x2A, a.now());
        a.keyEvent(true, 0x1D, a.now());
        Sleep(c.wait);
        a.upKeys = c.up;
        a.releaseModifiersPhysicallyUp();
        EXPECT_EQ(c.typed, typedText(a.typed));
        // Its own release, should it come after all, is no second release.
        for (keyCode k : c.up) {
            a.keyEvent(false, k, a.now());
            EXPECT_EQ(1, std::count_if(a.typed.begin(), a.typed.end(),
                                       [&](const keyOutputEvent& e) { return !e.down && e.keyCode == k; }));
        }
    }
}

TEST_F(inputHandlerTest, TableQueriesWaitWhileATableIsBeingReplaced) {
    layoutTable table(1);
    table.addChordFlags(0x1E, chordFlagChord);
    holder.cache.layoutTables[1] = table;

    std::atomic<int> answer(-1);
    std::thread reader;
    {
        scopedLock replacing(tableLock());
        reader = std::thread([&] { answer = agent.chordFlags(1, 0x1E); });
        Sleep(100);
        EXPECT_EQ(-1, answer.load());  // the agent thread waits for the replacement
    }
    reader.join();
    EXPECT_EQ(chordFlagChord, answer.load());
}

TEST_F(inputHandlerTest, TableQueriesOfTheSettingsPages) {
    EXPECT_FALSE(agent.hasMultiStrokeEntries());
    EXPECT_FALSE(agent.hasMultiDownHoldKeys());
    EXPECT_EQ(0, agent.kanaLayoutModeDefault());

    layoutTable kana(1);
    kana.typeModeDefault = 3;
    kana.copyBeforeEdit = false;
    kana.addChordFlags(0x10, chordFlagMultiDownHold);
    kana.addEntry(strokeSequence{{0x1E, 0}, {0x1F, 0}}, keySequence{0x20});
    holder.cache.layoutTables[1] = kana;
    holder.cache.layoutTables[2] = layoutTable(2);

    EXPECT_TRUE(agent.hasMultiStrokeEntries());
    EXPECT_TRUE(agent.hasMultiDownHoldKeys());
    EXPECT_EQ(3, agent.kanaLayoutModeDefault());
    EXPECT_TRUE(agent.isDraftData(0));
    EXPECT_FALSE(agent.isDraftData(1));
    EXPECT_FALSE(agent.isDraftData(2));  // not loaded
    EXPECT_FALSE(agent.isDraftData(8));
    EXPECT_FALSE(agent.isDraftData(-1));
}

// An agent that can't be built leaves the empty agent current, which has no link; the keyboard
// display still asks it what each key types.
TEST_F(inputHandlerTest, TheEmptyAgentAnswersTheDisplayWithoutALink) {
    layoutTable kana(1);
    kana.addEntry(strokeSequence{{0x1E, 0}}, keySequence{L'ち'});
    holder.cache.layoutTables[1] = kana;
    holder.cache.kanaConvert = true;
    holder.cache.dvorak = true;
    auto empty = getEmptyHandler(log, &holder);
    for (bool game : {false, true}) {
        holder.cache.gameSwitch = game;
        EXPECT_EQ(L"a", empty->keysToText(keySequence{0x1E})) << game;  // unconverted
    }
}


// In a burst the library refills its report queue as fast as the agent empties it: a pass ends
// all the same (taking reports for ever, the agent would never type the keys it took), and the
// next pass goes on taking.
TEST_F(inputHandlerTest, AnEndlessReportStreamDoesNotHoldThePass) {
    struct endlessReports : agentFakeLink {
        bool handleReport(const fromDll_waitInfoAdds&) override {
            ++handled;
            return false;
        }
        int handled = 0;
    } endless;
    recordingAgent reader(&endless, log, &holder);
    reader.periodicStep();
    const int firstPass = endless.handled;
    EXPECT_GT(firstPass, 0);
    reader.periodicStep();
    EXPECT_GT(endless.handled, firstPass);
}

}  // namespace
