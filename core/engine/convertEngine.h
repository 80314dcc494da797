// The conversion engine: one physical key event at a time becomes converted keys and text.
// The engine owns only the state of the conversion; every setting, table query and output
// step is a host operation that the input agent supplies, so the engine never calls Windows.
#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <list>
#include <string>
#include <utility>
#include <vector>

#include "core/engine/keyCodes.h"
#include "core/engine/layoutTable.h"
#include "core/platform/locks.h"

// What an agent hands the engine.
struct inputKeyEvent {
    bool down = false;
    ::keyCode keyCode = 0;
    std::int32_t time = 0;  // ms, the clock of convertEngine::now
};

// What the engine queues for the agent to send.
struct keyOutputEvent {
    bool down = false;
    ::keyCode keyCode = 0;          // 0 in marker events
    std::int32_t delay = 0;         // minimum ms since the previous sent event
    std::int32_t carriedDelay = 0;  // added to the next event's delay once this one has gone
    bool isMarker = false;          // opens (down) or closes a kana-toggle or alphanumeric bracket
    keySequence units;              // a text or character unit; empty for a plain key
};

class convertEngine;

// The pressed and sent state of one modifier pair.
class modifierTracker {
public:
    modifierTracker(keyCode left, keyCode right) : leftCode(left), rightCode(right) {}
    virtual ~modifierTracker() = default;

    virtual void setSentLeft(bool b) { sentLeft = b; }
    virtual void setSentRight(bool b) { sentRight = b; }
    virtual void syncLeft() { sentLeft = pressedLeft; }
    virtual void syncRight() { sentRight = pressedRight; }
    virtual void setLeft(bool b) { pressedLeft = sentLeft = b; }
    virtual void setRight(bool b) { pressedRight = sentRight = b; }
    virtual bool isLeftPressed() { return pressedLeft; }
    virtual bool isRightPressed() { return pressedRight; }

    bool pressedLeft = false;
    bool pressedRight = false;
    bool sentLeft = false;
    bool sentRight = false;
    keyCode leftCode;
    keyCode rightCode;
};

// A tracker whose changes of the sent state become output events of its engine.
class engineModifierTracker : public modifierTracker {
public:
    engineModifierTracker(convertEngine* engine, keyCode left, keyCode right)
        : modifierTracker(left, right), m_engine(engine) {}

    void setSentLeft(bool b) override;
    void setSentRight(bool b) override;
    void syncLeft() override;
    void syncRight() override;
    void setLeft(bool b) override;
    void setRight(bool b) override;

private:
    void send(bool down, keyCode code, std::int32_t delay);
    convertEngine* m_engine;
};

// A converted press whose release is still to come.
struct pendingGroup {
    keySequence keys;    // the physical keys that produced it
    keySequence output;  // the converted keys that were pressed
    int releaseMode = 1; // 1 release and drop; 2 release, keep the other key; 0 already released
    int id = 0;
    std::int32_t time = 0;
};

// The engine's match state: the matcher's record plus whether a found entry of another kind
// superseded an open sequence.
struct engineLookupResult : layoutMatchState {
    bool superseded = false;
};

// The three flags that held Ctrl, Alt or Win give the lookup.
struct modifierSkipFlags {
    bool noRowShift = false;
    bool skipAlphabet = false;
    bool modifierHeld = false;
};

// Process-wide values of the replay and the pacing (one agent runs at a time; they survive
// agent changes).
struct outputSharedState {
    std::int32_t carriedDelay = 0;
    keyCode lastKey = 0;
    int shiftSpan = 0;
    int kanaSpan = 0;
    int alnumSpan = 0;
    bool alnumSkip = false;
    bool alnumKeyDown = false;  // the bracket was opened by pressing the alphanumeric key
    int chordIdCounter = 0;
};

class convertEngine {
public:
    convertEngine();
    virtual ~convertEngine();
    convertEngine(const convertEngine&) = delete;
    convertEngine& operator=(const convertEngine&) = delete;

