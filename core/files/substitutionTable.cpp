#include "core/files/substitutionTable.h"

#include "core/engine/kanaTable.h"

#include <algorithm>
#include <string_view>
#include <utility>

namespace {

bool isControlChar(wchar_t c)
{
    return c < 0x20 || (c >= 0x7F && c <= 0x9F);
}

bool beginsWith(const std::wstring& line, const wchar_t* head)
{
    return line.compare(0, std::char_traits<wchar_t>::length(head), head) == 0;
}

// Definition files are CRLF text split at LF: the CR belongs to the line end, not to the line.
std::wstring withoutLineEnd(std::wstring line)
{
    if (!line.empty() && line.back() == L'\r') line.pop_back();
    return line;
}

const wchar_t unreadableText[] = L" の最初の文字はキー表現として判読できません。";

}  // namespace

bool substitutionTable::addSubstitution(keySequence input, keySequence output)
{
    if (m_inputIndex.inputs.size() != entries.size()) {
        m_inputIndex.inputs.clear();
        for (const substitutionEntry& e : entries) m_inputIndex.inputs.insert(e.input);
    }
    if (!m_inputIndex.inputs.insert(input).second) return false;
    entries.push_back(substitutionEntry{std::move(input), std::move(output)});
    return true;
}

// A linear search, but over few pairs: a `from` is a key code below 256, and each is stored once.
bool substitutionTable::addKeyPair(keyCode from, keyCode to)
{
    for (const auto& p : keyPairs) {
        if (p.first == from) return false;
    }
    keyPairs.emplace_back(from, to);
    return true;
}

void substitutionTable::sortEntries()
{
    std::sort(entries.begin(), entries.end(), [](const substitutionEntry& a, const substitutionEntry& b) {
        return keySequenceLess()(a.input, b.input);
    });
}

bool substitutionTable::operator==(const substitutionTable& other) const
{
    return tableKind == other.tableKind && copyBeforeEdit == other.copyBeforeEdit &&
           entries == other.entries && keyPairs == other.keyPairs;
}

void substitutionReader::readAll(std::wistream& text)
{
    m_ok = true;
    m_inputAssign = false;
    std::wstring raw;
    int lineNumber = 0;
    while (std::getline(text, raw)) {
        ++lineNumber;
        const std::wstring line = withoutLineEnd(raw);
        if (beginsWith(line, L"DraftData=1")) {
            m_table.copyBeforeEdit = false;
        } else if (beginsWith(line, L"InputAssignData=1")) {
            m_inputAssign = true;
        } else if (!readSubstitutionLine(line)) {
            reportText(L"(line " + std::to_wstring(lineNumber) + L" : " + line + L" )\n");
            m_ok = false;
        }
    }
    m_table.sortEntries();
}

// The input part and the output part are views that each step shortens from the front: a line
// of any length reads in time proportional to its length.
bool substitutionReader::readSubstitutionLine(const std::wstring& line)
{
    if (!line.empty() && line[0] == L'\'') return true;
    std::wstring inputPart, outputPart;
    if (!splitDefinitionLine(line, inputPart, outputPart)) return true;
    std::wstring_view input = inputPart, output = outputPart;

    for (int step = 1; !input.empty(); ++step) {
        const std::wstring_view before = input;
        keySequence unit;
        if (input[0] >= 128) {
            unit = getKanaTable().registerChar(input[0], false);
            input.remove_prefix(1);
        } else {
            unit = readOutputKeyExpression(input, *this);
        }
        if (unit.empty() || input.size() >= before.size()) {
            reportText(std::wstring(before) + unreadableText);
            return false;
        }
        const std::wstring stepText(before.substr(0, before.size() - input.size()));
        if (output.empty()) {
            reportText(std::to_wstring(step) + L"番目の " + stepText + L" に対応するキー表現がありません。");
            return false;
        }

        if (!m_inputAssign) {
            keySequence keys;
            while (!output.empty() && !isControlChar(output[0]) && output[0] != L' ') {
                const std::wstring_view rest = output;
                keySequence key = readOutputKeyExpression(output, *this);
                if (key.empty() || output.size() >= rest.size()) {
                    reportText(std::wstring(rest) + unreadableText + L"\n");
                    return false;
                }
                keys.splice(keys.end(), key);
            }
            // One separator ends the group. A second one right after it is an empty group: its
            // unit gets an entry that types nothing, as stored files expect.
            if (!output.empty()) output.remove_prefix(1);
            if (!m_table.addSubstitution(std::move(unit), std::move(keys))) {
                reportText(stepText + L" ... 定義の重複が発見されました。\n");
            }
        } else {
            // Key-to-key pairs: both sides must be single keys (a character unit is no key).
            if (unit.size() != 1) {
                reportText(stepText + L" : InputAssignData=1 以降はキー表現同士の定義となります。\n");
                return false;
            }
            const std::wstring_view rest = output;
            keySequence key = readOutputKeyExpression(output, *this);
            if (key.empty()) {
                reportText(std::wstring(rest) + unreadableText + L"\n");
                return false;
            }
            if (key.size() != 1) {
                reportText(std::wstring(rest.substr(0, rest.size() - output.size())) +
                           L" : InputAssignData=1 以降はキー表現同士の定義となります。\n");
                return false;
            }
            if (!m_table.addKeyPair(unit.front(), key.front())) {
                reportText(stepText + L" ... 定義の重複が発見されました。\n");
            }
        }
    }
    return true;
}

substitutionTable readSubstitution(substitutionReader& reader, std::wistream& text)
{
    reader.readAll(text);
    return reader.takeTable();
}

keySequence lookupSubstitution(const substitutionTable& table, keySequence& sequence)
{
    if (sequence.empty()) return keySequence();
    keySequence unit;
    unit.splice(unit.end(), sequence, sequence.begin(), nextUnit(sequence.begin(), sequence.end()));

    auto find = [&table](const keySequence& input) -> const substitutionEntry* {
        auto it = std::lower_bound(table.entries.begin(), table.entries.end(), input,
                                   [](const substitutionEntry& e, const keySequence& key) {
                                       return keySequenceLess()(e.input, key);
                                   });
        return it != table.entries.end() && it->input == input ? &*it : nullptr;
    };
    if (const substitutionEntry* e = find(unit)) return e->output;

    // 多 stands for the IME on/off key in layouts that emit it; its keys are that key's entry.
    static const keySequence imeToggleChar = getKanaTable().registerChar(L'多', false);
    if (unit == imeToggleChar) {
        if (const substitutionEntry* e = find(keySequence{keyCodeOf('I', 1)})) return e->output;
    }
    return unit;
}

keyCode pairedKey(const substitutionTable& table, keyCode code)
{
    for (const auto& p : table.keyPairs) {
        if (p.first == code) return p.second;
    }
    return code;
}
