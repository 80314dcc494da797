// The shared record's queue, wait timer and injected ring, over a fake lock and a fake clock.
#include "hooklib/sharedData.h"
#include "peerHeldMutex.h"

#include <gtest/gtest.h>

#include <vector>

#include <cstring>
#include <thread>

namespace {

DWORD fakeNow = 5000;
DWORD WINAPI fakeClock() { return fakeNow; }

class fakeLock : public dllLockable {
public:
    bool acquire() override
    {
        ++acquired;
        if (fail) return false;
        ++held;
        return true;
    }
    void release() override { --held; }
    bool fail = false;
    int held = 0;
    int acquired = 0;
};

// A view with guard bytes on both sides, to see that nothing writes outside the record.
struct guardedView {
    unsigned char before[256];
    dllSharedData data;
    unsigned char after[256];
};

class sharedDataTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::memset(&view, 0xA5, sizeof(view));
        fakeNow = 5000;
        shared.reset();
    }
    bool guardsIntact() const
    {
        for (unsigned char b : view.before)
            if (b != 0xA5) return false;
        for (unsigned char b : view.after)
            if (b != 0xA5) return false;
        return true;
    }
    injectedKey key(int scan, int flags = 0, int vk = 0x41)
    {
        injectedKey k = {scan, flags, vk, injectedKindPlain};
        return k;
    }

    guardedView view;
    fakeLock lock;
    sharedData shared{&view.data, &lock, fakeClock};
};

TEST_F(sharedDataTest, resetEmptiesQueueRingTimerAndFlags)
{
    EXPECT_EQ(0, view.data.reportRead);
    EXPECT_EQ(0, view.data.reportWrite);
    EXPECT_EQ(0, view.data.waitActive);
    EXPECT_EQ(0, view.data.kakuteiType);
    EXPECT_EQ(0, view.data.passThrough);
    EXPECT_EQ(view.data.injectedRead, view.data.injectedWrite);
    EXPECT_EQ(0u, view.data.injectedResetTick);
    for (int i = 0; i < 4; ++i) EXPECT_EQ(0, shared.pairKey(i));
}

TEST_F(sharedDataTest, queueIsFirstInFirstOutAndHoldsFiftyNine)
{
    fromDll_waitInfoAdds answer = {};
    answer.info1 = 77;
    EXPECT_FALSE(shared.popReport(answer));
    EXPECT_EQ(reportEmpty, answer.kind);
    EXPECT_EQ(77, answer.info1);  // an empty pop leaves the other fields alone

    // Start in the middle so the ring wraps.
    for (int i = 0; i < 30; ++i) ASSERT_TRUE(shared.pushReport(reportKeyTime, i, 0));
    for (int i = 0; i < 30; ++i) ASSERT_TRUE(shared.popReport(answer));
    for (int i = 0; i < 59; ++i) ASSERT_TRUE(shared.pushReport(reportStateBits, i, i * 2)) << i;
    EXPECT_FALSE(shared.pushReport(reportStateBits, 99, 0));
    for (int i = 0; i < 59; ++i) {
        ASSERT_TRUE(shared.popReport(answer));
        EXPECT_EQ(reportStateBits, answer.kind);
        EXPECT_EQ(i, answer.info1);
        EXPECT_EQ(i * 2, answer.info2);
        EXPECT_EQ(0, answer.mustWait);
    }
    EXPECT_FALSE(shared.popReport(answer));
    EXPECT_EQ(0, lock.held);
}

TEST_F(sharedDataTest, pairOfReportsGoesInWholeOrNotAtAll)
{
    fromDll_waitInfoAdds time = {reportKeyTime, 1, 2, 0, {}};
    fromDll_waitInfoAdds data = {reportKeyData, 3, 4, 0, {}};
    for (int i = 0; i < 58; ++i) ASSERT_TRUE(shared.pushReport(reportFocusSet, 0, 0));
    EXPECT_FALSE(shared.pushReportPair(time, data));  // one slot left: a lone time report would
                                                      // pair with the next key's data
    fromDll_waitInfoAdds answer = {};
    for (int i = 0; i < 58; ++i) ASSERT_TRUE(shared.popReport(answer));
    EXPECT_FALSE(shared.popReport(answer));
    ASSERT_TRUE(shared.pushReportPair(time, data));
    ASSERT_TRUE(shared.popReport(answer));
    EXPECT_EQ(reportKeyTime, answer.kind);
    ASSERT_TRUE(shared.popReport(answer));
    EXPECT_EQ(reportKeyData, answer.kind);
    EXPECT_EQ(3, answer.info1);
    // At the ring's last slot the pair wraps: its second half goes into the first slot.
    for (int i = 0; i < 59; ++i) ASSERT_TRUE(shared.pushReport(reportFocusSet, 0, 0) && shared.popReport(answer));
    ASSERT_TRUE(shared.pushReportPair(time, data));
    ASSERT_TRUE(shared.popReport(answer) && shared.popReport(answer));
    EXPECT_EQ(reportKeyData, answer.kind);
    EXPECT_EQ(1, view.data.reportWrite);
}

