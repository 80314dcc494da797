// The record shared by every copy of the hook library: its cross-process lock and the
// operations on its report queue, wait timer, flags and injected-key ring.
#pragma once

#include "hooklib/protocol.h"

// The lock over the shared record: lock(int) ignores its argument and acquires. acquire answers
// whether the lock is held; a caller that did not get it skips the locked operation.
class dllLockable {
public:
    virtual bool lock(int) { return acquire(); }
    virtual bool acquire() = 0;
    virtual void release() = 0;
    virtual ~dllLockable() = default;
};

// How long a locked step waits for the record. Any process of the session can open the mutex, and a
// hooked process stopped inside a locked step (a debugger, a hang) holds it: a hooked application
// waits a moment and then does without the step, its key passing unconverted, rather than freeze
// with every other application of the session. The main program, whose steps the agent's keys
// depend on, waits longer (patientLockWaitMs, set by its first request).
const DWORD hookedLockWaitMs = 50;
const DWORD patientLockWaitMs = 3000;
const int patientLockAttempts = 3;

// The locked steps of one hook call (a key message through the keyboard hook, a message through the
// message hook) wait for the record once at most: once a wait has failed, the call's other steps
// only try the lock, so a key is held up by one short wait however many steps it has. Scopes of one
// thread nest; the outermost begins and ends the call. Outside any scope (the main program's
// requests) every step waits its full time.
class lockWaitScope {
public:
    lockWaitScope();
    ~lockWaitScope();
    lockWaitScope(const lockWaitScope&) = delete;
    lockWaitScope& operator=(const lockWaitScope&) = delete;
    // The calling thread's current call found the record busy: its steps from here on only try.
    static void giveUp();
    static bool givenUp();
};
// Gives back the thread slot of lockWaitScope (process detach).
void releaseLockWaitSlot();

// The named mutex of the library. Mutexes are re-entrant per thread, which the library relies on.
class dllMutex : public dllLockable {
public:
    // waitMs and attempts bound how long a thread may wait for a peer that holds the lock.
    explicit dllMutex(HANDLE handle, DWORD waitMs = hookedLockWaitMs, int attempts = 1);
    ~dllMutex() override;
    dllMutex(const dllMutex&) = delete;
    dllMutex& operator=(const dllMutex&) = delete;

    bool acquire() override;
    void release() override;
    HANDLE handle() const { return m_handle; }
    void setPatience(DWORD waitMs, int attempts);

private:
    HANDLE m_handle;
    volatile DWORD m_waitMs;
    volatile int m_attempts;
};

// The library's one mutex in this process, created on first use.
dllMutex& getDllMutex();

// Holds a dllLockable for a scope when it could be acquired; test it before touching the record.
class sharedHold {
public:
    explicit sharedHold(dllLockable* lock) : m_lock(lock), m_held(lock && lock->lock(0)) {}
    ~sharedHold()
    {
        if (m_held) m_lock->release();
    }
    sharedHold(const sharedHold&) = delete;
    sharedHold& operator=(const sharedHold&) = delete;
    explicit operator bool() const { return m_held; }

private:
    dllLockable* m_lock;
    bool m_held;
};

// True when the injected entry stands for this key message: the same key (by virtual key, or by
// scan code, since a numeric-pad key comes back with another virtual key under NumLock) and the
// same release and extended bits.
bool injectedKeyMatches(const injectedKey& entry, int vk, int scanCode, bool released, bool extended);

// Keys the keyboard hook let pass unconverted because their reports did not fit in the queue,
// each as the time and data reports it still owes the agent (the data marked modifierPassedOn).
// A notice that finds this list full is dropped: the key itself still passed, and so will its
// release (sharedData::passedPress), whatever became of the notice.
struct passedKeyNotices {
    static constexpr int capacity = 32;
    int count = 0;
    fromDll_waitInfoAdds time[capacity];
    fromDll_waitInfoAdds data[capacity];
};

