#include "core/agents/inputHandler.h"

#include <algorithm>
#include <iomanip>
#include <sstream>

#include "core/link/dllLink.h"
#include "core/platform/errors.h"
#include "core/platform/japaneseText.h"
#include "core/engine/kanaTable.h"
#include "core/engine/keyCodes.h"
#include "core/engine/layoutTable.h"
#include "core/platform/messageWait.h"
#include "core/platform/scancodeMap.h"
#include "core/settings/settingsHolder.h"
#include "core/files/substitutionTable.h"
#include "core/files/swapTable.h"
#include "core/platform/tstring.h"
#include "hooklib/protocol.h"

namespace {

HWND g_mainWindow = nullptr;
HWND g_keyboardDisplay = nullptr;


std::wstring hexCode(unsigned code, int digits) {
    std::wostringstream text;
    text << L"0x" << std::hex << std::nouppercase << std::setw(digits) << std::setfill(L'0') << code;
    return text.str();
}

// The first unit of a key list (a text or character unit with its codes, or one key), taken off it.
keySequence takeUnit(keySequence& keys) {
    keySequence unit;
    unit.splice(unit.begin(), keys, keys.begin(), nextUnit(keys.begin(), keys.end()));
    return unit;
}

}  // namespace

void writeLogLine(omsgstream& log, int level, const std::wstring& text) {
    log.lock(level);
#ifdef TVN_ANSI
    log << toNarrowString(text) << '\n';
#else
    log << text << L'\n';
#endif
    log.flush();
    log.unlock();
}

void inputHandler::setWindows(HWND mainWindowHandle, HWND display) {
    g_mainWindow = mainWindowHandle;
    g_keyboardDisplay = display;
}
HWND inputHandler::mainWindow() { return g_mainWindow; }
HWND inputHandler::keyboardDisplay() { return g_keyboardDisplay; }

inputHandler::inputHandler(dllLinkInterface* link, logStream log, settingsHolder* holder)
    : m_link(link), m_holder(holder), m_log(std::move(log)),
      m_released(CreateEvent(nullptr, TRUE, FALSE, nullptr)) {}

inputHandler::~inputHandler() { CloseHandle(m_released); }

// ---------------------------------------------------------------- host slots: settings

std::int32_t inputHandler::now() { return static_cast<std::int32_t>(GetTickCount()); }

bool inputHandler::outputEvent(const keyOutputEvent& event) {
    m_output.push_back(event);
    return drain();
}

static bool numLockOn() { return (GetKeyState(VK_NUMLOCK) & 1) != 0; }

bool inputHandler::optionEnabled(int kind) {
    const settingsCache& c = m_holder->cache;
    if (kind == 1) return c.alwaysReplaceSwitch;
    if (kind == 2) return c.numLockConvert && numLockOn();
    return false;
}

bool inputHandler::layoutKindEnabled(int kind) {
    const settingsCache& c = m_holder->cache;
    switch (kind) {
    // The empty agent has no link: it converts nothing, and the keyboard display may still ask it.
    case 1:
        return c.kanaConvert && m_link && m_link->kanaLayoutAllowed() &&
               (!c.kanaConvertOnlyInKanaLocked || c.gameSwitch || !m_link->isRomajiMode());
    case 2:
        return c.dvorak && m_link && m_link->alphabetLayoutAllowed();
    case 4:
        return c.funcOutput;
    case 8:
        return c.numLockConvert && numLockOn();
    default:
        return false;
    }
}

bool inputHandler::shiftLayoutAppliesTo(int kind) {
    int bits = m_holder->cache.applyShiftLayoutTo;
    switch (kind) {
    case 1: return (bits & 2) != 0;
    case 2: return (bits & 4) != 0;
    case 4: return (bits & 8) != 0;
    case 8: return (bits & 1) != 0;
    default: return false;
    }
}

bool inputHandler::ctrlQwerty() { return m_holder->cache.ctrlQwerty; }
bool inputHandler::ctrlMigiOff() { return m_holder->cache.ctrlMigiOff; }
bool inputHandler::multiDownHold() { return m_holder->cache.multiDownHold; }
int inputHandler::acceptTimer() { return m_holder->cache.acceptTimer; }
int inputHandler::cancelTime(bool sands) {
    const settingsCache& c = m_holder->cache;
    return sands ? c.cancelSands2ndTime : c.cancelMultiDownTime;
}

