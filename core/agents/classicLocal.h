// The input agent of the hook library's own keyboard hook: the library holds back the keys its
// rules take and reports them; a polling thread of this agent takes them from the link, converts
// them and types every key back through the library, which lets its own injected keys pass.
#pragma once

#include <windows.h>

#include <bitset>

#include "core/agents/inputHandler.h"

class classic_local : public inputHandler {
public:
    // Starts the polling thread and waits until it runs.
    classic_local(dllLinkInterface* link, logStream log, settingsHolder* holder);
    ~classic_local() override;

    keyCode mapScancode(keyCode code) override;
    // Has the library remove its keyboard hook and parks the thread, so that nothing of the link
    // (its key events, its reports) is taken by this agent while another one runs. Before it
    // parks, the thread takes the reports still waiting, converts the keys swallowed and not yet
    // converted, and releases every key the engine holds.
    bool pause() override;
    // Pauses, then ends the thread; resume starts a new one.
    bool stop() override;
    std::wstring displayName() override;
    bool setFlag(unsigned char value) override;
    std::wstring id() override;
    bool outputKey(const keyOutputEvent& event) override;
    bool resume() override;
    // True when output-conversion table 1 translates the 半角/全角 key to a key.
    bool remapLookup(keyCode key) override;

    // The input steps for one key event of the link (the thread's work; open for tests).
    void handleEvent(const hookKeyEvent& event);
    bool paused() const { return m_paused != 0; }
    bool workerRunning() const { return m_worker != nullptr; }

    // The modifier state carried between events: bit 0 right Shift, bit 1 right Alt, bit 2 left Alt.
    // Process-wide, so a new agent goes on from what the previous one saw.
    static unsigned char modifierState();
    static void resetModifierState();

private:
    static unsigned __stdcall workerMain(void* agent);
    void workerLoop();
    void startWorker();
    // The thread's last work before it parks or ends.
    void settle();
    void passOn(const hookKeyEvent& event);
    // Through the library, which lets the injected key pass its hook.
    void injectKey(int scanCode, int flags);

    // Keys whose press the library let pass unconverted (its report queue was full): their
    // release goes unconverted too, whatever way it comes.
    std::bitset<256> m_passedPresses;
    // Keys whose press the engine was given and whose release it was not: a release that passed
    // lets go of them there, whatever way their press went.
    std::bitset<256> m_engineDown;
    volatile LONG m_stopRequest = 0;
    volatile LONG m_paused = 0;
    HANDLE m_started;
    HANDLE m_ended;
    HANDLE m_parked;  // auto-reset; the thread sets it while it is parked
    HANDLE m_wake;    // auto-reset; wakes a parked thread
    sectionLock m_controlLock;
    HANDLE m_worker = nullptr;
};

// The builder the agent switch calls for every DriverType other than 1 and 2.
inputHandler* buildClassicLocal(dllLinkInterface* link, inputHandler::logStream log, settingsHolder* holder);
