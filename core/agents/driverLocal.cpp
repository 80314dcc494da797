#include "core/agents/driverLocal.h"

#include <sstream>

#include "core/engine/keyCodes.h"

namespace {
// How long a pause waits for held-back output to go out (as long as the other agents wait).
const DWORD releaseWait = 500;
}  // namespace

driver_local::driver_local(dllLinkInterface* link, inputHandler::logStream log, settingsHolder* holder,
                           const deviceNames& names, const deviceOperations& operations)
    : inputHandler(link, log, holder),
      deviceReader(log, names, operations),
      m_scancodeMap(systemScancodeMap())
{
}

driver_local::~driver_local()
{
    // The thread calls back into this object: it must end before any part of it goes.
    stopThread();
    closeDevice();
}

keyCode driver_local::mapScancode(keyCode code) { return m_scancodeMap.forward(code); }

std::wstring driver_local::displayName() { return L"Vexa用デバイスドライバ vexad : " + versionText(); }
bool driver_local::setFlag(unsigned char value) { return value != 0; }
std::wstring driver_local::id() { return L"vexa"; }

bool driver_local::pause()
{
    // The engine belongs to the reader thread: it releases there, while the device still takes
    // what it writes. A thread that does not answer (its device failing) is parked all the same,
    // and then nothing else touches the engine.
    // From here on a record that still comes is written back unchanged, so the engine takes no
    // new key between its release and the suspension.
    // The releases wait, as with the other agents, for output the hook library holds back for a
    // moment after an IME action: left in the queue they would never reach the closed device.
    InterlockedExchange(&m_pausing, 1);
    const bool reading = threadRunning() && !suspended() && deviceOpen();
    const bool released = reading && requestRelease(releaseWait, releaseWait + 500);
    deviceReader::suspend();
    if (!released) {
        scopedLock guard(deviceLock());
        releaseHeldKeys();
    }
    return true;
}

bool driver_local::stop()
{
    pause();
    stopThread();
    return true;
}

bool driver_local::suspend() { return pause(); }

bool driver_local::resume()
{
    InterlockedExchange(&m_pausing, 0);
    startThread();
    deviceReader::resume();
    announce();
    return true;
}

bool driver_local::handleRecord(const keyboardRecord& record)
{
    link()->isConsoleForeground(false);
    scopedLock guard(deviceLock());
    if (!isActive() || m_pausing) {
        serveRelease();
        writeRecord(record, 1);
        return true;
    }
    if (record.MakeCode == overflowMakeCode) {
        std::wostringstream line;
        line << static_cast<DWORD>(now()) << L" デバイスドライバのバッファ溢れが発生したようです。";
        logWideLine(line.str());
        return true;
    }
    const keyCode code = static_cast<keyCode>(record.MakeCode + ((record.Flags & recordKeyE0) ? 0x80 : 0));
    const bool down = (record.Flags & recordKeyBreak) == 0;
    if (record.Flags & recordKeyE1) {
        logHexLine(L"E1 系の拡張はそのまま出力します。 ", code, down ? L" のキーオン○" : L" のキーオフ。");
        writeRecord(record, 1);
        return true;
    }
    if (!isRealKey(code)) {
        logHexLine(L"実入力情報 ", code,
                      down ? L" のキーオン○これは異常時に発生する操作情報です。"
                           : L" のキーオフ　これは異常時に発生する操作情報です。");
        return true;
    }
    if (isAcpiKeyCode(code)) {
        logHexLine(L"入力のあったコード ", code, L" はACPI(電源)系のコードです。");
        writeRecord(record, 1);
        return true;
    }
    // The record carries no usable time: the engine gets the tick of its arrival.
    keyEvent(down, code, now());
    updateStatusText();
    return true;
}

void driver_local::idle()
{
    {
        scopedLock guard(deviceLock());
        serveRelease();
        if (poll()) updateStatusText();
    }
    for (;;) {
        fromDll_waitInfoAdds* report = link()->sendRequest(fromDll::popReport, 0, 0);
        if (!report || link()->handleReport(*report)) break;
    }
    // The output queue is the engine's: on Windows 98/Me this runs on a thread of its own while
    // the reader thread fills and empties the same queue under the device lock. Emptied outside
    // it, one key could go out twice or be lost.
    scopedLock guard(deviceLock());
    drain();
}

bool driver_local::outputKey(const keyOutputEvent& event)
{
    if (!outputAllowed()) return false;
    // A marker (code 0) is no key: a map that disables some key maps that key to 0, and its
    // reverse must not turn the marker into that key.
    const keyCode code = event.isMarker ? event.keyCode : m_scancodeMap.reverse(event.keyCode);
    bool handled;
    if (event.units.empty()) {
        keyOutputEvent plain;
        plain.down = event.down;
        plain.keyCode = code;
        // The marker flag stays, so a bracket reaches the keyboard display as it does with the
        // other agents instead of being logged as an unsupported code.
        plain.isMarker = event.isMarker;
        handled = functionKeyCommand(plain);
    } else {
        handled = functionKeyCommand(event);
    }
    if (handled) return true;

    keyboardRecord record = {};
    record.MakeCode = static_cast<std::uint16_t>(code & 0x7F);
    record.Flags = static_cast<std::uint16_t>((event.down ? 0 : recordKeyBreak) | ((code & 0x80) ? recordKeyE0 : 0));
    writeRecord(record, 1);
    return keyLog(static_cast<keyCode>(code & 0x7F), (code & 0x80) != 0, event.down, event);
}

inputHandler* buildDriverLocal(dllLinkInterface* link, inputHandler::logStream log, settingsHolder* holder)
{
    return new driver_local(link, std::move(log), holder);
}
