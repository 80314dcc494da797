// The input agents the settings holder can switch between, their accessors, and the seams through
// which agents built elsewhere (the driver and classic agents) and the failure box are reached.
#pragma once

#include <memory>
#include <string>

#include "core/agents/inputHandler.h"

// The agent that is not connected: it takes no keys and drops what it is given.
class emptyHandler : public inputHandler {
public:
    emptyHandler(dllLinkInterface* link, logStream log, settingsHolder* holder);
    bool pause() override;
    std::wstring displayName() override;
    bool setFlag(unsigned char value) override;
    std::wstring id() override;
    bool outputKey(const keyOutputEvent& event) override;
    bool resume() override;
};

using agentPointer = std::shared_ptr<inputHandler>;

// Accessors: the empty, driver and low-level hook agents exist once in the process, built on the
// first call (later calls ignore their arguments); a classic agent is built anew on every call.
// A failed build throws ErrorMessage and leaves the accessor empty for the next try.
agentPointer getEmptyHandler(inputHandler::logStream log, settingsHolder* holder);
agentPointer getDriverLocal(inputHandler::logStream log, settingsHolder* holder);
agentPointer getLlhookLocal(inputHandler::logStream log, settingsHolder* holder);
agentPointer getClassicLocal(inputHandler::logStream log, settingsHolder* holder);

// What the agent switch reaches outside this file. The driver and classic agents register their
// builders here; until one does, choosing it fails like an agent that cannot be created. Tests
// replace the message box so a failure never waits for a human.
struct inputHandlerFactory {
    using builder = inputHandler* (*)(dllLinkInterface* link, inputHandler::logStream log,
                                      settingsHolder* holder);
    builder driver = nullptr;
    builder classic = nullptr;
    int (*messageBox)(HWND owner, const wchar_t* text, const wchar_t* caption, UINT type) = nullptr;
};
inputHandlerFactory& agentFactory();

// The agent type applied last (0 classic, 1 driver, 2 hook; -1 before the first switch and after
// a switch that could build no agent).
int lastAppliedAgentType();
