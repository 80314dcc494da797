// The keyboard hook's decision over a key: pass, or swallow and report, with the injected ring.
#include "hooklib/hooks.h"
#include "hooklib/injection.h"
#include "keyDecisionFakes.h"
#include "busyRecordKeys.h"

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <new>
#include <set>
#include <thread>
#include <utility>
#include <vector>

namespace {

class keyDecisionTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        shared.reset();
        shared.setInjectionSigned(true);  // the agent's keyboard hook is in
    }
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
        int takesOneEvery;    // meanwhile the agent takes one report this often, another thread refilling it
        bool otherProcess;    // the hook runs in the main program's thread for another bitness
        bool swallowed;
        int waits;
        int hookOutAfter = -1;  // the agent goes (pause, switch, quit): its hook out, it empties the queue
    } cases[] = {
        {"room at once", 0, 0, false, true, 0},
        {"the agent takes reports while the hook waits", 3, 0, false, true, 3},
        {"the agent takes nothing", -1, 0, false, false, static_cast<int>(fullQueueWaitMs)},
        {"the agent keeps taking, slower than the hook's patience", 1000, 200, false, true, 1000},
        {"the agent keeps taking, but never enough", -1, 200, false, false, static_cast<int>(fullQueueGiveUpMs)},
        {"another bitness's key never holds up the main program", -1, 0, true, false, 0},
        // Its last reports taken, nobody would read the key's: it passes in its place, unnoticed.
        {"the agent goes while the key waits", -1, 0, false, false, 3, 3},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        dllSharedData record = {};
        sharedData caseShared(&record, &lock, fixedClock);  // a process of its own: no notices from before
        caseShared.reset();
        host.waits = 0;
        host.otherProcess = c.otherProcess;
        for (int i = 0; c.agentTakesAfter != 0 && i < 58; ++i) ASSERT_TRUE(caseShared.pushReport(reportFocusSet, 0, 0));
        caseShared.setInjectionSigned(true);
        host.agent = [&] {
            fromDll_waitInfoAdds one = {};
            if (host.waits == c.hookOutAfter) caseShared.setInjectionSigned(false);
            if (host.waits == c.agentTakesAfter || host.waits == c.hookOutAfter)
                while (caseShared.popReport(one)) {}
            if (c.takesOneEvery && host.waits % c.takesOneEvery == 0) {
                caseShared.popReport(one);
                caseShared.pushReport(reportFocusSet, 0, 0);
            }
        };
        EXPECT_EQ(!c.swallowed, decideKey(caseShared, host, 0, 0x41, keyParam(0x1E, false), 7));
        EXPECT_EQ(c.waits, host.waits);
        EXPECT_EQ(c.swallowed || c.hookOutAfter >= 0 ? 0 : 1, caseShared.passedNoticesWaiting());
        if (c.hookOutAfter >= 0) {
            EXPECT_TRUE(caseShared.isReportQueueEmpty());
        }
    }
    host.otherProcess = false;
    host.agent = nullptr;
    for (int i = 0; i < 58; ++i) ASSERT_TRUE(shared.pushReport(reportFocusSet, 0, 0));
    EXPECT_TRUE(decideKey(shared, host, 0, 0x41, keyParam(0x1E, false), 7));
    EXPECT_EQ(58u, drain().size());  // never half a pair

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

    // More passed presses than notices can wait: the keys still pass, the surplus notices are
    // lost, and every release follows its press unconverted however late it comes, or the key
    // would stay down in the application. Repeats of a passed press pass too.
    host.now += 1000;
    for (int i = 0; i < 59; ++i) shared.pushReport(reportFocusSet, 0, 0);
    const int passedKeys = passedKeyNotices::capacity + 3;
    for (int i = 0; i < passedKeys; ++i) EXPECT_TRUE(decideKey(shared, host, 0, 0x41, keyParam(2 + i, false), 9));
    EXPECT_EQ(passedKeyNotices::capacity, shared.passedNoticesWaiting());
    host.agent = [&] { drain(); };  // the agent takes reports again
    EXPECT_TRUE(decideKey(shared, host, 0, 0x41, keyParam(2 + passedKeys - 1, false), 10));
    for (int i = 0; i < passedKeys; ++i) EXPECT_TRUE(decideKey(shared, host, 0, 0x41, keyParam(2 + i, true), 10)) << i;
    // Released, the keys are the agent's again.
    EXPECT_FALSE(decideKey(shared, host, 0, 0x41, keyParam(2, false), 11));
    host.agent = nullptr;
}

