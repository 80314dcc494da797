// The keyboard hook's decision over a key: pass, or swallow and report, with the injected ring.
#include "hooklib/hooks.h"
#include "hooklib/injection.h"

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <new>
#include <set>
#include <thread>
#include <vector>

namespace {

DWORD WINAPI fixedClock() { return 100000; }

class noLock : public dllLockable {
public:
    bool acquire() override { return true; }
    void release() override {}
};

class fakeHost : public keyDecisionHost {
public:
    int scanToVkEx(int scanCode) override { return scanCode == 0x36 ? VK_RSHIFT : 0x41; }
    bool isHeld(int vk) override { return held.count(vk) != 0; }
    void pushFocusReports() override { ++focusReports; }
    void pushFocusImeStatus() override { ++imeStatusReports; }
    void releaseShiftState() override { ++shiftReleases; }
    void sendKey(const keyResend& key) override { sent.push_back(key); }
    // Each wait is a millisecond, in which the agent may take reports.
    void wait() override
    {
        ++now;
        ++waits;
        if (agent) agent();
    }
    DWORD tick() override { return now; }
    std::vector<keyResend> sent;
    std::function<void()> agent;
    DWORD now = 1000;
    int waits = 0;
    std::set<int> held;
    int focusReports = 0;
    int imeStatusReports = 0;
    int shiftReleases = 0;
};

LPARAM keyParam(int scan, bool released, bool extended = false, int repeat = 1)
{
    unsigned long v = static_cast<unsigned long>(repeat) | (static_cast<unsigned long>(scan) << 16);
    if (extended) v |= 0x01000000ul;
    if (released) v |= 0xC0000000ul;
    return static_cast<LPARAM>(static_cast<long>(v));
}

// The mark the library types before its key of this scan code and direction.
LPARAM markParam(int scan, bool released)
{
    return keyParam(sharedData::injectedMarkScan(scan, released), true);
}

class keyDecisionTest : public ::testing::Test {
protected:
    void SetUp() override { shared.reset(); }
    std::vector<fromDll_waitInfoAdds> drain()
    {
        std::vector<fromDll_waitInfoAdds> out;
        fromDll_waitInfoAdds a = {};
        while (shared.popReport(a)) out.push_back(a);
        return out;
    }
    void record(int scan, int flags, int vk, int kind = injectedKindPlain)
    {
        injectedKey k = {scan, flags, vk, kind};
        ASSERT_TRUE(shared.pushInjected(k));
    }

