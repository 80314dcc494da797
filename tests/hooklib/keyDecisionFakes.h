// What the keyboard hook's decision needs from the system, faked for the tests of both builds'
// libraries: a lock that is always had, a fixed clock, and a host that records what it is asked.
#pragma once

#include "hooklib/hooks.h"

#include <functional>
#include <set>
#include <utility>
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
    // Like the library in another bitness's application, a host that keeps nothing makes the
    // keyboard hook decide alone (keeps false: the keyboard hook's own decision is under test).
    bool rememberKey(const rememberedKey& key) override
    {
        if (otherProcess || !keeps) return false;
        taken = key;
        remembered = true;
        return true;
    }
    bool takeRemembered(rememberedKey& key) override
    {
        key = taken;
        return std::exchange(remembered, false);
    }
    bool servesAnotherProcess() override { return otherProcess; }
    rememberedKey taken = {};
    bool remembered = false;
    bool keeps = false;
    bool otherProcess = false;
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

}  // namespace
