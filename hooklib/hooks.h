// The library's hooks: the message and window-procedure hooks that follow the focus, the lock
// keys and the IME of every GUI thread, and the keyboard hook of the classic input agent.
#pragma once

#include "hooklib/sharedData.h"

// State of this copy of the library (never shared between processes).
struct libraryState {
    HINSTANCE module = nullptr;
    UINT tvnMessage = 0;
    // Meaningful only in the process that installed them (the main program).
    HHOOK messageHook = nullptr;
    HHOOK windowProcHook = nullptr;
    HHOOK keyboardHook = nullptr;
    // This process's picture of the state bits, and the mask bits it has reported so far.
    int stateBits = 0;
    int seenMask = 0;
    HKL cachedLayout = nullptr;
    DWORD setCompStrCaps = 0;
    bool rightShiftReleased = false;
};
libraryState& library();

// Clears the per-process picture (process attach).
void resetProcessState();

void installHooks();
void removeHooks();
// Removes the keyboard hook; with install set puts it in again.
void setKeyboardHook(bool install);

void pushStateBits(int bits, int mask);
void pushImeStatus(HWND window, bool withOpenState);
void pushFocusReports();
bool isFocusWindow(HWND window);

// Runs a hook's work so that no exception ever leaves it: the hook procedures run inside every
// process of the desktop, where an escaping exception would end someone else's program. Answers
// false when the work threw (what it did so far stands; the message is passed on all the same).
template <class Work>
bool runGuarded(Work work) noexcept
{
    try {
        work();
        return true;
    } catch (...) {
        return false;
    }
}

LRESULT CALLBACK getMessageHook(int code, WPARAM removeFlag, LPARAM message);
LRESULT CALLBACK callWndProcHook(int code, WPARAM wParam, LPARAM message);
LRESULT CALLBACK keyboardHook(int code, WPARAM wParam, LPARAM lParam);

struct keyResend;

// A key passed for the message hook to judge: the ring entry it took (tookEntry), or else the key
// itself in the form of an entry, and the virtual key the keyboard hook saw. An IME that claims the
// key changes the message's virtual key to VK_PROCESSKEY before the message hook sees it: the key
// is judged, reported, noted and taken out of the key state by keyVk.
// foundBusy: the keyboard hook found the record busy; the message hook's steps for the key then
// only try the lock (lockWaitScope).
struct rememberedKey {
    injectedKey key;
    bool tookEntry;
    int keyVk;
    bool foundBusy;
};

// What deciding a key needs from the system besides the shared record; the live host asks
// Windows, tests give their own.
class keyDecisionHost {
public:
    virtual int scanToVkEx(int scanCode) = 0;      // MAPVK_VSC_TO_VK_EX
    virtual bool isHeld(int vk) = 0;               // GetAsyncKeyState < 0
    virtual void pushFocusReports() = 0;
    virtual void pushFocusImeStatus() = 0;         // conversion mode of the focus window's IME
    virtual void releaseShiftState() = 0;          // Shift reads as up in this thread
    virtual void sendKey(const keyResend& key) = 0;  // types one key event
    virtual void wait() = 0;                       // lets the agent take reports (about 1 ms), serving sent messages
    virtual DWORD tick() = 0;                      // GetTickCount
    // A key the keyboard hook let pass without being sure whose it is, kept in this thread until
    // the key's message is removed from the queue and its extra information can be read
    // (judgeRemovedKey). False where nothing can be kept: the hook must decide at once.
    virtual bool rememberKey(const rememberedKey& key) = 0;
    virtual bool takeRemembered(rememberedKey& key) = 0;
    // True where the hook runs for an application of the other bitness: the system then calls it
    // in the main program's thread that installed it, which must not be held up, and whose own
    // focus, IME and key state say nothing of the application's.
    virtual bool servesAnotherProcess() = 0;
    virtual ~keyDecisionHost() = default;
};

// Whether the keyboard hook lets one key message pass (true) or swallows and reports it.
bool decideKey(sharedData& shared, keyDecisionHost& host, int code, int vk, LPARAM lParam, DWORD tick);

