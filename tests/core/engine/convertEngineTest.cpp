// Scenario tests of the conversion engine: exact event sequences and times through a host
// whose clock the test moves.
#include "engineSampleTables.h"
#include "engineTestHost.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <climits>
#include <thread>

using namespace enginetest;

namespace {

// A small kana layout: two chordable keys j and k with a chord entry, a plain key a, and the
// romaji output conversion for the kana it uses.
void loadChordLayout(testEngine& e) {
    ASSERT_TRUE(e.loadLayout(1, L"visible=1\n"
                                L"a\t\x3042\n"      // あ
                                L"j\t\x305F\n"      // た
                                L"k\t\x304B\n"      // か
                                L"{jk}\t\x304D\n"   // き
                                L"x\tFKa\n"         // kana toggle around a
                                L"w\t~FXa\n"));     // alphanumeric skip, bracket, a
    e.defineOutput(1, L'\x3042', "a");
    e.defineOutput(1, L'\x305F', "ta");
    e.defineOutput(1, L'\x304B', "ka");
    e.defineOutput(1, L'\x304D', "ki");
}

class chordTest : public ::testing::Test {
protected:
    void SetUp() override { loadChordLayout(e); }
    testEngine e;
};

}  // namespace

TEST_F(chordTest, secondKeyReleasedFirstFormsTheChordOnce) {
    e.cancelMulti = 50;
    e.press(key('j'));
    e.advance(10);
    e.press(key('k'));
    EXPECT_TRUE(e.sent.empty());  // the partner waits for its decision
    e.advance(10);
    e.release(key('k'));
    EXPECT_EQ("+k +i -k -i", e.eventText());
    EXPECT_EQ(1020, e.sent.front().time);
    e.advance(10);
    e.release(key('j'));
    EXPECT_EQ("+k +i -k -i", e.eventText());
    EXPECT_EQ(0u, e.pendingGroupCount());
    EXPECT_EQ(0, e.chordStateValue());
}

TEST_F(chordTest, waitingKeyReleasedFirstIsTypedAloneAndThePartnerWaits) {
    e.cancelMulti = 50;
    e.press(key('j'));
    e.advance(10);
    e.press(key('k'));
    e.advance(10);
    e.release(key('j'));
    EXPECT_EQ("+t +a -t -a", e.eventText());
    EXPECT_EQ(1, e.chordStateValue());  // k waits on its own now
    e.advance(10);
    e.release(key('k'));
    EXPECT_EQ("+t +a -t -a +k +a -k -a", e.eventText());
    EXPECT_EQ(0u, e.pendingGroupCount());
}

TEST_F(chordTest, pollDecidesAWaitingKeyAtTheWindowsEndNotBefore) {
    e.press(key('j'));
    e.advance(99);
    EXPECT_FALSE(e.poll());
    EXPECT_TRUE(e.sent.empty());
    e.advance(1);
    EXPECT_TRUE(e.poll());
    EXPECT_EQ("+t +a", e.eventText());
    EXPECT_EQ(1100, e.sent.back().time);
    // Held on: the output stays down until the key comes up.
    e.advance(500);
    EXPECT_FALSE(e.poll());
    e.release(key('j'));
    EXPECT_EQ("+t +a -t -a", e.eventText());
}

TEST_F(chordTest, partnerExactlyAtTheWindowsEndStillChords) {
    e.press(key('j'));
    e.advance(100);
    e.press(key('k'));
    EXPECT_EQ("+k +i", e.eventText());
    e.release(key('j'));
    e.release(key('k'));
    EXPECT_EQ("+k +i -k -i", e.eventText());
}

TEST_F(chordTest, partnerOneMillisecondLateIsNoPartner) {
    e.press(key('j'));
    e.advance(101);
    e.press(key('k'));
    EXPECT_EQ("+t +a", e.eventText());
    e.release(key('k'));
    e.release(key('j'));
    EXPECT_EQ("+t +a +k +a -k -a -t -a", e.eventText());
}

TEST_F(chordTest, partnerHeldPastTheCancelTimeChordsAtThatPoll) {
    e.cancelMulti = 40;
    e.press(key('j'));
    e.advance(10);
    e.press(key('k'));
    e.advance(39);
    EXPECT_FALSE(e.poll());
    EXPECT_TRUE(e.sent.empty());
    e.advance(1);
    EXPECT_TRUE(e.poll());
    EXPECT_EQ("+k +i", e.eventText());
}

