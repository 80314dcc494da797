// Simultaneous presses and timing: whether a key is typed alone or with a partner, when the
// converted output is pressed and released, and what the timer poll decides.
#include "core/engine/convertEngine.h"

#include <iterator>

namespace {

const char kChordStateError[] =
    "\x93\xAF\x8E\x9E\x89\x9F\x89\xBA\x91\xD2\x82\xBF\x82\xC9\x8A\xD6\x82\xB7\x82\xE9\x93\xE0\x95"
    "\x94\x83\x47\x83\x89\x81\x5B\x82\xAA\x94\xAD\x90\xB6\x82\xB5\x82\xC4\x82\xA2\x82\xDC\x82\xB7"
    "\x81\x42";

keySequence listOf(keyCode a) { return keySequence(1, a); }
keySequence listOf(keyCode a, keyCode b) {
    keySequence s;
    s.push_back(a);
    s.push_back(b);
    return s;
}

}  // namespace

// One try of a conversion. A try that finds nothing must leave no trace in the match state,
// or a later try (or key) of an open sequence would meet a state the matcher refuses; the last
// try is taken whatever it answers.
std::pair<keySequence, bool> convertEngine::tryConvert(const keySequence& keys, bool last) {
    if (last) return convert(keys, false);
    const engineLookupResult saved = m_lookup;
    auto answer = convert(keys, false);
    if (!answer.second) m_lookup = saved;
    return answer;
}

std::pair<keySequence, bool> convertEngine::convertAlone(keyCode key) {
    const keyCode left = *leftThumbKey();
    const keyCode right = *rightThumbKey();
    const bool shiftLeft = m_trackers[0].isLeftPressed();
    const bool shiftRight = m_trackers[0].isRightPressed();
    std::pair<keySequence, bool> answer;

    if (key == left)
        answer = tryConvert(listOf(thumbLeftCode), false);
    else if (key == right)
        answer = tryConvert(listOf(thumbRightCode), false);
    if (!answer.second && left == shiftLeftCode && shiftLeft)
        answer = tryConvert(listOf(key, thumbLeftCode), false);
    if (!answer.second && right == shiftRightCode && shiftRight)
        answer = tryConvert(listOf(key, thumbRightCode), false);
    if (!answer.second && (shiftLeft || shiftRight))
        answer = tryConvert(listOf(key, shiftLeftCode), false);
    // The last try searches the kana kind too, like every other try: without it the kana
    // layout would never act on a key typed alone.
    if (!answer.second) answer = tryConvert(listOf(key), true);

    if (answer.second && (shiftLeft || shiftRight)) answer.first = shiftRewrite(answer.first);
    return answer;
}

// With Shift held, every output key that Shift would change is preceded by a Shift release,
// except right after a Shift press of the output itself. The walk is by unit so that no
// release lands inside a text or character unit.
keySequence convertEngine::shiftRewrite(const keySequence& output) {
    keySequence rewritten;
    int keep = 0;
    for (auto it = output.begin(); it != output.end();) {
        auto end = nextUnit(it, output.end());
        const keyCode k = *it;
        if (k == shiftLeftCode) {
            keep = 2;
        } else if (keep > 0) {
            --keep;
        } else if (!isLetterOrPunctuationKey(k) && k != alnumCode && k != alnumSkipCode) {
            rewritten.push_back(shiftRightCode);
        }
        rewritten.insert(rewritten.end(), it, end);
        it = end;
    }
    return rewritten;
}

std::pair<keySequence, bool> convertEngine::chordLookup(keyCode first, keyCode second) {
    const keyCode left = *leftThumbKey();
    const keyCode right = *rightThumbKey();
    auto replaced = [&](keyCode k) {
        if (k == left) return thumbLeftCode;
        if (k == right) return thumbRightCode;
        return k;
    };
    auto leftOnly = [&](keyCode k) { return k == left ? thumbLeftCode : k; };
    auto rightOnly = [&](keyCode k) { return k == right ? thumbRightCode : k; };
    const bool hasLeft = first == left || second == left;
    const bool hasRight = first == right || second == right;
    std::pair<keySequence, bool> answer;

    if (hasLeft) {
        if (hasRight) answer = tryConvert(listOf(replaced(first), replaced(second)), false);
        if (!answer.second) answer = tryConvert(listOf(leftOnly(first), leftOnly(second)), false);
    } else if (hasRight) {
        answer = tryConvert(listOf(rightOnly(first), rightOnly(second)), false);
    }
    if (!answer.second) answer = tryConvert(listOf(first, second), true);
    return answer;
}

