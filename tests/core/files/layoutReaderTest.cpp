// Layout files written to a temporary folder in the encodings users save them in, read back
// through the file stream and the reader, and checked through the matcher.
#include "core/files/layoutReader.h"

#include "core/engine/kanaTable.h"
#include "core/platform/omsgstream.h"
#include "core/files/textFile.h"
#include "testTempFolder.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <sstream>

namespace {

keySequence seq(std::initializer_list<keyCode> codes) { return keySequence(codes); }
keyCode k(char letter) { return keyCodeOf(static_cast<unsigned char>(letter), 0); }
keySequence text(const std::wstring& s)
{
    keySequence out;
    for (wchar_t c : s) out.splice(out.end(), getKanaTable().registerChar(c, false));
    return out;
}

// A log stream that records how it was locked around each message.
class testLog : public std::wostringstream, public lockable {
public:
    using lockable::lock;
    void lock(int level) override
    {
        lastLevel = level;
        lock();
    }
    void lock() override
    {
        ++locks;
        EXPECT_FALSE(held);
        held = true;
    }
    void unlock() override
    {
        ++unlocks;
        EXPECT_TRUE(held);
        held = false;
    }
    int locks = 0, unlocks = 0, lastLevel = -1;
    bool held = false;
};

std::string encode(const std::wstring& s, UINT codePage)
{
    int n = WideCharToMultiByte(codePage, 0, s.data(), static_cast<int>(s.size()), nullptr, 0, nullptr, nullptr);
    std::string out(n, '\0');
    WideCharToMultiByte(codePage, 0, s.data(), static_cast<int>(s.size()), &out[0], n, nullptr, nullptr);
    return out;
}

std::string utf16(const std::wstring& s, bool bigEndian)
{
    std::string out = bigEndian ? "\xFE\xFF" : "\xFF\xFE";
    for (wchar_t c : s) {
        char hi = static_cast<char>(c >> 8), lo = static_cast<char>(c & 0xFF);
        out += bigEndian ? hi : lo;
        out += bigEndian ? lo : hi;
    }
    return out;
}

struct loaded {
    layoutTable table;
    bool ok;
    std::wstring log;
    int messages;
};

loaded readText(const std::wstring& content, int kind = 1)
{
    testLog log;
    layoutReader reader(kind, &log);
    std::wistringstream in(content);
    layoutTable table = readLayout(reader, in);
    EXPECT_EQ(log.locks, log.unlocks);
    EXPECT_EQ(reader.reportCount(), log.locks);
    return {table, reader.ok(), log.str(), reader.reportCount()};
}

// Types strokes one after another (one key, or two for a chord) and describes where that
// leads: the text of the reached output, "open" while a sequence is still open, "-" for none.
std::wstring typeIn(const layoutTable& table, std::initializer_list<keySequence> strokes)
{
    layoutMatchState state;
    for (const keySequence& s : strokes) {
        EXPECT_EQ(matchDone, matchLayout(table, s, state));
        if (!state.found) return L"-";
        if (state.pendingStrokes.empty()) return getKanaTable().sequenceText(state.output);
    }
    return L"open";
}

// The output of the entry with exactly these keys, or "absent".
std::wstring outputFor(const layoutTable& table, const strokeSequence& keys)
{
    for (const layoutEntry& e : table.entries) {
        if (e.keys == keys) return getKanaTable().sequenceText(e.output);
    }
    return L"absent";
}

const keySequence* outputSequenceFor(const layoutTable& table, const strokeSequence& keys)
{
    for (const layoutEntry& e : table.entries) {
        if (e.keys == keys) return &e.output;
    }
    return nullptr;
}

stroke s(char letter) { return stroke(k(letter), 0); }
stroke chord(char a, char b) { return stroke(std::max(k(a), k(b)), std::min(k(a), k(b))); }

const wchar_t sampleLayout[] =
    L"visible=1\r\n"
    L"' a kana layout with thumb chords and a few sequences\r\n"
    L"TypeModeDefault=2\r\n"
    L"SemiShift=L\r\n"
    L"a\tあ\r\n"
    L"{aL}\tを\r\n"
    L"{Rs}\tじ\r\n"
    L"kl\tか$き\r\n"
    L"StrokeMode=1\r\n"
    L"{jj}\tっ\r\n"
    L"{jk}\tきゃ\r\n"
    L"=q\r\n"
    L"w\tFC!\r\n"
    L"e\tE\r\n"
    L"=\r\n"
    L"z\tFa\r\n";

}  // namespace

