#include "app/commandLine.h"

#include <gtest/gtest.h>

TEST(commandLine, startupSwitchMatchesWholeTokensOnly)
{
    const std::wstring s = L"[-/][sS]";
    EXPECT_TRUE(commandLineTokenMatches(L"TavolinXP.exe -S", s));
    EXPECT_TRUE(commandLineTokenMatches(L"TavolinXP.exe /s", s));
    EXPECT_TRUE(commandLineTokenMatches(L"TavolinXP.exe\t-s   other", s));
    EXPECT_FALSE(commandLineTokenMatches(L"TavolinXP.exe -SS", s));
    EXPECT_FALSE(commandLineTokenMatches(L"TavolinXP.exe S", s));
    EXPECT_FALSE(commandLineTokenMatches(L"TavolinXP.exe", s));
}

TEST(commandLine, quotedRunIsOneTokenWithItsQuotes)
{
    const std::wstring s = L"[-/][sS]";
    // The path holds " -S " inside quotes: it is part of the program token, not a switch.
    EXPECT_FALSE(commandLineTokenMatches(L"\"C:\\Program Files\\x -S y\\TavolinXP.exe\"", s));
    EXPECT_TRUE(commandLineTokenMatches(L"\"C:\\Program Files\\Tavolin\\TavolinXP.exe\" -S", s));
    // A quoted "-S" keeps its quotes, so it is not the bare switch either.
    EXPECT_FALSE(commandLineTokenMatches(L"prog \"-S\"", s));
    EXPECT_TRUE(commandLineTokenMatches(L"prog \"-S\"", L"\"-S\""));
}

TEST(commandLine, handOverArgumentAndBadPattern)
{
    EXPECT_TRUE(commandLineTokenMatches(L"TavolinMe.exe -tensou", L"-tensou"));
    EXPECT_FALSE(commandLineTokenMatches(L"TavolinMe.exe -tensouX", L"-tensou"));
    EXPECT_FALSE(commandLineTokenMatches(L"prog -x", L"[unclosed"));
}
