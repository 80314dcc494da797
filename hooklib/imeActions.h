// The IME actions the main program asks for through the registered message, carried out in the
// target application's thread, and the IME behaviours the library applies on its own there:
// the composition completion rule and the CapsLock-to-katakana sync.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

// Carries out a received registered message (only when it is removed from the queue).
void onTvnMessage(const MSG& message, WPARAM removeFlag);

// The action addMoziToImeFunc: one character into the composition, else typed as it is.
void addMoziToIme(HWND window, LPARAM character);
void forceAlphanumericMode(HWND window, bool on);
void syncCapsToKatakana(HWND window);
void onImeComposition(HWND window, WPARAM wParam, LPARAM lParam);
void onImeEndComposition();
// Forgets the converted-composition flag and the saved conversion mode (process attach).
void resetImeActionState();

// True when the text holds a Latin letter (ASCII or full width), or, unless ignoreKana, a kana.
bool compositionHasLetters(const std::wstring& composition, bool ignoreKana);
bool compositionHasLetters(HIMC context, bool ignoreKana);

// The completion rule: with kakuteiType 1 a composition of neither letters nor kana is committed
// at once, with 2 one without Latin letters; 0 and 3 never commit.
bool completesComposition(int kakuteiType, LPARAM changeFlags, bool passThrough,
                          const std::wstring& composition);
// Whether the rule needs the composition text at all for this change.
bool completionRuleApplies(int kakuteiType, LPARAM changeFlags, bool passThrough);

// What the composition's attributes say: converting (the first clause is no longer plain input)
// and converted (some clause holds converted text).
struct compositionAttributes {
    bool converting;
    bool converted;
};
compositionAttributes readAttributes(const std::vector<BYTE>& attributes);

// The conversion mode while alphanumeric input is forced. A second "on" before "off" keeps the
// mode saved by the first, so "off" restores what the user had.
struct alphanumericMemory {
    bool forced = false;
    DWORD savedMode = 0;
};
DWORD alphanumericModeFor(alphanumericMemory& memory, DWORD mode, bool on);

// The conversion mode after CapsLock sync: katakana follows the CapsLock toggle.
DWORD capsSyncedMode(DWORD mode, bool capsToggled);
