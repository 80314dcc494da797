// A loaded layout table and the matcher that resolves typed strokes against it, one stroke at a time.
#pragma once

#include "core/engine/keyCodes.h"

#include <array>
#include <set>
#include <string>
#include <utility>
#include <vector>

// Bits of a key's chord flags.
enum : int {
    chordFlagSingle = 1,         // the key occurs as a single stroke in some definition
    chordFlagChord = 2,          // the key takes part in a chord (or carries an abbreviation output)
    chordFlagSemiShift = 4,      // listed by "SemiShift="
    chordFlagMultiDownHold = 8,  // listed by "MultiDownHold="
};

struct layoutEntry {
    strokeSequence keys;
    keySequence output;

    bool operator==(const layoutEntry& other) const
    {
        return keys == other.keys && output == other.output;
    }
    bool operator!=(const layoutEntry& other) const { return !(*this == other); }
};

class layoutTable {
public:
    explicit layoutTable(int kind = 0);

    int typeModeDefault = 0;
    std::array<int, 256> chordFlags{};
    int tableKind = 0;
    bool copyBeforeEdit = true;
    std::vector<std::pair<std::wstring, std::wstring>> halfKeyOutputs;
    // Sorted in strokeSequenceLess order once the reader has finished.
    std::vector<layoutEntry> entries;
    int maxKeyCount = 0;

    // False (and nothing added) when an entry with equal keys is already there: the earlier
    // definition wins. Entries with no keys are refused too: they would match everything.
    // Logarithmic, so a large file reads in n log n.
    bool addEntry(strokeSequence keys, keySequence output);
    // ORs bits into a key's chord flags; codes beyond the table are ignored.
    void addChordFlags(keyCode code, int bits);
    void sortEntries();

    // maxKeyCount is derived and not compared.
    bool operator==(const layoutTable& other) const;
    bool operator!=(const layoutTable& other) const { return !(*this == other); }

private:
    // The keys of the entries, for addEntry's duplicate test. Built from `entries` whenever it
    // does not hold as many keys as there are entries; a copy of a table starts without it, so
    // copies of loaded tables (which are only looked up) carry no second set of keys.
    struct keyIndex {
        std::set<strokeSequence, strokeSequenceLess> keys;
        keyIndex() = default;
        keyIndex(const keyIndex&) {}
        keyIndex& operator=(const keyIndex&)
        {
            keys.clear();
            return *this;
        }
    };
    keyIndex m_keyIndex;
};

// The state of one open sequence, owned by the engine; the matcher reads and writes it.
struct layoutMatchState {
    bool found = false;
    keySequence output;
    // One element per stroke of the open sequence: the output of the entry whose keys equal the
    // strokes so far, or an empty sequence when no entry ends there.
    std::vector<keySequence> provisionalOutputs;
    strokeSequence pendingStrokes;
    int pendingKind = 0;

    void clear()
    {
        found = false;
        output.clear();
        provisionalOutputs.clear();
        pendingStrokes.clear();
        pendingKind = 0;
    }
};

// Answers of matchLayout.
enum : int {
    matchDone = 0,           // the step was done; state.found says whether an entry is still possible
    matchNoKeys = 1,         // typedKeys is empty
    matchPastTable = 2,      // the pending strokes sort after every entry of the table
    matchCountMismatch = 3,  // provisionalOutputs and pendingStrokes differ in length
};

// One step of a sequence: typedKeys is the key just typed, or the two keys of a chord. The
// candidates are the entries whose keys start with the pending strokes plus the new stroke.
int matchLayout(const layoutTable& table, const keySequence& typedKeys, layoutMatchState& state);

// The table's chord flags for a key; 0 for codes the table has no flags for.
int chordFlagsOf(const layoutTable& table, unsigned code);
