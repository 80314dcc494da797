#include "core/files/swapTable.h"

#include <algorithm>
#include <string_view>

namespace {

bool isControlChar(wchar_t c)
{
    return c < 0x20 || (c >= 0x7F && c <= 0x9F);
}

bool pairFromLess(const std::pair<keyCode, keyCode>& a, const std::pair<keyCode, keyCode>& b)
{
    return a.first < b.first;
}

}  // namespace

// A linear search, but over few pairs: a `from` is a key code below 256, and each is stored once.
bool swapTable::addSwapPair(keyCode from, keyCode to)
{
    for (const auto& p : swapPairs) {
        if (p.first == from) return false;
    }
    swapPairs.emplace_back(from, to);
    return true;
}

void swapTable::sortPairs()
{
    std::sort(swapPairs.begin(), swapPairs.end(), pairFromLess);
}

void swapReader::readAll(std::wistream& text)
{
    m_ok = true;
    m_expectingSources = true;
    m_sourcesUnreadable = false;
    m_pendingSources.clear();
    std::wstring raw;
    int lineNumber = 0;
    while (std::getline(text, raw)) {
        ++lineNumber;
        // The CR of a CRLF line end is not part of the line.
        std::wstring line = raw;
        if (!line.empty() && line.back() == L'\r') line.pop_back();
        if (line.compare(0, 11, L"DraftData=1") == 0) {
            m_table.copyBeforeEdit = false;
        } else if (!readKeySwapLine(line)) {
            reportText(L"(line " + std::to_wstring(lineNumber) + L" : " + line + L" )\n");
            m_ok = false;
        }
    }
    if (!m_expectingSources) {
        reportText(L"変換元を記した最終行に対応する変換先を記した行がありません。\n");
        m_ok = false;
    }
    m_table.sortPairs();
}

bool swapReader::readKeySwapLine(const std::wstring& line)
{
    if (!line.empty() && line[0] == L'\'') return true;

    keySequence keys;
    bool readable = true;
    std::wstring_view rest = line;
    while (!rest.empty()) {
        if (isControlChar(rest[0])) {
            rest.remove_prefix(1);
            continue;
        }
        const size_t before = rest.size();
        keyCode key = readKeyExpression(rest, *this);
        // A reader that took nothing would loop for ever; such a key is no key.
        if (key == 0 || rest.size() >= before) {
            readable = false;
            break;
        }
        keys.push_back(key);
    }

    // A line that can't be read still takes its turn as source or target line: otherwise every
    // later target line would be read as a source line and the keys would pair up wrongly.
    if (m_expectingSources) {
        if (!readable) {
            m_expectingSources = false;
            m_sourcesUnreadable = true;
            return false;
        }
        if (!keys.empty()) {
            m_pendingSources = keys;
            m_expectingSources = false;
        }
        return true;
    }

    m_expectingSources = true;
    if (!readable) return false;
    if (m_sourcesUnreadable) {
        // The target of a source line that was already reported: nothing to pair.
        m_sourcesUnreadable = false;
        return true;
    }
    if (keys.size() != m_pendingSources.size()) {
        reportText(L"前行の変換元個数" + std::to_wstring(m_pendingSources.size()) + L"と、変換先の個数" +
                   std::to_wstring(keys.size()) + L"は一致する必要があります。\n");
        return false;
    }
    auto target = keys.begin();
    for (keyCode source : m_pendingSources) {
        if (!m_table.addSwapPair(source, *target)) reportText(L" ... 定義の重複が発見されました。\n");
        ++target;
    }
    return true;
}

swapTable readKeySwap(swapReader& reader, std::wistream& text)
{
    reader.readAll(text);
    return reader.table();
}

keyCode swappedKey(const swapTable& table, keyCode code)
{
    auto it = std::lower_bound(table.swapPairs.begin(), table.swapPairs.end(), std::make_pair(code, keyCode(0)),
                               pairFromLess);
    return it != table.swapPairs.end() && it->first == code ? it->second : code;
}