TEST_F(sharedDataTest, corruptIndicesNeverWriteOutsideTheRecord)
{
    view.data.reportWrite = 100000;
    view.data.reportRead = -7;
    EXPECT_TRUE(shared.pushReport(reportFocusSet, 1, 0));
    view.data.injectedWrite = -1;
    view.data.injectedRead = 0x7FFFFFFF;
    EXPECT_TRUE(shared.pushInjected(key(0x1E)));
    injectedKey taken = {};
    EXPECT_TRUE(shared.takeMatchingInjected(0x41, 0x1E, false, false, taken));
    EXPECT_TRUE(guardsIntact());
    fromDll_waitInfoAdds answer = {};
    ASSERT_TRUE(shared.popReport(answer));
    EXPECT_EQ(reportFocusSet, answer.kind);
}

TEST_F(sharedDataTest, withoutViewOrLockNothingIsTouched)
{
    sharedData none(nullptr, &lock, fakeClock);
    fromDll_waitInfoAdds answer = {};
    answer.kind = 9;
    EXPECT_FALSE(none.popReport(answer));
    EXPECT_EQ(reportEmpty, answer.kind);
    EXPECT_FALSE(none.pushReport(reportFocusSet, 0, 0));
    EXPECT_FALSE(none.pushInjected(key(0x1E)));
    EXPECT_EQ(0, none.readWaitTimer());
    none.setWaitTimer(100);
    none.setPassThrough(true);
    none.setKakuteiType(2);
    EXPECT_FALSE(none.passThrough());
    EXPECT_EQ(0, none.kakuteiType());
    none.resetLocked();

    lock.fail = true;
    shared.setPassThrough(true);
    EXPECT_FALSE(shared.pushReport(reportFocusSet, 0, 0));
    EXPECT_FALSE(shared.pushInjected(key(0x1E)));
    shared.setWaitTimer(100);
    lock.fail = false;
    EXPECT_FALSE(shared.passThrough());
    EXPECT_TRUE(shared.isReportQueueEmpty());
    EXPECT_TRUE(shared.isInjectedEmpty());
    EXPECT_EQ(0, shared.readWaitTimer());
    EXPECT_EQ(0, lock.held);  // a failed acquire is never released
}

TEST_F(sharedDataTest, waitTimerFixesItsDeadlineAtTheFirstRead)
{
    EXPECT_EQ(0, shared.readWaitTimer());
    shared.setWaitTimer(100);
    fakeNow = 7000;
    EXPECT_EQ(7100, shared.readWaitTimer());
    fakeNow = 7050;
    EXPECT_EQ(7100, shared.readWaitTimer());
    shared.setWaitTimer(15);
    EXPECT_EQ(7065, shared.readWaitTimer());
    shared.setWaitTimer(0);
    EXPECT_EQ(0, shared.readWaitTimer());

    // A deadline that lands exactly on 0 must not read as "disarmed".
    shared.setWaitTimer(100);
    fakeNow = static_cast<DWORD>(-100);
    EXPECT_NE(0, shared.readWaitTimer());
}

