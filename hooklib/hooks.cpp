#include "hooklib/hooks.h"

#include "hooklib/imeActions.h"
#include "hooklib/injection.h"

#include <imm.h>

#include <vector>

libraryState& library()
{
    static libraryState state;
    return state;
}

void resetProcessState()
{
    libraryState& s = library();
    s.stateBits = 0;
    s.seenMask = 0;
    s.cachedLayout = nullptr;
    s.setCompStrCaps = 0;
    resetImeActionState();
}

// ---- installing ----------------------------------------------------------------------------------

#ifdef TVN_ANSI
#define TVN_SET_HOOK SetWindowsHookExA
#else
#define TVN_SET_HOOK SetWindowsHookExW
#endif

// Any hook still held is removed first: a handle overwritten here would leave a global hook in
// every process of the session that nobody could take out again.
void installHooks()
{
    removeHooks();
    libraryState& s = library();
    s.messageHook = TVN_SET_HOOK(WH_GETMESSAGE, getMessageHook, s.module, 0);
    s.windowProcHook = TVN_SET_HOOK(WH_CALLWNDPROC, callWndProcHook, s.module, 0);
    theSharedData().resetLocked();
}

void removeHooks()
{
    libraryState& s = library();
    const bool hadKeyboardHook = s.keyboardHook != nullptr;
    HHOOK* hooks[] = {&s.messageHook, &s.windowProcHook, &s.keyboardHook};
    for (HHOOK* h : hooks) {
        if (*h) UnhookWindowsHookEx(*h);
        *h = nullptr;
    }
    waitingInjections().setRecording(false);
    if (hadKeyboardHook) theSharedData().setInjectionSigned(false);
}

void setKeyboardHook(bool install)
{
    libraryState& s = library();
    {
        sharedHold hold(&getDllMutex());
        if (s.keyboardHook) UnhookWindowsHookEx(s.keyboardHook);
        s.keyboardHook = nullptr;
    }
    sharedData& shared = theSharedData();
    // Entries left from before (keys injected while no hook consumed them) would never match again
    // and would make the next hook take the agent's own keys for foreign ones.
    shared.clearInjected();
    if (!install) {
        // The agent's keys still waiting for the ring, and those it sends from now on, go at once:
        // no hook will look for them.
        shared.setInjectionSigned(false);
        waitingInjections().setRecording(false);
        return;
    }
    s.keyboardHook = TVN_SET_HOOK(WH_KEYBOARD, keyboardHook, s.module, 0);
    if (!s.keyboardHook) return;
    shared.setInjectionSigned(true);
    waitingInjections().setRecording(true);
}

// ---- reports ---------------------------------------------------------------------------------------

void pushStateBits(int bits, int mask)
{
    libraryState& s = library();
    s.stateBits = bits | (s.stateBits & ~mask);
    s.seenMask |= mask;
    theSharedData().pushReport(reportStateBits, bits, mask);
}

void pushImeStatus(HWND window, bool withOpenState)
{
    HIMC context = ImmGetContext(window);
    if (!context) return;
    DWORD conversion = 0, sentence = 0;
    if (ImmGetConversionStatus(context, &conversion, &sentence))
        theSharedData().pushReport(reportConversionMode, static_cast<int>(conversion),
                                   static_cast<int>(sentence));
    if (withOpenState) {
        if (ImmGetOpenStatus(context))
            pushStateBits(stateImeOpen, stateImeOpen);
        else
            pushStateBits(0, stateImeOpen | stateComposing | stateCandidateOpen | stateConverting);
    }
    ImmReleaseContext(window, context);
}

void pushFocusReports()
{
    HWND focus = GetFocus();
    if (!focus) return;
    libraryState& s = library();
    sharedData& shared = theSharedData();
    shared.pushReport(reportFocusWindow, toWire(focus), 0);
    if (!s.cachedLayout) s.cachedLayout = GetKeyboardLayout(0);
    shared.pushReport(reportKeyboardLayout, toWire(s.cachedLayout), 0);
    shared.pushReport(reportStateBits, s.stateBits, s.seenMask);
    HIMC context = ImmGetContext(focus);
    if (context) {
        DWORD conversion = 0, sentence = 0;
        if (ImmGetConversionStatus(context, &conversion, &sentence))
            shared.pushReport(reportConversionMode, static_cast<int>(conversion),
                              static_cast<int>(sentence));
        ImmReleaseContext(focus, context);
    }
}

