// The input agent of the outside keyboard filter driver: every keyboard record of the session
// comes from the driver's device, and only what this agent writes back reaches the system.
// Unconverted keys go back as they came; output keys are written as new records, their codes
// passed back through the system's scancode map so that the map turns them into the intended keys.
#pragma once

#include "core/agents/deviceReader.h"
#include "core/agents/inputHandler.h"
#include "core/platform/scancodeMap.h"

class driver_local : public inputHandler, public deviceReader {
public:
    // Throws ErrorMessage when the driver is held by another program or its device can't be
    // opened. The device names and operations are the driver's own unless a test replaces them.
    driver_local(dllLinkInterface* link, inputHandler::logStream log, settingsHolder* holder,
                 const deviceNames& names = driverDeviceNames(),
                 const deviceOperations& operations = systemDeviceOperations());
    ~driver_local() override;

    // --- agent operations ---
    keyCode mapScancode(keyCode code) override;
    // The reader thread first releases every key the engine holds, then it is parked and the
    // device closed.
    bool pause() override;
    std::wstring displayName() override;
    bool setFlag(unsigned char value) override;
    std::wstring id() override;
    bool outputKey(const keyOutputEvent& event) override;
    // Pauses, then ends the reader thread.
    bool stop() override;
    // Opens the device, starts or wakes the reader thread, tells the hook library. Also the
    // reader's resume.
    bool resume() override;

    // --- reader operations ---
    bool suspend() override;
    bool handleRecord(const keyboardRecord& record) override;
    void idle() override;

    // The machine's scancode map (read once at start-up); tests give their own.
    void setScancodeMap(const scancodeMap& map) { m_scancodeMap = map; }

private:
    scancodeMap m_scancodeMap;
    volatile LONG m_pausing = 0;  // set by pause until the next resume
};

// The builder the agent switch calls for DriverType 1.
inputHandler* buildDriverLocal(dllLinkInterface* link, inputHandler::logStream log, settingsHolder* holder);
