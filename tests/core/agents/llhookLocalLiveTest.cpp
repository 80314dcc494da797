// The low-level hook agent's own machinery: what the hook procedure keeps and passes, the worker's
// start and stop, and the waits of the user-interface thread. These install a global keyboard
// hook, so they run alone on the desktop.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <thread>

#include "agentTestSupport.h"
#include "core/agents/agents.h"
#include "core/agents/llhookLocal.h"
#include "core/settings/settingsHolder.h"
#include "liveDesktop.h"

namespace {

KBDLLHOOKSTRUCT keyOf(DWORD scan, DWORD flags, DWORD vk = 0) {
    KBDLLHOOKSTRUCT key = {};
    key.scanCode = scan;
    key.flags = flags;
    key.vkCode = vk;
    key.time = GetTickCount();
    return key;
}

// An agent whose engine entry can be held or made to send to the user-interface thread, as a
// key command does.
class steeredAgent : public llhook_local {
public:
    using llhook_local::llhook_local;
    keyCode mapScancode(keyCode code) override {
        ++seen;
        if (target) {
            SetEvent(entered);
            SendMessageW(target, WM_USER + 7, code, 0);
        }
        if (gate) {
            SetEvent(entered);
            WaitForSingleObject(gate, 5000);
        }
        return code;
    }
    HWND target = nullptr;
    HANDLE gate = nullptr;
    HANDLE entered = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    std::atomic<int> seen{0};
};

// Records the keys that reach this thread's hook: the injected ones at the end of the chain, and
// the physical ones a hook installed after the agent's sees.
class keyObserver {
public:
    keyObserver() {
        self() = this;
        m_hook = SetWindowsHookExW(WH_KEYBOARD_LL, procedure, GetModuleHandleW(nullptr), 0);
    }
    ~keyObserver() {
        UnhookWindowsHookEx(m_hook);
        self() = nullptr;
    }
    std::vector<DWORD> pressed;  // scan codes of injected presses
    std::vector<DWORD> pressedFlags;
    std::vector<DWORD> released;  // scan codes of injected releases
    std::vector<DWORD> physicalPressed;  // scan codes
    DWORD swallowedVk = 0;  // a physical key this hook takes for itself, as a hotkey tool does

private:
    static keyObserver*& self() {
        static keyObserver* p = nullptr;
        return p;
    }
    static LRESULT CALLBACK procedure(int code, WPARAM w, LPARAM l) {
        auto* key = reinterpret_cast<KBDLLHOOKSTRUCT*>(l);
        if (code == 0 && self() && (key->flags & LLKHF_INJECTED) && !(key->flags & LLKHF_UP)) {
            self()->pressed.push_back(key->scanCode);
            self()->pressedFlags.push_back(key->flags);
        }
        if (code == 0 && self() && (key->flags & LLKHF_INJECTED) && (key->flags & LLKHF_UP))
            self()->released.push_back(key->scanCode);
        if (code == 0 && self() && !(key->flags & (LLKHF_INJECTED | LLKHF_UP)))
            self()->physicalPressed.push_back(key->scanCode);
        if (code == 0 && self() && !(key->flags & LLKHF_INJECTED) && key->vkCode == self()->swallowedVk)
            return 1;
        return CallNextHookEx(nullptr, code, w, l);
    }
    HHOOK m_hook;
};

class messageWindow {
public:
    messageWindow() {
        WNDCLASSW wc = {};
        wc.lpfnWndProc = procedure;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.lpszClassName = L"tvnLlhookSentTarget";
        RegisterClassW(&wc);
        handle = CreateWindowExW(0, wc.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                 wc.hInstance, nullptr);
        received() = 0;
    }
    ~messageWindow() { DestroyWindow(handle); }
    static int& received() {
        static int n = 0;
        return n;
    }
    HWND handle;

private:
    static LRESULT CALLBACK procedure(HWND w, UINT m, WPARAM wp, LPARAM lp) {
        if (m == WM_USER + 7) ++received();
        return DefWindowProcW(w, m, wp, lp);
    }
};

class llhookLocalTest : public ::testing::Test {
protected:
    llhookLocalTest() : log(makeTestLog()), holder(log, &link, testVersion(), getEmptyHandler(log, nullptr)) {
        holder.setAllToDefault();
        holder.readCache();
    }
    agentFakeLink link;
    std::shared_ptr<omsgstream> log;
    settingsHolder holder;
};

TEST(llhookKeyCode, ExtendedMarkExceptForRightShiftAndNumLock) {
    EXPECT_EQ(0x1E, llhook_local::hookKeyCode({0x1E, 0, 'A', 0}));
    EXPECT_EQ(0x9C, llhook_local::hookKeyCode({0x1C, LLKHF_EXTENDED, VK_RETURN, 0}));
    EXPECT_EQ(0x36, llhook_local::hookKeyCode({0x36, LLKHF_EXTENDED, VK_RSHIFT, 0}));
    EXPECT_EQ(0x45, llhook_local::hookKeyCode({0x45, LLKHF_EXTENDED, VK_NUMLOCK, 0}));
    EXPECT_EQ(0x7B, llhook_local::hookKeyCode({0x17B, 0, 0, 0}));  // only the low 7 bits
}

// NumLock's key code has no extended mark, but the system knows NumLock only as an extended key
// (without it, scan code 0x45 is Pause). Right Shift is never extended; Pause passes as it came.
TEST_F(llhookLocalTest, KeysTypedAgainKeepTheirIdentity) {
    keyObserver observer;
    steeredAgent agent(&link, log, &holder);
    ASSERT_TRUE(agent.resume());
    const struct {
        const char* what;
        KBDLLHOOKSTRUCT key;
        bool extended;
    } cases[] = {
        {"NumLock", keyOf(0x45, LLKHF_EXTENDED, VK_NUMLOCK), true},
        {"right Shift", keyOf(0x36, LLKHF_EXTENDED, VK_RSHIFT), false},
        {"Pause", keyOf(0x45, 0, VK_PAUSE), false},
        {"keypad Enter", keyOf(0x1C, LLKHF_EXTENDED, VK_RETURN), true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        observer.pressed.clear();
        observer.pressedFlags.clear();
        KBDLLHOOKSTRUCT up = c.key;
        up.flags |= LLKHF_UP;
        ASSERT_EQ(-1, agent.hookKey(WM_KEYDOWN, c.key));
        ASSERT_EQ(-1, agent.hookKey(WM_KEYUP, up));
        ASSERT_TRUE(pumpUntil([&] { return !observer.pressed.empty(); }, 2000));
        EXPECT_EQ(c.key.scanCode, observer.pressed[0]);
        EXPECT_EQ(c.extended, (observer.pressedFlags[0] & LLKHF_EXTENDED) != 0);
    }
    EXPECT_TRUE(agent.pause());
}

// Windows removes a low-level hook that answered too late, and says nothing: the agent notices
// the session's input going on without its hook, installs the hook again and lets go of what the
// engine held, whose release went by unseen.
TEST_F(llhookLocalTest, AHookWindowsDroppedIsInstalledAgainAndTheHeldKeysComeUp) {
    // The session's keys go to a window of the foreground (Wine reports keyboard input to the
    // agent's watch only while there is one).
    liveTargetWindow window;
    window.focus();
    keyObserver observer;
    steeredAgent agent(&link, log, &holder);
    ASSERT_TRUE(agent.resume());
    KBDLLHOOKSTRUCT a = keyOf(0x1E, 0);
    ASSERT_EQ(-1, agent.hookKey(WM_KEYDOWN, a));
    ASSERT_TRUE(pumpUntil([&] { return !observer.pressed.empty(); }, 2000));
    pumpMessages(100);
    takeLogText(*log);

    const HHOOK dropped = agent.hookHandle();
    ASSERT_TRUE(UnhookWindowsHookEx(dropped));
    INPUT shift[2] = {};
    shift[0].type = shift[1].type = INPUT_KEYBOARD;
    shift[0].ki.wVk = shift[1].ki.wVk = VK_LSHIFT;
    shift[1].ki.dwFlags = KEYEVENTF_KEYUP;
    // Input the session has and the agent's hook never sees (sent from another thread: the
    // observer's hook is called through this one's message loop).
    std::thread sender([&] { SendInput(2, shift, sizeof(INPUT)); });

    EXPECT_TRUE(pumpUntil([&] { return agent.hookHandle() != dropped; }, 4000));
    sender.join();
    EXPECT_TRUE(pumpUntil([&] {
        return std::count(observer.released.begin(), observer.released.end(), 0x1Eu) == 1;
    }, 2000)) << "a stays down";
    EXPECT_NE(std::wstring::npos, takeLogText(*log).find(L"Windows に外されていたフックを掛け直しました。"));
    EXPECT_TRUE(agent.pause());
}

// A Shift pressed while the agent's hook let keys by went to the system raw; the engine never saw
// it. Its release, which the hook takes, must bring it up all the same, or every key after it comes
// out shifted.
TEST_F(llhookLocalTest, AModifierPressedPastTheHookComesUpWithItsRelease) {
    liveTargetWindow window;  // in the foreground, as for the dropped hook above
    window.focus();
    keyObserver observer;
    steeredAgent agent(&link, log, &holder);
    ASSERT_TRUE(agent.resume());
    for (bool dropped : {false, true}) {
        SCOPED_TRACE(dropped ? "the hook dropped" : "the agent paused");
        const HHOOK hook = agent.hookHandle();
        if (dropped)
            ASSERT_TRUE(UnhookWindowsHookEx(hook));
        else
            ASSERT_TRUE(agent.pause());
        INPUT shift = {};
        shift.type = INPUT_KEYBOARD;
        shift.ki.wVk = VK_LSHIFT;
        shift.ki.wScan = 0x2A;
        std::thread sender([&] { SendInput(1, &shift, sizeof(INPUT)); });
        EXPECT_TRUE(pumpUntil([] { return (GetAsyncKeyState(VK_LSHIFT) & 0x8000) != 0; }, 2000));
        sender.join();
        if (dropped)
            ASSERT_TRUE(pumpUntil([&] { return agent.hookHandle() != hook; }, 4000));
        else
            ASSERT_TRUE(agent.resume());

        observer.pressed.clear();
        ASSERT_EQ(-1, agent.hookKey(WM_KEYUP, keyOf(0x2A, LLKHF_UP, VK_LSHIFT)));
        ASSERT_EQ(-1, agent.hookKey(WM_KEYDOWN, keyOf(0x2C, 0)));  // z
        ASSERT_EQ(-1, agent.hookKey(WM_KEYUP, keyOf(0x2C, LLKHF_UP)));
        EXPECT_TRUE(pumpUntil([&] { return !observer.pressed.empty(); }, 2000));
        pumpMessages(100);
        EXPECT_EQ(0, GetAsyncKeyState(VK_LSHIFT) & 0x8000) << "Shift stays down";
        // Whatever the outcome, the session's Shift comes up for the next case.
        shift.ki.dwFlags = KEYEVENTF_KEYUP;
        SendInput(1, &shift, sizeof(INPUT));
        pumpMessages(50);
    }
    EXPECT_TRUE(agent.pause());
}

// A Shift the engine sent down that the system has up again (its release went where the hook
// never saw it: another desktop, an elevated window) comes up when the worker next takes a key,
// or when the foreground window changes.
TEST_F(llhookLocalTest, AModifierTheSystemLetGoIsReleasedAtTheNextKeyOrForegroundChange) {
    liveTargetWindow window, other;
    ASSERT_TRUE(window.focus());
    keyObserver observer;
    steeredAgent agent(&link, log, &holder);
    ASSERT_TRUE(agent.resume());
    for (bool byKey : {true, false}) {
        SCOPED_TRACE(byKey ? "a key" : "the foreground changed");
        ASSERT_EQ(-1, agent.hookKey(WM_KEYDOWN, keyOf(0x2A, 0, VK_LSHIFT)));
        ASSERT_TRUE(pumpUntil([] { return (GetAsyncKeyState(VK_LSHIFT) & 0x8000) != 0; }, 2000));
        INPUT up = {};
        up.type = INPUT_KEYBOARD;
        up.ki.wVk = VK_LSHIFT;
        up.ki.wScan = 0x2A;
        up.ki.dwFlags = KEYEVENTF_KEYUP;
        std::thread sender([&] { SendInput(1, &up, sizeof(INPUT)); });
        pumpMessages(300);  // past the time an injected press takes to reach the key state
        sender.join();
        takeLogText(*log);
        if (byKey) {
            ASSERT_EQ(-1, agent.hookKey(WM_KEYDOWN, keyOf(0x2C, 0)));  // z
            ASSERT_EQ(-1, agent.hookKey(WM_KEYUP, keyOf(0x2C, LLKHF_UP)));
        } else {
            ASSERT_TRUE(other.focus());
        }
        std::wstring logged;
        EXPECT_TRUE(pumpUntil([&] {
            logged += takeLogText(*log);
            return logged.find(L"離されたまま押下中になっていた修飾キー") != std::wstring::npos;
        }, 2000)) << "the engine still holds Shift";
        pumpMessages(100);
    }
    EXPECT_TRUE(agent.pause());
}

// A hook installed anew goes first in the system's chain. A program that hooked the keyboard
// after Tavolin must keep seeing the physical keys: moving the mouse, a resume, or a hotkey that
// program takes for itself (the agent's hook never sees it, the session's input does) leaves the
// agent's hook where it is.
TEST_F(llhookLocalTest, AHookInstalledLaterKeepsSeeingThePhysicalKeys) {
    if (!xdotoolAvailable()) GTEST_SKIP() << "no X display with xdotool";
    liveTargetWindow window;
    ASSERT_TRUE(window.focus());
    steeredAgent agent(&link, log, &holder);
    ASSERT_TRUE(agent.resume());
    pumpMessages(100);
    keyObserver later;
    later.swallowedVk = VK_F12;
    const HHOOK hook = agent.hookHandle();
    const struct {
        const char* after;
        const wchar_t* typed;  // null: the agent pauses and resumes
    } steps[] = {
        {"the start", L"sleep 0"},
        {"the mouse moved", L"mousemove 100 100 sleep 0.1 mousemove 300 200 sleep 0.1 mousemove 120 140"},
        {"keys and the mouse", L"mousemove 200 200 key s mousemove 250 100"},
        {"a resume", nullptr},
        {"the later hook swallowed its hotkey", L"key F12 sleep 0.3 key F12 sleep 0.3 key F12"},
    };
    for (const auto& step : steps) {
        SCOPED_TRACE(step.after);
        if (step.typed) {
            runXdotool(step.typed);
        } else {
            ASSERT_TRUE(agent.pause());
            ASSERT_TRUE(agent.resume());
        }
        pumpMessages(400);
        later.physicalPressed.clear();
        runXdotool(L"key s");
        EXPECT_TRUE(pumpUntil([&] { return !later.physicalPressed.empty(); }, 2000)) << "the later hook misses s";
        EXPECT_EQ(hook, agent.hookHandle()) << "the agent's hook installed anew";
    }
    EXPECT_TRUE(agent.pause());
}

// Pause is passed on as it came, but in its place: after the output of the keys before it, which
// game mode paces, and before the keys after it.
TEST_F(llhookLocalTest, PauseKeepsItsPlaceAmongThePacedOutput) {
    holder.setBool("GameSwitch", true);
    holder.setInt("WinOutputTimer", 10060);
    holder.readCache();
    keyObserver observer;
    steeredAgent agent(&link, log, &holder);
    ASSERT_TRUE(agent.resume());
    for (DWORD scan : {0x1Eu, 0x30u}) {  // a, b
        ASSERT_EQ(-1, agent.hookKey(WM_KEYDOWN, keyOf(scan, 0)));
        ASSERT_EQ(-1, agent.hookKey(WM_KEYUP, keyOf(scan, LLKHF_UP)));
    }
    ASSERT_EQ(-1, agent.hookKey(WM_KEYDOWN, keyOf(0x45, 0, VK_PAUSE)));
    ASSERT_EQ(-1, agent.hookKey(WM_KEYUP, keyOf(0x45, LLKHF_UP, VK_PAUSE)));
    ASSERT_EQ(-1, agent.hookKey(WM_KEYDOWN, keyOf(0x2E, 0)));  // c
    ASSERT_EQ(-1, agent.hookKey(WM_KEYUP, keyOf(0x2E, LLKHF_UP)));
    EXPECT_TRUE(pumpUntil([&] { return observer.pressed.size() >= 4; }, 3000));
    EXPECT_EQ((std::vector<DWORD>{0x1E, 0x30, 0x45, 0x2E}), observer.pressed);
    EXPECT_TRUE(agent.pause());
}

TEST_F(llhookLocalTest, HookKeepsPhysicalKeysOnlyWhileTheWorkerRuns) {
    steeredAgent agent(&link, log, &holder);
    HANDLE gate = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    agent.gate = gate;  // hold the worker on the first key so the queue can be seen

    KBDLLHOOKSTRUCT a = keyOf(0x1E, 0);
    EXPECT_TRUE(agent.isIdle());
    EXPECT_NE(-1, agent.hookKey(WM_KEYDOWN, a));  // idle: passed on
    EXPECT_EQ(0u, agent.queuedEvents());

    ASSERT_TRUE(agent.resume());
    EXPECT_TRUE(agent.hookInstalled());
    EXPECT_FALSE(agent.isIdle());
    EXPECT_EQ(-1, agent.hookKey(WM_KEYDOWN, a));
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(agent.entered, 2000));

    KBDLLHOOKSTRUCT injected = keyOf(0x1F, LLKHF_INJECTED);
    KBDLLHOOKSTRUCT noScan = keyOf(0, 0, VK_PACKET);
    KBDLLHOOKSTRUCT b = keyOf(0x30, 0);
    EXPECT_NE(-1, agent.hookKey(WM_KEYDOWN, injected));
    EXPECT_NE(-1, agent.hookKey(WM_KEYDOWN, noScan));
    EXPECT_EQ(-1, agent.hookKey(WM_KEYDOWN, b));
    EXPECT_EQ(1u, agent.queuedEvents());

    SetEvent(gate);
    EXPECT_TRUE(pumpUntil([&] { return agent.seen == 2; }, 2000));
    agent.gate = nullptr;
    EXPECT_TRUE(agent.pause());
    EXPECT_TRUE(agent.isIdle());
    EXPECT_TRUE(agent.hookInstalled());  // kept for the next resume
    EXPECT_NE(-1, agent.hookKey(WM_KEYDOWN, b));
    CloseHandle(gate);
}

TEST_F(llhookLocalTest, ResumeTwiceRunsOneWorkerAndPauseRightAfterResumeFindsIt) {
    steeredAgent agent(&link, log, &holder);
    for (int i = 0; i < 20; ++i) {
        ASSERT_TRUE(agent.resume());
        ASSERT_TRUE(agent.pause());
        ASSERT_TRUE(agent.isIdle());
    }
    takeLogText(*log);
    ASSERT_TRUE(agent.resume());
    ASSERT_TRUE(agent.resume());
    std::wstring logged = takeLogText(*log);
    EXPECT_NE(std::wstring::npos, logged.find(L"llhook_local::resume() スレッドはすでに動作しています。"));
    EXPECT_TRUE(agent.pause());
    EXPECT_NE(std::wstring::npos, takeLogText(*log).find(L"llhook_local::pause() の処理が完了。"));
}

TEST_F(llhookLocalTest, PauseServesMessagesTheWorkerSendsMeanwhile) {
    steeredAgent agent(&link, log, &holder);
    messageWindow window;
    agent.target = window.handle;
    ASSERT_TRUE(agent.resume());
    KBDLLHOOKSTRUCT a = keyOf(0x1E, 0);
    ASSERT_EQ(-1, agent.hookKey(WM_KEYDOWN, a));
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(agent.entered, 2000));
    // No pumping here: the worker's synchronous send can only be answered by pause's wait.
    DWORD start = GetTickCount();
    EXPECT_TRUE(agent.pause());
    EXPECT_LT(GetTickCount() - start, 3000u);
    EXPECT_EQ(1, messageWindow::received());
}

