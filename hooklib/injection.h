// Key injection for the classic input agent and the injected-key ring's side of the keyboard
// hook: keys the library typed itself come back through the hook and must pass.
#pragma once

#include "hooklib/hooks.h"

#include <deque>

// Virtual keys typed by virtual key as well as by scan code, and passed by the hook unmatched.
bool needsVkInjection(int vk);

// The virtual key a scan code stands for (flags: KEYEVENTF_EXTENDEDKEY marks the E0 key).
WORD virtualKeyOfScanCode(WORD scan, DWORD flags);

// Every key the library types comes right after a mark: a release of this unassigned virtual
// key with the key's scan code and direction (sharedData::injectedMarkScan), which the keyboard
// hook swallows. The hook knows its own keys by it; the ring alone can't tell them from physical
// keys that equal them, and in a burst the focused thread has many physical keys queued before
// ours. Where the system does not keep the mark and the key together, a physical key between
// them differs from the mark in scan code or direction, or does what our key would.
const int injectedMarkVk = 0xE8;
bool isInjectedMark(int vk);
// Held down while the library's keyboard hook is installed: the hook in a process that has not
// yet seen a mark knows by the key's state that marks are in use, also for the physical keys
// that come before the first of ours. The hook swallows its messages.
const int injectedMarksInUseVk = 0x88;
void announceInjectedMarks(bool inUse);

// The mark and the key in one SendInput (keybd_event in the ANSI build); a scan-code input carries
// the mapped virtual key.
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
    // Records and types waiting keys while the ring has room. Answers how many still wait.
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
};

// The main program's queue of keys waiting to be injected.
injectionQueue& waitingInjections();

// Request injectKey: queues the key, then records and types what the ring has room for.
void injectKey(unsigned int scan, long flags);

// The hook's test for an injected key: true passes, false swallows. A key right after a mark is
// ours; where no mark ever reached the hook, the ring decides.
bool matchInjectedKey(sharedData& shared, keyDecisionHost& host, int vk, LPARAM lParam);
