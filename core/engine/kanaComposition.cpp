// Kana composition: table output becomes the keys to press, multi-stroke entries stay open
// until decided, and in game mode kana are composed into romaji here, holding back っ, ん and
// kana that a following mark or small kana changes.
#include "core/engine/convertEngine.h"

#include "core/engine/kanaTable.h"

namespace {

// Takes the first unit off the front of a list.
keySequence takeUnit(keySequence& keys) {
    keySequence unit;
    auto end = nextUnit(keys.begin(), keys.end());
    unit.splice(unit.end(), keys, keys.begin(), end);
    return unit;
}

void prepend(keySequence& to, keySequence front) { to.splice(to.begin(), front); }
void append(keySequence& to, keySequence back) { to.splice(to.end(), back); }

}  // namespace

void convertEngine::dropOpenSequence(layoutMatchState& state) {
    state.provisionalOutputs.clear();
    state.pendingStrokes.clear();
    state.pendingKind = 0;
}

// One stroke back: both lists shrink together so that the matcher keeps accepting the sequence.
void convertEngine::dropLastStroke(layoutMatchState& state) {
    if (!state.pendingStrokes.empty()) state.pendingStrokes.pop_back();
    if (!state.provisionalOutputs.empty()) state.provisionalOutputs.pop_back();
    if (state.provisionalOutputs.empty() || state.pendingStrokes.empty()) dropOpenSequence(state);
}

// The held kana goes, and with it whatever mark it was waiting for.
void convertEngine::dropHeldKana() {
    m_heldKana.clear();
    m_voicedPending = false;
    m_semiVoicedPending = false;
}

std::pair<keySequence, bool> convertEngine::convert(const keySequence& keys, bool excludeKana) {
    keySequence answer = lookupTables(keys, excludeKana || m_kanaOff, m_lookup, m_skip, m_kanaOff);
    if (!m_lookup.found) return {answer, false};
    if (!isGameMode()) {
        m_kanaOff = false;
        m_sokuonPending = m_nPending = false;
        dropHeldKana();
        return {plainConversion(), true};
    }
    if (gameModeBit80Clear()) return {romajiComposition(), true};
    return {plainConversion(), true};
}

keySequence convertEngine::plainConversion() {
    keySequence answer;
    const int kind = inputKind();
    while (!m_lookup.output.empty()) {
        keySequence converted = queryConvertOutput(kind, m_lookup.output);
        while (!converted.empty()) {
            const keyCode k = converted.front();
            if (k == backspaceCode) {
                if (!m_lookup.provisionalOutputs.empty())
                    dropLastStroke(m_lookup);
                else if (!m_heldKana.empty())
                    dropHeldKana();
                else if (m_sokuonPending)
                    m_sokuonPending = false;
                else if (m_nPending)
                    m_nPending = false;
                else
                    break;
                converted.pop_front();
            } else if (k == escapeCode && clearHeld(true)) {
                converted.pop_front();
            } else {
                break;
            }
        }
        append(answer, std::move(converted));
    }
    return answer;
}

keySequence convertEngine::romajiComposition() {
    kanaTable& kana = getKanaTable();
    keySequence& output = m_lookup.output;
    keySequence answer;

    if (m_lookup.superseded) {
        keySequence converted = convertAll(1, output);
        keySequence edited;
        if (editKey(edited, converted)) {
            output.swap(edited);
        } else {
            prepend(output, resolveOpenSequence(converted));
        }
        m_lookup.superseded = false;
    }

    bool palatal = gameModeBit08();
    for (auto it = output.begin(); it != output.end() && !palatal;) {
        auto end = nextUnit(it, output.end());
        palatal = kana.isSmallKana(keySequence(it, end));
        it = end;
    }
    const bool allowU = gameModeBit40Clear();

    while (!output.empty()) {
        keySequence u = takeUnit(output);

        if ((m_sokuonPending || m_nPending || !m_heldKana.empty()) && editKey(answer, u)) continue;

        if (!m_heldKana.empty()) {
            keySequence form;
            if (m_semiVoicedPending && u == m_semiVoicedMarkKeys)
                form = kana.semiVoicedOf(m_heldKana);
            else if ((m_semiVoicedPending || m_voicedPending) && u == m_voicedMarkKeys)
                form = kana.voicedOf(m_heldKana);
            if (!form.empty()) {
                dropHeldKana();
                prepend(output, std::move(form));
                continue;
            }

            // Only a palatal base combines with a small kana; a kana held for its marks
            // does not.
            keySequence romaji;
            if (kana.isPalatalBase(m_heldKana, allowU)) romaji = kana.palatalRomaji(m_heldKana, u);
            keySequence held = convertAll(1, m_heldKana);
            dropHeldKana();
            if (!romaji.empty()) {
                if (romaji.front() == 0) {
                    romaji.pop_front();
                    if (!held.empty()) romaji.push_front(held.front());
                }
                resolveSokuon(romaji);
                resolveN(romaji);
                append(answer, std::move(romaji));
                continue;
            }
            // The held kana meets a pending っ or ん just like any other kana would.
            resolveSokuon(held);
            resolveN(held);
            append(answer, std::move(held));
        }

        if (u == m_sokuonKeys) {
            if (m_sokuonPending) append(answer, queryLookupOutput(1, m_sokuonKeys));
            m_sokuonPending = true;
            continue;
        }
        if (u == m_nKeys && gameModeBit10Clear()) {
            if (m_nPending) append(answer, queryLookupOutput(1, m_nKeys));
            m_nPending = true;
            continue;
        }
        if (gameModeBit04() && !kana.semiVoicedOf(u).empty()) {
            m_heldKana = u;
            m_semiVoicedPending = true;
            continue;
        }
        if (gameModeBit02() && !kana.voicedOf(u).empty()) {
            m_heldKana = u;
            m_voicedPending = true;
            continue;
        }
        if (palatal && kana.isPalatalBase(u, allowU)) {
            m_heldKana = u;
            continue;
        }
        keySequence converted = convertAll(1, u);
        resolveSokuon(converted);
        resolveN(converted);
        append(answer, std::move(converted));
    }
    return answer;
}