// The worker gets to its keys late (its thread was busy, or they reached the hook late) and finds
// them queued: before each key it polls on the agent's input clock, never past that key's own time,
// so the decision is the one it would have been had every key come at once. A key that came late
// waits for its partner the accept time after it came, no less and no longer, whatever comes late
// after it; and the tick count's sign flip changes nothing.
TEST_F(chordTest, aWorkerComingLateDecidesByTheQueuedKeysOwnTimes) {
    struct step {
        bool down;
        char letter;
        int time;  // ms after j's press
    };
    const std::int32_t wrap = 0x7FFFFFFF - 100;  // the ticks turn negative 101 ms after j
    const struct {
        const char* what;
        std::int32_t start;  // j's press
        int late;            // when the worker takes j, ms after its press
        int back;            // when the worker comes back to the queued keys
        int cancel;
        std::vector<step> queued;  // after j's press
        const char* typed;         // once the queue is empty and the worker polls
        bool keysLeftDown;
    } cases[] = {
        {"partner 20 ms after", 1000, 0, 300, 0, {{true, 'k', 20}, {false, 'k', 40}, {false, 'j', 50}},
         "+k +i -k -i", false},
        {"partner at the window's end", 1000, 0, 300, 0,
         {{true, 'k', 100}, {false, 'k', 110}, {false, 'j', 120}}, "+k +i -k -i", false},
        {"partner one ms past it", 1000, 0, 300, 0, {{true, 'k', 101}, {false, 'k', 110}, {false, 'j', 120}},
         "+t +a +k +a -k -a -t -a", false},
        {"waiting key released before the cancel time", 1000, 0, 300, 40,
         {{true, 'k', 10}, {false, 'j', 30}, {false, 'k', 60}}, "+t +a -t -a +k +a -k -a", false},
        {"cancel time over before the next key", 1000, 0, 300, 40,
         {{true, 'k', 10}, {false, 'j', 60}, {false, 'k', 70}}, "+k +i -k -i", false},
        {"partner 20 ms after, the tick's sign flipping meanwhile", wrap, 0, 300, 0,
         {{true, 'k', 20}, {false, 'k', 40}, {false, 'j', 50}}, "+k +i -k -i", false},
        {"partner past the window, the sign flipping meanwhile", wrap, 0, 300, 0,
         {{true, 'k', 120}, {false, 'k', 130}, {false, 'j', 140}}, "+t +a +k +a -k -a -t -a", false},
        {"a key 300 ms late waits the accept time after it came", 1000, 300, 400, 0, {}, "+t +a", true},
        {"and not less: its partner comes as late", 1000, 300, 399, 0, {}, "", true},
        {"a release 950 ms late holds no waiting key back", 1000, 0, 1000, 0, {{false, 'a', 50}}, "-a +t +a", true},
        {"the same across the sign flip", wrap, 0, 1000, 0, {{false, 'a', 50}}, "-a +t +a", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        testEngine e;
        loadChordLayout(e);
        e.cancelMulti = c.cancel;
        e.clock = c.start;
        auto at = [&](int ms) { return static_cast<std::int32_t>(static_cast<std::uint32_t>(c.start) + ms); };
        e.clock = at(c.late);
        e.pollAt(inputClockAt(e.clock, 0, &c.start));
        e.keyEvent(true, key('j'), c.start);
        std::int32_t lag = inputLagAfter(e.clock, c.start, 0, false);
        e.clock = at(c.back);  // the worker comes back only now
        for (const step& s : c.queued) {
            const std::int32_t time = at(s.time);
            e.pollAt(inputClockAt(e.clock, lag, &time));
            const bool waiting = e.awaitsPoll();
            e.keyEvent(s.down, key(s.letter), time);
            lag = inputLagAfter(e.clock, time, lag, waiting);
        }
        e.pollAt(inputClockAt(e.clock, lag, nullptr));
        EXPECT_EQ(c.typed, e.eventText());
        EXPECT_EQ(c.keysLeftDown, e.holdsKeys());
    }
}

// A key the agent passes on itself (Pause) decides what waits for a partner first, as any key
// that chords with nothing would.
TEST_F(chordTest, aKeyPassedOnByTheAgentDecidesTheWaitingKeyFirst) {
    e.press(key('j'));
    e.decideWaiting(e.clock);
    EXPECT_EQ("+t +a", e.eventText());
    e.release(key('j'));
    e.clearSent();
    e.cancelMulti = 40;
    e.press(key('j'));
    e.advance(10);
    e.press(key('k'));  // a partner, waiting for the cancel time
    e.decideWaiting(e.clock);
    EXPECT_EQ("+k +i", e.eventText());
}

TEST_F(chordTest, autoRepeatRepeatsOnlyTheNewestOutputWhileItIsDown) {
    e.tap(key('a'));
    e.press(key('a'));
    e.press(key('a'));  // repeat: the same key again, so a release goes in between
    EXPECT_EQ("+a -a +a -a +a", e.eventText());
    e.release(key('a'));
    e.clearSent();

    // A chord released by its partner is not pressed again by the other key's repeat.
    e.press(key('j'));
    e.press(key('k'));
    e.release(key('k'));
    e.clearSent();
    e.press(key('j'));
    e.release(key('j'));
    EXPECT_EQ("", e.eventText());
}

TEST_F(chordTest, aWaitingKeyRepeatedUnderShiftIsTypedOnceAndStaysAlive) {
    e.press(key('j'));
    e.press(0x2A);
    e.press(key('j'));  // auto-repeat while it still waits
    e.release(key('j'));
    e.release(0x2A);
    EXPECT_EQ("+2A +t +a -t -a -2A", e.eventText());
    EXPECT_EQ(0u, e.pendingGroupCount());
    e.clearSent();
    e.tap(key('j'));
    EXPECT_EQ("+t +a -t -a", e.eventText());
}

TEST_F(chordTest, kanaToggleBracketOpensAndClosesAroundTheOutput) {
    e.tap(key('x'));
    EXPECT_EQ("[ +7C -7C +a +7C -7C ] -a", e.eventText());
}

TEST_F(chordTest, alphanumericSkipKeepsTheBracketShut) {
    e.tap(key('w'));
    EXPECT_EQ("+a -a", e.eventText());
}

// Conversion pauses (the session locks, the tray's pause, the stop key, another agent takes
// over): whatever the engine sent down comes up at once, and nothing stays waiting.
TEST_F(chordTest, releaseAllLiftsWhatTheEngineSentDownAndLeavesNothingWaiting) {
    const struct {
        const char* what;
        std::vector<keyCode> pressed;
        const char* before;
        const char* after;
    } cases[] = {
        {"a converted key held", {key('a')}, "+a", "-a"},
        {"a key waiting for its partner is decided", {key('j')}, "", "+t +a -t -a"},
        {"converted key before the Shift under it", {0x2A, key('a')}, "+2A +a", "-a -2A"},
        {"both keys of a chord", {key('j'), key('k')}, "", "+k +i -k -i"},
        {"a kana toggle left open", {key('z')}, "[ +7C -7C", "+7C -7C ]"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        testEngine e;
        loadChordLayout(e);
        ASSERT_TRUE(e.loadLayout(2, L"z\tFK\n"));  // the kana toggle alone: its bracket stays open
        e.cancelMulti = 50;
        for (keyCode k : c.pressed) e.press(k);
        if (c.pressed.front() == key('z')) e.release(key('z'));
        EXPECT_EQ(c.before, e.eventText());
        e.clearSent();
        e.releaseAll();
        EXPECT_EQ(c.after, e.eventText());
        EXPECT_FALSE(e.holdsKeys());
        EXPECT_EQ(0u, e.pendingGroupCount());
        // A physical release that comes afterwards is no key of the engine's: it passes as it is.
        e.clearSent();
        e.release(c.pressed.back());
        EXPECT_EQ(1u, e.sent.size());
        if (!e.sent.empty()) {
            EXPECT_EQ(c.pressed.back(), e.sent[0].event.keyCode);
        }
        e.releaseAll();
        EXPECT_EQ(1u, e.sent.size()) << "released twice";
    }
}

TEST(modifierTest, shiftIsPassedOnAndAStrayReleaseIsNot) {
    testEngine e;
    e.release(0x2A);
    EXPECT_TRUE(e.sent.empty());
    e.press(0x2A);
    e.press(0x2A);
    e.release(0x2A);
    EXPECT_EQ("+2A +2A -2A", e.eventText());
}

TEST(modifierTest, ctrlWithBothSwitchesSearchesOnlyFunctionKeysUnshifted) {
    testEngine e;
    ASSERT_TRUE(e.loadLayout(1, L"u\t\x3042\n"));
    ASSERT_TRUE(e.loadLayout(2, L"u\tq\n"));
    ASSERT_TRUE(e.loadLayout(4, L"u\tFa\ny\tFb\n"));
    e.defineOutput(1, L'\x3042', "a");
    e.shiftLayoutIndex = 1;
    e.shiftAppliesTo = 4;
    e.ctrlQwertyOn = e.ctrlMigiOffOn = true;
    e.press(0x1D);
    e.tap(key('u'));
    e.release(0x1D);
    EXPECT_EQ("+1D +3B -3B -1D", e.eventText());  // F1, not F2: no row shift
    e.clearSent();
    e.tap(key('u'));  // without Ctrl: the kana table, shift or not
    EXPECT_EQ("+a -a", e.eventText());
}

TEST(rowShiftTest, theThreeMapsMoveTheRightHandKeys) {
    testEngine e;
    ASSERT_TRUE(e.loadLayout(2, L"6\ta\n\\\tb\ny\tc\n"));
    e.shiftAppliesTo = 2;
    struct {
        int map;
        char typed;
        const char* expected;
    } cases[] = {{1, '7', "+a -a"}, {2, '7', "+7 -7"}, {3, '7', "+b -b"},
                 {3, '6', "+a -a"}, {1, 'u', "+c -c"}, {0, 'u', "+u -u"}};
    for (const auto& c : cases) {
        e.shiftLayoutIndex = c.map;
        e.clearSent();
        e.tap(key(c.typed));
        EXPECT_EQ(c.expected, e.eventText()) << "map " << c.map << " key " << c.typed;
    }
}

TEST(pacingTest, gameModeWaitsTheOutputTimerBetweenKeys) {
    testEngine e;
    ASSERT_TRUE(e.loadLayout(2, L"z\tabc\n"));
    e.enabledKinds = 2;
    e.gameMode = true;
    e.gameModeFlags = 0x80;
    e.outTimer = 30;
    e.press(key('z'));
    EXPECT_EQ("+a", e.eventText());
    e.advance(29);
    e.poll();
    EXPECT_EQ("+a", e.eventText());
    e.advance(1);
    e.poll();
    EXPECT_EQ("+a +b", e.eventText());
    e.advance(10);
    e.release(key('z'));
    e.advance(20);
    e.poll();
    e.advance(30);
    e.poll();
    EXPECT_EQ("+a +b +c -a -b -c", e.eventText());
    const std::int32_t expected[] = {1000, 1030, 1060, 1090, 1090, 1090};
    for (std::size_t i = 0; i < e.sent.size(); ++i) EXPECT_EQ(expected[i], e.sent[i].time) << i;
    EXPECT_EQ(0u, e.queuedOutputCount());
}

TEST(pacingTest, repeatedKeyGetsAReleaseThatCarriesTheTimer) {
    testEngine e;
    ASSERT_TRUE(e.loadLayout(2, L"z\taa\n"));
    e.enabledKinds = 2;
    e.gameMode = true;
    e.gameModeFlags = 0x80;
    e.outTimer = 30;
    e.press(key('z'));
    for (int i = 0; i < 4; ++i) {
        e.advance(30);
        e.poll();
    }
    EXPECT_EQ("+a -a +a", e.eventText());
    EXPECT_EQ(1030, e.sent[1].time);
    EXPECT_EQ(1060, e.sent[2].time);
}

TEST(pacingTest, outputGoesOnWhenTheTickCountIsPastHalfItsRange) {
    // Ticks between 2^31 and 2^32 read as negative: the first event must still go at once.
    testEngine e;
    ASSERT_TRUE(e.loadLayout(2, L"z\tab\n"));
    e.enabledKinds = 2;
    e.gameMode = true;
    e.gameModeFlags = 0x80;
    e.outTimer = 30;
    e.clock = INT_MIN + 500;
    e.press(key('z'));
    EXPECT_EQ("+a", e.eventText());
    e.advance(30);
    e.poll();
    EXPECT_EQ("+a +b", e.eventText());
}

TEST(pacingTest, waitsAreMeasuredAcrossTheTickCountsWrap) {
    testEngine e;
    ASSERT_TRUE(e.loadLayout(2, L"z\tab\n"));
    e.enabledKinds = 2;
    e.gameMode = true;
    e.gameModeFlags = 0x80;
    e.outTimer = 30;
    e.clock = INT_MAX - 19;
    e.press(key('z'));
    e.advance(20);  // wraps to INT_MIN
    e.poll();
    EXPECT_EQ("+a", e.eventText());
    e.advance(10);
    e.poll();
    EXPECT_EQ("+a +b", e.eventText());
    EXPECT_EQ(INT_MIN + 10, e.sent.back().time);
}

namespace {

// A layout with multi-stroke entries: k a gives か, k i gives き, a alone gives あ.
class sequenceTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(e.loadLayout(1, L"StrokeMode=1\n"
                                    L"{ka}\t\x304B\n"
                                    L"{ki}\t\x304D\n"
                                    L"{kyu}\t\x304D\x3085\n"
                                    L"{kyo}\t\x304D\x3087\n"
                                    L"a\t\x3042\n"));
        ASSERT_TRUE(e.loadLayout(4, L"2\tFa\n"));
        e.defineOutput(1, L'\x3085', "xyu");
        e.defineOutput(1, L'\x3087', "xyo");
        e.defineOutput(1, L'\x3042', "a");
        e.defineOutput(1, L'\x304B', "ka");
        e.defineOutput(1, L'\x304D', "ki");
    }
    testEngine e;
};

}  // namespace

