#include "hooklib/hooks.h"

#include "hooklib/imeActions.h"
#include "hooklib/injection.h"

#include <imm.h>

#include <algorithm>
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
    if (hadKeyboardHook) setKeyboardHook(false);
    HHOOK* hooks[] = {&s.messageHook, &s.windowProcHook};
    for (HHOOK* h : hooks) {
        if (*h) UnhookWindowsHookEx(*h);
        *h = nullptr;
    }
    waitingInjections().setRecording(false);
}

void setKeyboardHook(bool install)
{
    libraryState& s = library();
    sharedData& shared = theSharedData();
    // Installed again (a resumed agent) the hook stays as it is, and so does every entry it still
    // expects: keys of ours on their way must find their entries, and none may slip through a
    // moment without a hook.
    if (install && s.keyboardHook) return;
    // Under the queue's hold no key of ours is typed between the hook and the recording changing:
    // a key recorded with no hook in would leave its entry for ever, one unrecorded with the hook
    // in would be taken for the user's where the hook can't read its sign.
    waitingInjections().changeRecording([&] {
        if (!install) {
            // First the flag: hooked threads still inside the hook, or waiting there for room in
            // the report queue, now pass their keys instead of leaving reports nobody reads.
            shared.setInjectionSigned(false);
            {
                sharedHold hold(&getDllMutex());
                if (s.keyboardHook) UnhookWindowsHookEx(s.keyboardHook);
                s.keyboardHook = nullptr;
            }
            // Without a hook nothing takes entries back: keys still on their way pass as they are.
            shared.clearInjected();
            return false;
        }
        shared.setInjectionSigned(true);
        s.keyboardHook = TVN_SET_HOOK(WH_KEYBOARD, keyboardHook, s.module, 0);
        if (!s.keyboardHook) shared.setInjectionSigned(false);
        return s.keyboardHook != nullptr;
    });
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

// vk: the key the keyboard hook saw; an IME may have made the message's own VK_PROCESSKEY.
static void onKeyMessage(const MSG& msg, int vk)
{
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

static bool confirmRemovedKey(int vk, LPARAM lParam, int& keyVk);

LRESULT CALLBACK getMessageHook(int code, WPARAM removeFlag, LPARAM message)
{
    MSG* msg = reinterpret_cast<MSG*>(message);
    if (code >= 0 && msg) runGuarded([&] {
        lockWaitScope oneWait;
        switch (msg->message) {
        case WM_KEYDOWN:
        case WM_KEYUP:
        case WM_SYSKEYDOWN:
        case WM_SYSKEYUP: {
            int keyVk = static_cast<int>(msg->wParam & 0xFF);
            // A user's key the keyboard hook passed for this hook to judge reaches the application
            // as nothing: it was reported, and the agent types what it stands for.
            if ((removeFlag & PM_REMOVE) && !confirmRemovedKey(keyVk, msg->lParam, keyVk)) {
                msg->message = WM_NULL;
                msg->wParam = 0;
                msg->lParam = 0;
                break;
            }
            onKeyMessage(*msg, keyVk);
            break;
        }
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
        lockWaitScope oneWait;
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
        case WM_KILLFOCUS: {
            shared.pushReport(reportFocusWindow, 0, 0);
            focusMovesTo(shared, reinterpret_cast<HWND>(cwp->wParam));
            break;
        }
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

static int keyIndexOf(LPARAM lParam)
{
    return static_cast<int>((lParam >> 16) & 0xFF) | ((lParam & 0x01000000) ? 0x100 : 0);
}

bool decideKey(sharedData& shared, keyDecisionHost& host, int code, int vk, LPARAM lParam, DWORD tick)
{
    if (code != 0) return true;
    bool released = (lParam & 0x80000000) != 0;
    if (shared.passThrough()) {
        if (released) {
            shared.forgetPassedPress(keyIndexOf(lParam));
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
    // A hook taken out may still be running in a thread: with no agent to take the key, it passes.
    const sharedData::signReading sign = shared.readInjectionSign();
    if (sign == sharedData::signOff) return true;
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
    // With the record busy only the message hook can tell our key from the user's, by its extra
    // information; where nothing can be kept for it, the key passes now.
    if (sign == sharedData::signUnknown) {
        if (!passesUnmatched(vk) && (lParam & 0xFFFF) == 1 &&
            host.rememberKey(rememberedKey{entryOfKey(vk, lParam), false, vk & 0xFF, true}))
            return true;
        return passForBusyRecord(shared, host, vk, lParam, tick);
    }
    rememberedKey judged = {};
    judged.keyVk = vk & 0xFF;
    judged.tookEntry = takeInjectedKey(shared, host, vk, lParam, judged.key);
    // Keys nobody converts pass unmatched, as they always did.
    if (!judged.tookEntry && passesUnmatched(vk)) return true;
    // Where the message hook will see the key's own extra information, it judges: an entry is only
    // a hint. A key of ours comes back as ours however late, after its entry was taken by an
    // equal key of the user's, or after the ring let it go; a user's key that took our entry
    // gives it back. Only a message of one key can be judged so: its extra information is the one
    // key's.
    if ((lParam & 0xFFFF) == 1) {
        if (!judged.tookEntry) judged.key = entryOfKey(vk, lParam);
        if (host.rememberKey(judged)) return true;
    }
    if (judged.tookEntry) {
        // Our release: a press of ours marked passed for another bitness leaves nothing behind.
        if (released && host.servesAnotherProcess()) shared.forgetPassedPress(keyIndexOf(lParam));
        return true;
    }
    return !takeUsersKey(shared, host, vk, lParam, tick);
}

// The press went to the application unconverted: so do its repeats and its release, or the key
// would stay down there. True when the key is one of these; the agent hears of the release.
static bool followsPassedPress(sharedData& shared, int vk, LPARAM lParam, DWORD tick)
{
    if (!shared.passedPress(keyIndexOf(lParam))) return false;
    if (lParam & 0x80000000) {
        shared.forgetPassedPress(keyIndexOf(lParam));
        fromDll_waitInfoAdds time = {reportKeyTime, static_cast<std::int32_t>(tick), vk & 0xFF, 0, {}};
        fromDll_waitInfoAdds data = {reportKeyData, static_cast<std::int32_t>(lParam), 0, 0, {}};
        shared.notePassedKey(time, data);
    }
    return true;
}

bool takeUsersKey(sharedData& shared, keyDecisionHost& host, int vk, LPARAM lParam, DWORD tick)
{
    if (followsPassedPress(shared, vk, lParam, tick)) return false;
    return reportSwallowedKey(shared, host, vk, lParam, tick);
}

bool passForBusyRecord(sharedData& shared, keyDecisionHost& host, int vk, LPARAM lParam, DWORD tick)
{
    if (passesUnmatched(vk)) return true;
    const fromDll_waitInfoAdds time = {reportKeyTime, static_cast<std::int32_t>(tick), vk & 0xFF, 0, {}};
    const fromDll_waitInfoAdds data = {reportKeyData, static_cast<std::int32_t>(lParam), 0, 0, {}};
    if (lParam & 0x80000000) {
        // Its press passed, or was reported and the engine holds the key: either way the release
        // reaches the application, and the agent hears of it.
        shared.forgetPassedPress(keyIndexOf(lParam));
        shared.notePassedKey(time, data);
        return true;
    }
    if (shared.passedPress(keyIndexOf(lParam))) return true;
    // A repeat of a press the agent was told of: the application never had the press. Any other
    // repeat (its press passed while Tavolin was inactive, say) passes as its press did.
    if (lParam & 0x40000000) return !shared.reportedPress(keyIndexOf(lParam));
    // In the main program's thread for another bitness the press may be one of ours: the agent
    // hears nothing of it, but its repeats and release pass all the same.
    if (host.servesAnotherProcess())
        shared.markPassedPress(keyIndexOf(lParam));
    else
        shared.notePassedKey(time, data);
    return true;
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
    for (;;) {
        const sharedData::keyReportOutcome outcome = shared.pushKeyReports(time, data);
        if (outcome == sharedData::keyReported) return true;
        // The agent is going: the key passes now, in its place, and is nobody's notice.
        if (outcome == sharedData::keyHookGone) return false;
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
DWORD keysOfOursSlot = TLS_OUT_OF_INDEXES;

// A remembered key packed into one thread slot value: scan code, flags, virtual key, kind, whether
// it took an entry, a presence bit, and the keyboard hook's virtual key.
ULONG_PTR packRemembered(const rememberedKey& r)
{
    const injectedKey& e = r.key;
    return static_cast<ULONG_PTR>((e.scanCode & 0xFF) | (e.flags & 3) << 8 | (e.vk & 0xFF) << 10 |
                                  (e.kind & 3) << 18 | (r.tookEntry ? 1 : 0) << 20 | 1 << 21 |
                                  (r.keyVk & 0xFF) << 22 | (r.foundBusy ? 1 : 0) << 30);
}

rememberedKey unpackRemembered(ULONG_PTR v)
{
    const int bits = static_cast<int>(v);
    return rememberedKey{injectedKey{bits & 0xFF, (bits >> 8) & 3, (bits >> 10) & 0xFF, (bits >> 18) & 3},
                         ((bits >> 20) & 1) != 0, (bits >> 22) & 0xFF, ((bits >> 30) & 1) != 0};
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
    bool rememberKey(const rememberedKey& key) override
    {
        if (takenKeySlot == TLS_OUT_OF_INDEXES || m_otherProcess) return false;
        return TlsSetValue(takenKeySlot, reinterpret_cast<void*>(packRemembered(key))) != FALSE;
    }
    bool takeRemembered(rememberedKey& key) override
    {
        if (takenKeySlot == TLS_OUT_OF_INDEXES) return false;
        const ULONG_PTR value = reinterpret_cast<ULONG_PTR>(TlsGetValue(takenKeySlot));
        if (value == 0) return false;
        TlsSetValue(takenKeySlot, nullptr);
        key = unpackRemembered(value);
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
    lockWaitScope oneWait;
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

int sidedKey(int vk, LPARAM lParam)
{
    const bool extended = (lParam & 0x01000000) != 0;
    switch (vk) {
    case VK_SHIFT: return ((lParam >> 16) & 0xFF) == 0x36 ? VK_RSHIFT : VK_LSHIFT;
    case VK_CONTROL: return extended ? VK_RCONTROL : VK_LCONTROL;
    case VK_MENU: return extended ? VK_RMENU : VK_LMENU;
    default: return vk;
    }
}

void noteKeyOfOurs(bool ourDown[256], int vk, LPARAM lParam)
{
    ourDown[sidedKey(vk & 0xFF, lParam)] = (lParam & 0x80000000) == 0;
}

void keyStateWithoutUsersKey(BYTE state[256], const bool ourDown[256], int vk, LPARAM lParam)
{
    vk &= 0xFF;
    const int sided = sidedKey(vk, lParam);
    auto setDown = [&](int key, bool down) { state[key] = static_cast<BYTE>(down ? (state[key] | 0x80) : (state[key] & ~0x80)); };
    setDown(sided, ourDown[sided]);
    if (sided != vk) {
        const int left = vk == VK_SHIFT ? VK_LSHIFT : vk == VK_CONTROL ? VK_LCONTROL : VK_LMENU;
        // Windows 98/Me keep no sides in the key state: there only ours say so.
        setDown(vk, ourDown[left] || ourDown[left + 1] || ((state[left] | state[left + 1]) & 0x80) != 0);
    }
}

bool* threadKeysOfOurs(bool create)
{
    if (keysOfOursSlot == TLS_OUT_OF_INDEXES) return nullptr;
    bool* keys = static_cast<bool*>(TlsGetValue(keysOfOursSlot));
    if (!keys && create) {
        keys = static_cast<bool*>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, 256 * sizeof(bool)));
        if (keys && !TlsSetValue(keysOfOursSlot, keys)) {
            HeapFree(GetProcessHeap(), 0, keys);
            keys = nullptr;
        }
    }
    return keys;
}

// A thread that holds no key of ours keeps no table: a thread that ends takes nothing with it.
static void dropThreadKeysOfOurs()
{
    bool* keys = threadKeysOfOurs(false);
    if (!keys) return;
    TlsSetValue(keysOfOursSlot, nullptr);
    HeapFree(GetProcessHeap(), 0, keys);
}

void focusLeaves(sharedData& shared, bool thread, bool process)
{
    if (thread) dropThreadKeysOfOurs();
    if (process) {
        shared.sendPassedNotices();
        shared.forgetPassedPresses();
    }
}

void focusMovesTo(sharedData& shared, HWND next)
{
    DWORD process = 0;
    const DWORD thread = next ? GetWindowThreadProcessId(next, &process) : 0;
    focusLeaves(shared, thread != GetCurrentThreadId(), process != GetCurrentProcessId());
}

void threadEnds()
{
    dropThreadKeysOfOurs();
}

bool judgeAndNoteRemovedKey(sharedData& shared, keyDecisionHost& host, int vk, LPARAM lParam, ULONG_PTR extraInfo,
                            int& keyVk)
{
    keyVk = vk & 0xFF;
    const bool keep = judgeRemovedKey(shared, host, vk, lParam, extraInfo, &keyVk);
    if (extraInfo == injectedKeySign) {
        if (bool* ours = threadKeysOfOurs((lParam & 0x80000000) == 0)) {
            noteKeyOfOurs(ours, keyVk, lParam);
            if (std::none_of(ours, ours + 256, [](bool down) { return down; })) dropThreadKeysOfOurs();
        }
    }
    return keep;
}

static bool confirmRemovedKey(int vk, LPARAM lParam, int& keyVk)
{
    bool keep = true;
    keyVk = vk & 0xFF;
    runGuarded([&] {
        systemKeyHost host;
        keep = judgeAndNoteRemovedKey(theSharedData(), host, vk, lParam,
                                      static_cast<ULONG_PTR>(GetMessageExtraInfo()), keyVk);
        // The user's key went through the thread's key state on its way here, the agent's keys
        // stand for it: what the application reads of the keyboard is what ours left, or a Shift
        // the user let go before our letter came would make it lower case.
        BYTE state[256];
        if (!keep && GetKeyboardState(state)) {
            static const bool noneOfOurs[256] = {};
            const bool* ours = threadKeysOfOurs(false);
            keyStateWithoutUsersKey(state, ours ? ours : noneOfOurs, keyVk, lParam);
            SetKeyboardState(state);
        }
    });
    return keep;
}

void openTakenKeySlot()
{
    if (takenKeySlot == TLS_OUT_OF_INDEXES) takenKeySlot = TlsAlloc();
    if (keysOfOursSlot == TLS_OUT_OF_INDEXES) keysOfOursSlot = TlsAlloc();
}

void closeTakenKeySlot()
{
    dropThreadKeysOfOurs();
    if (takenKeySlot != TLS_OUT_OF_INDEXES) TlsFree(takenKeySlot);
    takenKeySlot = TLS_OUT_OF_INDEXES;
    if (keysOfOursSlot != TLS_OUT_OF_INDEXES) TlsFree(keysOfOursSlot);
    keysOfOursSlot = TLS_OUT_OF_INDEXES;
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