bool isFocusWindow(HWND window)
{
    return GetForegroundWindow() != nullptr && window == GetFocus();
}

static int kanaToggle()
{
    return GetKeyState(VK_KANA) & 1;
}

// ---- the message hook ------------------------------------------------------------------------------

static void onKeyMessage(const MSG& msg)
{
    int vk = static_cast<int>(msg.wParam & 0xFF);
    bool released = (msg.lParam & 0x80000000) != 0;
    int bit = 0;
    switch (vk) {
    case VK_CAPITAL: bit = stateCapsLock; break;
    case VK_KANA: bit = stateKanaLock; break;
    case VK_NUMLOCK: bit = stateNumLock; break;
    case VK_SCROLL: bit = stateScrollLock; break;
    case VK_KANJI: pushStateBits(0, 0); return;
    default: return;
    }
    if (released || vk == VK_KANA) {
        bool toggle = (GetKeyState(vk) & 1) != 0;
        theSharedData().pushReport(reportStateBits, toggle ? bit : 0, bit);
    }
    if (vk == VK_CAPITAL && !released) syncCapsToKatakana(msg.hwnd);
}

static bool confirmRemovedKey(LPARAM lParam);

LRESULT CALLBACK getMessageHook(int code, WPARAM removeFlag, LPARAM message)
{
    MSG* msg = reinterpret_cast<MSG*>(message);
    if (code >= 0 && msg) runGuarded([&] {
        switch (msg->message) {
        case WM_KEYDOWN:
        case WM_KEYUP:
        case WM_SYSKEYDOWN:
        case WM_SYSKEYUP:
            // The user's key, taken for an equal one of ours, reaches the application as nothing.
            if ((removeFlag & PM_REMOVE) && !confirmRemovedKey(msg->lParam)) {
                msg->message = WM_NULL;
                msg->wParam = 0;
                msg->lParam = 0;
                break;
            }
            onKeyMessage(*msg);
            break;
        case WM_IME_ENDCOMPOSITION: onImeEndComposition(); break;
        case WM_IME_COMPOSITION: onImeComposition(msg->hwnd, msg->wParam, msg->lParam); break;
        case WM_IME_CHAR: theSharedData().setWaitTimer(0); break;
        default:
            if (library().tvnMessage != 0 && msg->message == library().tvnMessage)
                onTvnMessage(*msg, removeFlag);
            break;
        }
    });
    return CallNextHookEx(library().messageHook, code, removeFlag, message);
}

// ---- the window-procedure hook --------------------------------------------------------------------

// An IME that has not told this process its kana state yet is made to announce it: a change of
// the conversion mode or of the open state there and back makes it send its notifications.
static void nudgeIme(HWND window)
{
    HIMC context = ImmGetContext(window);
    bool nudged = false;
    if (context) {
        if (ImmGetOpenStatus(context)) {
            DWORD conversion = 0, sentence = 0;
            if (ImmGetConversionStatus(context, &conversion, &sentence)) {
                ImmSetConversionStatus(context, conversion ^ IME_CMODE_ROMAN, sentence);
                ImmSetConversionStatus(context, conversion, sentence);
                nudged = true;
            }
        } else {
            ImmSetOpenStatus(context, TRUE);
            ImmSetOpenStatus(context, FALSE);
            nudged = true;
        }
        ImmReleaseContext(window, context);
    }
    if (!nudged) {
        for (int i = 0; i < 2; ++i) {
            keybd_event(VK_KANA, 0, 0, 0);
            keybd_event(VK_KANA, 0, KEYEVENTF_KEYUP, 0);
        }
    }
}

static void onImeNotify(HWND window, WPARAM command)
{
    switch (command) {
    case IMN_CLOSECANDIDATE: pushStateBits(0, stateCandidateOpen); break;
    case IMN_OPENCANDIDATE: pushStateBits(stateCandidateOpen, stateCandidateOpen); break;
    case IMN_SETCONVERSIONMODE:
        pushImeStatus(window, false);
        pushStateBits(kanaToggle() << 1, stateKanaLock);
        break;
    case IMN_SETSENTENCEMODE: pushImeStatus(window, false); break;
    case IMN_SETOPENSTATUS:
        if (theSharedData().capsImeSync()) syncCapsToKatakana(window);
        if (isFocusWindow(window)) {
            pushImeStatus(window, true);
            pushStateBits(kanaToggle() << 1, stateKanaLock);
        }
        break;
    default: break;
    }
}

