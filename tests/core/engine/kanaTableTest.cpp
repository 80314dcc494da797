#include "core/engine/kanaTable.h"

#include <gtest/gtest.h>

#include <set>
#include <thread>

namespace {

keySequence seq(std::initializer_list<keyCode> codes) { return keySequence(codes); }

keyCode key(char letter) { return keyCodeOf(static_cast<unsigned char>(letter), 0); }

// Characters no kana list holds, for fresh registrations: CJK ideographs from U+4E00 on.
wchar_t freshChar(int n) { return static_cast<wchar_t>(0x4E00 + n); }

}  // namespace

TEST(kanaRegistry, codesRunFromOneCodeToTwoCodes)
{
    kanaTable table;
    // The kana of the fixed lists were numbered first; find where the counter stands.
    keySequence first = table.registerChar(freshChar(0), false);
    ASSERT_EQ(2u, first.size());
    ASSERT_EQ(textUnitCode(), first.front());
    const int used = first.back();
    EXPECT_GT(used, 50);   // the kana lists take the lowest codes
    EXPECT_LT(used, 176);

    int n = 1;
    for (int code = used + 1; code <= 176; ++code, ++n)
        EXPECT_EQ(seq({251, static_cast<keyCode>(code)}), table.registerChar(freshChar(n), false));
    EXPECT_EQ(seq({251, 177, 1}), table.registerChar(freshChar(n++), false));
    for (int low = 2; low <= 255; ++low, ++n)
        ASSERT_EQ(seq({251, 177, static_cast<keyCode>(low)}), table.registerChar(freshChar(n), false));
    EXPECT_EQ(seq({251, 178, 1}), table.registerChar(freshChar(n), false));

    // Registering again gives the same group, and the group gives the character back.
    EXPECT_EQ(seq({251, 177, 1}), table.registerChar(freshChar(177 - used), false));
    EXPECT_EQ(freshChar(n), table.characterOf(seq({178, 1})));
    EXPECT_EQ(0, table.characterOf(seq({178, 2})));
}

TEST(kanaRegistry, theTwoNumberingsGiveDifferentGroupsForOneCharacter)
{
    kanaTable table;
    keySequence ordinary = table.registerChar(L'変', false);
    keySequence themselves = table.registerChar(L'変', true);
    EXPECT_NE(ordinary, themselves);
    EXPECT_EQ(themselves, table.registerChar(L'変', true));
    EXPECT_EQ(L"変変", table.sequenceText([&] {
                  keySequence both = ordinary;
                  both.insert(both.end(), themselves.begin(), themselves.end());
                  return both;
              }()));
    EXPECT_EQ(3u, table.registerText(L"あいう").size());
    EXPECT_EQ(table.registerChar(L'い', false), table.registerText(L"あいう")[1]);
}

TEST(kanaRegistry, sequenceTextMixesCharactersAndKeyNames)
{
    kanaTable table;
    keySequence s = table.registerChar(L'か', false);
    s.push_back(0x1E);
    s.push_back(0xDE);
    keySequence wide = table.registerChar(L'木', false);
    s.insert(s.end(), wide.begin(), wide.end());
    s.push_back(0x3B);   // F1: no name
    EXPECT_EQ(L"かa左親指木", table.sequenceText(s));
    // A text unit cut short, or an unknown group, adds nothing.
    EXPECT_EQ(L"", table.sequenceText(seq({251, 170})));
}

TEST(kanaRegistry, aCharacterUnitShowsNothing)
{
    // The function-key layout's game-mode commands are character units; the keyboard display
    // shows nothing for them, whatever their character, and the keys around them keep their names.
    kanaTable table;
    const struct {
        keySequence keys;
        const wchar_t* text;
    } cases[] = {
        {seq({227, '%'}), L""},
        {seq({227, '+'}), L""},
        {seq({227, '-'}), L""},
        {seq({0x1E, 227, 0x1E, 0xDE}), L"a左親指"},   // the unit's code is no key a
        {seq({227}), L""},                            // cut short
    };
    for (const auto& c : cases) EXPECT_EQ(c.text, table.sequenceText(c.keys));
}

TEST(kanaRegistry, registrationFromTwoThreadsKeepsEveryGroupUnique)
{
    kanaTable table;
    const int perThread = 2000;
    std::vector<keySequence> groupsA(perThread), groupsB(perThread);
    std::thread a([&] {
        for (int i = 0; i < perThread; ++i) groupsA[i] = table.registerChar(freshChar(i), false);
    });
    std::thread b([&] {
        for (int i = 0; i < perThread; ++i) groupsB[i] = table.registerChar(freshChar(perThread + i), false);
    });
    a.join();
    b.join();
    std::set<keySequence, keySequenceLess> all(groupsA.begin(), groupsA.end());
    all.insert(groupsB.begin(), groupsB.end());
    EXPECT_EQ(2u * perThread, all.size());
    for (int i = 0; i < perThread; ++i) {
        keySequence ga(std::next(groupsA[i].begin()), groupsA[i].end());
        keySequence gb(std::next(groupsB[i].begin()), groupsB[i].end());
        ASSERT_EQ(freshChar(i), table.characterOf(ga));
        ASSERT_EQ(freshChar(perThread + i), table.characterOf(gb));
    }
}