TEST(layoutFiles, everyEncodingGivesTheSameTable)
{
    testTempFolder folder;
    const std::wstring content = sampleLayout;
    const std::vector<std::pair<std::wstring, std::string>> files = {
        {L"cp932.tvn_kana", encode(content, 932)},
        {L"utf8.tvn_kana", "\xEF\xBB\xBF" + encode(content, CP_UTF8)},
        {L"utf16le.tvn_kana", utf16(content, false)},
        {L"utf16be.tvn_kana", utf16(content, true)},
    };
    std::vector<std::wstring> paths;
    for (const auto& f : files) {
        paths.push_back(folder.file(f.first));
        testTempFolder::writeBytes(paths.back(), f.second);
    }
    // The CP932 file really is CP932 with CRLF line ends (あ is 82 A0).
    EXPECT_NE(std::string::npos, files[0].second.find("a\t\x82\xA0\r\n"));
    loaded reference = readText(content);
    ASSERT_TRUE(reference.ok) << reference.log;
    EXPECT_EQ(L"", reference.log);

    for (const std::wstring& path : paths) {
        SCOPED_TRACE(path);
        testLog log;
        layoutReader reader(1, &log);
        textFileReader in(path);
        ASSERT_TRUE(in.good());
        layoutTable table = readLayout(reader, in);
        EXPECT_TRUE(reader.ok()) << log.str();
        EXPECT_EQ(reference.table, table);
    }

    const layoutTable& t = reference.table;
    EXPECT_EQ(2, t.typeModeDefault);
    EXPECT_EQ(1, t.tableKind);
    EXPECT_TRUE(t.copyBeforeEdit);
    EXPECT_EQ(L"あ", typeIn(t, {seq({k('a')})}));
    EXPECT_EQ(L"を", typeIn(t, {seq({0xDE, k('a')})}));
    EXPECT_EQ(L"を", typeIn(t, {seq({k('a'), 0xDE})}));
    EXPECT_EQ(L"じ", typeIn(t, {seq({k('s'), 0xDF})}));
    EXPECT_EQ(L"か", typeIn(t, {seq({k('k')})}));
    EXPECT_EQ(L"き", typeIn(t, {seq({k('l')})}));
    EXPECT_EQ(L"open", typeIn(t, {seq({k('j')})}));
    EXPECT_EQ(L"っ", typeIn(t, {seq({k('j')}), seq({k('j')})}));
    EXPECT_EQ(L"きゃ", typeIn(t, {seq({k('j')}), seq({k('k')})}));
    EXPECT_EQ(L"Enter", typeIn(t, {seq({k('q')}), seq({k('e')})}));
    EXPECT_EQ(seq({227, '!'}), *outputSequenceFor(t, {s('q'), s('w')}));
    EXPECT_EQ(seq({0x3B}), *outputSequenceFor(t, {s('z')}));   // "Fa" is F1
    EXPECT_EQ(L"-", typeIn(t, {seq({k('w')})}));   // w only after q

    // Entries sorted by their keys.
    for (std::size_t i = 1; i < t.entries.size(); ++i)
        EXPECT_TRUE(strokeSequenceLess()(t.entries[i - 1].keys, t.entries[i].keys));

    // Chord flags: single keys, chord keys, and the thumb key that SemiShift lists.
    EXPECT_EQ(chordFlagSingle | chordFlagChord, chordFlagsOf(t, k('a')));
    EXPECT_EQ(chordFlagSemiShift, chordFlagsOf(t, 0xDE));
    EXPECT_EQ(chordFlagChord, chordFlagsOf(t, 0xDF));
    EXPECT_EQ(chordFlagSingle, chordFlagsOf(t, k('j')));
    EXPECT_EQ(0, chordFlagsOf(t, k('y')));
}