// Operations on one view of the shared record. Every operation takes the lock for its whole
// duration; without a view, or when the lock can't be had, it does nothing and answers
// "nothing there" (false, 0, empty). Indices written by other processes are brought into range
// before they are used, so a corrupt record never makes us write outside the view.
class sharedData {
public:
    typedef DWORD(WINAPI* clockFunction)();

    sharedData(dllSharedData* view, dllLockable* lock, clockFunction clock);
    ~sharedData();
    sharedData(const sharedData&) = delete;
    sharedData& operator=(const sharedData&) = delete;

    void attach(dllSharedData* view) { m_view = view; }
    dllSharedData* view() const { return m_view; }

    void reset();        // for the mapping's creator: no lock
    void resetLocked();

    // Copies the oldest report into answer and answers true; when there is none sets answer.kind 0.
    bool popReport(fromDll_waitInfoAdds& answer);
    bool pushReport(const fromDll_waitInfoAdds& entry);
    bool pushReport(int kind, int info1, int info2);
    // Both or neither: a key's time and data reports only make sense together.
    bool pushReportPair(const fromDll_waitInfoAdds& first, const fromDll_waitInfoAdds& second);
    bool isReportQueueEmpty();
    // The reports of one key the hook would swallow. The notices of keys passed before go first;
    // keyReported when they all fit and so do the key's own two reports: the key is the agent's to
    // type. keyHookGone, pushing nothing, once the keyboard hook has been taken out (a pause, an
    // agent switch, quitting): nobody may take the key's reports any more, and it must pass.
    enum keyReportOutcome { keyReported, keyFoundNoRoom, keyHookGone };
    keyReportOutcome pushKeyReports(const fromDll_waitInfoAdds& time, const fromDll_waitInfoAdds& data);
    // A key whose reports found no room passes; its notice waits behind the others. A press so
    // passed is remembered until its release, which must pass as well (passedPress).
    // The passed-key state and the entries to give back are this process's alone: they are
    // guarded by a lock of the process's own, never held up by the record's.
    void notePassedKey(const fromDll_waitInfoAdds& time, const fromDll_waitInfoAdds& data);
    int passedNoticesWaiting();
    // Whether the press of this key (scan code, plus 0x100 when extended) passed unconverted and
    // its release has not come yet. forgetPassedPress once it has.
    bool passedPress(int key);
    // A press passed with no notice (it may be one of ours): its repeats and release pass too.
    void markPassedPress(int key);
    // Whether the agent was told of this key's press (pushKeyReports) and its release has not come.
    bool reportedPress(int key);
    // The key's release came: neither passed nor reported any more.
    void forgetPassedPress(int key);
    // The focus left this process: the releases of the presses it passed go elsewhere, and the
    // next press of such a key here is the agent's again.
    void forgetPassedPresses();
    // Sends the notices still waiting, if the record can be had: also the focus and message steps
    // do, so a release that passed reaches the engine even when no key follows here.
    void sendPassedNotices();
    // An entry of ours a user's key took while the record was free, judged the user's while it was
    // busy: it goes back at this process's next locked step (readInjectionSign). Forgotten when our
    // key comes first (known by its sign): nothing is left to match.
    void giveBackLater(const injectedKey& entry);
    void forgetGiveBack(int vk, int scanCode, bool released, bool extended);

    // The queue's read index: it moves whenever the agent takes a report.
    int reportReadIndex();

    void setWaitTimer(int delay);
    int readWaitTimer();

