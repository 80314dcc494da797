#include "core/locks.h"

#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <thread>

namespace {

// True when another thread can take the lock right now (it is free).
bool freeForOtherThread(sectionLock& l)
{
    std::atomic<bool> taken{false};
    std::thread t([&] {
        // TryEnterCriticalSection is not exposed by lockable; take and release it with a timeout
        // by racing a flag: the other thread blocks when the lock is held.
        l.lock();
        taken = true;
        l.unlock();
    });
    for (int i = 0; i < 200 && !taken; ++i) Sleep(1);
    bool result = taken;
    if (!result) {
        // Still blocked: the caller must release before we can join. Signal with result.
        t.detach();
    } else {
        t.join();
    }
    return result;
}

}  // namespace

TEST(sectionLock, reentrantLockReleasedAsOftenAsTakenIsFree)
{
    sectionLock l;
    l.lock();
    l.lock(0);
    l.unlock();
    l.unlock();
    EXPECT_TRUE(freeForOtherThread(l));
}

TEST(scopedLock, exceptionReleasesTheLock)
{
    sectionLock l;
    try {
        scopedLock guard(l);
        throw std::runtime_error("boom");
    } catch (const std::runtime_error&) {
    }
    EXPECT_TRUE(freeForOtherThread(l));
}

TEST(scopedLock, heldLockBlocksOtherThreadsUntilScopeEnds)
{
    sectionLock l;
    std::atomic<int> stage{0};
    std::thread t;
    {
        scopedLock guard(l);
        t = std::thread([&] {
            scopedLock inner(l);
            stage = 2;
        });
        Sleep(50);
        EXPECT_EQ(stage.load(), 0);
        stage = 1;
    }
    t.join();
    EXPECT_EQ(stage.load(), 2);
}

TEST(globalLocks, areSingleObjects)
{
    EXPECT_EQ(&tableLock(), &tableLock());
    EXPECT_EQ(&settingsLock(), &settingsLock());
    EXPECT_NE(static_cast<void*>(&tableLock()), static_cast<void*>(&settingsLock()));
}
