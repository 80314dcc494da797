#include "core/platform/platform.h"

#include "testTempFolder.h"

#include <gtest/gtest.h>

#include <cwctype>

namespace {

OSVERSIONINFOW versionOf(DWORD platform, DWORD major, DWORD minor)
{
    OSVERSIONINFOW v;
    ZeroMemory(&v, sizeof v);
    v.dwOSVersionInfoSize = sizeof v;
    v.dwPlatformId = platform;
    v.dwMajorVersion = major;
    v.dwMinorVersion = minor;
    return v;
}

std::wstring lower(std::wstring s)
{
    for (wchar_t& ch : s) ch = static_cast<wchar_t>(std::towlower(ch));
    return s;
}

// Sets an environment variable for the test's lifetime and restores it afterwards.
class scopedEnvironment {
public:
    scopedEnvironment(const wchar_t* name, const wchar_t* value) : m_name(name)
    {
        wchar_t old[1024];
        DWORD n = GetEnvironmentVariableW(name, old, 1024);
        m_had = n > 0 && n < 1024;
        if (m_had) m_old = old;
        SetEnvironmentVariableW(name, value);
    }
    ~scopedEnvironment() { SetEnvironmentVariableW(m_name, m_had ? m_old.c_str() : nullptr); }

private:
    const wchar_t* m_name;
    bool m_had = false;
    std::wstring m_old;
};

}  // namespace

TEST(versionTests, everyNtFromXpOnIsXpOrLater)
{
    const DWORD nt = VER_PLATFORM_WIN32_NT, win9x = VER_PLATFORM_WIN32_WINDOWS;
    struct {
        DWORD platform, major, minor;
        bool nt, w2k, xp, w9x;
    } cases[] = {
        {nt, 4, 0, true, false, false, false},    // NT 4
        {nt, 5, 0, true, true, false, false},     // 2000
        {nt, 5, 1, true, true, true, false},      // XP
        {nt, 5, 2, true, true, true, false},      // Server 2003
        {nt, 6, 0, true, true, true, false},      // Vista
        {nt, 6, 1, true, true, true, false},      // 7
        {nt, 10, 0, true, true, true, false},     // 10 and 11
        {win9x, 4, 10, false, false, false, true},  // 98
        {win9x, 4, 90, false, false, false, true},  // Me
        {0, 0, 0, false, false, false, false},    // the record of a failed query
    };
    for (const auto& c : cases) {
        OSVERSIONINFOW v = versionOf(c.platform, c.major, c.minor);
        SCOPED_TRACE(std::to_string(c.platform) + ":" + std::to_string(c.major) + "." + std::to_string(c.minor));
        EXPECT_EQ(isWinNT(v), c.nt);
        EXPECT_EQ(isWin2000OrLater(v), c.w2k);
        EXPECT_EQ(isWinXPOrLater(v), c.xp);
        EXPECT_EQ(isWin9x(v), c.w9x);
    }
    // Under Wine the program sees an NT system.
    EXPECT_TRUE(isWinNT());
    EXPECT_TRUE(isWinXPOrLater());
    EXPECT_FALSE(isWin9x());
}

TEST(relativePath, onlyPathsBelowTheBase)
{
    EXPECT_EQ(relativePath(L"C:\\prog", L"C:\\prog\\data\\a.tvn_kana"), L"data\\a.tvn_kana");
    EXPECT_EQ(relativePath(L"C:\\prog", L"C:\\prog"), L"");
    EXPECT_EQ(relativePath(L"C:\\prog", L"C:\\program\\x"), L"C:\\program\\x");
    EXPECT_EQ(relativePath(L"C:\\prog", L"D:\\C:\\prog\\x"), L"D:\\C:\\prog\\x");
    EXPECT_EQ(relativePath(L"C:\\Prog", L"C:\\prog\\x"), L"C:\\prog\\x");
}

TEST(joinPath, rootedOrDriveNamesStandAlone)
{
    EXPECT_EQ(joinPath(L"C:\\prog", L"data\\x"), L"C:\\prog\\data\\x");
    EXPECT_EQ(joinPath(L"C:\\prog\\", L"data\\x"), L"C:\\prog\\data\\x");
    EXPECT_EQ(joinPath(L"C:\\prog", L"D:x"), L"D:x");
    EXPECT_EQ(joinPath(L"C:\\prog", L"\\x"), L"\\x");
    EXPECT_EQ(joinPath(L"", L"data\\x"), L"data\\x");
    EXPECT_EQ(joinPath(L"C:\\prog", L""), L"C:\\prog");
}

