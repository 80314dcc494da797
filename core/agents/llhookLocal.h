// The input agent of the low-level keyboard hook: the hook procedure on the user-interface thread
// only queues physical keys; a worker thread of the agent converts them and types the result.
#pragma once

#ifndef TVN_ANSI

#include <windows.h>

#include <cstdint>
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
    // The hook as installed now (tests take it away as Windows does with a hook that answers late).
    HHOOK hookHandle() const { return m_hook; }
    size_t queuedEvents();
    // The worker thread while one runs (for measuring its use of the processor), else null.
    HANDLE workerThread() const { return m_worker; }
    // For tests and the benchmark: what the hook procedure does with one key, without a hook.
    LRESULT hookKey(WPARAM wParam, const KBDLLHOOKSTRUCT& key);

protected:
    // Whether a modifier is down for the system (its asynchronous key state).
    bool modifierPhysicallyDown(keyCode key) override;

private:
    static unsigned __stdcall workerMain(void* agent);
    void workerLoop();
    void handleEvent(const hookEvent& event);
    void passOn(const hookEvent& event);
    void passOnQueued();
    DWORD restTime();
    std::int32_t inputClock(const hookEvent* next);
    static unsigned __stdcall hookThreadMain(void* agent);
    void hookLoop();
    bool startHookThread();
    void endHookThread();
    void renewHook();
    void checkHook();
    void sendProbe();
    void probeAnswered();
    void noteRawInput(HRAWINPUT input);

    volatile LONG m_stopRequest = 0;
    HHOOK volatile m_hook = nullptr;
    // The hook lives on a thread of its own that does nothing else, so a busy user-interface
    // thread delays no key of the session and Windows never drops the hook for answering late.
    HANDLE m_hookThread = nullptr;
    DWORD m_hookThreadId = 0;
    HANDLE m_hookReady;             // auto-reset: the hook thread has tried to install the hook
    volatile LONG m_lastHookTick = 0;  // when the hook procedure was last called
    volatile LONG m_lastRawKeyTick = 0;  // when the session last had keyboard input
    DWORD m_rawKeyChecked = 0;           // hook thread only: the input last compared
    UINT_PTR m_checkTimer = 0;           // hook thread only
    UINT_PTR m_probeTimer = 0;           // hook thread only: a probe key is out until it fires
    volatile LONG m_probeSeen = 0;       // the hook procedure had the probe key
    bool m_probeFailed = false;          // hook thread only: the last probe could not be sent
    volatile LONG m_hookDropped = 0;  // the hook was found dropped: the worker releases what it held
    // How late the last key taken reached the worker (hook and worker delays together), ms.
    std::int32_t m_inputLag = 0;
    // A key passed on as it came, waiting for the output before it.
    hookEvent m_heldPassOn = {};
    bool m_passOnHeld = false;
    HWND m_foreground = nullptr;
    DWORD m_foregroundChecked = 0;
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
