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

// How long after a keyboard input the hook thread asks whether the hook saw it: the hook's call
// for a key comes around the key's raw input, a little before or after it.
const UINT kHookCheckDelay = 50;

// How much later than the hook's last call a keyboard input may come and still be a key the hook
// saw: the two come to the hook thread one right after the other, within a tick of the clock.
const std::int32_t kHookLateness = 20;

// A key the hook thread types to learn whether the hook is still called: the release of a key
// no keyboard has (virtual keys 0x97-0x9F are unassigned), marked as the agent's own, which the
// hook takes for itself so that no application sees it.
const WORD kProbeKey = 0x97;
const ULONG_PTR kProbeSign = 0x54766E50;
// How long the probe may take to reach the hook. Its call comes through the hook thread's own
// message loop, ahead of the timer's message, so a hook still in place has always had it by then.
const UINT kProbeWait = 250;

// How often the resting worker looks whether the foreground window or the desktop changed, ms.
const DWORD kForegroundCheckPeriod = 50;

// Raw input came with Windows XP; on Windows 2000 the program does without it.
using registerRawInputDevicesFunction = BOOL(WINAPI*)(PCRAWINPUTDEVICE, UINT, UINT);
using getRawInputDataFunction = UINT(WINAPI*)(HRAWINPUT, UINT, LPVOID, PUINT, UINT);
template <class Function>
Function user32Function(const char* name) {
    return reinterpret_cast<Function>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"user32.dll"), name)));
}

// Posted to the hook thread: install the hook again if keys went by it.
const UINT kCheckHookMessage = WM_APP + 1;

}  // namespace

llhook_local::llhook_local(dllLinkInterface* link, logStream log, settingsHolder* holder)
    : inputHandler(link, std::move(log), holder),
      m_hookReady(CreateEventW(nullptr, FALSE, FALSE, nullptr)),
      m_started(CreateEventW(nullptr, FALSE, FALSE, nullptr)),
      m_ended(CreateEventW(nullptr, FALSE, FALSE, nullptr)),
      m_wake(CreateEventW(nullptr, FALSE, FALSE, nullptr)) {
    g_agent = this;
}

llhook_local::~llhook_local() {
    pause();
    endHookThread();
    if (g_agent == this) g_agent = nullptr;
    CloseHandle(m_started);
    CloseHandle(m_ended);
    CloseHandle(m_wake);
    CloseHandle(m_hookReady);
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
    InterlockedExchange(&agent->m_lastHookTick, static_cast<LONG>(GetTickCount()));
    const auto& key = *reinterpret_cast<const KBDLLHOOKSTRUCT*>(lParam);
    if ((key.flags & LLKHF_INJECTED) && key.dwExtraInfo == kProbeSign) {
        InterlockedExchange(&agent->m_probeSeen, 1);
        return 1;
    }
    return agent->hookKey(wParam, key);
}

// ---------------------------------------------------------------- the hook thread

unsigned __stdcall llhook_local::hookThreadMain(void* agent) {
    static_cast<llhook_local*>(agent)->hookLoop();
    return 0;
}