int inputHandler::inputKind() {
    const settingsCache& c = m_holder->cache;
    if (!m_link) return 1;
    if (!c.gameSwitch || m_link->isImeOpen()) return m_link->isRomajiMode() ? 1 : 2;
    return (c.gameModeFlags & 0x80) ? 2 : 1;
}

int inputHandler::shiftLayout() { return m_holder->cache.shiftLayout; }
bool inputHandler::isGameMode() { return m_holder->cache.gameSwitch && m_link && !m_link->isImeOpen(); }
bool inputHandler::gameModeBit80Clear() { return (m_holder->cache.gameModeFlags & 0x80) == 0; }
bool inputHandler::gameModeBit02() { return (m_holder->cache.gameModeFlags & 0x02) != 0; }
bool inputHandler::gameModeBit04() { return (m_holder->cache.gameModeFlags & 0x04) != 0; }
bool inputHandler::gameModeBit08() { return (m_holder->cache.gameModeFlags & 0x08) != 0; }
bool inputHandler::gameModeBit40Clear() { return (m_holder->cache.gameModeFlags & 0x40) == 0; }
bool inputHandler::gameModeBit10Clear() { return (m_holder->cache.gameModeFlags & 0x10) == 0; }

int inputHandler::outputTimer() {
    int packed = m_holder->cache.outputTimer;
    return packed < 10000 ? 0 : packed % 10000;
}

int inputHandler::shiftReverseTime() {
    const settingsCache& c = m_holder->cache;
    return c.shiftReverseType ? c.shiftReverseTime : 0;
}

int inputHandler::clearTypeOfStockMiss() { return m_holder->cache.clearTypeOfStockMiss; }
const keyCode* inputHandler::forceKanaKey() { return &m_holder->cache.forceKanaKey; }
const keyCode* inputHandler::rightThumbKey() { return &m_holder->cache.rightThumbKey; }
const keyCode* inputHandler::leftThumbKey() { return &m_holder->cache.leftThumbKey; }

// ---------------------------------------------------------------- host slots: tables
// The user-interface thread replaces whole tables under tableLock; every lookup here holds it
// for the one query so a table is never freed under a running match. The lock is never held
// across output, so a slow target window cannot stall a reload.

keyCode inputHandler::substituteKey(int kind, keyCode key) {
    scopedLock guard(tableLock());
    const auto& tables = m_holder->cache.swapTables;
    auto it = tables.find(kind);
    return it == tables.end() ? key : swappedKey(it->second, key);
}

keySequence inputHandler::convertOutputKeys(int kind, keySequence& keys) {
    if (m_link->useImeComposition()) {
        // Kana that the IME composes itself goes to it as it is.
        std::wstring text = getKanaTable().sequenceText(keys);
        if (!text.empty() && isJapaneseLetter(text[0])) return takeUnit(keys);
    }
    scopedLock guard(tableLock());
    const auto& tables = m_holder->cache.substitutionTables;
    auto it = tables.find(kind);
    if (it == tables.end()) return takeUnit(keys);
    return lookupSubstitution(it->second, keys);
}

int inputHandler::lookupLayout(int kind, const keySequence& keys, layoutMatchState& result) {
    scopedLock guard(tableLock());
    const auto& tables = m_holder->cache.layoutTables;
    auto it = tables.find(kind);
    if (it == tables.end()) return 2;
    return matchLayout(it->second, keys, result);
}

keySequence inputHandler::lookupOutput(int kind, const keySequence& keys) {
    keySequence copy = keys;
    scopedLock guard(tableLock());
    const auto& tables = m_holder->cache.substitutionTables;
    auto it = tables.find(kind);
    if (it == tables.end()) return takeUnit(copy);
    return lookupSubstitution(it->second, copy);
}

keyCode inputHandler::translateKey(keyCode key) {
    scopedLock guard(tableLock());
    const auto& tables = m_holder->cache.substitutionTables;
    auto it = tables.find(1);
    return it == tables.end() ? key : pairedKey(it->second, key);
}

int inputHandler::chordFlags(int kind, keyCode key) {
    scopedLock guard(tableLock());
    const auto& tables = m_holder->cache.layoutTables;
    auto it = tables.find(kind);
    return it == tables.end() ? 0 : chordFlagsOf(it->second, key);
}

keyCode inputHandler::mapScancode(keyCode code) {
    static const scancodeMap systemMap = readSystemScancodeMap();
    return systemMap.forward(code);
}

void inputHandler::logLine(const std::string& text) { logWideLine(toWideString(text)); }

