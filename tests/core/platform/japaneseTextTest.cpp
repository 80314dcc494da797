#include "core/platform/japaneseText.h"

#include <gtest/gtest.h>

TEST(toWideString, convertsCp932AndStopsAtNul)
{
    EXPECT_EQ(toWideString("\x82\xA0"), L"あ");
    EXPECT_EQ(toWideString(std::string("a\0b", 3)), L"a");
    EXPECT_EQ(toWideString(""), L"");
}

TEST(toNarrowString, convertsToCp932WhateverTheAnsiCodePage)
{
    EXPECT_EQ(toNarrowString(L"ソース"), "\x83\x5C\x81\x5B\x83\x58");
    EXPECT_EQ(toNarrowString(std::wstring(L"x\0y", 3)), "x");
    EXPECT_EQ(toNarrowString(L""), "");
    EXPECT_EQ(toWideString(toNarrowString(L"設定ファイル")), L"設定ファイル");
}

TEST(katakanaOf, movesHiraganaOnly)
{
    EXPECT_EQ(katakanaOf(L'あ'), L'ア');
    EXPECT_EQ(katakanaOf(0x3096), 0x30F6);  // small ke
    EXPECT_EQ(katakanaOf(0x3099), 0x30F9);  // combining voiced mark
    EXPECT_EQ(katakanaOf(0x309B), 0x309B);  // the spacing voiced mark stays
    EXPECT_EQ(katakanaOf(L'ア'), L'ア');
    std::wstring text = L"がっこう、ア1";
    toKatakana(text);
    EXPECT_EQ(text, L"ガッコウ、ア1");
}

TEST(isJapaneseLetter, kanaAndFourMarks)
{
    EXPECT_TRUE(isJapaneseLetter(L'ー'));
    EXPECT_TRUE(isJapaneseLetter(L'・'));
    EXPECT_TRUE(isJapaneseLetter(0x30FF));
    EXPECT_TRUE(isJapaneseLetter(L'、'));
    EXPECT_TRUE(isJapaneseLetter(L'」'));
    EXPECT_FALSE(isJapaneseLetter(L'漢'));
    EXPECT_FALSE(isJapaneseLetter(L'〜'));
    EXPECT_FALSE(isJapaneseLetter(L'ｱ'));
}
