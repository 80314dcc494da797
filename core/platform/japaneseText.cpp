#include "core/platform/japaneseText.h"

#include <windows.h>

#include <vector>

namespace {
const UINT cp932 = 932;
}

std::wstring toWideString(const std::string& text)
{
    if (text.empty()) return std::wstring();
    const int inLength = static_cast<int>(text.size());
    int length = MultiByteToWideChar(cp932, 0, text.data(), inLength, nullptr, 0);
    if (length <= 0) return std::wstring();
    std::vector<wchar_t> buffer(static_cast<size_t>(length) + 1, L'\0');
    if (MultiByteToWideChar(cp932, 0, text.data(), inLength, buffer.data(), length) <= 0)
        return std::wstring();
    return std::wstring(buffer.data());
}

std::string toNarrowString(const std::wstring& text)
{
    if (text.empty()) return std::string();
    const int inLength = static_cast<int>(text.size());
    int length = WideCharToMultiByte(cp932, 0, text.data(), inLength, nullptr, 0, nullptr, nullptr);
    if (length <= 0) return std::string();
    std::vector<char> buffer(static_cast<size_t>(length) + 1, '\0');
    if (WideCharToMultiByte(cp932, 0, text.data(), inLength, buffer.data(), length, nullptr,
                            nullptr) <= 0)
        return std::string();
    return std::string(buffer.data());
}

wchar_t katakanaOf(wchar_t ch)
{
    if (ch >= 0x3040 && ch <= 0x309A) return static_cast<wchar_t>(ch + 0x60);
    return ch;
}

void toKatakana(std::wstring& text)
{
    for (wchar_t& ch : text) ch = katakanaOf(ch);
}

bool isJapaneseLetter(wchar_t ch)
{
    if (ch >= 0x3040 && ch <= 0x30FF) return true;
    return ch == 0x3001 || ch == 0x3002 || ch == 0x300C || ch == 0x300D;
}
