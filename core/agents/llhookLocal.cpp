#ifndef TVN_ANSI

#include "core/agents/llhookLocal.h"

#include <process.h>

#include "core/engine/keyCodes.h"
#include "core/platform/omsgstream.h"

namespace {

// The hook procedure has no user argument: it finds the agent here.
llhook_local* volatile g_agent = nullptr;

// Windows finds the key of a scan-code input itself and ignores wVk. Wine takes wVk as given: with 0
// the application would see virtual key 0 and no character, so it carries the key the scan code
// stands for (the E0 form for an extended key; systems that don't know that form answer 0).
WORD virtualKeyOfScanCode(DWORD scanCode, DWORD flags) {
    UINT scan = scanCode & 0xFF;
    UINT vk = 0;
    if (flags & KEYEVENTF_EXTENDEDKEY) vk = MapVirtualKeyW(0xE000 | scan, MAPVK_VSC_TO_VK_EX);
    if (vk == 0) vk = MapVirtualKeyW(scan, MAPVK_VSC_TO_VK_EX);
    return static_cast<WORD>(vk);
}

void sendScanCode(DWORD scanCode, DWORD flags) {
    INPUT input = {};
    input.type = INPUT_KEYBOARD;
    input.ki.wVk = virtualKeyOfScanCode(scanCode, flags);
    input.ki.wScan = static_cast<WORD>(scanCode);
    input.ki.dwFlags = KEYEVENTF_SCANCODE | flags;
    SendInput(1, &input, sizeof input);
}

// Waits for any of the handles while serving messages sent to this thread. The worker may send
// to the main window (a key command) and Wine delivers low-level hook calls the same way, so a
// plain wait here could hang the worker that is being waited for.
DWORD waitServing(DWORD count, const HANDLE* handles, DWORD timeout) {
    DWORD start = GetTickCount();
    for (;;) {
        DWORD elapsed = GetTickCount() - start;
        DWORD left = timeout == INFINITE ? INFINITE : (elapsed >= timeout ? 0 : timeout - elapsed);
        DWORD r = MsgWaitForMultipleObjects(count, handles, FALSE, left, QS_SENDMESSAGE);
        if (r == WAIT_OBJECT_0 + count) {
            MSG msg;
            PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
            continue;
        }
        return r;
    }
}

// How long the worker rests while the engine waits for a time: the waits of chords and of the
// output pacing are counted in milliseconds.
const DWORD kBusyRest = 1;
// How long it rests while nothing waits: the ordinary tick of the system clock (about 15 ms),
// which keeps the timer poll and the draining of the hook library's reports at their cadence
// without waking an idle program a thousand times a second. A key wakes it at once either way.
const DWORD kIdleRest = 15;

}  // namespace

llhook_local::llhook_local(dllLinkInterface* link, logStream log, settingsHolder* holder)
    : inputHandler(link, std::move(log), holder),
      m_started(CreateEventW(nullptr, FALSE, FALSE, nullptr)),
      m_ended(CreateEventW(nullptr, FALSE, FALSE, nullptr)),
      m_wake(CreateEventW(nullptr, FALSE, FALSE, nullptr)) {
    g_agent = this;
}

llhook_local::~llhook_local() {
    pause();
    if (g_agent == this) g_agent = nullptr;
    CloseHandle(m_started);
    CloseHandle(m_ended);
    CloseHandle(m_wake);
    if (m_hook) UnhookWindowsHookEx(m_hook);
}

keyCode llhook_local::mapScancode(keyCode code) { return code; }
std::wstring llhook_local::displayName() { return L"Windows2000/XP専用入力代行"; }
bool llhook_local::setFlag(unsigned char value) { return value != 0; }
std::wstring llhook_local::id() { return L"LLHk"; }

keyCode llhook_local::hookKeyCode(const hookEvent& event) {
    keyCode code = static_cast<keyCode>(event.scanCode & 0x7F);
    if ((event.flags & LLKHF_EXTENDED) && event.vk != VK_RSHIFT && event.vk != VK_NUMLOCK)
        code = static_cast<keyCode>(code | 0x80);
    return code;
}

LRESULT CALLBACK llhook_local::hookProcedure(int code, WPARAM wParam, LPARAM lParam) {
    llhook_local* agent = g_agent;
    if (code != 0 || !agent) return CallNextHookEx(nullptr, code, wParam, lParam);
    return agent->hookKey(wParam, *reinterpret_cast<const KBDLLHOOKSTRUCT*>(lParam));
}

LRESULT llhook_local::hookKey(WPARAM wParam, const KBDLLHOOKSTRUCT& key) {
    LPARAM lParam = reinterpret_cast<LPARAM>(&key);
    // Our own output and every other program's injected keys pass untouched: no feedback loop.
    if (m_idle || (key.flags & LLKHF_INJECTED) || key.scanCode == 0)
        return CallNextHookEx(m_hook, 0, wParam, lParam);
    bool queued = false;
    {
        scopedLock guard(m_queueLock);
        // The worker sets idle under this lock as it ends, so a key is either queued for a
        // running worker or passed on here, never stranded in between.
        if (!m_idle) {
            m_events.push_back({key.scanCode, key.flags, key.vkCode, key.time});
            queued = true;
        }
    }
    if (!queued) return CallNextHookEx(m_hook, 0, wParam, lParam);
    // Only a resting worker needs the signal; a busy one looks at the queue before it rests.
    // Signalling is a call into the system (under Wine a server round trip), which the hook
    // procedure spares itself when it can.
    if (InterlockedExchange(&m_resting, 0)) SetEvent(m_wake);
    return -1;
}

