// Classification of the current IME by four user-given lists of IME names (regular expressions
// over the whole name). The hook-library link holds one classifier and reads its flags.
#pragma once

#include "core/platform/locks.h"

#include <boost/regex.hpp>

#include <string>

class imeClassifier {
public:
    // The four lists, by index; each is set from the settings key of the same name.
    enum list {
        throughOnCandidateList = 0,       // ImeThroughOnCandidate
        throughAlwaysList = 1,            // ImeThroughAlways
        cantUseScsSetstrList = 2,         // ImeCantUseScsSetstr
        cantAcceptSymbolDirectList = 3,   // ImeCantAcceptSymbolDirect
        listCount = 4
    };

    // Every list starts as " " (one space), which matches only a name of one space.
    imeClassifier();
    imeClassifier(const imeClassifier&) = delete;
    imeClassifier& operator=(const imeClassifier&) = delete;

    // Compiles the pattern (Perl syntax, case-sensitive) into the list; an empty pattern compiles
    // " " instead. Answers the empty text on success, else the regular-expression library's
    // error text. A list whose pattern failed to compile matches no name until it is set again.
    // The flags are not touched.
    std::wstring assignImeRegex(int listIndex, const std::wstring& pattern);

    // Clears the four flags, then matches the whole name against lists 0, 1, 3, 2 in this order;
    // the first match sets its flag. Answers the log sentence for the result.
    std::wstring classifyIme(const std::wstring& imeName);

    bool candidateThrough() const;
    bool alwaysThrough() const;
    bool cantUseScsSetstr() const;
    bool cantAcceptSymbolDirect() const;

private:
    bool matches(int listIndex, const std::wstring& name) const;

    // The lists are set on the user-interface thread and matched on the agent thread: both sides
    // hold this lock, so neither ever sees a half-replaced pattern.
    mutable sectionLock m_lock;
    boost::wregex m_lists[listCount];
    bool m_compiled[listCount];
    bool m_flags[listCount];
};
