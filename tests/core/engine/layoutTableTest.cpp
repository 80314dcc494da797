#include "core/engine/layoutTable.h"

#include <gtest/gtest.h>

namespace {

keySequence seq(std::initializer_list<keyCode> codes) { return keySequence(codes); }

const keyCode A = 0x1E, B = 0x30, C = 0x2E, D = 0x20, X = 0x100, Y = 0x101, Z = 0x102, W = 0x103;

stroke s(keyCode k) { return stroke(k, 0); }

layoutTable tableOf(std::initializer_list<std::pair<strokeSequence, keySequence>> definitions, int kind = 1)
{
    layoutTable table(kind);
    for (const auto& d : definitions) EXPECT_TRUE(table.addEntry(d.first, d.second));
    table.sortEntries();
    return table;
}

}  // namespace

TEST(layoutMatch, aLoneExtensionIsReachedAtOnce)
{
    layoutTable table = tableOf({{{s(A), s(B)}, seq({Y})}});
    layoutMatchState state;
    EXPECT_EQ(matchDone, matchLayout(table, seq({A}), state));
    EXPECT_TRUE(state.found);
    EXPECT_EQ(seq({Y}), state.output);
    EXPECT_TRUE(state.pendingStrokes.empty());
    EXPECT_TRUE(state.provisionalOutputs.empty());
    EXPECT_EQ(0, state.pendingKind);
}

TEST(layoutMatch, aSequenceThatPassedAShorterEntryReachesTheLongerOne)
{
    // a -> X and a b -> Y: typing a b must give Y and close the sequence, so the next key
    // starts afresh instead of being swallowed by a sequence that never ends.
    layoutTable table = tableOf({{{s(A)}, seq({X})}, {{s(A), s(B)}, seq({Y})}, {{s(C)}, seq({Z})}}, 2);
    layoutMatchState state;
    ASSERT_EQ(matchDone, matchLayout(table, seq({A}), state));
    EXPECT_TRUE(state.found);
    EXPECT_TRUE(state.output.empty());
    EXPECT_EQ(std::vector<keySequence>{seq({X})}, state.provisionalOutputs);
    EXPECT_EQ(strokeSequence{s(A)}, state.pendingStrokes);
    EXPECT_EQ(2, state.pendingKind);

    ASSERT_EQ(matchDone, matchLayout(table, seq({B}), state));
    EXPECT_TRUE(state.found);
    EXPECT_EQ(seq({Y}), state.output);
    EXPECT_TRUE(state.pendingStrokes.empty());
    EXPECT_TRUE(state.provisionalOutputs.empty());
    EXPECT_EQ(0, state.pendingKind);

    ASSERT_EQ(matchDone, matchLayout(table, seq({C}), state));
    EXPECT_TRUE(state.found);
    EXPECT_EQ(seq({Z}), state.output);
}

TEST(layoutMatch, longSequencesKeepOpenOnlyWhileSeveralEntriesExtendThem)
{
    layoutTable table = tableOf({{{s(A), s(B), s(C)}, seq({Z})},
                                 {{s(A), s(B), s(D)}, seq({W})},
                                 {{s(A), s(B)}, seq({Y})},
                                 {{s(B)}, seq({X})}});
    layoutMatchState state;
    ASSERT_EQ(matchDone, matchLayout(table, seq({A}), state));
    ASSERT_EQ(matchDone, matchLayout(table, seq({B}), state));
    EXPECT_TRUE(state.found);
    EXPECT_EQ((std::vector<keySequence>{keySequence(), seq({Y})}), state.provisionalOutputs);
    ASSERT_EQ(matchDone, matchLayout(table, seq({D}), state));
    EXPECT_TRUE(state.found);
    EXPECT_EQ(seq({W}), state.output);

    // A stroke no entry continues with: nothing found, the pending strokes are dropped.
    state = layoutMatchState();
    ASSERT_EQ(matchDone, matchLayout(table, seq({A}), state));
    ASSERT_EQ(matchDone, matchLayout(table, seq({A}), state));
    EXPECT_FALSE(state.found);
    EXPECT_TRUE(state.pendingStrokes.empty());
    EXPECT_EQ(1u, state.provisionalOutputs.size());   // the engine takes the last provisional output
}

TEST(layoutMatch, unknownKeysAndChordsInEitherOrder)
{
    layoutTable table = tableOf({{{stroke(D, A)}, seq({X})}, {{s(A)}, seq({Y})}});
    layoutMatchState state;
    EXPECT_EQ(matchDone, matchLayout(table, seq({C}), state));
    EXPECT_FALSE(state.found);
    EXPECT_TRUE(state.pendingStrokes.empty());

    for (keySequence chord : {seq({A, D}), seq({D, A}), seq({D, A, B})}) {
        state = layoutMatchState();
        EXPECT_EQ(matchDone, matchLayout(table, chord, state));
        EXPECT_TRUE(state.found);
        EXPECT_EQ(seq({X}), state.output);
    }
}

