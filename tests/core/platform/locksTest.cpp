#include "core/platform/locks.h"

#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <thread>

namespace {

// Another thread that takes the lock and releases it at once. The owner of the probe asks
// whether that happened within a time; the thread is always joined, so the lock must be free
// by the time the probe goes out of scope.
class lockProbe {
public:
    explicit lockProbe(lockable& l) : m_thread([this, &l] {
        l.lock();
        m_taken = true;
        l.unlock();
    }) {}
    ~lockProbe() { m_thread.join(); }

    bool takenWithin(int milliseconds)
    {
        for (int waited = 0; waited < milliseconds && !m_taken; ++waited) Sleep(1);
        return m_taken;
    }

private:
    std::atomic<bool> m_taken{false};
    std::thread m_thread;
};

bool freeForOtherThread(sectionLock& l)
{
    lockProbe probe(l);
    return probe.takenWithin(2000);
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

TEST(sectionLock, heldLockIsTakenByAnotherThreadOnlyAfterRelease)
{
    sectionLock l;
    l.lock();
    lockProbe probe(l);
    EXPECT_FALSE(probe.takenWithin(50));
    l.unlock();
    EXPECT_TRUE(probe.takenWithin(2000));
}

namespace {
// Objects built before main may already take the program-wide locks.
struct takesLocksBeforeMain {
    bool done = false;
    takesLocksBeforeMain()
    {
        scopedLock table(tableLock());
        scopedLock settings(settingsLock());
        done = true;
    }
} staticUser;
}  // namespace

TEST(globalLocks, areSingleObjectsUsableBeforeMain)
{
    EXPECT_TRUE(staticUser.done);
    EXPECT_TRUE(freeForOtherThread(tableLock()));
    EXPECT_EQ(&tableLock(), &tableLock());
    EXPECT_EQ(&settingsLock(), &settingsLock());
    EXPECT_NE(static_cast<void*>(&tableLock()), static_cast<void*>(&settingsLock()));
}
