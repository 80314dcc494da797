#include "hooklib/imeActions.h"

#include "hooklib/hooks.h"
#include "hooklib/protocol.h"
#include "hooklib/sharedData.h"

#include <imm.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

// The composition holds converted text: the next character commits it first.
bool compositionConverted = false;
alphanumericMemory alphanumeric;

}  // namespace

void resetImeActionState()
{
    compositionConverted = false;
    alphanumeric = alphanumericMemory();
}

// ---- pure rules -----------------------------------------------------------------------------------

bool compositionHasLetters(const std::wstring& composition, bool ignoreKana)
{
    for (wchar_t c : composition) {
        if ((c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z')) return true;
        if ((c >= 0xFF21 && c <= 0xFF3A) || (c >= 0xFF41 && c <= 0xFF5A)) return true;
        if (!ignoreKana && ((c >= 0x3041 && c <= 0x309A) || (c >= 0x30A1 && c <= 0x30FA))) return true;
    }
    return false;
}

bool completionRuleApplies(int kakuteiType, LPARAM changeFlags, bool passThrough)
{
    if (kakuteiType != 1 && kakuteiType != 2) return false;
    if (!(changeFlags & (GCS_COMPREADSTR | GCS_COMPSTR))) return false;
    return !passThrough;
}

bool completesComposition(int kakuteiType, LPARAM changeFlags, bool passThrough, const std::wstring& composition)
{
    return completionRuleApplies(kakuteiType, changeFlags, passThrough) &&
           !compositionHasLetters(composition, kakuteiType == 2);
}

compositionAttributes readAttributes(const std::vector<BYTE>& attributes)
{
    compositionAttributes a = {false, false};
    if (attributes.empty()) return a;
    a.converting = attributes[0] != ATTR_INPUT;
    for (BYTE b : attributes)
        if (b != ATTR_INPUT && b != ATTR_TARGET_NOTCONVERTED) a.converted = true;
    return a;
}

DWORD alphanumericModeFor(alphanumericMemory& memory, DWORD mode, bool on)
{
    if (on) {
        if (!memory.forced) {
            memory.savedMode = mode;
            memory.forced = true;
        }
        return mode & ~static_cast<DWORD>(IME_CMODE_NATIVE);
    }
    if (!memory.forced) return mode;  // nothing forced: nothing to give back
    memory.forced = false;
    return mode | (memory.savedMode & IME_CMODE_NATIVE);
}

DWORD capsSyncedMode(DWORD mode, bool capsToggled)
{
    if (!(mode & IME_CMODE_NATIVE)) return mode;
    bool katakana = (mode & IME_CMODE_KATAKANA) != 0;
    return katakana == capsToggled ? mode : (mode ^ IME_CMODE_KATAKANA);
}

// ---- composition -----------------------------------------------------------------------------------

static std::wstring compositionText(HIMC context)
{
#ifdef TVN_ANSI
    // Windows 98/Me IMEs hand the composition over as CP932 bytes.
    LONG bytes = ImmGetCompositionStringA(context, GCS_COMPSTR, nullptr, 0);
    if (bytes <= 0) return std::wstring();
    std::string narrow(static_cast<size_t>(bytes), '\0');
    LONG got = ImmGetCompositionStringA(context, GCS_COMPSTR, &narrow[0], static_cast<DWORD>(bytes));
    if (got <= 0) return std::wstring();
    narrow.resize(static_cast<size_t>(std::min(got, bytes)));
    const int length = MultiByteToWideChar(932, 0, narrow.data(), static_cast<int>(narrow.size()), nullptr, 0);
    if (length <= 0) return std::wstring();
    std::wstring text(static_cast<size_t>(length), L'\0');
    MultiByteToWideChar(932, 0, narrow.data(), static_cast<int>(narrow.size()), &text[0], length);
    return text;
#else
    LONG bytes = ImmGetCompositionStringW(context, GCS_COMPSTR, nullptr, 0);
    if (bytes <= 0) return std::wstring();
    std::wstring text(static_cast<size_t>(bytes) / sizeof(wchar_t), L'\0');
    LONG got = ImmGetCompositionStringW(context, GCS_COMPSTR, &text[0], static_cast<DWORD>(bytes));
    text.resize(got > 0 ? static_cast<size_t>(got) / sizeof(wchar_t) : 0);
    return text;
#endif
}

bool compositionHasLetters(HIMC context, bool ignoreKana)
{
    return compositionHasLetters(compositionText(context), ignoreKana);
}

void onImeComposition(HWND window, WPARAM, LPARAM lParam)
{
    if (lParam & GCS_RESULTSTR) return;
    bool converting = false;
    HIMC context = ImmGetContext(window);
    if (context) {
        sharedData& shared = theSharedData();
        int type = shared.kakuteiType();
        bool completed = false;
        if (completionRuleApplies(type, lParam, type == 1 || type == 2 ? shared.passThrough() : false) &&
            !compositionHasLetters(context, type == 2)) {
            ImmNotifyIME(context, NI_COMPOSITIONSTR, CPS_COMPLETE, 0);
            completed = true;
        }
        compositionConverted = false;
        if (!completed) {
            // One attribute per character (per byte in the ANSI form): the rules below read the
            // same either way.
            LONG n = ImmGetCompositionString(context, GCS_COMPATTR, nullptr, 0);
            if (n > 0) {
                std::vector<BYTE> attributes(static_cast<size_t>(n));
                LONG got = ImmGetCompositionString(context, GCS_COMPATTR, attributes.data(), static_cast<DWORD>(n));
                attributes.resize(got > 0 ? static_cast<size_t>(got) : 0);
                compositionAttributes a = readAttributes(attributes);
                converting = a.converting;
                compositionConverted = a.converted;
            }
        }
        ImmReleaseContext(window, context);
    }
    pushStateBits(converting ? (stateImeOpen | stateComposing | stateConverting) : (stateImeOpen | stateComposing),
                  stateImeOpen | stateComposing | stateConverting);
}

void onImeEndComposition()
{
    pushStateBits(0, stateComposing | stateConverting);
    compositionConverted = false;
}

// ---- actions ---------------------------------------------------------------------------------------

void addMoziToIme(HWND window, LPARAM character)
{
    HIMC context = ImmGetContext(window);
#ifdef TVN_ANSI
    char bytes[2] = {static_cast<char>(character & 0xFF), static_cast<char>((character >> 8) & 0xFF)};
    DWORD length = bytes[1] ? 2 : 1;
#else
    wchar_t ch = static_cast<wchar_t>(character & 0xFFFF);
#endif
    if (context) {
        if (compositionConverted) {
            ImmNotifyIME(context, NI_COMPOSITIONSTR, CPS_COMPLETE, 0);
            compositionConverted = false;
        }
        BOOL ok = FALSE;
#ifdef TVN_ANSI
        if (library().setCompStrCaps & SCS_CAP_MAKEREAD)
            ok = ImmSetCompositionStringA(context, SCS_SETSTR, bytes, length, nullptr, 0);
        if (!ok) ok = ImmSetCompositionStringA(context, SCS_SETSTR, bytes, length, bytes, length);
#else
        if (library().setCompStrCaps & SCS_CAP_MAKEREAD)
            ok = ImmSetCompositionStringW(context, SCS_SETSTR, &ch, sizeof(ch), nullptr, 0);
        if (!ok) ok = ImmSetCompositionStringW(context, SCS_SETSTR, &ch, sizeof(ch), &ch, sizeof(ch));
#endif
        ImmReleaseContext(window, context);
        if (ok) return;
    } else {
        debugLine(L"addMoziToImeFunc を実行しようとしましたが、 HIMC を獲得できませんでした。");
    }
#ifdef TVN_ANSI
    // A double-byte character goes as lead byte and trail byte, lead byte high.
    WPARAM code = length == 2 ? ((static_cast<BYTE>(bytes[0]) << 8) | static_cast<BYTE>(bytes[1]))
                              : static_cast<BYTE>(bytes[0]);
    SendMessageA(window, WM_IME_CHAR, code, 1);
#else
    // Down and up: a VK_PACKET left down would look held to everything that follows.
    INPUT inputs[2] = {};
    for (INPUT& in : inputs) {
        in.type = INPUT_KEYBOARD;
        in.ki.wScan = ch;
        in.ki.dwFlags = KEYEVENTF_UNICODE;
    }
    inputs[1].ki.dwFlags |= KEYEVENTF_KEYUP;
    SendInput(2, inputs, sizeof(INPUT));
#endif
}

void forceAlphanumericMode(HWND window, bool on)
{
    HIMC context = ImmGetContext(window);
    if (!context) return;
    DWORD conversion = 0, sentence = 0;
    if (ImmGetOpenStatus(context) && ImmGetConversionStatus(context, &conversion, &sentence))
        ImmSetConversionStatus(context, alphanumericModeFor(alphanumeric, conversion, on), sentence);
    ImmReleaseContext(window, context);
}

void syncCapsToKatakana(HWND window)
{
    if (!theSharedData().capsImeSync()) return;
    HIMC context = ImmGetContext(window);
    if (!context) return;
    DWORD conversion = 0, sentence = 0;
    if (ImmGetOpenStatus(context) && ImmGetConversionStatus(context, &conversion, &sentence)) {
        DWORD synced = capsSyncedMode(conversion, (GetKeyState(VK_CAPITAL) & 1) != 0);
        if (synced != conversion) ImmSetConversionStatus(context, synced, sentence);
    }
    ImmReleaseContext(window, context);
}

void onTvnMessage(const MSG& message, WPARAM removeFlag)
{
    if (removeFlag == PM_NOREMOVE)
        debugLine(L"PM_NOREMOVE で m_tvnMessage が来ました。");
    else if (removeFlag == PM_REMOVE)
        debugLine(L"PM_REMOVE で m_tvnMessage が来ました。");
    else
        debugLine(L"PM_REMOVE でも PM_NOREMOVE でもない m_tvnMessage が来ました。");
    // A message that is only peeked comes again when it is removed: act once, then.
    if (removeFlag != PM_REMOVE) return;

    HWND window = message.hwnd;
    switch (message.wParam) {
    case toggleIme:
        keybd_event(VK_KANJI, 0, 0, 0);
        keybd_event(VK_KANJI, 0, KEYEVENTF_KEYUP, 0);
        break;
    case reportImeStatus: pushImeStatus(window, false); break;
    case closeCandidate: {
        HIMC context = ImmGetContext(window);
        if (context) {
            ImmNotifyIME(context, NI_CLOSECANDIDATE, 0, 0);
            ImmReleaseContext(window, context);
        } else {
            debugLine(L"closeCandidate を実行しようとしましたが、HIMCを獲得できませんでした。");
        }
        break;
    }
    case addMoziToImeFunc: addMoziToIme(window, message.lParam); break;
    case forceAlphanumeric: forceAlphanumericMode(window, message.lParam != 0); break;
    case switchKeyboardLayout:
        ActivateKeyboardLayout(layoutFromWire(static_cast<std::int32_t>(message.lParam)), 0);
        break;
    default: break;
    }
    theSharedData().setWaitTimer(15);
}