TEST(layoutFiles, unreadableFileAndMarkedEmptyFile)
{
    testTempFolder folder;
    textFileReader missing(folder.file(L"none.tvn_kana"));
    EXPECT_TRUE(missing.fail());

    testTempFolder::writeBytes(folder.file(L"mark.tvn_kinou"), "visible=1\r\n");
    textFileReader onlyMark(folder.file(L"mark.tvn_kinou"));
    ASSERT_TRUE(onlyMark.good());
    layoutReader reader(4);
    layoutTable table = readLayout(reader, onlyMark);
    EXPECT_TRUE(reader.ok());
    EXPECT_TRUE(table.entries.empty());
    EXPECT_TRUE(table.copyBeforeEdit);
    EXPECT_EQ(0, reader.reportCount());

    // A kana layout without a mark or "visible=1" is still read as CP932 text.
    testTempFolder::writeBytes(folder.file(L"plain.tvn_kana"), encode(L"a\tか\r\n", 932));
    textFileReader plain(folder.file(L"plain.tvn_kana"));
    layoutReader kanaReader(1);
    layoutTable kana = readLayout(kanaReader, plain);
    EXPECT_TRUE(kanaReader.ok());
    EXPECT_EQ(L"か", typeIn(kana, {seq({k('a')})}));
}

TEST(layoutReading, chordsAndSequencesByStrokeMode)
{
    loaded zero = readText(L"{ab}\tX\n");
    loaded one = readText(L"StrokeMode=1\n{ab}\tX\n");
    loaded two = readText(L"StrokeMode=2\n{ab}\tX\n");
    ASSERT_TRUE(zero.ok && one.ok && two.ok);
    EXPECT_EQ(L"無変換", outputFor(zero.table, {chord('a', 'b')}));
    EXPECT_EQ(L"無変換", outputFor(two.table, {chord('a', 'b')}));
    EXPECT_EQ(L"無変換", outputFor(one.table, {s('a'), s('b')}));
    EXPECT_EQ(1u, one.table.entries.size());
    EXPECT_EQ(chordFlagChord, chordFlagsOf(zero.table, k('b')));
    EXPECT_EQ(chordFlagSingle, chordFlagsOf(one.table, k('b')));

    // Written in either order, a chord is the same stroke: the second definition is a duplicate.
    loaded swapped = readText(L"{ba}\tあ\n{ab}\tい\n");
    EXPECT_FALSE(swapped.ok);
    EXPECT_EQ(L"あ", typeIn(swapped.table, {seq({k('a'), k('b')})}));
}

TEST(layoutReading, emptyBracesFailTheLineInEveryMode)
{
    // An entry without keys would match every sequence typed.
    for (const wchar_t* mode : {L"0", L"1", L"2"}) {
        SCOPED_TRACE(mode);
        loaded r = readText(std::wstring(L"StrokeMode=") + mode + L"\n{}\tあ\na\tい\n");
        EXPECT_FALSE(r.ok);
        EXPECT_NE(std::wstring::npos, r.log.find(L" : 同時押下表現の中身がありません。\n")) << r.log;
        EXPECT_NE(std::wstring::npos, r.log.find(L"(line 2 : {}\tあ )\n")) << r.log;
        ASSERT_EQ(1u, r.table.entries.size());
        EXPECT_EQ(L"い", typeIn(r.table, {seq({k('a')})}));
        EXPECT_EQ(L"-", typeIn(r.table, {seq({k('b')})}));
    }
    // With a prefix, "{}" must not define the prefix alone either.
    loaded prefixed = readText(L"StrokeMode=1\n=q\n{}\tあ\n");
    EXPECT_FALSE(prefixed.ok);
    EXPECT_TRUE(prefixed.table.entries.empty());
}

TEST(layoutReading, braceErrors)
{
    loaded open = readText(L"StrokeMode=1\n{ab\tあ\n");
    EXPECT_FALSE(open.ok);
    EXPECT_EQ(L"{ab : { で開始された表現が終了していません。\n(line 2 : {ab\tあ )\n", open.log);
    EXPECT_TRUE(open.table.entries.empty());

    loaded three = readText(L"{abc}\tあ\n");
    EXPECT_FALSE(three.ok);
    EXPECT_NE(std::wstring::npos, three.log.find(L"c} : 同時押下表現内にキーが三つ以上指定されています。\n")) << three.log;

    loaded unknown = readText(L"{a%}\tあ\n");
    EXPECT_FALSE(unknown.ok);
    EXPECT_NE(std::wstring::npos, unknown.log.find(L"% : この文字は意味が定義されていません。\n")) << unknown.log;
    EXPECT_NE(std::wstring::npos, unknown.log.find(L"%} : 同時押下表現内に認識できない文字があります。\n")) << unknown.log;

    loaded unfinished = readText(L"{a\tあ\n");
    EXPECT_FALSE(unfinished.ok);
    EXPECT_NE(std::wstring::npos, unfinished.log.find(L" : 同時押下表現が完結していません。\n")) << unfinished.log;
    EXPECT_TRUE(unfinished.table.entries.empty());
}

