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
    keybd_event(static_cast<BYTE>(vk), static_cast<BYTE>(scan), flags & ~KEYEVENTF_SCANCODE, 0);
#else
    INPUT input = {};
    input.type = INPUT_KEYBOARD;
    // By scan code Windows finds the key itself and ignores wVk; Wine takes wVk as given, so every
    // scan-code input carries the key its scan code stands for.
    input.ki.wVk = (flags & KEYEVENTF_SCANCODE) ? virtualKeyOfScanCode(scan, flags) : vk;
    input.ki.wScan = scan;
    input.ki.dwFlags = flags;
    SendInput(1, &input, sizeof(input));
#endif
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
    injectedKey entry = {static_cast<std::int32_t>(scan), static_cast<std::int32_t>(flags), vk, kind};
    DWORD keyFlags = static_cast<DWORD>(flags);
    if (needsVkInjection(vk)) {
        sendKeyInput(static_cast<WORD>(vk), static_cast<WORD>(scan), keyFlags);
        s.rightShiftReleased = false;
    }
    if (theSharedData().pushInjected(entry)) {
#ifdef TVN_ANSI
        sendKeyInput(static_cast<WORD>(vk), static_cast<WORD>(scan), keyFlags);
#else
        sendKeyInput(static_cast<WORD>(vk), static_cast<WORD>(scan), keyFlags | KEYEVENTF_SCANCODE);
#endif
        s.rightShiftReleased = false;
    }
}

bool matchInjectedKey(sharedData& shared, keyDecisionHost& host, int vk, LPARAM lParam)
{
    vk &= 0xFF;
    if (vk == VK_OEM_AUTO || vk == VK_OEM_ENLW) return true;
    int scan = static_cast<int>((lParam >> 16) & 0xFF);
    bool released = (lParam & 0x80000000) != 0;
    bool extended = (lParam & 0x01000000) != 0;
    injectedKey taken = {};
    if (shared.takeMatchingInjected(vk, scan, released, extended, taken)) {
        if (taken.kind & 0x2) host.releaseShiftState();
        return true;
    }
    return needsVkInjection(vk);
}
