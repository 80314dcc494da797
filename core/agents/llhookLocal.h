// The input agent of the low-level keyboard hook: the hook procedure on the user-interface thread
// only queues physical keys; a worker thread of the agent converts them and types the result.
#pragma once

#ifndef TVN_ANSI

#include <windows.h>

#include <deque>
#include <memory>

#include "core/agents/inputHandler.h"

// One key as the low-level hook saw it.
struct hookEvent {
    DWORD scanCode;
    DWORD flags;  // LLKHF_* bits
    DWORD vk;
    DWORD time;
};

class llhook_local : public inputHandler {
public:
    llhook_local(dllLinkInterface* link, logStream log, settingsHolder* holder);
    ~llhook_local() override;

    keyCode mapScancode(keyCode code) override;
    bool pause() override;
    std::wstring displayName() override;
    bool setFlag(unsigned char value) override;
    std::wstring id() override;
    bool outputKey(const keyOutputEvent& event) override;
    bool resume() override;
    // Pauses, then removes the hook; resume installs it again.
    bool stop() override;

    // The hook procedure; reaches the one agent through a process-wide pointer.
    static LRESULT CALLBACK hookProcedure(int code, WPARAM wParam, LPARAM lParam);
    // The key code of a hook event: set-1 scan code, 0x80 for an extended key other than right
    // Shift and NumLock (which the hook reports as extended although they are not E0 keys).
    static keyCode hookKeyCode(const hookEvent& event);

    bool isIdle() const { return m_idle != 0; }
    bool hookInstalled() const { return m_hook != nullptr; }
    size_t queuedEvents();
    // The worker thread while one runs (for measuring its use of the processor), else null.
    HANDLE workerThread() const { return m_worker; }
    // For tests and the benchmark: what the hook procedure does with one key, without a hook.
    LRESULT hookKey(WPARAM wParam, const KBDLLHOOKSTRUCT& key);

private:
    static unsigned __stdcall workerMain(void* agent);
    void workerLoop();
    void handleEvent(const hookEvent& event);
    void passOn(const hookEvent& event);
    void passOnQueued();
    DWORD restTime();
    bool waitServingSentMessages(HANDLE event, DWORD timeout);

    volatile LONG m_stopRequest = 0;
    HHOOK m_hook = nullptr;
    std::deque<hookEvent> m_events;
    sectionLock m_queueLock;
    HANDLE m_started;
    HANDLE m_ended;
    HANDLE m_wake;  // auto-reset: a key was queued, or the worker is asked to stop
    volatile LONG m_resting = 0;  // the worker waits on m_wake, or is about to
    volatile LONG m_idle = 1;
    sectionLock m_controlLock;
    HANDLE m_worker = nullptr;
};

#endif  // TVN_ANSI
