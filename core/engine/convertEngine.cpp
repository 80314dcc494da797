// Key events, modifier tracking and table lookup.
#include "core/engine/convertEngine.h"

#include <iterator>

#include "core/engine/kanaTable.h"

namespace {

// Table kinds in lookup order: NumLock, kana, alphabet, function keys.
const int kLookupOrder[4] = {8, 1, 2, 4};

// The right-hand row shift, as three letter strings of the main alphabet: map 1 moves A to B
// in all 28 places, map 2 only in the letter rows, map 3 moves A to C.
const char kShiftFrom[] = "uiop@[yjkl;:]hm,./_n7890-^\\6";
const char kShiftTo1[] = "yuiop@[hjkl;:]nm,./_67890-^\\";
const char kShiftTo3[] = "yuiop@[hjkl;:]nm,./_\\7890-^";

// Log lines, CP932.
const char kEmptySearchText[] =
    "\x8C\x9F\x8D\xF5\x91\xCE\x8F\xDB\x95\xB6\x8E\x9A\x97\xF1\x82\xAA\x8B\xF3\x82\xC5\x82\xB7\x81"
    "\x42";
const char kCountMismatch[] =
    "\x8A\x6D\x92\xE8\x91\xD2\x82\xBF\x93\xFC\x97\xCD\x82\xCC\x83\x4C\x81\x5B\x91\x67\x90\x94\x82"
    "\xC6\x89\xBC\x8A\x6D\x92\xE8\x95\xB6\x8E\x9A\x97\xF1\x82\xCC\x91\x67\x90\x94\x82\xAA\x88\xEA"
    "\x92\x76\x82\xB5\x82\xDC\x82\xB9\x82\xF1\x81\x42";

// A 254 in a layout output sends the unit after it to a second lookup.
const keyCode kKeyMarker = 254;

}  // namespace

// ---- modifier trackers ----

void engineModifierTracker::send(bool down, keyCode code, std::int32_t delay) {
    keyOutputEvent e;
    e.down = down;
    e.keyCode = code;
    e.delay = delay;
    m_engine->queueOutput(e);
}

void engineModifierTracker::setSentLeft(bool b) {
    if (b != sentLeft) send(b, leftCode, 0);
    sentLeft = b;
}

void engineModifierTracker::setSentRight(bool b) {
    if (b != sentRight) send(b, rightCode, 0);
    sentRight = b;
}

void engineModifierTracker::syncLeft() {
    if (pressedLeft != sentLeft)
        send(pressedLeft, leftCode, m_engine->isGameMode() ? m_engine->shiftReverseTime() : 0);
    sentLeft = pressedLeft;
}

void engineModifierTracker::syncRight() {
    if (pressedRight != sentRight)
        send(pressedRight, rightCode, m_engine->isGameMode() ? m_engine->shiftReverseTime() : 0);
    sentRight = pressedRight;
}

// Every press is passed on (auto-repeat too); a release only when the key was pressed.
void engineModifierTracker::setLeft(bool b) {
    if (b || pressedLeft) send(b, leftCode, 0);
    pressedLeft = sentLeft = b;
}

void engineModifierTracker::setRight(bool b) {
    if (b || pressedRight) send(b, rightCode, 0);
    pressedRight = sentRight = b;
}

// ---- construction ----

outputSharedState& convertEngine::sharedState() {
    static outputSharedState state;
    return state;
}

void convertEngine::resetSharedState() { sharedState() = outputSharedState(); }

