// Thousands of random and mutated definition files through every reader. The files are made by a
// fixed-seed generator, so a failure is repeatable. Nothing may crash or hang, every line a reader
// rejects must be reported with its number and a reason, and the tables must stay well-formed.
#include "core/files/definitionRewriter.h"
#include "core/files/layoutReader.h"
#include "core/settings/settingsDefaults.h"
#include "core/files/substitutionTable.h"
#include "core/files/swapTable.h"
#include "core/files/textFile.h"
#include "definitionCapture.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <sstream>

namespace {

// A small generator of our own: the same numbers on every platform and library.
class generator {
public:
    explicit generator(std::uint32_t seed) : m_state(seed ? seed : 1) {}
    std::uint32_t next()
    {
        m_state ^= m_state << 13;
        m_state ^= m_state >> 17;
        m_state ^= m_state << 5;
        return m_state;
    }
    size_t below(size_t n) { return n ? next() % n : 0; }
    bool chance(int percent) { return below(100) < static_cast<size_t>(percent); }

private:
    std::uint32_t m_state;
};

const wchar_t* const pieces[] = {
    L"a", L"b", L"k", L"z", L"0", L"9", L"-", L"^", L"\\", L"@", L"[", L";", L":", L"]", L",", L".", L"/", L"_",
    L" ", L"L", L"R", L"E", L"K", L"M", L"H", L"Q", L"X", L"Y", L"Z", L"A", L"S", L"~", L"$", L"F", L"FC", L"Fa",
    L"FI", L"FD", L"FQ", L"FK", L"F;", L"FU", L"FC%", L"FC!", L"FC\x7F", L"{", L"}", L"{ab}", L"{La}", L"{}",
    L"{abc}", L"=", L"\t", L"\t\t", L"\r", L"'", L"か", L"ゃ", L"ー", L"漢", L"未", L"却", L"多", L"\xFF41",
    L"\xD83D", L"\xDE00", L"\x0001", L"\x007F", L"\x0085", L"\xFFFF", L"\x00E9", L"\x0161", L"StrokeMode=",
    L"StrokeMode=1", L"StrokeMode=2", L"SemiShift=", L"MultiDownHold=", L"WantThemselves=", L"WantThemselves=1",
    L"DraftData=1", L"InputAssignData=1", L"TypeModeDefault=", L"99999999999", L"-1", L"visible=1", L"?", L"!",
};

std::wstring randomPieces(generator& g, size_t most)
{
    std::wstring text;
    for (size_t n = g.below(most + 1); n > 0; --n) text += pieces[g.below(sizeof pieces / sizeof pieces[0])];
    return text;
}

std::wstring randomLine(generator& g)
{
    // Most lines have the shape of a definition, so that the readers go past their first test.
    if (g.chance(60)) return randomPieces(g, 5) + (g.chance(80) ? L"\t" : L"\t\t") + randomPieces(g, 6);
    return randomPieces(g, 10);
}

std::wstring joinLines(const std::vector<std::wstring>& lines, generator& g)
{
    std::wstring text;
    const bool crlf = g.chance(70);
    for (size_t i = 0; i < lines.size(); ++i) {
        text += lines[i];
        if (i + 1 < lines.size() || g.chance(80)) text += crlf ? L"\r\n" : L"\n";
    }
    return text;
}

std::vector<std::wstring> splitLines(const std::wstring& text)
{
    std::vector<std::wstring> lines;
    std::wistringstream in(text);
    std::wstring line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == L'\r') line.pop_back();
        lines.push_back(line);
    }
    return lines;
}

std::wstring randomFile(generator& g)
{
    std::vector<std::wstring> lines;
    for (size_t n = g.below(40); n > 0; --n) lines.push_back(randomLine(g));
    return joinLines(lines, g);
}

std::wstring mutate(const std::wstring& text, generator& g)
{
    std::vector<std::wstring> lines = splitLines(text);
    for (size_t n = 1 + g.below(6); n > 0; --n) {
        if (lines.empty()) lines.push_back(randomLine(g));
        std::wstring& line = lines[g.below(lines.size())];
        switch (g.below(8)) {
        case 0:
            if (!line.empty()) line.erase(g.below(line.size()), 1);
            break;
        case 1: line.insert(g.below(line.size() + 1), pieces[g.below(sizeof pieces / sizeof pieces[0])]); break;
        case 2: line = line.substr(0, g.below(line.size() + 1)); break;
        case 3: lines.insert(lines.begin() + g.below(lines.size()), line); break;
        case 4: lines.erase(lines.begin() + g.below(lines.size())); break;
        case 5: std::swap(line, lines[g.below(lines.size())]); break;
        case 6: line = randomLine(g); break;
        default:
            if (!line.empty()) line[g.below(line.size())] = static_cast<wchar_t>(g.below(0x3100));
            break;
        }
    }
    return joinLines(lines, g);
}

