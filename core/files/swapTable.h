// Key-swap files: single keys replaced by other single keys before any layout lookup. A line of
// source keys is followed by a line of as many target keys; the i-th source becomes the i-th target.
#pragma once

#include "core/engine/keyCodes.h"
#include "core/files/layoutReader.h"

#include <istream>
#include <string>
#include <utility>
#include <vector>

class swapTable {
public:
    explicit swapTable(int kind = 0) : tableKind(kind) {}

    int tableKind = 0;
    bool copyBeforeEdit = true;
    // Sorted by `from` once the reader has finished; no two pairs share their `from`.
    std::vector<std::pair<keyCode, keyCode>> swapPairs;

    // False (and nothing added) when a pair with that `from` exists: the first one wins.
    bool addSwapPair(keyCode from, keyCode to);
    void sortPairs();

    bool operator==(const swapTable& other) const
    {
        return tableKind == other.tableKind && copyBeforeEdit == other.copyBeforeEdit &&
               swapPairs == other.swapPairs;
    }
    bool operator!=(const swapTable& other) const { return !(*this == other); }
};

class swapReader : public definitionErrorSink {
public:
    template <class LogStream>
    swapReader(int kind, LogStream* log) : definitionErrorSink(log), m_table(kind)
    {
    }
    swapReader(int kind, definitionLogStream* log, lockable* logLock)
        : definitionErrorSink(log, logLock), m_table(kind)
    {
    }
    // A reader whose messages are only counted.
    explicit swapReader(int kind) : m_table(kind) {}

    // Reads every line of the stream into the table; see readKeySwap.
    void readAll(std::wistream& text);
    // True when the line was accepted (a source line, a matching target line, a comment or an
    // empty line while sources are expected), false when it failed (and was reported).
    bool readKeySwapLine(const std::wstring& line);

    bool ok() const { return m_ok; }
    const swapTable& table() const { return m_table; }

private:
    swapTable m_table;
    bool m_ok = true;
    bool m_expectingSources = true;
    keySequence m_pendingSources;
    bool m_sourcesUnreadable = false;  // the waiting source line was reported as unreadable
};

// Reads every line of the stream and returns the table, its pairs sorted; reader.ok() then says
// whether the file was read without error.
swapTable readKeySwap(swapReader& reader, std::wistream& text);

// The key that replaces `code`, or the code itself when no pair starts from it.
keyCode swappedKey(const swapTable& table, keyCode code);
