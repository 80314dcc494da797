#include "core/files/layoutReader.h"

#include "core/platform/japaneseText.h"
#include "core/engine/kanaTable.h"
#include "core/files/textFile.h"

#include <algorithm>
#include <cwchar>

// ---- definitionErrorSink ----

void definitionErrorSink::reportText(const std::wstring& text)
{
    write(text, std::string(), true);
}

void definitionErrorSink::reportNarrowText(const std::string& text)
{
    write(std::wstring(), text, false);
}

void definitionErrorSink::write(const std::wstring& wide, const std::string& narrow, bool isWide)
{
    ++m_reportCount;
    if (!m_log) return;
    // Definition messages always reach the log window (level 0).
    if (m_logLock) m_logLock->lock(0);
#ifdef TVN_ANSI
    *m_log << (isWide ? toNarrowString(wide) : narrow);
#else
    *m_log << (isWide ? wide : toWideString(narrow));
#endif
    m_log->flush();
    if (m_logLock) m_logLock->unlock();
}

// ---- expressions shared by the readers ----

bool splitDefinitionLine(const std::wstring& text, std::wstring& keyPart, std::wstring& outputPart)
{
    std::wstring::size_type tab = text.find(L'\t');
    if (tab == std::wstring::npos || tab == 0) return false;
    std::wstring::size_type output = text.find_first_not_of(L'\t', tab);
    if (output == std::wstring::npos) return false;
    if (text.find(L'\t', output) != std::wstring::npos) return false;
    keyPart = text.substr(0, tab);
    outputPart = text.substr(output);
    return true;
}

keyCode readKeyExpression(std::wstring_view& text, definitionErrorSink& sink)
{
    if (text.empty()) return 0;
    if (text[0] == L'F') {
        if (text.size() == 1) {
            sink.reportNarrowText("あとに文字が続くはずの F が末尾に来ています。\n");
            return 0;
        }
        if (text[1] == L'C') {
            sink.reportNarrowText("FC はここでは使えません。\n");
            return 0;
        }
        // The whole character decides: one beyond the letters never names a key.
        keyCode key = keyCodeOf(text[1], 1);
        if (key == 0) {
            sink.reportNarrowText("Fの後続文字に対処できませんでした。\n");
            return 0;
        }
        text.remove_prefix(2);
        return key;
    }
    keyCode key = keyCodeOf(text[0], 0);
    if (key == 0) {
        sink.reportText(std::wstring(1, text[0]) + L" : この文字は意味が定義されていません。\n");
        return 0;
    }
    text.remove_prefix(1);
    return key;
}

keySequence readOutputKeyExpression(std::wstring_view& text, definitionErrorSink& sink)
{
    keySequence keys;
    if (text.compare(0, 2, L"FC") == 0) {
        if (text.size() >= 3 && text[2] >= 0x21 && text[2] <= 0x7E) {
            keys.push_back(charUnitCode());
            keys.push_back(static_cast<keyCode>(text[2] & 0x7F));
            text.remove_prefix(3);
        } else {
            sink.reportNarrowText("FC の後に有効な表記が続いていません。\n");
        }
        return keys;
    }
    keyCode key = readKeyExpression(text, sink);
    if (key != 0) keys.push_back(key);
    return keys;
}

// ---- layoutReader ----

namespace {

const wchar_t themselvesAll[] = L"読句退削入帰避間上下左右前次家終挿変無大半仮制多暗空数却未";
const wchar_t mi = L'未';
const wchar_t kyaku = L'却';

bool isControlChar(wchar_t c)
{
    return c < 0x20 || (c >= 0x7F && c <= 0x9F);
}

bool beginsWith(const std::wstring& line, const wchar_t* key)
{
    return line.compare(0, std::wcslen(key), key) == 0;
}

// The value of a header line: the text after the key, without the CR of a CRLF file or any
// other control characters around it.
std::wstring headerValue(const std::wstring& line, const wchar_t* key)
{
    return trimControlChars(line.substr(std::wcslen(key)));
}

// A leading decimal number (with an optional sign); false when the text has none.
bool parseDecimal(const std::wstring& text, int& value)
{
    if (text.empty()) return false;
    const wchar_t* begin = text.c_str();
    wchar_t* end = nullptr;
    long parsed = std::wcstol(begin, &end, 10);
    if (end == begin) return false;
    value = static_cast<int>(parsed);
    return true;
}

}  // namespace

void layoutReader::readAll(std::wistream& text)
{
    m_prefixUnits.clear();
    m_halfKey = 0;
    m_ok = true;
    m_themselvesHasMi = false;
    m_themselvesHasKyaku = false;

    std::wstring line;
    int lineNumber = 0;
    while (std::getline(text, line, L'\n')) {
        ++lineNumber;
        // Definition files are CRLF text; the CR is no part of the line.
        if (!line.empty() && line.back() == L'\r') line.pop_back();
        readHeaderOrDefinition(line, lineNumber);
    }
    m_table.sortEntries();
}