// ---------------------------------------------------------------- agent operations

bool inputHandler::resume() { return announce(); }

bool inputHandler::announce() {
    m_link->sendRequest(fromDll::setSpareFlag, remapLookup(0) ? 1 : 0, 0);
    return true;
}

bool inputHandler::remapLookup(keyCode) { return false; }

bool inputHandler::stop() { return pause(); }

bool inputHandler::outputAllowed() { return m_forceOutput || !m_link->dllEventJustHappened(); }

bool inputHandler::drain() {
    while (!m_output.empty()) {
        if (!outputKey(m_output.front())) break;
        m_output.pop_front();
        m_lastOutputTick = GetTickCount();
    }
    return true;
}

void inputHandler::periodicStep() { periodicStep(now()); }

void inputHandler::periodicStep(std::int32_t inputNow) {
    serveRelease();
    if (pollAt(inputNow)) updateStatusText();
    // At most what the queue holds: in a burst the hook refills it as fast as it is emptied, and
    // the keys taken must be converted and typed before more are taken, or the hook's keys wait
    // behind an agent that only reads.
    for (int taken = 0; taken < reportQueueLength - 1; ++taken) {
        fromDll_waitInfoAdds* report = m_link->sendRequest(fromDll::popReport, 0, 0);
        if (!report || m_link->handleReport(*report)) break;
    }
    drain();
}

void inputHandler::releaseHeldKeys() {
    if (holdsKeys()) {
        releaseAll();
        updateStatusText();
    }
    drain();
}

void inputHandler::releaseHeldKeysAndWait(DWORD timeout) {
    releaseHeldKeys();
    const DWORD start = GetTickCount();
    while (queuedOutput() != 0 && GetTickCount() - start < timeout) {
        Sleep(1);
        drain();
    }
    if (queuedOutput() != 0) dropHeldBackOutput();
}

// Output the hook library still holds back when the agent stops would otherwise wait for the next
// resume and come out stale, or never, with keys left down. Each press goes together with its
// release; the release of a key already sent down goes out now, whatever the wait.
void inputHandler::dropHeldBackOutput() {
    std::list<keyOutputEvent> held;
    held.swap(m_output);
    std::list<keyCode> dropped;
    size_t count = 0;
    m_forceOutput = true;
    for (const keyOutputEvent& event : held) {
        const bool plainKey = !event.isMarker && event.units.empty();
        if (event.down || !event.units.empty()) {
            if (plainKey && event.down) dropped.push_back(event.keyCode);
            ++count;
            continue;
        }
        if (plainKey) {
            auto press = std::find(dropped.begin(), dropped.end(), event.keyCode);
            if (press != dropped.end()) {
                dropped.erase(press);
                ++count;
                continue;
            }
        }
        outputKey(event);
    }
    m_forceOutput = false;
    std::wostringstream line;
    line << L"出力待ちのまま残った " << count << L" 件の出力を破棄しました。";
    logWideLine(line.str());
}

bool inputHandler::modifierPhysicallyDown(keyCode) { return true; }

void inputHandler::releaseModifiersPhysicallyUp() {
    // An injected press reaches the system's key state only after SendInput has returned.
    if (outputWaiting() || GetTickCount() - m_lastOutputTick < 200) return;
    for (keyCode key : sentModifiers()) {
        if (modifierPhysicallyDown(key)) continue;
        logHexLine(L"離されたまま押下中になっていた修飾キー", key, L" を離します。");
        releaseModifier(key);
        updateStatusText();
    }
    drain();
}

void inputHandler::serveRelease() {
    // The request carries the time to wait for held-back output, plus one.
    const LONG asked = InterlockedExchange(&m_releaseAsked, 0);
    if (asked != 0)
        releaseHeldKeysAndWait(static_cast<DWORD>(asked - 1));
    else if (!m_enabled && holdsKeys())
        releaseHeldKeys();
    if (asked != 0) SetEvent(m_released);
}

bool inputHandler::requestRelease(DWORD outputWait, DWORD timeout) {
    ResetEvent(m_released);
    InterlockedExchange(&m_releaseAsked, static_cast<LONG>(outputWait + 1));
    return waitServingSentMessages(m_released, timeout) == WAIT_OBJECT_0;
}

bool inputHandler::resumeSafely() {
    try {
        return resume();
    } catch (ErrorMessage& e) {
        logWideLine(e.text());
        return false;
    }
}

void inputHandler::logWideLine(const std::wstring& text) {
    writeLogLine(*m_log, 0, text);
}

