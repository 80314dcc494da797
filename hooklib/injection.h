// Key injection for the classic input agent and the injected-key ring's side of the keyboard
// hook: keys the library typed itself come back through the hook and must pass.
#pragma once

#include "hooklib/hooks.h"

// Virtual keys typed by virtual key as well as by scan code, and passed by the hook unmatched.
bool needsVkInjection(int vk);

// The virtual key a scan code stands for (flags: KEYEVENTF_EXTENDEDKEY marks the E0 key).
WORD virtualKeyOfScanCode(WORD scan, DWORD flags);

// One SendInput (keybd_event in the ANSI build); a scan-code input carries the mapped virtual key.
void sendKeyInput(WORD vk, WORD scan, DWORD flags);

// Request injectKey: records the key in the ring and types it by scan code.
void injectKey(unsigned int scan, long flags);

// The hook's test for an injected key: true passes, false swallows.
bool matchInjectedKey(sharedData& shared, keyDecisionHost& host, int vk, LPARAM lParam);
