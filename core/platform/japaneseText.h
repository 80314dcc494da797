// Conversions between CP932 and UTF-16, and small kana helpers. Stateless.
#pragma once

#include <string>

// CP932 bytes to wide text (code page 932, whatever the system's ANSI code page). The result ends
// at the first NUL of the input. Empty input or a failed conversion gives an empty text.
std::wstring toWideString(const std::string& text);
// Wide text to CP932 bytes. Characters CP932 lacks come out as the system maps them; never fails.
// The result ends at the first NUL of the input.
std::string toNarrowString(const std::wstring& text);

// The katakana of a hiragana letter (U+3040..U+309A, the combining voiced marks included);
// every other character is returned unchanged.
wchar_t katakanaOf(wchar_t ch);
// katakanaOf applied to every character, in place.
void toKatakana(std::wstring& text);
// Hiragana and katakana blocks (U+3040..U+30FF) and the marks 、。「」.
bool isJapaneseLetter(wchar_t ch);
