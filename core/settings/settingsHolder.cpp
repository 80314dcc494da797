#include "core/settings/settingsHolder.h"

#include <windows.h>

#include "core/link/dllLink.h"
#include "core/platform/japaneseText.h"
#include "core/engine/layoutTable.h"
#include "core/platform/locks.h"
#include "core/files/substitutionTable.h"
#include "core/files/swapTable.h"
#include "core/settings/versionInfo.h"

// Lock order wherever both are needed: tableLock() first, then settingsLock().

settingsCache::settingsCache() = default;
settingsCache::settingsCache(const settingsCache& other) = default;
settingsCache& settingsCache::operator=(const settingsCache& other) = default;
settingsCache::~settingsCache() = default;

bool settingsCache::operator==(const settingsCache& other) const
{
    return leftThumbKey == other.leftThumbKey && rightThumbKey == other.rightThumbKey &&
           forceKanaKey == other.forceKanaKey && layoutTables == other.layoutTables &&
           substitutionTables == other.substitutionTables && swapTables == other.swapTables &&
           kanaConvert == other.kanaConvert && dvorak == other.dvorak && funcOutput == other.funcOutput &&
           numLockConvert == other.numLockConvert && alwaysReplaceSwitch == other.alwaysReplaceSwitch &&
           applyShiftLayoutTo == other.applyShiftLayoutTo && ctrlQwerty == other.ctrlQwerty &&
           ctrlMigiOff == other.ctrlMigiOff && multiDownHold == other.multiDownHold &&
           acceptTimer == other.acceptTimer && cancelMultiDownTime == other.cancelMultiDownTime &&
           cancelSands2ndTime == other.cancelSands2ndTime && shiftLayout == other.shiftLayout &&
           gameModeFlags == other.gameModeFlags && gameSwitch == other.gameSwitch &&
           outputTimer == other.outputTimer && shiftReverseType == other.shiftReverseType &&
           shiftReverseTime == other.shiftReverseTime && clearTypeOfStockMiss == other.clearTypeOfStockMiss &&
           kanaConvertOnlyInKanaLocked == other.kanaConvertOnlyInKanaLocked &&
           treatInputByVk == other.treatInputByVk;
}

// Holds both locks for the copy of one holder into another, so the copied map, cache and tables
// belong together.
struct settingsHolder::copyLocks {
    scopedLock tables{tableLock()};
    scopedLock settings{settingsLock()};
};

settingsHolder::settingsHolder(logStream log, dllLinkInterface* link, const versionInfo* version, agentPtr agent)
    : currentAgent(std::move(agent)), log(std::move(log)), m_link(link), m_version(version)
{
}

settingsHolder::~settingsHolder()
{
    // The agent goes first: the last owner's release stops its thread, which reads this holder.
    currentAgent.reset();
    settingsFilePath.clear();
}

// The locks live as a temporary of the delegating call, so they are held through the whole copy:
// a setter on the agent thread can't slip in between the map and the cache.
settingsHolder::settingsHolder(const settingsHolder& other) : settingsHolder(other, copyLocks()) {}

settingsHolder::settingsHolder(const settingsHolder& other, const copyLocks&)
    : settingsStore(other), cache(other.cache), settingsFilePath(other.settingsFilePath),
      currentAgent(other.currentAgent), log(other.log), m_link(other.m_link), m_version(other.m_version)
{
}

settingsHolder& settingsHolder::operator=(const settingsHolder& other)
{
    {
        // The agent thread looks tables up while they are replaced here: hold tableLock.
        const copyLocks hold;
        if (this != &other) {
            settingsStore::operator=(other);
            cache = other.cache;
            log = other.log;
            settingsFilePath = other.settingsFilePath;
        }
    }
    // The own agent stays; the caller switches it when needed. The cache was copied, not re-read.
    applyImeSettings();
    return *this;
}

void settingsHolder::setString(const std::string& key, const std::wstring& text)
{
    scopedLock hold(settingsLock());
    settingsStore::setString(key, text);
    readCache();
}

void settingsHolder::setInt(const std::string& key, int value)
{
    scopedLock hold(settingsLock());
    settingsStore::setInt(key, value);
    readCache();
}

void settingsHolder::setBool(const std::string& key, bool value)
{
    scopedLock hold(settingsLock());
    settingsStore::setBool(key, value);
    readCache();
}