LRESULT CALLBACK callWndProcHook(int code, WPARAM wParam, LPARAM message)
{
    const CWPSTRUCT* cwp = reinterpret_cast<const CWPSTRUCT*>(message);
    if (code >= 0 && cwp) runGuarded([&] {
        libraryState& s = library();
        sharedData& shared = theSharedData();
        switch (cwp->message) {
        case WM_ACTIVATE:
            if (LOWORD(cwp->wParam) != 0) pushFocusReports();
            break;
        case WM_ACTIVATEAPP:
        case WM_NCACTIVATE:
            if (cwp->wParam != 0) pushFocusReports();
            break;
        case WM_MOUSEACTIVATE: pushFocusReports(); break;
        case WM_SETFOCUS:
            shared.pushReport(reportFocusSet, 0, 0);
            if (!(s.seenMask & stateKanaLock)) nudgeIme(cwp->hwnd);
            if (isFocusWindow(cwp->hwnd)) pushFocusReports();
            s.setCompStrCaps = ImmGetProperty(GetKeyboardLayout(0), IGP_SETCOMPSTR);
            break;
        case WM_KILLFOCUS: shared.pushReport(reportFocusWindow, 0, 0); break;
        case WM_INPUTLANGCHANGE:
            s.cachedLayout = reinterpret_cast<HKL>(cwp->lParam);
            shared.pushReport(reportKeyboardLayout, toWire(s.cachedLayout), 0);
            s.setCompStrCaps = ImmGetProperty(s.cachedLayout, IGP_SETCOMPSTR);
            break;
        case WM_IME_ENDCOMPOSITION: onImeEndComposition(); break;
        case WM_IME_COMPOSITION: onImeComposition(cwp->hwnd, cwp->wParam, cwp->lParam); break;
        case WM_ENTERMENULOOP: shared.pushReport(reportFocusSet, 1, 0); break;
        case WM_EXITMENULOOP: shared.pushReport(reportFocusSet, 0, 0); break;
        case WM_IME_NOTIFY: onImeNotify(cwp->hwnd, cwp->wParam); break;
        default: break;
        }
    });
    return CallNextHookEx(library().windowProcHook, code, wParam, message);
}

// ---- the keyboard hook -----------------------------------------------------------------------------

bool decideKey(sharedData& shared, keyDecisionHost& host, int code, int vk, LPARAM lParam, DWORD tick)
{
    if (code != 0) return true;
    bool released = (lParam & 0x80000000) != 0;
    if (shared.passThrough()) {
        if (released) {
            host.pushFocusReports();
            return true;
        }
        if (vk >= 1 && vk <= 254) {
            for (int i = 0; i < 4; ++i) {
                if (shared.pairKey(i) != vk) continue;
                int partner = shared.pairKey(i ^ 1);
                if (partner == 0 || host.isHeld(partner)) {
                    // Unreported, the key would vanish: it passes when the queue is full.
                    return !shared.pushReport(reportPairKey, 0, 0);
                }
            }
        }
        return true;
    }
    int scan = static_cast<int>((lParam >> 16) & 0xFF);
    // A key sent by virtual key alone (a macro tool's mask key, say) has no scan code the agent
    // could type again: it passes as it came.
    if (scan == 0) return true;
#ifndef TVN_ANSI
    if (host.scanToVkEx(scan) == VK_RSHIFT) {
        if (!released) {
            fromDll_waitInfoAdds time = {reportKeyTime, static_cast<std::int32_t>(tick), vk & 0xFF, 0, {}};
            fromDll_waitInfoAdds data = {reportKeyData, static_cast<std::int32_t>(lParam), modifierRightShift, 0, {}};
            shared.pushReportPair(time, data);
        }
        return true;
    }
#endif
    if (matchInjectedKey(shared, host, vk, lParam)) return true;
    return !reportSwallowedKey(shared, host, vk, lParam, tick);
}

