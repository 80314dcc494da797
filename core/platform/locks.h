// Locks shared by the threads of the main program: a lock interface, its critical-section
// implementation, a scoped guard, and the two program-wide locks.
#pragma once

#include <windows.h>

// A lock of three operations. lock(int) exists for callers that pass a (ignored) spin hint.
class lockable {
public:
    virtual void lock(int) { lock(); }
    virtual void lock() = 0;
    virtual void unlock() = 0;
    virtual ~lockable() = default;
};

// Re-entrant for the owning thread, like the critical section beneath it.
class sectionLock : public lockable {
public:
    sectionLock() { InitializeCriticalSection(&m_section); }
    ~sectionLock() override { DeleteCriticalSection(&m_section); }
    sectionLock(const sectionLock&) = delete;
    sectionLock& operator=(const sectionLock&) = delete;

    using lockable::lock;
    void lock() override { EnterCriticalSection(&m_section); }
    void unlock() override { LeaveCriticalSection(&m_section); }

private:
    CRITICAL_SECTION m_section;
};

// Holds a lockable for the lifetime of a scope; releases it on every exit, exceptions included.
class scopedLock {
public:
    explicit scopedLock(lockable& l) : m_lock(&l) { m_lock->lock(0); }
    ~scopedLock() { scopedUnlock(); }
    scopedLock(const scopedLock&) = delete;
    scopedLock& operator=(const scopedLock&) = delete;

private:
    void scopedUnlock() { m_lock->unlock(); }
    lockable* m_lock;
};

// Guards the loaded layout, substitution and swap tables while they are replaced.
// Built on first use, so objects constructed before main may already take it.
sectionLock& tableLock();
// Guards every access to the settings map, from any thread.
sectionLock& settingsLock();
