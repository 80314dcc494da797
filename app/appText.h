// The shell composes its texts as wide strings; the core's paths and log stream use the build's
// own text type (CP932 in the ANSI build). These convert at that seam.
#pragma once

#include "core/japaneseText.h"
#include "core/tstring.h"

#include <string>

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
