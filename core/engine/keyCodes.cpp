#include "core/engine/keyCodes.h"

#include <algorithm>
#include <cstddef>

namespace {

struct letterCode {
    char letter;
    keyCode code;
};

// Main keys. The order matters: names are looked up by position (plain keys before "L", the
// named keys from "L" up to "F", then the two pseudo keys "F" and "~").
const letterCode mainAlphabet[] = {
    {' ', 0x39},
    {'0', 0x0B}, {'1', 0x02}, {'2', 0x03}, {'3', 0x04}, {'4', 0x05},
    {'5', 0x06}, {'6', 0x07}, {'7', 0x08}, {'8', 0x09}, {'9', 0x0A},
    {'a', 0x1E}, {'b', 0x30}, {'c', 0x2E}, {'d', 0x20}, {'e', 0x12}, {'f', 0x21}, {'g', 0x22},
    {'h', 0x23}, {'i', 0x17}, {'j', 0x24}, {'k', 0x25}, {'l', 0x26}, {'m', 0x32}, {'n', 0x31},
    {'o', 0x18}, {'p', 0x19}, {'q', 0x10}, {'r', 0x13}, {'s', 0x1F}, {'t', 0x14}, {'u', 0x16},
    {'v', 0x2F}, {'w', 0x11}, {'x', 0x2D}, {'y', 0x15}, {'z', 0x2C},
    {'-', 0x0C}, {'^', 0x0D}, {'\\', 0x7D}, {'@', 0x1A}, {'[', 0x1B}, {';', 0x27}, {':', 0x28},
    {']', 0x2B}, {',', 0x33}, {'.', 0x34}, {'/', 0x35}, {'_', 0x73},
    {'L', 0xDE}, {'R', 0xDF}, {'E', 0x1C}, {'K', 0x7C}, {'M', 0x36}, {'H', 0x2A}, {'B', 0x0E},
    {'T', 0x0F}, {'Q', 0x01},
    {'D', 0xD3}, {'Z', 0x29}, {'O', 0xC7}, {'N', 0xCF}, {'C', 0x60}, {'P', 0xC9}, {'W', 0xD1},
    {'U', 0xC8}, {'V', 0xD0},
    {'G', 0xCB}, {'J', 0xCD}, {'I', 0xD2}, {'Y', 0x79}, {'X', 0x7B}, {'A', 0x1D}, {'S', 0x9D},
    {'F', 0x61}, {'~', 0x7A},
};

// Names of the keys from "L" up to, not including, "F", in table order.
const wchar_t* const namedKeys[] = {
    L"左親指", L"右親指", L"Enter", L"かな", L"右Sft", L"左Sft", L"BS", L"Tab", L"Esc",
    L"Del", L"半角/全角", L"Home", L"End", L"Caps", L"PgUp", L"PgDn", L"↑", L"↓", L"←", L"→",
    L"Ins", L"変換", L"無変換", L"左Ctrl", L"右Ctrl",
};

// Numeric pad, function keys and command keys.
const letterCode padAlphabet[] = {
    {'0', 0x52}, {'1', 0x4F}, {'2', 0x50}, {'3', 0x51}, {'4', 0x4B},
    {'5', 0x4C}, {'6', 0x4D}, {'7', 0x47}, {'8', 0x48}, {'9', 0x49},
    {'a', 0x3B}, {'b', 0x3C}, {'c', 0x3D}, {'d', 0x3E}, {'e', 0x3F}, {'f', 0x40}, {'g', 0x41},
    {'h', 0x42}, {'i', 0x43}, {'j', 0x44}, {'k', 0x57}, {'l', 0x58},
    {'m', 0x64}, {'n', 0x65}, {'o', 0x66}, {'p', 0x67}, {'q', 0x68}, {'r', 0x69}, {'s', 0x6A},
    {'t', 0x6B}, {'u', 0x6C}, {'v', 0x6D}, {'w', 0x6E}, {'x', 0x76},
    {'^', 0x37}, {'@', 0x4E}, {',', 0x7E}, {'-', 0x4A}, {'.', 0x53}, {'/', 0xB5},
    {'T', 0x45},
    {'K', 0xFF}, {'I', 0xE0}, {'E', 0xE1}, {'D', 0xFA}, {'X', 0xFC},
    {'L', 0xDE}, {'R', 0xDF},
    {'Q', 0xFD}, {'Z', 0x7F}, {';', 0xFE},
    {'A', 0x38}, {'S', 0xB8}, {'O', 0xDB}, {'P', 0xDC}, {'N', 0xDD}, {'U', 0x3A}, {'H', 0x70},
};

template <std::size_t N>
unsigned findLetter(const letterCode (&alphabet)[N], unsigned letter)
{
    for (const letterCode& entry : alphabet) {
        if (static_cast<unsigned char>(entry.letter) == letter) return entry.code;
    }
    return 0;
}

std::size_t positionOfLetter(char letter)
{
    for (std::size_t i = 0; i < sizeof mainAlphabet / sizeof mainAlphabet[0]; ++i) {
        if (mainAlphabet[i].letter == letter) return i;
    }
    return sizeof mainAlphabet / sizeof mainAlphabet[0];
}

}  // namespace