TEST(kanaForms, voicedAndSemiVoiced)
{
    kanaTable& t = getKanaTable();
    auto r = [&](wchar_t c) { return t.registerChar(c, false); };
    EXPECT_EQ(r(L'が'), t.voicedOf(r(L'か')));
    EXPECT_EQ(r(L'ヴ'), t.voicedOf(r(L'う')));
    EXPECT_EQ(r(L'ぼ'), t.voicedOf(r(L'ほ')));
    EXPECT_TRUE(t.voicedOf(r(L'ま')).empty());
    EXPECT_EQ(r(L'ぷ'), t.semiVoicedOf(r(L'ふ')));
    EXPECT_TRUE(t.semiVoicedOf(r(L'か')).empty());
    // Only the first unit counts.
    keySequence kaA = r(L'か');
    kaA.push_back(0x1E);
    EXPECT_EQ(r(L'が'), t.voicedOf(kaA));
    EXPECT_TRUE(t.voicedOf(seq({0x1E})).empty());
    EXPECT_TRUE(t.voicedOf(keySequence()).empty());
}

TEST(kanaForms, palatalBasesAndSmallKana)
{
    kanaTable& t = getKanaTable();
    auto r = [&](wchar_t c) { return t.registerChar(c, false); };
    EXPECT_TRUE(t.isPalatalBase(r(L'き'), false));
    EXPECT_FALSE(t.isPalatalBase(r(L'う'), false));
    EXPECT_TRUE(t.isPalatalBase(r(L'う'), true));
    EXPECT_FALSE(t.isPalatalBase(r(L'あ'), true));
    EXPECT_TRUE(t.isSmallKana(r(L'ゃ')));
    EXPECT_FALSE(t.isSmallKana(r(L'や')));
    // The themselves numbering is not the kana.
    EXPECT_FALSE(t.isSmallKana(t.registerChar(L'ゃ', true)));
}

TEST(kanaForms, palatalRomaji)
{
    kanaTable& t = getKanaTable();
    auto r = [&](wchar_t c) { return t.registerChar(c, false); };
    EXPECT_EQ(seq({0, key('y'), key('a')}), t.palatalRomaji(r(L'き'), r(L'ゃ')));
    EXPECT_EQ(seq({0, key('y'), key('o')}), t.palatalRomaji(r(L'ぴ'), r(L'ょ')));
    EXPECT_EQ(seq({0, key('h'), key('i')}), t.palatalRomaji(r(L'て'), r(L'ぃ')));
    EXPECT_EQ(seq({key('w'), key('h'), key('i')}), t.palatalRomaji(r(L'う'), r(L'ぃ')));
    EXPECT_EQ(seq({0, key('s'), key('a')}), t.palatalRomaji(r(L'つ'), r(L'ぁ')));
    EXPECT_EQ(seq({0, key('w'), key('u')}), t.palatalRomaji(r(L'ど'), r(L'ぅ')));
    EXPECT_EQ(seq({key('f'), key('a')}), t.palatalRomaji(r(L'ふ'), r(L'ぁ')));
    EXPECT_EQ(seq({key('f'), key('y'), key('u')}), t.palatalRomaji(r(L'ふ'), r(L'ゅ')));
    EXPECT_EQ(seq({key('q'), key('o')}), t.palatalRomaji(r(L'く'), r(L'ぉ')));
    EXPECT_EQ(seq({0, key('y'), key('a')}), t.palatalRomaji(r(L'ヴ'), r(L'ゃ')));
    EXPECT_EQ(seq({key('y'), key('e')}), t.palatalRomaji(r(L'い'), r(L'ぇ')));
    // Pairs the masks exclude.
    EXPECT_TRUE(t.palatalRomaji(r(L'き'), r(L'ぅ')).empty());
    EXPECT_TRUE(t.palatalRomaji(r(L'う'), r(L'ゃ')).empty());
    EXPECT_TRUE(t.palatalRomaji(r(L'い'), r(L'ゃ')).empty());
    // Not a small kana, and not a palatal base at all: empty, never another base's romaji.
    EXPECT_TRUE(t.palatalRomaji(r(L'き'), r(L'や')).empty());
    EXPECT_TRUE(t.palatalRomaji(r(L'あ'), r(L'ゃ')).empty());
    EXPECT_TRUE(t.palatalRomaji(r(L'ま'), r(L'ぇ')).empty());
    EXPECT_TRUE(t.palatalRomaji(keySequence(), r(L'ゃ')).empty());
}

TEST(kanaForms, consonantKeys)
{
    kanaTable& t = getKanaTable();
    EXPECT_TRUE(t.startsWithConsonantKey(seq({key('k'), key('a')})));
    EXPECT_FALSE(t.startsWithConsonantKey(seq({key('n')})));   // n stands alone in romaji
    EXPECT_FALSE(t.startsWithConsonantKey(keySequence()));
    EXPECT_TRUE(t.startsWithNonConsonantKey(seq({key('i')})));
}