std::list<pendingGroup>::iterator convertEngine::findGroup(keyCode key) {
    for (auto it = m_groups.begin(); it != m_groups.end(); ++it)
        for (keyCode k : it->keys)
            if (k == key) return it;
    return m_groups.end();
}

void convertEngine::makeGroup(keySequence keys, const keySequence& output, int mode,
                              std::int32_t time) {
    // A physical key belongs to one group only: a release reaches just the first group that
    // holds the key, so an older group would never see it. That happens when a MultiDownHold
    // key that already chorded is decided alone or chords again. The older group gives the key
    // up, and a group left with no key releases its output now.
    for (keyCode k : keys) {
        for (auto it = m_groups.begin(); it != m_groups.end();) {
            it->keys.remove(k);
            if (!it->keys.empty()) {
                ++it;
                continue;
            }
            const pendingGroup old = *it;
            it = m_groups.erase(it);
            if (old.releaseMode != 0) replay(old.output, false);
        }
    }
    pendingGroup g;
    g.keys = std::move(keys);
    g.output = output;
    g.releaseMode = mode;
    g.id = ++sharedState().chordIdCounter;
    g.time = time;
    m_groups.push_back(std::move(g));
}

void convertEngine::decideAlone(std::int32_t time) {
    const keyCode key = m_pendingKey;
    auto answer = convertAlone(key);
    emit(answer.first, answer.second);
    makeGroup(listOf(key), answer.first, 1, time);
    replay(answer.first, true);
    m_chordState = 0;
}

// A shift-like hold key (SemiShift) that has already chorded is never typed itself, neither at
// its release nor when another key ends its hold. A key held for further chords (MultiDownHold)
// is still typed when a key it does not chord with ends its hold.
bool convertEngine::shiftLikeHoldHasChorded() {
    return m_chordState == 3 && (keyChordFlags(m_pendingKey) & 4) != 0;
}

// Ends the hold of a shift-like key silently. It keeps a group of its own with no output, so
// that its release, which may come much later, is no stray key release either.
void convertEngine::endHold(std::int32_t time) {
    makeGroup(listOf(m_pendingKey), keySequence(), 1, time);
    m_chordState = 0;
}

void convertEngine::pressAlone(const inputKeyEvent& event) {
    // A key that chords with nothing (Backspace, say) typed while a shift-like hold key that has
    // chorded stays down leaves the hold as it is: the hold key still chords with the keys after
    // it, and its release types nothing.
    if (m_chordState >= 1 && m_chordState <= 3) {
        const bool repeatOfWaitingKey = event.keyCode == m_pendingKey;
        if (!shiftLikeHoldHasChorded()) decideAlone(event.time);
        // An auto-repeat of the waiting key (Shift went down meanwhile) is that key decided, or
        // a hold key that stays one; typing it a second time would leave a group that no
        // release ever reaches, and the key would be dead from then on.
        if (repeatOfWaitingKey) return;
    }
    auto answer = convertAlone(event.keyCode);
    emit(answer.first, answer.second);
    makeGroup(listOf(event.keyCode), answer.first, 1, event.time);
    replay(answer.first, true);
}

void convertEngine::startWaiting(keyCode key, std::int32_t time, int state) {
    m_chordStart = time;
    m_pendingKey = key;
    m_chordState = state;
    m_currentChordId = ++sharedState().chordIdCounter;
}

void convertEngine::pressKey(const inputKeyEvent& event, int flags,
                             std::list<pendingGroup>::iterator group) {
    if (group != m_groups.end()) {
        // Auto-repeat: only the newest converted press repeats its output, and only while that
        // output is still down (a chord already released by its partner would otherwise be
        // pressed again with no release ever to come).
        if (group->id == sharedState().chordIdCounter && group->releaseMode != 0) {
            group->time = event.time;
            replay(group->output, true);
        }
        return;
    }
    if (anyPressed(0))
        pressAlone(event);
    else if (flags >= 4)
        holdKey(event, flags);
    else if (flags >= 2)
        chordWait(event, flags);
    else
        pressAlone(event);
}

