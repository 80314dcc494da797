// Key injection for the classic input agent and the injected-key ring's side of the keyboard
// hook: keys the library typed itself come back through the hook and must pass.
#pragma once

#include "hooklib/hooks.h"

#include <deque>

// Virtual keys typed by virtual key as well as by scan code, and passed by the hook unmatched.
bool needsVkInjection(int vk);

// The virtual key a scan code stands for (flags: KEYEVENTF_EXTENDEDKEY marks the E0 key).
WORD virtualKeyOfScanCode(WORD scan, DWORD flags);

// Types one key event carrying injectedKeySign (SendInput; keybd_event in the ANSI build). A
// scan-code input carries the mapped virtual key.
void sendKeyInput(WORD vk, WORD scan, DWORD flags);

// Keys the agent asked to inject, waiting in the order asked for room in the ring. The ring holds
// the keys on their way to the hook; in a burst, or while the focused application is busy, the
// focused thread takes them back later than the agent converts, and a key that found no room would
// be lost. Only the main program's copy of the library uses it, but from every thread that sends a
// request (each request flushes it first): the agent's thread and the user-interface thread may
// flush at once, so every operation holds the queue's lock, or both would type the same key and
// drop the next.
//
// No timer decides whose a key is: the ring is emptied only when its keys can't come back, that is
// when it took nothing back for a while although the foreground window answers (its keys went to a
// window without our hook, or to none). A busy application answers nothing and keeps its entries
// however long it sleeps; our keys wait behind them in order.
class injectionQueue {
public:
    typedef void (*senderFunction)(WORD vk, WORD scan, DWORD flags);
    // True while the window our keys go to can't take them yet (busy): its keys may still come.
    typedef bool (*busyFunction)();
    // How long a ring that takes nothing back waits before the foreground window is asked.
    static constexpr DWORD quietAfterMs = 1000;

    injectionQueue(senderFunction send, busyFunction foregroundBusy)
        : m_send(send), m_foregroundBusy(foregroundBusy)
    {
        InitializeCriticalSection(&m_lock);
    }
    ~injectionQueue() { DeleteCriticalSection(&m_lock); }
    injectionQueue(const injectionQueue&) = delete;
    injectionQueue& operator=(const injectionQueue&) = delete;
    void add(const injectedKey& entry);
    // Whether a keyboard hook of ours is there to take recorded keys back. Turned off, every
    // waiting key goes at once.
    void setRecording(bool on);
    // Runs change under the queue's hold, so that no key goes out meanwhile, and records from then
    // on when it answers true.
    template <class Change>
    void changeRecording(Change change)
    {
        hold locked(m_lock);
        setRecording(change());
    }
    // Records and types waiting keys while the ring has room, and lets go of entries whose keys
    // can't come back. Where no hook will look for them (none installed, or one that lets every key
    // pass while conversion is off) they go at once, unrecorded, still in order. Answers how many
    // still wait.
    size_t flush(sharedData& shared, DWORD now);
    // Types every waiting key at once, unrecorded: no hook is there to look for them.
    void typeAllUnrecorded();
    size_t waiting();

private:
    void type(const injectedKey& entry);
    void releaseLostEntries(sharedData& shared, DWORD now);
    struct hold {
        explicit hold(CRITICAL_SECTION& lock) : m_lock(lock) { EnterCriticalSection(&m_lock); }
        ~hold() { LeaveCriticalSection(&m_lock); }
        CRITICAL_SECTION& m_lock;
    };

    CRITICAL_SECTION m_lock;
    std::deque<injectedKey> m_waiting;
    senderFunction m_send;
    busyFunction m_foregroundBusy;
    int m_lastRead = -1;
    DWORD m_quietSince = 0;
    bool m_quiet = false;
    bool m_recording = false;
};

// The main program's queue of keys waiting to be injected.
injectionQueue& waitingInjections();

// Request injectKey: queues the key, then records and types what the ring has room for.
void injectKey(unsigned int scan, long flags);

// Keys that pass the hook without an entry and are never reported: nobody converts them.
bool passesUnmatched(int vk);

// Takes the ring's entry for this key message (injectedKeyMatches; the oldest of them), and
// releases Shift in the thread when the entry says so. False when no entry matches.
bool takeInjectedKey(sharedData& shared, keyDecisionHost& host, int vk, LPARAM lParam, injectedKey& taken);

// The key message itself in the form of a ring entry.
injectedKey entryOfKey(int vk, LPARAM lParam);

// The message hook's judgement of a key message being removed from the queue, which the keyboard
// hook passed and remembered: its extra information says whose it is. Ours stays. The user's
// gives back the entry it took, is reported, and reaches the application as nothing (false; the
// caller empties the message), unless it must pass (takeUsersKey). True: the message stays.
// keyVk, when given, receives the virtual key the keyboard hook saw for this message (vk when the
// message is not the key it passed): an IME may have made the message's VK_PROCESSKEY. With the
// record busy the user's key is decided as passForBusyRecord says, and an entry it took goes back
// at the next locked step (sharedData::giveBackLater).
bool judgeRemovedKey(sharedData& shared, keyDecisionHost& host, int vk, LPARAM lParam, ULONG_PTR extraInfo,
                     int* keyVk = nullptr);