void inputHandler::logHexLine(const wchar_t* before, keyCode code, const wchar_t* after,
                              int minDigits) {
    logWideLine(std::wstring(before) + L" " + hexCode(code, minDigits) + after);
}

bool inputHandler::keyLog(keyCode code, bool extended, bool down, const keyOutputEvent&) {
    TCHAR name[48] = {};
    LONG key = static_cast<LONG>(code) << 16;
    if (extended) key |= 1L << 24;
    // Never sleep here: this runs on the agent thread, and every key of the session waits for it.
    const std::wstring keyName =
        GetKeyNameText(key, name, 48) > 0 ? fromT(name) : std::wstring(L"GetKeyNameText の実行に失敗しました。");
    std::wostringstream line;
    line << id() << L" " << static_cast<DWORD>(now()) << L" " << (down ? L"○" : L"　") << L" "
         << hexCode(code, 2) << (extended ? L"(E0)" : L"") << L" " << keyName;
    // Every typed key (passwords too) would otherwise stand in the log window for anyone to read:
    // the key lines are detail lines, shown only while the log window's detail box is ticked.
    writeLogLine(*m_log, 1, line.str());
    return true;
}

std::wstring inputHandler::statusText() {
    scopedLock guard(m_agentLock);
    return m_statusText;
}

void inputHandler::updateStatusText() {
    HWND display = keyboardDisplay();
    if (!display || !IsWindow(display)) return;
    scopedLock guard(m_agentLock);
    std::wstring text = compositionText();
    if (text != m_statusText) {
        PostMessage(display, agentStatusTextMessage, 0, 0);
        m_statusText = text;
    }
}

// ---------------------------------------------------------------- command keys

void inputHandler::postAction(int action, long argument) {
    m_link->sendRequest(fromDll::postTvnMessage, static_cast<unsigned>(action), argument);
}

void inputHandler::sendSettingChanged() {
    HWND target = mainWindow();
    if (!target) return;
    // Sent, not posted: the main window must see the new settings before the next key. The
    // user-interface thread serves sent messages whenever it waits for this thread, so this
    // cannot hang.
    DWORD_PTR result = 0;
    SendMessageTimeout(target, agentSettingChangedMessage, 1, 0, SMTO_NORMAL, 5000, &result);
}

void inputHandler::pressAndRelease(BYTE vk) {
    keybd_event(vk, 0, 0, 0);
    keybd_event(vk, 0, KEYEVENTF_KEYUP, 0);
}

bool inputHandler::gameCommand(const keyOutputEvent& event, wchar_t command) {
    settingsHolder& settings = *m_holder;
    switch (command) {
    case L'%':
        if (event.down) {
            if (!settings.getBool("GameSwitch")) {
                settings.setBool("GameSwitch", true);
                settings.setInt("GameModeFlags", settings.getInt("GameModeFlags") & ~0x80);
            } else if (!(settings.getInt("GameModeFlags") & 0x80)) {
                settings.setInt("GameModeFlags", settings.getInt("GameModeFlags") | 0x80);
            } else {
                settings.setBool("GameSwitch", false);
            }
        }
        sendSettingChanged();
        break;
    case L'*':
        if (event.down) settings.setBool("GameSwitch", !settings.getBool("GameSwitch"));
        sendSettingChanged();
        break;
    case L'/':
        if (event.down) {
            if (!settings.getBool("GameSwitch"))
                settings.setBool("GameSwitch", true);
            else
                settings.setInt("GameModeFlags", settings.getInt("GameModeFlags") ^ 0x80);
        }
        sendSettingChanged();
        break;
    case L'+':
    case L'-':
        if (event.down) {
            DWORD t = GetTickCount();
            bool repeat = m_layoutKeyHeld && static_cast<int>(t - m_lastLayoutSwitch) <= 5000;
            if (!repeat) {
                postAction(switchKeyboardLayout, command == L'+' ? 1 : 0);
                m_lastLayoutSwitch = t;
            }
        }
        m_layoutKeyHeld = event.down;
        break;
    default:
        break;
    }
    return true;
}

