// The request protocol between the main program and the hook library, and the record that all
// copies of the library share. Both sides include this header; the hook library owns it.
//
// Everything that crosses a process boundary here has a fixed layout: the x86_64 main program
// talks to 32-bit and 64-bit copies of the library through the same mapping, so every field is a
// fixed-width integer and handles cross as 32-bit values (see toWire / fromWire below).
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>

namespace fromDll {

// The requests of the one export `njankotan`. Values are part of the protocol.
enum requestToDll {
    popReport = 0,        // oldest report of the shared queue (kind 0 when empty)
    startHooks = 1,       // global message and window-procedure hooks, reset of the shared record
    stopHooks = 2,        // removes every hook this process installed
    postTvnMessage = 3,   // posts an action (wparam) with its argument (lparam) to the foreground window
    sendImeChar = 4,      // WM_IME_CHAR of wparam to the window lparam
    setLockSync = 5,      // bit 0 CapsLock-to-katakana sync, bit 1 kana-lock sync flag
    sendTvnMessage = 6,   // like postTvnMessage, sent, without arming the wait timer
    setWaitTimer = 7,     // bit 0 arms the wait timer with 100 ms, clear disarms it
    readWaitTimer = 8,    // info1 = deadline tick, 0 when disarmed
    setKeyboardHook = 9,  // bit 0 installs the keyboard hook, clear removes it
    injectKey = 10,       // wparam scan code, lparam KEYEVENTF flags
    setKakuteiType = 11,  // 0..3, the composition completion rule
    setDebugOutput = 12,  // wparam 0: debug lines on/off by lparam bit 0
    setPassThrough = 13,  // bit 0: the keyboard hook passes keys
    setSpareFlag = 14     // bit 0, stored only
};

}  // namespace fromDll

// The answer of every request, and the form of one queued report.
struct fromDll_waitInfoAdds {
    std::int32_t kind;      // command status (0 done, 4 unknown), or the report kind
    std::int32_t info1;
    std::int32_t info2;
    std::uint8_t mustWait;  // 1 in the answers of postTvnMessage and sendImeChar
    std::uint8_t padding[3];
};
static_assert(sizeof(fromDll_waitInfoAdds) == 16, "answer record is 16 bytes");
static_assert(offsetof(fromDll_waitInfoAdds, kind) == 0, "kind at 0");
static_assert(offsetof(fromDll_waitInfoAdds, info1) == 4, "info1 at 4");
static_assert(offsetof(fromDll_waitInfoAdds, info2) == 8, "info2 at 8");
static_assert(offsetof(fromDll_waitInfoAdds, mustWait) == 12, "mustWait at 12");

// Command status values of fromDll_waitInfoAdds::kind.
enum dllAnswerStatus { answerDone = 0, answerUnknownRequest = 4 };

// Kinds of report in fromDll_waitInfoAdds::kind (answers of popReport).
enum dllReportKind {
    reportEmpty = 0,           // the queue was empty
    reportKeyboardLayout = 2,  // info1 HKL
    reportStateBits = 3,       // info1 bits, info2 mask of the bits this report sets
    reportStop = 4,            // not pushed by the library
    reportConversionMode = 6,  // info1 conversion mode, info2 sentence mode
    reportFocusSet = 7,        // info1 0 on focus / menu loop end, 1 on menu loop start
    reportFocusWindow = 8,     // info1 focus window, 0 when the focus left
    reportTsfOff = 9,          // not pushed by the library
    reportKeyTime = 10,        // info1 tick, info2 virtual key; always followed by reportKeyData
    reportKeyData = 11,        // info1 the keyboard hook's lParam, info2 modifier bits
    reportPairKey = 12,        // pass-through pair key
    reportProcessIds = 13,     // not pushed by the library
    reportDebugIds = 14        // not pushed by the library
};

// Bits of reportStateBits.
enum dllStateBit {
    stateCapsLock = 0x1,
    stateKanaLock = 0x2,
    stateNumLock = 0x4,
    stateScrollLock = 0x8,
    stateCandidateOpen = 0x100,
    stateComposing = 0x200,
    stateConverting = 0x400,
    stateImeOpen = 0x800
};

// Modifier bits of reportKeyData's info2. modifierPassedOn marks a key that the keyboard hook let
// pass unconverted because its reports found the queue full; it is reported late, once there is
// room, so that the agent knows the key already reached the application.
enum dllKeyModifier { modifierRightShift = 1, modifierRightAlt = 2, modifierLeftAlt = 4, modifierPassedOn = 0x80 };

// Actions carried by the registered message (wParam; lParam is the argument).
enum tvnMessageAction {
    toggleIme = 0,
    reportImeStatus = 1,
    closeCandidate = 2,
    addMoziToImeFunc = 3,
    forceAlphanumeric = 4,
    switchKeyboardLayout = 5
};

