#include "core/link/imeClassifier.h"

#include "core/platform/japaneseText.h"

#include <algorithm>
#include <cstddef>
#include <exception>

namespace {

const wchar_t defaultPattern[] = L" ";

const wchar_t* const sentences[imeClassifier::listCount] = {
    L" : 『風』に対する動作と同じ処理をする IME として指定されています。",
    L" : 使用中はTavolinの処理を停止する IME として指定されています。",
    L" : SCS_SETSTR を使わない IME として指定されています。",
    L" : かな文字しか直接出力できない IME として指定されています。",
};
const wchar_t noListSentence[] = L" : 特段の指定がない IME です。自動判定します。";

// A name in list 3 and list 2 counts as list 3; list 0 wins over everything.
const int testOrder[imeClassifier::listCount] = {0, 1, 3, 2};

}  // namespace

imeClassifier::imeClassifier()
{
    for (int i = 0; i < listCount; ++i) {
        m_lists[i].assign(defaultPattern, boost::regex_constants::normal);
        m_compiled[i] = true;
        m_flags[i] = false;
    }
}

namespace {

// The regular-expression library quotes the pattern in its message with each character cut to one
// byte, which turns Japanese names into garbage: its own description is kept, the pattern is quoted
// again as it was typed, marked where the error lies.
std::wstring regexErrorText(const boost::regex_error& e, const std::wstring& pattern)
{
    std::string description = e.what();
    const std::string::size_type quoted = description.find("  The error occurred while parsing");
    if (quoted == std::string::npos) return toWideString(description);
    description.erase(quoted);
    const std::wstring::size_type at = std::min<std::wstring::size_type>(static_cast<std::wstring::size_type>(
                                                                              std::max<std::ptrdiff_t>(e.position(), 0)),
                                                                          pattern.size());
    return toWideString(description) + L"  The error occurred while parsing the regular expression: '" +
           pattern.substr(0, at) + L">>>HERE>>>" + pattern.substr(at) + L"'.";
}

}  // namespace

std::wstring imeClassifier::assignImeRegex(int listIndex, const std::wstring& pattern)
{
    if (listIndex < 0 || listIndex >= listCount) return L"IME名称リストの番号が範囲外です。";

    // Compile outside the lock: a slow or failing compile never holds up the agent thread.
    boost::wregex compiled;
    std::wstring error;
    try {
        compiled.assign(pattern.empty() ? std::wstring(defaultPattern) : pattern, boost::regex_constants::normal);
    } catch (const boost::regex_error& e) {
        error = regexErrorText(e, pattern);
    } catch (const std::exception& e) {
        error = toWideString(e.what());
        if (error.empty()) error = L"?";
    }

    scopedLock guard(m_lock);
    if (error.empty()) {
        m_lists[listIndex].swap(compiled);
        m_compiled[listIndex] = true;
    } else {
        m_compiled[listIndex] = false;
    }
    return error;
}

bool imeClassifier::matches(int listIndex, const std::wstring& name) const
{
    if (!m_compiled[listIndex]) return false;
    try {
        return boost::regex_match(name, m_lists[listIndex]);
    } catch (const std::exception&) {
        // A pattern too complex for this name: the list does not claim it.
        return false;
    }
}

std::wstring imeClassifier::classifyIme(const std::wstring& imeName)
{
    scopedLock guard(m_lock);
    for (bool& flag : m_flags) flag = false;
    for (int listIndex : testOrder) {
        if (matches(listIndex, imeName)) {
            m_flags[listIndex] = true;
            return sentences[listIndex];
        }
    }
    return noListSentence;
}

bool imeClassifier::candidateThrough() const
{
    scopedLock guard(m_lock);
    return m_flags[throughOnCandidateList];
}

bool imeClassifier::alwaysThrough() const
{
    scopedLock guard(m_lock);
    return m_flags[throughAlwaysList];
}

bool imeClassifier::cantUseScsSetstr() const
{
    scopedLock guard(m_lock);
    return m_flags[cantUseScsSetstrList];
}

bool imeClassifier::cantAcceptSymbolDirect() const
{
    scopedLock guard(m_lock);
    return m_flags[cantAcceptSymbolDirectList];
}