TEST_F(sequenceTest, aSequenceIsAbsorbedUntilItsLastStroke) {
    e.tap(key('k'));
    EXPECT_TRUE(e.sent.empty());
    EXPECT_TRUE(e.sequenceOpen());
    e.tap(key('a'));
    EXPECT_EQ("+k +a -k -a", e.eventText());
    EXPECT_FALSE(e.sequenceOpen());
}

TEST_F(sequenceTest, aFailedShiftTryDoesNotLockTheSequenceUp) {
    e.tap(key('k'));
    e.press(0x2A);
    e.tap(key('a'));  // tries a with Shift first, which has no entry
    e.release(0x2A);
    EXPECT_EQ("+2A +k +a -k -a -2A", e.eventText());
    EXPECT_TRUE(e.log.empty());
    e.clearSent();
    e.tap(0x01);  // Esc, with nothing open, passes
    e.tap(key('k'));
    e.tap(key('i'));
    EXPECT_EQ("+01 -01 +k +i -k -i", e.eventText());
}

TEST_F(sequenceTest, aFailedThumbTryDoesNotLockTheSequenceUp) {
    e.leftThumb = 0x39;
    e.tap(key('k'));
    e.tap(0x39);  // tries the thumb code first; no entry, then the space itself
    EXPECT_TRUE(e.sent.empty());  // the stray key is swallowed, the sequence stays
    EXPECT_TRUE(e.sequenceOpen());
    e.tap(key('a'));
    EXPECT_EQ("+k +a -k -a", e.eventText());
    EXPECT_TRUE(e.log.empty());
}

