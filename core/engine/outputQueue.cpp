// The output queue: converted key lists become output events, which leave one by one no
// faster than their delays allow.
#include "core/engine/convertEngine.h"

#include <iterator>

namespace {

const keyCode kTextUnit = 251;
const keyCode kCharUnit = 227;

// Counts one ordinary entry off a span; true when the span ends with it. A span never goes
// below zero, however long the program runs.
bool countDown(int& span) {
    if (span <= 0) return false;
    return --span == 0;
}

}  // namespace

void convertEngine::queueOutput(const keyOutputEvent& event) {
    const keyCode force = *forceKanaKey();
    if (force != 0 && force != *leftThumbKey() && force != *rightThumbKey() && !event.isMarker &&
        event.units.empty() && event.keyCode == force) {
        // In game mode this key switches the engine's own kana kind instead of being sent. Its
        // release goes out exactly when a press of it went out, so a key held while game mode
        // begins or ends (the default key is left Ctrl) never stays down.
        if (event.down ? isGameMode() : !m_forceKeySent) {
            if (event.down) m_kanaOff = !m_kanaOff;
            flush();
            return;
        }
        m_forceKeySent = event.down;
    }
    m_queue.push_back(event);
    flush();
}

void convertEngine::queueKey(bool down, keyCode key, std::int32_t delay, std::int32_t carried) {
    keyOutputEvent e;
    e.down = down;
    e.keyCode = key;
    e.delay = delay;
    e.carriedDelay = carried;
    queueOutput(e);
}

void convertEngine::queueMarker(bool open) {
    keyOutputEvent e;
    e.down = open;
    e.isMarker = true;
    queueOutput(e);
}

void convertEngine::flush(bool force) {
    if (m_queue.empty()) return;
    outputSharedState& shared = sharedState();
    const std::int32_t t = now();
    while (!m_queue.empty()) {
        keyOutputEvent& e = m_queue.front();
        if (!e.isMarker && e.down && e.units.empty() && e.keyCode == shared.lastKey &&
            !isModifier(e.keyCode)) {
            // A second press of the key last pressed needs a release in between.
            keyOutputEvent release;
            release.keyCode = shared.lastKey;
            release.carriedDelay = isGameMode() ? outputTimer() : 0;
            m_queue.push_front(release);
            continue;
        }
        e.delay += shared.carriedDelay;
        shared.carriedDelay = 0;
        // The first event ever sent has nothing to wait for; after that the wait is measured
        // as a wrapping difference, so a tick count past 2^31 does not stop the output. The
        // clock never runs back, so a negative difference means more than 24.8 days of quiet.
        if (!force && m_anySent && e.delay > 0) {
            const std::int32_t since = tickDifference(t, m_lastSentTime);
            if (since >= 0 && since < e.delay) break;
        }
        shared.carriedDelay = e.carriedDelay;
        if (!e.isMarker && e.units.empty()) shared.lastKey = e.down ? e.keyCode : 0;
        const keyOutputEvent sent = std::move(e);
        m_queue.pop_front();
        m_lastSentTime = t;
        m_anySent = true;
        outputEvent(sent);
    }
}