TEST_F(sharedDataTest, fullInjectedRingRefusesWithoutLosingWhatItHoldsAndTakesKeysOnceThereIsRoom)
{
    // Each entry its own key (scan code and virtual key), so that the test sees which one is taken.
    auto distinct = [this](int i) { return key(i, 0, 0x100 + i); };
    for (int i = 0; i < 17; ++i) ASSERT_TRUE(shared.pushInjected(distinct(i + 1)));
    EXPECT_FALSE(shared.pushInjected(distinct(40)));  // the rest is kept for entries given back
    injectedKey oldest = {};
    ASSERT_TRUE(shared.oldestInjected(oldest));
    EXPECT_EQ(1, oldest.scanCode);
    // Entries taken by the user's keys come back as the oldest, into the room kept for them.
    injectedKey taken5 = {}, taken6 = {};
    ASSERT_TRUE(shared.takeMatchingInjected(0x105, 5, false, false, taken5));
    ASSERT_TRUE(shared.takeMatchingInjected(0x106, 6, false, false, taken6));
    EXPECT_EQ(5, taken5.scanCode);
    EXPECT_EQ(6, taken6.scanCode);
    ASSERT_TRUE(shared.pushInjected(distinct(18)));
    ASSERT_TRUE(shared.pushInjected(distinct(19)));
    EXPECT_FALSE(shared.pushInjected(distinct(40)));
    EXPECT_TRUE(shared.restoreInjected(taken6));
    EXPECT_TRUE(shared.restoreInjected(taken5));
    EXPECT_FALSE(shared.restoreInjected(distinct(4)));  // a ring of 19 is full
    // In the order given back, then the rest as typed: 5 and 6 were taken from between 4 and 7.
    std::vector<int> order;
    while (shared.oldestInjected(oldest)) {
        order.push_back(oldest.scanCode);
        shared.dropInjected();
    }
    EXPECT_EQ((std::vector<int>{5, 6, 1, 2, 3, 4, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19}), order);
    for (int i = 0; i < 17; ++i) ASSERT_TRUE(shared.pushInjected(distinct(i)));
    // No hold-off: as soon as the hook takes one back, the next key goes in.
    const int read = shared.injectedReadIndex();
    shared.dropInjected();
    EXPECT_NE(read, shared.injectedReadIndex());
    EXPECT_TRUE(shared.pushInjected(distinct(40)));
    EXPECT_FALSE(shared.pushInjected(distinct(41)));

    // A ring whose keys can't come back is emptied and the time noted; it takes keys again at once.
    fakeNow = 0;  // a tick of 0 still reads as "emptied"
    shared.dropStaleInjected();
    EXPECT_TRUE(shared.isInjectedEmpty());
    EXPECT_NE(0u, view.data.injectedResetTick);
    EXPECT_TRUE(shared.pushInjected(distinct(42)));
}

TEST_F(sharedDataTest, matchingTakesTheOldestEntryOfTheSameKeyAndDirectionAndKeepsTheOthers)
{
    ASSERT_TRUE(shared.pushInjected(key(0x1E, 0, 0x41)));
    ASSERT_TRUE(shared.pushInjected(key(0x30, 0, 0x42)));
    ASSERT_TRUE(shared.pushInjected(key(0x1E, KEYEVENTF_KEYUP, 0x41)));
    ASSERT_TRUE(shared.pushInjected(key(0x1E, 0, 0x41)));
    injectedKey taken = {};
    EXPECT_FALSE(shared.takeMatchingInjected(0x41, 0x1E, false, true, taken));   // extended differs
    EXPECT_FALSE(shared.takeMatchingInjected(0x43, 0x2E, false, false, taken));  // other key
    // A later entry is found past an older one that has not come back (yet).
    EXPECT_TRUE(shared.takeMatchingInjected(0x42, 0x30, false, false, taken));
    EXPECT_EQ(0x30, taken.scanCode);
    EXPECT_TRUE(shared.takeMatchingInjected(0x41, 0x1E, true, false, taken));
    EXPECT_EQ(KEYEVENTF_KEYUP, taken.flags);
    // What is left keeps its order: the two presses of 0x1E.
    EXPECT_TRUE(shared.takeMatchingInjected(0x41, 0x1E, false, false, taken));
    EXPECT_FALSE(shared.isInjectedEmpty());
    EXPECT_TRUE(shared.takeMatchingInjected(0x41, 0x1E, false, false, taken));
    EXPECT_TRUE(shared.isInjectedEmpty());
    EXPECT_FALSE(shared.takeMatchingInjected(0x41, 0x1E, false, false, taken));
}

TEST_F(sharedDataTest, numericPadKeyMatchesByScanCodeUnderNumLock)
{
    // Recorded as VK_HOME (scan 0x47); with NumLock on it comes back as VK_NUMPAD7.
    ASSERT_TRUE(shared.pushInjected(key(0x47, 0, VK_HOME)));
    injectedKey taken = {};
    EXPECT_TRUE(shared.takeMatchingInjected(VK_NUMPAD7, 0x47, false, false, taken));
    EXPECT_EQ(VK_HOME, taken.vk);
    // A key without a scan code matches by virtual key only.
    ASSERT_TRUE(shared.pushInjected(key(0x47, 0, VK_HOME)));
    EXPECT_FALSE(shared.takeMatchingInjected(VK_NUMPAD7, 0, false, false, taken));
}