// One key message through both hooks: the keyboard hook decides, and a key it passed is judged
// by the message hook once its extra information is known. True: it reaches the application.
struct arrival {
    int scan;
    bool released;
    bool ours;  // typed by the library, with its sign
    int vk = 0x44;
    int messageVk = 0;  // what the message hook sees, when an IME claimed the key (VK_PROCESSKEY)
};

// Our keys are known by their own extra information, whatever the system queued around them and
// whatever became of their entries: the user's key equal to one of ours, before, between or
// after, is converted, never passed; ours is never converted; keys nobody can type again by scan
// code pass as they came.
TEST_F(keyDecisionTest, ourKeysAreKnownByTheKeyItselfWhateverArrivesAroundThem)
{
    const int d = 0x20;
    host.keeps = true;
    struct {
        const char* name;
        std::vector<std::pair<int, bool>> recorded;  // our keys in the ring, (scan, released)
        std::vector<arrival> arrivals;
        std::vector<std::pair<int, bool>> reported;  // the user's keys, in order
        bool ringEmptyAfter = true;
    } cases[] = {
        {"the user's equal key before ours", {{d, false}}, {{d, false, false}, {d, false, true}}, {{d, false}}},
        {"the user's release of the key we press", {{d, false}}, {{d, true, false}, {d, false, true}}, {{d, true}}},
        {"the user's equal key after ours", {{d, false}}, {{d, false, true}, {d, false, false}}, {{d, false}}},
        {"the user's press and release between ours",
         {{d, false}, {d, true}},
         {{d, false, false}, {d, false, true}, {d, true, false}, {d, true, true}},
         {{d, false}, {d, true}}},
        {"the user's keys while the ring is empty", {}, {{d, false, false}, {d, true, false}}, {{d, false}, {d, true}}},
        // A busy application wakes after its keys' entries were let go, or after the hook was
        // installed again: ours still come as ours, among the user's.
        {"ours arriving with no entry left",
         {},
         {{d, false, true}, {d, false, false}, {d, true, true}, {0x21, false, true}},
         {{d, false}}},
        // The application's layout gives the user's key our entry's virtual key from another
        // scan code: both hooks judge by one rule, so it gives the entry back and is converted.
        {"the user's key with our virtual key from another scan code",
         {{d, false}},
         {{0x21, false, false, 0x44}, {d, false, true}},
         {{0x21, false}}},
        // An entry whose key never comes stays until it is let go (injectionQueue); a user's key
        // equal to it still takes and returns it, and is converted.
        {"the user's key equal to an entry whose key never comes",
         {{d, false}},
         {{d, false, false}, {d, true, false}},
         {{d, false}, {d, true}},
         false},
        // An IME that claims a key makes its message VK_PROCESSKEY before the message hook sees it:
        // the user's is still converted, ours still passes to the IME.
        {"the user's keys the IME claimed", {}, {{d, false, false, 0x44, VK_PROCESSKEY}, {d, true, false}}, {{d, false}, {d, true}}},
        {"the user's key the IME claimed before ours",
         {{d, false}},
         {{d, false, false, 0x44, VK_PROCESSKEY}, {d, false, true, 0x44, VK_PROCESSKEY}},
         {{d, false}}},
        {"ours the IME claimed, among the user's",
         {{d, false}, {d, true}},
         {{d, false, true, 0x44, VK_PROCESSKEY}, {d, false, false, 0x44, VK_PROCESSKEY}, {d, true, true}},
         {{d, false}}},
    };
    openTakenKeySlot();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        shared.reset();
        shared.setInjectionSigned(true);
        focusLeaves(shared, true, false);  // no key of ours held in this thread
        for (const auto& r : c.recorded) record(r.first, r.second ? KEYEVENTF_KEYUP : 0, 0x44);
        for (const arrival& a : c.arrivals) {
            const LPARAM lp = keyParam(a.scan, a.released);
            int keyVk = 0;
            const bool passed = handleKeyMessage(shared, host, 0, a.vk, lp, 5) &&
                                judgeAndNoteRemovedKey(shared, host, a.messageVk ? a.messageVk : a.vk, lp,
                                                       a.ours ? injectedKeySign : 0, keyVk);
            EXPECT_EQ(a.ours, passed) << "key " << (&a - c.arrivals.data());
            // Noted and taken out of the key state by the key itself.
            EXPECT_EQ(a.vk, keyVk) << "key " << (&a - c.arrivals.data());
            const bool* ours = threadKeysOfOurs(false);
            if (a.ours) {
                EXPECT_EQ(!a.released, ours && ours[a.vk]) << "key " << (&a - c.arrivals.data());
            }
        }
        std::vector<std::pair<int, bool>> reported;
        for (const fromDll_waitInfoAdds& r : drain()) {
            if (r.kind == reportKeyData)
                reported.emplace_back((r.info1 >> 16) & 0xFF, (static_cast<unsigned long>(r.info1) & 0x80000000ul) != 0);
            // The ANSI agent types the reported virtual key back.
            if (r.kind == reportKeyTime) {
                EXPECT_NE(VK_PROCESSKEY, r.info2);
            }
        }
        EXPECT_EQ(c.reported, reported);
        EXPECT_EQ(c.ringEmptyAfter, shared.isInjectedEmpty());
    }

    // Keys that carry no scan code (a foreign program's 0xE8, sent by virtual key) pass as they
    // came: they are no key the agent could type again. The library itself sends none.
    shared.reset();
    shared.setInjectionSigned(true);
    EXPECT_TRUE(decideKey(shared, host, 0, 0xE8, keyParam(0, true), 1));
    EXPECT_TRUE(decideKey(shared, host, 0, 0xE8, keyParam(0, false), 1));
    EXPECT_TRUE(drain().empty());
    // With the hook taken out (still running in a thread that had entered it) every key passes,
    // unreported, and a key already passed for judging stays.
    record(d, 0, 0x44);
    EXPECT_TRUE(handleKeyMessage(shared, host, 0, 0x44, keyParam(d, true), 5));
    shared.setInjectionSigned(false);
    EXPECT_TRUE(judgeRemovedKey(shared, host, 0x44, keyParam(d, true), 0));
    EXPECT_TRUE(handleKeyMessage(shared, host, 0, 0x44, keyParam(0x21, false), 5));
    EXPECT_FALSE(host.remembered);
    EXPECT_TRUE(drain().empty());
    closeTakenKeySlot();
}