void convertEngine::replay(const keySequence& keys, bool down) {
    outputSharedState& shared = sharedState();
    const std::int32_t wait = isGameMode() ? outputTimer() : 0;
    modifierTracker& shift = m_trackers[0];
    bool shiftAfterToggle = false;

    for (auto it = keys.begin(); it != keys.end();) {
        const keyCode c = *it;
        if (!down && (c == shiftLeftCode || c == shiftRightCode || c == kanaToggleCode ||
                      c == alnumCode || c == alnumSkipCode)) {
            ++it;
            continue;
        }
        if (down) {
            if (c == shiftLeftCode) {
                auto next = std::next(it);
                if (next == keys.end() || *next != kanaToggleCode) {
                    shift.setSentLeft(true);
                    shared.shiftSpan = 2;
                } else {
                    shiftAfterToggle = true;
                }
                ++it;
                continue;
            }
            if (c == shiftRightCode) {
                shared.shiftSpan = 2;
                shift.setSentLeft(false);
                shift.setSentRight(false);
                ++it;
                continue;
            }
            if (c == alnumCode) {
                if (shared.alnumSkip) {
                    shared.alnumSkip = false;
                } else if (shared.alnumSpan <= 0) {
                    alnumBracket(true, wait, true);
                    shared.alnumSpan = 2;
                } else if (shared.alnumSpan == 1) {
                    shared.alnumSpan = 2;
                }
                ++it;
                continue;
            }
            if (c == alnumSkipCode) {
                shared.alnumSkip = true;
                ++it;
                continue;
            }
            if (c == kanaToggleCode) {
                if (shared.kanaSpan < 1) {
                    kanaToggle(true, wait);
                    shared.kanaSpan = 2;
                } else if (shared.kanaSpan == 1) {
                    shared.kanaSpan = 2;
                }
                if (shiftAfterToggle) {
                    shift.setSentLeft(true);
                    shared.shiftSpan = 2;
                    shiftAfterToggle = false;
                }
                ++it;
                continue;
            }
        }

        // An ordinary entry.
        shared.alnumSkip = false;
        if (countDown(shared.shiftSpan)) {
            shift.syncLeft();
            shift.syncRight();
        }
        bool closed = false;
        if (countDown(shared.kanaSpan)) {
            kanaToggle(false, wait);
            closed = true;
        }
        if (countDown(shared.alnumSpan)) {
            alnumBracket(false, wait, false);
            closed = true;
        }
        if (closed && shared.kanaSpan < 1 && shared.alnumSpan < 1) queueMarker(false);

        if (c == kTextUnit || c == kCharUnit) {
            auto end = nextUnit(it, keys.end());
            keyOutputEvent e;
            e.down = down;
            e.units.assign(it, end);
            queueOutput(e);
            it = end;
            continue;
        }
        keyCode key = c;
        if (c == thumbLeftCode)
            key = *leftThumbKey();
        else if (c == thumbRightCode)
            key = *rightThumbKey();
        // An unset thumb key has nothing to send.
        if (key != 0) queueKey(down, key, 0, down ? wait : 0);
        ++it;
    }
}

void convertEngine::kanaToggle(bool open, std::int32_t wait) {
    if (open) queueMarker(true);
    const keyCode force = *forceKanaKey();
    const keyCode key = (isGameMode() && isRealKey(force)) ? force : kanaLockCode;
    queueKey(true, key, 0, wait);
    queueKey(false, key, 0, wait);
}

void convertEngine::alnumBracket(bool open, std::int32_t wait, bool down) {
    if (open) queueMarker(true);
    outputSharedState& shared = sharedState();
    const keyCode force = *forceKanaKey();
    // A bracket opened by pressing the alphanumeric key is closed by releasing it, even when game
    // mode began in between: the IME would otherwise stay in alphanumeric mode.
    if (!down && shared.alnumKeyDown) {
        queueKey(false, alnumCode, 0, wait);
        shared.alnumKeyDown = false;
    } else if (isGameMode() && isRealKey(force)) {
        queueKey(true, force, 0, wait);
        queueKey(false, force, 0, wait);
    } else {
        queueKey(down, alnumCode, 0, wait);
        shared.alnumKeyDown = down;
    }
}

// Closes what the replay left open: a kana toggle or alphanumeric bracket whose span has not run
// out, and the alphanumeric key held down for a bracket. The spans start again from nothing.
void convertEngine::closeBrackets() {
    outputSharedState& shared = sharedState();
    bool closed = false;
    if (shared.kanaSpan > 0) {
        kanaToggle(false, 0);
        closed = true;
    }
    if (shared.alnumSpan > 0 || shared.alnumKeyDown) {
        alnumBracket(false, 0, false);
        closed = true;
    }
    if (closed) queueMarker(false);
    shared.shiftSpan = shared.kanaSpan = shared.alnumSpan = 0;
    shared.alnumSkip = false;
}
