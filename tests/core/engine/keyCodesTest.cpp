#include "core/engine/keyCodes.h"

#include <gtest/gtest.h>

namespace {

keySequence seq(std::initializer_list<keyCode> codes) { return keySequence(codes); }

// Sizes of the units of a sequence, front to back.
std::vector<int> unitSizes(const keySequence& s)
{
    std::vector<int> sizes;
    for (auto pos = s.begin(); pos != s.end();) {
        auto next = nextUnit(pos, s.end());
        sizes.push_back(static_cast<int>(std::distance(pos, next)));
        pos = next;
    }
    return sizes;
}

}  // namespace

TEST(keyLetters, bothAlphabetsAndTheirSpecialLetters)
{
    EXPECT_EQ(0x39u, keyCodeFromLetter('$', 0));
    EXPECT_EQ(0x39u, keyCodeFromLetter(' ', 0));
    EXPECT_EQ(0u, keyCodeFromLetter('$', 1));
    EXPECT_EQ(0xDEu, keyCodeFromLetter('L', 0));
    EXPECT_EQ(0xDEu, keyCodeFromLetter('L', 1));
    EXPECT_EQ(0x7Cu, keyCodeFromLetter('K', 0));
    EXPECT_EQ(0xFFu, keyCodeFromLetter('K', 1));
    for (unsigned letter : {0u, unsigned('!'), unsigned('&'), unsigned('`')}) {
        EXPECT_EQ(0u, keyCodeFromLetter(letter, 0)) << letter;
        EXPECT_EQ(0u, keyCodeFromLetter(letter, 1)) << letter;
    }
    EXPECT_EQ(0u, keyCodeFromLetter('a', 2));
}

TEST(keyLetters, onlyAsciiLettersNameKeysWhateverTheirLowByte)
{
    // Full-width a (U+FF41), Latin small s with caron (U+0161, low byte 'a'), U+0141 (low byte 'A').
    for (unsigned letter : {0xFF41u, 0x161u, 0x141u, 0x1E1u, 0xE1u, 0x80u, 0x10061u}) {
        EXPECT_EQ(0u, keyCodeFromLetter(letter, 0)) << std::hex << letter;
        EXPECT_EQ(0u, keyCodeFromLetter(letter, 1)) << std::hex << letter;
    }
    // A negative char (a CP932 lead byte) never becomes a key either.
    EXPECT_EQ(0, keyCodeOf(static_cast<unsigned>(static_cast<char>(0x82)), 0));
}

TEST(keyTests, realAcpiLetterAndPunctuationKeys)
{
    EXPECT_TRUE(isRealKey(0x7B));
    EXPECT_FALSE(isRealKey(0x7C));
    EXPECT_TRUE(isRealKey(0x100));
    EXPECT_TRUE(isRealKey(0xDE));
    EXPECT_TRUE(isRealKey(227));
    for (unsigned code : {0u, 0x60u, 0x7Fu, 224u, 250u, 255u})
        EXPECT_FALSE(isRealKey(code)) << code;

    EXPECT_TRUE(isAcpiKeyCode(222));
    EXPECT_TRUE(isAcpiKeyCode(227));
    EXPECT_FALSE(isAcpiKeyCode(224));

    EXPECT_TRUE(isLetterKey(0x1E));
    EXPECT_FALSE(isLetterKey(0x33));
    EXPECT_TRUE(isLetterOrPunctuationKey(0x33));
    EXPECT_FALSE(isLetterOrPunctuationKey(0x27));  // ";"
    EXPECT_FALSE(isLetterOrPunctuationKey(0x0B));  // "0"
}

