// A seeded random soak of the conversion engine with the shipped definition files: presses,
// releases, auto-repeat, chords, settings changes and clock jumps must never leave an output
// key or a modifier down, nor leave the engine stuck.
#include "engineSampleTables.h"
#include "engineTestHost.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <random>
#include <set>

using namespace enginetest;

namespace {

// Tracks which keys the output holds down, without keeping every event.
class soakEngine : public testEngine {
public:
    bool outputEvent(const keyOutputEvent& event) override {
        ++count;
        if (event.isMarker || !event.units.empty()) return true;
        if (event.keyCode == 0) ++zeroKeys;
        if (event.down)
            down.insert(event.keyCode);
        else
            down.erase(event.keyCode);
        lastPressed = event.down ? event.keyCode : lastPressed;
        return true;
    }
    std::set<keyCode> down;
    long count = 0;
    long zeroKeys = 0;
    keyCode lastPressed = 0;
};

struct soakReport {
    bool shipped = false;
    long events = 0;
};

void runSoak(unsigned seed, int steps, bool shipped, soakReport& report) {
    soakEngine e;
    report.shipped = shipped && loadShippedTables(e);
    if (!report.shipped) {
        ASSERT_TRUE(loadOwnTables(e));
    }
    e.leftThumb = 0x39;   // space
    e.rightThumb = 0x79;  // 変換
    e.forceKana = 0x1D;
    e.shiftAppliesTo = 15;
    e.ctrlQwertyOn = true;

    const keyCode pool[] = {
        0x10, 0x11, 0x12, 0x13, 0x14, 0x15, 0x16, 0x17, 0x18, 0x19, 0x1E, 0x1F, 0x20, 0x21,
        0x22, 0x23, 0x24, 0x25, 0x26, 0x27, 0x2C, 0x2D, 0x2E, 0x2F, 0x30, 0x31, 0x32, 0x33,
        0x34, 0x35, 0x1A, 0x1B, 0x2B, 0x0C, 0x08, 0x09, 0x0A, 0x39, 0x79, 0x7B, 0x70,
        0x2A, 0x36, 0x1D, 0x38, 0x01, 0x0E, 0x1C, 0x0F, 0xC8, 0x3B};
    const keyCode chordy[] = {0x39, 0x79, 0x23, 0x24, 0x25, 0x26, 0x10, 0x11, 0x1E, 0x1F};
    std::mt19937 rng(seed);
    auto pick = [&](std::size_t n) { return static_cast<std::size_t>(rng() % n); };
    std::vector<keyCode> held;

    for (int step = 0; step < steps; ++step) {
        const unsigned r = rng() % 100;
        if (r < 40) {
            // A third of the presses go to the thumb keys and their partners, so that chords,
            // hold keys and their auto-repeat come often.
            const keyCode k = rng() % 3 == 0 ? chordy[pick(sizeof chordy / sizeof chordy[0])]
                                             : pool[pick(sizeof pool / sizeof pool[0])];
            if (std::find(held.begin(), held.end(), k) == held.end()) held.push_back(k);
            e.press(k);  // a held key pressed again is auto-repeat
        } else if (r < 75) {
            if (!held.empty()) {
                const std::size_t i = pick(held.size());
                e.release(held[i]);
                held.erase(held.begin() + static_cast<std::ptrdiff_t>(i));
            }
        } else if (r < 82) {
            if (!held.empty()) e.press(held[pick(held.size())]);
        } else if (r < 93) {
            e.advance(static_cast<std::int32_t>(rng() % 60));
            e.poll();
        } else if (r < 95) {
            e.advance(static_cast<std::int32_t>(rng() % 200000));  // a long pause
            e.poll();
        } else if (r < 96) {
            e.advance(INT_MAX / 3);  // runs the tick count through its wrap in time
            e.poll();
        } else {
            // Settings change at any moment, even with keys down: game mode follows the IME,
            // which opens and closes while the user types.
            e.gameMode = rng() % 3 == 0;
            e.gameModeFlags = static_cast<int>(rng() % 256);
            e.stockMiss = static_cast<int>(rng() % 3);
            e.cancelMulti = static_cast<int>(rng() % 3) * 40;
            e.cancelSands = static_cast<int>(rng() % 2) * 60;
            e.multiDownHoldOn = rng() % 2 == 0;
            e.outTimer = static_cast<int>(rng() % 2) * 15;
            e.shiftLayoutIndex = static_cast<int>(rng() % 4);
            e.enabledKinds = static_cast<int>(rng() % 16);
            e.kindOfInput = 1 + static_cast<int>(rng() % 2);
            e.accept = 50 + static_cast<int>(rng() % 100);
        }
        // The agent's thread polls on every pass of its loop. With paced output the typing
        // is no faster than the pacing, or the backlog would only grow.
        e.advance(static_cast<std::int32_t>(rng() % 4) + (e.gameMode ? e.outTimer * 2 : 0));
        e.poll();
        ASSERT_LT(e.queuedOutputCount(), 5000u) << "step " << step;
    }

    // Everything comes up, the windows pass, and the user types again.
    std::shuffle(held.begin(), held.end(), rng);
    for (keyCode k : held) {
        e.release(k);
        e.advance(5);
    }
    e.gameMode = false;
    e.outTimer = 0;
    e.enabledKinds = 1 | 2 | 4;
    e.kindOfInput = 1;
    e.shiftLayoutIndex = 0;
    // A paced backlog drains at the agent's poll rate.
    for (int i = 0; i < 600000 && e.queuedOutputCount() != 0; ++i) {
        e.advance(1);
        e.poll();
    }
    e.advance(1000);
    e.poll();
    e.tap(0x01);  // Esc settles whatever a stray sequence still holds open
    e.advance(1000);
    e.poll();

    const long before = e.count;
    e.tap(key('a'));
    e.advance(1000);
    e.poll();
    EXPECT_GT(e.count, before) << "the engine is stuck";
    EXPECT_NE(0, e.lastPressed);
    EXPECT_EQ(0u, e.queuedOutputCount());
    EXPECT_TRUE(e.down.empty()) << "first key left down: 0x" << std::hex
                                << (e.down.empty() ? 0 : *e.down.begin());
    EXPECT_EQ(0, e.zeroKeys);
    EXPECT_EQ(0u, e.pendingGroupCount());
    EXPECT_EQ(0, e.chordStateValue());
    const outputSharedState& shared = convertEngine::sharedState();
    EXPECT_LE(shared.shiftSpan, 0);
    EXPECT_LE(shared.kanaSpan, 0);
    EXPECT_LE(shared.alnumSpan, 0);
    report.events = e.count;
}

}  // namespace