TEST_F(sequenceTest, aStrayKeyDropsTheSequenceWhenSoConfigured) {
    e.stockMiss = 1;
    e.tap(key('k'));
    e.tap(key('q'));
    EXPECT_EQ("+q -q", e.eventText());
    EXPECT_FALSE(e.sequenceOpen());
    e.tap(key('a'));
    EXPECT_EQ("+q -q +a -a", e.eventText());
}

TEST_F(sequenceTest, backspaceTakesTheLastStrokeBack) {
    e.tap(key('k'));
    e.tap(0x0E);
    EXPECT_TRUE(e.sent.empty());
    EXPECT_FALSE(e.sequenceOpen());
    e.tap(key('a'));
    e.tap(0x0E);  // nothing held: it is typed
    EXPECT_EQ("+a -a +0E -0E", e.eventText());
}

TEST_F(sequenceTest, backspaceInsideALongerSequenceKeepsItWhole) {
    e.tap(key('k'));
    e.tap(key('y'));
    e.tap(0x0E);  // back to k alone
    EXPECT_TRUE(e.sequenceOpen());
    e.tap(key('a'));
    EXPECT_EQ("+k +a -k -a", e.eventText());
    EXPECT_TRUE(e.log.empty());
    e.clearSent();
    e.tap(key('k'));
    e.tap(key('y'));
    e.tap(key('o'));
    EXPECT_EQ("+k +i +x +y +o -k -i -x -y -o", e.eventText());
}