// One key the library typed and expects back through its keyboard hook.
struct injectedKey {
    std::int32_t scanCode;  // as requested
    std::int32_t flags;     // KEYEVENTF_EXTENDEDKEY 0x1, KEYEVENTF_KEYUP 0x2
    std::int32_t vk;        // virtual key of the scan code
    std::int32_t kind;      // 1; 3 when a right-Shift release was requested just before
};
static_assert(sizeof(injectedKey) == 16, "injected key entry is 16 bytes");

enum { injectedKindPlain = 1, injectedKindShiftReleased = 3 };

// The extra information (dwExtraInfo) of every key the library types: the key message itself says
// it is ours, whatever the system queued around it.
const unsigned long injectedKeySign = 0x54764E4Bul;

const int reportQueueLength = 60;  // holds at most 59
const int injectedRingLength = 20; // holds at most 19
const std::size_t dllSharedDataSize = 1324;

// The named file mapping all copies of the library share.
struct dllSharedData {
    std::int32_t reportRead;
    std::int32_t reportWrite;
    fromDll_waitInfoAdds reportQueue[reportQueueLength];
    std::uint8_t capsImeSync;
    std::uint8_t kanaImeSync;
    std::uint8_t waitActive;
    std::uint8_t waitPending;
    std::int32_t waitTime;  // the delay while pending, afterwards the deadline tick
    std::uint8_t pairKeys[4];
    injectedKey injectedRing[injectedRingLength];
    std::int32_t injectedRead;
    std::int32_t injectedWrite;
    std::uint32_t injectedResetTick;
    std::uint8_t passThrough;
    std::uint8_t spareFlag;
    std::uint8_t injectionSigned;  // 1 while a keyboard hook is in and the library's keys carry injectedKeySign
    std::uint8_t padding1;
    std::int32_t kakuteiType;
    std::uint8_t debugOutput;
    std::uint8_t padding2[3];
};
static_assert(sizeof(dllSharedData) == dllSharedDataSize, "shared record is 1324 bytes");
static_assert(offsetof(dllSharedData, reportRead) == 0, "reportRead");
static_assert(offsetof(dllSharedData, reportWrite) == 4, "reportWrite");
static_assert(offsetof(dllSharedData, reportQueue) == 8, "reportQueue");
static_assert(offsetof(dllSharedData, capsImeSync) == 968, "capsImeSync");
static_assert(offsetof(dllSharedData, kanaImeSync) == 969, "kanaImeSync");
static_assert(offsetof(dllSharedData, waitActive) == 970, "waitActive");
static_assert(offsetof(dllSharedData, waitPending) == 971, "waitPending");
static_assert(offsetof(dllSharedData, waitTime) == 972, "waitTime");
static_assert(offsetof(dllSharedData, pairKeys) == 976, "pairKeys");
static_assert(offsetof(dllSharedData, injectedRing) == 980, "injectedRing");
static_assert(offsetof(dllSharedData, injectedRead) == 1300, "injectedRead");
static_assert(offsetof(dllSharedData, injectedWrite) == 1304, "injectedWrite");
static_assert(offsetof(dllSharedData, injectedResetTick) == 1308, "injectedResetTick");
static_assert(offsetof(dllSharedData, passThrough) == 1312, "passThrough");
static_assert(offsetof(dllSharedData, spareFlag) == 1313, "spareFlag");
static_assert(offsetof(dllSharedData, injectionSigned) == 1314, "injectionSigned");
static_assert(offsetof(dllSharedData, kakuteiType) == 1316, "kakuteiType");
static_assert(offsetof(dllSharedData, debugOutput) == 1320, "debugOutput");

// Window and layout handles cross as 32-bit values. Windows keeps them in the low 32 bits on
// 64-bit systems too; widening back extends the sign, as the system itself does.
inline std::int32_t toWire(const void* handle)
{
    return static_cast<std::int32_t>(reinterpret_cast<std::intptr_t>(handle));
}
inline HWND windowFromWire(std::int32_t value)
{
    return reinterpret_cast<HWND>(static_cast<std::intptr_t>(value));
}
inline HKL layoutFromWire(std::int32_t value)
{
    return reinterpret_cast<HKL>(static_cast<std::intptr_t>(value));
}

// The export. The main program binds it by this exact (decorated) name on both architectures.
typedef fromDll_waitInfoAdds* (__cdecl* njankotanFunction)(fromDll::requestToDll request, HWND window,
                                                           unsigned int wparam, long lparam);
#define TVN_NJANKOTAN_EXPORT_NAME "?njankotan@@YAPAUfromDll_waitInfoAdds@@W4requestToDll@fromDll@@QAUHWND__@@IJ@Z"
const char* const njankotanExportName = TVN_NJANKOTAN_EXPORT_NAME;

// File names of the two builds of the library.
#define TVN_HOOKLIB_UNICODE_NAME L"TavolinXPDll.dll"
#define TVN_HOOKLIB_ANSI_NAME "TavolinMeDll.dll"
