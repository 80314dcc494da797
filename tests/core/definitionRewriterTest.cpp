#include "core/definitionRewriter.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>

namespace {

std::wstring rewrite(const std::wstring& text, bool withVisibleLine, bool* result = nullptr)
{
    std::wistringstream in(text);
    std::wostringstream out;
    bool ok = rewriteDefinition(in, out, withVisibleLine);
    if (result) *result = ok;
    return out.str();
}

const std::wstring visible = L"visible=1←この行は常に先頭に置き、かつ削除しないでください。\n";

TEST(DefinitionRewriter, KanaFileWithVisibleLineGetsDraftLineSecond)
{
    bool ok = false;
    EXPECT_EQ(rewrite(L"visible=1\r\nStrokeMode=0\r\na\tあ\r\n", true, &ok),
              L"visible=1\r\nDraftData=1\nStrokeMode=0\r\na\tあ\r\n");
    EXPECT_TRUE(ok);
}

TEST(DefinitionRewriter, KanaFileWithoutVisibleLineGetsTheFullLineInFront)
{
    EXPECT_EQ(rewrite(L"'my layout\na\tあ\n", true), visible + L"'my layout\nDraftData=1\na\tあ\n");
    // An empty kana source still becomes a file the layout reader takes as plain text.
    EXPECT_EQ(rewrite(L"", true), visible + L"DraftData=1\n");
}

TEST(DefinitionRewriter, FirstDraftLineBecomesOneAndLaterOnesAreDropped)
{
    const std::wstring source = L"visible=1\nl1\nl2\nl3\nDraftData=0\nl5\nl6\nl7\nDraftData=1\nl9\nDraftData=\n";
    EXPECT_EQ(rewrite(source, true), L"visible=1\nl1\nl2\nl3\nDraftData=1\nl5\nl6\nl7\nl9\n");
    // Without the visible line the same rule holds and nothing is put in front.
    EXPECT_EQ(rewrite(L"a\tka\nDraftData=0\r\nDraftData=1\r\n", false), L"a\tka\nDraftData=1\n");
}

TEST(DefinitionRewriter, DraftLineFirstInKanaFileIsReplacedInPlace)
{
    // The draft line stands where the visible line belongs: the visible line is put in front
    // and the draft line is kept once, as "1".
    EXPECT_EQ(rewrite(L"DraftData=0\nvisible=1\na\tあ\n", true), visible + L"DraftData=1\nvisible=1\na\tあ\n");
}

TEST(DefinitionRewriter, OtherFilesGetDraftLineAtTheVeryStart)
{
    EXPECT_EQ(rewrite(L"かき\tka ki\n", false), L"DraftData=1\nかき\tka ki\n");
    // A last line without a line end gets one; an empty source gets only the draft line.
    EXPECT_EQ(rewrite(L"ab\r\nba", false), L"DraftData=1\nab\r\nba\n");
    EXPECT_EQ(rewrite(L"", false), L"DraftData=1\n");
}

TEST(DefinitionRewriter, RewritingACopyAgainChangesNothing)
{
    const std::wstring once = rewrite(L"'comment\nDraftData=0\na\tあ\n", true);
    EXPECT_EQ(rewrite(once, true), once);
    const std::wstring swapOnce = rewrite(L"ab\nba\n", false);
    EXPECT_EQ(rewrite(swapOnce, false), swapOnce);
}

TEST(DefinitionRewriter, FailedTargetIsReported)
{
    std::wistringstream in(L"a\tb\n");
    std::wostringstream out;
    out.setstate(std::ios::badbit);
    EXPECT_FALSE(rewriteDefinition(in, out, false));
}

}  // namespace
