#include "core/files/substitutionTable.h"

#include "core/engine/kanaTable.h"
#include "core/files/textFile.h"
#include "definitionCapture.h"
#include "testTempFolder.h"

#include <gtest/gtest.h>

#include <sstream>

#include <windows.h>

namespace {

struct readResult {
    substitutionTable table;
    bool ok;
    std::vector<std::wstring> messages;
    std::wstring text;
};

readResult read(const std::wstring& text, int kind = 1)
{
    capturingReader<substitutionReader> reader(kind);
    std::wistringstream in(text);
    substitutionTable table = readSubstitution(reader, in);
    return readResult{table, reader.ok(), reader.messages, reader.allText()};
}

keySequence unitOf(wchar_t c) { return getKanaTable().registerChar(c, false); }

keySequence lookup(const substitutionTable& table, keySequence sequence)
{
    return lookupSubstitution(table, sequence);
}

TEST(SubstitutionReader, KanaAndKeyInputsMapToTheirKeyGroups)
{
    readResult r = read(L"か\tka\r\nab\tk a ki\r\nFC!\tH1\r\n");
    EXPECT_TRUE(r.ok) << r.text;
    EXPECT_TRUE(r.messages.empty());
    EXPECT_EQ(lookup(r.table, unitOf(L'か')), keysOf("ka"));
    EXPECT_EQ(lookup(r.table, keysOf("a")), keysOf("k"));
    // "k a ki": a takes "k", b takes "a"; the group left over is ignored.
    EXPECT_EQ(lookup(r.table, keysOf("b")), keysOf("a"));
    // An "FC" character unit as input, a Shift and a key as output.
    EXPECT_EQ(lookup(r.table, keySequence{charUnitCode(), '!'}), (keySequence{key0('H'), key0('1')}));
    EXPECT_EQ(r.table.entries.size(), 4u);
    EXPECT_TRUE(r.table.copyBeforeEdit);
}

TEST(SubstitutionReader, EntriesAreSortedForTheBinarySearch)
{
    readResult r = read(L"zyx\ta b c\nかさあ\ta b c\n");
    ASSERT_EQ(r.table.entries.size(), 6u);
    for (size_t i = 1; i < r.table.entries.size(); ++i) {
        EXPECT_TRUE(keySequenceLess()(r.table.entries[i - 1].input, r.table.entries[i].input)) << i;
    }
    for (wchar_t c : std::wstring(L"かさあ")) EXPECT_NE(lookup(r.table, unitOf(c)), unitOf(c));
    for (char c : std::string("zyx")) EXPECT_NE(lookup(r.table, keysOf(std::string(1, c).c_str())), keysOf(std::string(1, c).c_str()));
}

TEST(SubstitutionReader, CrlfLineEndsAreNotPartOfTheDefinition)
{
    // With LF ends "a<tab>" has no output part and is ignored; a CR must not turn it into an
    // entry that types nothing.
    readResult r = read(L"a\t\r\nb\tc\r\n");
    EXPECT_TRUE(r.ok) << r.text;
    ASSERT_EQ(r.table.entries.size(), 1u);
    EXPECT_EQ(lookup(r.table, keysOf("a")), keysOf("a"));
    EXPECT_EQ(lookup(r.table, keysOf("b")), keysOf("c"));
}

TEST(SubstitutionReader, CommentsAndLinesWithoutTabAreIgnoredSilently)
{
    readResult r = read(L"'か\tka\nvisible=1\n\n   \nか ka\n");
    EXPECT_TRUE(r.ok);
    EXPECT_TRUE(r.messages.empty());
    EXPECT_TRUE(r.table.entries.empty());
}

TEST(SubstitutionReader, DuplicateInputIsReportedAndTheFirstStays)
{
    readResult r = read(L"か\tka\nか\tga\n");
    EXPECT_TRUE(r.ok);  // a duplicate does not fail its line
    ASSERT_EQ(r.messages.size(), 1u);
    EXPECT_EQ(r.messages[0], L"か ... 定義の重複が発見されました。\n");
    EXPECT_EQ(lookup(r.table, unitOf(L'か')), keysOf("ka"));
}

TEST(SubstitutionReader, BadLinesAreReportedWithTheirNumberAndReadingGoesOn)
{
    readResult r = read(L"'header\n!\tka\nか\tk!\nき\tki\n");
    EXPECT_FALSE(r.ok);
    EXPECT_NE(r.text.find(L"! の最初の文字はキー表現として判読できません。(line 2 : !\tka )\n"), std::wstring::npos)
        << r.text;
    EXPECT_NE(r.text.find(L"! の最初の文字はキー表現として判読できません。\n(line 3 : か\tk! )\n"), std::wstring::npos)
        << r.text;
    // The line after the bad ones is still read.
    EXPECT_EQ(lookup(r.table, unitOf(L'き')), keysOf("ki"));
    EXPECT_EQ(lookup(r.table, unitOf(L'か')), unitOf(L'か'));
}

TEST(SubstitutionReader, AUnitWithoutKeysFailsTheLine)
{
    // Output part shorter than the input part: the first unit is defined, the second fails.
    readResult shortOutput = read(L"ab\tka\n");
    EXPECT_FALSE(shortOutput.ok);
    EXPECT_EQ(shortOutput.text, L"2番目の b に対応するキー表現がありません。(line 1 : ab\tka )\n");
    EXPECT_EQ(lookup(shortOutput.table, keysOf("a")), keysOf("ka"));
}

TEST(SubstitutionReader, ADoubledSeparatorGivesAnEmptyGroup)
{
    // Two spaces: b gets an entry that types nothing, and the line is accepted (stored files
    // are written that way). The group after the empty one is left over.
    readResult doubled = read(L"ab\tka  ki\r\nc\tx\r\n");
    EXPECT_TRUE(doubled.ok) << doubled.text;
    EXPECT_TRUE(doubled.messages.empty());
    ASSERT_EQ(doubled.table.entries.size(), 3u);
    EXPECT_EQ(lookup(doubled.table, keysOf("a")), keysOf("ka"));
    EXPECT_EQ(lookup(doubled.table, keysOf("b")), keySequence());
    EXPECT_EQ(lookup(doubled.table, keysOf("c")), keysOf("x"));
    // A control character separates groups as a space does.
    readResult spaced = read(L"abc\tka \x0001ki  \n");
    EXPECT_TRUE(spaced.ok) << spaced.text;
    EXPECT_EQ(lookup(spaced.table, keysOf("b")), keySequence());
    EXPECT_EQ(lookup(spaced.table, keysOf("c")), keysOf("ki"));
}

TEST(SubstitutionReader, LargeFilesReadInLinearTime)
{
    // Each input used to be compared with every earlier one: 64k lines took many seconds on the
    // thread that answers the keyboard hook.
    std::wstring file;
    for (size_t i = 0; i < 64000; ++i) file += static_cast<wchar_t>(0x100 + i) + std::wstring(L"\tka\n");
    std::wistringstream in(file);
    const DWORD start = GetTickCount();
    substitutionReader reader(1);
    substitutionTable table = readSubstitution(reader, in);
    EXPECT_LT(GetTickCount() - start, 5000u);
    EXPECT_EQ(64000u, table.entries.size());
    EXPECT_TRUE(reader.ok());
    // A copy still refuses what the original holds.
    substitutionTable copy = table;
    EXPECT_FALSE(copy.addSubstitution(unitOf(0x4E00), keysOf("x")));
    EXPECT_TRUE(copy.addSubstitution(keysOf("a"), keysOf("x")));
}

TEST(SubstitutionReader, KeyPairsAfterInputAssignLine)
{
    readResult r = read(L"か\tka\r\nInputAssignData=1\r\nab\tcd\r\nZ\tFI\r\nFU\tA\r\n");
    EXPECT_TRUE(r.ok) << r.text;
    EXPECT_EQ(r.table.entries.size(), 1u);
    ASSERT_EQ(r.table.keyPairs.size(), 4u);
    EXPECT_EQ(r.table.keyPairs[0], std::make_pair(key0('a'), key0('c')));
    EXPECT_EQ(r.table.keyPairs[1], std::make_pair(key0('b'), key0('d')));
    EXPECT_EQ(pairedKey(r.table, key0('Z')), key1('I'));
    EXPECT_EQ(pairedKey(r.table, key1('U')), key0('A'));
    EXPECT_EQ(pairedKey(r.table, key0('x')), key0('x'));
}

TEST(SubstitutionReader, KeyPairsRefuseCharactersOnEitherSide)
{
    readResult kana = read(L"InputAssignData=1\nか\tc\n");
    EXPECT_FALSE(kana.ok);
    EXPECT_NE(kana.text.find(L"か : InputAssignData=1 以降はキー表現同士の定義となります。\n(line 2 : か\tc )"),
              std::wstring::npos)
        << kana.text;
    // A character unit is no key either: pairing a key with the unit code would break the key.
    readResult charUnit = read(L"InputAssignData=1\nab\tFC!d\n");
    EXPECT_FALSE(charUnit.ok);
    EXPECT_TRUE(charUnit.table.keyPairs.empty());
    readResult dup = read(L"InputAssignData=1\na\tc\na\td\n");
    EXPECT_TRUE(dup.ok);
    EXPECT_EQ(dup.text, L"a ... 定義の重複が発見されました。\n");
    EXPECT_EQ(pairedKey(dup.table, key0('a')), key0('c'));
}

TEST(SubstitutionReader, DraftLineClearsCopyBeforeEdit)
{
    EXPECT_FALSE(read(L"DraftData=1\r\nか\tka\r\n").table.copyBeforeEdit);
    EXPECT_TRUE(read(L"DraftData=0\r\n").table.copyBeforeEdit);
}

TEST(SubstitutionLookup, TakesOneUnitPerCallAndPassesUnknownUnits)
{
    readResult r = read(L"かき\tka ki\n");
    keySequence ka = unitOf(L'か'), ki = unitOf(L'き'), unknown = unitOf(L'ぬ');
    keySequence sequence;
    for (const keySequence* s : {&ka, &unknown, &ki}) sequence.insert(sequence.end(), s->begin(), s->end());
    sequence.push_back(key0('E'));
    sequence.push_back(charUnitCode());
    sequence.push_back('x');

    EXPECT_EQ(lookupSubstitution(r.table, sequence), keysOf("ka"));
    EXPECT_EQ(lookupSubstitution(r.table, sequence), unknown);
    EXPECT_EQ(lookupSubstitution(r.table, sequence), keysOf("ki"));
    EXPECT_EQ(lookupSubstitution(r.table, sequence), keySequence{key0('E')});
    EXPECT_EQ(lookupSubstitution(r.table, sequence), (keySequence{charUnitCode(), 'x'}));
    EXPECT_TRUE(sequence.empty());
    EXPECT_TRUE(lookupSubstitution(r.table, sequence).empty());
}

TEST(SubstitutionLookup, TwoCodeGroupsAreOneUnit)
{
    // Characters registered late get two-code groups; the lookup must take both codes as one unit.
    keySequence late;
    wchar_t lateChar = 0x4E00;
    for (; late.size() < 3; ++lateChar) late = unitOf(lateChar);
    --lateChar;
    readResult r = read(std::wstring(1, lateChar) + L"\tzz\n");
    ASSERT_TRUE(r.ok) << r.text;
    keySequence sequence = late;
    sequence.push_back(key0('a'));
    EXPECT_EQ(lookupSubstitution(r.table, sequence), keysOf("zz"));
    EXPECT_EQ(sequence, keysOf("a"));
}

TEST(SubstitutionLookup, ImeToggleCharacterFallsBackToTheImeKeyEntry)
{
    readResult r = read(L"FI\tZ\n");
    ASSERT_TRUE(r.ok) << r.text;
    EXPECT_EQ(lookup(r.table, unitOf(L'多')), keySequence{key0('Z')});
    // Without such an entry the character passes as itself.
    readResult empty = read(L"");
    EXPECT_EQ(lookup(empty.table, unitOf(L'多')), unitOf(L'多'));
}

}  // namespace