bool startsWith(const std::wstring& text, const wchar_t* head)
{
    return text.compare(0, std::char_traits<wchar_t>::length(head), head) == 0;
}

// Every line a reader rejects is reported as "(line N : the line )" right after a message that
// says why; a clean read reports no line. `extraFailure` is a message that fails the file as a
// whole (no line of its own).
template <class Reader>
void checkReport(const capturingReader<Reader>& reader, const std::wstring& text, const wchar_t* extraFailure)
{
    const std::vector<std::wstring> lines = splitLines(text);
    const std::vector<std::wstring>& messages = reader.messages;
    bool anyFailure = false;
    for (size_t i = 0; i < messages.size(); ++i) {
        const std::wstring& m = messages[i];
        if (extraFailure && m == extraFailure) anyFailure = true;
        if (!startsWith(m, L"(line ")) continue;
        anyFailure = true;
        const size_t number = std::wcstoul(m.c_str() + 6, nullptr, 10);
        ASSERT_GE(number, 1u) << testing::PrintToString(m);
        ASSERT_LE(number, lines.size()) << testing::PrintToString(m);
        EXPECT_EQ(m, L"(line " + std::to_wstring(number) + L" : " + lines[number - 1] + L" )\n");
        ASSERT_GT(i, 0u) << "a rejected line without a reason: " << testing::PrintToString(m);
        EXPECT_FALSE(startsWith(messages[i - 1], L"(line "))
            << "a rejected line without a reason: " << testing::PrintToString(m);
    }
    EXPECT_EQ(reader.ok(), !anyFailure) << testing::PrintToString(reader.allText());
}

struct timer {
    DWORD start = GetTickCount();
    DWORD elapsed() const { return GetTickCount() - start; }
};

const DWORD hangLimitMs = 2000;

void throughLayoutReader(const std::wstring& text, int kind, generator& g)
{
    capturingReader<layoutReader> reader(kind);
    std::wistringstream in(text);
    timer t;
    layoutTable table = readLayout(reader, in);
    ASSERT_LT(t.elapsed(), hangLimitMs);
    checkReport(reader, text, nullptr);

    for (size_t i = 0; i < table.entries.size(); ++i) {
        ASSERT_FALSE(table.entries[i].keys.empty()) << "an entry without keys matches everything";
        for (const stroke& s : table.entries[i].keys) EXPECT_NE(s.first, 0);
        if (i > 0) {
            EXPECT_TRUE(strokeSequenceLess()(table.entries[i - 1].keys, table.entries[i].keys));
        }
    }

    // A second read of the same text gives the same table.
    capturingReader<layoutReader> again(kind);
    std::wistringstream in2(text);
    EXPECT_TRUE(readLayout(again, in2) == table);

    // Typing random keys against the table: every answer is one of the four, nothing sticks.
    layoutMatchState state;
    for (int n = 0; n < 8; ++n) {
        keySequence typed;
        for (size_t k = 1 + g.below(2); k > 0; --k) typed.push_back(static_cast<keyCode>(g.below(0x120)));
        int answer = matchLayout(table, typed, state);
        EXPECT_GE(answer, 0);
        EXPECT_LE(answer, 3);
        EXPECT_LE(state.pendingStrokes.size(), static_cast<size_t>(std::max(table.maxKeyCount, 1)));
    }
}

void throughSubstitutionReader(const std::wstring& text, int kind, generator& g)
{
    capturingReader<substitutionReader> reader(kind);
    std::wistringstream in(text);
    timer t;
    substitutionTable table = readSubstitution(reader, in);
    ASSERT_LT(t.elapsed(), hangLimitMs);
    checkReport(reader, text, nullptr);

    for (size_t i = 0; i < table.entries.size(); ++i) {
        EXPECT_FALSE(table.entries[i].input.empty());
        if (i > 0) {
            EXPECT_TRUE(keySequenceLess()(table.entries[i - 1].input, table.entries[i].input));
        }
    }
    for (size_t i = 0; i < table.keyPairs.size(); ++i) {
        for (size_t j = 0; j < i; ++j) EXPECT_NE(table.keyPairs[i].first, table.keyPairs[j].first);
    }

    capturingReader<substitutionReader> again(kind);
    std::wistringstream in2(text);
    EXPECT_TRUE(readSubstitution(again, in2) == table);

    // Each lookup takes at least one code off the front, so a walk over any sequence ends.
    keySequence sequence;
    for (const substitutionEntry& e : table.entries) {
        if (g.chance(30)) sequence.insert(sequence.end(), e.input.begin(), e.input.end());
    }
    for (size_t n = g.below(8); n > 0; --n) sequence.push_back(static_cast<keyCode>(g.below(0x110)));
    while (!sequence.empty()) {
        const size_t before = sequence.size();
        lookupSubstitution(table, sequence);
        ASSERT_LT(sequence.size(), before);
    }
}

