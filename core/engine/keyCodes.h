// Key codes, the letters through which definition files name keys, and the two kinds of key list.
//
// A key code is 16 bits: the low 7 bits hold the set-1 make code, 0x80 marks an E0-prefixed key.
// A few codes no keyboard produces are used by the layout tables for commands and the thumb keys.
#pragma once

#include <cstdint>
#include <list>
#include <string>
#include <utility>
#include <vector>

typedef std::uint16_t keyCode;

// A list of 16-bit units: key codes on the input side of a definition, key codes or character
// units on its output side. Appending at the end is the common operation.
typedef std::list<keyCode> keySequence;

// One step of typing: a single key (second == 0) or a chord of two keys (larger code first).
typedef std::pair<keyCode, keyCode> stroke;
typedef std::vector<stroke> strokeSequence;

// Codes that open multi-code units inside a key sequence, and the marker for a second lookup.
constexpr keyCode textUnitCode() { return 251; }   // 251, id of a registered character (1 or 2 codes)
constexpr keyCode charUnitCode() { return 227; }   // 227, one ASCII character code
constexpr keyCode keyMarkerCode() { return 254; }  // next unit is looked up again in later tables

// Modifier keys.
constexpr keyCode leftShiftCode() { return 0x2A; }
constexpr keyCode rightShiftCode() { return 0x36; }
constexpr keyCode leftCtrlCode() { return 0x1D; }
constexpr keyCode rightCtrlCode() { return 0x9D; }
constexpr keyCode leftAltCode() { return 0x38; }
constexpr keyCode rightAltCode() { return 0xB8; }
constexpr keyCode leftWinCode() { return 0xDB; }
constexpr keyCode rightWinCode() { return 0xDC; }

// NumLock is 0x45 without the E0 mark (so the layout files name it as they do), but the system
// knows it only as an extended key: scan code 0x45 sent without that mark is Pause. Right Shift
// (0x36) is never extended.
constexpr keyCode numLockCode() { return 0x45; }
// Whether a key sent to the system by its scan code must carry the extended-key flag.
inline bool sentAsExtendedKey(keyCode code) { return (code & 0x80) != 0 || code == numLockCode(); }

// The key a definition-file letter names. Alphabet 0 holds the main keys, alphabet 1 the numeric
// pad, function keys and command keys. Letters at or above 0x80, unknown letters and NUL give 0.
unsigned keyCodeFromLetter(unsigned letter, int alphabet);
keyCode keyCodeOf(unsigned letter, int alphabet);

// The power, sleep and wake keys share their codes with the thumb keys and the character unit.
bool isAcpiKeyCode(keyCode code);
// False for 0 and for the command codes that are never sent to the system as keys.
bool isRealKey(unsigned code);
bool isLetterKey(keyCode code);
bool isLetterOrPunctuationKey(keyCode code);
inline bool isTextUnit(keyCode code) { return code == textUnitCode(); }
inline bool isCharUnit(keyCode code) { return code == charUnitCode(); }

// Display name of a key: the letter of alphabet 0 for the plain keys, a Japanese or English
// name for the capital-letter keys, empty for everything else.
std::wstring keyName(keyCode code);
// The names of all keys joined with no separator.
std::wstring chordName(const keySequence& sequence);

// Clears the sequence, then appends the alphabet-0 code of every letter (0 for an unknown one).
void keySequenceFromLetters(keySequence& sequence, const std::string& letters);
void appendLetter(keySequence& sequence, char letter);
keySequence keySequenceOfStroke(const stroke& s);

// The code a unit walk looks at: the key code itself, or the first code of a stroke.
inline keyCode unitLeadCode(keyCode code) { return code; }
inline keyCode unitLeadCode(const stroke& s) { return s.first; }

// The position after the unit that starts at pos: 251 with one code (up to 176) or two codes,
// 227 with one code, any other code alone. A unit cut short by the end ends at the end.
template <class Iterator>
Iterator nextUnit(Iterator pos, Iterator end)
{
    if (pos == end) return end;
    keyCode lead = unitLeadCode(*pos);
    ++pos;
    if (lead == textUnitCode()) {
        if (pos == end) return end;
        keyCode id = unitLeadCode(*pos);
        ++pos;
        if (id <= 176 || pos == end) return pos;
        return ++pos;
    }
    if (lead == charUnitCode()) {
        if (pos == end) return end;
        return ++pos;
    }
    return pos;
}

// Orders. All comparisons are unsigned 16-bit.
struct keySequenceLess {
    bool operator()(const keySequence& a, const keySequence& b) const;
};
struct strokeSequenceLess {
    bool operator()(const strokeSequence& a, const strokeSequence& b) const;
};
// Decides at the first differing stroke; a sequence is equivalent to all its extensions and to
// every sequence it extends (neither is less).
struct strokePrefixLess {
    bool operator()(const strokeSequence& a, const strokeSequence& b) const;
};
// True when `whole` starts with all strokes of `prefix` (equal sequences included).
bool startsWithStrokes(const strokeSequence& whole, const strokeSequence& prefix);