TEST(layoutReading, halfChordAbbreviation)
{
    loaded r = readText(L"=x\n"
                        L"a\tあ\n"
                        L"{ab}\tい\n"
                        L"=\n"
                        L"c\tう\n"
                        L"=xy\n"
                        L"d\tえ\n");
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(L"あ", outputFor(r.table, {chord('a', 'x')}));
    EXPECT_EQ(L"absent", outputFor(r.table, {s('a')}));
    EXPECT_EQ(L"absent", outputFor(r.table, {chord('a', 'b')}));
    EXPECT_EQ(L"う", outputFor(r.table, {s('c')}));
    // "=xy" fails, and leaves no half chord behind.
    EXPECT_EQ(L"え", outputFor(r.table, {s('d')}));
    EXPECT_NE(std::wstring::npos, r.log.find(L"{ab} : 同時押下表現は省略宣言で片方が指定されていないときのみ有効です。\n")) << r.log;
    EXPECT_NE(std::wstring::npos, r.log.find(L"xy : 同時打鍵の省略表記にキー一つ分以外のものがあります。\n(line 6 : =xy )\n")) << r.log;
    EXPECT_EQ(L"あ", typeIn(r.table, {seq({k('x'), k('a')})}));
    EXPECT_EQ(chordFlagChord, chordFlagsOf(r.table, k('x')) & chordFlagChord);
}

TEST(layoutReading, prefixAbbreviationsInSequenceModes)
{
    loaded r = readText(L"StrokeMode=2\n"
                        L"=k\n"
                        L"a\tか\n"
                        L"i\tき\n"
                        L"=k{L}\n"
                        L"a\tが\n"
                        L"={L}k\n"
                        L"=\n"
                        L"a\tあ\n");
    EXPECT_FALSE(r.ok);   // the half chord must come last
    EXPECT_NE(std::wstring::npos, r.log.find(L"{L}k : 省略宣言の末尾以外で不完全な同時打鍵表現がありました。\n")) << r.log;
    EXPECT_EQ(L"か", typeIn(r.table, {seq({k('k')}), seq({k('a')})}));
    EXPECT_EQ(L"き", typeIn(r.table, {seq({k('k')}), seq({k('i')})}));
    EXPECT_EQ(L"が", typeIn(r.table, {seq({k('k')}), seq({0xDE, k('a')})}));
    EXPECT_EQ(L"あ", typeIn(r.table, {seq({k('a')})}));
    EXPECT_EQ(chordFlagSingle, chordFlagsOf(r.table, k('k')));
    EXPECT_EQ(chordFlagChord, chordFlagsOf(r.table, 0xDE));

    // An abbreviation line that also carries an output is remembered.
    loaded carried = readText(L"=L\tのりしろ\n");
    EXPECT_TRUE(carried.ok);
    ASSERT_EQ(1u, carried.table.halfKeyOutputs.size());
    EXPECT_EQ(L"L", carried.table.halfKeyOutputs[0].first);
    EXPECT_EQ(L"のりしろ", carried.table.halfKeyOutputs[0].second);
    EXPECT_EQ(chordFlagChord, chordFlagsOf(carried.table, 0xDE));
}

TEST(layoutReading, dollarSplitsOutputsAcrossSteps)
{
    loaded r = readText(L"ab\tか$き\n"
                        L"c\tく$け\n"
                        L"de\tこ$\n"
                        L"StrokeMode=1\n"
                        L"{fg}h\tさ$し\n");
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(L"か", outputFor(r.table, {s('a')}));
    EXPECT_EQ(L"き", outputFor(r.table, {s('b')}));
    EXPECT_EQ(L"く", outputFor(r.table, {s('c')}));
    EXPECT_EQ(L"こ", outputFor(r.table, {s('d')}));
    EXPECT_EQ(L"absent", outputFor(r.table, {s('e')}));
    EXPECT_NE(std::wstring::npos, r.log.find(L"e キーに対応する出力文字がありません。 \n(line 3 : de\tこ$ )\n")) << r.log;
    EXPECT_EQ(L"さ", outputFor(r.table, {s('f'), s('g')}));
    EXPECT_EQ(L"し", outputFor(r.table, {s('h')}));
}

