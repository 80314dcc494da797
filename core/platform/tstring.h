// The text type of the build: wide in the Unicode build, CP932 bytes in the ANSI build.
// Paths and other texts handed to the A/W Windows calls use it.
#pragma once

#include "core/platform/japaneseText.h"

#include <windows.h>

#include <string>

using tstring = std::basic_string<TCHAR>;

// Between the build's text type and wide text (CP932 in the ANSI build).
inline tstring toT(const std::wstring& text)
{
#ifdef TVN_ANSI
    return toNarrowString(text);
#else
    return text;
#endif
}

inline std::wstring fromT(const tstring& text)
{
#ifdef TVN_ANSI
    return toWideString(text);
#else
    return text;
#endif
}
