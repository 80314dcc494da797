// A host for the conversion engine in tests: a clock the test moves by hand, layout tables
// read by the real reader from small definition texts, output-conversion tables given as
// (unit, keys) pairs, and a record of every event the engine sends.
#pragma once

#include "core/engine/convertEngine.h"
#include "core/engine/kanaTable.h"
#include "core/engine/keyCodes.h"
#include "core/files/layoutReader.h"
#include "core/engine/layoutTable.h"
#include "core/files/textFile.h"
#if __has_include("core/files/substitutionTable.h")
#include "core/files/substitutionTable.h"
#define TVN_ENGINE_TEST_SUBSTITUTION 1
#endif

#include <cstdio>
#include <iterator>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace enginetest {

inline keyCode key(char letter) { return keyCodeOf(static_cast<unsigned char>(letter), 0); }
inline keyCode key1(char letter) { return keyCodeOf(static_cast<unsigned char>(letter), 1); }

// The keys of a run of alphabet-0 letters.
inline keySequence keysOf(const char* letters) {
    keySequence s;
    for (const char* p = letters; *p; ++p) s.push_back(key(*p));
    return s;
}

inline keySequence unitOf(wchar_t ch) { return getKanaTable().registerChar(ch, false); }

struct sentEvent {
    keyOutputEvent event;
    std::int32_t time;
};

// One line per event, for readable expectations: "+k" press, "-k" release (letters of
// alphabet 0 where one names the key, else hex), "[" and "]" marker open and close, "<text>"
// for a text or character unit.
inline std::string describe(const keyOutputEvent& e) {
    if (e.isMarker) return e.down ? "[" : "]";
    std::string s = e.down ? "+" : "-";
    if (!e.units.empty()) {
        // A character unit has no text of its own: its character (a command) is shown.
        std::wstring text = e.units.front() == charUnitCode() && e.units.size() > 1
                                ? std::wstring(1, static_cast<wchar_t>(*std::next(e.units.begin())))
                                : getKanaTable().sequenceText(e.units);
        s += "<";
        for (wchar_t c : text) s += c < 128 ? static_cast<char>(c) : '?';
        return s + ">";
    }
    static const char letters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    for (const char* p = letters; *p; ++p)
        if (key(*p) == e.keyCode) return s + *p;
    char buf[8];
    std::snprintf(buf, sizeof buf, "%02X", e.keyCode);
    return s + buf;
}

class testEngine : public convertEngine {
public:
    testEngine() { resetSharedState(); }

    // ---- the test's controls ----
    std::int32_t clock = 1000;
    int enabledKinds = 1 | 2 | 4 | 8;
    int shiftAppliesTo = 0;
    bool swapOn = false, ctrlQwertyOn = false, ctrlMigiOffOn = false, multiDownHoldOn = false;
    int accept = 100, cancelMulti = 0, cancelSands = 0;
    int kindOfInput = 1, shiftLayoutIndex = 0;
    bool gameMode = false;
    int gameModeFlags = 0;
    int outTimer = 0, shiftReverse = 0, stockMiss = 0;
    keyCode forceKana = 0, rightThumb = 0, leftThumb = 0;
    std::map<int, layoutTable> layouts;
    std::map<int, std::map<keySequence, keySequence>> outputs;  // by input kind
    std::map<keyCode, keyCode> swaps;
    std::vector<sentEvent> sent;
    std::vector<std::string> log;
    int tableQueries = 0;

    // Reads a layout table of a kind from definition text; false when a line failed.
    bool loadLayout(int kind, const std::wstring& text) {
        layoutReader reader(kind);
        std::wistringstream in(text);
        layouts[kind] = readLayout(reader, in);
        return reader.ok();
    }
    // Reads a definition file as the program does (encoding by byte-order mark, else CP932).
    static bool readText(const std::wstring& path, std::wstring& text) {
        std::string bytes;
        if (!readWholeFile(path, bytes)) return false;
        text = decodeFileText(bytes);
        return true;
    }
    bool loadLayoutFile(int kind, const std::wstring& path) {
        std::wstring text;
        return readText(path, text) && (loadLayout(kind, text), layouts.count(kind) != 0);
    }
#ifdef TVN_ENGINE_TEST_SUBSTITUTION
    std::map<int, substitutionTable> substitutions;
    bool loadOutputFile(int kind, const std::wstring& path) {
        std::wstring text;
        if (!readText(path, text)) return false;
        substitutionReader reader(kind);
        std::wistringstream in(text);
        substitutions[kind] = readSubstitution(reader, in);
        return true;
    }
#endif
    void defineOutput(int kind, const keySequence& unit, const keySequence& keys) {
        outputs[kind][unit] = keys;
    }
    void defineOutput(int kind, wchar_t ch, const char* letters) {
        defineOutput(kind, unitOf(ch), keysOf(letters));
    }

