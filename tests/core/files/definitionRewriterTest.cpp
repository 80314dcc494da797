#include "core/files/definitionRewriter.h"

#include "core/files/textFile.h"
#include "testTempFolder.h"

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

TEST(DefinitionRewriter, UnreadableSourceIsAFailureAndWritesNothing)
{
    testTempFolder folder;
    textFileReader missing(folder.file(L"missing.tvn_kana"));
    std::wostringstream out;
    EXPECT_FALSE(rewriteDefinition(missing, out, true));
    EXPECT_EQ(out.str(), L"");
}

TEST(DefinitionRewriter, FailedTargetIsReported)
{
    std::wistringstream in(L"a\tb\n");
    std::wostringstream out;
    out.setstate(std::ios::badbit);
    EXPECT_FALSE(rewriteDefinition(in, out, false));
}

}  // namespace

namespace {

TEST(DefinitionRewriterFile, CopyOfAUtf16SwapFileIsWrittenAsCp932Crlf)
{
    testTempFolder folder;
    std::string utf16 = "\xff\xfe";
    for (wchar_t c : std::wstring(L"'入れ替え\r\nDraftData=0\r\nab\r\nba\r\nDraftData=1\r\n")) {
        utf16 += static_cast<char>(c & 0xFF);
        utf16 += static_cast<char>(c >> 8);
    }
    testTempFolder::writeBytes(folder.file(L"source.tvn_o_numlock"), utf16);
    {
        textFileReader source(folder.file(L"source.tvn_o_numlock"));
        textFileWriter target(folder.file(L"copy.tvn_o_numlock"));
        ASSERT_TRUE(rewriteDefinition(source, target, false));
        ASSERT_TRUE(target.save().good());
    }
    // 入れ替え in CP932: 93 FC 82 EA 91 D6 82 A6.
    EXPECT_EQ(testTempFolder::readBytes(folder.file(L"copy.tvn_o_numlock")),
              "'\x93\xfc\x82\xea\x91\xd6\x82\xa6\r\nDraftData=1\r\nab\r\nba\r\n");
}

TEST(DefinitionRewriterFile, KanaCopyGetsTheVisibleLineByteForByte)
{
    testTempFolder folder;
    testTempFolder::writeBytes(folder.file(L"source.tvn_kana"), "\xef\xbb\xbfStrokeMode=0\r\na\t\xe3\x81\x82\r\n");
    {
        textFileReader source(folder.file(L"source.tvn_kana"));
        textFileWriter target(folder.file(L"copy.tvn_kana"));
        ASSERT_TRUE(rewriteDefinition(source, target, true));
        ASSERT_TRUE(target.save().good());
    }
    // visible=1←この行は常に先頭に置き、かつ削除しないでください。 in CP932, then the rest.
    const std::string visibleLine =
        "visible=1\x81\xa9\x82\xb1\x82\xcc\x8d\x73\x82\xcd\x8f\xed\x82\xc9\x90\xe6\x93\xaa\x82\xc9\x92\x75\x82\xab"
        "\x81\x41\x82\xa9\x82\xc2\x8d\xed\x8f\x9c\x82\xb5\x82\xc8\x82\xa2\x82\xc5\x82\xad\x82\xbe\x82\xb3\x82\xa2"
        "\x81\x42\r\n";
    EXPECT_EQ(testTempFolder::readBytes(folder.file(L"copy.tvn_kana")),
              visibleLine + "StrokeMode=0\r\nDraftData=1\r\na\t\x82\xa0\r\n");
}

}  // namespace