TEST_F(sequenceTest, escapeDropsTheOpenSequence) {
    e.tap(key('k'));
    e.tap(0x01);
    EXPECT_TRUE(e.sent.empty());
    e.tap(key('i'));
    EXPECT_EQ("+i -i", e.eventText());
}

TEST_F(sequenceTest, anotherKindsEntrySupersedesTheSequence) {
    e.stockMiss = 1;
    e.tap(key('k'));
    e.tap(key('2'));
    EXPECT_EQ("+3B -3B", e.eventText());
    EXPECT_FALSE(e.sequenceOpen());
    e.tap(key('a'));
    EXPECT_EQ("+3B -3B +a -a", e.eventText());
}

TEST_F(sequenceTest, outputTextFollowsTheOpenSequenceWithoutTouchingIt) {
    EXPECT_EQ(L"\x3042", e.keysToOutputText(keysOf("a")));
    e.tap(key('k'));
    EXPECT_EQ(L"\x304B", e.keysToOutputText(keysOf("a")));
    EXPECT_EQ(L"\x304D", e.keysToOutputText(keysOf("i")));
    EXPECT_TRUE(e.sequenceOpen());
    EXPECT_EQ(L"k", e.compositionText());
    e.tap(key('i'));
    EXPECT_EQ("+k +i -k -i", e.eventText());
}

TEST_F(sequenceTest, outputTextIsSafeWhileTheAgentThreadTypes) {
    std::atomic<bool> stop{false};
    std::atomic<int> texts{0}, wrong{0};
    std::thread ui([&] {
        while (!stop) {
            std::wstring t = e.keysToOutputText(keysOf("a"));
            if (t == L"\x3042" || t == L"\x304B")
                ++texts;
            else
                ++wrong;
        }
    });
    // Type on until the other thread has read a good number of texts meanwhile.
    int typedKana = 0;
    for (; typedKana < 3000 || (texts < 200 && typedKana < 300000); ++typedKana) {
        e.tap(key('k'));
        e.tap(key(typedKana % 2 ? 'a' : 'i'));
        e.advance(1);
        e.poll();
    }
    stop = true;
    ui.join();
    EXPECT_GE(texts.load(), 200);
    EXPECT_EQ(0, wrong.load());
    // Two keys pressed and released per kana, nothing lost.
    EXPECT_EQ(static_cast<std::size_t>(typedKana) * 4, e.sent.size());
}

namespace {

// True when another thread takes tableLock within the wait. A thread that cannot is left to
// finish once the lock is free.
bool tableLockFreeElsewhere(int waitMs) {
    auto got = std::make_shared<std::atomic<bool>>(false);
    std::thread([got] {
        scopedLock guard(tableLock());
        *got = true;
    }).detach();
    for (int i = 0; i < waitMs && !*got; ++i) Sleep(1);
    return *got;
}

class lockCheckingEngine : public testEngine {
public:
    bool outputEvent(const keyOutputEvent& event) override {
        if (!tableLockFreeElsewhere(3000)) ++heldAcrossOutput;  // free: comes at once
        return testEngine::outputEvent(event);
    }
    int lookupLayout(int kind, const keySequence& keys, layoutMatchState& result) override {
        if (checkQueries && tableLockFreeElsewhere(30)) ++unlockedQueries;
        return testEngine::lookupLayout(kind, keys, result);
    }
    int heldAcrossOutput = 0;
    int unlockedQueries = 0;
    bool checkQueries = true;
};

}  // namespace

TEST(tableLockTest, queriesTakeTheLockAndOutputNeverHoldsIt) {
    lockCheckingEngine e;
    ASSERT_TRUE(e.loadLayout(1, L"a\t\x3042\n{jk}\t\x304D\n"));
    e.defineOutput(1, L'\x3042', "a");
    e.defineOutput(1, L'\x304D', "ki");
    e.tap(key('a'));
    e.checkQueries = false;  // a chord asks many times; the output is what matters here
    e.press(key('j'));
    e.press(key('k'));
    e.release(key('j'));
    e.release(key('k'));
    EXPECT_EQ("+a -a +k +i -k -i", e.eventText());
    EXPECT_EQ(0, e.unlockedQueries);
    EXPECT_EQ(0, e.heldAcrossOutput);
}

TEST(followUpTest, aMarkedUnitIsLookedUpAgainInTheFollowingKinds) {
    testEngine e;
    ASSERT_TRUE(e.loadLayout(1, L"m\tF;1\n"));     // 254, then the 1 key
    ASSERT_TRUE(e.loadLayout(2, L"1\tF;2x\n"));    // 254, the 2 key, then x
    ASSERT_TRUE(e.loadLayout(4, L"2\tFb\n"));      // F2
    e.tap(key('m'));
    EXPECT_EQ("+3C +x -3C -x", e.eventText());
}