    // ---- host operations, in slot order ----
    virtual std::int32_t now() = 0;
    virtual bool outputEvent(const keyOutputEvent& event) = 0;
    virtual bool optionEnabled(int kind) = 0;
    virtual bool layoutKindEnabled(int kind) = 0;
    virtual bool shiftLayoutAppliesTo(int kind) = 0;
    virtual bool ctrlQwerty() = 0;
    virtual bool ctrlMigiOff() = 0;
    virtual bool multiDownHold() = 0;
    virtual int acceptTimer() = 0;
    virtual int cancelTime(bool second) = 0;
    virtual int inputKind() = 0;
    virtual int shiftLayout() = 0;
    virtual bool isGameMode() = 0;
    virtual bool gameModeBit80Clear() = 0;
    virtual bool gameModeBit02() = 0;
    virtual bool gameModeBit04() = 0;
    virtual bool gameModeBit08() = 0;
    virtual bool gameModeBit40Clear() = 0;
    virtual bool gameModeBit10Clear() = 0;
    virtual int outputTimer() = 0;
    virtual int shiftReverseTime() = 0;
    virtual int clearTypeOfStockMiss() = 0;
    virtual const keyCode* forceKanaKey() = 0;
    virtual const keyCode* rightThumbKey() = 0;
    virtual const keyCode* leftThumbKey() = 0;
    virtual keyCode substituteKey(int kind, keyCode key) = 0;
    // Converts the first unit of keys and takes it off the list.
    virtual keySequence convertOutputKeys(int kind, keySequence& keys) = 0;
    virtual int lookupLayout(int kind, const keySequence& keys, layoutMatchState& result) = 0;
    virtual keySequence lookupOutput(int kind, const keySequence& keys) = 0;
    virtual keyCode translateKey(keyCode key) = 0;
    virtual int chordFlags(int kind, keyCode key) = 0;
    virtual keyCode mapScancode(keyCode key) = 0;
    virtual bool isModifier(keyCode key);
    // One log line; the text is narrow CP932.
    virtual void logLine(const std::string& text) = 0;

    // ---- what the engine offers ----
    // The whole conversion of one physical event; the event is always consumed.
    bool keyEvent(bool down, keyCode key, std::int32_t time);
    // The timer step, then one flush of the output queue; true when it decided a waiting key.
    bool poll();
    // The same, with the time decisions taken as of `inputNow` on the keys' own clock rather than
    // now: an agent whose keys reach it late, or that has keys queued still, passes the time up
    // to which it has seen every key, so a partner pressed in time is never missed.
    bool pollAt(std::int32_t inputNow);
    // Conversion pauses or another agent takes over: everything the engine has sent down (converted
    // keys, the modifiers it pressed, the brackets it opened) is released at once, newest first and
    // modifiers last, and nothing stays pending. A key still waiting for a partner or a time is
    // decided first and what composition holds back comes out, so no typed key is lost. A physical
    // key released later is then no key of the engine's and passes on as it comes.
    void releaseAll();
    // Whether releaseAll has anything to do.
    bool holdsKeys() const;
    // The modifier keys the engine holds down and has sent down (their press went out).
    std::vector<keyCode> sentModifiers() const;
    // Whether the engine holds a modifier key down (it saw its press and not yet its release).
    bool holdsModifier(keyCode key) const;
    // One of those comes up as its own release would bring it up (its release was lost).
    void releaseModifier(keyCode key);
    // A key that chords with nothing comes and the agent passes it on itself: what waits for a
    // partner is decided as that key's press would decide it, and sent as far as its pace allows.
    void decideWaiting(std::int32_t time);
    // Whether the next poll may have work that no key brings: a key waiting for its partner or
    // its time, a deferred decision, output waiting for its pace. An agent polls often while
    // this holds and may rest otherwise.
    bool awaitsPoll() const;
    // What a key list would produce now. Safe from another thread than keyEvent's: it works on
    // a published copy of the match state and takes tableLock around every table query.
    std::wstring keysToOutputText(const keySequence& keys);
    // The status text of what is held back.
    std::wstring compositionText();

