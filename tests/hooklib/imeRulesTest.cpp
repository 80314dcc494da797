// The IME rules applied in the target thread: completing compositions, reading their attributes,
// forcing alphanumeric input and the CapsLock-to-katakana sync.
#include "hooklib/imeActions.h"

#include <imm.h>

#include <gtest/gtest.h>

namespace {

TEST(compositionHasLettersTest, latinLettersAlwaysCountKanaOnlyWhenAsked)
{
    EXPECT_TRUE(compositionHasLetters(L"k\u3042", true));
    EXPECT_TRUE(compositionHasLetters(L"\uFF21", true));    // full-width A
    EXPECT_TRUE(compositionHasLetters(L"\uFF5A", true));    // full-width z
    EXPECT_FALSE(compositionHasLetters(L"\u304B", true));   // か
    EXPECT_TRUE(compositionHasLetters(L"\u304B", false));
    EXPECT_TRUE(compositionHasLetters(L"\u30AB", false));   // カ
    EXPECT_FALSE(compositionHasLetters(L"\u3001", false));  // 、
    EXPECT_FALSE(compositionHasLetters(L"\u30FC", false));  // ー is a mark, not a kana letter
    EXPECT_FALSE(compositionHasLetters(L"123@", false));
    EXPECT_FALSE(compositionHasLetters(L"", false));
}

TEST(completionRuleTest, typeTwoCommitsKanaTypeOneOnlyMarks)
{
    const LPARAM compStr = GCS_COMPSTR | GCS_COMPATTR;
    EXPECT_TRUE(completesComposition(2, compStr, false, L"\u304B"));
    EXPECT_FALSE(completesComposition(2, compStr, false, L"k\u3042"));
    EXPECT_FALSE(completesComposition(1, compStr, false, L"\u304B"));
    EXPECT_TRUE(completesComposition(1, compStr, false, L"\u3001"));
    EXPECT_TRUE(completesComposition(1, GCS_COMPREADSTR, false, L"\u3001"));
}

TEST(completionRuleTest, otherTypesPassThroughAndOtherChangesNeverCommit)
{
    const LPARAM compStr = GCS_COMPSTR;
    EXPECT_FALSE(completesComposition(0, compStr, false, L"\u3001"));
    EXPECT_FALSE(completesComposition(3, compStr, false, L"\u3001"));
    EXPECT_FALSE(completesComposition(1, compStr, true, L"\u3001"));
    EXPECT_FALSE(completesComposition(1, GCS_CURSORPOS, false, L"\u3001"));
    EXPECT_FALSE(completionRuleApplies(2, GCS_COMPATTR, false));
}

TEST(compositionAttributesTest, firstClauseDecidesConvertingAnyConvertedClauseMarksIt)
{
    compositionAttributes plain = readAttributes({ATTR_INPUT, ATTR_INPUT});
    EXPECT_FALSE(plain.converting);
    EXPECT_FALSE(plain.converted);
    compositionAttributes notConverted = readAttributes({ATTR_TARGET_NOTCONVERTED, ATTR_INPUT});
    EXPECT_TRUE(notConverted.converting);
    EXPECT_FALSE(notConverted.converted);
    compositionAttributes converted = readAttributes({ATTR_INPUT, ATTR_TARGET_CONVERTED});
    EXPECT_FALSE(converted.converting);
    EXPECT_TRUE(converted.converted);
    compositionAttributes none = readAttributes({});
    EXPECT_FALSE(none.converting);
    EXPECT_FALSE(none.converted);
}

TEST(alphanumericModeTest, onClearsNativeAndOffRestoresIt)
{
    alphanumericMemory memory;
    const DWORD hiragana = IME_CMODE_NATIVE | IME_CMODE_FULLSHAPE | IME_CMODE_ROMAN;
    DWORD forced = alphanumericModeFor(memory, hiragana, true);
    EXPECT_EQ(static_cast<DWORD>(IME_CMODE_FULLSHAPE | IME_CMODE_ROMAN), forced);
    EXPECT_EQ(hiragana, alphanumericModeFor(memory, forced, false));
}

TEST(alphanumericModeTest, secondOnKeepsTheModeSavedByTheFirst)
{
    alphanumericMemory memory;
    const DWORD hiragana = IME_CMODE_NATIVE | IME_CMODE_FULLSHAPE;
    DWORD forced = alphanumericModeFor(memory, hiragana, true);
    forced = alphanumericModeFor(memory, forced, true);  // auto-repeat of the key
    EXPECT_EQ(hiragana, alphanumericModeFor(memory, forced, false));
}

TEST(alphanumericModeTest, offWithoutOnLeavesTheUsersModeAlone)
{
    alphanumericMemory memory;
    DWORD m = alphanumericModeFor(memory, IME_CMODE_NATIVE, true);
    alphanumericModeFor(memory, m, false);
    // The user switched to alphanumeric by hand; a stray release must not switch back.
    EXPECT_EQ(static_cast<DWORD>(IME_CMODE_FULLSHAPE), alphanumericModeFor(memory, IME_CMODE_FULLSHAPE, false));
}

TEST(capsSyncTest, katakanaFollowsCapsLockOnlyInNativeMode)
{
    EXPECT_EQ(static_cast<DWORD>(IME_CMODE_NATIVE | IME_CMODE_KATAKANA), capsSyncedMode(IME_CMODE_NATIVE, true));
    EXPECT_EQ(static_cast<DWORD>(IME_CMODE_NATIVE), capsSyncedMode(IME_CMODE_NATIVE | IME_CMODE_KATAKANA, false));
    EXPECT_EQ(static_cast<DWORD>(IME_CMODE_NATIVE), capsSyncedMode(IME_CMODE_NATIVE, false));
    EXPECT_EQ(static_cast<DWORD>(IME_CMODE_FULLSHAPE), capsSyncedMode(IME_CMODE_FULLSHAPE, true));
}

}  // namespace