TEST(followUpTest, longTypingAcrossKindsKeepsEveryKindInItsPlace) {
    testEngine e;
    ASSERT_TRUE(e.loadLayout(8, L"8\tF8\n"));
    ASSERT_TRUE(e.loadLayout(1, L"a\t\x3042\nk\t\x304B\n"));
    ASSERT_TRUE(e.loadLayout(2, L"q\tz\n"));
    ASSERT_TRUE(e.loadLayout(4, L"2\tFa\n"));
    e.defineOutput(1, L'\x3042', "a");
    e.defineOutput(1, L'\x304B', "ka");
    const char* typed = "kaq28kq2a8";
    for (int round = 0; round < 50; ++round)
        for (const char* p = typed; *p; ++p) e.tap(key(*p));
    std::string expected;
    for (int round = 0; round < 50; ++round) expected += "kaaz3B48kaz3Ba48";
    // Letters name keys; F1 is 3B and the pad 8 is 48.
    std::string got;
    for (const auto& s : e.sent)
        if (s.event.down) got += describe(s.event).substr(1);
    EXPECT_EQ(expected, got);
}

TEST(followUpTest, anEmptiedEntryOfALaterKindTakesTheUnitAway) {
    // Kind 1 marks the 1 key for a second lookup; what kind 2 has for it decides.
    const struct {
        const wchar_t* alphabet;
        const char* typed;
    } cases[] = {
        {L"1\t\x5374\n", ""},              // an entry whose output the reader emptied
        {L"1\tx\n", "x"},                   // an entry with an output replaces the unit
        {L"2\tx\n", "1"},                   // no entry: the unit itself
        {L"1\tx\n{12}\ty\n", "1"},         // it begins longer entries too: the unit itself
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.typed);
        testEngine e;
        ASSERT_TRUE(e.loadLayout(1, L"m\tF;1a\n"));
        ASSERT_TRUE(e.loadLayout(2, std::wstring(L"StrokeMode=1\n") + c.alphabet));
        e.tap(key('m'));
        EXPECT_EQ(std::string(c.typed) + "a", e.typed());
        EXPECT_FALSE(e.sequenceOpen());
    }
}

TEST(shiftRewriteTest, aCharacterUnitIsNeverSplit) {
    testEngine e;
    ASSERT_TRUE(e.loadLayout(2, L"{aH}\tFC9b\n"));
    e.press(0x2A);
    e.press(key('a'));
    // Shift goes up before the unit (a space character is no letter), the unit goes whole, and
    // Shift comes back down after the output.
    ASSERT_EQ(5u, e.sent.size());
    EXPECT_EQ("+2A -2A", e.eventText().substr(0, 7));
    EXPECT_EQ(keySequence({227, 0x39}), e.sent[2].event.units);
    EXPECT_EQ("+2A +b", e.eventText().substr(e.eventText().size() - 6));
    e.release(key('a'));
    e.release(0x2A);
    EXPECT_EQ("-2A", e.eventText().substr(e.eventText().size() - 3));
}

namespace {

// Game-mode romaji composition over a kana layout of single kana and marks.
class romajiTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(e.loadLayout(1, L"k\t\x304B\n"   // か
                                    L"d\t\x309B\n"   // ゛
                                    L"p\t\x309C\n"   // ゜
                                    L"a\t\x3042\n"   // あ
                                    L"t\t\x3063\n"   // っ
                                    L"n\t\x3093\n"   // ん
                                    L"y\t\x3084\n"   // や
                                    L"i\t\x304D\n"   // き
                                    L"s\t\x3083\n"   // ゃ
                                    L"h\t\x306F\n"   // は
                                    L"m\t\x307E\n"   // ま
                                    L"q\t\x304D\x3083\n"));  // きゃ in one output
        const struct {
            wchar_t ch;
            const char* romaji;
        } table[] = {{L'\x304B', "ka"}, {L'\x304C', "ga"}, {L'\x3042', "a"}, {L'\x3063', "xtu"},
                     {L'\x3093', "nn"}, {L'\x3084', "ya"}, {L'\x304D', "ki"}, {L'\x3083', "xya"},
                     {L'\x306F', "ha"}, {L'\x3071', "pa"}, {L'\x3070', "ba"}, {L'\x307E', "ma"}};
        for (const auto& r : table) e.defineOutput(1, r.ch, r.romaji);
        e.enabledKinds = 0;  // the kana kind still acts: game mode
        e.gameMode = true;
        e.gameModeFlags = 0x02 | 0x04;
    }
    std::string typing(const char* keys) {
        e.clearSent();
        for (const char* p = keys; *p; ++p) e.tap(key(*p));
        e.tap(0x1C);  // Enter confirms what is held
        return e.typed();
    }
    testEngine e;
};

}  // namespace

// Each run ends with Enter: it confirms a held kana and is swallowed, or, with nothing held,
// is typed itself (1C).
TEST_F(romajiTest, voicedAndSemiVoicedMarksJoinTheHeldKana) {
    EXPECT_EQ("ga1C", typing("kd"));
    EXPECT_EQ("pa1C", typing("hp"));
    EXPECT_EQ("ba1C", typing("hd"));
    EXPECT_EQ("kaa1C", typing("ka"));
    EXPECT_EQ("ka", typing("k"));
}

TEST_F(romajiTest, smallTsuAndNResolveAgainstAHeldKana) {
    EXPECT_EQ("kkaa1C", typing("tka"));  // っ か あ
    EXPECT_EQ("nkaa1C", typing("nka"));  // ん か あ
    EXPECT_EQ("kka", typing("tk"));      // っ か, confirmed by Enter
    EXPECT_EQ("xtua1C", typing("ta"));   // っ あ
    EXPECT_EQ("nnya1C", typing("ny"));   // ん や: never にゃ
    EXPECT_EQ("nna1C", typing("na"));    // ん あ
    EXPECT_EQ("nma1C", typing("nm"));    // ん ま
    EXPECT_EQ("nn", typing("n"));        // ん, confirmed by Enter
}