    // Resets the process-wide replay and pacing values (for a fresh start in tests).
    static void resetSharedState();
    static outputSharedState& sharedState();

    // Fixed codes, taken from the letter alphabets.
    const keyCode thumbLeftCode, thumbRightCode, shiftLeftCode, shiftRightCode, kanaToggleCode,
        alnumCode, alnumSkipCode, kanaLockCode, enterCode, escapeCode, backspaceCode;

protected:
    // Read-only views for agents and tests.
    bool kanaIsOff() const { return m_kanaOff; }
    int chordStateValue() const { return m_chordState; }
    std::size_t pendingGroupCount() const { return m_groups.size(); }
    std::size_t queuedOutputCount() const { return m_queue.size(); }
    const std::deque<keyOutputEvent>& queuedOutput() const { return m_queue; }
    std::int32_t lastSentTime() const { return m_lastSentTime; }
    bool sequenceOpen() const { return !m_lookup.provisionalOutputs.empty(); }
    modifierTracker& shiftTracker() { return m_trackers[0]; }

private:
    friend class engineModifierTracker;

    // ---- key events, modifiers and lookup (convertEngine.cpp) ----
    modifierSkipFlags currentSkipFlags();
    void updateSkipFlags();
    bool anyPressed(std::size_t tracker);
    bool kindUsable(int kind, bool kanaOff);
    static bool kindSkipped(int kind, const modifierSkipFlags& flags, bool kanaOff);
    keyCode rowShift(keyCode key, bool noRowShift);
    int keyChordFlags(keyCode key);
    int kindChordFlags(keyCode key, keyCode shifted);
    keySequence lookupTables(const keySequence& keys, bool excludeKana,
                             engineLookupResult& result, const modifierSkipFlags& flags,
                             bool kanaOff);
    void followUp(keySequence& output, std::size_t kindIndex);
    void publishSnapshot();
    std::wstring textOf(const keySequence& keys);

    // Table queries, each under tableLock, never held across outputEvent.
    int queryLayout(int kind, const keySequence& keys, layoutMatchState& state);
    keySequence queryConvertOutput(int kind, keySequence& keys);
    keySequence convertAll(int kind, keySequence keys);
    keySequence queryLookupOutput(int kind, const keySequence& keys);
    keyCode queryTranslate(keyCode key);
    keyCode querySubstitute(int kind, keyCode key);
    int queryChordFlags(int kind, keyCode key);

    // ---- simultaneous presses and timing (chordTiming.cpp) ----
    std::pair<keySequence, bool> tryConvert(const keySequence& keys, bool last);
    std::pair<keySequence, bool> convertAlone(keyCode key);
    std::pair<keySequence, bool> chordLookup(keyCode first, keyCode second);
    keySequence shiftRewrite(const keySequence& output);
    void decideAlone(std::int32_t time);
    bool shiftLikeHoldHasChorded();
    void endHold(std::int32_t time);
    void pressAlone(const inputKeyEvent& event);
    void makeGroup(keySequence keys, const keySequence& output, int mode, std::int32_t time);
    bool deferredTakesEvent(const inputKeyEvent& event);
    bool deferredTimeCheck(std::int32_t inputNow);
    void takeDeferred(bool releaseFirst);
    void armDeferred(int kind, const inputKeyEvent& event);
    void pressKey(const inputKeyEvent& event, int flags, std::list<pendingGroup>::iterator group);
    void chordWait(const inputKeyEvent& event, int flags);
    void holdKey(const inputKeyEvent& event, int flags);
    void releaseKey(const inputKeyEvent& event, std::list<pendingGroup>::iterator group);
    void startWaiting(keyCode key, std::int32_t time, int state);
    std::list<pendingGroup>::iterator findGroup(keyCode key);

    // ---- kana composition (kanaComposition.cpp) ----
    std::pair<keySequence, bool> convert(const keySequence& keys, bool excludeKana);
    keySequence plainConversion();
    keySequence romajiComposition();
    void emit(keySequence& keys, bool found);
    keySequence flushHeld();
    keySequence resolveOpenSequence(keySequence& keys);
    bool clearHeld(bool all);
    bool editKey(keySequence& into, const keySequence& keys);
    void resolveSokuon(keySequence& next);
    void resolveN(keySequence& next);
    void dropHeldKana();
    void dropOpenSequence(layoutMatchState& state);
    void dropLastStroke(layoutMatchState& state);

