#include "core/agents/classicLocal.h"

#include <process.h>

#include "core/platform/errors.h"
#include "core/engine/keyCodes.h"
#include "core/platform/messageWait.h"
#include "core/settings/settingsHolder.h"
#include "core/files/substitutionTable.h"

namespace {

// Right Shift, right Alt and left Alt as the last key event carried them.
volatile unsigned char g_rightShift = 0;
volatile unsigned char g_rightAlt = 0;
volatile unsigned char g_leftAlt = 0;

const int keyWordExtended = 0x100;
const int keyWordRelease = 0x8000;

}  // namespace

unsigned char classic_local::modifierState()
{
    return static_cast<unsigned char>((g_rightShift ? 1 : 0) | (g_rightAlt ? 2 : 0) | (g_leftAlt ? 4 : 0));
}

void classic_local::resetModifierState() { g_rightShift = g_rightAlt = g_leftAlt = 0; }

classic_local::classic_local(dllLinkInterface* link, logStream log, settingsHolder* holder)
    : inputHandler(link, std::move(log), holder),
      m_started(CreateEvent(nullptr, FALSE, FALSE, nullptr)),
      m_ended(CreateEvent(nullptr, FALSE, FALSE, nullptr)),
      m_parked(CreateEvent(nullptr, FALSE, FALSE, nullptr)),
      m_wake(CreateEvent(nullptr, FALSE, FALSE, nullptr))
{
    try {
        startWorker();
    } catch (...) {
        CloseHandle(m_started);
        CloseHandle(m_ended);
        CloseHandle(m_parked);
        CloseHandle(m_wake);
        throw;
    }
}

classic_local::~classic_local()
{
    stop();
    CloseHandle(m_started);
    CloseHandle(m_ended);
    CloseHandle(m_parked);
    CloseHandle(m_wake);
}

void classic_local::startWorker()
{
    InterlockedExchange(&m_stopRequest, 0);
    ResetEvent(m_started);
    ResetEvent(m_ended);
    m_worker = reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, &classic_local::workerMain, this, 0, nullptr));
    if (!m_worker) {
        ErrorMessage message;
        message << L"入力代行スレッドを開始できませんでした。" << systemErrorText(GetLastError());
        throw message;
    }
    waitServingSentMessages(m_started, INFINITE);
}

keyCode classic_local::mapScancode(keyCode code) { return code; }
std::wstring classic_local::displayName() { return L"版1.0/1.1号互換入力代行"; }
bool classic_local::setFlag(unsigned char value) { return value != 0; }
std::wstring classic_local::id() { return L"1.1C"; }

bool classic_local::pause()
{
    scopedLock guard(m_controlLock);
    // Once paused or stopped this agent leaves the library's hook alone: a classic agent that
    // runs now may be another one.
    if (m_paused || !m_worker) return true;
    link()->sendRequest(fromDll::setKeyboardHook, 0, 0);
    InterlockedExchange(&m_paused, 1);
    // A mark left from an earlier pause must not stand for this one: the thread sets it again
    // on every pass while it is parked.
    ResetEvent(m_parked);
    SetEvent(m_wake);
    waitServingSentMessages(m_parked, INFINITE);
    return true;
}

bool classic_local::stop()
{
    pause();
    scopedLock guard(m_controlLock);
    if (!m_worker) return true;
    InterlockedExchange(&m_stopRequest, 1);
    SetEvent(m_wake);
    waitServingSentMessages(m_ended, INFINITE);
    waitServingSentMessages(m_worker, INFINITE);
    CloseHandle(m_worker);
    m_worker = nullptr;
    return true;
}

bool classic_local::resume()
{
    scopedLock guard(m_controlLock);
    if (!m_worker) startWorker();
    // The keys the library swallows from now on are this agent's to take.
    link()->takeKeyEvents(this);
    link()->sendRequest(fromDll::setKeyboardHook, 1, 0);
    InterlockedExchange(&m_paused, 0);
    SetEvent(m_wake);
    announce();
    return true;
}

bool classic_local::remapLookup(keyCode)
{
    settingsHolder* settings = holder();
    if (!settings) return false;
    const keyCode zenkaku = keyCodeOf('Z', 0);
    scopedLock guard(tableLock());
    const auto& tables = settings->cache.substitutionTables;
    const auto found = tables.find(1);
    if (found == tables.end()) return false;
    // A translation is a pair for the key; without one the key stays itself and is not remapped.
    for (const auto& pair : found->second.keyPairs)
        if (pair.first == zenkaku) return pair.second != 0;
    return false;
}

unsigned __stdcall classic_local::workerMain(void* agent)
{
    static_cast<classic_local*>(agent)->workerLoop();
    return 0;
}