TEST_F(romajiTest, palatalKanaCombineOnlyWithAPalatalBase) {
    EXPECT_EQ("kya1C", typing("q"));
    EXPECT_EQ("kaxya1C", typing("ks"));  // か is held for its mark, not a palatal base
    e.gameModeFlags |= 0x08;
    EXPECT_EQ("kya1C", typing("is"));
    EXPECT_EQ("kyaa1C", typing("isa"));
    EXPECT_EQ("kkya1C", typing("tis"));  // っ き ゃ
}

TEST_F(romajiTest, enterAndEscapeEditWhatIsHeld) {
    e.clearSent();
    e.tap(key('k'));
    e.tap(0x1C);
    EXPECT_EQ("ka", e.typed());  // the kana, and no Enter
    e.clearSent();
    e.tap(key('k'));
    e.tap(0x01);
    EXPECT_EQ("", e.typed());  // Esc only clears it
    e.tap(0x01);
    EXPECT_EQ("01", e.typed());
}

TEST_F(romajiTest, releaseAllTypesWhatCompositionHoldsBack) {
    e.tap(key('t'));
    e.tap(key('k'));
    EXPECT_EQ("", e.typed());
    e.releaseAll();
    EXPECT_EQ("kka", e.typed());  // っ か
    EXPECT_EQ(L"", e.compositionText());
    EXPECT_FALSE(e.holdsKeys());
}

TEST_F(romajiTest, compositionTextShowsWhatIsHeld) {
    e.tap(key('t'));
    e.tap(key('k'));
    EXPECT_EQ(L"\x3063\x304B", e.compositionText());
    e.tap(0x01);
    EXPECT_EQ(L"", e.compositionText());
}

TEST(gameModeKanaKeyTest, theForceKanaKeySwitchesTheKanaKindOffAndOn) {
    testEngine e;
    ASSERT_TRUE(e.loadLayout(1, L"a\t\x3042\nz\tFH\n"));  // z gives the kana key
    e.defineOutput(1, L'\x3042', "a");
    e.enabledKinds = 0;
    e.gameMode = true;
    e.gameModeFlags = 0x80;
    e.forceKana = 0x70;
    e.tap(key('a'));
    e.tap(key('z'));
    EXPECT_TRUE(e.kanaIsOff());
    EXPECT_EQ(L"\x3010\x82F1\x6570\x3011", e.compositionText());
    e.tap(key('a'));
    e.tap(0x70);  // typed itself, unconverted: switches back
    EXPECT_FALSE(e.kanaIsOff());
    e.tap(key('a'));
    EXPECT_EQ("+a -a +a -a +a -a", e.eventText());
}

TEST(gameModeKanaKeyTest, aKanaKeyHeldAcrossAGameModeChangeStillComesUp) {
    testEngine e;
    e.forceKana = 0x1D;  // left Ctrl
    e.press(0x1D);
    e.gameMode = true;  // the IME closed while Ctrl was down
    e.release(0x1D);
    EXPECT_EQ("+1D -1D", e.eventText());
    EXPECT_FALSE(e.kanaIsOff());

    e.clearSent();
    e.press(0x1D);  // in game mode: switches the kana kind, and is not sent
    e.gameMode = false;
    e.release(0x1D);
    EXPECT_EQ("", e.eventText());
    EXPECT_TRUE(e.kanaIsOff());
}

TEST(holdKeyTest, aHeldThumbKeyChordsWithEveryKeyAndTypesNothingItself) {
    testEngine e;
    ASSERT_TRUE(e.loadLayout(1, L"SemiShift=L\n"
                                L"asd\t\x3042$\x3044$\x3046\n"
                                L"=L\nasd\t\x307E$\x307F$\x3080\n=\n"));
    const struct {
        wchar_t ch;
        const char* romaji;
    } table[] = {{L'\x3042', "a"}, {L'\x3044', "i"}, {L'\x3046', "u"},
                 {L'\x307E', "ma"}, {L'\x307F', "mi"}, {L'\x3080', "mu"}};
    for (const auto& r : table) e.defineOutput(1, r.ch, r.romaji);
    e.leftThumb = 0x39;
    e.press(0x39);
    for (char c : {'a', 's', 'd'}) {
        e.advance(300);  // far past the window: a hold key waits without a limit
        e.poll();
        e.tap(key(c));
    }
    e.advance(300);
    e.release(0x39);
    EXPECT_EQ("mamimu", e.typed());
    EXPECT_EQ(0u, e.pendingGroupCount());
    EXPECT_EQ(0, e.chordStateValue());
    e.clearSent();
    e.tap(0x39);  // alone it has no entry: the space itself
    e.tap(key('a'));
    EXPECT_EQ("+39 -39 +a -a", e.eventText());
}

TEST(holdKeyTest, aMultiDownHoldKeyDecidedAloneAfterAChordReleasesBoth) {
    testEngine e;
    ASSERT_TRUE(e.loadLayout(1, L"MultiDownHold=R\n"
                                L"asd\t\x3042$\x3044$\x3046\n"
                                L"=R\nas\t\x304C$\x304E\n=\n"));
    e.defineOutput(1, L'\x3046', "u");
    e.defineOutput(1, L'\x304C', "ga");
    e.rightThumb = 0x79;
    e.press(key('a'));
    e.press(0x79);      // chords with a and stays the hold key
    e.press(key('d'));  // no chord with it: the hold key is typed alone, then d
    e.release(0x79);
    e.release(key('a'));
    e.release(key('d'));
    EXPECT_EQ("+g +a +79 +u -79 -g -a -u", e.eventText());
    EXPECT_EQ(0u, e.pendingGroupCount());
}

