// Layout definition files: the error sink shared by every definition reader, and the reader that
// turns the text of a layout file into a layoutTable.
//
// A layout file is text in lines. Header lines ("StrokeMode=", "SemiShift=", "WantThemselves=",
// ...) shape how the following lines are read; a definition line is a key part, one or more
// tabs and an output part; a line starting with "'" is a comment and one starting with "="
// declares an abbreviation (a prefix or half chord added to the key parts that follow).
#pragma once

#include "core/engine/keyCodes.h"
#include "core/engine/layoutTable.h"
#include "core/platform/locks.h"
#include "core/files/textFile.h"
#include "core/platform/tstring.h"

#include <windows.h>

#include <istream>
#include <ostream>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// The log stream's character type follows the build: wide text, or CP932 in the ANSI build.
typedef std::basic_ostream<TCHAR> definitionLogStream;

// Where a definition reader's messages go: the log stream, a line at a time under the stream's
// own lock. Without a stream the messages are only counted.
class definitionErrorSink {
public:
    // Any log stream that is also lockable (the program's log stream is both).
    template <class LogStream>
    explicit definitionErrorSink(LogStream* log) : m_log(log), m_logLock(log)
    {
    }
    definitionErrorSink(definitionLogStream* log, lockable* logLock) : m_log(log), m_logLock(logLock) {}
    definitionErrorSink() = default;
    virtual ~definitionErrorSink() = default;

    virtual void reportText(const std::wstring& text);
    // For messages kept as CP932 text.
    virtual void reportNarrowText(const std::string& text);

    // Messages reported so far.
    int reportCount() const { return m_reportCount; }

private:
    void write(const std::wstring& wide, const std::string& narrow, bool isWide);

    definitionLogStream* m_log = nullptr;
    lockable* m_logLock = nullptr;
    int m_reportCount = 0;
};

// Key expressions shared by every definition reader. Each takes one expression from the front of
// `text` (a view into the line, so taking is free however long the line) and reports what it
// can't read through the sink; on failure nothing is consumed.
// A key: a letter of the first alphabet ("$" is the space key), or "F" and a letter of the second
// alphabet. 0 when none can be read.
keyCode readKeyExpression(std::wstring_view& text, definitionErrorSink& sink);
// An output expression: a key, or "FC" and a printable ASCII character (227 and its code).
// Empty when none can be read.
keySequence readOutputKeyExpression(std::wstring_view& text, definitionErrorSink& sink);
// A definition line: a key part, one or more tabs and an output part, neither part holding a tab.
// False (parts untouched) for any other text.
bool splitDefinitionLine(const std::wstring& text, std::wstring& keyPart, std::wstring& outputPart);

class layoutReader : public definitionErrorSink {
public:
    template <class LogStream>
    layoutReader(int kind, LogStream* log) : definitionErrorSink(log), m_table(kind)
    {
    }
    layoutReader(int kind, definitionLogStream* log, lockable* logLock)
        : definitionErrorSink(log, logLock), m_table(kind)
    {
    }
    // A reader whose messages are only counted.
    explicit layoutReader(int kind) : m_table(kind) {}

    // Reads the whole stream; see readLayout below.
    void readAll(std::wistream& text);

    // True when the line was accepted or ignored, false when it failed.
    bool readDefinitionLine(const std::wstring& line);
    // The following three take one expression from the front of `text`.
    // A key, or 0 (reported) when none can be read.
    keyCode readKey(std::wstring_view& text) { return readKeyExpression(text, *this); }
    // A key or a brace chord; (0, 0) when none can be read. `incomplete` is set for a brace
    // chord that holds one key only.
    stroke readStroke(std::wstring_view& text, bool& incomplete);
    // One output expression of ASCII letters: a key, or "FC" and a character; empty on failure.
    keySequence readOutputKey(std::wstring_view& text) { return readOutputKeyExpression(text, *this); }

    // False once some line failed.
    bool ok() const { return m_ok; }
    const layoutTable& table() const { return m_table; }
    // Hands the table out without copying it; the reader is left with nothing to look at.
    layoutTable takeTable() { return std::move(m_table); }
    int strokeMode() const { return m_strokeMode; }

private:
    void readHeaderOrDefinition(const std::wstring& line, int lineNumber);
    bool readAbbreviation(std::wstring_view rest);
    bool readDefinition(std::wstring_view keyPart, std::wstring_view outputPart);
    void markStroke(const stroke& s);
    void setThemselves(const std::wstring& value);
    bool wantsThemselves(wchar_t ch) const;

    layoutTable m_table;
    int m_strokeMode = 0;
    strokeSequence m_prefixUnits;
    keyCode m_halfKey = 0;
    std::vector<wchar_t> m_themselves;  // sorted, for a binary search per output character
    bool m_themselvesHasMi = false;
    bool m_themselvesHasKyaku = false;
    bool m_ok = true;
};

// Reads every line of the stream into the reader's table and returns that table, its entries
// sorted. reader.ok() then says whether every line was accepted.
layoutTable readLayout(layoutReader& reader, std::wistream& text);