    // Refuses, changing nothing, while the ring is full: the key waits for the hook to take
    // the keys typed before it (see injectionQueue). The last injectedReturnRoom slots are kept
    // for entries a user's key took and gives back (restoreInjected): the agent refills the ring
    // faster than a hooked thread gives one back, and an entry that finds no room is lost, its
    // key then converted a second time.
    static constexpr int injectedReturnRoom = 2;
    bool pushInjected(const injectedKey& entry);
    // Empties a ring whose keys can't come back (no window with our hook will receive them) and
    // notes the time in injectedResetTick.
    void dropStaleInjected();
    // The ring's read index: it moves whenever the hook takes a key.
    int injectedReadIndex();
    // The read index and the number of entries, under one hold.
    void injectedState(int& read, int& used);
    bool oldestInjected(injectedKey& entry);
    void dropInjected();
    void clearInjected();
    bool isInjectedEmpty();
    // Finds the oldest entry that matches the key (injectedKeyMatches), copies it out and removes
    // it; the entries before it stay. Not only the oldest: in a burst the focused thread has
    // physical keys queued before our keys, and one of them may equal the oldest entry. Taken for
    // ours, it leaves that entry's key unmatched, which the next entries must not wait for. Peek
    // and drop under one hold, so two threads never consume one entry twice.
    bool takeMatchingInjected(int vk, int scanCode, bool released, bool extended, injectedKey& taken);
    // Puts back, as the oldest, an entry a physical key took for ours. False when the ring has
    // filled up since.
    bool restoreInjected(const injectedKey& entry);
    // Whether a keyboard hook of ours is in: only then do hooked threads swallow and report keys,
    // and know ours by injectedKeySign.
    bool injectionSigned();
    void setInjectionSigned(bool on);
    // The same, told apart from a record a peer held beyond the wait (signUnknown): a key then passes
    // unconverted, and must be remembered as passed (sharedData::passedPress needs no lock).
    enum signReading { signOff, signOn, signUnknown };
    signReading readInjectionSign();

    bool passThrough();
    void setPassThrough(bool on);
    bool spareFlag();
    void setSpareFlag(bool on);
    bool capsImeSync();
    void setCapsImeSync(bool on);
    bool kanaImeSync();
    void setKanaImeSync(bool on);
    int pairKey(int i);
    void setPairKey(int i, int vk);

    // Single aligned values written by requests and read without the lock.
    int kakuteiType() const;
    void setKakuteiType(int value);
    bool debugOutput() const;
    void setDebugOutput(bool on);

    // A ring's indices as one step read them, and the number of entries between them.
    struct ringIndices {
        int read;
        int write;
        int used;
    };

private:
    void resetFields();
    ringIndices reportIndices();
    ringIndices injectedIndices();
    bool byteFlag(std::uint8_t dllSharedData::*field);
    void setByteFlag(std::uint8_t dllSharedData::*field, bool on);

    void giveBackHeld();
    bool sendPassedNoticesHeld();

    dllSharedData* m_view;
    dllLockable* m_lock;
    clockFunction m_clock;
    // Guards what follows: this process's own state.
    CRITICAL_SECTION m_ownLock;
    // This process's hook passed these keys; they are reported before any later key.
    passedKeyNotices m_passed;
    // Keys whose press this process's hook passed unconverted, by scan code and extended bit.
    bool m_passedDown[512] = {};
    // Keys whose press was reported to the agent, indexed the same way.
    bool m_reportedDown[512] = {};
    static constexpr int giveBackCapacity = 4;
    injectedKey m_giveBack[giveBackCapacity] = {};
    int m_giveBackCount = 0;
};

// This process's view of the named mapping, and the operations on it under the named mutex.
sharedData& theSharedData();
// Creates or opens the named mapping and maps it; the creator resets it.
bool openSharedData();
void closeSharedData();

// Name of a session-wide object: the base name followed by the caller's session id. The ANSI
// build's systems have no sessions, so its names stay bare (and are CP932 text).
struct dllNameBuffer {
#ifdef TVN_ANSI
    char text[160];
#else
    wchar_t text[160];
#endif
};
dllNameBuffer sessionObjectName(const wchar_t* base);

extern const wchar_t* const dllMutexName;
extern const wchar_t* const dllMappingName;
extern const wchar_t* const dllMessageName;

// Debug line through OutputDebugString when the record's debug flag is on (given in UTF-8 source,
// written as the build's own text).
void debugLine(const wchar_t* text);