TEST(gameModeKanaKeyTest, anAlphanumericBracketOpenedBeforeGameModeClosesWithItsKey) {
    testEngine e;
    ASSERT_TRUE(e.loadLayout(2, L"w\tFXa\n"));
    e.forceKana = 0x70;
    e.press(key('w'));
    e.gameMode = true;  // the IME closed while the key was down
    e.gameModeFlags = 0x80;
    e.release(key('w'));
    EXPECT_EQ("[ +FC +a -FC ] -a", e.eventText());
}

namespace {

// Events written as describe() shows them: "+39" presses the space bar, "-a" releases a; "~60"
// lets 60 ms pass and polls.
void play(testEngine& e, const std::string& script) {
    std::istringstream in(script);
    std::string word;
    while (in >> word) {
        if (word[0] == '~') {
            e.advance(std::stoi(word.substr(1)));
            e.poll();
            continue;
        }
        const bool down = word[0] == '+';
        const std::string name = word.substr(1);
        const keyCode k = name.size() == 1 ? key(name[0])
                                           : static_cast<keyCode>(std::stoi(name, nullptr, 16));
        e.keyEvent(down, k, e.clock);
    }
}

}  // namespace

// The shipped kana layout with its thumb keys made shift-like (its commented SemiShift line
// switched on): the space bar is the left thumb key, 変換 (79) the right one.
TEST(holdKeyTest, aThumbKeyThatHasChordedNeverTypesItself) {
#ifndef TVN_ENGINE_TEST_SUBSTITUTION
    GTEST_SKIP() << "the output-conversion reader is not part of this build";
#else
    std::wstring text;
    ASSERT_TRUE(testEngine::readText(dataPath(L"\x30A2\x30A4\x30A6\x30A8\x30AA\x914D\x5217Tavolin"
                                              L"\x4ED5\x69D8\x4E8C\x7248.tvn_kana"),
                                     text));
    const std::size_t at = text.find(L"'SemiShift=LR");
    ASSERT_NE(std::wstring::npos, at);
    text.erase(at, 1);
    const struct {
        const char* keys;
        const char* typed;
    } cases[] = {
        // Backspace while the thumb key stays down: no space first (it would start the IME's
        // conversion); the thumb key still shifts the keys after it.
        {"+39 +a -a +0E -0E -39", "ma0E"},
        {"+39 +a -a +0E -0E +s -s -39", "ma0Emi"},
        {"+39 +a -a +2A +39 +39 -2A +s -s -39", "ma2Ami"},   // repeats under Shift
        // The other thumb key pressed after the chord takes over without typing the space bar.
        {"+39 +a -a +79 -79 -39", "ma79"},
        {"+39 +a -a +79 +s -s -79 -39", "maxi"},
        {"+39 +a -a +79 -39 +s -s -79", "maxi"},
        {"+39 +a -a +79 ~60 -79 -39", "ma79"},
        {"+39 +a -a +79 -39 -79", "ma79"},
        // Unchanged: the thumb key alone is the space, and a key before it is typed alone.
        {"+39 -39", "39"},
        {"+a -a +39 -39", "a39"},
    };
    // Without a wait the second thumb key's decision is taken at its press; with one, at its
    // release, the thumb key's release or the wait's end.
    for (const int cancelSands : {0, 50}) {
        for (const auto& c : cases) {
            SCOPED_TRACE(std::string(c.keys) + " CancelSands2ndTime " + std::to_string(cancelSands));
            testEngine e;
            e.cancelSands = cancelSands;
            ASSERT_TRUE(e.loadLayout(1, text));
            ASSERT_TRUE(e.loadOutputFile(1, dataPath(L"\x30ED\x30FC\x30DE\x5B57\x5316(\x3041\x306F"
                                                     L"xa\x307B\x304B).tvn_o_roumazi")));
            e.leftThumb = 0x39;
            e.rightThumb = 0x79;
            play(e, c.keys);
            e.poll();
            EXPECT_EQ(c.typed, e.typed());
            EXPECT_EQ(0u, e.pendingGroupCount());
            EXPECT_EQ(0, e.chordStateValue());
            // Every key that went down came up again.
            int down = 0;
            for (const auto& sent : e.sent) down += sent.event.down ? 1 : -1;
            EXPECT_EQ(0, down) << e.eventText();
        }
    }
#endif
}

TEST(pollTest, theEngineSaysWhenAPollMayHaveWork) {
    // What an agent reads to choose between polling each millisecond and resting.
    const struct {
        const char* keys;
        int outputWait;
        bool awaits;
    } cases[] = {
        {"", 0, false},
        {"+a -a", 0, false},          // typed and released at once
        {"+j", 0, true},              // waits for its partner
        {"+j -j", 0, false},
        {"+a", 0, false},             // a plain key held down
        {"+a -a +a -a", 30, true},    // the second press waits for its pace
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.keys);
        testEngine e;
        loadChordLayout(e);
        e.gameMode = c.outputWait != 0;
        e.outTimer = c.outputWait;
        play(e, c.keys);
        EXPECT_EQ(c.awaits, e.awaitsPoll());
    }
}