bool reportSwallowedKey(sharedData& shared, keyDecisionHost& host, int vk, LPARAM lParam, DWORD tick)
{
    fromDll_waitInfoAdds time = {reportKeyTime, static_cast<std::int32_t>(tick), vk & 0xFF, 0, {}};
    fromDll_waitInfoAdds data = {reportKeyData, static_cast<std::int32_t>(lParam), 0, 0, {}};
    host.pushFocusImeStatus();
    int modifiers = (host.isHeld(VK_LMENU) ? modifierLeftAlt : 0) | (host.isHeld(VK_RMENU) ? modifierRightAlt : 0);
#ifndef TVN_ANSI
    if (host.isHeld(VK_RSHIFT)) modifiers |= modifierRightShift;
#endif
    data.info2 = modifiers;
    // In the main program's thread, for an application of the other bitness, the hook never
    // waits: that thread also runs the agent's requests and the user interface.
    return reportOrPass(shared, host, time, data, host.servesAnotherProcess() ? 0 : fullQueueWaitMs);
}

bool reportOrPass(sharedData& shared, keyDecisionHost& host, const fromDll_waitInfoAdds& time,
                  const fromDll_waitInfoAdds& data, DWORD patienceMs)
{
    const DWORD start = host.tick();
    DWORD lastTake = start;
    int read = shared.reportReadIndex();
    while (!shared.pushKeyReports(time, data)) {
        const DWORD now = host.tick();
        const int readNow = shared.reportReadIndex();
        if (readNow != read) {
            read = readNow;
            lastTake = now;
        }
        if (now - lastTake >= patienceMs || now - start >= fullQueueGiveUpMs) {
            shared.notePassedKey(time, data);
            return false;
        }
        host.wait();
    }
    return true;
}

keyResend resendOf(int vk, LPARAM lParam)
{
    keyResend r;
    r.scan = static_cast<WORD>((lParam >> 16) & 0xFF);
    // Sent by scan code, the key carries the virtual key mapped from it (sendKeyInput).
    r.vk = static_cast<WORD>(vk & 0xFF);
    r.flags = 0;
    if (lParam & 0x80000000) r.flags |= KEYEVENTF_KEYUP;
    if (lParam & 0x01000000) r.flags |= KEYEVENTF_EXTENDEDKEY;
    if (r.scan) r.flags |= KEYEVENTF_SCANCODE;
    return r;
}