TEST(engineSoak, randomTypingNeverLeavesAKeyDownNorTheEngineStuck) {
    // The shipped files, then stand-ins that add the hold keys the shipped files leave out.
    for (bool shipped : {true, false}) {
        for (unsigned seed : {1u, 20261209u, 77u, 4242u}) {
            SCOPED_TRACE(seed);
            soakReport report;
            runSoak(seed, 25000, shipped, report);
            if (::testing::Test::HasFatalFailure()) return;
            std::printf("seed %u: %ld output events, %s tables\n", seed, report.events,
                        report.shipped ? "shipped" : "stand-in");
        }
    }
}

TEST(defaultLayoutTest, thumbChordsAndThePrefixTypeTheirKana) {
    testEngine e;
    if (!loadShippedTables(e)) GTEST_SKIP() << "the default data files are not part of this build";
    e.leftThumb = 0x39;
    e.rightThumb = 0x79;
    e.enabledKinds = 1 | 4;
    e.tap(key('a'));  // あ alone, decided at its release
    e.press(0x39);    // left thumb with a: ま
    e.press(key('a'));
    e.release(key('a'));
    e.release(0x39);
    e.press(key('h'));  // right thumb pressed second, within the window: が
    e.advance(30);
    e.press(0x79);
    e.release(0x79);
    e.release(key('h'));
    e.tap(key('@'));  // the prefix, then d: ヴ
    e.tap(key('d'));
    EXPECT_EQ("amagavu", e.typed());
    EXPECT_EQ(0u, e.pendingGroupCount());
}