// A press that passed unconverted has its release pass too; where the release goes to another
// process, the press is forgotten once the focus leaves: the next press there is the agent's. So are
// the thread's keys of ours once the focus leaves the thread.
TEST_F(keyDecisionTest, aPassedPressIsForgottenWhenTheFocusLeavesTheProcess)
{
    openTakenKeySlot();
    const HWND here = CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
    HWND there = nullptr;
    HANDLE done = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    std::thread other([&] {
        there = CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
        WaitForSingleObject(done, INFINITE);
        DestroyWindow(there);
    });
    while (!there) Sleep(1);
    struct {
        const char* name;
        HWND next;
        bool nextPressSwallowed, oursKept;
    } cases[] = {
        {"to another process", GetDesktopWindow(), true, false},
        {"to no window", nullptr, true, false},
        {"to another thread of this process", there, false, false},
        {"to another window of this thread", here, false, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        noteKeyOfOurs(threadKeysOfOurs(true), VK_SHIFT, keyParam(0x2A, false));
        dllSharedData record = {};
        sharedData caseShared(&record, &lock, fixedClock);
        caseShared.reset();
        caseShared.setInjectionSigned(true);
        for (int i = 0; i < 59; ++i) caseShared.pushReport(reportFocusSet, 0, 0);
        EXPECT_TRUE(decideKey(caseShared, host, 0, 0x41, keyParam(0x1E, false), 1));  // the queue is full
        fromDll_waitInfoAdds taken = {};
        while (caseShared.popReport(taken)) {}
        focusMovesTo(caseShared, c.next);
        EXPECT_EQ(!c.nextPressSwallowed, decideKey(caseShared, host, 0, 0x41, keyParam(0x1E, false), 2));
        EXPECT_EQ(c.oursKept, threadKeysOfOurs(false) != nullptr);
        focusLeaves(caseShared, true, false);
    }
    SetEvent(done);
    other.join();
    CloseHandle(done);
    DestroyWindow(here);
    closeTakenKeySlot();
}

// A peer that holds the record's lock (a hooked program stopped in a debugger, or any process of the
// session that opened the mutex) holds up a hooked application's key only a moment: it passes whole.
TEST_F(keyDecisionTest, aKeyIsDecidedWithinAMomentWhileAPeerHoldsTheLock)
{
    expectKeysPassWholeWhileThePeerHoldsTheLock();
}

std::vector<std::pair<int, DWORD>> typedKeys;
void recordTyped(WORD, WORD scan, DWORD flags) { typedKeys.emplace_back(scan, flags); }

bool foregroundBusy = false;
int busyQuestions = 0;
bool askForegroundBusy()
{
    ++busyQuestions;
    return foregroundBusy;
}

// The agent's keys wait in order while the ring is full and go as the hook takes keys back. The
// ring is let go of only when its keys can't come back: it took nothing back for a while although
// the foreground window answers. A busy application keeps its entries however long it sleeps.
TEST_F(keyDecisionTest, injectionQueueWaitsForRoomInOrderAndLetsGoOnlyOfEntriesThatCantComeBack)
{
    typedKeys.clear();
    busyQuestions = 0;
    injectionQueue queue(recordTyped, askForegroundBusy);
    queue.setRecording(true);
    for (int i = 0; i < 20; ++i) queue.add(injectedKey{i + 1, 0, 0x41, injectedKindPlain});
    EXPECT_EQ(3u, queue.flush(shared, 0));
    ASSERT_EQ(17u, typedKeys.size());  // the ring's last two slots wait for entries given back
    EXPECT_EQ(1, typedKeys.front().first);
    EXPECT_EQ(DWORD(KEYEVENTF_SCANCODE), typedKeys.front().second);
    shared.dropInjected();
    shared.dropInjected();
    EXPECT_EQ(1u, queue.flush(shared, 10));
    EXPECT_EQ(19, typedKeys.back().first);
    // The application sleeps: nothing comes back for seconds, and nothing is let go.
    foregroundBusy = true;
    for (DWORD now = 20; now < 6000; now += 100) EXPECT_EQ(1u, queue.flush(shared, now));
    EXPECT_EQ(19u, typedKeys.size());
    EXPECT_EQ(17, (record_.injectedWrite - record_.injectedRead + injectedRingLength) % injectedRingLength);
    EXPECT_GE(busyQuestions, 4);
    EXPECT_LE(busyQuestions, 6);  // asked once a while, not on every request
    // Awake and taking keys back, it is never asked.
    busyQuestions = 0;
    shared.dropInjected();
    EXPECT_EQ(0u, queue.flush(shared, 6000));
    EXPECT_EQ(20, typedKeys.back().first);
    EXPECT_EQ(0, busyQuestions);
    // The keys went where no hook of ours sees them: once quiet, the ring is let go.
    foregroundBusy = false;
    EXPECT_EQ(0u, queue.flush(shared, 6000 + injectionQueue::quietAfterMs - 1));
    EXPECT_FALSE(shared.isInjectedEmpty());
    EXPECT_EQ(0u, queue.flush(shared, 6000 + injectionQueue::quietAfterMs));
    EXPECT_TRUE(shared.isInjectedEmpty());
    // A special key goes by virtual key, then by scan code; unrecorded, both go at once.
    queue.add(injectedKey{0x29, 0, VK_KANJI, injectedKindPlain});
    queue.add(injectedKey{0x1F, KEYEVENTF_KEYUP, 0x53, injectedKindPlain});
    for (int i = 0; i < 19; ++i) shared.pushInjected(injectedKey{0x30, 0, 0x42, injectedKindPlain});
    EXPECT_EQ(2u, queue.flush(shared, 7100));
    // The hook goes (a pause, an agent switch, quitting): what waits goes at once and in order,
    // and so does every later key, unrecorded, behind it.
    queue.setRecording(false);
    EXPECT_EQ(0u, queue.waiting());
    ASSERT_EQ(23u, typedKeys.size());
    EXPECT_EQ((std::pair<int, DWORD>(0x29, 0)), typedKeys[20]);
    EXPECT_EQ((std::pair<int, DWORD>(0x29, KEYEVENTF_SCANCODE)), typedKeys[21]);
    EXPECT_EQ((std::pair<int, DWORD>(0x1F, KEYEVENTF_KEYUP | KEYEVENTF_SCANCODE)), typedKeys[22]);
    shared.clearInjected();
    queue.add(injectedKey{0x20, 0, 0x44, injectedKindPlain});
    EXPECT_EQ(0u, queue.flush(shared, 7200));
    EXPECT_EQ(24u, typedKeys.size());
    EXPECT_TRUE(shared.isInjectedEmpty());
    // So while the hook lets every key pass with conversion switched off.
    queue.setRecording(true);
    shared.setPassThrough(true);
    queue.add(injectedKey{0x21, 0, 0x46, injectedKindPlain});
    EXPECT_EQ(0u, queue.flush(shared, 7300));
    EXPECT_EQ(25u, typedKeys.size());
    EXPECT_TRUE(shared.isInjectedEmpty());
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
    injectionQueue queue(typeAndTakeBack, nullptr);
    queue.setRecording(true);
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

// Special keys and 半角/全角 pass whoever typed them; ours take their entries on the way, which
// would otherwise never leave.
TEST_F(keyDecisionTest, specialAndOemAutoKeysPassAndTakeOnlyTheirOwnEntries)
{
    record(0x1E, 0, 0x41);
    record(0x29, 0, VK_OEM_ENLW);
    EXPECT_TRUE(decideKey(shared, host, 0, VK_KANJI, keyParam(0x29, true), 1));
    EXPECT_TRUE(decideKey(shared, host, 0, VK_CAPITAL, keyParam(0x3A, false), 1));
    EXPECT_TRUE(decideKey(shared, host, 0, VK_OEM_AUTO, keyParam(0x29, false), 1));
    injectedKey oldest = {};
    ASSERT_TRUE(shared.oldestInjected(oldest));
    EXPECT_EQ(0x1E, oldest.scanCode);
    shared.dropInjected();
    EXPECT_TRUE(shared.isInjectedEmpty());
    EXPECT_TRUE(drain().empty());
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

// A user's key the message hook empties leaves the thread's key state as the agent's keys left it:
// the user's Shift, let go before our letter came, must not make it lower case.
TEST(keyStateTest, aUsersEmptiedKeyLeavesTheKeyStateOfOurs)
{
    bool ourDown[256] = {};
    BYTE state[256] = {};
    noteKeyOfOurs(ourDown, VK_SHIFT, keyParam(0x2A, false));
    state[VK_SHIFT] = state[VK_LSHIFT] = 0;  // the user's Shift release passed the state
    keyStateWithoutUsersKey(state, ourDown, VK_SHIFT, keyParam(0x2A, true));
    EXPECT_EQ(0x80, state[VK_SHIFT]);
    EXPECT_EQ(0x80, state[VK_LSHIFT]);
    EXPECT_EQ(0, state[VK_RSHIFT]);
    state['A'] = 0x81;  // the user's press of a key of ours not down; the toggle bit stays
    keyStateWithoutUsersKey(state, ourDown, 'A', keyParam(0x1E, false));
    EXPECT_EQ(0x01, state['A']);
    noteKeyOfOurs(ourDown, VK_SHIFT, keyParam(0x2A, true));
    state[VK_LSHIFT] = 0;  // our Shift release passed the state
    keyStateWithoutUsersKey(state, ourDown, VK_SHIFT, keyParam(0x36, false));
    EXPECT_EQ(0, state[VK_SHIFT]);
    EXPECT_EQ(0, state[VK_RSHIFT]);
    // A right Shift held raw (it passes the keyboard hook) keeps the combined Shift down when the
    // user's left Shift is taken out.
    state[VK_SHIFT] = state[VK_RSHIFT] = state[VK_LSHIFT] = 0x80;
    keyStateWithoutUsersKey(state, ourDown, VK_SHIFT, keyParam(0x2A, true));
    EXPECT_EQ(0, state[VK_LSHIFT]);
    EXPECT_EQ(0x80, state[VK_SHIFT]);
}

// A thread's key state is its own, and so is the note of our keys it received; the focus leaving
// the thread clears it, for the releases go elsewhere.
TEST(keyStateTest, ourKeysAreKeptPerThreadUntilTheFocusLeavesIt)
{
    openTakenKeySlot();
    dllSharedData record = {};
    noLock lock;
    sharedData shared(&record, &lock, fixedClock);
    noteKeyOfOurs(threadKeysOfOurs(true), VK_SHIFT, keyParam(0x2A, false));
    bool otherThreadHolds = true;
    std::thread([&] { otherThreadHolds = threadKeysOfOurs(false) != nullptr; }).join();
    EXPECT_FALSE(otherThreadHolds);
    ASSERT_NE(nullptr, threadKeysOfOurs(false));
    EXPECT_TRUE(threadKeysOfOurs(false)[VK_LSHIFT]);
    focusLeaves(shared, false, false);  // to another window of the thread
    EXPECT_NE(nullptr, threadKeysOfOurs(false));
    focusLeaves(shared, true, false);
    EXPECT_EQ(nullptr, threadKeysOfOurs(false));
    closeTakenKeySlot();
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
