#include "hooklib/injection.h"

bool needsVkInjection(int vk)
{
    switch (vk) {
    case 0:
    case VK_MENU:
    case VK_CAPITAL:
    case VK_KANA:
    case VK_KANJI:
    case VK_LWIN:
    case VK_RWIN:
    case VK_NUMLOCK:
    case VK_SCROLL:
    case VK_PROCESSKEY:
    case VK_PACKET: return true;
    default: return vk >= 240 && vk <= 253;
    }
}

WORD virtualKeyOfScanCode(WORD scan, DWORD flags)
{
    UINT sc = scan & 0xFF;
    UINT vk = 0;
#ifndef TVN_ANSI
    // The E0 form names the extended key (right Ctrl, the arrows); systems that don't know it answer 0.
    if (flags & KEYEVENTF_EXTENDEDKEY) vk = MapVirtualKeyW(0xE000 | sc, MAPVK_VSC_TO_VK_EX);
    if (vk == 0) vk = MapVirtualKeyW(sc, MAPVK_VSC_TO_VK_EX);
#else
    (void)flags;
    vk = MapVirtualKeyA(sc, MAPVK_VSC_TO_VK);
#endif
    return static_cast<WORD>(vk);
}

void sendKeyInput(WORD vk, WORD scan, DWORD flags)
{
#ifdef TVN_ANSI
    keybd_event(static_cast<BYTE>(vk), static_cast<BYTE>(scan), flags & ~KEYEVENTF_SCANCODE, injectedKeySign);
#else
    INPUT input = {};
    input.type = INPUT_KEYBOARD;
    // By scan code Windows finds the key itself and ignores wVk; Wine takes wVk as given, so every
    // scan-code input carries the key its scan code stands for.
    input.ki.wVk = (flags & KEYEVENTF_SCANCODE) ? virtualKeyOfScanCode(scan, flags) : vk;
    input.ki.wScan = scan;
    input.ki.dwFlags = flags;
    input.ki.dwExtraInfo = injectedKeySign;
    SendInput(1, &input, sizeof(INPUT));
#endif
}

void injectionQueue::type(const injectedKey& entry)
{
    const WORD vk = static_cast<WORD>(entry.vk);
    const WORD scan = static_cast<WORD>(entry.scanCode);
    const DWORD flags = static_cast<DWORD>(entry.flags);
    // A special key goes by virtual key as well: by scan code alone some of them do nothing.
    if (needsVkInjection(entry.vk)) m_send(vk, scan, flags);
#ifdef TVN_ANSI
    m_send(vk, scan, flags);
#else
    m_send(vk, scan, flags | KEYEVENTF_SCANCODE);
#endif
}

void injectionQueue::add(const injectedKey& entry)
{
    hold locked(m_lock);
    m_waiting.push_back(entry);
}

size_t injectionQueue::waiting()
{
    hold locked(m_lock);
    return m_waiting.size();
}

void injectionQueue::setRecording(bool on)
{
    hold locked(m_lock);
    m_recording = on;
    if (!on) typeAllUnrecorded();
}

size_t injectionQueue::flush(sharedData& shared, DWORD now)
{
    hold locked(m_lock);
    if (!m_recording || !shared.view() || shared.passThrough()) {
        typeAllUnrecorded();
        return 0;
    }
    releaseLostEntries(shared, now);
    while (!m_waiting.empty() && shared.pushInjected(m_waiting.front())) {
        type(m_waiting.front());
        m_waiting.pop_front();
    }
    return m_waiting.size();
}

void injectionQueue::releaseLostEntries(sharedData& shared, DWORD now)
{
    int read = 0, used = 0;
    shared.injectedState(read, used);
    if (used == 0) {
        m_quiet = false;
        return;
    }
    if (!m_quiet || read != m_lastRead) {
        m_quiet = true;
        m_lastRead = read;
        m_quietSince = now;
        return;
    }
    if (now - m_quietSince < quietAfterMs) return;
    // Asked again a while later, not on every request, while the window stays busy.
    m_quietSince = now;
    if (m_foregroundBusy && m_foregroundBusy()) return;
    shared.dropStaleInjected();
    m_quiet = false;
}

void injectionQueue::typeAllUnrecorded()
{
    hold locked(m_lock);
    for (const injectedKey& entry : m_waiting) type(entry);
    m_waiting.clear();
}

// A window that answers no sent message within a moment is busy: the keys queued for it come when
// it reads its queue again. With no foreground window (a secure desktop) nothing will take them.
static bool foregroundBusy()
{
    HWND foreground = GetForegroundWindow();
    if (!foreground) return false;
    DWORD_PTR result = 0;
    return SendMessageTimeout(foreground, WM_NULL, 0, 0, SMTO_ABORTIFHUNG | SMTO_BLOCK, 50, &result) == 0;
}

