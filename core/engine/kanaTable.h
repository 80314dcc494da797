// The character registry and the fixed kana tables of the kana composition.
//
// Key sequences carry characters of 128 and above as small numbers: the text unit code 251
// followed by one or two codes that the registry assigns to the character on first use. A
// character keeps its codes for the whole run, across reloads of the definition files.
#pragma once

#include "core/engine/keyCodes.h"
#include "core/platform/locks.h"

#include <map>
#include <string>
#include <vector>

class kanaTable {
public:
    // Builds the kana lists, registering their characters in the ordinary numbering.
    // getKanaTable() holds the one table of the program; tests may build their own.
    kanaTable();
    kanaTable(const kanaTable&) = delete;
    kanaTable& operator=(const kanaTable&) = delete;

    // 251 followed by the character's code group: from the second numbering when `themselves`
    // is set (characters a layout file wants to receive as themselves), else from the first.
    keySequence registerChar(wchar_t character, bool themselves);
    std::vector<keySequence> registerText(const std::wstring& text);

    // The character of a group (without the leading 251), or 0 when no character has it.
    wchar_t characterOf(const keySequence& group) const;

    // The voiced / semi-voiced form of the kana that the sequence starts with, or empty.
    keySequence semiVoicedOf(const keySequence& sequence) const;
    keySequence voicedOf(const keySequence& sequence) const;
    // The sequence starts with a kana that combines with a following small kana; う only with allowU.
    bool isPalatalBase(const keySequence& sequence, bool allowU) const;
    bool isSmallKana(const keySequence& sequence) const;
    // Romaji keys for a palatal base followed by a small kana. A leading code 0 stands for the
    // base's own consonant, which the caller puts in its place. Empty when the pair does not combine
    // (also when `base` is not a palatal base at all).
    keySequence palatalRomaji(const keySequence& base, const keySequence& small) const;
    bool startsWithConsonantKey(const keySequence& sequence) const;
    bool startsWithNonConsonantKey(const keySequence& sequence) const;

    // The text of a sequence, unit by unit: registered characters for text units, the name of
    // the first key for every other unit (none for a character unit).
    std::wstring sequenceText(const keySequence& sequence) const;

private:
    keySequence allocate(wchar_t character, std::map<wchar_t, keySequence>& numbering);
    std::vector<keySequence> registerList(const wchar_t* characters);
    static int positionOf(const std::vector<keySequence>& list, const keySequence& sequence);

    // Registration may come from the reader on the user-interface thread while the agent thread
    // turns sequences back into text or registers a character of its own.
    mutable sectionLock m_lock;

    std::map<wchar_t, keySequence> m_ordinaryCodes;
    std::map<keySequence, wchar_t, keySequenceLess> m_groupChars;
    std::map<wchar_t, keySequence> m_themselvesCodes;
    keyCode m_nextCode = 0;
    keyCode m_nextLow = 0;

    // Fixed after construction: read without the lock.
    std::vector<keySequence> m_semiVoicedBases, m_semiVoicedForms;
    std::vector<keySequence> m_voicedBases, m_voicedForms;
    std::vector<keySequence> m_palatalBases;
    std::vector<int> m_palatalMasks;
    std::vector<keySequence> m_smallKana;
    std::vector<keyCode> m_consonantKeys, m_consonantKeysAgain;
};

// The program's one table, built on first use and destroyed at exit.
kanaTable& getKanaTable();