convertEngine::convertEngine()
    : thumbLeftCode(keyCodeOf('L', 0)),
      thumbRightCode(keyCodeOf('R', 0)),
      shiftLeftCode(keyCodeOf('H', 0)),
      shiftRightCode(keyCodeOf('M', 0)),
      kanaToggleCode(keyCodeOf('K', 1)),
      alnumCode(keyCodeOf('X', 1)),
      alnumSkipCode(keyCodeOf('~', 0)),
      kanaLockCode(keyCodeOf('K', 0)),
      enterCode(keyCodeOf('E', 0)),
      escapeCode(keyCodeOf('Q', 0)),
      backspaceCode(keyCodeOf('B', 0)),
      m_trackers{{engineModifierTracker(this, 0x2A, 0x36), engineModifierTracker(this, 0x38, 0xB8),
                  engineModifierTracker(this, 0x1D, 0x9D), engineModifierTracker(this, 0xDB, 0xDC)}} {
    for (auto& map : m_rowShiftMaps)
        for (std::size_t i = 0; i < map.size(); ++i) map[i] = static_cast<keyCode>(i);
    for (std::size_t i = 0; i + 1 < sizeof kShiftFrom; ++i) {
        const std::size_t from = keyCodeOf(kShiftFrom[i], 0) & 0xFF;
        m_rowShiftMaps[1][from] = keyCodeOf(kShiftTo1[i], 0);
        if (i < 20) m_rowShiftMaps[2][from] = keyCodeOf(kShiftTo1[i], 0);
        if (i + 1 < sizeof kShiftTo3) m_rowShiftMaps[3][from] = keyCodeOf(kShiftTo3[i], 0);
    }
    scopedLock guard(tableLock());
    kanaTable& kana = getKanaTable();
    m_sokuonKeys = kana.registerChar(L'\x3063', false);
    m_nKeys = kana.registerChar(L'\x3093', false);
    m_voicedMarkKeys = kana.registerChar(L'\x309B', false);
    m_semiVoicedMarkKeys = kana.registerChar(L'\x309C', false);
}

convertEngine::~convertEngine() = default;

bool convertEngine::isModifier(keyCode key) {
    for (const auto& t : m_trackers)
        if (key == t.leftCode || key == t.rightCode) return true;
    return false;
}

// ---- skip flags, usable kinds, row shift, chord flags ----

bool convertEngine::anyPressed(std::size_t tracker) {
    return m_trackers[tracker].isLeftPressed() || m_trackers[tracker].isRightPressed();
}

modifierSkipFlags convertEngine::currentSkipFlags() {
    modifierSkipFlags f;
    if (anyPressed(1) || anyPressed(2) || anyPressed(3)) {
        f.noRowShift = ctrlMigiOff();
        f.skipAlphabet = ctrlQwerty();
        f.modifierHeld = true;
    }
    return f;
}

void convertEngine::updateSkipFlags() { m_skip = currentSkipFlags(); }

bool convertEngine::kindUsable(int kind, bool kanaOff) {
    return layoutKindEnabled(kind) || (kind == 1 && !kanaOff && isGameMode());
}

bool convertEngine::kindSkipped(int kind, const modifierSkipFlags& flags, bool kanaOff) {
    return (flags.modifierHeld && (kind == 1 || kind == 8)) || (kanaOff && kind == 1) ||
           (flags.skipAlphabet && kind == 2);
}

keyCode convertEngine::rowShift(keyCode key, bool noRowShift) {
    if (noRowShift || key > 0xFF) return key;
    const int map = shiftLayout();
    if (map < 1 || map > 3) return key;
    return m_rowShiftMaps[static_cast<std::size_t>(map)][key];
}

int convertEngine::kindChordFlags(keyCode key, keyCode shifted) {
    int flags = 0;
    for (int kind : kLookupOrder) {
        if (kindSkipped(kind, m_skip, m_kanaOff) || !kindUsable(kind, m_kanaOff)) continue;
        flags |= queryChordFlags(kind, shiftLayoutAppliesTo(kind) ? shifted : key);
    }
    return flags;
}

int convertEngine::keyChordFlags(keyCode key) {
    int flags = kindChordFlags(key, rowShift(key, m_skip.noRowShift));
    if (key == *leftThumbKey())
        flags |= kindChordFlags(thumbLeftCode, rowShift(thumbLeftCode, m_skip.noRowShift));
    else if (key == *rightThumbKey())
        flags |= kindChordFlags(thumbRightCode, rowShift(thumbRightCode, m_skip.noRowShift));
    return flags;
}

// ---- the key-event entry ----

bool convertEngine::keyEvent(bool down, keyCode key, std::int32_t time) {
    if (optionEnabled(1)) key = querySubstitute(2, key);
    key = mapScancode(key);
    updateSkipFlags();

    for (auto& t : m_trackers) {
        if (key == t.leftCode || key == t.rightCode) {
            if (key == t.leftCode)
                t.setLeft(down);
            else
                t.setRight(down);
            publishSnapshot();
            return true;
        }
    }

    if (!anyPressed(1)) key = queryTranslate(key);

    const inputKeyEvent event{down, key, time};
    if (!deferredTakesEvent(event)) {
        const int flags = keyChordFlags(key);
        auto group = findGroup(key);
        if (down)
            pressKey(event, flags, group);
        else
            releaseKey(event, group);
    }
    publishSnapshot();
    return true;
}