void llhook_local::hookLoop() {
    // Windows calls a low-level hook through the message loop of the thread that installed it.
    MSG msg;
    PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE);
    SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_HIGHEST);
    m_hook = SetWindowsHookExW(WH_KEYBOARD_LL, hookProcedure, GetModuleHandleW(nullptr), 0);
    SetEvent(m_hookReady);
    if (!m_hook) return;
    m_lastHookTick = m_lastRawKeyTick = static_cast<LONG>(GetTickCount());
    m_rawKeyChecked = static_cast<DWORD>(m_lastRawKeyTick);
    // Every keyboard input of the session reaches this window as raw input, whichever program
    // has the focus and whether the hook saw it or not.
    HWND sink = CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                GetModuleHandleW(nullptr), nullptr);
    const auto registerDevices = user32Function<registerRawInputDevicesFunction>("RegisterRawInputDevices");
    RAWINPUTDEVICE keyboard = {0x01, 0x06, RIDEV_INPUTSINK, sink};
    if (!sink || !registerDevices || !registerDevices(&keyboard, 1, sizeof keyboard))
        logWideLine(L"llhook_local: キーボードの入力を見張れません。外されたフックは掛け直されません。");
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        if (msg.message == WM_INPUT) noteRawInput(reinterpret_cast<HRAWINPUT>(msg.lParam));
        if (msg.hwnd == nullptr && msg.message == WM_TIMER && m_probeTimer && msg.wParam == m_probeTimer)
            probeAnswered();
        else if (msg.hwnd == nullptr && (msg.message == WM_TIMER || msg.message == kCheckHookMessage))
            checkHook();
        else
            DispatchMessageW(&msg);
    }
    if (m_checkTimer) KillTimer(nullptr, m_checkTimer);
    if (m_probeTimer) KillTimer(nullptr, m_probeTimer);
    m_checkTimer = m_probeTimer = 0;
    if (sink) {
        keyboard.dwFlags = RIDEV_REMOVE;
        keyboard.hwndTarget = nullptr;
        if (registerDevices) registerDevices(&keyboard, 1, sizeof keyboard);
        DestroyWindow(sink);
    }
    UnhookWindowsHookEx(m_hook);
    m_hook = nullptr;
}

void llhook_local::noteRawInput(HRAWINPUT input) {
    static const auto getData = user32Function<getRawInputDataFunction>("GetRawInputData");
    RAWINPUTHEADER header = {};
    UINT size = sizeof header;
    if (!getData || getData(input, RID_HEADER, &header, &size, sizeof header) == static_cast<UINT>(-1) ||
        header.dwType != RIM_TYPEKEYBOARD)
        return;
    InterlockedExchange(&m_lastRawKeyTick, static_cast<LONG>(GetTickCount()));
    if (!m_checkTimer) m_checkTimer = SetTimer(nullptr, 0, kHookCheckDelay, nullptr);
}

// Windows removes a low-level hook that once answered too late, and says nothing. Keyboard input
// the hook was not called for is the sign, and only then is the hook installed anew: a hook
// installed anew goes first in the system's chain, ahead of the hooks other programs installed
// after ours, which would then see only our converted keys. The sign alone is not enough: such a
// program's hook is called before ours, and a hotkey it takes for itself never reaches ours, yet
// the session had the input. So a probe key goes out first, and only a hook that does not get it
// is gone. The new hook goes in before the old one comes out, so no key slips past; and an old
// hook that Windows had already removed cannot be removed again, which tells whether it was gone.
void llhook_local::checkHook() {
    if (m_checkTimer) KillTimer(nullptr, m_checkTimer);
    m_checkTimer = 0;
    const DWORD raw = static_cast<DWORD>(m_lastRawKeyTick);
    if (raw == m_rawKeyChecked) return;
    m_rawKeyChecked = raw;
    // Input while a probe is out (the probe's own among it) waits for the probe's answer.
    if (m_probeTimer) return;
    if (tickDifference(static_cast<std::int32_t>(raw), m_lastHookTick) > kHookLateness) sendProbe();
}

void llhook_local::sendProbe() {
    INPUT input = {};
    input.type = INPUT_KEYBOARD;
    input.ki.wVk = kProbeKey;
    input.ki.dwFlags = KEYEVENTF_KEYUP;
    input.ki.dwExtraInfo = kProbeSign;
    InterlockedExchange(&m_probeSeen, 0);
    if (SendInput(1, &input, sizeof input) != 1) {
        // The system refuses typed input where the foreground is out of our reach (a window of
        // higher rights, the secure desktop), and there the hook is not called either, rightly.
        // Installing it anew on a guess would put it ahead of the other programs' hooks for
        // nothing; a hook really gone is found at the next key typed where the probe can go.
        if (!m_probeFailed) logWideLine(L"llhook_local: フックを確かめるキーを送れません。");
        m_probeFailed = true;
        return;
    }
    m_probeFailed = false;
    m_probeTimer = SetTimer(nullptr, 0, kProbeWait, nullptr);
}

