// The common base of the input agents: the conversion engine bound to one way of taking physical
// keys and of sending keys back. It answers the engine's host questions from the settings cache,
// the loaded tables and the hook-library link, and carries out the command keys a layout produces.
#pragma once

#include <windows.h>

#include <list>
#include <memory>
#include <string>

#include "core/engine/convertEngine.h"
#include "core/link/dllLink.h"
#include "core/platform/locks.h"
#include "core/platform/omsgstream.h"

class settingsHolder;

// One log line at a level: the stream's lock, the text, a line end, a flush.
void writeLogLine(omsgstream& log, int level, const std::wstring& text);

// Private window messages the agents send to the shell.
enum : UINT {
    agentSettingChangedMessage = 0x8077,  // sent (waits) to the main window
    agentStatusTextMessage = 0x8078,      // posted to the keyboard display
    agentMarkerMessage = 0x807D,          // posted to the keyboard display
};

class inputHandler : public convertEngine {
public:
    using logStream = std::shared_ptr<omsgstream>;

    // The link answers the IME questions and carries the hook-library requests; the holder's
    // cache and tables steer the conversion (neither is owned).
    inputHandler(dllLinkInterface* link, logStream log, settingsHolder* holder);
    ~inputHandler() override;
    inputHandler(const inputHandler&) = delete;
    inputHandler& operator=(const inputHandler&) = delete;

    // --- host slots the engine asks for ---
    std::int32_t now() override;
    bool outputEvent(const keyOutputEvent& event) override;
    bool optionEnabled(int kind) override;
    bool layoutKindEnabled(int kind) override;
    bool shiftLayoutAppliesTo(int kind) override;
    bool ctrlQwerty() override;
    bool ctrlMigiOff() override;
    bool multiDownHold() override;
    int acceptTimer() override;
    int cancelTime(bool sands) override;
    int inputKind() override;
    int shiftLayout() override;
    bool isGameMode() override;
    bool gameModeBit80Clear() override;
    bool gameModeBit02() override;
    bool gameModeBit04() override;
    bool gameModeBit08() override;
    bool gameModeBit40Clear() override;
    bool gameModeBit10Clear() override;
    int outputTimer() override;
    int shiftReverseTime() override;
    int clearTypeOfStockMiss() override;
    const keyCode* forceKanaKey() override;
    const keyCode* rightThumbKey() override;
    const keyCode* leftThumbKey() override;
    keyCode substituteKey(int kind, keyCode key) override;
    keySequence convertOutputKeys(int kind, keySequence& keys) override;
    int lookupLayout(int kind, const keySequence& keys, layoutMatchState& result) override;
    keySequence lookupOutput(int kind, const keySequence& keys) override;
    keyCode translateKey(keyCode key) override;
    int chordFlags(int kind, keyCode key) override;
    keyCode mapScancode(keyCode code) override;
    void logLine(const std::string& text) override;

    // --- agent operations ---
    virtual bool pause() = 0;
    virtual std::wstring displayName() = 0;
    virtual bool setFlag(unsigned char value) = 0;
    virtual std::wstring id() = 0;
    virtual bool outputKey(const keyOutputEvent& event) = 0;
    virtual bool resume();
    virtual bool announce();
    virtual bool remapLookup(keyCode key);
    // Stops the agent completely because another one takes over (or the program ends): every key
    // the engine holds is released, keys taken and not yet converted are passed on, threads end
    // and hooks are released. resume() starts a stopped agent again. The base only pauses.
    virtual bool stop();

