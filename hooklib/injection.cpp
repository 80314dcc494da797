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
    // The mark goes right before the key, in one call where the system keeps them together.
#ifdef TVN_ANSI
    const BYTE markScan = static_cast<BYTE>(sharedData::injectedMarkScan(scan, (flags & KEYEVENTF_KEYUP) != 0));
    keybd_event(static_cast<BYTE>(injectedMarkVk), markScan, KEYEVENTF_KEYUP, 0);
    keybd_event(static_cast<BYTE>(vk), static_cast<BYTE>(scan), flags & ~KEYEVENTF_SCANCODE, 0);
#else
    INPUT inputs[2] = {};
    inputs[0].type = INPUT_KEYBOARD;
    inputs[0].ki.wVk = injectedMarkVk;
    inputs[0].ki.wScan = static_cast<WORD>(sharedData::injectedMarkScan(scan, (flags & KEYEVENTF_KEYUP) != 0));
    inputs[0].ki.dwFlags = KEYEVENTF_KEYUP;
    INPUT& input = inputs[1];
    input.type = INPUT_KEYBOARD;
    // By scan code Windows finds the key itself and ignores wVk; Wine takes wVk as given, so every
    // scan-code input carries the key its scan code stands for.
    input.ki.wVk = (flags & KEYEVENTF_SCANCODE) ? virtualKeyOfScanCode(scan, flags) : vk;
    input.ki.wScan = scan;
    input.ki.dwFlags = flags;
    SendInput(2, inputs, sizeof(INPUT));
#endif
}

void announceInjectedMarks(bool inUse)
{
    const DWORD flags = inUse ? 0 : KEYEVENTF_KEYUP;
#ifdef TVN_ANSI
    keybd_event(static_cast<BYTE>(injectedMarksInUseVk), 0, flags, 0);
#else
    INPUT input = {};
    input.type = INPUT_KEYBOARD;
    input.ki.wVk = injectedMarksInUseVk;
    input.ki.dwFlags = flags;
    SendInput(1, &input, sizeof(INPUT));
#endif
}

bool isInjectedMark(int vk)
{
    return (vk & 0xFF) == injectedMarkVk;
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

size_t injectionQueue::flush(sharedData& shared, DWORD now)
{
    hold locked(m_lock);
    if (!shared.view()) {
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

bool matchInjectedKey(sharedData& shared, keyDecisionHost& host, int vk, LPARAM lParam)
{
    vk &= 0xFF;
    if (vk == VK_OEM_AUTO || vk == VK_OEM_ENLW) return true;
    // Right after a mark the key is ours. While marks are in use, an unmarked key is physical
    // whatever the ring holds; otherwise (a system that keeps them from the hook) the ring alone
    // decides.
    const int scan = static_cast<int>((lParam >> 16) & 0xFF);
    const bool released = (lParam & 0x80000000) != 0;
    const bool marked = shared.takeInjectedMark(scan, released);
    const bool marksInUse = shared.injectedMarksSeen() || host.isHeld(injectedMarksInUseVk);
    if (marked || !marksInUse) {
        bool extended = (lParam & 0x01000000) != 0;
        injectedKey taken = {};
        if (shared.takeMatchingInjected(vk, scan, released, extended, taken)) {
            if (taken.kind & 0x2) host.releaseShiftState();
            return true;
        }
    }
    return marked || needsVkInjection(vk);
}
