#include "core/files/swapTable.h"

#include "core/files/textFile.h"
#include "definitionCapture.h"
#include "testTempFolder.h"

#include <gtest/gtest.h>

#include <sstream>

#include <windows.h>

namespace {

struct readResult {
    swapTable table;
    bool ok;
    std::vector<std::wstring> messages;
    std::wstring text;
};

readResult read(const std::wstring& text, int kind = 1)
{
    capturingReader<swapReader> reader(kind);
    std::wistringstream in(text);
    swapTable table = readKeySwap(reader, in);
    return readResult{table, reader.ok(), reader.messages, reader.allText()};
}

TEST(SwapReader, SourceAndTargetLinesPairKeysInOrder)
{
    readResult r = read(L"ab\r\nba\r\n");
    EXPECT_TRUE(r.ok) << r.text;
    EXPECT_TRUE(r.messages.empty());
    EXPECT_EQ(swappedKey(r.table, key0('a')), key0('b'));
    EXPECT_EQ(swappedKey(r.table, key0('b')), key0('a'));
    EXPECT_EQ(swappedKey(r.table, key0('c')), key0('c'));
    EXPECT_EQ(r.table.tableKind, 1);
}

TEST(SwapReader, LongLinesReadInLinearTime)
{
    // 400k keys on a source line and its target line; every key was erased from the front of
    // the line, which took seconds on the thread that answers the keyboard hook.
    const std::wstring letters = L"abcdefghijklmnopqrstuvwxyz";
    std::wstring sources, targets;
    for (size_t i = 0; i < 400000; ++i) {
        sources += letters[i % letters.size()];
        targets += letters[(i + 1) % letters.size()];
    }
    std::wistringstream in(sources + L"\r\n" + targets + L"\r\n");
    const DWORD start = GetTickCount();
    swapReader reader(1);
    swapTable table = readKeySwap(reader, in);
    EXPECT_LT(GetTickCount() - start, 5000u);
    EXPECT_TRUE(reader.ok());
    EXPECT_EQ(letters.size(), table.swapPairs.size());
    EXPECT_EQ(swappedKey(table, key0('z')), key0('a'));
    EXPECT_EQ(static_cast<int>(400000 - letters.size()), reader.reportCount());
}

TEST(SwapReader, SpaceIsTheSpaceKeyAndSecondAlphabetKeysWork)
{
    // The space inside a line is a key, "$" is the space key too; "F" takes a second-alphabet letter.
    readResult r = read(L"a b\nxyz\nFUA\r\nAFU\r\n$q\nQ$\n");
    EXPECT_TRUE(r.ok) << r.text;
    EXPECT_EQ(swappedKey(r.table, key0('a')), key0('x'));
    EXPECT_EQ(swappedKey(r.table, key0(' ')), key0('y'));
    EXPECT_EQ(swappedKey(r.table, key0('b')), key0('z'));
    EXPECT_EQ(swappedKey(r.table, key1('U')), key0('A'));
    EXPECT_EQ(swappedKey(r.table, key0('A')), key1('U'));
    EXPECT_EQ(swappedKey(r.table, key0('q')), key0('$'));
    ASSERT_EQ(r.table.swapPairs.size(), 6u);
    for (size_t i = 1; i < r.table.swapPairs.size(); ++i) {
        EXPECT_LT(r.table.swapPairs[i - 1].first, r.table.swapPairs[i].first);
    }
}

TEST(SwapReader, CountMismatchFailsTheTargetLine)
{
    // An empty line after a source line is its target line, with no keys.
    readResult r = read(L"ab\n\nab\nba\n");
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.text, L"前行の変換元個数2と、変換先の個数0は一致する必要があります。\n(line 2 :  )\n");
    // The next pair of lines is read as a fresh pair.
    EXPECT_EQ(swappedKey(r.table, key0('a')), key0('b'));
}

TEST(SwapReader, EmptyLinesAndCommentsBetweenPairsAreSkipped)
{
    readResult r = read(L"'swap two\r\n\r\nab\r\n'still waiting for the target\r\nba\r\n\r\n");
    EXPECT_TRUE(r.ok) << r.text;
    EXPECT_EQ(r.table.swapPairs.size(), 2u);
}

TEST(SwapReader, MissingLastTargetIsReportedAndEarlierPairsKept)
{
    readResult r = read(L"ab\nba\ncd\n");
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.text, L"変換元を記した最終行に対応する変換先を記した行がありません。\n");
    EXPECT_EQ(r.table.swapPairs.size(), 2u);
}

TEST(SwapReader, DuplicateSourceIsReportedAndTheFirstStays)
{
    readResult r = read(L"aa\nbc\n");
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.text, L" ... 定義の重複が発見されました。\n");
    EXPECT_EQ(swappedKey(r.table, key0('a')), key0('b'));
    EXPECT_EQ(r.table.swapPairs.size(), 1u);
}

