// The one live settings object of the main program: the settings store plus a cache of the values
// that the conversion engine reads on every key event, the loaded definition tables, the path of the
// settings file, the current input agent and the log stream.
#pragma once

#include <map>
#include <memory>
#include <string>

#include "core/platform/omsgstream.h"
#include "core/settings/settingsStore.h"

class dllLinkInterface;
class inputHandler;
class layoutTable;
class substitutionTable;
class swapTable;
class versionInfo;

// What the engine and the agents read, copied out of the map by readCache(). The agent thread reads
// the scalar fields without a lock: each is one aligned store. The table maps are replaced under
// tableLock() and read under it.
struct settingsCache {
    unsigned short leftThumbKey = 0;   // scan code of WinHidariOyaVkCode
    unsigned short rightThumbKey = 0;  // scan code of WinMigiOyaVkCode
    unsigned short forceKanaKey = 0;   // scan code of ForceKanaOnGameMode

    std::map<int, layoutTable> layoutTables;              // 1 kana, 2 alphabet, 4 function keys, 8 NumLock
    std::map<int, substitutionTable> substitutionTables;  // 1 romaji, 2 kana input
    std::map<int, swapTable> swapTables;                  // 1 machine-dependent, 2 always swapped

    // Until the first readCache() the fields hold the defaults of the settings file.
    bool kanaConvert = true;                    // KanaConvert
    bool dvorak = true;                         // Dvorak (alphabet layout on)
    bool funcOutput = false;                    // FuncOutput
    bool numLockConvert = false;                // NumLockConvert
    bool alwaysReplaceSwitch = false;           // AlwaysReplaceSwitch
    int applyShiftLayoutTo = 15;                // ApplyShiftLayoutTo
    bool ctrlQwerty = true;                     // CtrlQwerty
    bool ctrlMigiOff = false;                   // CtrlMigiOff
    bool multiDownHold = false;                 // MultiDownHold10999
    int acceptTimer = 100;                      // AcceptTimer, ms
    int cancelMultiDownTime = 0;                // CancelMultiDownTime, ms
    int cancelSands2ndTime = 0;                 // CancelSands2ndTime, ms
    int shiftLayout = 0;                        // shiftLayout
    int gameModeFlags = 94;                     // GameModeFlags
    bool gameSwitch = false;                    // GameSwitch
    int outputTimer = 0;                        // WinOutputTimer as stored (switch * 10000 + ms)
    int shiftReverseType = 0;                   // WinShiftReverseType
    int shiftReverseTime = 80;                  // WinShiftReverseTime, ms
    int clearTypeOfStockMiss = 0;               // clearTypeOfStockMiss
    bool kanaConvertOnlyInKanaLocked = false;   // KANAConvertOnlyInKanaLocked
    int treatInputByVk = 1;                     // TreatInputByVk

    settingsCache();
    settingsCache(const settingsCache& other);
    settingsCache& operator=(const settingsCache& other);
    ~settingsCache();
    // Every field, the three table maps included.
    bool operator==(const settingsCache& other) const;
    bool operator!=(const settingsCache& other) const { return !(*this == other); }
};

class settingsHolder : public settingsStore {
public:
    using logStream = std::shared_ptr<omsgstream>;
    using agentPtr = std::shared_ptr<inputHandler>;

    // The program's holder: the hook-library link and the version are the program's single ones, the
    // current agent is the empty agent.
    explicit settingsHolder(logStream log);
    // A holder over a given link, version and agent (tests; any may be null: the link and the version
    // then fall back to the program's single ones).
    settingsHolder(logStream log, dllLinkInterface* link, const versionInfo* version, agentPtr agent);
    ~settingsHolder() override;

    // Copies everything, the tables as values; both holders then share the agent.
    settingsHolder(const settingsHolder& other);
    // Takes the other's map, cache, log stream and path, keeps its own agent, then sends the IME
    // settings to the hook library.
    settingsHolder& operator=(const settingsHolder& other);

    // Each setter stores and re-reads the cache under one hold of settingsLock(), so a setter on
    // another thread can never leave a cache older than the map.
    void setString(const std::string& key, const std::wstring& text) override;
    void setInt(const std::string& key, int value) override;
    void setBool(const std::string& key, bool value) override;
    void setOutputTimer(int milliseconds) override;
    void setOutputTimerEnabled(bool on) override;
    int currentVersion() const override;
    // Writes a message of load or save to the log, flushed at once (level 0).
    void reportError(const std::string& message) override;

    // Fills the cache's scalar fields from the map; the table maps are left alone.
    void readCache();
    // Sends the IME name lists, the composition-confirm type and the lock-key sync flags to the
    // hook library.
    void applyImeSettings();

    // The link this holder talks to.
    dllLinkInterface& link() const;

    // Loading and saving the settings and definition files (defined with the data-file loaders).
    bool loadSettingsFile(const std::wstring& path, const std::wstring& baseFolder);
    bool saveFile(const std::wstring& path);
    bool applyDefaults();
    bool loadAllDataFiles();
    bool reloadDataFile(const std::wstring& path, int slot);
    bool copyDataFile(const std::wstring& sourcePath, const std::wstring& targetPath, bool isKanaLayout);
    bool loadLayoutFile(const std::wstring& path, int kind);
    bool loadConversionFile(const std::wstring& path, int kind);
    bool loadSwapFile(const std::wstring& path, int kind);
    // Applies DriverType; true when the current agent changed (defined with the agents). The agent
    // that stops being live, this holder's or `previous`'s (a snapshot that shares it), is stopped
    // completely: only the live agent ever takes keys.
    bool changeInputHandler(settingsHolder& previous);
    // Stops the current agent and falls back to the empty agent (defined with the agents).
    void stopInputHandler();

    settingsCache cache;
    // The settings file last loaded; the information page sets it after saving to a new file.
    std::wstring settingsFilePath;
    agentPtr currentAgent;
    logStream log;

private:
    struct copyLocks;
    settingsHolder(const settingsHolder& other, const copyLocks& held);

    dllLinkInterface* m_link;
    const versionInfo* m_version;
};

// The empty agent's accessor (defined with the agents): built on first call with the log stream
// and the holder, the same agent on every later call.
std::shared_ptr<inputHandler> getEmptyHandler(settingsHolder::logStream log, settingsHolder* holder);