void layoutReader::readHeaderOrDefinition(const std::wstring& line, int lineNumber)
{
    if (m_table.tableKind == 1 && beginsWith(line, L"TypeModeDefault=")) {
        int value = 0;
        if (parseDecimal(headerValue(line, L"TypeModeDefault="), value)) m_table.typeModeDefault = value;
        return;
    }
    for (const wchar_t* key : {L"SemiShift=", L"MultiDownHold="}) {
        if (!beginsWith(line, key)) continue;
        const int bit = key[0] == L'S' ? chordFlagSemiShift : chordFlagMultiDownHold;
        for (wchar_t c : headerValue(line, key)) {
            if (c >= 256) {
                reportText(std::wstring(key) + L"の右辺には文字「" + c + L"」を使うことができません(line " +
                           std::to_wstring(lineNumber) + L")\n");
                break;
            }
            keyCode code = keyCodeOf(c, 0);
            if (code != 0) m_table.addChordFlags(code, bit);
        }
        return;
    }
    if (beginsWith(line, L"StrokeMode=")) {
        int value = -1;
        if (parseDecimal(headerValue(line, L"StrokeMode="), value) && value >= 0 && value <= 2) {
            m_strokeMode = value;
        } else {
            reportText(L"StrokeModeの値が不正です。(line " + std::to_wstring(lineNumber) + L" : " + line + L" )\n");
        }
        return;
    }
    if (beginsWith(line, L"DraftData=1")) {
        m_table.copyBeforeEdit = false;
        return;
    }
    if (beginsWith(line, L"WantThemselves=")) {
        setThemselves(headerValue(line, L"WantThemselves="));
        return;
    }
    if (!readDefinitionLine(line)) {
        reportText(L"(line " + std::to_wstring(lineNumber) + L" : " + line + L" )\n");
        m_ok = false;
    }
}

void layoutReader::setThemselves(const std::wstring& value)
{
    if (value == L"0") {
        m_themselves.clear();
    } else if (value == L"1") {
        m_themselves.assign(themselvesAll, themselvesAll + std::wcslen(themselvesAll));
    } else {
        m_themselves.assign(value.begin(), value.end());
    }
    std::sort(m_themselves.begin(), m_themselves.end());
    m_themselves.erase(std::unique(m_themselves.begin(), m_themselves.end()), m_themselves.end());
    m_themselvesHasMi = wantsThemselves(mi);
    m_themselvesHasKyaku = wantsThemselves(kyaku);
}

bool layoutReader::wantsThemselves(wchar_t ch) const
{
    return std::binary_search(m_themselves.begin(), m_themselves.end(), ch);
}

bool layoutReader::readDefinitionLine(const std::wstring& line)
{
    std::wstring text = trimControlChars(line);
    if (text.empty() || text[0] == L'\'') return true;
    if (text[0] == L'=') return readAbbreviation(std::wstring_view(text).substr(1));
    std::wstring keyPart, outputPart;
    if (!splitDefinitionLine(text, keyPart, outputPart)) return true;
    return readDefinition(keyPart, outputPart);
}

bool layoutReader::readAbbreviation(std::wstring_view rest)
{
    m_prefixUnits.clear();
    m_halfKey = 0;

    if (m_strokeMode == 0) {
        // One key: the half of every chord that the following lines write with one key.
        // An "=" alone clears the abbreviation.
        if (!rest.empty()) {
            std::wstring_view text = rest;
            keyCode key = readKey(text);
            if (key == 0) return false;
            if (!text.empty() && !isControlChar(text[0])) {
                reportText(std::wstring(rest) + L" : 同時打鍵の省略表記にキー一つ分以外のものがあります。\n");
                return false;
            }
            m_halfKey = key;
        }
    } else {
        // Strokes that every following key part starts with; a one-key brace chord at the end
        // declares the half of a chord instead.
        std::wstring_view text = rest;
        bool halfDeclared = false;
        while (!text.empty() && !isControlChar(text[0])) {
            if (halfDeclared) {
                reportText(std::wstring(rest) + L" : 省略宣言の末尾以外で不完全な同時打鍵表現がありました。\n");
                m_prefixUnits.clear();
                m_halfKey = 0;
                return false;
            }
            bool incomplete = false;
            stroke s = readStroke(text, incomplete);
            if (s == stroke(0, 0)) {
                m_prefixUnits.clear();
                m_halfKey = 0;
                return false;
            }
            if (incomplete) {
                m_halfKey = s.first;
                halfDeclared = true;
            } else {
                m_prefixUnits.push_back(s);
            }
        }
    }

    for (const stroke& s : m_prefixUnits) markStroke(s);
    std::wstring keyPart, outputPart;
    if (splitDefinitionLine(std::wstring(rest), keyPart, outputPart)) {
        m_table.halfKeyOutputs.emplace_back(keyPart, outputPart);
        keyCode key = keyCodeOf(keyPart[0], 0);
        if (key != 0) m_table.addChordFlags(key, chordFlagChord);
    }
    return true;
}