TEST(layoutReading, outputUnits)
{
    loaded r = readText(L"a\tかa\n"
                        L"b\tFC~\n"
                        L"c\tFa$\n"
                        L"d\tFCa$\n"
                        L"e\tい%う\n"
                        L"g\tFC\x7F\n"
                        L"h\t$\n");
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(text(L"か").size() + 1, outputSequenceFor(r.table, {s('a')})->size());
    EXPECT_EQ(L"かa", outputFor(r.table, {s('a')}));
    EXPECT_EQ(seq({227, '~'}), *outputSequenceFor(r.table, {s('b')}));
    EXPECT_EQ(seq({0x3B}), *outputSequenceFor(r.table, {s('c')}));
    EXPECT_EQ(seq({227, 'a'}), *outputSequenceFor(r.table, {s('d')}));
    // An unreadable output character keeps what was read before it.
    EXPECT_EQ(text(L"い"), *outputSequenceFor(r.table, {s('e')}));
    EXPECT_NE(std::wstring::npos, r.log.find(L"%う ... 変換後の文字が認識できません。\n(line 5 : e\tい%う )\n")) << r.log;
    EXPECT_NE(std::wstring::npos, r.log.find(L"FC の後に有効な表記が続いていません。\n")) << r.log;
    EXPECT_EQ(L"absent", outputFor(r.table, {s('h')}));   // "$" alone: the step has no output
}

TEST(layoutReading, keyLettersOutsideTheAlphabetsAreRejected)
{
    loaded r = readText(L"F\tあ\n"
                        L"FC\tい\n"
                        L"F\xFF41\tう\n"    // full-width a must not become F1
                        L"F\x161\tえ\n"     // low byte 'a'
                        L"\xFF41\tお\n"
                        L"Fa\tか\n");
    EXPECT_FALSE(r.ok);
    ASSERT_EQ(1u, r.table.entries.size());
    EXPECT_EQ(L"か", outputFor(r.table, {stroke(0x3B, 0)}));
    EXPECT_NE(std::wstring::npos, r.log.find(L"あとに文字が続くはずの F が末尾に来ています。\n(line 1 : F\tあ )\n")) << r.log;
    EXPECT_NE(std::wstring::npos, r.log.find(L"FC はここでは使えません。\n(line 2")) << r.log;
    EXPECT_NE(std::wstring::npos, r.log.find(L"Fの後続文字に対処できませんでした。\n(line 3")) << r.log;
    EXPECT_NE(std::wstring::npos, r.log.find(L"Fの後続文字に対処できませんでした。\n(line 4")) << r.log;
    EXPECT_NE(std::wstring::npos, r.log.find(L"\xFF41 : この文字は意味が定義されていません。\n(line 5")) << r.log;
}

TEST(layoutReading, duplicateDefinitionsKeepTheFirst)
{
    loaded r = readText(L"a\tか\r\na\tき\r\nb\tく\r\n");
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(L"a ... 定義の重複が発見されました。後に出てきた方は無視されます。\n(line 2 : a\tき )\n", r.log);
    EXPECT_EQ(2, r.messages);
    EXPECT_EQ(L"か", typeIn(r.table, {seq({k('a')})}));
    EXPECT_EQ(L"く", typeIn(r.table, {seq({k('b')})}));
}