TEST_F(llhookLocalTest, KeysStillQueuedAtPauseReachTheApplicationUnconverted) {
    keyObserver observer;
    steeredAgent agent(&link, log, &holder);
    HANDLE gate = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    agent.gate = gate;
    ASSERT_TRUE(agent.resume());

    KBDLLHOOKSTRUCT first = keyOf(0x10, 0), second = keyOf(0x11, 0), third = keyOf(0x12, LLKHF_EXTENDED);
    ASSERT_EQ(-1, agent.hookKey(WM_KEYDOWN, first));
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(agent.entered, 2000));
    ASSERT_EQ(-1, agent.hookKey(WM_KEYDOWN, second));
    ASSERT_EQ(-1, agent.hookKey(WM_KEYDOWN, third));

    // Open the gate only once pause is waiting.
    std::thread opener([&] {
        Sleep(150);
        SetEvent(gate);
    });
    EXPECT_TRUE(agent.pause());
    opener.join();
    EXPECT_EQ(0u, agent.queuedEvents());
    EXPECT_EQ(1, agent.seen.load());  // the two queued keys were not converted
    pumpUntil([&] { return observer.pressed.size() >= 2; }, 2000);
    ASSERT_GE(observer.pressed.size(), 2u);
    EXPECT_EQ(0x11u, observer.pressed[observer.pressed.size() - 2]);
    EXPECT_EQ(0x12u, observer.pressed.back());
    CloseHandle(gate);
}

