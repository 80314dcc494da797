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
    while (!m_waiting.empty()) {
        if (shared.pushInjected(m_waiting.front())) {
            type(m_waiting.front());
            m_waiting.pop_front();
            m_stalled = false;
            continue;
        }
        const int read = shared.injectedReadIndex();
        if (!m_stalled || read != m_lastRead) {
            m_stalled = true;
            m_lastRead = read;
            m_stalledSince = now;
            break;
        }
        if (now - m_stalledSince < staleAfterMs) break;
        shared.dropStaleInjected();
        m_stalled = false;
    }
    return m_waiting.size();
}

void injectionQueue::typeAllUnrecorded()
{
    hold locked(m_lock);
    for (const injectedKey& entry : m_waiting) type(entry);
    m_waiting.clear();
    m_stalled = false;
}

injectionQueue& waitingInjections()
{
    static injectionQueue queue(sendKeyInput);
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

// The key message is the one whose keyboard-hook call took the entry: same scan code and bits.
static bool sameKey(const injectedKey& entry, LPARAM lParam)
{
    const bool released = (lParam & 0x80000000) != 0;
    const bool extended = (lParam & 0x01000000) != 0;
    return (entry.scanCode & 0xFF) == static_cast<int>((lParam >> 16) & 0xFF) &&
           ((entry.flags & KEYEVENTF_KEYUP) != 0) == released && ((entry.flags & KEYEVENTF_EXTENDEDKEY) != 0) == extended;
}

bool matchInjectedKey(sharedData& shared, keyDecisionHost& host, int vk, LPARAM lParam)
{
    vk &= 0xFF;
    if (vk == VK_OEM_AUTO || vk == VK_OEM_ENLW) return true;
    const int scan = static_cast<int>((lParam >> 16) & 0xFF);
    const bool released = (lParam & 0x80000000) != 0;
    const bool extended = (lParam & 0x01000000) != 0;
    injectedKey taken = {};
    if (shared.takeMatchingInjected(vk, scan, released, extended, taken)) {
        if (taken.kind & 0x2) host.releaseShiftState();
        // Only a message of one key can be checked later: its extra information is the one key's.
        if ((lParam & 0xFFFF) == 1) host.rememberTaken(taken);
        return true;
    }
    return needsVkInjection(vk);
}

bool confirmTakenKey(sharedData& shared, keyDecisionHost& host, LPARAM lParam, ULONG_PTR extraInfo)
{
    injectedKey taken = {};
    if (!host.takeRemembered(taken)) return true;
    if (extraInfo == injectedKeySign || !sameKey(taken, lParam) || !shared.injectionSigned()) return true;
    shared.restoreInjected(taken);
    return !reportSwallowedKey(shared, host, taken.vk, lParam, host.tick());
}