TEST(keyNames, plainNamedAndUnnamedKeys)
{
    EXPECT_EQ(L"左親指", keyName(0xDE));
    EXPECT_EQ(L"変換", keyName(0x79));
    EXPECT_EQ(L"無変換", keyName(0x7B));
    EXPECT_EQ(L"a", keyName(0x1E));
    EXPECT_EQ(L" ", keyName(0x39));
    EXPECT_EQ(L"", keyName(0x3B));   // F1 only lives in the second alphabet
    EXPECT_EQ(L"", keyName(0x61));   // "F" and "~" have no name
    EXPECT_EQ(L"", keyName(0x7A));
    EXPECT_EQ(L"", keyName(0x1234));
    EXPECT_EQ(L"左親指a変換", chordName(seq({0xDE, 0x1E, 0x79})));
}

TEST(keySequences, fromLettersAndStrokes)
{
    keySequence s = seq({1, 2, 3});
    keySequenceFromLetters(s, "ab$?");
    EXPECT_EQ(seq({0x1E, 0x30, 0x39, 0}), s);
    appendLetter(s, 'L');
    EXPECT_EQ(0xDE, s.back());

    EXPECT_EQ(seq({0x20, 0x1E}), keySequenceOfStroke(stroke(0x20, 0x1E)));
    EXPECT_EQ(seq({0x20}), keySequenceOfStroke(stroke(0x20, 0)));
    EXPECT_TRUE(keySequenceOfStroke(stroke(0, 0x1E)).empty());
}

TEST(keyUnits, textAndCharacterUnitsAreWalkedWhole)
{
    EXPECT_EQ((std::vector<int>{2, 1}), unitSizes(seq({227, 0x25, 0x1E})));
    EXPECT_EQ((std::vector<int>{2, 1}), unitSizes(seq({251, 0xB0, 0x1E})));
    EXPECT_EQ((std::vector<int>{3, 1}), unitSizes(seq({251, 0xB1, 0x1E, 0x1E})));
    EXPECT_EQ((std::vector<int>{1}), unitSizes(seq({251})));
    EXPECT_EQ((std::vector<int>{2}), unitSizes(seq({251, 0xB1})));
    EXPECT_EQ((std::vector<int>{1}), unitSizes(seq({227})));
    EXPECT_EQ((std::vector<int>{1, 1, 2}), unitSizes(seq({0x1E, 254, 251, 5})));

    // On strokes the first code of each stroke decides.
    strokeSequence strokes{{251, 0}, {0xB1, 0}, {1, 0}, {0x1E, 0x20}};
    auto pos = nextUnit(strokes.begin(), strokes.end());
    EXPECT_EQ(3, pos - strokes.begin());
    EXPECT_EQ(strokes.end(), nextUnit(pos, strokes.end()));
}

TEST(keyOrders, sequenceOrdersAndPrefixEquivalence)
{
    keySequenceLess kless;
    EXPECT_TRUE(kless(seq({1}), seq({1, 2})));
    EXPECT_FALSE(kless(seq({1, 2}), seq({1})));
    EXPECT_TRUE(kless(seq({1, 0xFFFF}), seq({2})));

    const stroke a(0x1E, 0), b(0x30, 0), c(0x2E, 0);
    strokeSequenceLess sless;
    EXPECT_TRUE(sless({a}, {a, b}));
    EXPECT_TRUE(sless({{0x20, 0x1E}}, {{0x20, 0x1F}}));
    EXPECT_TRUE(sless({a, c}, {a, b}));
    EXPECT_FALSE(sless({a, b}, {a, c}));

    strokePrefixLess pless;
    EXPECT_FALSE(pless({a}, {a, b}));
    EXPECT_FALSE(pless({a, b}, {a}));
    EXPECT_TRUE(pless({a, c}, {a, b}));   // c (0x2E) is below b (0x30)
    EXPECT_FALSE(pless({a, b}, {a, c}));
    EXPECT_TRUE(pless({a, c, a}, {a, b}));
    EXPECT_FALSE(pless({}, {a}));
    EXPECT_FALSE(pless({a}, {}));
    EXPECT_TRUE(startsWithStrokes({a, b}, {a}));
    EXPECT_TRUE(startsWithStrokes({a}, {a}));
    EXPECT_FALSE(startsWithStrokes({a}, {a, b}));
}