void convertEngine::armDeferred(int kind, const inputKeyEvent& event) {
    m_deferredKind = kind;
    m_deferredEvent = event;
    m_deferredTime = event.time;
    deferredTimeCheck(event.time);
}

void convertEngine::chordWait(const inputKeyEvent& event, int flags) {
    const keyCode key = event.keyCode;
    const std::int32_t t = event.time;
    if (m_chordState != 0 && key == m_pendingKey) {
        decideAlone(t);
        return;
    }
    if (m_chordState != 0) {
        const bool inWindow = tickDifference(t, m_chordStart) <= acceptTimer();
        bool partner = false;
        if (m_chordState == 1)
            partner = inWindow;
        else if (m_chordState == 2)
            partner = (keyChordFlags(m_pendingKey) & 4) != 0 || inWindow;
        else if (m_chordState == 3)
            partner = true;
        if (partner) {
            armDeferred(1, event);
            return;
        }
        decideAlone(t);
    }
    startWaiting(key, t, (flags & 0xC) ? 2 : 1);
}

void convertEngine::holdKey(const inputKeyEvent& event, int flags) {
    const keyCode key = event.keyCode;
    const std::int32_t t = event.time;
    if (m_chordState == 1) {
        chordWait(event, flags);
    } else if (m_chordState == 2 || m_chordState == 3) {
        if (key == m_pendingKey) {
            if (m_chordState == 2 && !(flags & 4) && tickDifference(t, m_chordStart) > acceptTimer())
                decideAlone(t);
        } else {
            armDeferred(2, event);
        }
    } else {
        startWaiting(key, t, 2);
    }
}

bool convertEngine::deferredTakesEvent(const inputKeyEvent& event) {
    if (m_deferredKind == 0) return false;
    const keyCode key = event.keyCode;
    if (event.down) {
        if (key == m_pendingKey && key == m_deferredEvent.keyCode) return true;
        takeDeferred(false);
    } else if (key == m_pendingKey) {
        takeDeferred(true);
    } else if (key == m_deferredEvent.keyCode) {
        takeDeferred(false);
    }
    return false;
}

bool convertEngine::deferredTimeCheck(std::int32_t inputNow) {
    if (m_deferredKind == 0) return false;
    const int limit = cancelTime(m_chordState == 3);
    if (tickDifference(inputNow, m_deferredTime) >= limit) {
        takeDeferred(false);
        return true;
    }
    return false;
}

void convertEngine::takeDeferred(bool releaseFirst) {
    const int kind = m_deferredKind;
    m_deferredKind = 0;
    if (kind == 0) return;
    const keyCode k1 = m_pendingKey;
    const keyCode k2 = m_deferredEvent.keyCode;
    const std::int32_t t = m_deferredTime;
    const int flags2 = keyChordFlags(k2);

    std::pair<keySequence, bool> chord;
    if (!releaseFirst) chord = chordLookup(k1, k2);

    if (kind == 1) {
        if (chord.second) {
            if (m_chordState == 1 && (!(flags2 & 8) || multiDownHold())) {
                makeGroup(listOf(k2, k1), chord.first, 2, t);
                replay(chord.first, true);
                m_chordState = 0;
            } else {
                keySequence keys = listOf(k2);
                if (flags2 & 8) {
                    keys.push_back(k1);
                    m_pendingKey = k2;
                }
                makeGroup(keys, chord.first, 1, t);
                replay(chord.first, true);
                m_chordState = 3;
                m_chordStart = t;
            }
        } else {
            if (shiftLikeHoldHasChorded())
                endHold(t);
            else
                decideAlone(now());
            startWaiting(k2, t, (flags2 & 0xC) ? 2 : 1);
        }
    } else {
        if (chord.second) {
            makeGroup(listOf(k1), chord.first, 1, t);
            emit(chord.first, true);
            replay(chord.first, true);
            startWaiting(k2, t, 3);
        } else {
            // The second hold key takes over.
            if (shiftLikeHoldHasChorded())
                endHold(t);
            else
                decideAlone(t);
            startWaiting(k2, t, 2);
        }
    }
}

