#include "core/link/imeClassifier.h"

#include "core/settings/settingsDefaults.h"

#include <gtest/gtest.h>

namespace {

const std::wstring noList = L" : 特段の指定がない IME です。自動判定します。";
const std::wstring list0 = L" : 『風』に対する動作と同じ処理をする IME として指定されています。";
const std::wstring list1 = L" : 使用中はTavolinの処理を停止する IME として指定されています。";
const std::wstring list2 = L" : SCS_SETSTR を使わない IME として指定されています。";
const std::wstring list3 = L" : かな文字しか直接出力できない IME として指定されています。";

// The four flags as a string such as "0100", for compact comparisons.
std::string flags(const imeClassifier& c)
{
    std::string f;
    f += c.candidateThrough() ? '1' : '0';
    f += c.alwaysThrough() ? '1' : '0';
    f += c.cantUseScsSetstr() ? '1' : '0';
    f += c.cantAcceptSymbolDirect() ? '1' : '0';
    return f;
}

// A classifier set up with the default patterns, as the settings apply them.
void assignDefaults(imeClassifier& c)
{
    settingsMap defaults;
    fillDefaultSettings(defaults);
    const char* keys[] = {"ImeThroughOnCandidate", "ImeThroughAlways", "ImeCantUseScsSetstr", "ImeCantAcceptSymbolDirect"};
    for (int i = 0; i < 4; ++i) ASSERT_EQ(c.assignImeRegex(i, defaults[keys[i]]), L"") << keys[i];
}

}  // namespace

TEST(imeClassifier, defaultPatternsClassifyWholeNames)
{
    imeClassifier c;
    assignDefaults(c);
    const struct {
        const wchar_t* name;
        const std::wstring* sentence;
        const char* flags;
    } cases[] = {
        {L"風 2.10", &list0, "1000"},
        {L"風 2.", &noList, "0000"},            // at least one digit after the point
        {L"風 2.10 beta", &noList, "0000"},     // the whole name must match
        {L"0x04110411(日本語)", &list1, "0100"},  // a layout without an IME description
        {L"0x0411041(日本語)", &noList, "0000"},
        {L"ATOK 19", &list2, "0010"},
        {L"ATOK2012", &list2, "0010"},
        {L"ATOK 2012 体験版", &list2, "0010"},
        {L"ATOK 2012 製品版", &noList, "0000"},
        {L"atok 19", &noList, "0000"},          // case-sensitive
        {L"ATOK 123", &noList, "0000"},
        {L" ", &list3, "0001"},                 // list 3's default matches only a lone space
        {L"Microsoft IME", &noList, "0000"},
        {L"", &noList, "0000"},
    };
    for (const auto& k : cases) {
        EXPECT_EQ(c.classifyIme(k.name), *k.sentence) << testing::PrintToString(std::wstring(k.name));
        EXPECT_EQ(flags(c), k.flags) << testing::PrintToString(std::wstring(k.name));
    }
}

TEST(imeClassifier, listsAreTriedInTheOrder0_1_3_2AndTheFirstMatchWins)
{
    imeClassifier c;
    for (int i = 0; i < 4; ++i) ASSERT_EQ(c.assignImeRegex(i, L"My IME.*"), L"");
    EXPECT_EQ(c.classifyIme(L"My IME 3"), list0);
    EXPECT_EQ(flags(c), "1000");

    c.assignImeRegex(0, L"");
    EXPECT_EQ(c.classifyIme(L"My IME 3"), list1);
    EXPECT_EQ(flags(c), "0100");

    c.assignImeRegex(1, L"");
    EXPECT_EQ(c.classifyIme(L"My IME 3"), list3);  // list 3 before list 2
    EXPECT_EQ(flags(c), "0001");

    c.assignImeRegex(3, L"");
    EXPECT_EQ(c.classifyIme(L"My IME 3"), list2);
    EXPECT_EQ(flags(c), "0010");

    // A pattern for the first word only does not cover the name; with ".*" it does.
    c.assignImeRegex(2, L"My");
    EXPECT_EQ(c.classifyIme(L"My IME 3"), noList);
    EXPECT_EQ(flags(c), "0000");  // cleared by each classification
}

TEST(imeClassifier, badPatternReportsItsErrorAndMatchesNothing)
{
    imeClassifier c;
    ASSERT_EQ(c.assignImeRegex(1, L"Some IME.*"), L"");
    EXPECT_EQ(c.classifyIme(L"Some IME 2"), list1);

    const std::wstring error = c.assignImeRegex(1, L"Some IME (");
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(flags(c), "0100");  // flags stay until the next classification
    EXPECT_EQ(c.classifyIme(L"Some IME 2"), noList);
    EXPECT_EQ(c.classifyIme(L"Some IME ("), noList);
    // The pattern is quoted as typed, Japanese included, marked where the error lies.
    const std::wstring japanese = c.assignImeRegex(0, L"風 (2");
    EXPECT_NE(japanese.find(L"'風 (2>>>HERE>>>'"), std::wstring::npos) << japanese;
    EXPECT_FALSE(c.assignImeRegex(0, L"[unclosed").empty());
    EXPECT_FALSE(c.assignImeRegex(2, L"a{2,1}").empty());
    EXPECT_EQ(c.classifyIme(L"a"), noList);  // the other lists still classify normally
    EXPECT_EQ(c.classifyIme(L" "), list3);

    // Setting the list again brings it back.
    EXPECT_EQ(c.assignImeRegex(1, L"Some IME \\d"), L"");
    EXPECT_EQ(c.classifyIme(L"Some IME 2"), list1);

    EXPECT_FALSE(c.assignImeRegex(4, L"x").empty());
    EXPECT_FALSE(c.assignImeRegex(-1, L"x").empty());
}

TEST(imeClassifier, catastrophicPatternDoesNotBreakClassification)
{
    imeClassifier c;
    ASSERT_EQ(c.assignImeRegex(0, L"(a*)*b"), L"");
    ASSERT_EQ(c.assignImeRegex(1, L"a+"), L"");
    // The first list may give up on this name; it must then simply not match.
    EXPECT_EQ(c.classifyIme(std::wstring(40, L'a')), list1);
}