    dllSharedData record_{};
    noLock lock;
    sharedData shared{&record_, &lock, fixedClock};
    fakeHost host;
};

TEST_F(keyDecisionTest, physicalKeyIsSwallowedAndReportedAsTimeThenData)
{
    host.held = {VK_LMENU, VK_RSHIFT};
    LPARAM lp = keyParam(0x1E, false);
    EXPECT_FALSE(decideKey(shared, host, 0, 0x41, lp, 4321));
    EXPECT_EQ(1, host.imeStatusReports);
    auto reports = drain();
    ASSERT_EQ(2u, reports.size());
    EXPECT_EQ(reportKeyTime, reports[0].kind);
    EXPECT_EQ(4321, reports[0].info1);
    EXPECT_EQ(0x41, reports[0].info2);
    EXPECT_EQ(reportKeyData, reports[1].kind);
    EXPECT_EQ(static_cast<std::int32_t>(lp), reports[1].info1);
    EXPECT_EQ(modifierLeftAlt | modifierRightShift, reports[1].info2);
}

// A key whose reports find the queue full: the agent is given a moment to take reports; a key that
// still finds no room passes unconverted, and the agent is told, before any later key.
TEST_F(keyDecisionTest, keyFindingTheReportQueueFullWaitsForTheAgentThenPassesAndIsToldLater)
{
    struct {
        const char* name;
        int agentTakesAfter;  // waits until the agent takes every report; -1 never
        bool swallowed;
        int waits;
    } cases[] = {
        {"room at once", 0, true, 0},
        {"the agent takes reports while the hook waits", 3, true, 3},
        {"the agent takes nothing", -1, false, static_cast<int>(fullQueueWaitMs)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        shared.reset();
        drain();
        host.waits = 0;
        for (int i = 0; c.agentTakesAfter != 0 && i < 58; ++i) ASSERT_TRUE(shared.pushReport(reportFocusSet, 0, 0));
        host.agent = [&] {
            if (host.waits == c.agentTakesAfter) drain();
        };
        LPARAM lp = keyParam(0x1E, false);
        EXPECT_EQ(!c.swallowed, decideKey(shared, host, 0, 0x41, lp, 7));
        EXPECT_EQ(c.waits, host.waits);
        auto left = drain();
        EXPECT_EQ(c.swallowed ? 2u : 58u, left.size());  // never half a pair
        EXPECT_EQ(c.swallowed ? 0 : 1, shared.passedNoticesWaiting());
    }

    // The key that passed is reported, marked as passed, before the next key's own reports.
    host.agent = nullptr;
    EXPECT_FALSE(decideKey(shared, host, 0, 0x42, keyParam(0x30, true), 8));
    auto reports = drain();
    ASSERT_EQ(4u, reports.size());
    EXPECT_EQ(reportKeyTime, reports[0].kind);
    EXPECT_EQ(7, reports[0].info1);
    EXPECT_EQ(static_cast<std::int32_t>(keyParam(0x1E, false)), reports[1].info1);
    EXPECT_EQ(modifierPassedOn, reports[1].info2 & modifierPassedOn);
    EXPECT_EQ(0x42, reports[2].info2);
    EXPECT_EQ(0, reports[3].info2 & modifierPassedOn);
    EXPECT_EQ(0, shared.passedNoticesWaiting());

    // More passed keys than notices can wait: the keys still pass, the surplus notices are lost.
    host.now += 1000;
    for (int i = 0; i < 59; ++i) shared.pushReport(reportFocusSet, 0, 0);
    for (int i = 0; i < passedKeyNotices::capacity + 3; ++i)
        EXPECT_TRUE(decideKey(shared, host, 0, 0x41, keyParam(0x1E, i % 2 != 0), 9));
    EXPECT_EQ(passedKeyNotices::capacity, shared.passedNoticesWaiting());
}

// The library's mark before each of its keys tells the hook which keys are its own, also when
// the ring holds an equal key typed for an earlier one.
TEST_F(keyDecisionTest, markedKeysAreOursAndOnceMarksArriveUnmarkedKeysArePhysical)
{
    const LPARAM mark = markParam(0x1E, false);
    record(0x1E, 0, 0x41);
    // Without marks the ring decides, as on a system that keeps marks from the hook.
    EXPECT_TRUE(decideKey(shared, host, 0, 0x41, keyParam(0x1E, false), 1));
    record(0x1E, 0, 0x41);
    // The library holds its in-use key down: the recorded 0x1E does not make a physical 0x1E
    // ours, before any mark reached this process too. The in-use key itself reaches nobody.
    host.held = {injectedMarksInUseVk};
    EXPECT_FALSE(decideKey(shared, host, 0, injectedMarksInUseVk, keyParam(0, false), 1));
    EXPECT_TRUE(drain().empty());
    EXPECT_FALSE(decideKey(shared, host, 0, 0x41, keyParam(0x1E, false), 1));
    EXPECT_EQ(2u, drain().size());
    host.held.clear();  // a mark seen in this process is proof enough from then on
    // A physical key that slips in between a mark and its key stays physical.
    EXPECT_FALSE(decideKey(shared, host, 0, injectedMarkVk, mark, 1));
    EXPECT_FALSE(decideKey(shared, host, 0, 0x42, keyParam(0x30, false), 1));
    EXPECT_TRUE(decideKey(shared, host, 0, 0x41, keyParam(0x1E, false), 1));
    EXPECT_TRUE(shared.isInjectedEmpty());  // its record was taken
    // A marked key passes even when its record is gone (an emptied stale ring).
    EXPECT_FALSE(decideKey(shared, host, 0, injectedMarkVk, markParam(0x1E, true), 1));
    EXPECT_TRUE(decideKey(shared, host, 0, 0x41, keyParam(0x1E, true), 1));
    EXPECT_FALSE(decideKey(shared, host, 0, 0x41, keyParam(0x1E, true), 1));  // unmarked: physical
    // A mark without scan code (a system that drops it) marks whatever key comes next.
    EXPECT_FALSE(decideKey(shared, host, 0, injectedMarkVk, keyParam(0, true), 1));
    EXPECT_TRUE(decideKey(shared, host, 0, 0x42, keyParam(0x30, false), 1));
    EXPECT_FALSE(decideKey(shared, host, 0, 0x42, keyParam(0x30, true), 1));
}

// Wine queues the mark and our key one by one, and a burst's physical keys slip in between. The
// user's release of the key we are pressing (or the other way round) must not take our mark; a
// slipped-in key that equals ours may: it passes in our key's place, and ours is reported.
TEST_F(keyDecisionTest, aPhysicalKeyBetweenMarkAndKeyTakesTheMarkOnlyWhenItEqualsOurKey)
{
    struct slip {
        bool oursReleased;
        bool physicalReleased;
    };
    const slip cases[] = {{false, true}, {true, false}, {false, false}, {true, true}};
    for (const slip& c : cases) {
        SCOPED_TRACE(testing::Message() << "ours released " << c.oursReleased << ", physical released "
                                        << c.physicalReleased);
        shared.reset();
        record(0x14, c.oursReleased ? KEYEVENTF_KEYUP : 0, 0x54);
        EXPECT_FALSE(decideKey(shared, host, 0, injectedMarkVk, markParam(0x14, c.oursReleased), 1));
        const bool physicalPasses = decideKey(shared, host, 0, 0x54, keyParam(0x14, c.physicalReleased), 1);
        const bool oursPasses = decideKey(shared, host, 0, 0x54, keyParam(0x14, c.oursReleased), 1);
        const std::vector<fromDll_waitInfoAdds> reports = drain();
        ASSERT_EQ(2u, reports.size());
        // Exactly one of the two reaches the application unconverted, and it is a key event like ours.
        EXPECT_NE(physicalPasses, oursPasses);
        const bool reportedReleased = (static_cast<unsigned long>(reports[1].info1) & 0x80000000ul) != 0;
        EXPECT_EQ(c.physicalReleased, reportedReleased);  // the user's key is the one converted
        EXPECT_EQ(c.physicalReleased == c.oursReleased, physicalPasses);
    }
}

std::vector<std::pair<int, DWORD>> typedKeys;
void recordTyped(WORD, WORD scan, DWORD flags) { typedKeys.emplace_back(scan, flags); }

// The agent's keys wait in order while the ring is full and go as the hook takes keys back; a ring
// that takes nothing back for a while is stale and emptied.
TEST_F(keyDecisionTest, injectionQueueWaitsForRoomInOrderAndEmptiesAStaleRing)
{
    typedKeys.clear();
    injectionQueue queue(recordTyped);
    for (int i = 0; i < 22; ++i) queue.add(injectedKey{i + 1, 0, 0x41, injectedKindPlain});
    EXPECT_EQ(3u, queue.flush(shared, 0));
    ASSERT_EQ(19u, typedKeys.size());
    EXPECT_EQ(1, typedKeys.front().first);
    EXPECT_EQ(DWORD(KEYEVENTF_SCANCODE), typedKeys.front().second);
    shared.dropInjected();
    shared.dropInjected();
    EXPECT_EQ(1u, queue.flush(shared, 10));
    EXPECT_EQ(21, typedKeys.back().first);
    // Nothing more comes back: stale only after a whole while without progress.
    EXPECT_EQ(1u, queue.flush(shared, 20));
    EXPECT_EQ(1u, queue.flush(shared, 10 + injectionQueue::staleAfterMs - 1));
    EXPECT_EQ(0u, queue.flush(shared, 10 + injectionQueue::staleAfterMs));
    EXPECT_EQ(22u, typedKeys.size());
    EXPECT_EQ(22, typedKeys.back().first);
    // A special key goes by virtual key, then by scan code; unrecorded, both go at once.
    queue.add(injectedKey{0x29, 0, VK_KANJI, injectedKindPlain});
    queue.add(injectedKey{0x1F, KEYEVENTF_KEYUP, 0x53, injectedKindPlain});
    for (int i = 0; i < 19; ++i) shared.pushInjected(injectedKey{0x30, 0, 0x42, injectedKindPlain});
    EXPECT_EQ(2u, queue.flush(shared, 100));
    queue.typeAllUnrecorded();
    EXPECT_EQ(0u, queue.waiting());
    ASSERT_EQ(25u, typedKeys.size());
    EXPECT_EQ((std::pair<int, DWORD>(0x29, 0)), typedKeys[22]);
    EXPECT_EQ((std::pair<int, DWORD>(0x29, KEYEVENTF_SCANCODE)), typedKeys[23]);
    EXPECT_EQ((std::pair<int, DWORD>(0x1F, KEYEVENTF_KEYUP | KEYEVENTF_SCANCODE)), typedKeys[24]);
}

// Every request flushes the queue, and requests come from the agent's thread and the
// user-interface thread: two flushes at once type each key once and in order.
sharedData* takingBack = nullptr;
void typeAndTakeBack(WORD, WORD scan, DWORD flags)
{
    typedKeys.emplace_back(scan, flags);
    takingBack->dropInjected();  // the hook takes each key back at once
    SwitchToThread();            // typing is a call into the system: the other thread runs meanwhile
}

TEST_F(keyDecisionTest, injectionQueueFlushedFromTwoThreadsTypesEachKeyOnceInOrder)
{
    typedKeys.clear();
    takingBack = &shared;
    injectionQueue queue(typeAndTakeBack);
    const int count = 5000;
    for (int i = 0; i < count; ++i) queue.add(injectedKey{i % 0x7F, 0, 0x41, injectedKindPlain});
    std::atomic<int> ready(0);
    auto flushTogether = [&] {
        ++ready;
        while (ready < 2) SwitchToThread();
        queue.flush(shared, 0);
    };
    std::thread other(flushTogether);
    flushTogether();
    other.join();
    ASSERT_EQ(static_cast<size_t>(count), typedKeys.size());
    for (int i = 0; i < count; ++i) ASSERT_EQ(i % 0x7F, typedKeys[i].first) << "key " << i;
    EXPECT_EQ(0u, queue.waiting());
}

TEST_F(keyDecisionTest, nonActionCodesPass)
{
    EXPECT_TRUE(decideKey(shared, host, HC_NOREMOVE, 0x41, keyParam(0x1E, false), 1));
    EXPECT_TRUE(drain().empty());
}

TEST_F(keyDecisionTest, rightShiftPressIsReportedAndPassedItsReleaseOnlyPassed)
{
    EXPECT_TRUE(decideKey(shared, host, 0, VK_SHIFT, keyParam(0x36, false), 9));
    EXPECT_TRUE(decideKey(shared, host, 0, VK_SHIFT, keyParam(0x36, true), 10));
    auto reports = drain();
    ASSERT_EQ(2u, reports.size());
    EXPECT_EQ(reportKeyTime, reports[0].kind);
    EXPECT_EQ(reportKeyData, reports[1].kind);
    EXPECT_EQ(modifierRightShift, reports[1].info2);
}

TEST_F(keyDecisionTest, injectedKeysPassInOrderAndLeaveTheRingEmpty)
{
    record(0x1E, 0, 0x41);
    record(0x1E, KEYEVENTF_KEYUP, 0x41);
    EXPECT_TRUE(decideKey(shared, host, 0, 0x41, keyParam(0x1E, false), 1));
    EXPECT_TRUE(decideKey(shared, host, 0, 0x41, keyParam(0x1E, true), 1));
    EXPECT_TRUE(shared.isInjectedEmpty());
    EXPECT_TRUE(drain().empty());
    // The same key once more is the user's own: swallowed.
    EXPECT_FALSE(decideKey(shared, host, 0, 0x41, keyParam(0x1E, false), 1));
}

TEST_F(keyDecisionTest, injectedKeyAfterShiftReleaseClearsShiftInTheThread)
{
    record(0x1E, 0, 0x41, injectedKindShiftReleased);
    EXPECT_TRUE(decideKey(shared, host, 0, 0x41, keyParam(0x1E, false), 1));
    EXPECT_EQ(1, host.shiftReleases);
}

TEST_F(keyDecisionTest, specialAndOemAutoKeysPassWithoutConsumingTheRing)
{
    record(0x1E, 0, 0x41);
    EXPECT_TRUE(decideKey(shared, host, 0, VK_OEM_AUTO, keyParam(0x29, false), 1));
    EXPECT_TRUE(decideKey(shared, host, 0, VK_KANJI, keyParam(0x29, false), 1));
    EXPECT_TRUE(decideKey(shared, host, 0, VK_CAPITAL, keyParam(0x3A, false), 1));
    EXPECT_FALSE(shared.isInjectedEmpty());
    EXPECT_TRUE(needsVkInjection(240));
    EXPECT_TRUE(needsVkInjection(253));
    EXPECT_FALSE(needsVkInjection(254));
    EXPECT_FALSE(needsVkInjection(0x41));
}

TEST_F(keyDecisionTest, passThroughPassesKeysAndReportsFocusOnRelease)
{
    shared.setPassThrough(true);
    EXPECT_TRUE(decideKey(shared, host, 0, 0x41, keyParam(0x1E, false), 1));
    EXPECT_TRUE(decideKey(shared, host, 0, 0x41, keyParam(0x1E, true), 1));
    EXPECT_EQ(1, host.focusReports);
    EXPECT_TRUE(drain().empty());
}

TEST_F(keyDecisionTest, passThroughPairKeyIsSwallowedWhileItsPartnerIsHeld)
{
    shared.setPassThrough(true);
    shared.setPairKey(0, VK_CONVERT);
    shared.setPairKey(1, VK_NONCONVERT);
    EXPECT_TRUE(decideKey(shared, host, 0, VK_CONVERT, keyParam(0x79, false), 1));
    host.held = {VK_NONCONVERT};
    EXPECT_FALSE(decideKey(shared, host, 0, VK_CONVERT, keyParam(0x79, false), 1));
    auto reports = drain();
    ASSERT_EQ(1u, reports.size());
    EXPECT_EQ(reportPairKey, reports[0].kind);
}

TEST_F(keyDecisionTest, partlySwallowedRepeatsAreSentAgainAndRecordedAsInjected)
{
    record(0x1E, 0, 0x41);  // the first repeat is ours, the other two are the user's
    LPARAM lp = keyParam(0x1E, false, false, 3);
    EXPECT_FALSE(handleKeyMessage(shared, host, 0, 0x41, lp, 1));
    EXPECT_EQ(4u, drain().size());  // two swallowed repeats, two reports each
    ASSERT_EQ(1u, host.sent.size());
    EXPECT_EQ(0x1E, host.sent[0].scan);
    // The re-sent repeat comes back through the hook and passes instead of being converted again.
    EXPECT_TRUE(handleKeyMessage(shared, host, 0, 0x41, keyParam(0x1E, false), 2));
    EXPECT_TRUE(shared.isInjectedEmpty());
    EXPECT_TRUE(drain().empty());
}

TEST_F(keyDecisionTest, messageWithNothingSwallowedGoesOnUntouched)
{
    record(0x1E, 0, 0x41);
    EXPECT_TRUE(handleKeyMessage(shared, host, 0, 0x41, keyParam(0x1E, false), 1));
    EXPECT_TRUE(host.sent.empty());
    EXPECT_TRUE(handleKeyMessage(shared, host, 0, VK_CAPITAL, keyParam(0x3A, false, false, 0), 1));
    EXPECT_TRUE(drain().empty());
}

TEST(keyResendTest, passedRepeatsGoOutByScanCodeWithTheirDirection)
{
    keyResend r = resendOf(0x41, keyParam(0x1E, true, true));
    EXPECT_EQ(0x1E, r.scan);
    EXPECT_EQ(static_cast<DWORD>(KEYEVENTF_KEYUP | KEYEVENTF_EXTENDEDKEY | KEYEVENTF_SCANCODE), r.flags);
    keyResend noScan = resendOf(0x41, keyParam(0, false));
    EXPECT_EQ(0x41, noScan.vk);
    EXPECT_EQ(0u, noScan.flags);
}

}  // namespace

// The hook procedures run inside other programs: whatever their work throws stays inside the guard,
// and the guard says so, so the procedure passes the message on.
TEST(hookGuardTest, anExceptionNeverLeavesAndIsReported)
{
    int done = 0;
    EXPECT_TRUE(runGuarded([&] { ++done; }));
    EXPECT_FALSE(runGuarded([&] {
        ++done;
        throw std::bad_alloc();
    }));
    EXPECT_FALSE(runGuarded([] { throw 7; }));
    EXPECT_EQ(done, 2);
}