size_t llhook_local::queuedEvents() {
    scopedLock guard(m_queueLock);
    return m_events.size();
}

unsigned __stdcall llhook_local::workerMain(void* agent) {
    static_cast<llhook_local*>(agent)->workerLoop();
    return 0;
}

void llhook_local::workerLoop() {
    {
        scopedLock guard(m_queueLock);
        m_idle = 0;
    }
    SetEvent(m_started);
    SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_ABOVE_NORMAL);
    while (!m_stopRequest) {
        // Also before every key: the reports of the hook library (the IME's state) that came
        // in meanwhile must steer the key's conversion.
        periodicStep();
        hookEvent event;
        bool taken = false;
        {
            scopedLock guard(m_queueLock);
            if (!m_events.empty()) {
                event = m_events.front();
                m_events.pop_front();
                taken = true;
            } else {
                // Announced under the lock that a queued key is seen under, so the hook
                // procedure either leaves its key for this look or signals the rest below.
                InterlockedExchange(&m_resting, 1);
            }
        }
        if (taken) {
            if (event.scanCode == 0x70)
                logWideLine((event.flags & LLKHF_UP) ? L"ひらがなカタカナ□" : L"ひらがなカタカナ■");
            handleEvent(event);
            Sleep(0);
        } else {
            // A key queued from now on ends the rest at once.
            WaitForSingleObject(m_wake, restTime());
            InterlockedExchange(&m_resting, 0);
        }
    }
    // Nothing the engine sent down may stay down once the keys stop coming here: the releases of
    // the keys still held would otherwise reach the system raw, or another agent's engine, which
    // knows nothing of them. Then the keys not yet converted go on as they came.
    releaseHeldKeysAndWait(500);
    passOnQueued();
    SetEvent(m_ended);
}

DWORD llhook_local::restTime() {
    return awaitsPoll() || queuedOutput() != 0 ? kBusyRest : kIdleRest;
}

void llhook_local::passOnQueued() {
    std::deque<hookEvent> left;
    {
        scopedLock guard(m_queueLock);
        m_idle = 1;
        left.swap(m_events);
    }
    // Keys the user typed just before the pause still reach the application, unconverted.
    for (const hookEvent& event : left) passOn(event);
}

void llhook_local::handleEvent(const hookEvent& event) {
    bool down = (event.flags & LLKHF_UP) == 0;
    inputKey(hookKeyCode(event), down, static_cast<int>(event.time), [&] { passOn(event); });
}

void llhook_local::passOn(const hookEvent& event) {
    DWORD flags = 0;
    if (event.flags & LLKHF_UP) flags |= KEYEVENTF_KEYUP;
    if (event.flags & LLKHF_EXTENDED) flags |= KEYEVENTF_EXTENDEDKEY;
    sendScanCode(event.scanCode, flags);
}

bool llhook_local::outputKey(const keyOutputEvent& event) {
    if (!outputAllowed()) return false;
    if (functionKeyCommand(event)) return true;
    keyCode code = event.keyCode;
    DWORD flags = 0;
    if (code & 0x80) flags |= KEYEVENTF_EXTENDEDKEY;
    if (!event.down) flags |= KEYEVENTF_KEYUP;
    sendScanCode(code & 0x7F, flags);
    return keyLog(static_cast<keyCode>(code & 0x7F), (code & 0x80) != 0, event.down, event);
}

bool llhook_local::resume() {
    scopedLock guard(m_controlLock);
    if (!m_hook) {
        logWideLine(L"llhook_local::resume() の SetWindowsHookExを実行します。");
        m_hook = SetWindowsHookExW(WH_KEYBOARD_LL, hookProcedure, GetModuleHandleW(nullptr), 0);
        if (!m_hook) {
            logWideLine(L"llhook_local::resume() においてフックハンドルが確認できません。");
            return false;
        }
    }
    if (!m_worker) {
        m_stopRequest = 0;
        ResetEvent(m_started);
        ResetEvent(m_ended);
        m_worker = reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, workerMain, this, 0, nullptr));
        if (!m_worker) {
            logWideLine(L"llhook_local::resume() においてスレッドを開始できませんでした。");
            return false;
        }
        // Return only once the worker runs, so a pause right after this finds it.
        HANDLE handles[] = {m_started, m_worker};
        waitServing(2, handles, INFINITE);
    } else {
        logWideLine(L"llhook_local::resume() スレッドはすでに動作しています。");
    }
    logWideLine(L"llhook_local::resume() の処理が完了しました。");
    announce();
    return true;
}

bool llhook_local::pause() {
    scopedLock guard(m_controlLock);
    if (m_worker) {
        logWideLine(L"llhook_local::pause() でスレッド停止待ちを行います。");
        HANDLE handles[] = {m_ended, m_worker};
        do {
            InterlockedExchange(&m_stopRequest, 1);
            SetEvent(m_wake);
        } while (waitServing(2, handles, 100) == WAIT_TIMEOUT);
        WaitForSingleObject(m_worker, INFINITE);
        CloseHandle(m_worker);
        m_worker = nullptr;
    }
    logWideLine(L"llhook_local::pause() の処理が完了。");
    return true;
}

bool llhook_local::stop() {
    pause();
    scopedLock guard(m_controlLock);
    if (m_hook) {
        UnhookWindowsHookEx(m_hook);
        m_hook = nullptr;
    }
    return true;
}

#endif  // TVN_ANSI
