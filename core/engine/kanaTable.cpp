#include "core/engine/kanaTable.h"

#include <memory>

namespace {

// Small kana in the order of the palatal masks' bits, with their vowels.
const wchar_t smallKanaList[] = L"ゃゅょぃぇぁぉぅ";
const char smallKanaVowels[] = "auoieaou";

// The first unit of a sequence (a text unit is 251 with its one or two codes).
keySequence firstUnit(const keySequence& sequence)
{
    return keySequence(sequence.begin(), nextUnit(sequence.begin(), sequence.end()));
}

}  // namespace

kanaTable::kanaTable()
{
    // Registered in this order, so the kana always take the same first codes.
    m_semiVoicedBases = registerList(L"はひふへほ");
    m_semiVoicedForms = registerList(L"ぱぴぷぺぽ");
    m_voicedBases = registerList(L"うかきくけこさしすせそたちつてとはひふへほ");
    m_voicedForms = registerList(L"ヴがぎぐげござじずぜぞだぢづでどばびぶべぼ");
    m_palatalBases = registerList(L"きしちにひみりぎじぢびぴてでうつすぐとどふくヴい");
    m_smallKana = registerList(smallKanaList);

    static const int masks[] = {
        0x1F, 0x1F, 0x1F, 0x1F, 0x1F, 0x1F, 0x1F, 0x1F, 0x1F, 0x1F, 0x1F, 0x1F,  // き..ぴ
        0x1F, 0x1F,                                                              // て で
        0x78, 0x78,                                                              // う つ
        0xF8, 0xF8, 0xF8, 0xF8,                                                  // す ぐ と ど
        0x7F, 0x7F, 0x7F,                                                        // ふ く ヴ
        0x10,                                                                    // い
    };
    m_palatalMasks.assign(std::begin(masks), std::end(masks));

    for (const char* c = "ksthmyrwgzdbpv"; *c; ++c) m_consonantKeys.push_back(keyCodeOf(static_cast<unsigned char>(*c), 0));
    m_consonantKeysAgain = m_consonantKeys;
}

std::vector<keySequence> kanaTable::registerList(const wchar_t* characters)
{
    std::vector<keySequence> list;
    for (const wchar_t* c = characters; *c; ++c) list.push_back(registerChar(*c, false));
    return list;
}

keySequence kanaTable::allocate(wchar_t character, std::map<wchar_t, keySequence>& numbering)
{
    keySequence group;
    if (m_nextCode < 176) {
        ++m_nextCode;
        group.push_back(m_nextCode);
    } else {
        // Two codes from here on: the first stays while the second counts 1 to 255.
        if (m_nextLow >= 255) {
            ++m_nextCode;
            m_nextLow = 0;
        }
        if (m_nextCode == 176) ++m_nextCode;
        ++m_nextLow;
        group.push_back(m_nextCode);
        group.push_back(m_nextLow);
    }
    numbering[character] = group;
    m_groupChars[group] = character;
    return group;
}

keySequence kanaTable::registerChar(wchar_t character, bool themselves)
{
    scopedLock guard(m_lock);
    std::map<wchar_t, keySequence>& numbering = themselves ? m_themselvesCodes : m_ordinaryCodes;
    auto found = numbering.find(character);
    keySequence group = found != numbering.end() ? found->second : allocate(character, numbering);
    group.push_front(textUnitCode());
    return group;
}

std::vector<keySequence> kanaTable::registerText(const std::wstring& text)
{
    std::vector<keySequence> list;
    for (wchar_t c : text) list.push_back(registerChar(c, false));
    return list;
}

wchar_t kanaTable::characterOf(const keySequence& group) const
{
    scopedLock guard(m_lock);
    auto found = m_groupChars.find(group);
    return found != m_groupChars.end() ? found->second : 0;
}

