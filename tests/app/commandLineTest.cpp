#include "app/commandLine.h"
#include "app/startup.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

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

TEST(handOver, decisionTable)
{
    // Which programs the hand-over tries, and its answer, for each platform test, "-tensou" and
    // the result of each start.
    struct row {
        bool rightPlatform;
        bool startedByOther;
        std::vector<bool> startResults;  // one per try, in order
        int answer;
        size_t tries;
    };
    const row rows[] = {
        {true, false, {true, true}, 0, 0},     // the right build runs on
        {true, true, {true, true}, 0, 0},      // "-tensou" on the right platform is ignored
        {false, true, {true, true}, 4, 0},     // started by the other build: no ping-pong
        {false, false, {true, true}, 2, 1},    // the first program starts
        {false, false, {false, true}, 2, 2},   // the second one after the first failed
        {false, false, {false, false}, 3, 2},  // neither: failure
    };
    for (const row& r : rows) {
        std::vector<std::string> tried;
        const int answer = handOverDecision(r.rightPlatform, r.startedByOther, [&](const char* program) {
            const bool started = r.startResults[tried.size()];
            tried.push_back(program);
            return started;
        });
        EXPECT_EQ(answer, r.answer) << r.rightPlatform << r.startedByOther << tried.size();
        ASSERT_EQ(tried.size(), r.tries);
        // The Unicode build hands over to the ANSI one, under either product name.
        const std::vector<std::string> order{"OrvessaMe.exe", "TavolinMe.exe"};
        EXPECT_TRUE(std::equal(tried.begin(), tried.end(), order.begin()));
    }
}