namespace {

// Both alphabets indexed by letter: the readers look up every letter of a definition file.
struct letterTables {
    keyCode codes[2][0x80] = {};
    letterTables()
    {
        for (unsigned letter = 1; letter < 0x80; ++letter) {
            codes[0][letter] = static_cast<keyCode>(letter == '$' ? 0x39 : findLetter(mainAlphabet, letter));
            codes[1][letter] = static_cast<keyCode>(findLetter(padAlphabet, letter));
        }
    }
};

const letterTables& letterCodes()
{
    static const letterTables tables;
    return tables;
}

}  // namespace

unsigned keyCodeFromLetter(unsigned letter, int alphabet)
{
    // Only ASCII letters name keys. Checking before any narrowing keeps a full-width letter (or
    // any character whose low byte happens to be a letter) from naming a key.
    if (letter == 0 || letter >= 0x80 || alphabet < 0 || alphabet > 1) return 0;
    return letterCodes().codes[alphabet][letter];
}

keyCode keyCodeOf(unsigned letter, int alphabet)
{
    return static_cast<keyCode>(keyCodeFromLetter(letter, alphabet));
}

bool isAcpiKeyCode(keyCode code)
{
    return code == 222 || code == 223 || code == 227;
}

bool isRealKey(unsigned code)
{
    switch (code) {
    case 0: case 0x60: case 0x61: case 0x7A: case 0x7C: case 0x7F: case 224: case 225:
        return false;
    default:
        return !(code >= 250 && code <= 255);
    }
}

bool isLetterKey(keyCode code)
{
    for (char c = 'a'; c <= 'z'; ++c) {
        if (keyCodeFromLetter(static_cast<unsigned>(c), 0) == code) return true;
    }
    return false;
}

bool isLetterOrPunctuationKey(keyCode code)
{
    return isLetterKey(code) || code == 0x33 || code == 0x34 || code == 0x35 || code == 0x1B ||
           code == 0x2B;
}

std::wstring keyName(keyCode code)
{
    const std::size_t namedFrom = positionOfLetter('L');
    const std::size_t namedTo = positionOfLetter('F');
    for (std::size_t i = 0; i < namedFrom; ++i) {
        if (mainAlphabet[i].code == code) return std::wstring(1, static_cast<wchar_t>(mainAlphabet[i].letter));
    }
    for (std::size_t i = namedFrom; i < namedTo; ++i) {
        if (mainAlphabet[i].code == code) return namedKeys[i - namedFrom];
    }
    return std::wstring();
}

std::wstring chordName(const keySequence& sequence)
{
    std::wstring name;
    for (keyCode code : sequence) name += keyName(code);
    return name;
}

void keySequenceFromLetters(keySequence& sequence, const std::string& letters)
{
    sequence.clear();
    for (char c : letters) appendLetter(sequence, c);
}

void appendLetter(keySequence& sequence, char letter)
{
    sequence.push_back(keyCodeOf(static_cast<unsigned char>(letter), 0));
}

keySequence keySequenceOfStroke(const stroke& s)
{
    keySequence sequence;
    if (s.first != 0) {
        sequence.push_back(s.first);
        if (s.second != 0) sequence.push_back(s.second);
    }
    return sequence;
}

bool keySequenceLess::operator()(const keySequence& a, const keySequence& b) const
{
    return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end());
}

bool strokeSequenceLess::operator()(const strokeSequence& a, const strokeSequence& b) const
{
    return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end());
}

bool strokePrefixLess::operator()(const strokeSequence& a, const strokeSequence& b) const
{
    auto ia = a.begin();
    auto ib = b.begin();
    for (; ia != a.end() && ib != b.end(); ++ia, ++ib) {
        if (*ia != *ib) return *ia < *ib;
    }
    return false;
}

bool startsWithStrokes(const strokeSequence& whole, const strokeSequence& prefix)
{
    return prefix.size() <= whole.size() && std::equal(prefix.begin(), prefix.end(), whole.begin());
}
