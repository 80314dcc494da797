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
// 19 keys on their way to the hook; in a burst the focused thread takes them back later than the
// agent converts, and a key that found no room would be lost. Only the main program's copy of the
// library uses it, but from every thread that sends a request (each request flushes it first): the
// agent's thread and the user-interface thread may flush at once, so every operation holds the
// queue's lock, or both would type the same key and drop the next.
class injectionQueue {
public:
    typedef void (*senderFunction)(WORD vk, WORD scan, DWORD flags);
    // A full ring that took no key back for this long holds keys that will never come back.
    static constexpr DWORD staleAfterMs = 1000;

    explicit injectionQueue(senderFunction send) : m_send(send) { InitializeCriticalSection(&m_lock); }
    ~injectionQueue() { DeleteCriticalSection(&m_lock); }
    injectionQueue(const injectionQueue&) = delete;
    injectionQueue& operator=(const injectionQueue&) = delete;
    void add(const injectedKey& entry);
    // Whether a keyboard hook of ours is there to take recorded keys back. Turned off, every
    // waiting key goes at once.
    void setRecording(bool on);
    // Records and types waiting keys while the ring has room. Where no hook will look for them
    // (none installed, or one that lets every key pass while conversion is off) they go at once,
    // unrecorded, still in order. Answers how many still wait.
    size_t flush(sharedData& shared, DWORD now);
    // Types every waiting key at once, unrecorded: no hook is there to look for them.
    void typeAllUnrecorded();
    size_t waiting();

private:
    void type(const injectedKey& entry);
    struct hold {
        explicit hold(CRITICAL_SECTION& lock) : m_lock(lock) { EnterCriticalSection(&m_lock); }
        ~hold() { LeaveCriticalSection(&m_lock); }
        CRITICAL_SECTION& m_lock;
    };

    CRITICAL_SECTION m_lock;
    std::deque<injectedKey> m_waiting;
    senderFunction m_send;
    int m_lastRead = -1;
    DWORD m_stalledSince = 0;
    bool m_stalled = false;
    bool m_recording = false;
};

// The main program's queue of keys waiting to be injected.
injectionQueue& waitingInjections();

// Request injectKey: queues the key, then records and types what the ring has room for.
void injectKey(unsigned int scan, long flags);

// The hook's test for an injected key: true passes, false swallows. A key equal to an entry of
// the ring passes as ours, and the entry taken is remembered in the thread (keyDecisionHost::
// rememberTaken) until the message's extra information confirms it (confirmTakenKey).
bool matchInjectedKey(sharedData& shared, keyDecisionHost& host, int vk, LPARAM lParam);

// The message hook's check of a key message being removed from the queue, with the message's
// extra information. A key the keyboard hook passed for ours that lacks injectedKeySign was the
// user's, equal to one of ours still to come: its entry goes back to the ring, and it is reported
// and swallowed after all (false; the caller empties the message). True: the message stays.
bool confirmTakenKey(sharedData& shared, keyDecisionHost& host, LPARAM lParam, ULONG_PTR extraInfo);