TEST(layoutReading, headerValuesIgnoreTheLineEnd)
{
    // Without the list, 未 makes no entry and 却 an entry with no output.
    loaded plain = readText(L"a\t未定\r\nb\t却下\r\n");
    EXPECT_TRUE(plain.ok);
    EXPECT_EQ(L"absent", outputFor(plain.table, {s('a')}));
    ASSERT_NE(nullptr, outputSequenceFor(plain.table, {s('b')}));
    EXPECT_TRUE(outputSequenceFor(plain.table, {s('b')})->empty());

    loaded listed = readText(L"WantThemselves=1\r\nStrokeMode=1\r\nSemiShift=ab\r\n{ab}\t未\r\nc\t却\r\nd\t変あ\r\n");
    EXPECT_TRUE(listed.ok) << listed.log;
    const keySequence* mi = outputSequenceFor(listed.table, {s('a'), s('b')});
    ASSERT_NE(nullptr, mi);
    EXPECT_EQ(getKanaTable().registerChar(L'未', true), *mi);
    EXPECT_EQ(getKanaTable().registerChar(L'却', true), *outputSequenceFor(listed.table, {s('c')}));
    keySequence expected = getKanaTable().registerChar(L'変', true);
    expected.splice(expected.end(), getKanaTable().registerChar(L'あ', false));
    EXPECT_EQ(expected, *outputSequenceFor(listed.table, {s('d')}));
    EXPECT_EQ(chordFlagSemiShift | chordFlagSingle, chordFlagsOf(listed.table, k('a')));
    EXPECT_EQ(0, chordFlagsOf(listed.table, 0));

    loaded cleared = readText(L"WantThemselves=1\r\nWantThemselves=0\r\na\t未\r\n");
    EXPECT_TRUE(cleared.table.entries.empty());

    loaded own = readText(L"WantThemselves=未\r\na\t未\r\nb\t却\r\n");
    EXPECT_EQ(getKanaTable().registerChar(L'未', true), *outputSequenceFor(own.table, {s('a')}));
    EXPECT_TRUE(outputSequenceFor(own.table, {s('b')})->empty());
}

TEST(layoutReading, headerLines)
{
    loaded r = readText(L"TypeModeDefault=7\r\n"
                        L"StrokeMode=3\r\n"
                        L"{ab}\tあ\r\n"
                        L"StrokeMode=x\r\n"
                        L"SemiShift=aあb\r\n"
                        L"MultiDownHold=R\r\n"
                        L"DraftData=1\r\n"
                        L"{Rc}\tい\r\n",
                        2);
    EXPECT_TRUE(r.ok) << r.log;   // header complaints do not fail the file
    EXPECT_EQ(0, r.table.typeModeDefault);   // only a kana layout has a standard mode
    EXPECT_FALSE(r.table.copyBeforeEdit);
    EXPECT_NE(nullptr, outputSequenceFor(r.table, {chord('a', 'b')}));
    EXPECT_EQ(L"StrokeModeの値が不正です。(line 2 : StrokeMode=3 )\n"
              L"StrokeModeの値が不正です。(line 4 : StrokeMode=x )\n"
              L"SemiShift=の右辺には文字「あ」を使うことができません(line 5)\n",
              r.log);
    EXPECT_EQ(chordFlagSemiShift, chordFlagsOf(r.table, k('a')) & chordFlagSemiShift);
    EXPECT_EQ(0, chordFlagsOf(r.table, k('b')) & chordFlagSemiShift);
    // A MultiDownHold key in a chord is not marked as a chord key.
    EXPECT_EQ(chordFlagMultiDownHold, chordFlagsOf(r.table, 0xDF));
    EXPECT_EQ(chordFlagChord, chordFlagsOf(r.table, k('c')));

    loaded kana = readText(L"TypeModeDefault=3\r\n", 1);
    EXPECT_EQ(3, kana.table.typeModeDefault);
}

TEST(layoutReading, ignoredLinesAndLineNumbers)
{
    loaded r = readText(L"visible=1\n"
                        L"' comment\ta\n"
                        L"\n"
                        L"no tab here\n"
                        L"a\t\t\tあ\n"
                        L"\tい\n"
                        L"b\tう\tえ\n"
                        L"  \t\n"
                        L"%\tお\n");
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(L"% : この文字は意味が定義されていません。\n(line 9 : %\tお )\n", r.log);
    ASSERT_EQ(1u, r.table.entries.size());
    EXPECT_EQ(L"あ", outputFor(r.table, {s('a')}));
}