// The key part and the output part are views that each step shortens from the front: a line
// of any length reads in time proportional to its length.
bool layoutReader::readDefinition(std::wstring_view keyPart, std::wstring_view outputPart)
{
    bool failed = false;
    while (!keyPart.empty()) {
        strokeSequence keys;
        keys.reserve(m_prefixUnits.size() + 4);
        keys = m_prefixUnits;
        const std::wstring_view stepStart = keyPart;

        if (m_strokeMode == 1 && keyPart[0] == L'{') {
            // A brace group is a sequence of single keys.
            keyPart.remove_prefix(1);
            bool anyKey = false;
            for (;;) {
                if (keyPart.empty()) {
                    reportText(std::wstring(stepStart) + L" : { で開始された表現が終了していません。\n");
                    return false;
                }
                if (keyPart[0] == L'}') {
                    keyPart.remove_prefix(1);
                    break;
                }
                keyCode key = readKey(keyPart);
                if (key == 0) return false;
                keys.push_back(stroke(key, 0));
                markStroke(keys.back());
                anyKey = true;
            }
            // "{}" would make an entry of the prefix alone, or with no prefix one with no keys.
            if (!anyKey) {
                reportText(std::wstring(stepStart) + L" : 同時押下表現の中身がありません。\n");
                return false;
            }
        } else {
            bool incomplete = false;
            stroke s = readStroke(keyPart, incomplete);
            if (s == stroke(0, 0)) return false;
            if (m_halfKey != 0) {
                if (s.second != 0) {
                    reportText(std::wstring(stepStart) + L" : 同時押下表現は省略宣言で片方が指定されていないときのみ有効です。\n");
                    return false;
                }
                s = stroke(std::max(s.first, m_halfKey), std::min(s.first, m_halfKey));
            }
            keys.push_back(s);
        }

        const std::wstring_view stepKeys = stepStart.substr(0, stepStart.size() - keyPart.size());
        const std::wstring_view::size_type dollar = outputPart.find(L'$');
        std::wstring_view output = outputPart.substr(0, dollar);
        outputPart.remove_prefix(dollar == std::wstring_view::npos ? outputPart.size() : dollar + 1);
        if (output.empty()) {
            reportText(std::wstring(stepKeys) + L" キーに対応する出力文字がありません。 \n");
            return false;
        }
        if (output[0] == mi && !m_themselvesHasMi) continue;
        if (output[0] == kyaku && !m_themselvesHasKyaku) output = std::wstring_view();

        keySequence units;
        while (!output.empty()) {
            const wchar_t c = output[0];
            if (c < 128) {
                keySequence piece = readOutputKey(output);
                if (piece.empty()) {
                    reportText(std::wstring(output) + L" ... 変換後の文字が認識できません。\n");
                    failed = true;
                    break;
                }
                units.splice(units.end(), piece);
            } else {
                units.splice(units.end(), getKanaTable().registerChar(c, wantsThemselves(c)));
                output.remove_prefix(1);
            }
        }

        const stroke last = keys.back();
        if (!m_table.addEntry(std::move(keys), std::move(units))) {
            reportText(std::wstring(stepKeys) + L" ... 定義の重複が発見されました。後に出てきた方は無視されます。\n");
            failed = true;
        }
        markStroke(last);
    }
    return !failed;
}

void layoutReader::markStroke(const stroke& s)
{
    if (s.second == 0) {
        m_table.addChordFlags(s.first, chordFlagSingle);
        return;
    }
    for (keyCode key : {s.first, s.second}) {
        if ((chordFlagsOf(m_table, key) & (chordFlagSemiShift | chordFlagMultiDownHold)) == 0)
            m_table.addChordFlags(key, chordFlagChord);
    }
}

stroke layoutReader::readStroke(std::wstring_view& text, bool& incomplete)
{
    incomplete = false;
    if (text.empty()) {
        reportNarrowText("キー表現があるべき所になにもありません。\n");
        return stroke(0, 0);
    }
    if (text[0] != L'{') return stroke(readKey(text), 0);

    const std::wstring_view chord = text;
    text.remove_prefix(1);
    std::vector<keyCode> keys;
    for (;;) {
        if (!text.empty() && text[0] == L'}') {
            text.remove_prefix(1);
            break;
        }
        if (text.empty() && !keys.empty()) reportText(std::wstring(text) + L" : 同時押下表現が完結していません。\n");
        if (keys.size() == 2 && !text.empty()) {
            reportText(std::wstring(text) + L" : 同時押下表現内にキーが三つ以上指定されています。\n");
            return stroke(0, 0);
        }
        const std::wstring_view before = text;
        keyCode key = readKey(text);
        if (key == 0) {
            reportText(std::wstring(before) + L" : 同時押下表現内に認識できない文字があります。\n");
            return stroke(0, 0);
        }
        keys.push_back(key);
    }
    if (keys.empty()) {
        reportText(std::wstring(chord.substr(0, 2)) + L" : 同時押下表現の中身がありません。\n");
        return stroke(0, 0);
    }
    if (keys.size() == 1) {
        incomplete = true;
        return stroke(keys[0], 0);
    }
    return stroke(std::max(keys[0], keys[1]), std::min(keys[0], keys[1]));
}

layoutTable readLayout(layoutReader& reader, std::wistream& text)
{
    reader.readAll(text);
    return reader.takeTable();
}