void classic_local::workerLoop()
{
    SetEvent(m_started);
    SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_ABOVE_NORMAL);
    bool settled = false;
    while (!m_stopRequest) {
        if (m_paused) {
            if (!settled) settle();
            settled = true;
            // Parked: another agent owns the link's key events and reports now.
            SetEvent(m_parked);
            WaitForSingleObject(m_wake, 20);
            continue;
        }
        settled = false;
        periodicStep();
        // Every key waiting is taken in this pass: in a burst, keys come faster than one a pass.
        bool took = false;
        while (!m_paused && !m_stopRequest) {
            const hookKeyEvent event = link()->popEvent();
            if (event.tick == 0) break;
            handleEvent(event);
            took = true;
        }
        Sleep(took ? 0 : 1);
    }
    if (!settled) settle();
    SetEvent(m_ended);
}

void classic_local::settle()
{
    // The library's hook is gone; what it swallowed before is in its reports or in the link, and
    // no hooked thread adds more (the library lets keys pass once its hook is out). Those keys
    // were typed while this agent converted: it converts them before it lets go of what it holds.
    for (;;) {
        fromDll_waitInfoAdds* report = link()->sendRequest(fromDll::popReport, 0, 0);
        if (!report || link()->handleReport(*report)) break;
    }
    for (;;) {
        const hookKeyEvent event = link()->popEvent();
        if (event.tick == 0) break;
        handleEvent(event);
    }
    releaseHeldKeysAndWait(500);
    link()->releaseKeyEvents(this);
}

void classic_local::injectKey(int scanCode, int flags)
{
    // Every key goes through the library's one queue, also while its hook is gone or lets every
    // key pass: it then types them at once, unrecorded, but never ahead of keys still waiting for
    // the ring. The engine's releases at a pause thus come after the keys typed before them.
    link()->sendRequest(fromDll::injectKey, static_cast<unsigned>(scanCode), flags);
}

void classic_local::passOn(const hookKeyEvent& event)
{
    int flags = 0;
    if (event.keyFlags & keyWordExtended) flags |= KEYEVENTF_EXTENDEDKEY;
    if (event.keyFlags & keyWordRelease) flags |= KEYEVENTF_KEYUP;
    injectKey(event.scanCode, flags);
}

void classic_local::handleEvent(const hookKeyEvent& event)
{
    const keyCode code =
        static_cast<keyCode>((event.scanCode & 0x7F) + ((event.keyFlags & keyWordExtended) ? 0x80 : 0));
    const bool down = (event.keyFlags & keyWordRelease) == 0;
    // The library let this key pass unconverted, its report queue full: it already reached the
    // application and is never typed again.
    const bool passedByLibrary = ((event.keyFlags >> 16) & modifierPassedOn) != 0;
    if (!isActive()) {
        if (passedByLibrary) return;
        link()->isConsoleForeground(false);
        serveRelease();
        passOn(event);
        return;
    }
    // The library does not report the Alt keys and the right-Shift release; their state comes
    // with every reported key and reaches the engine before the key itself.
    const int modifiers = (event.keyFlags >> 16) & 0xFF;
    const int time = event.tick;
    const unsigned char rightShift = (modifiers & 1) ? 1 : 0;
    if (g_rightShift && !rightShift) keyEvent(false, 0x36, time);
    g_rightShift = rightShift;
    const unsigned char rightAlt = (modifiers & 2) ? 1 : 0;
    if (rightAlt != g_rightAlt) keyEvent(rightAlt != 0, 0xB8, time);
    g_rightAlt = rightAlt;
    const unsigned char leftAlt = (modifiers & 4) ? 1 : 0;
    if (leftAlt != g_leftAlt) keyEvent(leftAlt != 0, 0x38, time);
    g_leftAlt = leftAlt;

    if (m_passedPresses[code] && !down) {
        // Pressed unconverted, so released unconverted. A repeat that passed after a press the
        // engine was given leaves the engine holding the key: it lets go of it too.
        m_passedPresses[code] = false;
        if (!passedByLibrary) passOn(event);
        if (m_engineDown[code]) {
            m_engineDown[code] = false;
            inputKey(code, false, time, [] {});
        }
        return;
    }
    if (passedByLibrary) {
        // A passed press: its release goes the same way. A passed release of a key the engine
        // holds: the engine lets go of what it typed for it.
        if (down) {
            m_passedPresses[code] = true;
        } else {
            m_engineDown[code] = false;
            inputKey(code, false, time, [] {});
        }
        return;
    }
    m_engineDown[code] = down;
    inputKey(code, down, time, [this, &event] { passOn(event); });
}

bool classic_local::outputKey(const keyOutputEvent& event)
{
    if (!outputAllowed()) return false;
    // The real Alt keys already reached the system unreported.
    if (event.keyCode == 0xB8 || event.keyCode == 0x38) return true;
    if (functionKeyCommand(event)) return true;
    int flags = 0;
    if (event.keyCode & 0x80) flags |= KEYEVENTF_EXTENDEDKEY;
    if (!event.down) flags |= KEYEVENTF_KEYUP;
    injectKey(event.keyCode & 0x7F, flags);
    return keyLog(static_cast<keyCode>(event.keyCode & 0x7F), (event.keyCode & 0x80) != 0, event.down, event);
}

inputHandler* buildClassicLocal(dllLinkInterface* link, inputHandler::logStream log, settingsHolder* holder)
{
    return new classic_local(link, std::move(log), holder);
}