TEST(directoryOf, textBeforeTheLastBackslash)
{
    EXPECT_EQ(directoryOf(L"C:\\a\\b.txt"), L"C:\\a");
    EXPECT_EQ(directoryOf(L"C:\\"), L"C:");
    EXPECT_EQ(directoryOf(L"b.txt"), L"");
    EXPECT_EQ(directoryOf(L"C:\\ソ\\設定.ini"), L"C:\\ソ");
}

TEST(fileNameOf, filePartOfTheFullPath)
{
    EXPECT_EQ(fileNameOf(L"C:\\a\\b.txt"), L"b.txt");
    EXPECT_EQ(fileNameOf(L"C:\\a\\..\\c.ini"), L"c.ini");
    EXPECT_EQ(fileNameOf(L"C:\\a\\"), L"");
    EXPECT_EQ(fileNameOf(L"C:\\" + std::wstring(300, L'x')), L"");
}

TEST(escapeForFileName, specialCharactersBecomeDecimalCodes)
{
    EXPECT_EQ(escapeForFileName(L"Taro Yamada 山田1"), L"Taro Yamada 山田1");
    EXPECT_EQ(escapeForFileName(L"a:b%"), L"a%58b%37");
    EXPECT_EQ(escapeForFileName(L"\\/:,;*?\"<>|%"), L"%92%47%58%44%59%42%63%34%60%62%124%37");
}

TEST(createDirectoryRecursive, createsMissingParents)
{
    testTempFolder folder;
    const std::wstring deep = folder.file(L"a\\b\\c");
    EXPECT_TRUE(createDirectoryRecursive(deep, false));
    EXPECT_TRUE(testTempFolder::exists(deep));
    EXPECT_TRUE(createDirectoryRecursive(deep, false));

    EXPECT_TRUE(createDirectoryRecursive(folder.file(L"x\\y\\settings.ini"), true));
    EXPECT_TRUE(testTempFolder::exists(folder.file(L"x\\y")));
    EXPECT_FALSE(testTempFolder::exists(folder.file(L"x\\y\\settings.ini")));

    // A trailing backslash still succeeds once its parents had to be made.
    EXPECT_TRUE(createDirectoryRecursive(folder.file(L"p\\q\\"), false));
    EXPECT_TRUE(testTempFolder::exists(folder.file(L"p\\q")));

    EXPECT_FALSE(createDirectoryRecursive(L"", false));
    EXPECT_FALSE(createDirectoryRecursive(L"noFolder.ini", true));
}

TEST(createDirectoryRecursive, aFileInTheWayIsAFailure)
{
    testTempFolder folder;
    testTempFolder::writeBytes(folder.file(L"taken"), "x");
    EXPECT_FALSE(createDirectoryRecursive(folder.file(L"taken"), false));
    EXPECT_FALSE(createDirectoryRecursive(folder.file(L"taken\\sub"), false));
}

TEST(programPath, longPathOfThisProgram)
{
    std::wstring path = programPath();
    ASSERT_FALSE(path.empty());
    EXPECT_EQ(lower(fileNameOf(path)), L"core_platformtest.exe");
    EXPECT_EQ(lower(directoryOf(path)), lower(TVN_TEST_BIN_DIR));
}

TEST(userIniPath, createsTheFileInTheFolder)
{
    testTempFolder folder;
    wchar_t name[257];
    DWORD size = 257;
    ASSERT_TRUE(GetUserNameW(name, &size));
    const std::wstring expected = folder.file(L"tvn-" + escapeForFileName(name) + L".ini");
    EXPECT_EQ(userIniPath(L"tvn-", folder.path()), expected);
    EXPECT_TRUE(testTempFolder::exists(expected));
    EXPECT_EQ(testTempFolder::readBytes(expected), "");
}

TEST(userIniPath, fallsBackToTheHomeFolderWithItsDrive)
{
    testTempFolder folder;
    scopedEnvironment drive(L"HOMEDRIVE", L"Q:");
    scopedEnvironment home(L"HOMEPATH", L"\\Users\\taro");
    std::wstring path = userIniPath(L"tvn-", folder.file(L"missing"));
    EXPECT_EQ(path.substr(0, 15), L"Q:\\Users\\taro\\t");
    EXPECT_EQ(directoryOf(path), L"Q:\\Users\\taro");
    EXPECT_FALSE(testTempFolder::exists(folder.file(L"missing")));
}