// A key swallowed without its reports would be lost. While the queue is full the hook waits as
// long as the agent keeps taking reports, and gives up once the agent took none for
// fullQueueWaitMs (patienceMs; or after fullQueueGiveUpMs in all): the key then passes
// unconverted, and the agent hears of it with the next reports that fit. True: the key was
// reported and is the agent's to type; false: it must pass.
const DWORD fullQueueWaitMs = 300;
const DWORD fullQueueGiveUpMs = 3000;
bool reportOrPass(sharedData& shared, keyDecisionHost& host, const fromDll_waitInfoAdds& time,
                  const fromDll_waitInfoAdds& data, DWORD patienceMs = fullQueueWaitMs);

// Swallows a physical key: the focus window's IME status, then the key's time and data reports
// with the Alt (and right-Shift) state. True when it was reported; false: it must pass.
bool reportSwallowedKey(sharedData& shared, keyDecisionHost& host, int vk, LPARAM lParam, DWORD tick);

// A key known to be the user's: swallowed and reported (true), or passed (false) when its press
// passed unconverted before (its repeats and release follow it), or its reports can't go.
bool takeUsersKey(sharedData& shared, keyDecisionHost& host, int vk, LPARAM lParam, DWORD tick);

// A user's key that found the shared record busy beyond the moment a hooked application waits,
// decided by this process's own state alone: true when it passes unconverted, false when it is
// emptied. A fresh press passes and is remembered like one that found the queue full, so its
// repeats and its release pass too, and the agent hears of it with the next reports; in the main
// program's thread, serving another bitness, a key of ours can't be told from it there, and it
// passes unnoted. A repeat of a press the agent was told of is emptied: the agent types the key.
// A release always passes, and the agent hears of it as a passed release: its engine lets go of
// the key if it holds it.
bool passForBusyRecord(sharedData& shared, keyDecisionHost& host, int vk, LPARAM lParam, DWORD tick);

// This process's slots for keyDecisionHost::rememberKey and threadKeysOfOurs in every thread
// (process attach, detach).
void openTakenKeySlot();
void closeTakenKeySlot();

// The key state a thread's application reads: a user's key the message hook empties passed the
// thread's key state on its way, and must leave there what the agent's own keys left. ourDown
// holds the keys of ours the thread received pressed (noteKeyOfOurs), by side for Shift, Ctrl and
// Alt (sidedKey).
int sidedKey(int vk, LPARAM lParam);
void noteKeyOfOurs(bool ourDown[256], int vk, LPARAM lParam);
// The combined Shift, Ctrl or Alt reads down while either side does: a side may be down raw (the
// right Shift passes the keyboard hook in the Unicode build).
void keyStateWithoutUsersKey(BYTE state[256], const bool ourDown[256], int vk, LPARAM lParam);
// The keys of ours the calling thread received pressed: a thread's key state is its own. Null when
// it holds none and create is false.
bool* threadKeysOfOurs(bool create);
// The focus left the thread (thread), or the process (process): the releases of the keys it got
// pressed go elsewhere, so it forgets its keys of ours, or the presses the process passed
// unconverted (sharedData::passedPress).
void focusLeaves(sharedData& shared, bool thread, bool process);
// The focus moves from a window of the calling thread to next (none: to no window at all).
void focusMovesTo(sharedData& shared, HWND next);
// A thread ends: its table of keys of ours goes with it.
void threadEnds();

// The message hook's part for a key message being removed: judges it (judgeRemovedKey), notes a
// key of ours in the thread's table by the key the keyboard hook saw, and answers that key in
// keyVk. False: the message is emptied.
bool judgeAndNoteRemovedKey(sharedData& shared, keyDecisionHost& host, int vk, LPARAM lParam, ULONG_PTR extraInfo,
                            int& keyVk);

// How a passed repeat of a partly swallowed key message is typed again.
struct keyResend {
    WORD vk;
    WORD scan;
    DWORD flags;
};
keyResend resendOf(int vk, LPARAM lParam);

// Decides every repeat of one key message. True: the message goes on unchanged. False: it is
// swallowed; its passed repeats have gone out again one by one.
bool handleKeyMessage(sharedData& shared, keyDecisionHost& host, int code, int vk, LPARAM lParam, DWORD tick);