TEST(SwapReader, UnknownKeyFailsTheLineWithItsNumber)
{
    readResult r = read(L"'x\na!\n");
    EXPECT_FALSE(r.ok);
    EXPECT_NE(r.text.find(L"(line 2 : a! )\n"), std::wstring::npos) << r.text;
    EXPECT_TRUE(r.table.swapPairs.empty());
    // A full-width letter is no key, even though its low byte is that of a letter.
    readResult wide = read(L"\xFF41\na\n");
    EXPECT_FALSE(wide.ok);
    EXPECT_TRUE(wide.table.swapPairs.empty());
}

TEST(SwapReader, DraftLineClearsCopyBeforeEdit)
{
    readResult r = read(L"DraftData=1\r\nab\r\nba\r\n");
    EXPECT_TRUE(r.ok) << r.text;
    EXPECT_FALSE(r.table.copyBeforeEdit);
    EXPECT_TRUE(read(L"ab\nba\n").table.copyBeforeEdit);
}

}  // namespace

namespace {

TEST(SwapFile, Utf8AndUtf16BigEndianFilesWithCrlf)
{
    testTempFolder folder;
    testTempFolder::writeBytes(folder.file(L"a.tvn_o_numlock"), "\xef\xbb\xbf'\xe5\x85\xa5\xe6\x9b\xbf\r\nFUA\r\nAFU\r\n");
    std::string utf16be = "\xfe\xff";
    for (wchar_t c : std::wstring(L"'入替\r\nFUA\r\nAFU\r\n")) {
        utf16be += static_cast<char>(c >> 8);
        utf16be += static_cast<char>(c & 0xFF);
    }
    testTempFolder::writeBytes(folder.file(L"b.tvn_o_numlock"), utf16be);
    for (const wchar_t* name : {L"a.tvn_o_numlock", L"b.tvn_o_numlock"}) {
        textFileReader text(folder.file(name));
        ASSERT_FALSE(text.fail());
        capturingReader<swapReader> reader(2);
        swapTable table = readKeySwap(reader, text);
        EXPECT_TRUE(reader.ok()) << testing::PrintToString(reader.allText());
        EXPECT_EQ(swappedKey(table, key1('U')), key0('A'));
        EXPECT_EQ(swappedKey(table, key0('A')), key1('U'));
        EXPECT_EQ(table.tableKind, 2);
    }
}

}  // namespace

namespace {

TEST(SwapReader, UnreadableLineKeepsSourcesAndTargetsInStep)
{
    // An unreadable source line still has its target line after it: that line is skipped, and
    // the next pair is read as a pair.
    readResult badSource = read(L"a!\nba\ncd\ndc\n");
    EXPECT_FALSE(badSource.ok);
    EXPECT_NE(badSource.text.find(L"(line 1 : a! )\n"), std::wstring::npos) << badSource.text;
    EXPECT_EQ(badSource.text.find(L"(line 2"), std::wstring::npos) << badSource.text;
    EXPECT_EQ(swappedKey(badSource.table, key0('c')), key0('d'));
    EXPECT_EQ(swappedKey(badSource.table, key0('d')), key0('c'));
    EXPECT_EQ(swappedKey(badSource.table, key0('b')), key0('b'));
    EXPECT_EQ(badSource.table.swapPairs.size(), 2u);

    // An unreadable target line ends its pair too.
    readResult badTarget = read(L"ab\nb!\ncd\ndc\n");
    EXPECT_FALSE(badTarget.ok);
    EXPECT_EQ(swappedKey(badTarget.table, key0('a')), key0('a'));
    EXPECT_EQ(swappedKey(badTarget.table, key0('c')), key0('d'));
    EXPECT_EQ(badTarget.table.swapPairs.size(), 2u);
    EXPECT_EQ(badTarget.text.find(L"変換元を記した最終行"), std::wstring::npos) << badTarget.text;
}

}  // namespace

namespace {

TEST(SwapFile, NoncharacterFFFFDoesNotEndTheFile)
{
    // U+FFFF is the wide streams' end-of-file value here; read as text it would silently drop
    // every line after it. It arrives as the unsupported-character text instead.
    testTempFolder folder;
    std::string utf16 = "\xff\xfe";
    for (wchar_t c : std::wstring(L"ab\r\n\xFFFF\r\ncd\r\ndc\r\n")) {
        utf16 += static_cast<char>(c & 0xFF);
        utf16 += static_cast<char>(c >> 8);
    }
    testTempFolder::writeBytes(folder.file(L"a.tvn_o_numlock"), utf16);
    textFileReader text(folder.file(L"a.tvn_o_numlock"));
    capturingReader<swapReader> reader(1);
    swapTable table = readKeySwap(reader, text);
    EXPECT_FALSE(reader.ok());
    EXPECT_NE(reader.allText().find(L"(line 2 : <unsupported_char> )"), std::wstring::npos) << testing::PrintToString(reader.allText());
    EXPECT_EQ(swappedKey(table, key0('c')), key0('d'));
    EXPECT_EQ(swappedKey(table, key0('d')), key0('c'));
}

}  // namespace
