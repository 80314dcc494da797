// Keys that arrive while a peer holds the shared record's lock (a hooked program stopped in a
// debugger, or any process of the session that opened the mutex), checked in both builds' tests.
#pragma once

#include "hooklib/hooks.h"
#include "hooklib/injection.h"
#include "hooklib/keyDecisionFakes.h"
#include "hooklib/peerHeldMutex.h"

#include <gtest/gtest.h>

namespace {

// A key held up only a moment, once per message however many steps it has, stays whole whenever
// the record turns busy or free: a press that passed unconverted has its repeat and release pass
// too; a key whose press the agent was told of has its repeat emptied and its release told as
// passed, for the engine to let go. Our key passes, and leaves no passed press behind for the
// user's next one, which is the agent's; nor does a key nobody can tell from ours.
void expectKeysPassWholeWhileThePeerHoldsTheLock()
{
    const DWORD waitMs = 200;  // the hooked application's wait, long enough to tell one from two
    struct {
        const char* name;
        bool messageHook;  // the message hook judges the key (false: the keyboard hook decides alone)
        const char* busy;  // press, repeat, release: x busy, m busy for the message hook only, - free
        const char* passes;  // p passes, e emptied (reported, or a repeat of a reported press)
        int noticesOfPassedKeys;
        bool ours = false;
        bool otherProcess = false;  // the keyboard hook runs in the main program for another bitness
        int ourEntry = -1;          // the ring holds an entry of ours equal to this key (0 press, 2 release)
        bool inactive = false;      // Tavolin set inactive (pass-through) until the user's next press
    } cases[] = {
        {"the keyboard hook alone, the press", false, "x--", "ppp", 2},
        {"the keyboard hook alone, the press and its repeat", false, "xx-", "ppp", 2},
        {"both hooks, the press", true, "x--", "ppp", 2},
        {"both hooks, the whole key", true, "xxx", "ppp", 2},
        {"both hooks, our key", true, "x--", "ppp", 0, true},
        {"both hooks, the release of a reported press", true, "--x", "eep", 1},
        {"both hooks, the repeat of a reported press", true, "-x-", "eee", 0},
        {"both hooks, the repeat and release of a reported press", true, "-xx", "eep", 1},
        {"the keyboard hook alone, the repeat and release of a reported press", false, "-xx", "eep", 1},
        {"another bitness, the user's press", false, "x--", "ppp", 1, false, true},
        {"another bitness, our key", false, "x--", "ppp", 0, false, true, 2},
        {"both hooks, the press took our entry", true, "m--", "ppp", 2, false, false, 0},
        {"inactive, the repeat and release of a press that passed", true, "-xx", "ppp", 1, false, false, -1, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        peerHeldMutex peer(false);
        dllMutex hookedLock(peer.copy(), waitMs);  // as every hooked application builds it
        dllSharedData record = {};
        sharedData held(&record, &hookedLock, GetTickCount);
        held.reset();
        record.injectionSigned = 1;  // the agent's keyboard hook is in
        record.passThrough = c.inactive;
        if (c.ourEntry >= 0) held.pushInjected(entryOfKey(0x41, keyParam(0x1E, c.ourEntry == 2)));
        fakeHost host;
        host.keeps = c.messageHook;
        host.otherProcess = c.otherProcess;
        DWORD heldUp = 0;  // how long the hooks took, the peer's coming and going aside
        auto arrives = [&](LPARAM lp, bool ours, char busy) {
            if (busy == 'x') peer.hold();
            if (busy == '-') peer.letGo(true);
            DWORD start = GetTickCount();
            const bool keyboardPasses = handleKeyMessage(held, host, 0, 0x41, lp, 1);
            heldUp = GetTickCount() - start;
            if (busy == 'm') peer.hold();
            start = GetTickCount();
            const bool passes = keyboardPasses && (!c.messageHook || judgeRemovedKey(held, host, 0x41, lp, ours ? injectedKeySign : 0));
            heldUp += GetTickCount() - start;
            return passes;
        };
        const LPARAM key[] = {keyParam(0x1E, false), keyParam(0x1E, false) | 0x40000000, keyParam(0x1E, true)};
        for (int i = 0; i < 3; ++i) {
            EXPECT_EQ(c.passes[i] == 'p', arrives(key[i], c.ours, c.busy[i])) << "key " << i;
            EXPECT_LT(heldUp, waitMs * 7 / 4) << "key " << i;
        }
        peer.letGo(true);
        held.pushReport(reportFocusWindow, 0, 0);  // the focus moves on: no key follows here
        int notices = 0;
        fromDll_waitInfoAdds r = {};
        while (held.popReport(r)) notices += r.kind == reportKeyData && (r.info2 & modifierPassedOn) != 0;
        EXPECT_EQ(c.noticesOfPassedKeys, notices);
        record.passThrough = 0;
        EXPECT_FALSE(arrives(keyParam(0x1E, false), false, '-')) << "the user's next press";
        EXPECT_EQ(c.ourEntry == 0, !held.isInjectedEmpty()) << "our entry waits for our key";
    }
}

}  // namespace