namespace {

TEST(SubstitutionFile, Cp932AndUtf16FilesWithCrlfReadAlike)
{
    testTempFolder folder;
    // "か<tab>ka CR LF InputAssignData=1 CR LF Z<tab>FI CR LF" in CP932 (か is 82 A9).
    const std::string cp932 = "\x82\xa9\tka\r\nInputAssignData=1\r\nZ\tFI\r\n";
    std::string utf16 = "\xff\xfe";
    for (wchar_t c : std::wstring(L"か\tka\r\nInputAssignData=1\r\nZ\tFI\r\n")) {
        utf16 += static_cast<char>(c & 0xFF);
        utf16 += static_cast<char>(c >> 8);
    }
    testTempFolder::writeBytes(folder.file(L"a.tvn_o_roumazi"), cp932);
    testTempFolder::writeBytes(folder.file(L"b.tvn_o_roumazi"), utf16);

    std::vector<substitutionTable> tables;
    for (const wchar_t* name : {L"a.tvn_o_roumazi", L"b.tvn_o_roumazi"}) {
        textFileReader text(folder.file(name));
        ASSERT_FALSE(text.fail());
        capturingReader<substitutionReader> reader(1);
        tables.push_back(readSubstitution(reader, text));
        EXPECT_TRUE(reader.ok()) << testing::PrintToString(reader.allText());
    }
    EXPECT_TRUE(tables[0] == tables[1]);
    EXPECT_EQ(lookup(tables[0], unitOf(L'か')), keysOf("ka"));
    EXPECT_EQ(pairedKey(tables[0], key0('Z')), key1('I'));
}

}  // namespace