namespace {

DWORD takenKeySlot = TLS_OUT_OF_INDEXES;

// An entry packed into one thread slot value: scan code, flags, virtual key, kind and a presence bit.
ULONG_PTR packTaken(const injectedKey& e)
{
    return static_cast<ULONG_PTR>((e.scanCode & 0xFF) | (e.flags & 3) << 8 | (e.vk & 0xFF) << 10 |
                                  (e.kind & 3) << 18 | 1 << 20);
}

injectedKey unpackTaken(ULONG_PTR v)
{
    const int bits = static_cast<int>(v);
    return injectedKey{bits & 0xFF, (bits >> 8) & 3, (bits >> 10) & 0xFF, (bits >> 18) & 3};
}

class systemKeyHost : public keyDecisionHost {
public:
    systemKeyHost() : m_otherProcess(computeOtherProcess()) {}
    int scanToVkEx(int scanCode) override { return static_cast<int>(MapVirtualKey(scanCode, MAPVK_VSC_TO_VK_EX)); }
    bool isHeld(int vk) override { return GetAsyncKeyState(vk) < 0; }
    void pushFocusReports() override
    {
        if (!m_otherProcess) ::pushFocusReports();
    }
    void pushFocusImeStatus() override
    {
        HWND focus = m_otherProcess ? nullptr : GetFocus();
        if (focus) pushImeStatus(focus, false);
    }
    void releaseShiftState() override
    {
        BYTE state[256];
        if (m_otherProcess || !GetKeyboardState(state)) return;
        state[VK_SHIFT] &= ~0x80;
        state[VK_RSHIFT] &= ~0x80;
        SetKeyboardState(state);
    }
    void sendKey(const keyResend& key) override { sendKeyInput(key.vk, key.scan, key.flags); }
    // The agent may be waiting for this very thread: it asks the focused window for its title,
    // or the IME of its thread, by sent message. Served here, such a message no longer holds the
    // agent until the key gives up and passes unconverted, ahead of the keys before it. The
    // filter names a message nobody posts: only sent messages are taken, no input message.
    void wait() override
    {
        if (MsgWaitForMultipleObjects(0, nullptr, FALSE, 1, QS_SENDMESSAGE) == WAIT_OBJECT_0) {
            MSG message;
            PeekMessage(&message, nullptr, sentOnlyFilter, sentOnlyFilter, PM_NOREMOVE);
        }
    }
    static constexpr UINT sentOnlyFilter = WM_APP + 0x3FFF;
    DWORD tick() override { return GetTickCount(); }
    // No message hook of ours sees the other bitness's messages: nothing is kept for them.
    void rememberTaken(const injectedKey& entry) override
    {
        if (takenKeySlot != TLS_OUT_OF_INDEXES && !m_otherProcess)
            TlsSetValue(takenKeySlot, reinterpret_cast<void*>(packTaken(entry)));
    }
    bool takeRemembered(injectedKey& entry) override
    {
        if (takenKeySlot == TLS_OUT_OF_INDEXES) return false;
        const ULONG_PTR value = reinterpret_cast<ULONG_PTR>(TlsGetValue(takenKeySlot));
        if (value == 0) return false;
        TlsSetValue(takenKeySlot, nullptr);
        entry = unpackTaken(value);
        return true;
    }
    bool servesAnotherProcess() override { return m_otherProcess; }

private:
    // Only the main program's copy holds the hook's handle; there, a key for another process's
    // window comes from an application the library could not be loaded into.
    static bool computeOtherProcess()
    {
        if (!library().keyboardHook) return false;
        DWORD process = 0;
        HWND foreground = GetForegroundWindow();
        if (foreground) GetWindowThreadProcessId(foreground, &process);
        return process != GetCurrentProcessId();
    }
    const bool m_otherProcess;
};

}  // namespace

bool handleKeyMessage(sharedData& shared, keyDecisionHost& host, int code, int vk, LPARAM lParam, DWORD tick)
{
    int repeats = static_cast<int>(lParam & 0xFFFF);
    int passed = 0, swallowed = 0;
    for (int i = 0; i < repeats; ++i) {
        if (decideKey(shared, host, code, vk, lParam, tick))
            ++passed;
        else
            ++swallowed;
    }
    if (swallowed == 0) return true;
    // The passed repeats go out again one by one. Each is recorded like any injected key, or it
    // would come back unmatched and be swallowed and converted a second time.
    keyResend again = resendOf(vk, lParam);
    for (int i = 0; i < passed; ++i) {
        injectedKey entry = {again.scan, static_cast<std::int32_t>(again.flags & (KEYEVENTF_KEYUP | KEYEVENTF_EXTENDEDKEY)),
                             vk & 0xFF, injectedKindPlain};
        if (!shared.pushInjected(entry)) break;
        host.sendKey(again);
    }
    return false;
}

static bool confirmRemovedKey(LPARAM lParam)
{
    bool keep = true;
    runGuarded([&] {
        systemKeyHost host;
        keep = confirmTakenKey(theSharedData(), host, lParam, static_cast<ULONG_PTR>(GetMessageExtraInfo()));
    });
    return keep;
}

void openTakenKeySlot()
{
    if (takenKeySlot == TLS_OUT_OF_INDEXES) takenKeySlot = TlsAlloc();
}

void closeTakenKeySlot()
{
    if (takenKeySlot != TLS_OUT_OF_INDEXES) TlsFree(takenKeySlot);
    takenKeySlot = TLS_OUT_OF_INDEXES;
}

LRESULT CALLBACK keyboardHook(int code, WPARAM wParam, LPARAM lParam)
{
    if (code >= 0) {
        bool pass = true;
        runGuarded([&] {
            systemKeyHost host;
            int vk = static_cast<int>(wParam & 0xFF);
            pass = handleKeyMessage(theSharedData(), host, code, vk, lParam, GetTickCount());
        });
        if (!pass) return -1;
    }
    return CallNextHookEx(library().keyboardHook, code, wParam, lParam);
}