TEST(layoutReading, messagesReachTheProgramLogStream)
{
    omsgstream log(logTextMessage, nullptr);
    log.setShownLevel(0);
    layoutReader reader(1, &log);
    std::wistringstream in(L"a\tか\nF\tき\n");
    readLayout(reader, in);
    EXPECT_FALSE(reader.ok());
    // The narrow (CP932) message arrives as wide text, followed by the line.
    EXPECT_EQ(L"あとに文字が続くはずの F が末尾に来ています。\n(line 2 : F\tき )\n", log.takeText());
    log.clearText();

    // The log is free again: another writer can take it.
    log.lock(0);
    log << L"next" << std::flush;
    log.unlock();
    EXPECT_EQ(L"next", log.takeText());
    log.clearText();
    MSG msg;
    while (PeekMessageW(&msg, nullptr, logTextMessage, logTextMessage, PM_REMOVE)) {
    }
}

TEST(layoutReading, messagesWithoutALogAreCounted)
{
    layoutReader reader(1);
    std::wistringstream in(L"a\tか\na\tき\n");
    layoutTable table = readLayout(reader, in);
    EXPECT_FALSE(reader.ok());
    EXPECT_EQ(2, reader.reportCount());
    EXPECT_EQ(1u, table.entries.size());
}

TEST(keyExpressions, consumeOneExpressionOrNothing)
{
    definitionErrorSink sink;
    std::wstring_view text = L"aFbFC!x";
    EXPECT_EQ(k('a'), readKeyExpression(text, sink));
    EXPECT_EQ(0x3C, readKeyExpression(text, sink));   // F2
    EXPECT_EQ(L"FC!x", text);
    EXPECT_EQ(0, readKeyExpression(text, sink));       // "FC" is no key
    EXPECT_EQ(seq({227, '!'}), readOutputKeyExpression(text, sink));
    EXPECT_EQ(seq({k('x')}), readOutputKeyExpression(text, sink));
    EXPECT_EQ(L"", text);
    EXPECT_EQ(1, sink.reportCount());

    for (std::wstring_view bad : {L"%a", L"F", L"F\xFF41", L"FC", L"FC ", L"\xFF41"}) {
        std::wstring_view before = bad;
        EXPECT_TRUE(readOutputKeyExpression(bad, sink).empty()) << std::wstring(before);
        EXPECT_EQ(before, bad);
    }
    EXPECT_EQ(7, sink.reportCount());
    std::wstring_view empty;
    EXPECT_EQ(0, readKeyExpression(empty, sink));
    EXPECT_EQ(7, sink.reportCount());

    std::wstring keyPart, outputPart;
    EXPECT_TRUE(splitDefinitionLine(L"ab\t\tか$き", keyPart, outputPart));
    EXPECT_EQ(L"ab", keyPart);
    EXPECT_EQ(L"か$き", outputPart);
    for (const wchar_t* other : {L"ab", L"\tか", L"ab\t", L"ab\tか\tき", L""})
        EXPECT_FALSE(splitDefinitionLine(other, keyPart, outputPart)) << other;
}

namespace {

// Letters of the first alphabet that name keys.
const std::wstring keyLetters = L"0123456789abcdefghijklmnopqrstuvwxyz-^\\@[;:],./_";

}  // namespace

TEST(layoutReading, largeFilesAndLongLinesReadInLinearTime)
{
    // Files load on the thread that answers the keyboard hook: a reader that slows with the
    // square of the size (each entry compared with every earlier one, each key erased from the
    // front of its line) took many seconds here, and the system drops a hook that answers late.
    const size_t n = keyLetters.size();
    std::wstring file = L"StrokeMode=1\n";
    for (size_t i = 0; i < 64000; ++i)
        file += L'{' + keyLetters.substr(i % n, 1) + keyLetters[i / n % n] + keyLetters[i / n / n % n] + L"}\tx\n";
    // One line of 400k keys, one output each: the first of each key stays, the rest are reported.
    std::wstring line, outputs;
    for (size_t i = 0; i < 400000; ++i) {
        line += keyLetters[i % n];
        outputs += i == 0 ? L"か" : L"$か";
    }
    std::wistringstream fileText(file), lineText(line + L'\t' + outputs + L'\n');

    const DWORD start = GetTickCount();
    layoutReader fileReader(2);
    EXPECT_EQ(64000u, readLayout(fileReader, fileText).entries.size());
    EXPECT_TRUE(fileReader.ok());
    layoutReader lineReader(1);
    EXPECT_EQ(n, readLayout(lineReader, lineText).entries.size());
    EXPECT_EQ(static_cast<int>(400000 - n + 1), lineReader.reportCount());
    EXPECT_LT(GetTickCount() - start, 5000u);
}