void llhook_local::probeAnswered() {
    KillTimer(nullptr, m_probeTimer);
    m_probeTimer = 0;
    if (!m_probeSeen) renewHook();
}

void llhook_local::renewHook() {
    HHOOK fresh = SetWindowsHookExW(WH_KEYBOARD_LL, hookProcedure, GetModuleHandleW(nullptr), 0);
    if (!fresh) {
        logWideLine(L"llhook_local: フックを掛け直せませんでした。");
        return;
    }
    HHOOK old = m_hook;
    m_hook = fresh;
    if (old && !UnhookWindowsHookEx(old)) {
        logWideLine(L"llhook_local: Windows に外されていたフックを掛け直しました。");
        // Releases came and went unseen meanwhile: nothing the engine holds may stay down.
        InterlockedExchange(&m_hookDropped, 1);
        SetEvent(m_wake);
    }
}

bool llhook_local::startHookThread() {
    ResetEvent(m_hookReady);
    unsigned id = 0;
    m_hookThread = reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, hookThreadMain, this, 0, &id));
    if (!m_hookThread) return false;
    m_hookThreadId = id;
    HANDLE handles[] = {m_hookReady, m_hookThread};
    waitServing(2, handles, INFINITE);
    if (m_hook) return true;
    WaitForSingleObject(m_hookThread, INFINITE);
    CloseHandle(m_hookThread);
    m_hookThread = nullptr;
    return false;
}

void llhook_local::endHookThread() {
    if (!m_hookThread) return;
    PostThreadMessageW(m_hookThreadId, WM_QUIT, 0, 0);
    WaitForSingleObject(m_hookThread, INFINITE);
    CloseHandle(m_hookThread);
    m_hookThread = nullptr;
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
    m_inputLag = 0;
    m_passOnHeld = false;
    m_foreground = GetForegroundWindow();
    while (!m_stopRequest) {
        if (InterlockedExchange(&m_hookDropped, 0)) releaseHeldKeys();
        hookEvent next;
        bool queued = false;
        {
            scopedLock guard(m_queueLock);
            if (!m_events.empty()) {
                next = m_events.front();
                queued = true;
            }
        }
        // Also before every key: the reports of the hook library (the IME's state) that came
        // in meanwhile must steer the key's conversion. A waiting key is decided by the time up
        // to which every key has been seen, so a partner already queued is never missed.
        periodicStep(inputClock(queued ? &next : nullptr));
        if (m_passOnHeld) {
            // A key passed as it came waits behind the output before it; the keys after it
            // wait for it.
            if (outputWaiting()) {
                Sleep(kBusyRest);
                continue;
            }
            m_passOnHeld = false;
            passOn(m_heldPassOn);
        }
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
            m_inputLag = inputLagAfter(now(), static_cast<std::int32_t>(event.time), m_inputLag, awaitsPoll());
            if (event.scanCode == 0x70)
                logWideLine((event.flags & LLKHF_UP) ? L"ひらがなカタカナ□" : L"ひらがなカタカナ■");
            releaseModifiersPhysicallyUp();
            handleEvent(event);
            Sleep(0);
        } else {
            // Releases that went to another desktop (the secure one, an elevated window) never
            // came here: a modifier the engine holds that the system has up again comes up.
            // Looked at every so often: asking is a call into the system.
            const DWORD tick = GetTickCount();
            if (tick - m_foregroundChecked >= kForegroundCheckPeriod) {
                m_foregroundChecked = tick;
                HWND foreground = GetForegroundWindow();
                if (foreground != m_foreground) {
                    m_foreground = foreground;
                    releaseModifiersPhysicallyUp();
                }
            }
            // A key queued from now on ends the rest at once.
            WaitForSingleObject(m_wake, restTime());
            InterlockedExchange(&m_resting, 0);
        }
    }
    // Nothing the engine sent down may stay down once the keys stop coming here: the releases of
    // the keys still held would otherwise reach the system raw, or another agent's engine, which
    // knows nothing of them. Then the keys not yet converted go on as they came.
    releaseHeldKeysAndWait(500);
    if (m_passOnHeld) passOn(m_heldPassOn);
    m_passOnHeld = false;
    passOnQueued();
    SetEvent(m_ended);
}

