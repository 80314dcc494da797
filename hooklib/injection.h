// Key injection for the classic input agent and the injected-key ring's side of the keyboard
// hook: keys the library typed itself come back through the hook and must pass.
#pragma once

#include "hooklib/hooks.h"

// Virtual keys typed by virtual key as well as by scan code, and passed by the hook unmatched.
bool needsVkInjection(int vk);

void sendKeyInput(WORD vk, WORD scan, DWORD flags);

// Request injectKey: records the key in the ring and types it by scan code.
void injectKey(unsigned int scan, long flags);

// The hook's test for an injected key: true passes, false swallows.
bool matchInjectedKey(sharedData& shared, keyDecisionHost& host, int vk, LPARAM lParam);