void convertEngine::releaseKey(const inputKeyEvent& event, std::list<pendingGroup>::iterator group) {
    const keyCode key = event.keyCode;
    if (m_chordState != 0 && key == m_pendingKey) {
        if (m_chordState == 1 || m_chordState == 2) {
            auto answer = convertAlone(key);
            emit(answer.first, answer.second);
            replay(answer.first, true);
            replay(answer.first, false);
        } else if (m_chordState != 3) {
            logLine(kChordStateError);
        }
        m_chordState = 0;
        return;
    }
    if (group == m_groups.end()) {
        replay(listOf(key), false);
        return;
    }
    switch (group->releaseMode) {
    case 1:
        replay(group->output, false);
        m_groups.erase(group);
        break;
    case 2: {
        replay(group->output, false);
        group->releaseMode = 0;
        for (auto it = group->keys.begin(); it != group->keys.end(); ++it) {
            if (*it == key) {
                group->keys.erase(it);
                break;
            }
        }
        break;
    }
    default:
        m_groups.erase(group);
        break;
    }
}

bool convertEngine::poll() { return pollAt(now()); }

bool convertEngine::pollAt(std::int32_t inputNow) {
    bool decided = false;
    if (m_deferredKind != 0) {
        decided = deferredTimeCheck(inputNow);
    } else if (m_chordState == 1 && tickDifference(inputNow, m_chordStart) >= acceptTimer()) {
        updateSkipFlags();
        decideAlone(m_chordStart);
        decided = true;
    }
    flush();
    publishSnapshot();
    return decided;
}

void convertEngine::decideWaiting(std::int32_t time) {
    if (m_deferredKind != 0) takeDeferred(false);
    if (m_chordState >= 1 && m_chordState <= 3 && !shiftLikeHoldHasChorded()) {
        updateSkipFlags();
        decideAlone(time);
    }
    flush();
    publishSnapshot();
}

bool convertEngine::awaitsPoll() const {
    return m_chordState != 0 || m_deferredKind != 0 || !m_queue.empty();
}

bool convertEngine::holdsKeys() const {
    if (!m_groups.empty() || m_chordState != 0 || m_deferredKind != 0 || !m_queue.empty()) return true;
    if (m_sokuonPending || m_nPending || !m_heldKana.empty() || !m_lookup.provisionalOutputs.empty())
        return true;
    for (const auto& t : m_trackers)
        if (t.pressedLeft || t.pressedRight || t.sentLeft || t.sentRight) return true;
    const outputSharedState& shared = sharedState();
    return shared.kanaSpan > 0 || shared.alnumSpan > 0 || shared.alnumKeyDown;
}

void convertEngine::releaseAll() {
    // What waits for a partner or for its time is decided now, as its time running out would.
    if (m_deferredKind != 0) takeDeferred(false);
    if (m_chordState == 1 || m_chordState == 2) {
        updateSkipFlags();
        decideAlone(now());
    }
    m_chordState = 0;
    m_pendingKey = 0;

    // What composition holds back is typed, as a key that ends it would type it.
    keySequence ignored;
    keySequence held = flushHeld();
    keySequence open = resolveOpenSequence(ignored);
    held.splice(held.end(), open);
    dropOpenSequence(m_lookup);
    m_lookup.superseded = false;
    if (!held.empty()) {
        replay(held, true);
        replay(held, false);
    }

    // Converted keys still down, the newest first, each as its own release would.
    while (!m_groups.empty()) {
        const pendingGroup group = m_groups.back();
        m_groups.pop_back();
        if (group.releaseMode != 0) replay(group.output, false);
    }
    closeBrackets();

    // Modifiers last, so that nothing above was released under a changed Shift.
    for (auto t = m_trackers.rbegin(); t != m_trackers.rend(); ++t) {
        t->setSentRight(false);
        t->setSentLeft(false);
        t->pressedLeft = t->pressedRight = false;
    }
    updateSkipFlags();
    flush(true);
    publishSnapshot();
}