DWORD llhook_local::restTime() {
    return awaitsPoll() || queuedOutput() != 0 ? kBusyRest : kIdleRest;
}

// The time up to which the worker has seen every key, on the hook's clock: now, less the delay
// with which the last key reached the worker (keys that come late come late together), and never
// past a key still queued, which decides by its own time.
std::int32_t llhook_local::inputClock(const hookEvent* next) {
    const std::int32_t nextTime = next ? static_cast<std::int32_t>(next->time) : 0;
    return inputClockAt(now(), m_inputLag, next ? &nextTime : nullptr);
}

bool llhook_local::modifierPhysicallyDown(keyCode key) {
    int vk = 0;
    switch (key) {
    case 0x2A: vk = VK_LSHIFT; break;
    case 0x36: vk = VK_RSHIFT; break;
    case 0x1D: vk = VK_LCONTROL; break;
    case 0x9D: vk = VK_RCONTROL; break;
    case 0x38: vk = VK_LMENU; break;
    case 0xB8: vk = VK_RMENU; break;
    case 0xDB: vk = VK_LWIN; break;
    case 0xDC: vk = VK_RWIN; break;
    default: return true;
    }
    return (GetAsyncKeyState(vk) & 0x8000) != 0;
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
    // Pause has NumLock's scan code without the extended mark, and so NumLock's key code: it
    // passes as it is, or it would come out as NumLock.
    // It keeps its place among the keys: a key waiting for its partner is decided as any other
    // key would decide it, and the Pause waits behind the output still paced or held back.
    if (event.vk == VK_PAUSE) {
        decideWaiting(static_cast<std::int32_t>(event.time));
        if (outputWaiting()) {
            m_heldPassOn = event;
            m_passOnHeld = true;
        } else {
            passOn(event);
        }
        return;
    }
    const bool down = (event.flags & LLKHF_UP) == 0;
    const keyCode code = hookKeyCode(event);
    // A modifier pressed while the hook let keys by (the agent paused, the hook dropped) went to
    // the system raw and the engine never saw it: its release goes the same way, or the system
    // would keep it down for good.
    if (!down && isModifier(code) && !holdsModifier(code) && modifierPhysicallyDown(code)) {
        passOn(event);
        return;
    }
    inputKey(code, down, static_cast<int>(event.time), [&] { passOn(event); });
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
    if (sentAsExtendedKey(code)) flags |= KEYEVENTF_EXTENDEDKEY;
    if (!event.down) flags |= KEYEVENTF_KEYUP;
    sendScanCode(code & 0x7F, flags);
    return keyLog(static_cast<keyCode>(code & 0x7F), (code & 0x80) != 0, event.down, event);
}

bool llhook_local::resume() {
    scopedLock guard(m_controlLock);
    if (!m_hookThread) {
        logWideLine(L"llhook_local::resume() の SetWindowsHookExを実行します。");
        if (!startHookThread()) {
            logWideLine(L"llhook_local::resume() においてフックハンドルが確認できません。");
            return false;
        }
    } else {
        // Windows may have dropped it meanwhile (a session locked or unlocked, a hook answering
        // late while the machine was loaded): installed anew if keys went by it, and only then.
        PostThreadMessageW(m_hookThreadId, kCheckHookMessage, 0, 0);
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
    endHookThread();
    return true;
}

#endif  // TVN_ANSI
