#include "core/engine/layoutTable.h"

#include <algorithm>
#include <utility>

layoutTable::layoutTable(int kind) : tableKind(kind) {}

bool layoutTable::addEntry(strokeSequence keys, keySequence output)
{
    if (keys.empty()) return false;
    if (m_keyIndex.keys.size() != entries.size()) {
        m_keyIndex.keys.clear();
        for (const layoutEntry& entry : entries) m_keyIndex.keys.insert(entry.keys);
    }
    if (!m_keyIndex.keys.insert(keys).second) return false;
    maxKeyCount = std::max(maxKeyCount, static_cast<int>(keys.size()));
    entries.push_back(layoutEntry{std::move(keys), std::move(output)});
    return true;
}

void layoutTable::addChordFlags(keyCode code, int bits)
{
    if (code < chordFlags.size()) chordFlags[code] |= bits;
}

void layoutTable::sortEntries()
{
    std::sort(entries.begin(), entries.end(), [](const layoutEntry& a, const layoutEntry& b) {
        return strokeSequenceLess()(a.keys, b.keys);
    });
}

bool layoutTable::operator==(const layoutTable& other) const
{
    return typeModeDefault == other.typeModeDefault && tableKind == other.tableKind &&
           copyBeforeEdit == other.copyBeforeEdit && chordFlags == other.chordFlags &&
           halfKeyOutputs == other.halfKeyOutputs && entries == other.entries;
}

namespace {

typedef std::vector<layoutEntry>::const_iterator entryIterator;

// The entries whose keys start with `prefix`. In a table sorted by strokeSequenceLess they are
// contiguous and begin at the first entry not less than the prefix itself. Entries that are
// shorter than the prefix (proper prefixes of what was typed) are not candidates: they were
// decided when the sequence passed them.
std::pair<entryIterator, entryIterator> extensionsOf(entryIterator first, entryIterator last,
                                                     const strokeSequence& prefix)
{
    entryIterator lower = std::lower_bound(first, last, prefix, [](const layoutEntry& e, const strokeSequence& p) {
        return strokeSequenceLess()(e.keys, p);
    });
    // The end of the run: the first entry that no longer starts with the prefix.
    entryIterator upper = std::partition_point(lower, last, [&](const layoutEntry& e) { return startsWithStrokes(e.keys, prefix); });
    return {lower, upper};
}

}  // namespace

int matchLayout(const layoutTable& table, const keySequence& typedKeys, layoutMatchState& state)
{
    state.found = false;
    if (typedKeys.empty()) return matchNoKeys;
    if (state.provisionalOutputs.size() != state.pendingStrokes.size()) return matchCountMismatch;

    entryIterator first = table.entries.begin();
    entryIterator last = table.entries.end();
    if (!state.pendingStrokes.empty()) {
        auto range = extensionsOf(first, last, state.pendingStrokes);
        if (range.first == table.entries.end()) return matchPastTable;
        first = range.first;
        last = range.second;
    }

    stroke typed(typedKeys.front(), 0);
    if (typedKeys.size() >= 2) {
        keyCode other = *std::next(typedKeys.begin());
        typed = stroke(std::max(typed.first, other), std::min(typed.first, other));
    }
    state.pendingStrokes.push_back(typed);

    auto range = extensionsOf(first, last, state.pendingStrokes);
    if (range.first == range.second) {
        state.pendingStrokes.clear();
        return matchDone;
    }

    state.found = true;
    if (std::next(range.first) == range.second) {
        state.output = range.first->output;
        state.provisionalOutputs.clear();
        state.pendingStrokes.clear();
        state.pendingKind = 0;
        return matchDone;
    }

    // Several candidates: the least one is the entry that ends here, when there is one.
    const layoutEntry& least = *range.first;
    state.provisionalOutputs.push_back(least.keys == state.pendingStrokes ? least.output : keySequence());
    state.pendingKind = table.tableKind;
    return matchDone;
}

int chordFlagsOf(const layoutTable& table, unsigned code)
{
    return code < table.chordFlags.size() ? table.chordFlags[code] : 0;
}