TEST(layoutMatch, refusedStepsLeaveTheStateAlone)
{
    layoutTable table = tableOf({{{s(A)}, seq({X})}, {{s(A), s(B)}, seq({Y})}});
    layoutMatchState state;
    state.found = true;
    EXPECT_EQ(matchNoKeys, matchLayout(table, keySequence(), state));
    EXPECT_FALSE(state.found);

    // Pending strokes beyond every entry (the table was replaced meanwhile).
    state.pendingStrokes = {s(Z)};
    state.provisionalOutputs = {seq({W})};
    state.pendingKind = 1;
    EXPECT_EQ(matchPastTable, matchLayout(table, seq({A}), state));
    EXPECT_FALSE(state.found);
    EXPECT_EQ(strokeSequence{s(Z)}, state.pendingStrokes);
    EXPECT_EQ(std::vector<keySequence>{seq({W})}, state.provisionalOutputs);
    EXPECT_EQ(1, state.pendingKind);

    // Pending strokes that no entry extends, but that sort before some entry: not found.
    state.pendingStrokes = {s(1)};
    EXPECT_EQ(matchDone, matchLayout(table, seq({A}), state));
    EXPECT_FALSE(state.found);
    EXPECT_TRUE(state.pendingStrokes.empty());

    state.pendingStrokes.clear();
    state.provisionalOutputs = {seq({W})};
    EXPECT_EQ(matchCountMismatch, matchLayout(table, seq({A}), state));
    EXPECT_TRUE(state.pendingStrokes.empty());
    EXPECT_EQ(1u, state.provisionalOutputs.size());

    layoutTable empty(1);
    state = layoutMatchState();
    EXPECT_EQ(matchDone, matchLayout(empty, seq({A}), state));
    EXPECT_FALSE(state.found);
}

TEST(layoutTables, duplicatesEmptyKeysAndEquality)
{
    layoutTable table(4);
    EXPECT_TRUE(table.addEntry({s(A), s(B)}, seq({X})));
    EXPECT_TRUE(table.addEntry({s(A)}, seq({X})));
    EXPECT_FALSE(table.addEntry({s(A)}, seq({Y})));
    EXPECT_FALSE(table.addEntry({s(A), s(B)}, seq({Y})));
    EXPECT_TRUE(table.addEntry({stroke(B, A)}, seq({Y})));
    EXPECT_FALSE(table.addEntry({}, seq({Y})));   // no keys would match every sequence
    EXPECT_EQ(2, table.maxKeyCount);
    EXPECT_EQ(3u, table.entries.size());
    EXPECT_EQ(seq({X}), table.entries[1].output);   // the first definition stays

    // Copies, sorted tables and tables moved into place still know every entry they hold.
    layoutTable sorted = table;
    sorted.sortEntries();
    EXPECT_FALSE(sorted.addEntry({stroke(B, A)}, seq({Z})));
    EXPECT_TRUE(sorted.addEntry({s(C)}, seq({Z})));
    layoutTable moved(1);
    moved = std::move(sorted);
    EXPECT_FALSE(moved.addEntry({s(C)}, seq({W})));
    EXPECT_FALSE(moved.addEntry({s(A), s(B)}, seq({W})));
    EXPECT_EQ(4u, moved.entries.size());

    layoutTable copy = table;
    EXPECT_FALSE(copy.addEntry({s(A)}, seq({Z})));
    copy.maxKeyCount = 7;
    EXPECT_EQ(table, copy);
    copy.addChordFlags(A, chordFlagSemiShift);
    EXPECT_NE(table, copy);
    copy = table;
    copy.halfKeyOutputs.emplace_back(L"x", L"y");
    EXPECT_NE(table, copy);
    copy = table;
    copy.copyBeforeEdit = false;
    EXPECT_NE(table, copy);
}

TEST(layoutTables, chordFlagsBeyondTheTableAnswerZero)
{
    layoutTable table(1);
    table.addChordFlags(0xFF, chordFlagChord);
    table.addChordFlags(0x100, chordFlagSingle);   // ignored, never written past the array
    table.addChordFlags(0xFFFF, chordFlagSingle);
    EXPECT_EQ(chordFlagChord, chordFlagsOf(table, 0xFF));
    EXPECT_EQ(0, chordFlagsOf(table, 0x100));
    EXPECT_EQ(0, chordFlagsOf(table, 0x1FF));
    EXPECT_EQ(0, chordFlagsOf(table, 0xFFFF));
    EXPECT_EQ(0, chordFlagsOf(table, 0x10000));
}