void throughSwapReader(const std::wstring& text, int kind)
{
    static const wchar_t missingTarget[] = L"変換元を記した最終行に対応する変換先を記した行がありません。\n";
    capturingReader<swapReader> reader(kind);
    std::wistringstream in(text);
    timer t;
    swapTable table = readKeySwap(reader, in);
    ASSERT_LT(t.elapsed(), hangLimitMs);
    checkReport(reader, text, missingTarget);

    for (size_t i = 1; i < table.swapPairs.size(); ++i) {
        EXPECT_LT(table.swapPairs[i - 1].first, table.swapPairs[i].first);
    }
    for (const auto& p : table.swapPairs) EXPECT_EQ(swappedKey(table, p.first), p.second);

    capturingReader<swapReader> again(kind);
    std::wistringstream in2(text);
    EXPECT_TRUE(readKeySwap(again, in2) == table);
}

// The editable copy of any text: exactly one draft line, the visible line first for a kana
// layout, every other line kept in order, and a copy of the copy is the copy.
void throughRewriter(std::wstring text, bool kana)
{
    // With a 16-bit wint_t, U+FFFF is the wide streams' end-of-file value: no wide stream can carry
    // that noncharacter, so it is left out here.
    text.erase(std::remove(text.begin(), text.end(), L'\xFFFF'), text.end());
    std::wistringstream in(text);
    std::wostringstream out;
    ASSERT_TRUE(rewriteDefinition(in, out, kana));
    std::vector<std::wstring> copy;
    {
        std::wistringstream lines(out.str());
        std::wstring line;
        while (std::getline(lines, line)) copy.push_back(line);
    }
    size_t drafts = 0;
    std::vector<std::wstring> kept;
    for (const std::wstring& line : copy) {
        if (startsWith(line, L"DraftData=")) {
            ++drafts;
            EXPECT_EQ(line, L"DraftData=1");
        } else {
            kept.push_back(line);
        }
    }
    EXPECT_EQ(drafts, 1u);
    if (kana) {
        ASSERT_FALSE(copy.empty());
        EXPECT_TRUE(startsWith(copy[0], L"visible=1"));
    }
    std::vector<std::wstring> original;
    {
        std::wistringstream lines(text);
        std::wstring line;
        while (std::getline(lines, line)) {
            if (!startsWith(line, L"DraftData=")) original.push_back(line);
        }
    }
    if (kana && kept.size() == original.size() + 1) kept.erase(kept.begin());  // the added visible line
    EXPECT_EQ(kept, original);

    std::wistringstream again(out.str());
    std::wostringstream twice;
    ASSERT_TRUE(rewriteDefinition(again, twice, kana));
    EXPECT_EQ(twice.str(), out.str());
}

void throughEveryReader(const std::wstring& text, generator& g, size_t round)
{
    throughRewriter(text, round % 2 == 0);
    static const int layoutKinds[] = {1, 2, 4, 8};
    throughLayoutReader(text, layoutKinds[round % 4], g);
    throughSubstitutionReader(text, 1 + static_cast<int>(round % 2), g);
    throughSwapReader(text, 1 + static_cast<int>(round % 2));
}

TEST(DefinitionFuzz, RandomFilesThroughEveryReader)
{
    generator g(20261209);
    for (size_t round = 0; round < 2000; ++round) {
        const std::wstring text = randomFile(g);
        SCOPED_TRACE("round " + std::to_string(round));
        throughEveryReader(text, g, round);
        if (HasFatalFailure() || HasFailure()) return;  // one repeatable case is enough to look at
    }
}

TEST(DefinitionFuzz, MutatedDefaultFilesThroughEveryReader)
{
    // Every definition file a fresh install starts with, as the default settings name them.
    std::vector<std::wstring> originals;
    for (size_t i = 0; i < defaultSettingsCount(); ++i) {
        const std::wstring path = defaultSettingsTable()[i].text;
        if (path.compare(0, 5, L"data\\") != 0) continue;
        textFileReader text(std::wstring(TVN_SOURCE_DIR) + L"\\" + path);
        ASSERT_FALSE(text.fail());
        originals.push_back(text.str());
    }
    ASSERT_EQ(originals.size(), 8u);
    generator g(4242);
    for (size_t round = 0; round < 1400; ++round) {
        const std::wstring text = mutate(originals[round % originals.size()], g);
        SCOPED_TRACE("round " + std::to_string(round));
        throughEveryReader(text, g, round);
        if (HasFatalFailure() || HasFailure()) return;
    }
}

}  // namespace
