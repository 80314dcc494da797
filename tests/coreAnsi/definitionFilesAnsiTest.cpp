// The ANSI build reads the default definition files by their CP932 paths, and its readers write
// their messages to the narrow (CP932) log.
#include "core/platform/japaneseText.h"
#include "core/engine/kanaTable.h"
#include "core/files/layoutReader.h"
#include "core/platform/locks.h"
#include "core/settings/settingsDefaults.h"
#include "core/files/substitutionTable.h"
#include "core/files/swapTable.h"
#include "core/files/textFile.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>

static_assert(sizeof(TCHAR) == 1, "this test program is built for the ANSI build");

namespace {

std::string defaultPath(const char* key)
{
    settingsMap settings;
    fillDefaultSettings(settings);
    return toNarrowString(std::wstring(TVN_SOURCE_DIR) + L"\\" + settings.at(key));
}

TEST(ansiDefinitionFiles, defaultFilesLoadByCp932Path)
{
    std::ostringstream log;
    sectionLock logLock;
    const struct {
        const char* key;
        int kind;
    } layouts[] = {{"VkConvertK", 1}, {"VkConvertA", 2}, {"VkConvertC", 4}, {"VkConvertN", 8}};
    for (const auto& l : layouts) {
        textFileReader text(defaultPath(l.key));
        ASSERT_FALSE(text.fail()) << l.key;
        layoutReader reader(l.kind, &log, &logLock);
        layoutTable table = readLayout(reader, text);
        EXPECT_TRUE(reader.ok()) << l.key;
        EXPECT_FALSE(table.entries.empty()) << l.key;
    }
    const struct {
        const char* key;
        int kind;
    } conversions[] = {{"ConvertVk", 1}, {"ConvertKVk", 2}};
    for (const auto& c : conversions) {
        textFileReader text(defaultPath(c.key));
        ASSERT_FALSE(text.fail()) << c.key;
        substitutionReader reader(c.kind, &log, &logLock);
        substitutionTable table = readSubstitution(reader, text);
        EXPECT_TRUE(reader.ok()) << c.key;
        keySequence ka = getKanaTable().registerChar(L'か', false);
        EXPECT_NE(lookupSubstitution(table, ka), getKanaTable().registerChar(L'か', false)) << c.key;
    }
    for (const char* key : {"KeyDependsOnMachine", "AlwaysReplaceFile"}) {
        textFileReader text(defaultPath(key));
        ASSERT_FALSE(text.fail()) << key;
        swapReader reader(1, &log, &logLock);
        readKeySwap(reader, text);
        EXPECT_TRUE(reader.ok()) << key;
    }
    EXPECT_EQ(log.str(), "");
}

TEST(ansiDefinitionFiles, readerMessagesReachTheLogAsCp932)
{
    std::ostringstream log;
    sectionLock logLock;
    substitutionReader conversion(1, &log, &logLock);
    std::wistringstream conversionText(L"か\tk!\r\n");
    readSubstitution(conversion, conversionText);
    swapReader swap(1, &log, &logLock);
    std::wistringstream swapText(L"ab\r\n");
    readKeySwap(swap, swapText);
    EXPECT_EQ(toWideString(log.str()),
              L"! : この文字は意味が定義されていません。\n"
              L"! の最初の文字はキー表現として判読できません。\n"
              L"(line 1 : か\tk! )\n"
              L"変換元を記した最終行に対応する変換先を記した行がありません。\n");
}

}  // namespace