    // ---- output queue and pacing (outputQueue.cpp) ----
    void queueOutput(const keyOutputEvent& event);
    void queueKey(bool down, keyCode key, std::int32_t delay, std::int32_t carried);
    void queueMarker(bool open);
    // Sends every due event; forced, every event at once whatever its delay.
    void flush(bool force = false);
    void closeBrackets();
    void replay(const keySequence& keys, bool down);
    void kanaToggle(bool open, std::int32_t wait);
    void alnumBracket(bool open, std::int32_t wait, bool down);

    // Modifier trackers: Shift, Alt, Ctrl, Win.
    std::array<engineModifierTracker, 4> m_trackers;
    modifierSkipFlags m_skip;
    std::array<std::array<keyCode, 256>, 4> m_rowShiftMaps;  // index 1..3

    // Simultaneous presses.
    std::list<pendingGroup> m_groups;
    int m_currentChordId = 0;
    std::int32_t m_chordStart = 0;
    int m_chordState = 0;
    keyCode m_pendingKey = 0;
    int m_deferredKind = 0;
    inputKeyEvent m_deferredEvent;
    std::int32_t m_deferredTime = 0;

    // Composition.
    bool m_sokuonPending = false;
    bool m_semiVoicedPending = false;
    bool m_voicedPending = false;
    bool m_nPending = false;
    keySequence m_sokuonKeys, m_nKeys, m_voicedMarkKeys, m_semiVoicedMarkKeys;
    keySequence m_heldKana;
    engineLookupResult m_lookup;
    bool m_kanaOff = false;
    bool m_forceKeySent = false;  // a press of the game-mode kana key went out, its release not

    // Output queue and pacing.
    std::deque<keyOutputEvent> m_queue;
    std::int32_t m_lastSentTime = 0;
    bool m_anySent = false;

    // What keysToOutputText reads from another thread, published after every step.
    struct snapshot {
        engineLookupResult lookup;
        std::array<bool, 8> pressed{};  // left and right of each tracker
        bool kanaOff = false;
    };
    sectionLock m_snapshotLock;
    snapshot m_snapshot;
};

// The signed difference of two ticks of a wrapping 32-bit clock.
inline std::int32_t tickDifference(std::int32_t later, std::int32_t earlier) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(later) -
                                     static_cast<std::uint32_t>(earlier));
}

// The lag of an agent's input clock once it has taken a key of `keyTime`: how late the key came,
// as keys that come late come late together. While a key waits for its decision (`keyWaits`) the
// lag only shrinks: a later key's greater lag (a release that came late, say) must not hold the
// waiting key back, which so waits at most the accept time after it came itself, as long as a
// partner as late as it would take.
inline std::int32_t inputLagAfter(std::int32_t now, std::int32_t keyTime, std::int32_t lag, bool keyWaits) {
    std::int32_t late = tickDifference(now, keyTime);
    if (late < 0) late = 0;
    return keyWaits && late > lag ? lag : late;
}

// The time up to which an agent has seen every key, on the keys' own clock: now, less the lag of
// the last key taken (keys that come late come late together), and never past a key still queued
// (`nextKeyTime`, or null), which decides by its own time.
inline std::int32_t inputClockAt(std::int32_t now, std::int32_t lag, const std::int32_t* nextKeyTime) {
    std::int32_t t = static_cast<std::int32_t>(static_cast<std::uint32_t>(now) -
                                               static_cast<std::uint32_t>(lag));
    if (nextKeyTime) {
        const std::int32_t beforeNext =
            static_cast<std::int32_t>(static_cast<std::uint32_t>(*nextKeyTime) - 1u);
        if (tickDifference(beforeNext, t) < 0) t = beforeNext;
    }
    return t;
}