void settingsHolder::setOutputTimer(int milliseconds)
{
    scopedLock hold(settingsLock());
    settingsStore::setOutputTimer(milliseconds);
    readCache();
}

void settingsHolder::setOutputTimerEnabled(bool on)
{
    scopedLock hold(settingsLock());
    settingsStore::setOutputTimerEnabled(on);
    readCache();
}

int settingsHolder::currentVersion() const
{
    return (m_version ? *m_version : getVersionInfo()).versionNumber();
}

void settingsHolder::reportError(const std::string& message)
{
    if (!log)
        return;
    omsgstream& stream = *log;
    // Level 0 and flushed at once: the message always reaches the log, whatever the level of the
    // line written after it.
    stream.lock(0);
#ifdef TVN_ANSI
    stream << message;
#else
    stream << toWideString(message);
#endif
    // The store's messages end their own lines, but not all of them; never glue one to the next.
    if (message.empty() || message.back() != '\n')
        stream << '\n';
    stream.flush();
    stream.unlock();
}

void settingsHolder::readCache()
{
    scopedLock hold(settingsLock());
    const int left = getInt("WinHidariOyaVkCode");
    const int right = getInt("WinMigiOyaVkCode");
    if (left == VK_SHIFT && right == VK_SHIFT) {
        // The system answers the left Shift's scan code for both; the right one is set by hand.
        cache.leftThumbKey = 0x2A;
        cache.rightThumbKey = 0x36;
    } else {
        cache.leftThumbKey = static_cast<unsigned short>(MapVirtualKey(static_cast<UINT>(left), 0));
        cache.rightThumbKey = static_cast<unsigned short>(MapVirtualKey(static_cast<UINT>(right), 0));
    }
    cache.forceKanaKey = static_cast<unsigned short>(MapVirtualKey(static_cast<UINT>(getInt("ForceKanaOnGameMode")), 0));

    cache.kanaConvert = getBool("KanaConvert");
    cache.dvorak = getBool("Dvorak");
    cache.funcOutput = getBool("FuncOutput");
    cache.numLockConvert = getBool("NumLockConvert");
    cache.alwaysReplaceSwitch = getBool("AlwaysReplaceSwitch");
    cache.applyShiftLayoutTo = getInt("ApplyShiftLayoutTo");
    cache.ctrlQwerty = getBool("CtrlQwerty");
    cache.ctrlMigiOff = getBool("CtrlMigiOff");
    cache.multiDownHold = getBool("MultiDownHold10999");
    cache.acceptTimer = getInt("AcceptTimer");
    cache.cancelMultiDownTime = getInt("CancelMultiDownTime");
    cache.cancelSands2ndTime = getInt("CancelSands2ndTime");
    cache.shiftLayout = getInt("shiftLayout");
    cache.gameModeFlags = getInt("GameModeFlags");
    cache.gameSwitch = getBool("GameSwitch");
    cache.outputTimer = getInt("WinOutputTimer");
    cache.shiftReverseType = getInt("WinShiftReverseType");
    cache.shiftReverseTime = getInt("WinShiftReverseTime");
    cache.clearTypeOfStockMiss = getInt("clearTypeOfStockMiss");
    cache.kanaConvertOnlyInKanaLocked = getBool("KANAConvertOnlyInKanaLocked");
    cache.treatInputByVk = getInt("TreatInputByVk");
}

void settingsHolder::applyImeSettings()
{
    static const char* const listKeys[4] = {"ImeThroughOnCandidate", "ImeThroughAlways", "ImeCantUseScsSetstr",
                                            "ImeCantAcceptSymbolDirect"};
    dllLinkInterface& target = link();
    for (int list = 0; list < 4; ++list) {
        // A pattern that doesn't compile matches no IME; the other lists still go.
        std::wstring error;
        target.setImeList(error, list, getString(listKeys[list]));
    }
    target.sendRequest(fromDll::setKakuteiType, static_cast<unsigned int>(getInt("KantyokuKakuteiType")), 0);
    // The lock-key sync flags travel with the other IME settings, so a change takes effect when the
    // settings are applied, not only at the next full load.
    const unsigned int lockSync = (getBool("SyncKanaLockWithIME") ? 2u : 0u) + (getBool("CapsLockSync2IMEKana") ? 1u : 0u);
    target.sendRequest(fromDll::setLockSync, lockSync, 0);
}

dllLinkInterface& settingsHolder::link() const
{
    if (m_link)
        return *m_link;
    return getDllLink();
}
