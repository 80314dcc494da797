#include "core/settings/versionInfo.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <map>

using ::testing::HasSubstr;
using ::testing::MatchesRegex;
using ::testing::StartsWith;

namespace {

// Answers given product versions per path, or a failure text for unknown paths.
class fakeVersions : public versionProvider {
public:
    std::map<std::wstring, std::wstring> texts;
    std::wstring productVersion(const std::wstring& path, bool& found) override
    {
        auto it = texts.find(path);
        found = it != texts.end();
        return found ? it->second : L"(GetFileVersionInfoSizeが0を返しました)";
    }
};

std::wstring ownPath()
{
    wchar_t path[MAX_PATH];
    DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    return std::wstring(path, length);
}

}  // namespace

TEST(versionNumberTest, takesTheFirstDigitPointFourDigitsWithoutThePoint)
{
    int number = -1;
    EXPECT_TRUE(parseVersionNumber(L"1.3007", number));
    EXPECT_EQ(13007, number);
    EXPECT_TRUE(parseVersionNumber(L"Tavolin 版2.0001 (1.3007)", number));
    EXPECT_EQ(20001, number);
    // A search, not a whole match: the digit before the point is the last one before it.
    EXPECT_TRUE(parseVersionNumber(L"12.30071", number));
    EXPECT_EQ(23007, number);
}

TEST(versionNumberTest, leavesTheNumberWithoutAMatch)
{
    int number = 4242;
    EXPECT_FALSE(parseVersionNumber(L"1.300", number));
    EXPECT_FALSE(parseVersionNumber(L"1,3007", number));
    EXPECT_FALSE(parseVersionNumber(L"", number));
    EXPECT_EQ(4242, number);
}

TEST(versionInfoTest, theProgramsVersionGivesTheNumberTheLibrarysDoesNot)
{
    fakeVersions versions;
    versions.texts[L"C:\\p\\TavolinXP.exe"] = L"1.3007";
    versions.texts[L"C:\\p\\TavolinXPDll.dll"] = L"9.9999";
    versionInfo info(versions, L"C:\\p\\TavolinXP.exe", L"C:\\p\\TavolinXPDll.dll");
    EXPECT_EQ(13007, info.versionNumber());
}

TEST(versionInfoTest, aVersionWithoutNumberOrAMissingResourceKeeps13000)
{
    fakeVersions versions;
    versions.texts[L"C:\\p\\TavolinXP.exe"] = L"beta";
    versionInfo named(versions, L"C:\\p\\TavolinXP.exe", L"C:\\p\\x.dll");
    EXPECT_EQ(13000, named.versionNumber());
    versionInfo missing(versions, L"C:\\p\\other.exe", L"C:\\p\\x.dll");
    EXPECT_EQ(13000, missing.versionNumber());
    EXPECT_THAT(missing.versionText(), HasSubstr(L"(GetFileVersionInfoSizeが0を返しました)"));
}

TEST(versionInfoTest, textNamesTheProgramTheLibraryAndTheAgent)
{
    fakeVersions versions;
    versions.texts[L"C:\\p\\TavolinXP.exe"] = L"1.3007";
    versions.texts[L"C:\\p\\TavolinXPDll.dll"] = L"1.3007 dll";
    versionInfo info(versions, L"C:\\p\\TavolinXP.exe", L"C:\\p\\TavolinXPDll.dll");
#ifdef TVN_ANSI
    const std::wstring label = L"MBCS/Windows Me";
#else
    const std::wstring label = L"UNICODE/Windows XP";
#endif
    EXPECT_EQ(L"\nTavolin (" + label + L") : 1.3007\nTavolinXPDll.dll(Tavolin用DLL): 1.3007 dll\n\n",
              info.versionText());

    info.agentName = L"Windows2000/XP専用入力代行";
    info.composeVersionText();
    EXPECT_THAT(info.versionText(), testing::EndsWith(L"Windows2000/XP専用入力代行\n"));
}

TEST(versionInfoTest, logHeaderHasDashesBuildAndCompilerLinesAndAnUnpaddedDate)
{
    fakeVersions versions;
    versions.texts[L"C:\\p\\TavolinXP.exe"] = L"1.3007";
    versionInfo info(versions, L"C:\\p\\TavolinXP.exe", L"C:\\p\\TavolinXPDll.dll");
    SYSTEMTIME when = {};
    when.wYear = 2026;
    when.wMonth = 1;
    when.wDay = 2;
    when.wHour = 7;
    when.wMinute = 5;
    when.wSecond = 9;
    const std::wstring header = info.writeLogHeader(L"C:\\p\\TavolinXP.exe", L"Dec  9 2026", L"04:05:06", when);
    const std::wstring dashes(60, L'-');
    EXPECT_THAT(header, StartsWith(dashes + info.versionText() + L"作成時刻 : Dec  9 2026 04:05:06\n"));
    EXPECT_THAT(header, HasSubstr(L"\nC:\\p\\TavolinXP.exe\n" + dashes + L"\n2026年1月2日 7時5分9秒 : 記録を開始します。\n"));
    // The compiler line ends in a version written "%d.%02d".
    const size_t start = header.find(L"コンパイラ : ");
    ASSERT_NE(std::wstring::npos, start);
    const std::wstring line = header.substr(start, header.find(L'\n', start) - start);
    std::string narrow(line.begin() + 7, line.end());
    EXPECT_THAT(narrow, MatchesRegex(".* \\d+\\.\\d\\d"));
}

TEST(fileVersionTest, readsTheProductVersionOfThisProgramsResource)
{
    fileVersionProvider files;
    bool found = false;
    EXPECT_EQ(L"1.3007", files.productVersion(ownPath(), found));
    EXPECT_TRUE(found);

    versionInfo info(files, ownPath(), L"Z:\\nowhere\\TavolinXPDll.dll");
    EXPECT_EQ(13007, info.versionNumber());
    EXPECT_THAT(info.versionText(), HasSubstr(L"TavolinXPDll.dll(Tavolin用DLL): (GetFileVersionInfoSizeが0を返しました)\n"));
}

TEST(fileVersionTest, aFileWithoutVersionResourceGivesTheFailedStep)
{
    fileVersionProvider files;
    bool found = true;
    EXPECT_EQ(L"(GetFileVersionInfoSizeが0を返しました)",
              files.productVersion(std::wstring(TVN_SOURCE_DIR) + L"\\CMakeLists.txt", found));
    EXPECT_FALSE(found);
}

TEST(fileVersionTest, bothShippedHookLibrariesCarryTheProductVersion)
{
    for (const wchar_t* name : {L"TavolinXPDll.dll", L"TavolinMeDll.dll"}) {
        const std::wstring library = std::wstring(TVN_BIN_DIR) + L"\\" + name;
        ASSERT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(library.c_str())) << "not built: " << library;
        fileVersionProvider files;
        bool found = false;
        EXPECT_EQ(L"1.3007", files.productVersion(library, found)) << library;
        EXPECT_TRUE(found);
    }
}
