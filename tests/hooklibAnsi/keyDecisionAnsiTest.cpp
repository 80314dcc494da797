// The keyboard hook of the ANSI build (Windows 98/Me), where the classic agent is the only agent: it
// has no right-Shift case, and the agent types a key the library let through by its reported
// virtual key.
#include "hooklib/injection.h"
#include "hooklib/busyRecordKeys.h"
#include "hooklib/keyDecisionFakes.h"

#include <gtest/gtest.h>

static_assert(sizeof(TCHAR) == 1, "this test program is built for the ANSI build");

namespace {

// An IME that claims a key makes its message VK_PROCESSKEY between the two hooks. The user's keys
// are still judged, emptied and reported by the key the keyboard hook saw, the right Shift among
// them; ours pass on to the IME.
TEST(keyDecisionAnsiTest, keysTheImeClaimedAreJudgedAndReportedByTheKeyTheHookSaw)
{
    dllSharedData record = {};
    noLock lock;
    sharedData shared(&record, &lock, fixedClock);
    shared.reset();
    shared.setInjectionSigned(true);
    fakeHost host;
    host.keeps = true;
    const struct {
        int scan;
        int vk;
        bool released;
        bool ours;
    } arrivals[] = {{0x20, 'D', false, false}, {0x36, VK_SHIFT, false, false}, {0x20, 'D', true, false},
                    {0x20, 'D', false, true}, {0x20, 'D', true, true}};
    for (const auto& a : arrivals) {
        const LPARAM lp = keyParam(a.scan, a.released);
        int keyVk = 0;
        const bool passed = handleKeyMessage(shared, host, 0, a.vk, lp, 5) &&
                            judgeRemovedKey(shared, host, VK_PROCESSKEY, lp, a.ours ? injectedKeySign : 0, &keyVk);
        EXPECT_EQ(a.ours, passed) << "key " << (&a - arrivals);
        if (keyVk) {
            EXPECT_EQ(a.vk, keyVk) << "key " << (&a - arrivals);
        }
    }
    std::vector<int> reportedVks;
    fromDll_waitInfoAdds r = {};
    while (shared.popReport(r)) {
        if (r.kind == reportKeyTime) reportedVks.push_back(r.info2);
        if (r.kind == reportKeyData) {
            EXPECT_EQ(0, r.info2 & modifierRightShift);
        }
    }
    EXPECT_EQ((std::vector<int>{'D', VK_SHIFT, 'D'}), reportedVks);
}

// A key that finds the shared record busy passes whole, as in the Unicode build.
TEST(keyDecisionAnsiTest, aKeyIsDecidedWithinAMomentWhileAPeerHoldsTheLock)
{
    expectKeysPassWholeWhileThePeerHoldsTheLock();
}

}  // namespace