bool inputHandler::functionKeyCommand(const keyOutputEvent& event) {
    static const keyCode capsCommand = keyCodeOf('C', 0);
    static const keyCode kanaLockCommand = keyCodeOf('K', 0);
    static const keyCode imeCommand = keyCodeOf('I', 1);
    static const keyCode closeCommand = keyCodeOf('D', 1);
    static const keyCode alnumCommand = keyCodeOf('X', 1);
    static const keyCode stopCommand = keyCodeOf('Q', 1);

    HWND display = keyboardDisplay();
    if (event.isMarker && display && IsWindow(display)) {
        PostMessage(display, agentMarkerMessage, event.down ? 1 : 0, 0);
        return true;
    }

    if (!event.units.empty()) {
        if (event.units.front() == textUnitCode()) {
            if (event.down) {
                std::wstring text = getKanaTable().sequenceText(event.units);
                std::wostringstream line;
                line << id() << L" " << static_cast<DWORD>(now()) << L" " << text << L"(直接投入)";
                logWideLine(line.str());
                if (!text.empty()) m_link->outputChar(text[0]);
            }
            return true;
        }
        wchar_t command = event.units.size() > 1 ? static_cast<wchar_t>(*std::next(event.units.begin())) : 0;
        return gameCommand(event, command);
    }

    keyCode code = event.keyCode;
    if (code == capsCommand || code == kanaLockCommand || code == imeCommand ||
        code == closeCommand || code == alnumCommand || code == stopCommand) {
        if (event.down) {
            if (code == capsCommand) {
                logWideLine(L"Capslock が要求されました。");
                pressAndRelease(VK_CAPITAL);
            } else if (code == kanaLockCommand) {
                logWideLine(L"かなロックが要求されました。");
                pressAndRelease(VK_KANA);
            } else if (code == imeCommand) {
                logWideLine(L"IME On/Off が要求されました。");
                if (m_link->isConsoleForeground(true))
                    pressAndRelease(VK_KANJI);
                else
                    postAction(toggleIme, 0);
            } else if (code == closeCommand) {
                postAction(closeCandidate, 0);
            } else if (code == alnumCommand) {
                logWideLine(L"IMEを強制的・一時的に英数モードにします。");
                postAction(forceAlphanumeric, 1);
            } else {
                logWideLine(L"キー操作による機能停止が指示されました。");
                m_enabled = false;
                sendSettingChanged();
            }
            return true;
        }
        if (code == alnumCommand) {
            logWideLine(L"強制的に英数モードにしたIMEを戻します。");
            postAction(forceAlphanumeric, 0);
            return true;
        }
        if (code != stopCommand) return true;
    }

    if (!isRealKey(code) || isAcpiKeyCode(code)) {
        logHexLine(L"コード ", code,
                   event.down ? L" のキーオン○を要求されましたが、未対応もしくは未実装のコードです。"
                              : L" のキーオフを要求されましたが、未対応もしくは未実装のコードです。");
        return true;
    }
    return false;
}

// ---------------------------------------------------------------- user-interface queries

std::wstring inputHandler::keysToText(const keySequence& keys) {
    scopedLock guard(tableLock());
    return keysToOutputText(keys);
}

bool inputHandler::hasMultiDownHoldKeys() {
    scopedLock guard(tableLock());
    for (const auto& entry : m_holder->cache.layoutTables)
        for (int flags : entry.second.chordFlags)
            if (flags & chordFlagMultiDownHold) return true;
    return false;
}

bool inputHandler::hasMultiStrokeEntries() {
    scopedLock guard(tableLock());
    for (const auto& entry : m_holder->cache.layoutTables)
        if (entry.second.maxKeyCount > 1) return true;
    return false;
}

bool inputHandler::isDraftData(int slot) {
    static const int layoutKinds[] = {1, 2, 4, 8};
    scopedLock guard(tableLock());
    const settingsCache& c = m_holder->cache;
    if (slot >= 0 && slot <= 3) {
        auto it = c.layoutTables.find(layoutKinds[slot]);
        return it != c.layoutTables.end() && !it->second.copyBeforeEdit;
    }
    if (slot == 4 || slot == 5) {
        auto it = c.substitutionTables.find(slot - 3);
        return it != c.substitutionTables.end() && !it->second.copyBeforeEdit;
    }
    if (slot == 6 || slot == 7) {
        auto it = c.swapTables.find(slot - 5);
        return it != c.swapTables.end() && !it->second.copyBeforeEdit;
    }
    return false;
}

int inputHandler::kanaLayoutModeDefault() {
    scopedLock guard(tableLock());
    const auto& tables = m_holder->cache.layoutTables;
    if (tables.empty()) return 0;
    auto it = tables.find(1);
    return it == tables.end() ? 0 : it->second.typeModeDefault;
}