    void press(keyCode k) { keyEvent(true, k, clock); }
    void release(keyCode k) { keyEvent(false, k, clock); }
    void tap(keyCode k) {
        press(k);
        release(k);
    }
    // The clock wraps as the system's tick count does.
    void advance(std::int32_t ms) {
        clock = static_cast<std::int32_t>(static_cast<std::uint32_t>(clock) + static_cast<std::uint32_t>(ms));
    }

    std::vector<std::string> events() const {
        std::vector<std::string> out;
        for (const auto& s : sent) out.push_back(describe(s.event));
        return out;
    }
    std::string eventText() const {
        std::string out;
        for (const auto& s : sent) {
            if (!out.empty()) out += ' ';
            out += describe(s.event);
        }
        return out;
    }
    // The keys of the presses sent, as letters (text units as their characters' '?').
    std::string typed() const {
        std::string out;
        for (const auto& s : sent)
            if (s.event.down && !s.event.isMarker) out += describe(s.event).substr(1);
        return out;
    }
    void clearSent() { sent.clear(); }

    using convertEngine::chordStateValue;
    using convertEngine::kanaIsOff;
    using convertEngine::pendingGroupCount;
    using convertEngine::queuedOutputCount;
    using convertEngine::queuedOutput;
    using convertEngine::lastSentTime;
    using convertEngine::sequenceOpen;

    // ---- host operations ----
    std::int32_t now() override { return clock; }
    bool outputEvent(const keyOutputEvent& event) override {
        sent.push_back({event, clock});
        return true;
    }
    bool optionEnabled(int kind) override { return kind == 1 && swapOn; }
    bool layoutKindEnabled(int kind) override { return (enabledKinds & kind) != 0; }
    bool shiftLayoutAppliesTo(int kind) override { return (shiftAppliesTo & kind) != 0; }
    bool ctrlQwerty() override { return ctrlQwertyOn; }
    bool ctrlMigiOff() override { return ctrlMigiOffOn; }
    bool multiDownHold() override { return multiDownHoldOn; }
    int acceptTimer() override { return accept; }
    int cancelTime(bool second) override { return second ? cancelSands : cancelMulti; }
    int inputKind() override { return kindOfInput; }
    int shiftLayout() override { return shiftLayoutIndex; }
    bool isGameMode() override { return gameMode; }
    bool gameModeBit80Clear() override { return !(gameModeFlags & 0x80); }
    bool gameModeBit02() override { return (gameModeFlags & 0x02) != 0; }
    bool gameModeBit04() override { return (gameModeFlags & 0x04) != 0; }
    bool gameModeBit08() override { return (gameModeFlags & 0x08) != 0; }
    bool gameModeBit40Clear() override { return !(gameModeFlags & 0x40); }
    bool gameModeBit10Clear() override { return !(gameModeFlags & 0x10); }
    int outputTimer() override { return outTimer; }
    int shiftReverseTime() override { return shiftReverse; }
    int clearTypeOfStockMiss() override { return stockMiss; }
    const keyCode* forceKanaKey() override { return &forceKana; }
    const keyCode* rightThumbKey() override { return &rightThumb; }
    const keyCode* leftThumbKey() override { return &leftThumb; }
    keyCode substituteKey(int kind, keyCode k) override {
        auto it = swaps.find(k);
        return kind == 2 && it != swaps.end() ? it->second : k;
    }
    keySequence convertOutputKeys(int kind, keySequence& keys) override {
        ++tableQueries;
#ifdef TVN_ENGINE_TEST_SUBSTITUTION
        auto sub = substitutions.find(kind);
        if (sub != substitutions.end()) return lookupSubstitution(sub->second, keys);
#endif
        keySequence unit;
        auto end = nextUnit(keys.begin(), keys.end());
        unit.splice(unit.end(), keys, keys.begin(), end);
        auto& table = outputs[kind];
        auto it = table.find(unit);
        return it != table.end() ? it->second : unit;
    }
    int lookupLayout(int kind, const keySequence& keys, layoutMatchState& result) override {
        ++tableQueries;
        auto it = layouts.find(kind);
        if (it == layouts.end()) {
            result.found = false;
            return keys.empty() ? 1 : 2;
        }
        return matchLayout(it->second, keys, result);
    }
    keySequence lookupOutput(int kind, const keySequence& keys) override {
        keySequence copy = keys;
        return convertOutputKeys(kind, copy);
    }
    keyCode translateKey(keyCode k) override { return k; }
    int chordFlags(int kind, keyCode k) override {
        ++tableQueries;
        auto it = layouts.find(kind);
        return it == layouts.end() ? 0 : chordFlagsOf(it->second, k);
    }
    keyCode mapScancode(keyCode k) override { return k; }
    void logLine(const std::string& text) override { log.push_back(text); }
};

}  // namespace enginetest
