#include "app/commandLine.h"

#include <windows.h>

#include <boost/regex.hpp>

bool commandLineTokenMatches(const std::wstring& commandLine, const std::wstring& pattern)
{
    static const boost::wregex token(L"(?:\"[\\s\\S]*?\")|(?:[^\\s\"]+)");
    boost::wregex test;
    try {
        test.assign(L"^" + pattern + L"$");
    } catch (const boost::regex_error&) {
        return false;
    }
    boost::wsregex_iterator it(commandLine.begin(), commandLine.end(), token), end;
    for (; it != end; ++it) {
        const std::wstring text = it->str();
        if (boost::regex_search(text, test)) return true;
    }
    return false;
}

bool commandLineHasArgument(const std::wstring& pattern)
{
    const wchar_t* line = GetCommandLineW();
    return commandLineTokenMatches(line ? line : L"", pattern);
}