injectionQueue& waitingInjections()
{
    static injectionQueue queue(sendKeyInput, foregroundBusy);
    return queue;
}

void injectKey(unsigned int scan, long flags)
{
    libraryState& s = library();
    int sc = static_cast<int>(scan & 0xFF);
#ifdef TVN_ANSI
    int vk = static_cast<int>(MapVirtualKeyA(sc, MAPVK_VSC_TO_VK));
    int kind = injectedKindPlain;
#else
    int vk = static_cast<int>(MapVirtualKeyW(sc, MAPVK_VSC_TO_VK));
    // A right-Shift release is not typed: the next key carries it, and the hook clears Shift
    // in the receiving thread when that key arrives.
    if (MapVirtualKeyW(sc, MAPVK_VSC_TO_VK_EX) == VK_RSHIFT) {
        if (flags & KEYEVENTF_KEYUP) s.rightShiftReleased = true;
        return;
    }
    int kind = s.rightShiftReleased ? injectedKindShiftReleased : injectedKindPlain;
#endif
    s.rightShiftReleased = false;
    injectionQueue& queue = waitingInjections();
    queue.add(injectedKey{static_cast<std::int32_t>(scan), static_cast<std::int32_t>(flags), vk, kind});
    queue.flush(theSharedData(), GetTickCount());
}

bool passesUnmatched(int vk)
{
    vk &= 0xFF;
    return vk == VK_OEM_AUTO || vk == VK_OEM_ENLW || needsVkInjection(vk);
}

bool takeInjectedKey(sharedData& shared, keyDecisionHost& host, int vk, LPARAM lParam, injectedKey& taken)
{
    const int scan = static_cast<int>((lParam >> 16) & 0xFF);
    const bool released = (lParam & 0x80000000) != 0;
    const bool extended = (lParam & 0x01000000) != 0;
    // 半角/全角 (VK_OEM_AUTO, VK_OEM_ENLW) too: it passes whatever happens, and its entry must not
    // stay behind.
    if (!shared.takeMatchingInjected(vk & 0xFF, scan, released, extended, taken)) return false;
    if (taken.kind & 0x2) host.releaseShiftState();
    return true;
}

injectedKey entryOfKey(int vk, LPARAM lParam)
{
    int flags = 0;
    if (lParam & 0x80000000) flags |= KEYEVENTF_KEYUP;
    if (lParam & 0x01000000) flags |= KEYEVENTF_EXTENDEDKEY;
    return injectedKey{static_cast<std::int32_t>((lParam >> 16) & 0xFF), flags, vk & 0xFF, injectedKindPlain};
}

bool judgeRemovedKey(sharedData& shared, keyDecisionHost& host, int vk, LPARAM lParam, ULONG_PTR extraInfo,
                     int* keyVk)
{
    if (keyVk) *keyVk = vk & 0xFF;
    lockWaitScope oneWait;
    rememberedKey judged = {};
    if (!host.takeRemembered(judged)) return true;
    // The one rule of the keyboard hook says whether this is the key it passed; by its scan code
    // also when an IME made it VK_PROCESSKEY.
    const int scan = static_cast<int>((lParam >> 16) & 0xFF);
    if (!injectedKeyMatches(judged.key, vk & 0xFF, scan, (lParam & 0x80000000) != 0, (lParam & 0x01000000) != 0))
        return true;
    // From here on the key is the one the keyboard hook saw: a VK_PROCESSKEY would pass unmatched
    // and give the IME the raw key.
    const int seen = judged.keyVk & 0xFF;
    if (keyVk) *keyVk = seen;
    const bool released = (lParam & 0x80000000) != 0;
    const bool extended = (lParam & 0x01000000) != 0;
    if (extraInfo == injectedKeySign) {
        shared.forgetGiveBack(seen, scan, released, extended);
        return true;
    }
    // The keyboard hook waited for the record already: this key's steps here only try.
    if (judged.foundBusy) lockWaitScope::giveUp();
    const sharedData::signReading sign = shared.readInjectionSign();
    if (sign == sharedData::signOff) return true;
    if (sign == sharedData::signUnknown) {
        if (judged.tookEntry) shared.giveBackLater(judged.key);
        return passForBusyRecord(shared, host, seen, lParam, host.tick());
    }
    // The entry goes back for our key still to come; where it finds no room our key is known by
    // its sign all the same.
    if (judged.tookEntry) shared.restoreInjected(judged.key);
    if (passesUnmatched(seen)) return true;
    return !takeUsersKey(shared, host, seen, lParam, host.tick());
}