TEST_F(llhookLocalTest, KanaKeyIsLoggedBeforeConversion) {
    steeredAgent agent(&link, log, &holder);
    ASSERT_TRUE(agent.resume());
    takeLogText(*log);
    KBDLLHOOKSTRUCT down = keyOf(0x70, 0), up = keyOf(0x70, LLKHF_UP);
    agent.hookKey(WM_KEYDOWN, down);
    agent.hookKey(WM_KEYUP, up);
    pumpUntil([&] { return agent.seen == 2; }, 2000);
    agent.pause();
    std::wstring logged = takeLogText(*log);
    size_t pressed = logged.find(L"ひらがなカタカナ■");
    size_t released = logged.find(L"ひらがなカタカナ□");
    EXPECT_NE(std::wstring::npos, pressed);
    EXPECT_NE(std::wstring::npos, released);
    EXPECT_LT(pressed, released);
}

// The worker rests between keys: a clock tick while nothing waits, a millisecond while output
// is held back; a key ends a rest at once.
TEST(llhookLocalRest, WorkerPollsByTheTickWhenIdleByTheMillisecondWhenBusyAndWakesForAKey) {
    keyQueueLink link;  // counts the worker's passes by their report requests
    auto log = makeTestLog();
    settingsHolder holder(log, &link, testVersion(), getEmptyHandler(log, nullptr));
    holder.setAllToDefault();
    holder.readCache();
    steeredAgent agent(&link, log, &holder);
    ASSERT_TRUE(agent.resume());
    auto passesIn = [&](DWORD ms) {
        const long before = link.reportPolls;
        pumpMessages(ms);
        return link.reportPolls - before;
    };
    pumpMessages(100);
    // About 40 passes at the tick; polling every millisecond would make hundreds.
    const long idle = passesIn(600);
    EXPECT_LT(idle, 100);
    EXPECT_GT(idle, 10);  // the timer poll and the reports keep their cadence

    // Each key, typed into an idle worker, is converted at once, not at the end of a rest. The
    // wait is watched closely (serving this thread's messages), not in the 5 ms steps of
    // pumpUntil, whose first look often comes a few microseconds before the worker's wake-up.
    auto seenAfter = [&](int seen) {
        const DWORD start = GetTickCount();
        while (agent.seen <= seen) {
            MSG msg;
            while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
            if (GetTickCount() - start > 2000) return false;
            SwitchToThread();
        }
        return true;
    };
    // A missed signal waits half a rest on average, round after round; a loaded machine delays
    // a wake-up now and then. So the median of ten keys is taken up to three times.
    auto medianWait = [&]() -> double {
        std::vector<double> waits;
        for (int i = 0; i < 10; ++i) {
            pumpMessages(40);
            const int seen = agent.seen;
            LARGE_INTEGER start, end;
            QueryPerformanceCounter(&start);
            KBDLLHOOKSTRUCT down = keyOf(0x7B, 0), up = keyOf(0x7B, LLKHF_UP);  // 無変換
            if (agent.hookKey(WM_KEYDOWN, down) != -1 || !seenAfter(seen)) return 1e9;
            QueryPerformanceCounter(&end);
            waits.push_back(counterMicroseconds(start.QuadPart, end.QuadPart) / 1000.0);
            if (agent.hookKey(WM_KEYUP, up) != -1 ||
                !pumpUntil([&] { return agent.seen > seen + 1 && agent.queuedOutput() == 0; }, 2000))
                return 1e9;
        }
        std::sort(waits.begin(), waits.end());
        return waits[waits.size() / 2];
    };
    std::vector<double> medians;
    for (int round = 0; round < 3 && (medians.empty() || medians.back() >= 5.0); ++round)
        medians.push_back(medianWait());
    EXPECT_LT(medians.back(), 5.0) << "medians of each round, ms: " << ::testing::PrintToString(medians);

    // Output held back keeps the worker polling.
    link.mustWait = true;
    KBDLLHOOKSTRUCT down = keyOf(0x7B, 0), up = keyOf(0x7B, LLKHF_UP);
    ASSERT_EQ(-1, agent.hookKey(WM_KEYDOWN, down));
    ASSERT_TRUE(pumpUntil([&] { return agent.queuedOutput() != 0; }, 2000));
    // By the millisecond that is some fifteen times the resting cadence; a loaded machine
    // stretches every pass, so only a clear step up from the tick is asked for.
    const long busy = passesIn(300);
    EXPECT_GT(busy * 2, idle * 3) << busy << " passes in 300 ms, " << idle << " in 600 ms at rest";
    link.mustWait = false;
    ASSERT_EQ(-1, agent.hookKey(WM_KEYUP, up));
    EXPECT_TRUE(pumpUntil([&] { return agent.queuedOutput() == 0 && agent.seen >= 22; }, 2000));
    EXPECT_TRUE(agent.pause());
}

}  // namespace
