// Keys that arrive while a peer holds the shared record's lock (a hooked program stopped in a
// debugger, or any process of the session that opened the mutex), checked in both builds' tests.
#pragma once

#include "hooklib/hooks.h"
#include "hooklib/injection.h"
#include "hooklib/keyDecisionFakes.h"
#include "hooklib/peerHeldMutex.h"

#include <gtest/gtest.h>

namespace {

// A key held up only a moment passes unconverted, and so do its repeat and its release, whenever
// the lock comes free: the application never keeps a key down. Our key passes too, and leaves no
// passed press behind for the user's next one, which is the agent's.
void expectKeysPassWholeWhileThePeerHoldsTheLock()
{
    struct {
        const char* name;
        bool messageHook;  // the message hook judges the key (false: the keyboard hook decides alone)
        int heldFor;       // press, repeat, release: how many arrive before the peer lets go
        bool ours;
        int noticesOfPassedKeys;
    } cases[] = {
        {"the keyboard hook alone, the press", false, 1, false, 2},
        {"the keyboard hook alone, the press and its repeat", false, 2, false, 2},
        {"both hooks, the press", true, 1, false, 2},
        {"both hooks, the whole key", true, 3, false, 2},
        {"both hooks, our key", true, 1, true, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        peerHeldMutex peer;
        dllMutex hookedLock(peer.copy());  // as every hooked application builds it
        dllSharedData record = {};
        sharedData held(&record, &hookedLock, GetTickCount);
        held.reset();
        record.injectionSigned = 1;  // the agent's keyboard hook is in
        fakeHost host;
        host.keeps = c.messageHook;
        auto arrives = [&](LPARAM lp, bool ours) {
            return handleKeyMessage(held, host, 0, 0x41, lp, 1) &&
                   (!c.messageHook || judgeRemovedKey(held, host, 0x41, lp, ours ? injectedKeySign : 0));
        };
        const LPARAM key[] = {keyParam(0x1E, false), keyParam(0x1E, false) | 0x40000000, keyParam(0x1E, true)};
        for (int i = 0; i < 3; ++i) {
            if (i == c.heldFor) peer.letGo(true);
            const DWORD start = GetTickCount();
            EXPECT_TRUE(arrives(key[i], c.ours)) << "key " << i;
            EXPECT_LT(GetTickCount() - start, 500u) << "key " << i;
        }
        peer.letGo(true);
        EXPECT_FALSE(arrives(keyParam(0x1E, false), false)) << "the user's next press";
        int notices = 0;
        fromDll_waitInfoAdds r = {};
        while (held.popReport(r)) notices += r.kind == reportKeyData && (r.info2 & modifierPassedOn) != 0;
        EXPECT_EQ(c.noticesOfPassedKeys, notices);
    }
}

}  // namespace
