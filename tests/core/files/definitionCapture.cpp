#include "definitionCapture.h"

#include <windows.h>

std::wstring cp932ToWide(const std::string& text)
{
    if (text.empty()) return std::wstring();
    int n = MultiByteToWideChar(932, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(932, 0, text.data(), static_cast<int>(text.size()), &wide[0], n);
    return wide;
}

keySequence keysOf(const char* letters)
{
    keySequence keys;
    for (const char* p = letters; *p; ++p) keys.push_back(key0(*p));
    return keys;
}
