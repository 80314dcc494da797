// A mutex that a peer holds until it is let go: a thread standing for any process of the session,
// or a hooked program stopped in a debugger, inside a locked step.
#pragma once

#include <windows.h>

#include <thread>

class peerHeldMutex {
public:
    explicit peerHeldMutex(bool holdNow = true)
        : m_mutex(CreateMutexW(nullptr, FALSE, nullptr)), m_taken(CreateEventW(nullptr, TRUE, FALSE, nullptr)),
          m_finish(CreateEventW(nullptr, TRUE, FALSE, nullptr))
    {
        if (holdNow) hold();
    }
    // The peer takes the mutex (again) and holds it until it is let go.
    void hold()
    {
        if (m_peer.joinable()) return;
        ResetEvent(m_taken);
        ResetEvent(m_finish);
        m_peer = std::thread([this] {
            WaitForSingleObject(m_mutex, INFINITE);
            SetEvent(m_taken);
            WaitForSingleObject(m_finish, INFINITE);
            if (m_release) ReleaseMutex(m_mutex);  // else it ends holding it: the mutex is abandoned
        });
        WaitForSingleObject(m_taken, INFINITE);
    }
    ~peerHeldMutex()
    {
        letGo(true);
        CloseHandle(m_taken);
        CloseHandle(m_finish);
        CloseHandle(m_mutex);
    }
    peerHeldMutex(const peerHeldMutex&) = delete;
    peerHeldMutex& operator=(const peerHeldMutex&) = delete;

    // Another handle of the mutex, for a dllMutex to own.
    HANDLE copy() const
    {
        HANDLE copy = nullptr;
        DuplicateHandle(GetCurrentProcess(), m_mutex, GetCurrentProcess(), &copy, 0, FALSE, DUPLICATE_SAME_ACCESS);
        return copy;
    }
    // The peer ends, releasing the mutex or abandoning it.
    void letGo(bool release)
    {
        if (!m_peer.joinable()) return;
        m_release = release;
        SetEvent(m_finish);
        m_peer.join();
    }

private:
    HANDLE m_mutex;
    HANDLE m_taken;
    HANDLE m_finish;
    bool m_release = true;
    std::thread m_peer;
};