int kanaTable::positionOf(const std::vector<keySequence>& list, const keySequence& sequence)
{
    keySequence unit = firstUnit(sequence);
    if (unit.empty()) return -1;
    for (std::size_t i = 0; i < list.size(); ++i) {
        if (list[i] == unit) return static_cast<int>(i);
    }
    return -1;
}

keySequence kanaTable::semiVoicedOf(const keySequence& sequence) const
{
    int i = positionOf(m_semiVoicedBases, sequence);
    return i < 0 ? keySequence() : m_semiVoicedForms[i];
}

keySequence kanaTable::voicedOf(const keySequence& sequence) const
{
    int i = positionOf(m_voicedBases, sequence);
    return i < 0 ? keySequence() : m_voicedForms[i];
}

bool kanaTable::isPalatalBase(const keySequence& sequence, bool allowU) const
{
    int i = positionOf(m_palatalBases, sequence);
    if (i < 0) return false;
    // う is position 14 of the bases.
    if (!allowU && m_palatalBases[i] == m_palatalBases[14]) return false;
    return true;
}

bool kanaTable::isSmallKana(const keySequence& sequence) const
{
    return positionOf(m_smallKana, sequence) >= 0;
}

keySequence kanaTable::palatalRomaji(const keySequence& base, const keySequence& small) const
{
    keySequence keys;
    int i = positionOf(m_smallKana, small);
    if (i < 0) return keys;
    int j = positionOf(m_palatalBases, base);
    // A base that does not combine with small kana has no romaji of this kind.
    if (j < 0) return keys;
    if ((m_palatalMasks[j] & (1 << i)) == 0) return keys;

    auto key = [](char letter) { return keyCodeOf(static_cast<unsigned char>(letter), 0); };
    const bool yVowel = i <= 2;  // ゃ ゅ ょ
    if (j <= 11) {
        keys = {0, key('y')};
    } else if (j <= 13) {
        keys = {0, key('h')};
    } else if (j == 14) {
        keys = {key('w'), key('h')};
    } else if (j == 15) {
        keys = {0, key('s')};
    } else if (j <= 19) {
        keys = {0, key('w')};
    } else if (j == 20) {
        keys = {key('f')};
        if (yVowel) keys.push_back(key('y'));
    } else if (j == 21) {
        keys = {key('q')};
        if (yVowel) keys.push_back(key('y'));
    } else if (j == 22) {
        keys = {0};
        if (yVowel) keys.push_back(key('y'));
    } else {
        // い with ぇ: "ye" is the whole syllable; a vowel after it would type an extra え.
        return {key('y'), key('e')};
    }
    keys.push_back(key(smallKanaVowels[i]));
    return keys;
}

bool kanaTable::startsWithConsonantKey(const keySequence& sequence) const
{
    if (sequence.empty()) return false;
    for (keyCode k : m_consonantKeys) {
        if (k == sequence.front()) return true;
    }
    return false;
}

bool kanaTable::startsWithNonConsonantKey(const keySequence& sequence) const
{
    if (sequence.empty()) return true;
    for (keyCode k : m_consonantKeysAgain) {
        if (k == sequence.front()) return false;
    }
    return true;
}

std::wstring kanaTable::sequenceText(const keySequence& sequence) const
{
    std::wstring text;
    for (auto pos = sequence.begin(); pos != sequence.end();) {
        auto next = nextUnit(pos, sequence.end());
        auto second = pos;
        ++second;
        if (*pos == textUnitCode() && second != next) {
            wchar_t c = characterOf(keySequence(second, next));
            if (c != 0) text += c;
        } else {
            // Any other unit shows the name of its first key. A character unit starts with 227,
            // which names no key, so it shows nothing: its character picks a command of the
            // agent (the game-mode switches), it is no text.
            text += keyName(*pos);
        }
        pos = next;
    }
    return text;
}

kanaTable& getKanaTable()
{
    // A function-local static: built on first use, destroyed at exit, and its construction is
    // thread-safe should the agent thread get there first.
    static kanaTable table;
    return table;
}