std::vector<keyCode> convertEngine::sentModifiers() const {
    std::vector<keyCode> keys;
    for (const auto& t : m_trackers) {
        if (t.pressedLeft && t.sentLeft) keys.push_back(t.leftCode);
        if (t.pressedRight && t.sentRight) keys.push_back(t.rightCode);
    }
    return keys;
}

bool convertEngine::holdsModifier(keyCode key) const {
    for (const auto& t : m_trackers) {
        if (key == t.leftCode) return t.pressedLeft;
        if (key == t.rightCode) return t.pressedRight;
    }
    return false;
}

void convertEngine::releaseModifier(keyCode key) {
    for (auto& t : m_trackers) {
        if (key == t.leftCode && t.pressedLeft)
            t.setLeft(false);
        else if (key == t.rightCode && t.pressedRight)
            t.setRight(false);
        else
            continue;
        updateSkipFlags();
        publishSnapshot();
        return;
    }
}

// ---- table lookup ----

keySequence convertEngine::lookupTables(const keySequence& keys, bool excludeKana,
                                        engineLookupResult& result,
                                        const modifierSkipFlags& flags, bool kanaOff) {
    // A result from an earlier search must never be taken for this one's.
    result.found = false;
    if (keys.empty()) return keySequence();

    keySequence shifted;
    for (keyCode k : keys) shifted.push_back(rowShift(k, flags.noRowShift));
    const bool open = !result.provisionalOutputs.empty();
    const int stockMiss = clearTypeOfStockMiss();
    bool shiftUsed = false;

    for (std::size_t i = 0; i < 4; ++i) {
        const int kind = kLookupOrder[i];
        if (kindSkipped(kind, flags, kanaOff) || (kind == 1 && excludeKana)) continue;
        if (!kindUsable(kind, kanaOff)) continue;
        const bool useShift = shiftLayoutAppliesTo(kind);
        shiftUsed = shiftUsed || useShift;
        const keySequence& searched = useShift ? shifted : keys;

        const bool intoResult = !open || result.pendingKind == kind;
        layoutMatchState scratch;
        layoutMatchState& state = intoResult ? static_cast<layoutMatchState&>(result) : scratch;
        const strokeSequence savedStrokes = state.pendingStrokes;
        const int answer = queryLayout(kind, searched, state);

        if (answer == 0 && state.found) {
            if (i + 1 < 4) followUp(state.output, i);
            result.superseded = false;
            if (!intoResult) {
                result.superseded = true;
                result.found = true;
                result.output = scratch.output;
            }
            return shifted;
        }
        if (answer == 0) {
            if (intoResult && open) {
                // The failed stroke must not leave the open sequence with fewer strokes than
                // provisional outputs; whoever decides the sequence needs both lists whole.
                result.pendingStrokes = savedStrokes;
                if (stockMiss == 1) {
                    engineLookupResult fresh;
                    const keySequence again = lookupTables(keys, excludeKana, fresh, flags, kanaOff);
                    if (fresh.found) {
                        if (!fresh.provisionalOutputs.empty()) {
                            static_cast<layoutMatchState&>(result) = fresh;
                            result.superseded = false;
                        } else {
                            result.output = fresh.output;
                            result.superseded = true;
                        }
                        result.found = true;
                        return again;
                    }
                }
            }
            continue;
        }
        if (answer == 1) {
            logLine(kEmptySearchText);
            return keySequence();
        }
        if (answer == 3) {
            logLine(kCountMismatch);
            // An inconsistent open sequence would swallow every later key of its kind.
            if (intoResult) dropOpenSequence(result);
            return keySequence();
        }
    }
    return shiftUsed ? shifted : keys;
}

