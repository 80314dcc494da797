// Output-conversion files: which keys to type for one output unit of a layout table (a kana for
// romaji input or for kana input), and, after the line "InputAssignData=1", plain key-to-key pairs.
#pragma once

#include "core/engine/keyCodes.h"
#include "core/files/layoutReader.h"

#include <istream>
#include <set>
#include <string>
#include <utility>
#include <vector>

struct substitutionEntry {
    keySequence input;   // one output unit: a key, 227 and a character, or 251 and a code group
    keySequence output;  // the keys to type for it

    bool operator==(const substitutionEntry& other) const
    {
        return input == other.input && output == other.output;
    }
};

class substitutionTable {
public:
    explicit substitutionTable(int kind = 0) : tableKind(kind) {}

    int tableKind = 0;
    bool copyBeforeEdit = true;
    // Sorted by input (keySequenceLess) once the reader has finished; inputs are unique.
    std::vector<substitutionEntry> entries;
    // In file order; no two pairs share their `from`.
    std::vector<std::pair<keyCode, keyCode>> keyPairs;

    // False (and nothing added) when an entry with an equal input exists: the first one wins.
    // Logarithmic, so a large file reads in n log n.
    bool addSubstitution(keySequence input, keySequence output);
    // False (and nothing added) when a pair with that `from` exists.
    bool addKeyPair(keyCode from, keyCode to);
    void sortEntries();

    bool operator==(const substitutionTable& other) const;
    bool operator!=(const substitutionTable& other) const { return !(*this == other); }

private:
    // The inputs of the entries, for addSubstitution's duplicate test. Built from `entries`
    // whenever it does not hold as many inputs as there are entries; a copy of a table starts
    // without it, so copies of loaded tables (which are only looked up) carry no second set.
    struct inputIndex {
        std::set<keySequence, keySequenceLess> inputs;
        inputIndex() = default;
        inputIndex(const inputIndex&) {}
        inputIndex& operator=(const inputIndex&)
        {
            inputs.clear();
            return *this;
        }
    };
    inputIndex m_inputIndex;
};

class substitutionReader : public definitionErrorSink {
public:
    template <class LogStream>
    substitutionReader(int kind, LogStream* log) : definitionErrorSink(log), m_table(kind)
    {
    }
    substitutionReader(int kind, definitionLogStream* log, lockable* logLock)
        : definitionErrorSink(log, logLock), m_table(kind)
    {
    }
    // A reader whose messages are only counted.
    explicit substitutionReader(int kind) : m_table(kind) {}

    // Reads every line of the stream into the table; see readSubstitution.
    void readAll(std::wistream& text);
    // True when the line was accepted or ignored, false when it failed (and was reported).
    bool readSubstitutionLine(const std::wstring& line);

    bool ok() const { return m_ok; }
    const substitutionTable& table() const { return m_table; }
    // Hands the table out without copying it; the reader is left with nothing to look at.
    substitutionTable takeTable() { return std::move(m_table); }

private:
    substitutionTable m_table;
    bool m_ok = true;
    bool m_inputAssign = false;
};

// Reads every line of the stream and returns the table, its entries sorted; reader.ok() then says
// whether every line was accepted.
substitutionTable readSubstitution(substitutionReader& reader, std::wistream& text);

// Takes the first unit off the front of `sequence` and answers the keys to type for it: the
// entry's output, or the unit itself when the table has none. The registry's 多 falls back to the
// entry of the IME on/off key. An empty sequence gives an empty answer.
keySequence lookupSubstitution(const substitutionTable& table, keySequence& sequence);
// The `to` of the pair whose `from` is the code, else the code itself.
keyCode pairedKey(const substitutionTable& table, keyCode code);
