// The definition files a fresh install starts with: each loads through its real reader without a
// message, and the kana layout reaches every kana a Japanese text needs.
#include "core/files/definitionRewriter.h"
#include "core/engine/kanaTable.h"
#include "core/files/layoutReader.h"
#include "core/settings/settingsDefaults.h"
#include "core/files/substitutionTable.h"
#include "core/files/swapTable.h"
#include "core/files/textFile.h"
#include "definitionCapture.h"
#include "testTempFolder.h"

#include <gtest/gtest.h>

#include <set>

namespace {

// The files the default settings name, below the program folder (here: the source tree).
std::wstring defaultPath(const char* key)
{
    settingsMap settings;
    fillDefaultSettings(settings);
    const std::wstring relative = settings.at(key);
    EXPECT_EQ(relative.compare(0, 5, L"data\\"), 0) << key;
    return std::wstring(TVN_SOURCE_DIR) + L"\\" + relative;
}

struct loadedLayout {
    layoutTable table;
    bool ok;
    std::wstring messages;
};

loadedLayout loadLayout(std::wistream& text, int kind)
{
    capturingReader<layoutReader> reader(kind);
    layoutTable table = readLayout(reader, text);
    return loadedLayout{table, reader.ok(), reader.allText()};
}

// Read as the settings holder reads it.
loadedLayout loadLayout(const char* key, int kind)
{
    textFileReader text(defaultPath(key));
    EXPECT_FALSE(text.fail()) << "cannot read the file of " << key;
    return loadLayout(text, kind);
}

substitutionTable loadSubstitution(const char* key, int kind)
{
    textFileReader text(defaultPath(key));
    EXPECT_FALSE(text.fail());
    capturingReader<substitutionReader> reader(kind);
    substitutionTable table = readSubstitution(reader, text);
    EXPECT_TRUE(reader.ok()) << testing::PrintToString(reader.allText());
    EXPECT_TRUE(reader.messages.empty()) << testing::PrintToString(reader.allText());
    return table;
}

keySequence unitOf(wchar_t c) { return getKanaTable().registerChar(c, false); }

// The outputs reachable by typing each entry's strokes through the matcher, one stroke at a time.
std::set<keySequence, keySequenceLess> typedOutputs(const layoutTable& table)
{
    std::set<keySequence, keySequenceLess> outputs;
    for (const layoutEntry& entry : table.entries) {
        layoutMatchState state;
        for (const stroke& s : entry.keys) {
            EXPECT_EQ(matchLayout(table, keySequenceOfStroke(s), state), matchDone);
            EXPECT_TRUE(state.found);
        }
        // An entry that other entries extend stays provisional until the next stroke decides.
        const keySequence reached = state.provisionalOutputs.empty() ? state.output : state.provisionalOutputs.back();
        EXPECT_EQ(reached, entry.output) << "an entry that typing its keys does not reach";
        outputs.insert(reached);
    }
    return outputs;
}

const std::wstring& requiredKana()
{
    static std::wstring kana;
    if (kana.empty()) {
        for (wchar_t c = 0x3041; c <= 0x3093; ++c) kana += c;  // ぁ .. ん, every hiragana in use
        kana += L"ヴー、。「」・";
    }
    return kana;
}

TEST(DefaultDataFiles, KanaLayoutLoadsAndReachesEveryKana)
{
    loadedLayout kana = loadLayout("VkConvertK", 1);
    EXPECT_TRUE(kana.ok);
    EXPECT_EQ(kana.messages, L"");
    EXPECT_TRUE(kana.table.copyBeforeEdit);
    // Game mode waits for a small kana after every palatal base: the layout types them as two keys.
    EXPECT_EQ(kana.table.typeModeDefault, 8);

    std::set<keySequence, keySequenceLess> outputs = typedOutputs(kana.table);
    for (wchar_t c : requiredKana()) {
        EXPECT_TRUE(outputs.count(unitOf(c))) << "not reachable: U+" << std::hex << int(c);
    }
    // Thumb chords and a sequence are both in use; no entry waits for more than two strokes.
    EXPECT_EQ(kana.table.maxKeyCount, 2);
    // The key that opens the sequence has an output of its own, so that any key that does not
    // continue the sequence settles it instead of leaving it open.
    layoutMatchState state;
    ASSERT_EQ(matchLayout(kana.table, keysOf("@"), state), matchDone);
    ASSERT_EQ(state.provisionalOutputs.size(), 1u);
    EXPECT_EQ(state.provisionalOutputs.back(), unitOf(L'＠'));
    EXPECT_EQ(matchLayout(kana.table, keysOf("d"), state), matchDone);
    EXPECT_EQ(state.output, unitOf(L'ヴ'));
    EXPECT_NE(chordFlagsOf(kana.table, key0('L')) & chordFlagChord, 0);
    EXPECT_NE(chordFlagsOf(kana.table, key0('R')) & chordFlagChord, 0);
}

TEST(DefaultDataFiles, KanaLayoutPutsEachThumbRowInGojuonOrder)
{
    loadedLayout kana = loadLayout("VkConvertK", 1);
    auto typed = [&kana](const keySequence& keys) {
        layoutMatchState state;
        matchLayout(kana.table, keys, state);
        return getKanaTable().sequenceText(state.output);
    };
    EXPECT_EQ(typed(keysOf("a")) + typed(keysOf("s")) + typed(keysOf("d")) + typed(keysOf("f")) + typed(keysOf("g")),
              L"あいうえお");
    // A chord is found whichever key of it comes first.
    EXPECT_EQ(typed(keySequence{key0('L'), key0('a')}), L"ま");
    EXPECT_EQ(typed(keySequence{key0('h'), key0('R')}), L"が");
    EXPECT_EQ(typed(keySequence{key0('R'), key0('n')}), L"ば");
    EXPECT_EQ(typed(keySequence{key0('R'), key0('y')}), L"ぱ");
}

TEST(DefaultDataFiles, RomajiConversionTypesEveryKanaOfTheLayout)
{
    loadedLayout kana = loadLayout("VkConvertK", 1);
    substitutionTable romaji = loadSubstitution("ConvertVk", 1);
    // Marks that romaji input has no key for go to the IME as characters.
    const std::wstring passedAsCharacters = L"『』…‥";
    for (const layoutEntry& entry : kana.table.entries) {
        const std::wstring text = getKanaTable().sequenceText(entry.output);
        keySequence units = entry.output;
        keySequence keys = lookupSubstitution(romaji, units);
        EXPECT_TRUE(units.empty()) << "one unit per entry";
        if (passedAsCharacters.find(text) != std::wstring::npos) continue;
        ASSERT_FALSE(keys.empty());
        EXPECT_NE(keys.front(), textUnitCode()) << "no romaji keys for " << testing::PrintToString(text);
        for (keyCode k : keys) EXPECT_TRUE(isRealKey(k) && k < 0x80) << testing::PrintToString(text);
    }
    keySequence xa = unitOf(L'ぁ');
    EXPECT_EQ(lookupSubstitution(romaji, xa), keysOf("xa"));
    keySequence shi = unitOf(L'し');
    EXPECT_EQ(lookupSubstitution(romaji, shi), keysOf("si"));
    keySequence n = unitOf(L'ん');
    EXPECT_EQ(lookupSubstitution(romaji, n), keysOf("nn"));
}

TEST(DefaultDataFiles, KanaInputConversionTypesEveryKanaOnTheJisKanaKeys)
{
    substitutionTable kanaInput = loadSubstitution("ConvertKVk", 2);
    // Everything of the JIS kana keyboard; ゎ ゐ ゑ have no key there.
    std::wstring onKeys;
    for (wchar_t c = 0x3041; c <= 0x3093; ++c) {
        if (c != L'ゎ' && c != L'ゐ' && c != L'ゑ') onKeys += c;
    }
    onKeys += L"ヴー、。「」・゛゜";
    for (wchar_t c : onKeys) {
        keySequence unit = unitOf(c);
        keySequence keys = lookupSubstitution(kanaInput, unit);
        ASSERT_FALSE(keys.empty());
        EXPECT_NE(keys.front(), textUnitCode()) << "no kana keys for U+" << std::hex << int(c);
    }
    keySequence ga = unitOf(L'が');
    EXPECT_EQ(lookupSubstitution(kanaInput, ga), keysOf("t@"));
    keySequence small = unitOf(L'ゃ');
    EXPECT_EQ(lookupSubstitution(kanaInput, small), keysOf("H7"));
}

TEST(DefaultDataFiles, AlphabetLayoutKeepsTheKeysOfTheKeyboard)
{
    loadedLayout alphabet = loadLayout("VkConvertA", 2);
    EXPECT_TRUE(alphabet.ok);
    EXPECT_EQ(alphabet.messages, L"");
    EXPECT_EQ(alphabet.table.entries.size(), 31u);
    for (const layoutEntry& entry : alphabet.table.entries) {
        ASSERT_EQ(entry.keys.size(), 1u);
        EXPECT_EQ(entry.output, keySequence{entry.keys[0].first});
        // Only keys whose Shift form the engine keeps: Shift + a letter stays a capital.
        EXPECT_TRUE(isLetterOrPunctuationKey(entry.keys[0].first));
    }
}

TEST(DefaultDataFiles, FunctionKeyLayoutCarriesTheCommands)
{
    loadedLayout functions = loadLayout("VkConvertC", 4);
    EXPECT_TRUE(functions.ok);
    EXPECT_EQ(functions.messages, L"");
    std::set<keySequence, keySequenceLess> outputs = typedOutputs(functions.table);
    for (char command : std::string("IDXQ")) {
        EXPECT_TRUE(outputs.count(keySequence{key1(command)})) << command;
    }
    EXPECT_TRUE(outputs.count(keySequence{key0('K')}));
    EXPECT_TRUE(outputs.count(keySequence{key0('C')}));
    for (char c : std::string("%+-")) EXPECT_TRUE(outputs.count(keySequence{charUnitCode(), keyCode(c)})) << c;
    // 無変換 alone switches the IME; stopping takes a chord so that it never happens by accident.
    layoutMatchState alone;
    matchLayout(functions.table, keySequence{key0('X')}, alone);
    EXPECT_EQ(alone.output, keySequence{key1('I')});
    layoutMatchState stop;
    matchLayout(functions.table, keySequence{key0('Q')}, stop);
    EXPECT_FALSE(stop.found);
}

TEST(DefaultDataFiles, NumLockLayoutIsANumericPad)
{
    loadedLayout numLock = loadLayout("VkConvertN", 8);
    EXPECT_TRUE(numLock.ok);
    EXPECT_EQ(numLock.messages, L"");
    std::set<keySequence, keySequenceLess> outputs = typedOutputs(numLock.table);
    for (char digit : std::string("0123456789.^-@/")) {
        EXPECT_TRUE(outputs.count(keySequence{key1(digit)})) << digit;
    }
}

TEST(DefaultDataFiles, SwapFilesSwapNothing)
{
    for (const char* key : {"KeyDependsOnMachine", "AlwaysReplaceFile"}) {
        textFileReader text(defaultPath(key));
        ASSERT_FALSE(text.fail()) << key;
        capturingReader<swapReader> reader(1);
        swapTable table = readKeySwap(reader, text);
        EXPECT_TRUE(reader.ok());
        EXPECT_TRUE(reader.messages.empty()) << testing::PrintToString(reader.allText());
        EXPECT_TRUE(table.swapPairs.empty());
        EXPECT_EQ(swappedKey(table, key0('a')), key0('a'));
    }
}

TEST(DefaultDataFiles, EditableCopyOfTheKanaLayoutReadsBackTheSame)
{
    testTempFolder folder;
    const std::wstring copyPath = folder.file(L"copy.tvn_kana");
    {
        textFileReader source(defaultPath("VkConvertK"));
        textFileWriter target(copyPath);
        ASSERT_TRUE(rewriteDefinition(source, target, true));
        ASSERT_TRUE(target.save().good());
    }
    const std::string bytes = testTempFolder::readBytes(copyPath);
    // Every character of the layout survives CP932, so the copy is CP932 without a mark and
    // starts with the visible line; it is marked as a draft exactly once.
    EXPECT_EQ(bytes.compare(0, 24, "visible=1\r\nDraftData=1\r\n"), 0) << bytes.substr(0, 40);
    EXPECT_EQ(bytes.find("DraftData="), bytes.rfind("DraftData="));

    loadedLayout original = loadLayout("VkConvertK", 1);
    textFileReader copyText(copyPath);
    loadedLayout copy = loadLayout(copyText, 1);
    EXPECT_TRUE(copy.ok);
    EXPECT_FALSE(copy.table.copyBeforeEdit);
    copy.table.copyBeforeEdit = true;
    EXPECT_TRUE(copy.table == original.table);
}

}  // namespace