    bool isActive() const { return m_enabled; }
    // The tray and the settings sheet switch a stopped agent back on.
    void setEnabled(bool enabled) { m_enabled = enabled; }
    bool outputAllowed();
    bool drain();
    void periodicStep();
    // The same, with a waiting key decided as of `inputNow` (convertEngine::pollAt).
    void periodicStep(std::int32_t inputNow);
    // On the agent's thread: releases every key the engine holds (convertEngine::releaseAll) and
    // sends what that produced.
    void releaseHeldKeys();
    // The same, then waits up to `timeout` ms for output that the hook library holds back, so that
    // an agent about to stop leaves nothing unsent. What is still held back then is not kept for
    // later: the releases of keys already down go out, the rest is dropped.
    void releaseHeldKeysAndWait(DWORD timeout);
    // On the agent's thread: every modifier the engine holds down that the system has up again
    // (its release went to another desktop or window) comes up. Skipped while output has just
    // gone, which the system may not have taken in yet.
    void releaseModifiersPhysicallyUp();
    bool functionKeyCommand(const keyOutputEvent& event);
    void updateStatusText();
    bool resumeSafely();
    void logWideLine(const std::wstring& text);
    bool keyLog(keyCode code, bool extended, bool down, const keyOutputEvent& event);
    std::wstring statusText();

    // Queries of the user interface, each under the table lock.
    std::wstring keysToText(const keySequence& keys);
    bool hasMultiDownHoldKeys();
    bool hasMultiStrokeEntries();
    bool isDraftData(int slot);
    int kanaLayoutModeDefault();

    // The windows the agents talk to; the shell sets them once they exist.
    static void setWindows(HWND mainWindow, HWND keyboardDisplay);
    static HWND mainWindow();
    static HWND keyboardDisplay();

    settingsHolder* holder() const { return m_holder; }
    void setHolder(settingsHolder* holder) { m_holder = holder; }
    dllLinkInterface* link() const { return m_link; }
    const logStream& log() const { return m_log; }
    size_t queuedOutput() const { return m_output.size(); }
    // Whether output is still on its way: in this queue, or paced or held back in the engine's.
    bool outputWaiting() const { return !m_output.empty() || queuedOutputCount() != 0; }

protected:
    // The input steps shared by every agent for one physical key. passOn types the key again
    // unconverted in the agent's own way.
    template <class PassOn>
    void inputKey(keyCode code, bool down, int time, PassOn passOn);
    void logHexLine(const wchar_t* before, keyCode code, const wchar_t* after, int minDigits = 2);
    // On the agent's thread, at every step: releases the engine's keys when another thread asked
    // for it (requestRelease) or when the agent has been switched off while keys were down.
    void serveRelease();
    // On another thread: asks the agent's thread to release the engine's keys, sending them on
    // as releaseHeldKeysAndWait(outputWait) does, and waits until it has, at most `timeout` ms;
    // false when it did not answer in time.
    bool requestRelease(DWORD outputWait, DWORD timeout);
    // Whether the system has a modifier key down; true (nothing to release) where an agent can't
    // tell.
    virtual bool modifierPhysicallyDown(keyCode key);

private:
    void dropHeldBackOutput();

    bool gameCommand(const keyOutputEvent& event, wchar_t command);
    void postAction(int action, long argument);
    void sendSettingChanged();
    void pressAndRelease(BYTE vk);

    dllLinkInterface* m_link;
    std::list<keyOutputEvent> m_output;
    settingsHolder* m_holder;
    volatile bool m_enabled = true;
    logStream m_log;
    sectionLock m_agentLock;
    std::wstring m_statusText;
    volatile LONG m_releaseAsked = 0;
    HANDLE m_released;  // manual-reset; set once an asked release is done
    bool m_forceOutput = false;  // output goes whatever the hook library's wait says
    DWORD m_lastOutputTick = 0;
    // "+"/"-" auto-repeat guard.
    bool m_layoutKeyHeld = false;
    DWORD m_lastLayoutSwitch = 0;
};

template <class PassOn>
void inputHandler::inputKey(keyCode code, bool down, int time, PassOn passOn) {
    m_link->isConsoleForeground(false);
    if (!isActive()) {
        serveRelease();
        passOn();
        return;
    }
    if (!isRealKey(code)) {
        logHexLine(L"実入力情報 ", code,
                   down ? L" のキーオン○これは異常時に発生する操作情報です。"
                        : L" のキーオフ　これは異常時に発生する操作情報です。");
        return;
    }
    if (isAcpiKeyCode(code)) {
        logHexLine(L"入力のあったコード ", code, L" はACPI(電源)系のコードです。");
        passOn();
        return;
    }
    keyEvent(down, code, time);
    updateStatusText();
}