void convertEngine::resolveSokuon(keySequence& next) {
    if (!m_sokuonPending) return;
    if (!next.empty() && getKanaTable().startsWithConsonantKey(next))
        next.push_front(next.front());
    else
        prepend(next, queryLookupOutput(1, m_sokuonKeys));
    m_sokuonPending = false;
}

// A single "n" is enough before a consonant, but not before y (n, y, a reads as にゃ) nor
// before a vowel or another n.
void convertEngine::resolveN(keySequence& next) {
    if (!m_nPending) return;
    const keyCode yKey = keyCodeOf('y', 0);
    if (getKanaTable().startsWithNonConsonantKey(next) || next.empty() || next.front() == yKey)
        prepend(next, queryLookupOutput(1, m_nKeys));
    else
        next.push_front(keyCodeOf('n', 0));
    m_nPending = false;
}

keySequence convertEngine::flushHeld() {
    keySequence out;
    if (!m_heldKana.empty()) {
        // A held kana carries the pending っ and ん with it, as it would had it been typed.
        keySequence held = convertAll(1, m_heldKana);
        resolveSokuon(held);
        resolveN(held);
        out = std::move(held);
    } else {
        if (m_nPending) {
            keySequence n = queryLookupOutput(1, m_nKeys);
            if (m_sokuonPending && !n.empty()) n.pop_front();
            append(out, std::move(n));
        }
        if (m_sokuonPending) append(out, queryLookupOutput(1, m_sokuonKeys));
    }
    m_sokuonPending = m_nPending = false;
    dropHeldKana();
    return out;
}

keySequence convertEngine::resolveOpenSequence(keySequence& keys) {
    if (m_lookup.provisionalOutputs.empty()) return keySequence();
    const keySequence last = m_lookup.provisionalOutputs.back();
    if (!last.empty()) {
        dropOpenSequence(m_lookup);
        return convertAll(inputKind(), last);
    }
    switch (clearTypeOfStockMiss()) {
    case 0:
        keys.clear();
        return keySequence();
    case 1:
        break;
    default:
        keys.clear();
        break;
    }
    dropOpenSequence(m_lookup);
    return keySequence();
}

bool convertEngine::clearHeld(bool all) {
    if (all) {
        if (!m_lookup.provisionalOutputs.empty()) {
            dropOpenSequence(m_lookup);
        } else {
            if (!m_nPending && !m_sokuonPending && m_heldKana.empty()) return false;
            m_nPending = m_sokuonPending = false;
            dropHeldKana();
        }
        return true;
    }
    if (!m_lookup.provisionalOutputs.empty())
        dropLastStroke(m_lookup);
    else if (!m_heldKana.empty())
        dropHeldKana();
    else if (m_sokuonPending)
        m_sokuonPending = false;
    else if (m_nPending)
        m_nPending = false;
    else
        return false;
    return true;
}

bool convertEngine::editKey(keySequence& into, const keySequence& keys) {
    const keySequence entry = queryLookupOutput(1, keys);
    if (entry.empty()) return false;
    const keyCode first = entry.front();
    if (first == enterCode) {
        keySequence taken = flushHeld();
        keySequence ignored;
        append(taken, resolveOpenSequence(ignored));
        if (taken.empty()) return false;
        append(into, std::move(taken));
        return true;
    }
    if (first == escapeCode) return clearHeld(true);
    if (first == backspaceCode) return clearHeld(false);
    return false;
}

void convertEngine::emit(keySequence& keys, bool found) {
    const keyCode first = keys.empty() ? 0 : keys.front();
    keySequence taken;
    if (found) {
        if (!m_lookup.superseded) return;
        taken = resolveOpenSequence(keys);
        m_lookup.superseded = false;
    } else {
        if (keys.empty()) return;
        keys = convertAll(inputKind(), keys);
        if ((first == backspaceCode && clearHeld(false)) || (first == escapeCode && clearHeld(true))) {
            keys.clear();
            return;
        }
        taken = flushHeld();
        append(taken, resolveOpenSequence(keys));
    }
    if (taken.empty()) return;
    // The Enter only confirmed what was held back.
    if (first == enterCode && !keys.empty() && keys.front() == enterCode) keys.pop_front();
    replay(taken, true);
    replay(taken, false);
}

std::wstring convertEngine::compositionText() {
    std::wstring text;
    if (m_kanaOff) text += L"\x3010\x82F1\x6570\x3011";
    if (m_nPending) text += textOf(m_nKeys);
    if (m_sokuonPending) text += textOf(m_sokuonKeys);
    if (!m_heldKana.empty()) text += textOf(m_heldKana);
    if (!m_lookup.provisionalOutputs.empty() && !m_lookup.provisionalOutputs.back().empty()) {
        text += textOf(m_lookup.provisionalOutputs.back());
    } else {
        for (const auto& s : m_lookup.pendingStrokes) {
            const keySequence keys = keySequenceOfStroke(s);
            engineLookupResult scratch;
            lookupTables(keys, true, scratch, m_skip, m_kanaOff);
            if (scratch.found && scratch.provisionalOutputs.empty())
                text += textOf(scratch.output);
            else
                text += chordName(keys);
        }
    }
    return text;
}