TEST_F(sharedDataTest, flagsAndSingleValues)
{
    shared.setKakuteiType(7);
    EXPECT_EQ(3, shared.kakuteiType());
    shared.setPassThrough(true);
    shared.setCapsImeSync(true);
    shared.setPairKey(2, VK_SPACE);
    shared.setPairKey(9, VK_SPACE);  // out of range: ignored
    EXPECT_TRUE(shared.passThrough());
    EXPECT_TRUE(shared.capsImeSync());
    EXPECT_FALSE(shared.kanaImeSync());
    EXPECT_EQ(VK_SPACE, shared.pairKey(2));
    EXPECT_EQ(0, shared.pairKey(9));
    EXPECT_TRUE(guardsIntact());
    shared.resetLocked();
    EXPECT_FALSE(shared.passThrough());
    EXPECT_EQ(0, shared.kakuteiType());
    EXPECT_EQ(0, shared.pairKey(2));
}

TEST(dllMutexTest, aBrokenHandleFailsAtOnceInsteadOfSpinning)
{
    dllMutex none(nullptr);
    EXPECT_FALSE(none.acquire());
    dllMutex bad(reinterpret_cast<HANDLE>(static_cast<std::intptr_t>(0x7FFFFF0)));
    DWORD start = GetTickCount();
    EXPECT_FALSE(bad.acquire());
    EXPECT_LT(GetTickCount() - start, 1000u);
}

TEST(dllMutexTest, givesUpOnAPeerThatNeverReleasesAndTakesAnAbandonedMutex)
{
    peerHeldMutex peer;
    dllMutex mutex(peer.copy(), 20, 2);
    EXPECT_FALSE(mutex.acquire());
    peer.letGo(false);
    EXPECT_TRUE(mutex.acquire());
    EXPECT_TRUE(mutex.acquire());  // re-entrant for the holding thread
    mutex.release();
    mutex.release();
}

// A process that writes the record without the lock can change its indices at any moment, out of
// range too: each step works on the indices it read once, so it neither leaves the rings nor runs
// for ever under the lock.
DWORD WINAPI stepsOverAChangingRecord(void* parameter)
{
    sharedData& shared = *static_cast<sharedData*>(parameter);
    fromDll_waitInfoAdds answer = {};
    injectedKey taken = {};
    for (const DWORD start = GetTickCount(); GetTickCount() - start < 500;) {
        shared.takeMatchingInjected(0x41, 0x1E, false, false, taken);
        shared.popReport(answer);
        shared.pushReport(reportFocusSet, 0, 0);
        shared.pushInjected(injectedKey{0x1E, 0, 0x41, injectedKindPlain});  // for the next match to take
        shared.restoreInjected(injectedKey{0x30, 0, 0x42, injectedKindPlain});
    }
    return 0;
}

TEST(sharedDataRaceTest, indicesChangedMeanwhileNeverSendAStepOutOfTheRingsOrIntoAnEndlessLoop)
{
    static dllSharedData record = {};
    fakeLock lock;
    sharedData shared(&record, &lock, fakeClock);
    shared.reset();
    volatile LONG stop = 0, written = 0;
    std::thread writer([&] {
        volatile std::int32_t* fields[] = {&record.injectedRead, &record.injectedWrite, &record.reportRead,
                                           &record.reportWrite};
        for (unsigned n = 0; !stop; ++n) {
            *fields[n % 4] = (n & 4) ? 0x10000000 + static_cast<int>(n) : 25 + static_cast<int>(n % 50);
            if (n == 8) written = 1;
        }
    });
    while (!written) Sleep(0);  // the steps run against a writer already at work
    HANDLE stepper = CreateThread(nullptr, 0, stepsOverAChangingRecord, &shared, 0, nullptr);
    ASSERT_NE(nullptr, stepper);
    const bool ended = WaitForSingleObject(stepper, 10000) == WAIT_OBJECT_0;
    if (!ended) TerminateThread(stepper, 1);
    stop = 1;
    writer.join();
    CloseHandle(stepper);
    EXPECT_TRUE(ended);
}

TEST(wireTest, handlesWidenWithTheirSign)
{
    EXPECT_EQ(reinterpret_cast<HWND>(static_cast<std::intptr_t>(-2)), windowFromWire(toWire(reinterpret_cast<HWND>(static_cast<std::intptr_t>(-2)))));
    HKL japanese = reinterpret_cast<HKL>(static_cast<std::intptr_t>(static_cast<std::int32_t>(0xE0010411u)));
    EXPECT_EQ(japanese, layoutFromWire(static_cast<std::int32_t>(0xE0010411u)));
    EXPECT_EQ(static_cast<std::int32_t>(0xE0010411u), toWire(japanese));
}

}  // namespace
