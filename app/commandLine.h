// The command-line argument test used at start-up ("-tensou", the Startup folder's "-S").
#pragma once

#include <string>

// True when one token of `commandLine` matches `pattern` as a whole. A token is a double-quoted run
// (quotes included) or a run of characters that are neither blank nor a double quote, so a switch
// inside a quoted path never counts.
bool commandLineTokenMatches(const std::wstring& commandLine, const std::wstring& pattern);

// The same test over this process's own command line.
bool commandLineHasArgument(const std::wstring& pattern);