// A 254 in an output sends the unit after it through the kinds that follow in the order.
void convertEngine::followUp(keySequence& output, std::size_t kindIndex) {
    bool hasMarker = false;
    for (keyCode k : output)
        if (k == kKeyMarker) hasMarker = true;
    if (!hasMarker) return;

    keySequence rebuilt;
    keySequence rest;
    rest.swap(output);
    std::size_t current = kindIndex;
    while (!rest.empty()) {
        auto end = nextUnit(rest.begin(), rest.end());
        if (rest.front() != kKeyMarker) {
            rebuilt.splice(rebuilt.end(), rest, rest.begin(), end);
            continue;
        }
        rest.pop_front();
        if (rest.empty()) break;
        keySequence unit;
        end = nextUnit(rest.begin(), rest.end());
        unit.splice(unit.end(), rest, rest.begin(), end);
        if ((unit.front() == 0x2A || unit.front() == 0x36) && !rest.empty()) {
            end = nextUnit(rest.begin(), rest.end());
            unit.splice(unit.end(), rest, rest.begin(), end);
        }
        bool replaced = false;
        for (std::size_t j = current + 1; j < 4 && !replaced; ++j) {
            const int kind = kLookupOrder[j];
            if (kind == 1 || !layoutKindEnabled(kind)) continue;
            layoutMatchState state;
            // An entry with an empty output (a line the reader emptied on purpose) replaces the
            // unit with nothing. A unit that only begins longer entries of the kind (the match
            // left several candidates) has no entry of its own to take, so it stays.
            if (queryLayout(kind, unit, state) == 0 && state.found &&
                state.provisionalOutputs.empty()) {
                rest.splice(rest.begin(), state.output);
                current = j;
                replaced = true;
            }
        }
        if (!replaced) rebuilt.splice(rebuilt.end(), unit);
    }
    output.swap(rebuilt);
}

// ---- what another thread may read ----

void convertEngine::publishSnapshot() {
    scopedLock guard(m_snapshotLock);
    m_snapshot.lookup = m_lookup;
    for (std::size_t i = 0; i < 4; ++i) {
        m_snapshot.pressed[2 * i] = m_trackers[i].pressedLeft;
        m_snapshot.pressed[2 * i + 1] = m_trackers[i].pressedRight;
    }
    m_snapshot.kanaOff = m_kanaOff;
}

std::wstring convertEngine::textOf(const keySequence& keys) {
    scopedLock guard(tableLock());
    return getKanaTable().sequenceText(keys);
}

// ---- table queries ----

int convertEngine::queryLayout(int kind, const keySequence& keys, layoutMatchState& state) {
    scopedLock guard(tableLock());
    return lookupLayout(kind, keys, state);
}

keySequence convertEngine::queryConvertOutput(int kind, keySequence& keys) {
    scopedLock guard(tableLock());
    return convertOutputKeys(kind, keys);
}

keySequence convertEngine::convertAll(int kind, keySequence keys) {
    keySequence out;
    while (!keys.empty()) {
        const std::size_t before = keys.size();
        keySequence part = queryConvertOutput(kind, keys);
        out.splice(out.end(), part);
        // A host that consumed nothing would loop for ever: take the unit as it is.
        if (keys.size() == before) {
            auto end = nextUnit(keys.begin(), keys.end());
            out.splice(out.end(), keys, keys.begin(), end);
        }
    }
    return out;
}

keySequence convertEngine::queryLookupOutput(int kind, const keySequence& keys) {
    scopedLock guard(tableLock());
    return lookupOutput(kind, keys);
}

keyCode convertEngine::queryTranslate(keyCode key) {
    scopedLock guard(tableLock());
    return translateKey(key);
}

keyCode convertEngine::querySubstitute(int kind, keyCode key) {
    scopedLock guard(tableLock());
    return substituteKey(kind, key);
}

int convertEngine::queryChordFlags(int kind, keyCode key) {
    scopedLock guard(tableLock());
    return chordFlags(kind, key);
}

std::wstring convertEngine::keysToOutputText(const keySequence& keys) {
    snapshot copy;
    {
        scopedLock guard(m_snapshotLock);
        copy = m_snapshot;
    }
    modifierSkipFlags flags;
    if (copy.pressed[2] || copy.pressed[3] || copy.pressed[4] || copy.pressed[5] ||
        copy.pressed[6] || copy.pressed[7]) {
        flags.noRowShift = ctrlMigiOff();
        flags.skipAlphabet = ctrlQwerty();
        flags.modifierHeld = true;
    }
    keySequence answer = lookupTables(keys, false, copy.lookup, flags, copy.kanaOff);
    if (answer.empty() && !copy.lookup.provisionalOutputs.empty())
        answer = copy.lookup.provisionalOutputs.back();
    return textOf(copy.lookup.found ? copy.lookup.output : answer);
}
